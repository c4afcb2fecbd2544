#include "collect/PushSlots.h"

#include "collect/ParamPush.h"
#include "net/NetPorts.h"
#include "net/TcpSock.h"
#include "store/OffLoop.h"

#include <QMutex>
#include <QThread>
#include <algorithm>

// A send's socket component as the owner's thread may reach it: only through
// a queued call to an object of the send's own thread, while it is there.
struct PushSlots::Send {
    QMutex mutex;
    QObject* context = nullptr; // lives in the send's thread
    TTcpSock* sock = nullptr;
    bool halted = false;
};

namespace {
// A send on the calling thread with a socket component of its own, which a
// halt reaches through send.
bool sendFromHere(PushSlots::Send& send, const QString& ip, const QByteArray& message,
                  int timeOutMs) {
    try {
        TTcpSock sock;
        sock.Port = paramPort();
        sock.TimeOut = timeOutMs;
        QObject context;
        {
            const QMutexLocker lock(&send.mutex);
            if (send.halted)
                return false;
            send.context = &context;
            send.sock = &sock;
        }
        const bool ok = sendParamMessage(sock, ip, message);
        const QMutexLocker lock(&send.mutex);
        send.context = nullptr; // a halt queued to it goes with it
        send.sock = nullptr;
        return ok && !send.halted;
    } catch (...) {
        return false; // not even a socket: the point is told it failed
    }
}
} // namespace

PushSlots::PushSlots(QObject* parent) : QObject(parent) {}

PushSlots::~PushSlots() {
    halt();
    for (QThread* thread : m_sends.keys()) {
        thread->wait();
        delete thread;
    }
}

void PushSlots::start(const QList<PushTarget>& targets, const QByteArray& message, int atOnce,
                      int timeOutMs) {
    m_waiting = targets;
    m_message = message;
    m_slots = std::max(1, atOnce);
    m_timeOutMs = timeOutMs;
    startNext();
}

void PushSlots::cancel() {
    m_waiting.clear();
    if (m_running == 0 && onDone)
        onDone();
}

// The waits of the sends in progress end at once, for good.
void PushSlots::halt() {
    m_waiting.clear();
    for (const std::shared_ptr<Send>& send : std::as_const(m_sends)) {
        const QMutexLocker lock(&send->mutex);
        send->halted = true;
        if (send->context)
            QMetaObject::invokeMethod(
                send->context, [sock = send->sock] { sock->Halt(); }, Qt::QueuedConnection);
    }
}

void PushSlots::startNext() {
    while (m_running < m_slots && !m_waiting.isEmpty()) {
        const PushTarget target = m_waiting.takeFirst();
        ++m_running;
        if (onStarted)
            onStarted(target);
        auto send = std::make_shared<Send>();
        QThread* thread =
            QThread::create([this, send, target, message = m_message, timeOut = m_timeOutMs] {
                putBehindTheEventLoop();
                const bool ok = sendFromHere(*send, target.ip, message, timeOut);
                QThread* self = QThread::currentThread();
                QMetaObject::invokeMethod(
                    this, [this, self, target, ok] { finished(self, target, ok); },
                    Qt::QueuedConnection);
            });
        thread->setObjectName(QStringLiteral("push"));
        m_sends.insert(thread, send);
        thread->start();
    }
    if (m_running == 0 && m_waiting.isEmpty() && onDone)
        onDone();
}

void PushSlots::finished(QThread* thread, const PushTarget& target, bool ok) {
    thread->wait();
    m_sends.remove(thread);
    delete thread;
    --m_running;
    if (onPushed)
        onPushed(target, ok);
    startNext();
}
