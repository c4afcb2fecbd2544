// The storing run: each record once in lectura, lecturaBAK, the server table
// and the output file, whatever instant the run is cut short.
#include "collect/PuntoRegistro.h"

#include "collect/RunJournal.h"
#include "collect/RunOutput.h"
#include "collect/TicketStatements.h"
#include "platform/Clock.h"
#include "platform/Regional.h"

#include <QFile>

namespace {

// "regOrf.txt" only has to exist afterwards; nothing is written to it.
void touchOrf() {
    QFile orf(kOrfFile);
    if (!orf.open(QIODevice::Append | QIODevice::WriteOnly))
        throw Exception(
            QStringLiteral("Cannot open file \"%1\". %2").arg(kOrfFile, orf.errorString()));
}

// A record file that ends inside a record is kept for inspection, beside the
// one that the next fetch replaces. Answers what became of it, for the report.
QString keepBrokenFile(const QString& runId, bool exists) {
    if (!exists)
        return QStringLiteral("; no hay archivo local");
    const QString kept = kRecordFile + QStringLiteral(".incompleto-") + runId.left(8);
    QFile::remove(kept);
    if (!QFile::copy(kRecordFile, kept))
        return QStringLiteral("; no se pudo guardar como ") + kept;
    return QStringLiteral("; guardado como ") + kept;
}

} // namespace

void PuntoRegistro::procesarDescarga(const QString& Loc, bool recoveryRun) {
    const RecoveryExtra run = m.recovery;
    const int count = leerCantidad(kCountFile);
    RunOutput out(run.outputPath, run.outputStart);
    touchOrf();
    RecordReader reader(kRecordFile);

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
    const StoredRecords done = storeRecords(reader, count, Loc, stores, statements, out);
    commitRun(Loc, done.stored, stores, local, server);
    out.finish();
    step("output-written");
    if (done.brokenTail)
        reportBrokenTail(Loc, keepBrokenFile(run.runId, reader.exists()));
    finishRun(Loc, count, recoveryRun);
}

// Reads at most count records; those of the saved skip were stored by an
// earlier run. Each goes to the stores still to be written and to the output.
PuntoRegistro::StoredRecords
PuntoRegistro::storeRecords(RecordReader& reader, int count, const QString& Loc,
                            const RunStores& stores, TicketStatements& statements, RunOutput& out) {
    const QChar decimal = formatSettings().decimalSeparator;
    StoredRecords done;
    for (int i = 0; i < count; ++i) {
        RegistroTicket r;
        const auto result = reader.leerRegistro(r);
        if (result != RecordReader::Result::Record) {
            done.brokenTail = result == RecordReader::Result::BrokenTail || !reader.exists();
            break;
        }
        if (i < m.recovery.skip)
            continue;
        step("record", i);
        if (stores.local)
            statements.storeLocal(r, Loc);
        const Person person = statements.lookUp(r.Codigo);
        if (stores.server)
            statements.storeServer(r, person, Loc);
        out.writeLine(outputLine(Loc, r, person, decimal));
        ++done.stored;
    }
    return done;
}

// Each database's rows commit with its journal row.
void PuntoRegistro::commitRun(const QString& Loc, int stored, const RunStores& stores,
                              StoreTransaction& local, StoreTransaction& server) {
    const QString& runId = m.recovery.runId;
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

void PuntoRegistro::reportBrokenTail(const QString& Loc, const QString& fate) {
    const QString text =
        QStringLiteral("ERROR: archivo de registros incompleto (Loc: %1)").arg(Loc) + fate;
    m.report.memoAppend(QStringLiteral(" [registro incompleto]"));
    m.report.statusText(text);
    m.report.logRow(text);
}

void PuntoRegistro::finishRun(const QString& Loc, int count, bool recoveryRun) {
    m.report.memoAppend(QStringLiteral(" %1 registro(s).\r\n").arg(count));
    QString archivo = Loc + QStringLiteral(": ") + m.recovery.outputPath;
    if (m.recovery.appendMark)
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
    // The run's values stay: without the flag they mean nothing, and a save
    // cut short before the flag is cleared still finds its own run.
    m.fFTPerr = false;
    try {
        m.guardarParam();
    } catch (...) {
        // The disk still holds the run: so does the memory, and the next call
        // repeats the (now idempotent) recovery instead of fetching new files
        // that the saved run would later take for its own.
        m.fFTPerr = true;
        throw;
    }
}
