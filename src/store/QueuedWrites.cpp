#include "store/QueuedWrites.h"

#include "store/OffLoop.h"
#include "store/Session.h"

#include <QCoreApplication>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <vector>

struct QueuedWriter::Queue {
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::pair<Write, Failed>> writes;
    quint64 queued = 0; // writes ever queued
    quint64 done = 0;   // writes ever run
    bool stopping = false;
};

namespace {
// Every live writer's queue, for the barrier.
std::mutex& registryMutex() {
    static std::mutex mutex;
    return mutex;
}
std::vector<std::weak_ptr<QueuedWriter::Queue>>& registry() {
    static std::vector<std::weak_ptr<QueuedWriter::Queue>> queues;
    return queues;
}

void tell(QObject* home, const QueuedWriter::Failed& failed, const QString& error) {
    if (failed)
        QMetaObject::invokeMethod(
            home, [failed, error] { failed(error); }, Qt::QueuedConnection);
}

// The writer's thread: one write after the other until the writer stops.
void serve(QueuedWriter::Queue& queue, QObject* home) {
    putBehindTheEventLoop();
    for (;;) {
        std::pair<QueuedWriter::Write, QueuedWriter::Failed> next;
        {
            std::unique_lock lock(queue.mutex);
            queue.changed.wait(lock, [&] { return !queue.writes.empty() || queue.stopping; });
            if (queue.writes.empty())
                break;
            next = std::move(queue.writes.front());
            queue.writes.pop_front();
        }
        try {
            next.first();
        } catch (const std::exception& error) {
            tell(home, next.second, QString::fromUtf8(error.what()));
        } catch (...) {
            tell(home, next.second, QStringLiteral("Error desconocido."));
        }
        {
            std::lock_guard lock(queue.mutex);
            ++queue.done;
        }
        queue.changed.notify_all();
    }
    TSession::current().closeThreadConnections();
}
} // namespace

QueuedWriter::QueuedWriter() : m_queue(std::make_shared<Queue>()), m_home(new QObject) {
    std::lock_guard lock(registryMutex());
    auto& queues = registry();
    std::erase_if(queues, [](const auto& queue) { return queue.expired(); });
    queues.push_back(m_queue);
}

QueuedWriter::~QueuedWriter() {
    flush();
    if (!m_thread)
        return;
    {
        std::lock_guard lock(m_queue->mutex);
        m_queue->stopping = true;
    }
    m_queue->changed.notify_all();
    m_thread->wait();
}

void QueuedWriter::start() {
    m_thread.reset(QThread::create(serve, std::ref(*m_queue), m_home.get()));
    m_thread->setObjectName(QStringLiteral("log writer"));
    m_thread->start();
}

void QueuedWriter::queue(Write write, Failed failed) {
    if (!QCoreApplication::instance()) {
        try {
            write(); // no event loop to hand off from
        } catch (const std::exception& error) {
            if (failed)
                failed(QString::fromUtf8(error.what()));
        }
        return;
    }
    if (!m_thread)
        start();
    {
        std::lock_guard lock(m_queue->mutex);
        m_queue->writes.emplace_back(std::move(write), std::move(failed));
        ++m_queue->queued;
    }
    m_queue->changed.notify_all();
}

// A failure told may queue a write of its own (a health row that failed is
// said in the log): flushed too.
void QueuedWriter::flush() {
    for (;;) {
        quint64 mark = 0;
        {
            std::unique_lock lock(m_queue->mutex);
            mark = m_queue->queued;
            m_queue->changed.wait(lock, [&] { return m_queue->done >= mark; });
        }
        if (QCoreApplication::instance())
            QCoreApplication::sendPostedEvents(m_home.get(), QEvent::MetaCall);
        std::lock_guard lock(m_queue->mutex);
        if (m_queue->queued == mark)
            return;
    }
}

std::function<void()> queuedWritesBarrier() {
    std::vector<std::pair<std::shared_ptr<QueuedWriter::Queue>, quint64>> marks;
    {
        std::lock_guard lock(registryMutex());
        for (const auto& entry : registry())
            if (auto queue = entry.lock()) {
                std::lock_guard queueLock(queue->mutex);
                if (queue->done < queue->queued)
                    marks.emplace_back(queue, queue->queued);
            }
    }
    return [marks] {
        for (const auto& entry : marks) {
            QueuedWriter::Queue& queue = *entry.first;
            const quint64 mark = entry.second;
            std::unique_lock lock(queue.mutex);
            queue.changed.wait(lock, [&queue, mark] { return queue.done >= mark; });
        }
    };
}
