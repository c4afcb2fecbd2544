// The storing run: each record once in lectura, lecturaBAK, the server table
// and the output file, whatever instant the run is cut short.
#include "collect/PuntoRegistro.h"

#include "collect/RunJournal.h"
#include "collect/RunOutput.h"
#include "collect/TicketStatements.h"
#include "platform/Clock.h"
#include "platform/Regional.h"
#include "store/OffLoop.h"

#include <QFile>

namespace {

// "regOrf.txt" only has to exist afterwards; nothing is written to it.
void touchOrf() {
    QFile orf(kOrfFile);
    if (!orf.open(QIODevice::Append | QIODevice::WriteOnly))
        throw Exception(
            QStringLiteral("Cannot open file \"%1\". %2").arg(kOrfFile, orf.errorString()));
}

} // namespace

void PuntoRegistro::procesarDescarga(const QString& Loc, bool recoveryRun, int count) {
    const RunRecord run = m_state.run;
    std::unique_ptr<RunOutput> out = recoveryRun ? nullptr : std::move(m_out);
    if (!out)
        out = std::make_unique<RunOutput>(run.outputPath, run.outputStart);
    touchOrf();
    const QChar decimal = formatSettings().decimalSeparator;
    QList<qint32> badCards;
    // A full point takes about a second to store: its own thread does it,
    // while this one goes on serving the window, the watchdog and the socket.
    runOffTheEventLoop([&] { badCards = storeRun(Loc, count, decimal, *out); });
    for (const qint32 codigo : std::as_const(badCards))
        m.report.logRow(QStringLiteral("AVISO: la TARJETA de CODIGO %1 no es un número entero de "
                                       "32 bits; se almacena 0.")
                            .arg(codigo));
    finishRun(Loc, count, recoveryRun);
}

// The storing run proper, on the storing thread: it touches no report
// channel, only the databases, the run's files and the output file. Returns
// the codes whose card was stored as 0.
QList<qint32> PuntoRegistro::storeRun(const QString& Loc, int count, QChar decimal,
                                      RunOutput& out) {
    const RunRecord& run = m_state.run;
    RecordReader reader(run.recordFile());
    RunStores stores;
    stores.local = !RunJournal::holds(m.localAlias, false, run.runId, RunJournal::kLocalStore);
    stores.server =
        serverOn() && !RunJournal::holds(m.serverAlias, true, run.runId, RunJournal::kServerStore);
    // Both aliases may name one database: then one transaction holds both.
    stores.oneDatabase = m.serverAlias == m.localAlias;
    StoreTransaction local(m.localAlias), server(m.serverAlias);
    if (stores.local || (stores.oneDatabase && stores.server))
        local.begin();
    if (stores.server && !stores.oneDatabase)
        server.begin();
    TicketStatements statements(m.localAlias, stores.server ? m.serverAlias : QString());
    const int stored = storeRecords(reader, count, Loc, decimal, stores, statements, out);
    commitRun(Loc, stored, stores, local, server);
    out.finish();
    step("output-written");
    return statements.badCards();
}

// Reads at most count whole records; those of the saved skip were stored by
// an earlier run. Each goes to the stores still to be written and to the
// output. A file that ends early was reported when it was fetched.
int PuntoRegistro::storeRecords(RecordReader& reader, int count, const QString& Loc, QChar decimal,
                                const RunStores& stores, TicketStatements& statements,
                                RunOutput& out) {
    int stored = 0;
    for (int i = 0; i < count; ++i) {
        RegistroTicket r;
        if (reader.leerRegistro(r) != RecordReader::Result::Record)
            break;
        if (i < m_state.run.skip)
            continue;
        step("record", i);
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
void PuntoRegistro::commitRun(const QString& Loc, int stored, const RunStores& stores,
                              StoreTransaction& local, StoreTransaction& server) {
    const QString& runId = m_state.run.runId;
    step("before-commits");
    if (stores.local) {
        RunJournal::append(m.localAlias, false, runId, RunJournal::kLocalStore, Loc, stored);
        if (!stores.oneDatabase)
            local.commit();
    }
    step("between-commits");
    if (stores.server) {
        RunJournal::append(m.serverAlias, true, runId, RunJournal::kServerStore, Loc, stored);
        if (!stores.oneDatabase)
            server.commit();
    }
    if (local.active())
        local.commit();
    step("after-commits");
}

void PuntoRegistro::finishRun(const QString& Loc, int count, bool recoveryRun) {
    const RunRecord& run = m_state.run;
    m.report.memoAppend(QStringLiteral(" %1 registro(s).\r\n").arg(count));
    if (!recoveryRun)
        m_outcome = PointOutcome{true, true, {}, count};
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
    step("before-clear");
    // The run's values stay: without the flag they mean nothing.
    m_state.unfinished = false;
    if (!run.sideFor.isEmpty())
        m_state.sideFiles << SideFile{run.outputPath, run.sideFor};
    try {
        saveState();
    } catch (...) {
        // The disk still holds the run: so does the memory, and the next call
        // repeats the (now idempotent) recovery instead of fetching new files
        // that the saved run would later take for its own.
        m_state.unfinished = true;
        if (!run.sideFor.isEmpty())
            m_state.sideFiles.removeLast();
        throw;
    }
}
