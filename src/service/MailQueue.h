#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <optional>

// One alert e-mail not delivered yet: the point it tells of, the message as
// it was made when the alert was raised, and how many tries it has had.
struct QueuedMail {
    QString ip, desc, loc;
    bool down = true; // an alert; false: the recovery notice
    QString subject, body;
    QDateTime raised; // the message's date
    int attempts = 0;
    quint64 serial = 0; // which mail this is, in this process (given by the queue)
};

// "127.0.7.99 (Andén sur, Loc AS)": how the log names a mail's point.
QString mailPointName(const QueuedMail& mail);

// The alert e-mails waiting for the relay, oldest first, at most kMaxMails.
// Kept in a file of the station's state folder, written whole to a temporary
// file and renamed over the old one at every change, so that a restart (or a
// crash) keeps them. A mail is superseded by a later one of the same point:
// the notice that a point answers again replaces its pending alert.
class MailQueue {
public:
    static constexpr int kMaxMails = 100;

    // path: the file; empty keeps the queue in memory only.
    explicit MailQueue(QString path = {}) : m_path(std::move(path)) {}

    // The path in the state folder.
    static QString defaultPath();
    const QString& path() const { return m_path; }

    // Reads the file, after the mails already queued. Empty, or what is wrong
    // with the file (its mails are then not kept).
    QString load();
    // Writes the file. Empty, or why it could not be written.
    QString save() const;

    // What adding a mail displaced.
    struct Added {
        std::optional<QueuedMail> superseded; // the same point's pending mail
        std::optional<QueuedMail> dropped;    // the oldest, the queue being full
    };
    Added add(const QueuedMail& mail);

    bool isEmpty() const { return m_mails.isEmpty(); }
    int size() const { return int(m_mails.size()); }
    const QueuedMail& head() const { return m_mails.constFirst(); }
    // The mail was delivered: it goes. False when it had gone already
    // (superseded or dropped while it was being sent).
    bool delivered(quint64 serial);
    // The mail was not delivered: one more try counted, and it waits behind
    // the others, so that a mail the relay refuses never holds back the rest.
    bool failed(quint64 serial);
    // Everything goes (there is no relay any more).
    QList<QueuedMail> takeAll();

private:
    qsizetype indexOf(quint64 serial) const;

    QString m_path;
    QList<QueuedMail> m_mails;
    quint64 m_serials = 0;
};
