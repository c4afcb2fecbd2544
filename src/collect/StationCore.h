#pragma once

#include "collect/Cycles.h"
#include "collect/HealthSettings.h"
#include "collect/PointHealth.h"
#include "collect/PuntoRegistro.h"
#include "collect/StationControl.h"
#include "collect/StationSettingsStore.h"
#include "net/FtpClient.h"
#include "net/TcpSock.h"
#include "store/Aliases.h"
#include "store/DataSet.h"
#include "store/QueuedWrites.h"
#include "store/Session.h"

#include <QDate>
#include <QTimer>
#include <atomic>
#include <memory>
#include <optional>

// Everything a station is, built once and owned here: the session and its
// aliases, the server connection, the points and log tables, the FTP client
// and the socket component, the settings, the point's work, the cycles and
// the points' health. The window and kivo-ipd each hold one and add only
// their face. It reports what happens as typed events (StationControl's
// signals); the texts of the memo, the status line and the log stay the
// station's own, and the log rows are written here, once for every face:
// queued to a writer thread of the core's own with the health rows, in the
// order they were made, so that no visit's commit holds the event loop.
class StationCore : public StationControl, public StationReport {
    Q_OBJECT
public:
    // timers: the face's own six (the window's components), or none: the core
    // then owns them, and a cycle's steps follow each other with no pause.
    explicit StationCore(std::optional<CycleTimers> timers = std::nullopt);
    ~StationCore() override;

    // Start-up, one step at a time, as a face reports each failure its own
    // way; each raises with the reason.
    void declareAliases();           // "dbAlias.txt"; the session's aliases
    void loadServerLogin();          // "dbLogin.txt", written when it cannot be read
    void loadSettings(bool clamped); // the settings key (a window brings numbers in range)
    void testServer();               // the server table opens and closes
    void prepareDatabases();         // the journals and leases of the project's own
    // The health and alert settings, and the retention of old rows.
    HealthSettings loadHealthSettings(QStringList& problems);
    // Once a day, outside the cycles: log rows and run journal rows older
    // than the retention setting (none when it is 0).
    void pruneIfDue();
    // Writes every log and health row still queued, telling those that cannot
    // be written as a failed row is told; a stopping face calls it while it
    // still listens (the core's destructor does it too).
    void finishWrites();
    // The cycles read what they start with from controls (the window's
    // widgets); by default from the settings.
    void setCycleControls(std::unique_ptr<CycleControls> controls);

    const QString& localAlias() const { return m_aliases.local; }
    const QString& serverAlias() const { return m_aliases.server; }
    bool serverOn() const { return m_aliases.server != kNoServerAlias; }
    CollectionCycles& cycles() { return *m_cycles; }
    const CollectionCycles& cycles() const { return *m_cycles; }
    PuntoRegistro& work() { return *m_work; }
    HealthKeeper& health() { return *m_health; }
    CycleTimers timers() const { return m_timers; }
    TFtpClient& ftpClient() { return m_ftp; }

    // StationControl
    StationSettingsStore& settings() override { return m_settings; }
    void startDownload(const std::optional<ManualOutput>& manual) override;
    void startSync() override;
    void cancel() override;
    // Unlike cancel, cuts the point in hand's waits short at once, for good:
    // what a stopping service asks. No delete is sent after it (one sent and
    // not yet confirmed stays unconfirmed); a storing run in progress finishes.
    void stop();
    void dailyTick() override;
    void constantTick() override;
    void settingsSaved() override;
    bool running() const override;
    QList<PointHealthView> points() override;
    HealthPolicy healthPolicy() override;
    void setHealthPolicy(const HealthPolicy& policy) override;
    std::optional<UnfinishedRun> unfinishedRun() override;
    QString abandonRun(const QString& runId) override;

    // StationReport: what the point's work and the cycles say.
    void memoAppend(const QString& text) override;
    void memoClear() override;
    void statusText(const QString& text) override;
    // Queued: the row is written off the event loop, and a row that cannot be
    // written is said on the status line and in the error box (once until a
    // row is written again) instead of raising.
    void logRow(const QString& archivo, std::optional<int> nroRegAsist = std::nullopt) override;
    void showError(const std::exception& error) override;
    void transfer(const TransferProgress& progress) override;

private:
    // What the cycles tell, told on as the core's signals.
    class CycleRelay : public CycleObserver {
    public:
        explicit CycleRelay(StationCore& core) : m_core(core) {}
        void cycleStarted(CycleKind kind, CycleTrigger trigger) override {
            emit m_core.cycleStarted(kind, trigger);
        }
        void pointStarted(const PointVisit& point) override { emit m_core.pointStarted(point); }
        void pointVisited(const PointVisit& visit) override { emit m_core.pointVisited(visit); }
        void listsPushed(const ListsPush& push) override { emit m_core.listsPushed(push); }
        void cycleEnded(CycleKind kind, bool cancelled) override {
            emit m_core.cycleEnded(kind, cancelled);
        }

    private:
        StationCore& m_core;
    };

    void assemble();
    void connectOwnTimers();
    void watchStoringRuns();
    void logRowFailed(const QString& error);

    TSession m_session;
    TDatabase m_server{m_session};
    AliasNames m_aliases;
    TTable m_points, m_tickets;
    QueuedWriter m_writes;
    std::atomic<bool> m_logFailing = false; // set on the loop, cleared by the writer
    TFtpClient m_ftp;
    TTcpSock m_sock;
    StationSettingsStore m_settings;
    std::unique_ptr<OwnedCycleTimers> m_ownTimers;
    CycleTimers m_timers;
    std::unique_ptr<CycleControls> m_controls;
    std::unique_ptr<PuntoRegistro> m_work;
    std::unique_ptr<CollectionCycles> m_cycles;
    std::unique_ptr<HealthKeeper> m_health;
    CycleRelay m_relay{*this};
    int m_storingWatch = 0;
    int m_retentionDays = 0;
    QDate m_lastPrune;
    QTimer m_pruning;
};
