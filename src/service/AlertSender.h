#pragma once

#include "collect/HealthSettings.h"
#include "collect/StationReport.h"

#include <QObject>
#include <QThread>
#include <list>
#include <memory>

class QProcess;

// Tells the outside world of a point's alert or recovery: runs the configured
// command with the point and the reason in its environment, under a time
// limit, and sends the e-mail through the relay on a thread of its own. Neither
// holds up the event loop; what goes wrong is reported in the log and the
// status line, and the next alert tries again.
class AlertSender : public QObject {
public:
    AlertSender(StationReport& report, QObject* parent = nullptr);
    ~AlertSender() override; // waits for an e-mail in flight (bounded by its time-out)

    void setSettings(const HealthSettings& settings) { m_settings = settings; }
    void send(const HealthAlert& alert);

    // Commands and e-mails still under way.
    int inFlight() const { return m_commands + static_cast<int>(m_mails.size()); }

private:
    void runCommand(const HealthAlert& alert);
    void sendMail(const HealthAlert& alert);
    void commandEnded(QProcess* process, const QString& why);
    void report(const QString& text) noexcept;

    StationReport& m_report;
    HealthSettings m_settings;
    int m_commands = 0;
    std::list<std::unique_ptr<QThread>> m_mails;
};

// What the command receives: KIVO_ALERT=down|up, KIVO_POINT_IP, KIVO_POINT_DESC,
// KIVO_POINT_LOC, KIVO_REASON.
QStringList alertEnvironment(const HealthAlert& alert);
