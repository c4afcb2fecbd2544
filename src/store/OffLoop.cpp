#include "store/OffLoop.h"

#include "platform/Errors.h"
#include "store/QueuedWrites.h"
#include "store/Session.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QList>
#include <QScopeGuard>
#include <QThread>
#include <atomic>
#include <exception>
#include <memory>
#include <sys/resource.h>
#include <unistd.h>

namespace {
constexpr int kNiceness = 10;

using Watcher = std::function<void(double, bool)>;

// Touched by the event loop's thread only, as the works are started.
QList<std::pair<int, Watcher>>& watchers() {
    static QList<std::pair<int, Watcher>> list;
    return list;
}

void tellWatchers(const QElapsedTimer& clock, bool failed) {
    const double seconds = double(clock.nsecsElapsed()) / 1e9;
    // A watcher's trouble never becomes the work's.
    for (const auto& [key, watcher] : QList(watchers()))
        try {
            watcher(seconds, failed);
        } catch (...) {
        }
}
} // namespace

int watchOffTheEventLoop(std::function<void(double seconds, bool failed)> watcher) {
    static int keys = 0;
    watchers().append({++keys, std::move(watcher)});
    return keys;
}

void unwatchOffTheEventLoop(int key) {
    watchers().removeIf([key](const auto& entry) { return entry.first == key; });
}

void putBehindTheEventLoop() {
    setpriority(PRIO_PROCESS, pid_t(gettid()), kNiceness);
}

void serveTheEventLoop() {
    const QCoreApplication* app = QCoreApplication::instance();
    if (app && app->thread() == QThread::currentThread())
        QCoreApplication::processEvents();
}

void runOffTheEventLoop(const std::function<void()>& work) {
    QElapsedTimer clock;
    clock.start();
    if (!QCoreApplication::instance()) {
        try {
            work(); // no event loop to serve
        } catch (...) {
            tellWatchers(clock, true);
            throw;
        }
        tellWatchers(clock, false);
        return;
    }
    static bool running = false; // touched by the calling thread only
    if (running)
        throw Exception(QStringLiteral("Ya hay un almacenamiento de registros en curso."));
    running = true;
    const auto done = qScopeGuard([] { running = false; });

    std::exception_ptr failure;
    std::atomic<bool> finished = false;
    QObject waker; // lives in the calling thread: a call queued to it ends the wait
    const std::function<void()> afterQueuedWrites = queuedWritesBarrier();
    std::unique_ptr<QThread> thread(QThread::create([&] {
        putBehindTheEventLoop();
        try {
            afterQueuedWrites();
            work();
        } catch (...) {
            failure = std::current_exception();
        }
        TSession::current().closeThreadConnections();
        finished = true;
        QMetaObject::invokeMethod(
            &waker, [] {}, Qt::QueuedConnection);
    }));
    thread->setObjectName(QStringLiteral("storing"));
    thread->start();
    while (!finished)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    thread->wait();
    tellWatchers(clock, bool(failure));
    if (failure)
        std::rethrow_exception(failure);
}
