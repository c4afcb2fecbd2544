// Recovery of an interrupted run, the run an older station left flagged in
// the settings key, and output lines kept aside.
#include "collect/RunRecovery.h"

#include "collect/RunOutput.h"
#include "collect/StoringRun.h"
#include "platform/DiskSync.h"
#include "platform/Errors.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUuid>

namespace {

QString shortId(const QString& runId) {
    return runId.left(8);
}

bool writable(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadWrite | QIODevice::ExistingOnly);
}

bool writableFolder(const QString& folder) {
    const QFileInfo info(folder);
    return info.isDir() && info.isWritable();
}

// What the run's own output file holds past where the run began; nothing
// when it cannot be read.
QByteArray heldBy(const QString& path, qint64 start) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || !file.seek(start))
        return {};
    return file.readAll();
}

QString ticketsText(int tickets) {
    return tickets < 0 ? QStringLiteral("un número desconocido de tickets")
                       : QStringLiteral("%1 ticket(s)").arg(tickets);
}

} // namespace

RunRecovery::RunRecovery(PointRun& run, StoringRun& store)
    : m_run(run), m_store(store), m(run.setup()), m_state(run.state()) {}

void RunRecovery::recoverRun(CycleOutput& output) {
    const RunRecord& run = m_state.run;
    m.report.logRow(QStringLiteral("Recuperando registros de anterior descarga FTP (Loc: ") +
                    run.loc + QStringLiteral(")..."));
    m.report.memoAppend(QStringLiteral("   Recuperando registros de anterior descarga..."));
    m.report.statusText(QStringLiteral("Recuperando registros de anterior descarga FTP..."));
    if (!QFileInfo(run.workDir).isDir()) {
        // A folder out of reach (a share, a removable disk) may come back:
        // nothing is fetched meanwhile, so no local copy is overwritten.
        m.report.memoAppend(QStringLiteral(" FALLO\r\n"));
        m_run.reportProblem(
            QStringLiteral("ERROR: los archivos de la descarga sin terminar (Loc: %1) "
                           "están en %2, que no se encuentra.")
                .arg(run.loc, run.workDir));
        return;
    }
    if (runFilesDiffer(run)) {
        setAsideRun();
        return;
    }
    if (const QStringList missing = missingRunFiles(run); !missing.isEmpty()) {
        // An empty mount point of a share not yet mounted looks like this:
        // the copies may come back, and nothing is fetched meanwhile.
        m.report.memoAppend(QStringLiteral(" FALLO\r\n"));
        m_run.reportProblem(
            QStringLiteral("ERROR: faltan los archivos locales de la descarga sin "
                           "terminar (Loc: %1, descarga %2): %3. No se descarga ningún "
                           "punto hasta que vuelvan o se abandone la descarga (%4).")
                .arg(run.loc, shortId(run.runId), missing.join(QStringLiteral(", ")),
                     ticketsText(ticketsOfRun(run))));
        return;
    }
    std::unique_ptr<RunOutput> out = chooseRecoveryOutput(output);
    m_store.procesarDescarga(run.loc, true, std::move(out));
}

// Files that are not the run's own are never stored: they are renamed for
// the operator to look at, and the run is given up.
void RunRecovery::setAsideRun() {
    const RunRecord run = m_state.run;
    const QString suffix = QStringLiteral(".apartado-") + shortId(run.runId);
    QStringList kept;
    for (const QString& file : {run.countFile(), run.recordFile()}) {
        if (!QFile::exists(file))
            continue;
        QFile::remove(file + suffix);
        kept << (QFile::rename(file, file + suffix) ? file + suffix : file);
    }
    m_run.giveUpRun();
    m.report.memoAppend(QStringLiteral(" FALLO\r\n"));
    m_run.reportProblem(
        QStringLiteral("ERROR: los archivos locales no son los de la descarga sin "
                       "terminar (Loc: %1); no se almacenan. Archivos: %2")
            .arg(run.loc, kept.isEmpty() ? QStringLiteral("ninguno") : kept.join(", ")));
    nameGivenUpLines(run);
}

QString abandonQuestion(const UnfinishedRun& run) {
    return QStringLiteral("¿Abandonar la descarga sin terminar (Loc: %1, descarga %2)? Sus %3 no "
                          "se almacenarán en ninguna tabla ni en el archivo de salida.")
        .arg(run.loc, shortId(run.runId), ticketsText(run.tickets));
}

