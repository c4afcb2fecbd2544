// One station at a time collects a point: its lease in the server, and the
// unconfirmed-delete entries every station shares there.
#include "collect/LeaseKeeper.h"

#include "collect/PointLease.h"
#include "collect/PointRun.h"
#include "collect/RunJournal.h"

LeaseKeeper::LeaseKeeper(PointRun& run) : m_run(run) {}

LeaseKeeper::~LeaseKeeper() = default;

PointLeases* LeaseKeeper::leases() {
    if (!m_run.serverOn())
        return nullptr; // no shared place: each station is on its own
    if (!m_leases)
        m_leases =
            std::make_unique<PointLeases>(m_run.setup().serverAlias, m_station = stationId());
    return m_leases.get();
}

bool LeaseKeeper::take(const QString& IP, const QString& Desc, QString& lease) {
    lease.clear();
    PointLeases* all = leases();
    if (!all)
        return true;
    const QString key = PointLeases::leaseKey(IP);
    std::optional<PointLease> holder;
    try {
        holder = all->take(key);
    } catch (const std::exception& error) {
        m_run.setup().report.memoAppend(QStringLiteral("   ") + Desc +
                                        QStringLiteral("... FALLO\r\n"));
        m_run.reportProblem(QStringLiteral("ERROR: ") + QString::fromUtf8(error.what()));
        m_run.pointFailed(QStringLiteral("no se puede tomar el turno del punto en el servidor"));
        return false;
    }
    if (holder) {
        m_run.setup().report.memoAppend(QStringLiteral("   ") + Desc +
                                        QStringLiteral("... lo descarga otra estación\r\n"));
        m_run.reportProblem(QStringLiteral("FTP: %1 (%2) lo descarga otra estación (%3, desde %4)")
                                .arg(IP, Desc, holder->host, holder->since));
        PointOutcome& outcome = m_run.outcome();
        outcome = PointOutcome{true, false,
                               QStringLiteral("lo descarga otra estación (%1)").arg(holder->host)};
        outcome.elsewhere = true;
        return false;
    }
    lease = key;
    return true;
}

// Right before the delete the lease says which run it guards (whoever
// releases it by hand is told). A lease another station took over meanwhile,
// or one that cannot be confirmed, gives the run up: nothing is deleted or
// stored, and the point keeps its records.
bool LeaseKeeper::stillOurs() {
    const RunRecord run = m_run.state().run;
    if (run.lease.isEmpty() || !leases())
        return true;
    QString why;
    try {
        if (leases()->noteRun(run.lease, run.runId, run.toStore(), run.point))
            return true;
        why = QStringLiteral("otra estación tomó el turno del punto");
    } catch (const std::exception& error) {
        why = QString::fromUtf8(error.what());
    }
    m_run.giveUpRun();
    m_run.pointFailed(why);
    m_run.setup().report.memoAppend(QStringLiteral(" FALLO\r\n"));
    m_run.reportProblem(QStringLiteral("ERROR: %1 (Loc: %2); no se almacena nada y el punto "
                                       "conserva sus registros.")
                            .arg(why, run.loc));
    return false;
}

// The point's entry goes to the server with the lease (address empty: the
// server's entry stays as it is). A lease that cannot be released now is
// released at the next visit of a point.
void LeaseKeeper::release(const QString& lease, const QString& address) {
    if (lease.isEmpty() || !leases())
        return;
    const RunState& state = m_run.state();
    std::optional<PendingDelete> entry;
    if (!address.isEmpty() && state.pending.contains(address))
        entry = state.pending.value(address);
    try {
        leases()->release(lease, address, entry);
    } catch (const std::exception& error) {
        m_tidied = false;
        m_run.reportProblem(QStringLiteral("AVISO: no se pudo liberar el turno del punto %1 (%2); "
                                           "se libera más adelante.")
                                .arg(lease, QString::fromUtf8(error.what())));
    }
}

// Leases this station kept from an earlier process (a crash, a release that
// failed) are let go, with their entries, unless they guard the unfinished run.
void LeaseKeeper::tidy() {
    if (m_tidied || !leases())
        return;
    m_tidied = true;
    QList<PointLease> held;
    try {
        held = leases()->held();
    } catch (const std::exception& error) {
        m_tidied = false;
        m_run.reportProblem(QStringLiteral("AVISO: ") + QString::fromUtf8(error.what()));
        return;
    }
    const RunState& state = m_run.state();
    for (const PointLease& lease : std::as_const(held))
        if (!state.unfinished || lease.point != state.run.lease)
            release(lease.point, lease.address);
}

// What the point may still hold that some station stored: this station's
// own entry, and the one the server keeps (another station's, when it
// collected the point last). Only an entry whose bytes the fetched file
// begins with counts: the same address at another site is another terminal.
QList<PendingDelete> LeaseKeeper::priorEntries(const QString& point) {
    QList<PendingDelete> entries;
    const RunState& state = m_run.state();
    if (state.pending.contains(point))
        entries << state.pending.value(point);
    if (!leases())
        return entries;
    const std::optional<SharedPending> shared = leases()->pending(point);
    if (shared && shared->station != m_station)
        entries << shared->entry;
    return entries;
}

// A run counts once it is journaled: here, or in the server by any station.
bool LeaseKeeper::journalHolds(const QString& runId) {
    const PointSetup& m = m_run.setup();
    return RunJournal::holds(m.localAlias, false, runId, RunJournal::kLocalStore) ||
           (m_run.serverOn() &&
            RunJournal::holds(m.serverAlias, true, runId, RunJournal::kServerStore));
}
