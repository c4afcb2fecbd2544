#pragma once

#include "collect/Cycles.h"
#include "collect/HealthSettings.h"
#include "collect/PointHealth.h"
#include "collect/PuntoRegistro.h"
#include "collect/StationSettingsStore.h"
#include "net/FtpClient.h"
#include "net/TcpSock.h"
#include "service/AlertSender.h"
#include "service/ControlSocket.h"
#include "service/JournalReport.h"
#include "store/DataSet.h"
#include "store/Session.h"

#include <QDateTime>
#include <QObject>
#include <QTimer>
#include <memory>

// The station without a window: the same point's work and cycles as the
// window, on the same files (registry, alias configuration, working
// directory), reporting to the journal.
class StationService : public QObject {
public:
    StationService();
    ~StationService() override;

    // Aliases, login lines, settings, the server test and the run journals.
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

private:
    bool loadSettings();
    void loadHealthSettings();
    void startHealth();
    QByteArray pointsText() const;
    void applyTriggers();
    bool cycleEnded() const;
    void waitForCycleEnd();
    void waitForAlerts();
    void onSignal(int signal);
    void followLine(const QString& line);
    QByteArray command(const QByteArray& line);
    QByteArray stateText() const;
    QByteArray unfinishedText();

    // What --status says: the cycle in progress and the last one.
    struct CycleState {
        QString current; // the memo line of the point in hand
        QDateTime lastStart, lastEnd;
        QString lastResult;
    };

    TSession m_session;
    TDatabase m_server{m_session};
    TTable m_log, m_points, m_tickets;
    TFtpClient m_ftp;
    TTcpSock m_sock;
    JournalReport m_report{m_log};
    QString m_localAlias, m_serverAlias;
    StationSettingsStore m_settings;
    std::unique_ptr<CycleControls> m_controls;
    // No window to repaint between points: the steps follow each other at once.
    OwnedCycleTimers m_timers{60, 10};
    std::unique_ptr<PuntoRegistro> m_work;
    std::unique_ptr<CollectionCycles> m_cycles;
    std::unique_ptr<HealthKeeper> m_health;
    AlertSender m_alerts{m_report, this};
    QTimer m_watchdog;
    QTimer m_stopPoll; // after SIGTERM: ends the service once the cycle has
    CycleState m_state;
    ControlSocket m_control{[this](const QByteArray& line) { return command(line); }};
    bool m_stopping = false;
};
