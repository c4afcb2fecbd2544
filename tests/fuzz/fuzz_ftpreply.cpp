// The FTP client's reply reader, fed the bytes of a server on loopback: a
// login, "DELE x", "PWD" and "QUIT". The input is the server's answers, one
// chunk per command (the first is the greeting), separated by "<next>\n".
// The server closes its side after the last chunk, and after a chunk that is
// not exactly one reply (which would leave both sides waiting for ever).
// Lines may be long, hold NUL, lack their line end or go on with
// continuation lines.
//
// Property: while the server answers each command with exactly one reply
// (whole lines, continuation lines as the client reads them), a command the
// client calls successful was judged on the reply the server gave to that
// command, never on one meant for another, and that reply's code is no
// failure code. A server that sends more than one reply at a time may put the
// client out of step; then only crashes, hangs and sanitizer reports count.

#include "FtpScript.h"
#include "FuzzSupport.h"
#include "net/FtpClient.h"
#include "platform/TextCodec.h"

#include <QSocketNotifier>
#include <cerrno>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using fuzz::chunksOf;
using fuzz::codeOf;
using fuzz::isOneReply;

int g_listener = -1;
quint16 g_port = 0;

// The server side of one session: sends the next chunk for each command line.
class ScriptedPeer {
public:
    explicit ScriptedPeer(QList<QByteArray> chunks) : m_chunks(std::move(chunks)) {
        m_accept = std::make_unique<QSocketNotifier>(g_listener, QSocketNotifier::Read);
        QObject::connect(m_accept.get(), &QSocketNotifier::activated, [this] { accept(); });
    }
    ~ScriptedPeer() {
        if (m_fd < 0)
            return;
        m_read.reset();
        m_write.reset();
        fuzz::closeAbortively(m_fd);
    }

    // The chunk sent in answer to each command, in order.
    QList<QPair<QByteArray, QByteArray>> answered;

private:
    void accept() {
        m_fd = ::accept4(g_listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (m_fd < 0)
            return;
        m_accept.reset();
        m_read = std::make_unique<QSocketNotifier>(m_fd, QSocketNotifier::Read);
        QObject::connect(m_read.get(), &QSocketNotifier::activated, [this] { readCommands(); });
        m_write = std::make_unique<QSocketNotifier>(m_fd, QSocketNotifier::Write);
        m_write->setEnabled(false);
        QObject::connect(m_write.get(), &QSocketNotifier::activated, [this] { flush(); });
        sendNext();
    }

    void readCommands() {
        const bool open =
            fuzz::readCommandLines(m_fd, m_commands, [this](const QByteArray& command) {
                answered.append({command, m_next < m_chunks.size() ? m_chunks.at(m_next) : ""});
                sendNext();
            });
        if (!open)
            m_read->setEnabled(false);
    }

    void sendNext() {
        if (m_next < m_chunks.size()) {
            m_output += m_chunks.at(m_next++);
            m_closeAfter = m_closeAfter || !isOneReply(m_chunks.at(m_next - 1));
        }
        m_closeAfter = m_closeAfter || m_next >= m_chunks.size();
        flush();
    }

    void flush() {
        while (!m_output.isEmpty()) {
            const ssize_t n =
                ::send(m_fd, m_output.constData(), size_t(m_output.size()), MSG_NOSIGNAL);
            if (n < 0) {
                if (errno == EAGAIN)
                    return m_write->setEnabled(true);
                m_output.clear(); // the client has gone
                break;
            }
            m_output.remove(0, n);
        }
        m_write->setEnabled(false);
        if (m_closeAfter)
            ::shutdown(m_fd, SHUT_WR);
    }

    QList<QByteArray> m_chunks;
    qsizetype m_next = 0;
    bool m_closeAfter = false;
    int m_fd = -1;
    QByteArray m_output;
    QByteArray m_commands;
    std::unique_ptr<QSocketNotifier> m_accept;
    std::unique_ptr<QSocketNotifier> m_read;
    std::unique_ptr<QSocketNotifier> m_write;
};

// The first line of an answer as the client reads it (with its line end).
QString firstLine(const QByteArray& answer) {
    const qsizetype lf = answer.indexOf('\n');
    return lf < 0 ? QString() : fromCp1252(answer.left(lf + 1));
}

// The greeting and every answer so far were one reply each.
bool inStep(const QList<QByteArray>& chunks, const ScriptedPeer& peer) {
    if (chunks.size() <= peer.answered.size())
        return false;
    for (qsizetype i = 0; i <= peer.answered.size(); ++i)
        if (!isOneReply(chunks.at(i)))
            return false;
    return true;
}

// The client judged `command` successful: its reply must be the server's
// answer to it.
void checkJudgedOnItsAnswer(const ScriptedPeer& peer, const QByteArray& command,
                            const QString& judged, qint64 lowestFailure) {
    const auto& answered = peer.answered;
    fuzz::check(!answered.isEmpty() && answered.last().first == command,
                "the last command the server saw is the one judged", QString::fromLatin1(command));
    const QString expected = firstLine(answered.last().second);
    fuzz::check(judged == expected, "a command is judged on the reply to it",
                QStringLiteral("command %1 judged [%2] answer [%3]")
                    .arg(QString::fromLatin1(command), judged, expected));
    const qint64 code = codeOf(judged);
    fuzz::check(code < lowestFailure || code > 599, "a successful command had no failure code",
                judged);
}

void runSession(const QByteArray& input) {
    const QList<QByteArray> chunks = chunksOf(input);
    ScriptedPeer peer(chunks);
    TFtpClient ftp;
    ftp.Host = QStringLiteral("127.0.0.1");
    ftp.Port = g_port;
    ftp.UserID = QStringLiteral("tolv");
    ftp.Password = QStringLiteral("kqnwdrb");
    // As the station does: a time-out cancels the wait (a safety net here,
    // since the server always ends what it leaves unfinished).
    ftp.TimeOut = 500;
    ftp.ReportLevel = 16;
    ftp.OnStatus = [&ftp](TTcpSock*, const QString& status) {
        if (status == QLatin1String("Timer Triggered"))
            ftp.Cancel();
    };
    bool deleted = false;
    ftp.OnSuccess = [&](TCmdType kind) { deleted = deleted || kind == ctDelete; };
    try {
        ftp.Connect();
        const bool loginInStep = inStep(chunks, peer);
        if (loginInStep) {
            const QByteArray login = peer.answered.isEmpty() ? "" : peer.answered.last().first;
            fuzz::check(login == "USER tolv" || login == "PASS kqnwdrb",
                        "a login ends with USER or PASS", QString::fromLatin1(login));
            checkJudgedOnItsAnswer(peer, login, ftp.LastReply(), 401);
        }
        ftp.SendCommand(QStringLiteral("DELE x"));
        if (deleted && loginInStep && inStep(chunks, peer))
            checkJudgedOnItsAnswer(peer, "DELE x", ftp.LastReply(), 400);
        ftp.SendCommand(QStringLiteral("PWD"));
        ftp.Disconnect();
    } catch (const Exception&) {
        // a refused login, a failed command or a closed connection
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (g_listener < 0)
        g_listener = fuzz::listenOnLoopback(g_port);
    runSession(fuzz::bytesOf(data, size));
    return 0;
}
