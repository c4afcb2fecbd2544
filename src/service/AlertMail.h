#pragma once

#include "collect/HealthSettings.h"
#include "collect/StationReport.h"
#include "service/MailQueue.h"
#include "service/MailSend.h"

#include <QDateTime>
#include <QObject>
#include <QThread>
#include <QTimer>
#include <memory>

// The alert e-mails. Each goes into the queue and out through the relay, one
// at a time, on a thread of its own, so that a relay that is down or slow
// never holds up the event loop. A mail the relay does not take stays queued
// and is tried again after a wait that starts at the relay's first wait and
// doubles at each failure in a row (at most an hour), until it is delivered or
// superseded by a later mail of the same point. The log and the status line
// say each outcome: queued, tried again, delivered, given up, superseded.
class AlertMail : public QObject {
public:
    AlertMail(StationReport& report, QObject* parent = nullptr);
    ~AlertMail() override; // waits for the mail in flight (bounded by its time-out)

    // The relay (empty host: no e-mail). A change tries the queue again at once.
    void setRelay(const MailRelay& relay);
    // From now on the queue lives in this file: what an earlier process left
    // there is sent too. Until then it is kept in memory only.
    void keep(const QString& path);
    void send(const HealthAlert& alert);

    // A mail is being handed to the relay.
    bool sending() const { return m_attempt != nullptr; }
    int queued() const { return m_queue.size(); }

private:
    void add(const QueuedMail& mail);
    void dispatch();
    void attempt(const QueuedMail& mail);
    void attemptEnded(const QueuedMail& mail, const MailOutcome& outcome);
    void waitAfterFailure();
    void giveUpEverything();
    void persist();
    void report(const QString& text) noexcept;
    QString relayName() const;

    StationReport& m_report;
    MailRelay m_relay;
    MailQueue m_queue;
    bool m_kept = false;
    std::unique_ptr<QThread> m_attempt;
    QTimer m_retry;      // the next try after a failure
    QDateTime m_retryAt; // when it fires, for the log
    int m_failures = 0;  // tries in a row the relay did not take
};

// The message of an alert or a recovery notice, as it is queued.
QueuedMail alertMail(const HealthAlert& alert, const QDateTime& raised);
