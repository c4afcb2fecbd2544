#include "net/TcpSock.h"

#include "net/SockConst.h"
#include "net/WinsockErrors.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QHostInfo>
#include <QSocketNotifier>
#include <QSysInfo>

#include <algorithm>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

std::atomic<int> TTcpSock::s_winsockUseCount = 0;

TTcpSock::TTcpSock()
    : m_buf(BufferSize), m_context(std::make_unique<QObject>()),
      m_readNotifier(std::make_unique<QSocketNotifier>(QSocketNotifier::Read)),
      m_writeNotifier(std::make_unique<QSocketNotifier>(QSocketNotifier::Write)) {
    ReportStatus(8, QStringLiteral("Create"));
    QObject::connect(m_readNotifier.get(), &QSocketNotifier::activated, m_context.get(),
                     [this] { HandleReadable(); });
    QObject::connect(m_writeNotifier.get(), &QSocketNotifier::activated, m_context.get(),
                     [this] { HandleWritable(); });
    m_timer.SetEnabled(false);
    m_timer.SetOnTimer([this] { HandleTimeout(); });
    ReportStatus(8, QStringLiteral("Initializing Winsock"));
    if (s_winsockUseCount++ == 0)
        FillWinsockInfo();
    if (!CreateSocket(true)) {
        --s_winsockUseCount;
        throw ESockError(SockText::InitFailed);
    }
}

TTcpSock::~TTcpSock() {
    ReportStatus(8, QStringLiteral("Destroy"));
    TTcpSock::Abort();
    m_timer.SetEnabled(false);
    if (m_lookupId >= 0)
        QHostInfo::abortHostLookup(m_lookupId);
    m_destroying = true;
    try {
        CloseSocket();
    } catch (const Exception&) {
        // the socket is gone either way
    }
    --s_winsockUseCount;
}

void TTcpSock::FillWinsockInfo() {
    rlimit files{};
    const long maxSockets = getrlimit(RLIMIT_NOFILE, &files) == 0 ? long(files.rlim_cur) : 0;
    m_winsockInfo = {
        QStringLiteral("Version= 1.1"),
        QStringLiteral("High Version= 1.1"),
        QStringLiteral("Description= POSIX sockets on %1 %2")
            .arg(QSysInfo::kernelType(), QSysInfo::kernelVersion()),
        QStringLiteral("System= Running"),
        QStringLiteral("Max Sockets= %1").arg(maxSockets),
        // the largest UDP payload over IPv4
        QStringLiteral("Max Udp pack size= 65507"),
    };
}

bool TTcpSock::CreateSocket(bool lingerZero) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        Winsock::takeErrno();
        return false;
    }
    if (lingerZero) {
        // closing the first socket resets the connection instead of ending it
        const linger lg{1, 0};
        if (::setsockopt(fd, SOL_SOCKET, SO_LINGER, &lg, sizeof lg) != 0) {
            Winsock::takeErrno();
            ::close(fd);
            return false;
        }
    }
    m_sock = fd;
    AttachNotifiers();
    return true;
}

// A fresh socket reports "hang up" to poll, so its notifiers stay off until it
// connects or listens; otherwise the level-triggered notifier would spin.
void TTcpSock::AttachNotifiers() {
    m_readNotifier->setEnabled(false);
    m_writeNotifier->setEnabled(false);
    m_readNotifier->setSocket(m_sock);
    m_writeNotifier->setSocket(m_sock);
    m_readNotifier->setEnabled(false);
    m_writeNotifier->setEnabled(false);
}

void TTcpSock::ArmRead() {
    if (m_sock >= 0 && (m_connected || m_listening))
        m_readNotifier->setEnabled(true);
}

void TTcpSock::ArmWrite() {
    if (m_sock >= 0)
        m_writeNotifier->setEnabled(true);
}

