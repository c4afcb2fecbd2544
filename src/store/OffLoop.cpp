#include "store/OffLoop.h"

#include "platform/Errors.h"
#include "store/Session.h"

#include <QCoreApplication>
#include <QScopeGuard>
#include <QThread>
#include <atomic>
#include <exception>
#include <memory>
#include <sys/resource.h>
#include <unistd.h>

namespace {
constexpr int kNiceness = 10;
}

void runOffTheEventLoop(const std::function<void()>& work) {
    if (!QCoreApplication::instance()) {
        work(); // no event loop to serve
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
    std::unique_ptr<QThread> thread(QThread::create([&] {
        // On a busy machine the event loop's thread comes first: it has a
        // window to repaint or a watchdog to ping.
        setpriority(PRIO_PROCESS, pid_t(gettid()), kNiceness);
        try {
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
    if (failure)
        std::rethrow_exception(failure);
}
