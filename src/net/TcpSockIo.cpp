// Sending, reading lines and counts, and receiving into a file.
#include "net/TcpSock.h"

#include "net/SockConst.h"
#include "net/WinsockErrors.h"
#include "platform/TextCodec.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QSocketNotifier>

#include <cstring>
#include <poll.h>
#include <sys/socket.h>

namespace {
bool tryAgain(int code) {
    return code == Winsock::WouldBlock || code == Winsock::Interrupted;
}
} // namespace

void TTcpSock::SendBuffer(QByteArrayView Data, quint16 Length) {
    ReportStatus(4, QStringLiteral("Sending Buffer"));
    {
        TimeoutScope timing(*this);
        if (!m_canceled)
            SendAll(Data, Length);
    }
    ThrowIfCanceled();
}

void TTcpSock::ThrowIfCanceled() {
    if (m_canceled) {
        m_canceled = false;
        throw EAbortError(SockText::SendAborted);
    }
}

void TTcpSock::SendAll(QByteArrayView Data, quint16 Length) {
    qsizetype length = std::min<qsizetype>(Length, Data.size());
    if (Length == 0) {
        const qsizetype nul = Data.indexOf('\0');
        length = nul < 0 ? Data.size() : nul;
        if (length > 65535)
            throw ESockError(SockText::BufferTooLong);
    }
    qsizetype sent = 0;
    while (sent < length && !m_canceled) {
        const ssize_t n = ::send(m_sock, Data.data() + sent, size_t(length - sent), MSG_NOSIGNAL);
        if (n == 0)
            break;
        if (n > 0) {
            sent += n;
            continue;
        }
        const int code = Winsock::takeErrno();
        if (!tryAgain(code))
            CheckSocketError(Winsock::WouldBlock);
        // The socket is full: wait for room, the time-out or Cancel.
        ArmWrite();
        WaitForEvents();
    }
}

void TTcpSock::Write(const QString& Text) {
    ReportStatus(8, QStringLiteral("Write"));
    SendBuffer(toCp1252(Text), 0);
}

void TTcpSock::Writeln(const QString& Text) {
    ReportStatus(8, QStringLiteral("Writeln"));
    Write(Text + QStringLiteral("\r\n"));
}

// Removes count bytes that a peek has shown to be pending.
QByteArray TTcpSock::TakeBytes(qsizetype count) {
    QByteArray taken;
    taken.reserve(count);
    while (taken.size() < count) {
        const ssize_t n = ::recv(m_sock, m_buf.data(), size_t(count - taken.size()), 0);
        if (n <= 0)
            break;
        taken.append(m_buf.data(), n);
    }
    return taken;
}

QString TTcpSock::ReadLn() {
    ReportStatus(8, QStringLiteral("ReadLn"));
    QByteArray line;
    {
        TimeoutScope timing(*this);
        line = ReadLineBytes();
    }
    return fromCp1252(line);
}

// A line may arrive in several packets; the bytes without a line end are
// taken out as they come, so the socket holds nothing half-read while we
// wait. A line never grows past the receive buffer.
QByteArray TTcpSock::ReadLineBytes() {
    QByteArray line;
    qsizetype lineEnd = -1;
    for (;;) {
        const qsizetype room = BufferSize - line.size();
        if (room <= 0)
            throw ESockError(SockText::LineTooLong);
        const ssize_t n = ::recv(m_sock, m_buf.data(), size_t(room), MSG_PEEK);
        if (n == 0)
            return {}; // the peer has closed
        if (n > 0) {
            const void* lf = std::memchr(m_buf.data(), '\n', size_t(n));
            if (lf) {
                lineEnd = static_cast<const char*>(lf) - m_buf.data() + 1;
                break;
            }
            line += TakeBytes(n);
        } else {
            const int code = Winsock::takeErrno();
            if (code == Winsock::NotConnected)
                return {}; // the close notification has replaced the socket
            if (!tryAgain(code))
                CheckSocketError(Winsock::WouldBlock);
            ArmRead();
            WaitForEvents();
        }
        if (m_canceled)
            break;
    }
    if (m_canceled) {
        m_canceled = false;
        throw EAbortError(SockText::ReadLnAborted);
    }
    line += TakeBytes(lineEnd);
    ArmRead();
    return line;
}

QByteArray TTcpSock::Read(quint16 Count) {
    ReportStatus(8, QStringLiteral("Read( %1 )").arg(Count));
    if (Count > 0)
        return ReadCount(Count);
    const ssize_t n = ::recv(m_sock, m_buf.data(), m_buf.size(), MSG_PEEK);
    if (n < 0 && !tryAgain(Winsock::takeErrno()))
        CheckSocketError(Winsock::WouldBlock);
    const QByteArray taken = n > 0 ? TakeBytes(n) : QByteArray();
    ArmRead();
    return taken;
}

bool TTcpSock::PeerHasClosed() const {
    pollfd p{m_sock, POLLRDHUP, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR));
}