std::optional<UnfinishedRun> RunRecovery::unfinishedRun() {
    m_run.loadState();
    if (!m_state.unfinished)
        return std::nullopt;
    return UnfinishedRun{m_state.run.runId, m_state.run.loc, ticketsOfRun(m_state.run)};
}

QString RunRecovery::abandonRun(const QString& runId) {
    m_run.loadState();
    const RunRecord run = m_state.run;
    if (!m_state.unfinished || runId.size() < 8 || !run.runId.startsWith(runId))
        throw Exception(
            QStringLiteral("No hay ninguna descarga sin terminar con el identificador %1")
                .arg(runId));
    const int tickets = ticketsOfRun(run);
    m_run.giveUpRun();
    const QString text = QStringLiteral("AVISO: descarga sin terminar abandonada por el operador "
                                        "(Loc: %1, descarga %2): %3 no se almacenan.")
                             .arg(run.loc, shortId(run.runId), ticketsText(tickets));
    m_run.reportProblem(text);
    nameGivenUpLines(run);
    return text;
}

// Tickets a run has to store; -1 when neither its state nor its files tell.
int RunRecovery::ticketsOfRun(const RunRecord& run) const {
    if (run.records >= 0)
        return run.toStore();
    if (!runFilesMatch(run))
        return -1;
    const int count = leerCantidad(run.countFile());
    const qint64 whole = QFile(run.recordFile()).size() / kRecordSize;
    return std::max(0, int(std::min<qint64>(count, whole)) - run.skip);
}

// Lines a given-up run wrote before it was cut short stay in its output file
// (they may already be in someone's hands): the log says which they are.
void RunRecovery::nameGivenUpLines(const RunRecord& run) {
    const QString path = run.intendedOutput();
    const QString now = fileIdentity(path);
    if (now.isEmpty() || (!run.outputFile.isEmpty() && now != run.outputFile))
        return;
    const qint64 start = run.outputStart;
    if (QFileInfo(path).size() <= start)
        return;
    m_run.reportProblem(
        QStringLiteral("AVISO: las líneas de %1 desde el byte %2 son de la descarga "
                       "no almacenada (Loc: %3, descarga %4): sus tickets no están en "
                       "las tablas.")
            .arg(path)
            .arg(start)
            .arg(run.loc, shortId(run.runId)));
}

// Where a recovery writes its lines: the run's own output file while the
// path still names it and it can be written (cut back to where the run
// began); the cycle's file when the run's is gone or was replaced (and said
// so: the lines written before the cut are in the moved file); else a side
// file in the working directory, holding only the lines that the run's
// file lacks, reported until the operator moves them.
std::unique_ptr<RunOutput> RunRecovery::chooseRecoveryOutput(CycleOutput& output) {
    const RunState before = m_state;
    const bool emptiedBefore = output.emptied;
    RunRecord& run = m_state.run;
    const QString now = fileIdentity(run.outputPath);
    const bool same = !now.isEmpty() && (run.outputFile.isEmpty() || now == run.outputFile);
    const QFileInfo file(run.outputPath);
    if (run.sideFor.isEmpty() && same && writable(run.outputPath)) {
        if (run.outputPath == QFileInfo(output.path).absoluteFilePath())
            recoverIntoCycleOutput(output);
    } else if (run.sideFor.isEmpty() && !same && writableFolder(file.absolutePath())) {
        if (!run.outputFile.isEmpty())
            m_run.reportProblem(
                QStringLiteral("AVISO: el archivo de salida %1 de la descarga "
                               "interrumpida (Loc: %2) fue movido o reemplazado: las "
                               "líneas que alcanzó a escribir desde el byte %3 quedaron "
                               "en el archivo movido y se escriben de nuevo en %4.")
                    .arg(run.outputPath, run.loc)
                    .arg(run.outputStart)
                    .arg(QFileInfo(output.path).absoluteFilePath()));
        setRunOutput(run, output);
    } else if (run.sideFor.isEmpty()) {
        // run.outputFile and outputStart go on naming the run's own file
        run.sideFor = run.outputPath;
        run.outputPath =
            QDir(run.workDir)
                .absoluteFilePath(QStringLiteral("salida-%1.txt").arg(shortId(run.runId)));
    }
    try {
        auto out = std::make_unique<RunOutput>(run.outputPath, run.writeStart());
        if (run.sideFor.isEmpty()) {
            run.outputFile = out->identity();
        } else if (const QString intended = fileIdentity(run.sideFor);
                   !intended.isEmpty() &&
                   (run.outputFile.isEmpty() || intended == run.outputFile)) {
            out->leaveOut(heldBy(run.sideFor, run.outputStart));
        }
        m_run.saveStateOrRevert(before, output, emptiedBefore);
        return out;
    } catch (...) {
        m_state = before;
        output.emptied = emptiedBefore;
        throw;
    }
}

