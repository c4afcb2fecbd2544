#pragma once

#include "collect/PointHealth.h"
#include "collect/StationEvents.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QMap>
#include <QMutex>
#include <QObject>
#include <functional>

class StationControl;

// Counts of observations in buckets, as a monitoring system's histogram has
// them: each bucket counts what is at most its bound, and the last one (no
// bound) the rest.
struct Histogram {
    QList<double> bounds;  // ascending
    QList<quint64> counts; // one per bound, and one for the rest; not cumulative
    double sum = 0;
    quint64 count = 0;

    explicit Histogram(QList<double> upperBounds = {});
    void observe(double value);
};

// One point as the metrics tell it: its health (kept by the health table,
// which survives restarts) and what this process saw of its visits.
struct PointMetrics {
    QString ip, desc, loc;
    QDateTime lastSuccess, lastFailure; // invalid: never
    int failuresInRow = 0;
    bool down = false; // alerted and not recovered
    int recordsToday = 0;
    quint64 recordsStored = 0; // by the visits this process made
    Histogram visitSeconds;
};

// The cycles of one kind (download or synchronisation).
struct CycleMetrics {
    quint64 ok = 0, failed = 0, cancelled = 0;
    Histogram seconds;
    double lastSeconds = 0;
    QDateTime lastEnd; // invalid: none yet
    int lastFailures = 0;
};

// Everything at one instant; copied whole (its containers are shared until
// written, so a copy costs next to nothing).
struct MetricsSnapshot {
    QMap<QString, PointMetrics> points; // by address
    CycleMetrics download, sync;
    bool cycleRunning = false;
    Histogram storingSeconds;
    quint64 storingFailed = 0;
    QDateTime started; // when the process began to count
};

// The numbers behind /metrics, kept from a station's typed events on the event
// loop's thread and read whole, under a lock held only to copy, by the HTTP
// server's threads. Per point: the health table's times, failures in a row and
// state, the records stored and each visit's duration (from its pointStarted
// to its pointVisited); per cycle its duration and result; each storing run's
// duration.
class StationMetrics : public QObject {
public:
    // healthRows: the station's health table as it stands (read on the loop).
    StationMetrics(StationControl& station, std::function<QList<HealthRow>()> healthRows);

    // Any thread.
    MetricsSnapshot snapshot() const;

private:
    void cycleStarted(CycleKind kind);
    void pointVisited(const PointVisit& visit);
    void cycleEnded(CycleKind kind, bool cancelled);
    void storingRunEnded(const StoringRunTime& run);
    void readHealth();
    PointMetrics& point(const QString& ip, const QString& desc, const QString& loc);

    std::function<QList<HealthRow>()> m_healthRows;
    mutable QMutex m_mutex; // guards m_state only
    MetricsSnapshot m_state;
    // The event loop's own.
    QHash<QString, QElapsedTimer> m_visits; // since each point's pointStarted
    QElapsedTimer m_cycle;
    CycleKind m_kind = CycleKind::Download;
    int m_failures = 0; // in the cycle in hand
};
