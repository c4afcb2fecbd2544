#pragma once

#include "collect/ServiceLink.h"
#include "collect/StationControl.h"
#include "store/Aliases.h"
#include "store/DataSet.h"
#include "store/Session.h"

#include <memory>

// A station that a running service (kivo-ipd) is, seen from a window that
// follows it over the service's control socket: the buttons ask the
// service, its events arrive as the same typed signals a station of the
// window's own would give, and the settings the window edits are saved and
// read anew by the service. The session and aliases are the window's own, so
// that the editors and the records window work on the service's databases.
class RemoteStation : public StationControl {
    Q_OBJECT
public:
    RemoteStation();
    ~RemoteStation() override;

    // The aliases, the login lines and the settings; the first two raise as
    // the station core's do.
    void declareAliases();
    void loadServerLogin();
    void loadSettings();
    // Follows the service; false when it does not answer.
    bool follow();
    // The service's process as its control socket's peer tells it.
    bool connected() const;

    const QString& localAlias() const { return m_aliases.local; }
    const QString& serverAlias() const { return m_aliases.server; }

    StationSettingsStore& settings() override { return m_settings; }
    void startDownload(const std::optional<ManualOutput>& manual) override;
    void startSync() override;
    void cancel() override;
    void dailyTick() override {}
    void constantTick() override {}
    void settingsSaved() override;
    bool running() const override { return m_running; }
    QList<PointHealthView> points() override;
    HealthPolicy healthPolicy() override;
    void setHealthPolicy(const HealthPolicy& policy) override;
    std::optional<UnfinishedRun> unfinishedRun() override;
    QString abandonRun(const QString& runId) override;
    bool remote() const override { return true; }

private:
    // The service's answer to one line; raises when it does not answer or
    // refuses.
    QByteArray ask(const QByteArray& line);
    // The same, its refusal said in the status line.
    void askAndSay(const QByteArray& line);

    TSession m_session;
    TDatabase m_server{m_session};
    AliasNames m_aliases;
    StationSettingsStore m_settings;
    std::unique_ptr<ServiceFollower> m_follower;
    bool m_running = false;
};
