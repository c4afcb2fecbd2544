// One point's visit: the tables and the recovery state checked, then a run
// left unfinished recovered, or the point fetched and its run stored.
#include "collect/PuntoRegistro.h"

#include "collect/RunOutput.h"
#include "store/Aliases.h"
#include "store/SchemaSteps.h"

PuntoRegistro::PuntoRegistro(PointSetup setup)
    : m_run(std::move(setup)), m(m_run.setup()), m_fetch(m_run), m_store(m_run),
      m_recovery(m_run, m_store), m_push(m_run) {}

bool PuntoRegistro::serverOn() const {
    return m.serverAlias != kNoServerAlias;
}

bool PuntoRegistro::ftpConnected() const {
    return m.ftp.Connected();
}

void PuntoRegistro::closeFtp() {
    m.ftp.Disconnect();
    m.ftp.CloseSocket();
}

// The project's own tables (the journals, the health, the leases) by their
// schema steps; a database they cannot be brought to raises.
void PuntoRegistro::ensureJournals() {
    SchemaSteps::applyTo(m.localAlias, AliasKind::Local);
    if (serverOn())
        SchemaSteps::applyTo(m.serverAlias, AliasKind::Server);
}

const RunState& PuntoRegistro::state() {
    return m_run.loadState();
}

// Opens and closes the four tables; the journals are added where missing.
bool PuntoRegistro::tablesAccessible() {
    try {
        PointTables& t = m_run.tables();
        QList<TDataSet*> tables{&t.tLectura, &t.tLecturaBAK};
        if (serverOn())
            tables << &t.torRegAsist;
        tables << &t.tLog;
        for (TDataSet* table : tables)
            table->Open();
        for (TDataSet* table : tables)
            table->Close();
        ensureJournals();
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

void PuntoRegistro::Descargar(const QString& IP, const QString& Desc, const QString& Loc,
                              CycleOutput& output) {
    // Until the run has finished, the point has failed; an error that escapes
    // leaves it so.
    m_run.outcome() = PointOutcome{true, false, QStringLiteral("la descarga no terminó")};
    if (!tablesAccessible()) {
        m.report.statusText(kNoAccess);
        m_run.pointFailed(QStringLiteral("no se puede tener acceso a la base de datos"));
        return;
    }
    if (!loadState(Desc)) {
        m_run.pointFailed(QStringLiteral("no se puede leer el estado de recuperación"));
        return;
    }
    LeaseKeeper& leases = m_run.leases();
    leases.tidy();
    m_recovery.reportSideFiles(output);
    m_recovery.adoptKeyRun(output);
    if (m_run.state().unfinished) {
        // The interrupted run may be another point's: this visit says nothing
        // about this point's health.
        m_run.outcome() = PointOutcome{};
        m_recovery.recoverRun(output);
        return;
    }
    QString lease;
    if (!leases.take(IP, Desc, lease))
        return;
    std::unique_ptr<RunOutput> out;
    try {
        out = m_fetch.descargarArchivos(IP, Desc, Loc, lease, output);
    } catch (...) {
        if (!m_run.state().unfinished)
            leases.release(lease, QString());
        throw;
    }
    if (!out) {
        if (!m_run.state().unfinished)
            leases.release(lease, QString());
        return;
    }
    m_store.procesarDescarga(Loc, false, std::move(out));
}

void PuntoRegistro::sincronizarPar(const QString& IP, const QString& Desc, const QString& Loc) {
    m_push.push(IP, Desc, Loc);
}

// A state that cannot be read stops every fetch: its run's local copies may be
// the only copy of their records. Tried again at each visit.
bool PuntoRegistro::loadState(const QString& Desc) {
    if (m_run.stateLoaded())
        return true;
    try {
        m_run.loadState();
        return true;
    } catch (const Exception& error) {
        m.report.memoAppend(QStringLiteral("   ") + Desc + QStringLiteral("... FALLO\r\n"));
        m_run.reportProblem(QStringLiteral("ERROR: ") + error.message());
        return false;
    }
}