// The recovered lines go to the file this cycle writes. A cycle that empties
// it and has not yet done so empties it now, before them; either way the
// cycle must not empty the recovered lines again.
void RunRecovery::recoverIntoCycleOutput(CycleOutput& output) {
    if (output.overwrite && !output.emptied) {
        m_state.run.outputStart = 0;
        m_state.run.appendMark = false;
    }
    output.emptied = true;
}

void RunRecovery::reportSideFiles(CycleOutput& output) {
    if (output.sideFilesReported)
        return;
    output.sideFilesReported = true;
    QList<SideFile> waiting;
    for (const SideFile& side : std::as_const(m_state.sideFiles)) {
        if (!QFile::exists(side.path))
            continue; // moved: the operator has dealt with it
        waiting << side;
        m.report.memoAppend(
            QStringLiteral("   Líneas de salida pendientes en %1\r\n").arg(side.path));
        m_run.reportProblem(
            QStringLiteral("AVISO: las líneas de salida de una descarga recuperada están "
                           "en %1 y no en %2: muévalas.")
                .arg(side.path, side.intended));
    }
    if (waiting.size() == m_state.sideFiles.size())
        return;
    const QList<SideFile> before = m_state.sideFiles;
    m_state.sideFiles = waiting;
    try {
        m_run.saveState();
    } catch (const Exception&) {
        m_state.sideFiles = before; // reported again next cycle
    }
}

// A run an older station flagged in the settings key becomes this station's
// own, on the local copies as they are; then the key's flag is cleared. A
// station that keeps its own state never takes a flag from the key: it came
// with settings merged from another station, whose files are not these.
void RunRecovery::adoptKeyRun(CycleOutput& output) {
    if (!m.keyRun)
        return;
    const StationSettings key = m.keyRun();
    if (!key.holdsRecoveryState())
        return;
    if (m_state.existedOnDisk()) {
        if (key.fFTPerr)
            m_run.reportProblem(
                QStringLiteral("AVISO: la configuración indica una descarga sin "
                               "terminar (Loc: %1) que no es de esta estación; no se "
                               "recupera.")
                    .arg(key.FTPloc));
        m.clearKeyRun();
        return;
    }
    const RunState before = m_state;
    const bool emptiedBefore = output.emptied;
    for (auto it = key.recovery.pending.cbegin(); it != key.recovery.pending.cend(); ++it)
        m_state.pending.insert(it.key(), it.value());
    if (key.fFTPerr && QFile::exists(kCountFile)) {
        RunRecord run;
        run.workDir = QDir::currentPath();
        run.countSha256 = fileSha256(kCountFile);
        run.recordSha256 = fileSha256(kRecordFile);
        const RecoveryExtra& old = key.recovery;
        if (old.runId.isEmpty()) { // a flag saved before runs had an identity
            run.runId = QUuid::createUuid().toString(QUuid::WithoutBraces);
            run.loc = key.FTPloc;
            setRunOutput(run, output);
        } else {
            run.runId = old.runId;
            run.loc = old.loc;
            run.outputPath = QFileInfo(old.outputPath).absoluteFilePath();
            run.outputStart = old.outputStart;
            run.appendMark = old.appendMark;
            run.skip = old.skip;
        }
        m_state.run = run;
        m_state.unfinished = true;
    } else if (key.fFTPerr) {
        m_run.reportProblem(
            QStringLiteral("AVISO: la configuración indica una descarga sin terminar "
                           "(Loc: %1), pero no hay archivos locales que recuperar.")
                .arg(key.FTPloc));
    }
    m_run.saveStateOrRevert(before, output, emptiedBefore);
    m.clearKeyRun();
}
