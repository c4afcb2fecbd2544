#pragma once

#include "collect/StationCore.h"
#include "service/AlertSender.h"
#include "service/ControlSocket.h"
#include "service/JournalReport.h"
#include "web/MetricsEndpoint.h"
#include "web/WebSite.h"

#include <QDateTime>
#include <QObject>
#include <QTimer>

// kivo-ipd's face on a station core: the journal, the control socket and its
// followers, systemd's notifications, the signals, and the alerts sent out.
// The core is the same as the window's, on the same files (registry, alias
// configuration, working directory, state folder).
class StationService : public QObject {
public:
    StationService();
    ~StationService() override;

    // Aliases, login lines, settings, the server test and the databases.
    // False when the station cannot start; the reason is on standard error.
    bool start();
    // One download cycle (with the push), or the push alone, now. 0 when every
    // active point succeeded, 1 when any failed.
    int runOnce(bool syncOnly);
    // The triggers of the settings, until SIGTERM or SIGINT; SIGHUP re-reads
    // the settings. 0 once stopped.
    int run();

    // What the operator's commands answer: "ok <text>" or "error: <text>".
    QByteArray abandon(const QString& runId);
    QByteArray leasesText();
    QByteArray releaseLeases(const QString& station);
    // The station behind this face (benchmarks reach its clients through it).
    StationCore& core() { return m_core; }

private:
    QString settingsProblem() const;
    bool loadSettings();
    void loadHealthSettings();
    void applyTriggers();
    bool cycleEnded() const;
    void waitForCycleEnd();
    void waitForAlerts();
    void onSignal(int signal);
    void stop();
    void reload();
    void followEvents();
    void broadcastEvent(const QByteArray& kind, const QJsonObject& event);
    QByteArray command(const QByteArray& line);
    QByteArray startManual(const QByteArray& json);
    QByteArray stateText() const;
    QByteArray pointsText();
    QByteArray unfinishedText();

    // What --status says, kept from the core's events.
    struct CycleState {
        QString current; // the point in hand
        QDateTime lastStart, lastEnd;
        QString lastResult;
        int failures = 0; // points that failed and errors, in the cycle in hand
        CycleKind kind = CycleKind::Download;
    };

    StationCore m_core;
    ServiceJournal m_journal{m_core};
    AlertSender m_alerts{m_core, this};
    MetricsEndpoint m_metrics{m_core, m_core, [this] { return m_core.health().rows(); }};
    WebSite m_web{m_core, [this] { return m_core.points(); }, journalLine};
    QTimer m_watchdog;
    QTimer m_stopPoll; // after SIGTERM: ends the service once the cycle has
    CycleState m_state;
    ControlSocket m_control{[this](const QByteArray& line) { return command(line); }};
    bool m_stopping = false;
};
