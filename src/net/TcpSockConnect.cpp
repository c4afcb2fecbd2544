// Name lookup, connect, listen and accept of the socket component.
#include "net/TcpSock.h"

#include "net/SockConst.h"
#include "net/WinsockErrors.h"

#include <QHostInfo>
#include <QSocketNotifier>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

void TTcpSock::ResolveHost() {
    ReportStatus(8, QStringLiteral("Resolve Host"));
    const QString name = Proxy.isEmpty() ? Host : Proxy;
    in_addr dotted{};
    if (::inet_pton(AF_INET, name.toLatin1().constData(), &dotted) == 1) {
        m_remoteAddr = ntohl(dotted.s_addr);
        return;
    }
    m_remoteAddr = 0;
    {
        TimeoutScope timing(*this);
        m_eventArrived = false;
        StartLookup(name);
        while (!m_eventArrived && !m_timedOut && !m_canceled)
            WaitForEvents();
    }
    if (m_lookupId >= 0) {
        QHostInfo::abortHostLookup(m_lookupId);
        m_lookupId = -1;
    }
    if (m_timedOut)
        throw ESockError(SockText::LookupTimedOut);
    if (m_canceled)
        throw ESockError(SockText::LookupCanceled);
    if (!m_lastEventOk)
        throw ESockError(SockText::LookupFailed);
    m_remoteAddr = m_lookupAddr;
    if (OnHostResolved)
        OnHostResolved(this);
}

void TTcpSock::StartLookup(const QString& name) {
    m_lookupAddr = 0;
    // The id is known only after the call; a result that comes back at once
    // is matched through this placeholder.
    m_lookupId = -2;
    const int id = QHostInfo::lookupHost(name, m_context.get(), [this](const QHostInfo& info) {
        if (info.lookupId() != m_lookupId && m_lookupId != -2)
            return;
        quint32 address = 0;
        for (const QHostAddress& a : info.addresses())
            if (a.protocol() == QAbstractSocket::IPv4Protocol) {
                address = a.toIPv4Address();
                break;
            }
        HandleLookup(info.lookupId(), address, info.error() == QHostInfo::NoError && address);
    });
    if (m_lookupId == -2)
        m_lookupId = id;
}

void TTcpSock::HandleLookup(int, quint32 address, bool ok) {
    m_lookupId = -1;
    m_lastEventOk = ok;
    m_lookupAddr = ok ? address : 0;
    if (!ok)
        m_lastError = Winsock::HostNotFound;
    m_eventArrived = true;
}

void TTcpSock::Connect() {
    ReportStatus(8, QStringLiteral("Connecting"));
    m_canceled = false;
    m_reached = false;
    if (m_connected)
        throw ESockError(SockText::AlreadyConnected);
    for (int attempt = 0;; ++attempt) {
        try {
            ResolveHost();
        } catch (const ESockError& e) {
            if (e.message() == QLatin1String(SockText::LookupTimedOut) ||
                e.message() == QLatin1String(SockText::LookupCanceled))
                throw;
            m_remoteAddr = 0;
        }
        if (m_remoteAddr != 0)
            break;
        bool handled = false;
        if (attempt == 0 && OnInvalidHost)
            OnInvalidHost(handled);
        if (!handled)
            throw ESockError(SockText::NullRemoteAddress);
    }
    StartConnect(Proxy.isEmpty() ? Port : ProxyPort);
    WaitConnected();
}

void TTcpSock::StartConnect(int port) {
    m_closeError = 0;
    m_eventArrived = false;
    m_lastEventOk = true;
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(quint16(port));
    sa.sin_addr.s_addr = htonl(m_remoteAddr);
    m_connecting = true;
    if (::connect(m_sock, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) {
        // A non-blocking connect "in progress" is what Winsock calls would block.
        if (Winsock::takeErrno() == Winsock::InProgress)
            Winsock::setLastError(Winsock::WouldBlock);
        if (Winsock::lastError() != Winsock::WouldBlock)
            m_connecting = false;
        CheckSocketError(Winsock::WouldBlock);
    }
    ArmWrite();
}

void TTcpSock::WaitConnected() {
    {
        TimeoutScope timing(*this);
        while (!m_connected && !m_timedOut && !m_canceled && m_lastEventOk)
            WaitForEvents();
    }
    if (m_connected && !m_timedOut && !m_canceled && m_lastEventOk)
        return;
    m_connecting = false;
    m_writeNotifier->setEnabled(false);
    if (OnConnectionFailed)
        OnConnectionFailed(this);
    if (m_timedOut)
        throw ESockError(SockText::ConnectTimedOut, Winsock::TimedOut);
    if (m_canceled)
        throw ESockError(SockText::ConnectCanceled);
    throw ESockError(SockText::ConnectFailed, m_lastError);
}

void TTcpSock::Listen(bool ByLookupMessage) {
    ReportStatus(8, QStringLiteral("Listening"));
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(quint16(Port));
    sa.sin_addr.s_addr = htonl(INADDR_ANY);
    // Failures of bind and listen show up in the later Accept.
    if (::bind(m_sock, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0)
        Winsock::takeErrno();
    m_eventArrived = false;
    m_listening = true;
    m_listenByLookup = ByLookupMessage;
    if (::listen(m_sock, 1) != 0)
        Winsock::takeErrno();
    ArmRead();
}

// Takes the next pending connection. A connection from an address other than
// AcceptOnlyFrom is closed at once (port stealing), and false says "go on
// waiting".
bool TTcpSock::NextAcceptedFrom(int& accepted) {
    sockaddr_in peer{};
    socklen_t len = sizeof peer;
    accepted =
        ::accept4(m_sock, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (accepted < 0) {
        const int code = Winsock::takeErrno();
        if (code == Winsock::WouldBlock || code == 10004 || code == 10053)
            return false;
        throw ESockError(SockText::AcceptFailed);
    }
    const quint32 from = ntohl(peer.sin_addr.s_addr);
    if (AcceptOnlyFrom != 0 && from != AcceptOnlyFrom) {
        ::close(accepted);
        accepted = -1;
        return false;
    }
    m_remoteAddr = from;
    return true;
}

int TTcpSock::Accept() {
    ReportStatus(4, QStringLiteral("Accepting"));
    int accepted = -1;
    {
        TimeoutScope timing(*this);
        for (;;) {
            while (!m_eventArrived && !m_canceled)
                WaitForEvents();
            if (m_canceled)
                throw ESockError(SockText::AcceptCanceled);
            if (!m_lastEventOk)
                throw ESockError(SockText::AcceptFailed);
            if (NextAcceptedFrom(accepted))
                break;
            m_eventArrived = false;
            ArmRead();
        }
    }
    if (m_canceled) {
        m_canceled = false;
        ::close(accepted);
        throw EAbortError(SockText::SendAborted);
    }
    return accepted;
}

void TTcpSock::UseAcceptedSocket(int Socket) {
    m_readNotifier->setEnabled(false);
    m_writeNotifier->setEnabled(false);
    if (m_sock >= 0)
        ::close(m_sock);
    m_listening = false;
    m_closeError = 0;
    m_sock = Socket;
    m_connected = true;
    AttachNotifiers();
    ArmRead();
}