// Blocks in the event loop until something happens: a notifier, the
// time-out timer, or any other event of the thread (which may Cancel).
void TTcpSock::WaitForEvents() {
    if (m_halted) {
        m_canceled = true; // every wait's loop ends on it
        return;
    }
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

void TTcpSock::HandleReadable() {
    // Data is deliberately left in the socket until a reader takes it; the
    // reader re-arms the notifier.
    m_readNotifier->setEnabled(false);
    if (m_listening) {
        m_lastEventOk = true;
        m_eventArrived = true;
        if (m_listenByLookup)
            m_connected = true;
        return;
    }
    if (DataAvailable()) {
        m_lastEventOk = true;
        try {
            if (OnDataReadable)
                OnDataReadable(this);
        } catch (const Exception&) {
        }
        return;
    }
    if (m_peekError == Winsock::WouldBlock || m_peekError == Winsock::Interrupted) {
        ArmRead();
        return;
    }
    // The peer closed (or reset) and nothing unread is pending. A reset is
    // remembered: the socket that reported it is about to be replaced, and a
    // reader must not take it for a normal end.
    m_lastEventOk = m_peekError == 0;
    m_closeError = m_peekError;
    if (m_peekError != 0)
        m_lastError = m_peekError;
    try {
        CloseSocket();
    } catch (const Exception&) {
    }
}

void TTcpSock::HandleWritable() {
    m_writeNotifier->setEnabled(false);
    if (!m_connecting)
        return; // a send waiting for room has been woken
    m_connecting = false;
    int err = 0;
    socklen_t len = sizeof err;
    if (::getsockopt(m_sock, SOL_SOCKET, SO_ERROR, &err, &len) != 0)
        err = errno;
    m_lastEventOk = err == 0;
    if (err != 0) {
        m_lastError = Winsock::codeFromErrno(err);
        return;
    }
    m_connected = true;
    m_reached = true;
    ArmRead();
    try {
        ConnectNotified();
    } catch (const Exception&) {
    }
}

void TTcpSock::ConnectNotified() {
    if (OnConnect)
        OnConnect(this);
}

void TTcpSock::HandleTimeout() {
    ReportStatus(8, QStringLiteral("Timer Triggered"));
    StopTimeout();
    m_timedOut = true;
    m_eventArrived = true;
    Abort();
}

void TTcpSock::StartTimeout() {
    ReportStatus(8, QStringLiteral("Timer On"));
    m_timedOut = false;
    // Switching the timer off and on again restarts it from zero.
    m_timer.SetEnabled(false);
    int interval = TimeOut;
    if (TimeOut > 0 && !m_stepDeadline.isForever())
        interval = int(std::clamp<qint64>(m_stepDeadline.remainingTime(), 1, TimeOut));
    m_timer.SetInterval(interval);
    m_timer.SetEnabled(true);
}

void TTcpSock::StopTimeout() {
    ReportStatus(8, QStringLiteral("Timer Off"));
    m_timer.SetEnabled(false);
}

void TTcpSock::Cancel() {
    ReportStatus(8, QStringLiteral("Canceling"));
    m_canceled = true;
    if (auto* dispatcher = QAbstractEventDispatcher::instance())
        dispatcher->wakeUp();
}

void TTcpSock::Halt() {
    m_halted = true;
    Cancel();
}

void TTcpSock::Abort() {
    ReportStatus(8, QStringLiteral("Abort"));
    Cancel();
}

void TTcpSock::ReportStatus(int Level, const QString& Text) {
    if (Level > ReportLevel)
        return;
    m_lastStatus = Text;
    if (m_destroying || !OnStatus)
        return;
    try {
        OnStatus(this, Text);
    } catch (...) {
        // a status handler never breaks the operation it watches
    }
}

QString TTcpSock::ErrorText(int Code) {
    ReportStatus(8, QStringLiteral("Looking Up Error Message"));
    const QString text = Winsock::tableText(Code);
    if (text.isEmpty())
        return QString::fromLatin1(SockText::UnknownError) + QString::number(Code);
    return QString::number(Code) + QLatin1Char(':') + text;
}

void TTcpSock::CheckSocketError(int Tolerated) {
    m_lastError = Winsock::lastError();
    if (m_lastError == Tolerated || m_lastError <= 10000)
        return;
    const QString text = ErrorText(m_lastError);
    if (OnError)
        OnError(this, quint16(m_lastError), text);
    throw ESockError(text, m_lastError);
}

void TTcpSock::RaiseSocketError(int code) {
    m_lastError = code;
    const QString text = ErrorText(code);
    if (OnError)
        OnError(this, quint16(code), text);
    throw ESockError(text, code);
}

void TTcpSock::CheckConnection() {
    ReportStatus(8, QStringLiteral("Checking Connection"));
    for (int pass = 0; !m_connected; ++pass) {
        bool handled = false;
        if (pass == 0 && OnConnectionRequired)
            OnConnectionRequired(handled);
        if (!handled)
            throw ENotConnected(SockText::NotConnected);
    }
}

void TTcpSock::CloseSocket() {
    ReportStatus(4, QStringLiteral("Request Close Socket"));
    m_connected = false;
    if (m_sock < 0)
        return;
    m_readNotifier->setEnabled(false);
    m_writeNotifier->setEnabled(false);
    const int fd = m_sock;
    m_sock = -1;
    m_connecting = m_listening = false;
    const bool closed = ::close(fd) == 0;
    if (!closed)
        Winsock::takeErrno();
    if (m_destroying)
        return;
    // Later sockets close gracefully: no linger setting.
    CreateSocket(false);
    if (!closed)
        CheckSocketError(Winsock::WouldBlock);
    if (OnDisconnect)
        OnDisconnect(this);
}

void TTcpSock::Disconnect() {
    ReportStatus(8, QStringLiteral("Disconnecting"));
    CloseSocket();
}

quint32 TTcpSock::PeerAddress() const {
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    if (::getpeername(m_sock, reinterpret_cast<sockaddr*>(&sa), &len) != 0)
        return 0;
    return ntohl(sa.sin_addr.s_addr);
}

quint16 TTcpSock::LocalPort() const {
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    if (::getsockname(m_sock, reinterpret_cast<sockaddr*>(&sa), &len) != 0)
        return 0;
    return ntohs(sa.sin_port);
}

QString TTcpSock::LocalAddressForPort() const {
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    ::getsockname(m_sock, reinterpret_cast<sockaddr*>(&sa), &len);
    const quint32 a = ntohl(sa.sin_addr.s_addr);
    return QStringLiteral("%1,%2,%3,%4")
        .arg(a >> 24)
        .arg((a >> 16) & 0xff)
        .arg((a >> 8) & 0xff)
        .arg(a & 0xff);
}

QString TTcpSock::LocalPortForPort() const {
    const quint16 port = LocalPort();
    return QStringLiteral(",%1,%2").arg(port >> 8).arg(port & 0xff);
}
