// One station at a time collects a point: its lease in the server, and the
// unconfirmed-delete entries every station shares there.
#include "collect/PuntoRegistro.h"

#include "collect/PointLease.h"
#include "collect/RunJournal.h"

PointLeases* PuntoRegistro::leases() {
    if (!serverOn())
        return nullptr; // no shared place: each station is on its own
    if (!m_leases)
        m_leases = std::make_unique<PointLeases>(m.serverAlias, m_station = stationId());
    return m_leases.get();
}

// False when the point is not visited now: another station collects it, or
// the lease cannot be taken (both reported).
bool PuntoRegistro::takeLease(const QString& IP, const QString& Desc, QString& lease) {
    lease.clear();
    PointLeases* all = leases();
    if (!all)
        return true;
    const QString key = PointLeases::leaseKey(IP);
    std::optional<PointLease> holder;
    try {
        holder = all->take(key);
    } catch (const std::exception& error) {
        m.report.memoAppend(QStringLiteral("   ") + Desc + QStringLiteral("... FALLO\r\n"));
        reportProblem(QStringLiteral("ERROR: ") + QString::fromUtf8(error.what()));
        pointFailed(QStringLiteral("no se puede tomar el turno del punto en el servidor"));
        return false;
    }
    if (holder) {
        m.report.memoAppend(QStringLiteral("   ") + Desc +
                            QStringLiteral("... lo descarga otra estación\r\n"));
        reportProblem(QStringLiteral("FTP: %1 (%2) lo descarga otra estación (%3, desde %4)")
                          .arg(IP, Desc, holder->host, holder->since));
        m_outcome = PointOutcome{
            true, false, QStringLiteral("lo descarga otra estación (%1)").arg(holder->host)};
        m_outcome.elsewhere = true;
        return false;
    }
    lease = key;
    return true;
}

// Right before the delete the lease says which run it guards (whoever
// releases it by hand is told). A lease another station took over meanwhile,
// or one that cannot be confirmed, gives the run up: nothing is deleted or
// stored, and the point keeps its records.
bool PuntoRegistro::leaseStillOurs() {
    const RunRecord& run = m_state.run;
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
    giveUpRun();
    pointFailed(why);
    m.report.memoAppend(QStringLiteral(" FALLO\r\n"));
    reportProblem(QStringLiteral("ERROR: %1 (Loc: %2); no se almacena nada y el punto conserva "
                                 "sus registros.")
                      .arg(why, run.loc));
    return false;
}

// The point's entry goes to the server with the lease (address empty: the
// server's entry stays as it is). A lease that cannot be released now is
// released at the next visit of a point.
void PuntoRegistro::releaseLease(const QString& lease, const QString& address) {
    if (lease.isEmpty() || !leases())
        return;
    std::optional<PendingDelete> entry;
    if (!address.isEmpty() && m_state.pending.contains(address))
        entry = m_state.pending.value(address);
    try {
        leases()->release(lease, address, entry);
    } catch (const std::exception& error) {
        m_leasesTidied = false;
        reportProblem(QStringLiteral("AVISO: no se pudo liberar el turno del punto %1 (%2); se "
                                     "libera más adelante.")
                          .arg(lease, QString::fromUtf8(error.what())));
    }
}

// Leases this station kept from an earlier process (a crash, a release that
// failed) are let go, with their entries, unless they guard the unfinished run.
void PuntoRegistro::tidyLeases() {
    if (m_leasesTidied || !leases())
        return;
    m_leasesTidied = true;
    QList<PointLease> held;
    try {
        held = leases()->held();
    } catch (const std::exception& error) {
        m_leasesTidied = false;
        reportProblem(QStringLiteral("AVISO: ") + QString::fromUtf8(error.what()));
        return;
    }
    for (const PointLease& lease : std::as_const(held))
        if (!m_state.unfinished || lease.point != m_state.run.lease)
            releaseLease(lease.point, lease.address);
}

// What the point may still hold that some station stored: this station's
// own entry, and the one the server keeps (another station's, when it
// collected the point last). Only an entry whose bytes the fetched file
// begins with counts: the same address at another site is another terminal.
QList<PendingDelete> PuntoRegistro::priorEntries(const QString& point) {
    QList<PendingDelete> entries;
    if (m_state.pending.contains(point))
        entries << m_state.pending.value(point);
    if (!leases())
        return entries;
    const std::optional<SharedPending> shared = leases()->pending(point);
    if (shared && shared->station != m_station)
        entries << shared->entry;
    return entries;
}

// A run counts once it is journaled: here, or in the server by any station.
bool PuntoRegistro::journalHolds(const QString& runId) {
    return RunJournal::holds(m.localAlias, false, runId, RunJournal::kLocalStore) ||
           (serverOn() && RunJournal::holds(m.serverAlias, true, runId, RunJournal::kServerStore));
}
