#include "web/StationMetrics.h"

#include "collect/StationControl.h"
#include "platform/Clock.h"

#include <QMutexLocker>
#include <algorithm>

namespace {

// Bucket bounds in seconds: a visit is a fetch, a storing run and a push (a
// dead point costs its time-outs); a cycle visits every point.
const QList<double> kVisitBounds{0.1, 0.25, 0.5, 1, 2.5, 5, 10, 30, 60, 120, 300};
const QList<double> kCycleBounds{1, 5, 10, 30, 60, 120, 300, 600, 1800, 3600};
const QList<double> kStoringBounds{0.01, 0.05, 0.1, 0.25, 0.5, 1, 2.5, 5, 10, 30};

double secondsOf(const QElapsedTimer& clock) {
    return clock.isValid() ? double(clock.nsecsElapsed()) / 1e9 : 0;
}

MetricsSnapshot emptyState() {
    MetricsSnapshot state;
    state.download.seconds = state.sync.seconds = Histogram(kCycleBounds);
    state.storingSeconds = Histogram(kStoringBounds);
    state.started = currentDateTime();
    return state;
}

} // namespace

Histogram::Histogram(QList<double> upperBounds)
    : bounds(std::move(upperBounds)), counts(bounds.size() + 1, 0) {}

void Histogram::observe(double value) {
    const auto bucket = std::lower_bound(bounds.cbegin(), bounds.cend(), value) - bounds.cbegin();
    ++counts[bucket];
    sum += value;
    ++count;
}

StationMetrics::StationMetrics(StationControl& station,
                               std::function<QList<HealthRow>()> healthRows)
    : m_healthRows(std::move(healthRows)), m_state(emptyState()) {
    connect(&station, &StationControl::cycleStarted, this,
            [this](CycleKind kind) { cycleStarted(kind); });
    connect(&station, &StationControl::pointStarted, this,
            [this](const PointVisit& point) { m_visits[point.ip].start(); });
    connect(&station, &StationControl::pointVisited, this,
            [this](const PointVisit& visit) { pointVisited(visit); });
    // In a download cycle a push that failed fails its point's visit.
    connect(&station, &StationControl::listsPushed, this,
            [this](const ListsPush& push) { m_failures += !push.ok && m_kind == CycleKind::Sync; });
    connect(&station, &StationControl::errorShown, this,
            [this] { m_failures += m_cycle.isValid(); });
    connect(&station, &StationControl::cycleEnded, this,
            [this](CycleKind kind, bool cancelled) { cycleEnded(kind, cancelled); });
    connect(&station, &StationControl::storingRunEnded, this,
            [this](const StoringRunTime& run) { storingRunEnded(run); });
    connect(&station, &StationControl::healthChanged, this, [this] { readHealth(); });
    readHealth();
}

MetricsSnapshot StationMetrics::snapshot() const {
    const QMutexLocker lock(&m_mutex);
    return m_state;
}

PointMetrics& StationMetrics::point(const QString& ip, const QString& desc, const QString& loc) {
    PointMetrics& p = m_state.points[ip];
    if (p.ip.isEmpty())
        p.visitSeconds = Histogram(kVisitBounds);
    p.ip = ip;
    p.desc = desc;
    p.loc = loc;
    return p;
}

void StationMetrics::cycleStarted(CycleKind kind) {
    m_kind = kind;
    m_failures = 0;
    m_cycle.start();
    const QMutexLocker lock(&m_mutex);
    m_state.cycleRunning = true;
}

void StationMetrics::pointVisited(const PointVisit& visit) {
    m_failures += !visit.outcome.ok && !visit.outcome.elsewhere;
    const double seconds = secondsOf(m_visits.value(visit.ip));
    m_visits.remove(visit.ip);
    const QMutexLocker lock(&m_mutex);
    PointMetrics& p = point(visit.ip, visit.desc, visit.loc);
    p.recordsStored += quint64(std::max(0, visit.outcome.records));
    p.visitSeconds.observe(seconds);
}

void StationMetrics::cycleEnded(CycleKind kind, bool cancelled) {
    const double seconds = secondsOf(m_cycle);
    m_cycle.invalidate();
    m_visits.clear();
    const QMutexLocker lock(&m_mutex);
    CycleMetrics& c = kind == CycleKind::Download ? m_state.download : m_state.sync;
    ++(cancelled ? c.cancelled : m_failures ? c.failed : c.ok);
    c.seconds.observe(seconds);
    c.lastSeconds = seconds;
    c.lastEnd = currentDateTime();
    c.lastFailures = m_failures;
    m_state.cycleRunning = false;
}

void StationMetrics::storingRunEnded(const StoringRunTime& run) {
    const QMutexLocker lock(&m_mutex);
    m_state.storingSeconds.observe(run.seconds);
    m_state.storingFailed += !run.ok;
}

// The health table says what survives a restart: the times, the failures in a
// row, whether the point is down, today's records.
void StationMetrics::readHealth() {
    const QList<HealthRow> rows = m_healthRows ? m_healthRows() : QList<HealthRow>();
    const QMutexLocker lock(&m_mutex);
    for (const HealthRow& row : rows) {
        PointMetrics& p = point(row.ip, row.desc, row.loc);
        p.lastSuccess = row.lastSuccess;
        p.lastFailure = row.lastFailure;
        p.failuresInRow = row.failuresInRow;
        p.down = row.alerted;
        p.recordsToday = row.day == currentDateTime().date() ? row.recordsToday : 0;
    }
}
