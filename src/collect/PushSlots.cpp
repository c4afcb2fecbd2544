#include "collect/PushSlots.h"

#include "collect/ParamPush.h"
#include "net/NetPorts.h"
#include "net/TcpSock.h"

#include <QThread>
#include <algorithm>

namespace {
// A send on the calling thread with a socket component of its own.
bool sendFromHere(const QString& ip, const QByteArray& message, int timeOutMs) {
    try {
        TTcpSock sock;
        sock.Port = paramPort();
        sock.TimeOut = timeOutMs;
        return sendParamMessage(sock, ip, message);
    } catch (...) {
        return false; // not even a socket: the point is told it failed
    }
}
} // namespace

PushSlots::PushSlots(QObject* parent) : QObject(parent) {}

PushSlots::~PushSlots() {
    m_waiting.clear();
    for (QThread* thread : std::as_const(m_threads)) {
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

void PushSlots::startNext() {
    while (m_running < m_slots && !m_waiting.isEmpty()) {
        const PushTarget target = m_waiting.takeFirst();
        ++m_running;
        if (onStarted)
            onStarted(target);
        QThread* thread =
            QThread::create([this, target, message = m_message, timeOut = m_timeOutMs] {
                const bool ok = sendFromHere(target.ip, message, timeOut);
                QThread* self = QThread::currentThread();
                QMetaObject::invokeMethod(
                    this, [this, self, target, ok] { finished(self, target, ok); },
                    Qt::QueuedConnection);
            });
        thread->setObjectName(QStringLiteral("push"));
        m_threads << thread;
        thread->start();
    }
    if (m_running == 0 && m_waiting.isEmpty() && onDone)
        onDone();
}

void PushSlots::finished(QThread* thread, const PushTarget& target, bool ok) {
    thread->wait();
    m_threads.removeOne(thread);
    delete thread;
    --m_running;
    if (onPushed)
        onPushed(target, ok);
    startNext();
}
