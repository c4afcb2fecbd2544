#pragma once

#include "collect/SettingsCodec.h"

#include <QList>
#include <QString>
#include <optional>

// This station's identity among the stations that share a server: a name
// made once and kept in the state folder, so that it survives restarts and
// a station that comes back knows its own leases.
QString stationId();
// The state folder's file that holds it.
QString stationIdPath();

// One point's lease: the station collecting it now, and its run once the
// records are fetched (run id and the records it must store).
struct PointLease {
    QString point;   // the point's address as listed, in one form ("127.0.2.1")
    QString station; // stationId() of the holder
    QString host;    // the holder's machine, for a person
    QString since;   // ISO date-time
    QString runId;   // empty until the run is saved
    int records = 0; // the run's records still to store
    QString address; // the point as its connection saw it, once fetched
};

// An unconfirmed-delete entry as the server keeps it for every station.
struct SharedPending {
    PendingDelete entry;
    QString station; // who recorded it
};

// The leases and unconfirmed-delete entries of the points, in tables of the
// project's own in the server (OwnTables::kLeases and kPending, owner dbo,
// added by the server's schema steps), in plain SQL. One station collects a point at a time: a
// station takes the lease before it fetches and keeps it until the point's run is finished, also
// across a crash; and every station sees which records a point may still hold that another one
// stored.
class PointLeases {
public:
    PointLeases(QString serverAlias, QString station);

    // The form of an address that the lease goes by: "127.0.2.01" and
    // "127.0.2.1" are one point.
    static QString leaseKey(const QString& address);

    // Takes the point's lease for this station (already its own: kept; one
    // that guards no run and is older than kStaleLeaseSeconds: taken over).
    // Returns the holder when another station has it. Raises on a database
    // error.
    std::optional<PointLease> take(const QString& point);
    // The run that the lease now guards, for whoever must release it by
    // hand. False when this station no longer holds the lease: it must then
    // delete and store nothing. Raises on a database error.
    bool noteRun(const QString& point, const QString& runId, int records, const QString& address);
    // Records the point's unconfirmed-delete entry (none: it holds nothing
    // stored) under address (empty: the server's entry stays as it is), and
    // lets the lease go: one transaction. A lease an operator gave back
    // meanwhile leaves another station's entry in place (it may be newer).
    // Raises on a database error; the lease then stays.
    void release(const QString& point, const QString& address,
                 const std::optional<PendingDelete>& entry);
    // The entry the server keeps for the address.
    std::optional<SharedPending> pending(const QString& address);

    // Every lease, and this station's own.
    QList<PointLease> all();
    QList<PointLease> held();
    // The leases of a station (its id, or the start of it, or its machine
    // name) given back by an operator; the ones given back.
    QList<PointLease> releaseStation(const QString& who);

    // A lease guarding no run is taken over after this long.
    static constexpr int kStaleLeaseSeconds = 15 * 60;

private:
    QString table(const QString& own) const;
    bool takeOver(const PointLease& holder);

    QString m_alias;
    QString m_station;
};

// What an operator is told of a lease given back: the point, its holder,
// and the records that may be only in that station's local copies.
QString leaseReleaseText(const PointLease& lease, bool runStoredInServer);
