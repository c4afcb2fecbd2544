#pragma once

#include <QList>
#include <QString>
#include <memory>

class PointLeases;
class PointRun;
struct PendingDelete;

// One station at a time collects a point: this station's leases of the points
// in the server (PointLeases), and the unconfirmed-delete entries every
// station shares there. Without a server each station is on its own, and
// every lease is granted.
class LeaseKeeper {
public:
    explicit LeaseKeeper(PointRun& run);
    ~LeaseKeeper();
    LeaseKeeper(const LeaseKeeper&) = delete;
    LeaseKeeper& operator=(const LeaseKeeper&) = delete;

    // False when the point is not visited now: another station collects it,
    // or the lease cannot be taken (both reported, and the outcome says so).
    // lease: the lease taken; empty without a server.
    bool take(const QString& IP, const QString& Desc, QString& lease);
    // Right before the delete: whether the run's lease is still this
    // station's. A lease lost gives the run up (reported).
    bool stillOurs();
    // The point's entry goes to the server with the lease (address empty: the
    // server's entry stays as it is).
    void release(const QString& lease, const QString& address);
    // Leases this station kept from an earlier process are let go, once.
    void tidy();
    // What the point may still hold that some station stored.
    QList<PendingDelete> priorEntries(const QString& point);
    // Whether a run is journaled here, or in the server by any station.
    bool journalHolds(const QString& runId);

private:
    PointLeases* leases();

    PointRun& m_run;
    std::unique_ptr<PointLeases> m_leases;
    QString m_station;     // this station's identity among those sharing the server
    bool m_tidied = false; // this station's leases left by an earlier process
};
