#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>

class QThread;

// A point a push goes to, as the cycle names it.
struct PushTarget {
    QString ip, desc, loc;
};

// One parameter message sent to many points side by side, at most a given
// number at a time. Each send runs on a thread of its own with a socket
// component of its own, whose waits pump that thread's event loop: waits on
// one loop would nest, so that a point that never answers would hold every
// other. What each send did comes back to the owner's thread as a queued
// call, in the order the sends finish.
class PushSlots : public QObject {
    Q_OBJECT
public:
    explicit PushSlots(QObject* parent = nullptr);
    // Halts the sends in progress and waits for their threads.
    ~PushSlots() override;

    void start(const QList<PushTarget>& targets, const QByteArray& message, int atOnce,
               int timeOutMs);
    // No further send starts; those in progress finish and are told.
    void cancel();
    // As cancel, and the waits of the sends in progress end at once: a
    // program that stops does not wait out a silent point's time-out.
    void halt();
    bool busy() const { return m_running > 0 || !m_waiting.isEmpty(); }
    int inProgress() const { return m_running; }

    std::function<void(const PushTarget&)> onStarted;
    std::function<void(const PushTarget&, bool ok)> onPushed;
    std::function<void()> onDone; // the last send has been told

    struct Send; // how a halt reaches a send's own thread

private:
    void startNext();
    void finished(QThread* thread, const PushTarget& target, bool ok);

    QList<PushTarget> m_waiting;
    QByteArray m_message;
    int m_slots = 1;
    int m_timeOutMs = 0;
    int m_running = 0;
    QHash<QThread*, std::shared_ptr<Send>> m_sends; // in progress
};
