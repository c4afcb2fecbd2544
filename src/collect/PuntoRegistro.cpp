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

// Until the run has finished, the point has failed; an error that escapes
// leaves it so.
void PuntoRegistro::markUnfinished() {
    m_run.outcome() = PointOutcome{true, false, QStringLiteral("la descarga no terminó")};
}

// The visit's checks before any fetch; false when the point is not fetched
// in this visit (its outcome says why, or says nothing for a recovery).
bool PuntoRegistro::beginVisit(const QString& Desc, CycleOutput& output) {
    markUnfinished();
    m_unreached.clear();
    if (!tablesAccessible()) {
        m.report.statusText(kNoAccess);
        m_run.pointFailed(QStringLiteral("no se puede tener acceso a la base de datos"));
        return false;
    }
    if (!loadState(Desc)) {
        m_run.pointFailed(QStringLiteral("no se puede leer el estado de recuperación"));
        return false;
    }
    m_run.leases().tidy();
    m_recovery.reportSideFiles(output);
    m_recovery.adoptKeyRun(output);
    if (m_run.state().unfinished) {
        // The interrupted run may be another point's: this visit says nothing
        // about this point's health.
        m_run.outcome() = PointOutcome{};
        m_recovery.recoverRun(output);
        return false;
    }
    return true;
}

void PuntoRegistro::Descargar(const QString& IP, const QString& Desc, const QString& Loc,
                              CycleOutput& output) {
    if (!beginVisit(Desc, output))
        return;
    QString lease;
    if (!m_run.leases().take(IP, Desc, lease))
        return;
    storeRun(lease, Loc, [&] {
        auto out = m_fetch.descargarArchivos(IP, Desc, Loc, lease, output);
        if (m_fetch.unreached())
            m_unreached = IP;
        return out;
    });
}

bool PuntoRegistro::beginFetch(const QString& IP, const QString& Desc, CycleOutput& output,
                               QString& lease) {
    return beginVisit(Desc, output) && m_run.leases().take(IP, Desc, lease);
}

void PuntoRegistro::storeFetched(const QString& IP, const QString& Loc, const QString& lease,
                                 CycleOutput& output, const FetchedFiles& files, PointLink& link) {
    markUnfinished();
    if (!storePendingRun(lease, output))
        return;
    storeRun(lease, Loc, [&] { return m_fetch.adoptFetched(IP, Loc, lease, output, files, link); });
}

// A run whose storing failed after this point's fetch began holds the local
// copies in the working directory: it is stored before they are replaced.
// False when it stays unfinished; this point then keeps its records.
bool PuntoRegistro::storePendingRun(const QString& lease, CycleOutput& output) {
    if (!m_run.state().unfinished)
        return true;
    try {
        m_recovery.recoverRun(output);
    } catch (...) {
        m_run.leases().release(lease, QString());
        throw;
    }
    if (!m_run.state().unfinished) {
        markUnfinished();
        return true;
    }
    m_run.leases().release(lease, QString());
    m.report.memoAppend(QStringLiteral(" FALLO\r\n"));
    m_run.pointFailed(QStringLiteral("una descarga anterior sigue sin almacenar"));
    return false;
}

// The fetch's output file, or none when nothing is to be stored: the lease
// goes unless a run holds it.
template <typename Fetch>
void PuntoRegistro::storeRun(const QString& lease, const QString& Loc, Fetch&& fetch) {
    LeaseKeeper& leases = m_run.leases();
    std::unique_ptr<RunOutput> out;
    try {
        out = fetch();
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
    // With other points waiting, a point the fetch could not reach is not
    // kept waiting on a second connection: it gets its lists at its next
    // successful visit.
    const bool skip = m_unreached == IP && m_run.pointsAtOnce() > 1;
    m_unreached.clear();
    if (skip)
        m_push.skip(Desc, Loc);
    else
        m_push.push(IP, Desc, Loc);
}

std::optional<ParamBatch> PuntoRegistro::paramBatch() {
    const std::optional<QByteArray> message = m_push.message();
    if (!message)
        return std::nullopt;
    return ParamBatch{*message, m.sock.TimeOut};
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
