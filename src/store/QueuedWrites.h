#pragma once

#include <QObject>
#include <QString>
#include <QThread>
#include <functional>
#include <memory>

// Writes the event loop hands off and does not wait for (the operations-log
// and health rows of each visit): each runs on the writer's own thread, with
// that thread's own database connections (TSession::connectionFor), in the
// order they were queued. A write that raises is told to its failure handler
// on the thread that queued it, through that thread's event loop, and the
// writes after it still run. Without an application object there is no loop
// to hand off to, and a write runs at once.
//
// What is queued is in memory only: flush (and the destructor) waits until
// every queued write has run, but a process killed before loses the writes
// still queued. Nothing that makes a ticket exactly-once goes through here.
class QueuedWriter {
public:
    using Write = std::function<void()>;
    using Failed = std::function<void(const QString& error)>;

    QueuedWriter();
    ~QueuedWriter(); // flushes
    QueuedWriter(const QueuedWriter&) = delete;
    QueuedWriter& operator=(const QueuedWriter&) = delete;

    void queue(Write write, Failed failed);
    // Waits until every write queued so far has run, and tells the failures
    // not yet told, until telling them queues no more. Called on the thread
    // that queues, when the station stops.
    void flush();

    struct Queue;

private:
    void start();

    std::shared_ptr<Queue> m_queue;
    std::unique_ptr<QObject> m_home; // on the queuing thread: failures are told through it
    std::unique_ptr<QThread> m_thread;
};

// What a thread about to write on its own must wait for so that its rows come
// after those asked for before it: taken on the queuing thread when the work
// is handed over, called on the working thread before it writes. Waits for
// every write queued by then, in every writer.
std::function<void()> queuedWritesBarrier();
