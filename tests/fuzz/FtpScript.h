#pragma once

// What the FTP targets share: a listening socket on loopback, the input cut
// into the chunks a scripted server sends, and the reading of a chunk as the
// client reads replies.

#include "FuzzSupport.h"
#include "net/TcpSock.h"

#include <QList>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace fuzz {

// Separates the chunks of an input.
inline const QByteArray kSeparator("<next>\n");

// A non-blocking socket listening on 127.0.0.1; `port` receives its port.
inline int listenOnLoopback(quint16& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof sa;
    check(::bind(fd, reinterpret_cast<sockaddr*>(&sa), len) == 0 && ::listen(fd, 4) == 0 &&
              ::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len) == 0,
          "the harness listens on loopback");
    port = ntohs(sa.sin_port);
    return fd;
}

// Closes with a reset instead of an orderly close: no TIME_WAIT is left
// behind, so millions of sessions do not run out of loopback ports.
inline void closeAbortively(int fd) {
    const linger abortive{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
    ::close(fd);
}

// The input's chunks, split at every separator; the last chunk takes the rest.
inline QList<QByteArray> chunksOf(const QByteArray& input, qsizetype most = -1) {
    QList<QByteArray> chunks;
    qsizetype from = 0;
    for (qsizetype at;
         (most < 0 || chunks.size() + 1 < most) && (at = input.indexOf(kSeparator, from)) >= 0;
         from = at + kSeparator.size())
        chunks << input.mid(from, at - from);
    chunks << input.mid(from);
    return chunks;
}

inline bool continuesReply(const QByteArray& line) {
    return line.startsWith(' ') || (line.size() > 3 && line.at(3) == '-');
}

// Whole lines, the last one the first that does not continue the reply, none
// longer than the client's buffer.
inline bool isOneReply(const QByteArray& chunk) {
    if (!chunk.endsWith('\n'))
        return false;
    const QList<QByteArray> lines = chunk.chopped(1).split('\n');
    for (qsizetype i = 0; i < lines.size(); ++i)
        if (lines[i].size() + 1 >= TTcpSock::BufferSize ||
            continuesReply(lines[i]) != (i + 1 < lines.size()))
            return false;
    return true;
}

// Reads what the client sent on fd into pending and hands each whole command
// line (without its CR LF) to onCommand; false once the connection has ended.
template <typename OnCommand>
bool readCommandLines(int fd, QByteArray& pending, OnCommand onCommand) {
    char buf[4096];
    const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n <= 0)
        return false;
    pending.append(buf, n);
    for (qsizetype end; (end = pending.indexOf("\r\n")) >= 0;) {
        const QByteArray command = pending.left(end);
        pending.remove(0, end + 2);
        onCommand(command);
    }
    return true;
}

// The leading digits of a line (at most ten), 0 without any.
inline qint64 codeOf(const QString& line) {
    qsizetype digits = 0;
    while (digits < line.size() && digits < 10 && line.at(digits) >= QLatin1Char('0') &&
           line.at(digits) <= QLatin1Char('9'))
        ++digits;
    return digits ? line.left(digits).toLongLong() : 0;
}

} // namespace fuzz
