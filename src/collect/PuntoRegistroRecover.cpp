// Recovery of an interrupted run, the run an older station left flagged in
// the settings key, and output lines kept aside.
#include "collect/PuntoRegistro.h"

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

} // namespace

void PuntoRegistro::recoverRun(CycleOutput& output) {
    const RunRecord& run = m_state.run;
    m.report.logRow(QStringLiteral("Recuperando registros de anterior descarga FTP (Loc: ") +
                    run.loc + QStringLiteral(")..."));
    m.report.memoAppend(QStringLiteral("   Recuperando registros de anterior descarga..."));
    m.report.statusText(QStringLiteral("Recuperando registros de anterior descarga FTP..."));
    if (!QFileInfo(run.workDir).isDir()) {
        // A folder out of reach (a share, a removable disk) may come back:
        // nothing is fetched meanwhile, so no local copy is overwritten.
        m.report.memoAppend(QStringLiteral(" FALLO\r\n"));
        reportProblem(QStringLiteral("ERROR: los archivos de la descarga sin terminar (Loc: %1) "
                                     "están en %2, que no se encuentra.")
                          .arg(run.loc, run.workDir));
        return;
    }
    if (!runFilesMatch()) {
        setAsideRun();
        return;
    }
    chooseRecoveryOutput(output);
    procesarDescarga(run.loc, true, leerCantidad(run.countFile()));
}

bool PuntoRegistro::runFilesMatch() const {
    const RunRecord& run = m_state.run;
    return QFile::exists(run.countFile()) && fileSha256(run.countFile()) == run.countSha256 &&
           (run.recordSha256.isEmpty() || fileSha256(run.recordFile()) == run.recordSha256);
}

// Files that are not the run's own are never stored: they are renamed for
// the operator to look at, and the run is given up.
void PuntoRegistro::setAsideRun() {
    const RunRecord run = m_state.run;
    const QString suffix = QStringLiteral(".apartado-") + shortId(run.runId);
    QStringList kept;
    for (const QString& file : {run.countFile(), run.recordFile()}) {
        if (!QFile::exists(file))
            continue;
        QFile::remove(file + suffix);
        kept << (QFile::rename(file, file + suffix) ? file + suffix : file);
    }
    giveUpRun();
    m.report.memoAppend(QStringLiteral(" FALLO\r\n"));
    reportProblem(QStringLiteral("ERROR: los archivos locales no son los de la descarga sin "
                                 "terminar (Loc: %1); no se almacenan. Archivos: %2")
                      .arg(run.loc, kept.isEmpty() ? QStringLiteral("ninguno") : kept.join(", ")));
}

// The run's own output file when it can take the lines; the cycle's file when
// the run's was never created; else a side file in the working directory,
// reported until the operator moves its lines.
void PuntoRegistro::chooseRecoveryOutput(CycleOutput& output) {
    RunRecord& run = m_state.run;
    if (run.outputPath == QFileInfo(output.path).absoluteFilePath()) {
        recoverIntoCycleOutput(output);
        return;
    }
    const QFileInfo file(run.outputPath);
    if (file.exists() && writable(run.outputPath))
        return;
    const RunState before = m_state;
    const bool emptiedBefore = output.emptied;
    if (!file.exists() && file.dir().exists()) {
        setRunOutput(run, output);
    } else {
        run.sideFor = run.sideFor.isEmpty() ? run.outputPath : run.sideFor;
        run.outputPath = QDir::current().absoluteFilePath(
            QStringLiteral("salida-%1.txt").arg(shortId(run.runId)));
        run.outputStart = 0;
        run.appendMark = false;
    }
    saveStateOrRevert(before, output, emptiedBefore);
}

// The recovered lines go to the file this cycle writes. A cycle that empties
// it and has not yet done so empties it now, before them; either way the
// cycle must not empty the recovered lines again.
void PuntoRegistro::recoverIntoCycleOutput(CycleOutput& output) {
    if (output.overwrite && !output.emptied) {
        const RunState before = m_state;
        m_state.run.outputStart = 0;
        m_state.run.appendMark = false;
        // a recovery cut short must cut back to the same length
        saveStateOrRevert(before, output, false);
    }
    output.emptied = true;
}

void PuntoRegistro::reportSideFiles(CycleOutput& output) {
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
        reportProblem(QStringLiteral("AVISO: las líneas de salida de una descarga recuperada están "
                                     "en %1 y no en %2: muévalas.")
                          .arg(side.path, side.intended));
    }
    if (waiting.size() == m_state.sideFiles.size())
        return;
    const QList<SideFile> before = m_state.sideFiles;
    m_state.sideFiles = waiting;
    try {
        saveState();
    } catch (const Exception&) {
        m_state.sideFiles = before; // reported again next cycle
    }
}

// A run an older station flagged in the settings key becomes this station's
// own, on the local copies as they are; then the key's flag is cleared. A
// station that keeps its own state never takes a flag from the key: it came
// with settings merged from another station, whose files are not these.
void PuntoRegistro::adoptKeyRun(CycleOutput& output) {
    if (!m.keyRun)
        return;
    const StationSettings key = m.keyRun();
    if (!key.holdsRecoveryState())
        return;
    if (m_state.existedOnDisk()) {
        if (key.fFTPerr)
            reportProblem(QStringLiteral("AVISO: la configuración indica una descarga sin "
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
        reportProblem(QStringLiteral("AVISO: la configuración indica una descarga sin terminar "
                                     "(Loc: %1), pero no hay archivos locales que recuperar.")
                          .arg(key.FTPloc));
    }
    saveStateOrRevert(before, output, emptiedBefore);
    m.clearKeyRun();
}
