// The storing run: each record once in lectura, lecturaBAK, the server table
// and the output file, whatever instant the run is cut short.
#include "collect/StoringRun.h"

#include "collect/RunJournal.h"
#include "collect/RunOutput.h"
#include "collect/TicketStatements.h"
#include "platform/Clock.h"
#include "platform/Regional.h"
#include "store/OffLoop.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>

namespace {

// "regOrf.txt" only has to exist afterwards; nothing is written to it.
QByteArray wholeFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw Exception(
            QStringLiteral("Cannot open file \"%1\". %2").arg(path, file.errorString()));
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw Exception(
            QStringLiteral("Cannot read file \"%1\". %2").arg(path, file.errorString()));
    return bytes;
}

void touchOrf() {
    QFile orf(kOrfFile);
    if (!orf.open(QIODevice::Append | QIODevice::WriteOnly))
        throw Exception(
            QStringLiteral("Cannot open file \"%1\". %2").arg(kOrfFile, orf.errorString()));
}

} // namespace

StoringRun::StoringRun(PointRun& run)
    : m_run(run), m(run.setup()), m_state(run.state()), m_outcome(run.outcome()) {}

void StoringRun::procesarDescarga(const QString& Loc, bool recoveryRun,
                                  std::unique_ptr<RunOutput> output) {
    RunOutput& out = *output;
    touchOrf();
    const QChar decimal = formatSettings().decimalSeparator;
    StoredRun stored;
    // A full point takes about a second to store: its own thread does it,
    // while this one goes on serving the window, the watchdog and the socket.
    runOffTheEventLoop([&] { stored = storeRun(Loc, decimal, out); });
    output.reset();
    for (const qint32 codigo : std::as_const(stored.badCards))
        m.report.logRow(QStringLiteral("AVISO: la TARJETA de CODIGO %1 no es un número entero de "
                                       "32 bits; se almacena 0.")
                            .arg(codigo));
    finishRun(Loc, stored, recoveryRun);
}

// The storing run proper, on the storing thread: it touches no report
// channel, only the databases, the run's files and the output file. The
// local copies are read once, and stored only when they are still the bytes
// the run's state names: another process writing the same folder, or a disk
// that changed them, stores nothing.
StoringRun::StoredRun StoringRun::storeRun(const QString& Loc, QChar decimal, RunOutput& out) {
    const RunRecord& run = m_state.run;
    const QByteArray countBytes = wholeFile(run.countFile());
    const int count = countOf(countBytes);
    const QByteArray recordBytes = count > 0 ? wholeFile(run.recordFile()) : QByteArray();
    if (QCryptographicHash::hash(countBytes, QCryptographicHash::Sha256) != run.countSha256 ||
        (!run.recordSha256.isEmpty() &&
         QCryptographicHash::hash(recordBytes, QCryptographicHash::Sha256) != run.recordSha256))
        throw Exception(QStringLiteral("Los archivos locales de la descarga (Loc: %1) ya no son "
                                       "los que se descargaron; no se almacena nada.")
                            .arg(Loc));
    RecordReader reader(recordBytes);
    RunStores stores;
    stores.local = !RunJournal::holds(m.localAlias, false, run.runId, RunJournal::kLocalStore);
    stores.server = m_run.serverOn() &&
                    !RunJournal::holds(m.serverAlias, true, run.runId, RunJournal::kServerStore);
    // Both aliases may name one database: then one transaction holds both.
    stores.oneDatabase = m.serverAlias == m.localAlias;
    StoreTransaction local(m.localAlias), server(m.serverAlias);
    if (stores.local || (stores.oneDatabase && stores.server))
        local.begin();
    if (stores.server && !stores.oneDatabase)
        server.begin();
    TicketStatements statements(m.localAlias, stores.server ? m.serverAlias : QString());
    const int stored = storeRecords(reader, count, Loc, decimal, stores, statements, out);
    const qint64 whole = recordBytes.size() / kRecordSize;
    const int expected = std::max(0, int(std::min<qint64>(count, whole)) - run.skip);
    if (stored != expected)
        throw Exception(QStringLiteral("Se leyeron %1 de los %2 registros de la descarga (Loc: "
                                       "%3); no se almacena nada.")
                            .arg(stored)
                            .arg(expected)
                            .arg(Loc));
    commitRun(Loc, stored, stores, local, server);
    StoredRun result;
    result.count = count;
    out.finish();
    keepLinesReachable(out, result);
    m_run.step("output-written");
    result.badCards = statements.badCards();
    return result;
}

