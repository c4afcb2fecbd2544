#pragma once

#include "collect/HealthSettings.h"
#include "collect/StationReport.h"
#include "service/AlertMail.h"

#include <QObject>

class QProcess;

// Tells the outside world of a point's alert or recovery: runs the configured
// command with the point and the reason in its environment, under a time
// limit, and sends the e-mail through the relay (AlertMail: queued until it is
// delivered). Neither holds up the event loop; what goes wrong is reported in
// the log and the status line.
class AlertSender : public QObject {
public:
    AlertSender(StationReport& report, QObject* parent = nullptr);

    void setSettings(const HealthSettings& settings);
    // The e-mails not delivered yet are kept in the file from now on, and
    // those an earlier process left there are sent (a collecting process
    // only: the file is the station's).
    void keepMailQueue(const QString& path) { m_mail.keep(path); }
    void send(const HealthAlert& alert);

    // Commands and e-mails under way; a mail that waits in the queue for its
    // next try is not.
    int inFlight() const { return m_commands + (m_mail.sending() ? 1 : 0); }
    int mailsQueued() const { return m_mail.queued(); }

private:
    void runCommand(const HealthAlert& alert);
    void commandEnded(QProcess* process, const QString& why);
    void report(const QString& text) noexcept;

    StationReport& m_report;
    HealthSettings m_settings;
    int m_commands = 0;
    AlertMail m_mail{m_report};
};

// What the command receives: KIVO_ALERT=down|up, KIVO_POINT_IP, KIVO_POINT_DESC,
// KIVO_POINT_LOC, KIVO_REASON.
QStringList alertEnvironment(const HealthAlert& alert);
