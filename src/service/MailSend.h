#pragma once

#include "collect/HealthSettings.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

// One alert e-mail, sent through the relay with libcurl. Blocks for at most
// the relay's time-out: call it off the event loop's thread. STARTTLS is
// taken whenever the relay offers it, and the login is never sent in clear
// unless the relay's settings allow it: the mail fails instead.
struct MailOutcome {
    bool sent = false;
    QString error;       // why it was not sent, for the log
    QStringList refused; // addresses left out as malformed
};
MailOutcome sendMail(const MailRelay& relay, const QString& subject, const QString& body,
                     const QDateTime& when);

// The message as it goes over the wire: headers, a blank line, the body, CR LF
// line ends. Header texts are stripped of line breaks and encoded when they
// are not plain ASCII.
// The Date header's value of a moment, with the zone's numeric offset.
QByteArray mailDate(const QDateTime& when);
QByteArray mailMessage(const MailRelay& relay, const QStringList& to, const QString& subject,
                       const QString& body, const QDateTime& when);
// Whether a text is an address the relay can be given as it stands.
bool plainAddress(const QString& address);
// This host's fully qualified name, which the station greets the relay with.
QString fullHostName();