// Waits until Count bytes are pending. The low-water mark keeps the
// level-triggered notifier quiet while fewer bytes wait in the socket.
QByteArray TTcpSock::ReadCount(quint16 Count) {
    int lowat = Count;
    ::setsockopt(m_sock, SOL_SOCKET, SO_RCVLOWAT, &lowat, sizeof lowat);
    ssize_t n = 0;
    for (;;) {
        n = ::recv(m_sock, m_buf.data(), Count, MSG_PEEK);
        if (n >= Count || n == 0)
            break;
        if (n < 0) {
            const int code = Winsock::takeErrno();
            if (code == Winsock::NotConnected)
                break;
            if (!tryAgain(code))
                CheckSocketError(Winsock::WouldBlock);
        } else if (PeerHasClosed()) {
            n = 0;
            break;
        }
        ArmRead();
        WaitForEvents();
        if (m_canceled)
            break;
    }
    lowat = 1;
    ::setsockopt(m_sock, SOL_SOCKET, SO_RCVLOWAT, &lowat, sizeof lowat);
    ThrowIfCanceled();
    const QByteArray taken = n >= Count ? TakeBytes(Count) : QByteArray();
    ArmRead();
    return taken;
}

void TTcpSock::CaptureFile(const QString& FileName) {
    ReportStatus(8, QStringLiteral("CaptureFile"));
    m_bytesReceived = 0;
    {
        TimeoutScope timing(*this);
        QFile file(FileName);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            throw ESockError(QString::fromLatin1(SockText::CannotCreateFile) + FileName);
        CaptureInto(file);
        file.close();
        if (file.error() != QFileDevice::NoError)
            throw ESockError(QString::fromLatin1(SockText::CannotWriteFile) + FileName);
    }
    ThrowIfCanceled();
}

void TTcpSock::CaptureInto(QFile& file) {
    // The rate is judged over windows of TimeOut (none without a time-out).
    QElapsedTimer window;
    window.start();
    qint64 windowBytes = 0;
    while (!m_canceled) {
        const ssize_t n = ::recv(m_sock, m_buf.data(), m_buf.size(), 0);
        if (n == 0)
            break; // the peer has closed: the file is complete
        if (n > 0) {
            if (file.write(m_buf.data(), n) != n)
                throw ESockError(QString::fromLatin1(SockText::CannotWriteFile) + file.fileName());
            m_bytesReceived += n;
            windowBytes += n;
            if (TimeOut > 0 && window.elapsed() >= TimeOut) {
                if (windowBytes * 1000 < qint64(MinTransferRate) * window.elapsed())
                    throw ESockError(SockText::TransferTooSlow);
                window.restart();
                windowBytes = 0;
            }
            if (OnPacketRecvd)
                OnPacketRecvd(this);
            StartTimeout(); // the time-out counts from the last packet
            QCoreApplication::processEvents();
            continue;
        }
        const int code = Winsock::takeErrno();
        if (code == Winsock::NotConnected) {
            // The close notification has replaced the socket: a reset is no
            // complete file.
            if (m_closeError != 0)
                RaiseSocketError(m_closeError);
            break;
        }
        if (!tryAgain(code))
            CheckSocketError(Winsock::WouldBlock);
        ArmRead();
        WaitForEvents();
    }
}

bool TTcpSock::DataAvailable() {
    ReportStatus(8, QStringLiteral("Data Available"));
    char byte = 0;
    const ssize_t n = ::recv(m_sock, &byte, 1, MSG_PEEK);
    m_peekError = n < 0 ? Winsock::takeErrno() : 0;
    return n == 1;
}

void TTcpSock::ClearInput() {
    ReportStatus(8, QStringLiteral("Clearing Input"));
    if (::recv(m_sock, m_buf.data(), m_buf.size(), 0) < 0)
        Winsock::takeErrno();
    ArmRead();
}

qint16 TTcpSock::ReplyNumberOf(const QString& Line) {
    qsizetype digits = 0;
    while (digits < Line.size() && digits < 10 && Line.at(digits).isDigit() &&
           Line.at(digits).unicode() < 128)
        ++digits;
    if (digits == 0)
        return 0;
    const qlonglong value = Line.left(digits).toLongLong();
    if (value > 32767)
        throw ESockError(SockText::ReplyNumberRange);
    return qint16(value);
}

bool TTcpSock::IsCommandLine(const QString& Text) {
    return !Text.contains(QLatin1Char('\r')) && !Text.contains(QLatin1Char('\n')) &&
           !Text.contains(QChar(0));
}

QString TTcpSock::Transaction(const QString& Command) {
    ReportStatus(8, QStringLiteral("Transaction"));
    m_replyNumber = 0;
    if (!IsCommandLine(Command))
        throw ESockError(SockText::BadCharInCommand);
    Writeln(Command);
    m_replyOwed = true;
    m_lastReply = ReadLn();
    m_replyOwed = false;
    if (!m_lastReply.isEmpty()) {
        ReportStatus(1, m_lastReply);
        m_replyNumber = ReplyNumberOf(m_lastReply);
    }
    return m_lastReply;
}
