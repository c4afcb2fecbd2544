#pragma once

#include "collect/Cycles.h"
#include "collect/PointWork.h"

#include <QDate>
#include <QDateTime>
#include <QJsonArray>
#include <QList>
#include <QMap>
#include <QString>
#include <functional>

class QueuedWriter;
class StationReport;

// What a point's health settings are: when it counts as down, and whether
// dead points are tried less often and transient failures once more.
struct HealthPolicy {
    int alertFailures = 3;   // failures in a row that raise the alert
    int alertHours = 24;     // hours without a success that raise it
    bool backOff = false;    // a down point is tried every 2nd, 4th, 8th ... cycle
    bool retry = false;      // a reset or time-out is tried once more at the end of the cycle
    int alertKeptVisits = 5; // visits in a row without a delete that raise an alert
};

// The longest a backed-off point waits for its next try.
constexpr int kMaxBackOffSeconds = 3600;

// One point's health as the station keeps it (OwnTables::kHealth of the local
// database), keyed by its address text.
struct HealthRow {
    QString ip, loc, desc;
    QDateTime lastAttempt, lastSuccess, lastFailure, failingSince;
    QString failureText;
    int failuresInRow = 0;
    int recordsLast = 0;
    int recordsToday = 0;
    QDate day; // the day recordsToday counts
    bool alerted = false;
    int skippedCycles = 0; // cycles passed over since the last try (back-off)
    int keptVisits = 0;    // visits in a row that fetched records and sent no delete
    QString otherStation;  // set while another station collects the point
};

// A change of a point's state worth telling someone: down (an alert) or up
// (the recovery notice).
struct HealthAlert {
    bool down = true;
    QString ip, desc, loc;
    QString reason;
};

// One row of the health window and of "--status --points": a point of the
// points table with its health.
struct PointHealthView {
    enum class State { Ok, Failing, Down, Inactive, Unknown };
    QString ip, desc, loc;
    bool active = true;
    State state = State::Unknown;
    QDateTime lastAttempt, lastSuccess, lastFailure;
    QDateTime failingSince; // the first failure of the current run of failures
    QString failureText;
    int failuresInRow = 0;
    int recordsLast = 0;
    int recordsToday = 0;
    QString nextTry; // empty unless the point is backed off
    int keptVisits = 0;
    QString otherStation;
};

// The health table of the local database and the decisions made from it: the
// one place where the window and the service record a point's outcome, raise
// its alerts and decide whether a cycle tries it. Every write goes to the
// table as it changes, so the state survives restarts.
class HealthKeeper : public CycleObserver {
public:
    HealthKeeper(QString localAlias, StationReport& report);

    void setPolicy(const HealthPolicy& policy) { m_policy = policy; }
    // Rows go to the table through the writer, off the event loop; without
    // one each is written at once. The writer must tell its failures while
    // the keeper lives (flush it before the keeper goes).
    void setWriter(QueuedWriter* writer) { m_writer = writer; }
    const HealthPolicy& policy() const { return m_policy; }

    // Reads the table (added by the local schema steps). Rows that make no
    // sense are reported and start afresh; never raises.
    void load();
    // Whether this cycle tries the point. everyPoint: a cycle started by hand.
    // A point passed over counts the cycle.
    bool due(const QString& ip, bool everyPoint);
    // The outcome of a point's fetch, store and push.
    void record(const QString& ip, const QString& desc, const QString& loc,
                const PointOutcome& outcome);
    void pointVisited(const PointVisit& visit) override {
        record(visit.ip, visit.desc, visit.loc, visit.outcome);
    }

    QList<HealthRow> rows() const { return m_rows.values(); }
    // The points of the table (IP, Desc, Loc, Activo) joined with their health.
    QList<PointHealthView> view(const QList<PointHealthView>& points) const;
    // The points table of the local alias, as view() takes it.
    static QList<PointHealthView> readPoints(const QString& localAlias);

    // Called once per alert or recovery notice, after its log row.
    std::function<void(const HealthAlert&)> onAlert;
    // Called whenever a row has changed.
    std::function<void()> onChanged;

private:
    void raiseIfCrossed(HealthRow& row);
    void notify(HealthRow& row, bool down, const QString& reason);
    void countKeptVisit(HealthRow& row, const PointOutcome& outcome);
    void save(const HealthRow& row);
    void saveFailed(const QString& ip, const QString& error);
    void reportProblem(const QString& text) noexcept;
    int backOffCycles(const HealthRow& row) const;
    QString nextTryText(const HealthRow& row) const;

    QString m_alias;
    StationReport& m_report;
    HealthPolicy m_policy;
    QMap<QString, HealthRow> m_rows;
    QueuedWriter* m_writer = nullptr;
};

// The view rows as JSON for monitoring scripts and the service's socket, and back.
QJsonArray healthToJson(const QList<PointHealthView>& rows);
QList<PointHealthView> healthFromJson(const QJsonArray& array);
// The Spanish word of a state ("correcto", "fallando", "caído", "inactivo", "sin datos").
QString stateWord(PointHealthView::State state);
// The same table as text for a person.
QString healthText(const QList<PointHealthView>& rows);