// Reads at most count whole records; those of the saved skip were stored by
// an earlier run. Each goes to the stores still to be written and to the
// output. A file that ends early was reported when it was fetched.
int StoringRun::storeRecords(RecordReader& reader, int count, const QString& Loc, QChar decimal,
                             const RunStores& stores, TicketStatements& statements,
                             RunOutput& out) {
    int stored = 0;
    for (int i = 0; i < count; ++i) {
        RegistroTicket r;
        if (reader.leerRegistro(r) != RecordReader::Result::Record)
            break;
        if (i < m_state.run.skip)
            continue;
        m_run.step("record", i);
        if (stores.local)
            statements.storeLocal(r, Loc);
        const Person person = statements.lookUp(r.Codigo);
        if (stores.server)
            statements.storeServer(r, person, Loc);
        out.writeLine(outputLine(Loc, r, person, decimal));
        ++stored;
    }
    return stored;
}

// Each database's rows commit with its journal row.
void StoringRun::commitRun(const QString& Loc, int stored, const RunStores& stores,
                           StoreTransaction& local, StoreTransaction& server) {
    const QString& runId = m_state.run.runId;
    m_run.step("before-commits");
    if (stores.local) {
        RunJournal::append(m.localAlias, false, runId, RunJournal::kLocalStore, Loc, stored);
        if (!stores.oneDatabase)
            local.commit();
    }
    m_run.step("between-commits");
    if (stores.server) {
        RunJournal::append(m.serverAlias, true, runId, RunJournal::kServerStore, Loc, stored);
        if (!stores.oneDatabase)
            server.commit();
    }
    if (local.active())
        local.commit();
    m_run.step("after-commits");
}

// The output file was moved away or its folder removed while the lines
// were written: they are written again into a side file where the station
// can reach them, and said so when the run is finished.
void StoringRun::keepLinesReachable(RunOutput& out, StoredRun& result) {
    result.heldDiffers = out.heldDiffers();
    if (out.stillAtPath())
        return;
    const RunRecord& run = m_state.run;
    result.movedTo =
        QDir(run.workDir).absoluteFilePath(QStringLiteral("salida-%1.txt").arg(run.runId.left(8)));
    out.copyTo(result.movedTo);
}

void StoringRun::finishRun(const QString& Loc, const StoredRun& stored, bool recoveryRun) {
    const int count = stored.count;
    const RunRecord before = m_state.run;
    RunRecord& run = m_state.run;
    if (!stored.movedTo.isEmpty()) {
        m_run.reportProblem(
            QStringLiteral("AVISO: el archivo de salida %1 fue movido o borrado "
                           "mientras se escribían las líneas de la descarga (Loc: %2); "
                           "se escribieron de nuevo en %3.")
                .arg(run.outputPath, Loc, stored.movedTo));
        run.sideFor = run.intendedOutput();
        run.outputPath = stored.movedTo;
    }
    if (stored.heldDiffers)
        m_run.reportProblem(
            QStringLiteral("AVISO: %1 tiene desde el byte %2 líneas que no son las de la "
                           "descarga recuperada (Loc: %3); %4 tiene todas sus líneas: "
                           "revise %1 antes de agregarlas.")
                .arg(run.sideFor)
                .arg(run.outputStart)
                .arg(Loc, run.outputPath));
    m.report.memoAppend(QStringLiteral(" %1 registro(s).\r\n").arg(count));
    if (!recoveryRun) {
        const PointOutcome fetched = m_outcome;
        m_outcome = PointOutcome{true, true, {}, count};
        m_outcome.deleted = fetched.deleted;
        m_outcome.kept = fetched.kept;
    }
    QString archivo = Loc + QStringLiteral(": ") + run.outputPath;
    if (run.appendMark)
        archivo += QLatin1Char('*');
    if (recoveryRun)
        archivo += QLatin1Char('%');
    m.report.logRow(archivo, count);
    if (recoveryRun) {
        const TDateTime now = Now();
        m.report.statusText(QStringLiteral("Registros recuperados con exito. ") + DateToStr(now) +
                            QLatin1Char(' ') + TimeToStr(now));
    }
    m_run.step("before-clear");
    // The run's values stay: without the flag they mean nothing.
    m_state.unfinished = false;
    if (!run.sideFor.isEmpty())
        m_state.sideFiles << SideFile{run.outputPath, run.sideFor};
    try {
        m_run.saveState();
    } catch (...) {
        // The disk still holds the run: so does the memory, and the next call
        // repeats the (now idempotent) recovery instead of fetching new files
        // that the saved run would later take for its own.
        m_state.unfinished = true;
        if (!run.sideFor.isEmpty())
            m_state.sideFiles.removeLast();
        run = before;
        throw;
    }
    serveTheEventLoop(); // between the state's sync and the lease's commit
    m_run.leases().release(run.lease, run.point);
}
