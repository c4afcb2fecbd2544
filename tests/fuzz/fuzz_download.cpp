// The FTP client's download, against a server on loopback whose behaviour
// around RETR the input chooses. The server logs the client in, answers PORT
// or PASV for itself, then answers "RETR nroRegAsist.ras" with the input's
// reply, sends the input's bytes over the data connection and the input's
// closing reply, in the order and the pieces the input chooses. After the
// download the client sends "DELE x", which this server always refuses.
//
// Input: two bytes of choices, then the RETR reply, "<next>\n", the closing
// reply, "<next>\n", and the data bytes (all the rest).
//   byte 0, bit 0:    passive mode
//   byte 0, bits 1-2: the closing reply goes with the RETR reply, after the
//                     data, after the end of the data connection, or never
//   byte 0, bits 3-4: the data connection ends orderly, with a reset, stays
//                     open, or is never opened
//   byte 1:           the control bytes go out in pieces of this many bytes,
//                     each on its own turn of the event loop (0: whole)
// A RETR reply whose code is 300 or more refuses the file: no data and no
// closing reply follow it. ABOR is answered as RFC 959 asks: "426" and "226"
// while a transfer is under way, "226" after it.
//
// Properties:
// - each download is reported once, as a success or as a failure;
// - a download reported successful wrote to the local file exactly the bytes
//   the data connection carried, and that connection ended orderly;
// - while the server's replies are one reply each, a successful download got
//   its closing reply, which is no failure code, and at least the bytes a
//   line of the RETR reply announced; and the refused DELE is never taken for
//   a success (it would erase the point's records).
// The station never uses the files of a failed download (its fetch gives up
// the point), so what such a download leaves on the disk is not checked here.

#include "FtpScript.h"
#include "FuzzSupport.h"
#include "net/FtpClient.h"
#include "platform/TextCodec.h"

#include <QSocketNotifier>
#include <QTimer>
#include <cerrno>
#include <deque>
#include <functional>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

enum class Closing { WithRetrReply, AfterData, AfterDataEnd, Never };
enum class DataEnd { Orderly, Reset, StaysOpen, NeverOpened };

struct Script {
    bool passive = false;
    Closing closing = Closing::Never;
    DataEnd dataEnd = DataEnd::Orderly;
    int piece = 0;
    QByteArray retrReply;
    QByteArray closingReply;
    QByteArray data;
};

Script scriptOf(const QByteArray& input) {
    fuzz::Input in(reinterpret_cast<const uint8_t*>(input.constData()), size_t(input.size()));
    Script s;
    const uint8_t choices = in.byte();
    s.passive = choices & 1;
    s.closing = Closing((choices >> 1) & 3);
    s.dataEnd = DataEnd((choices >> 3) & 3);
    s.piece = in.byte();
    const QList<QByteArray> chunks = fuzz::chunksOf(in.rest(), 3);
    s.retrReply = chunks.value(0);
    s.closingReply = chunks.value(1);
    s.data = chunks.value(2);
    return s;
}

const QByteArray kRefusedDelete("550 Not here.\r\n");

int g_control = -1;
quint16 g_controlPort = 0;
int g_passive = -1;
quint16 g_passivePort = 0;

// The leading digits of the first line, as the client reads the reply code.
qint64 replyCode(const QByteArray& reply) {
    return fuzz::codeOf(fromCp1252(reply.left(reply.indexOf('\n') + 1)));
}

// The server of one session, driven by a script.
class ScriptedServer {
public:
    explicit ScriptedServer(Script script) : m_script(std::move(script)) {
        m_accept = std::make_unique<QSocketNotifier>(g_control, QSocketNotifier::Read);
        QObject::connect(m_accept.get(), &QSocketNotifier::activated, [this] { accept(); });
        m_stepper.setInterval(0);
        QObject::connect(&m_stepper, &QTimer::timeout, [this] { nextStep(); });
    }
    ~ScriptedServer() {
        m_stepper.stop();
        m_read.reset();
        endData();
        if (m_fd >= 0)
            fuzz::closeAbortively(m_fd);
    }

    QByteArray dataSent;
    bool dataEndedOrderly = false;
    bool closingSent = false;
    // False once the server sent something the client cannot take as one
    // reply to one command.
    bool repliesInStep = true;

private:
    void accept() {
        m_fd = ::accept4(g_control, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (m_fd < 0)
            return;
        m_accept.reset();
        m_read = std::make_unique<QSocketNotifier>(m_fd, QSocketNotifier::Read);
        QObject::connect(m_read.get(), &QSocketNotifier::activated, [this] { readCommands(); });
        sendControl("220 Point ready.\r\n");
    }

    void readCommands() {
        const bool open = fuzz::readCommandLines(
            m_fd, m_commands, [this](const QByteArray& command) { answer(command); });
        if (!open)
            m_read->setEnabled(false);
    }

    void answer(const QByteArray& command) {
        if (command.startsWith("USER "))
            return sendControl("331 Password required.\r\n");
        if (command.startsWith("PASS "))
            return sendControl("230 Logged in.\r\n");
        if (command.startsWith("PORT "))
            return acceptPort(command.mid(5));
        if (command == "PASV")
            return sendControl(QStringLiteral("227 Entering Passive Mode (127,0,0,1,%1,%2).\r\n")
                                   .arg(g_passivePort >> 8)
                                   .arg(g_passivePort & 0xff)
                                   .toLatin1());
        if (command.startsWith("RETR "))
            return startTransfer();
        if (command == "ABOR")
            return abort();
        if (command.startsWith("DELE "))
            return sendControl(kRefusedDelete);
        if (command == "QUIT")
            return sendControl("221 Goodbye.\r\n");
        sendControl("502 Not implemented.\r\n");
    }

    void acceptPort(const QByteArray& fields) {
        const QList<QByteArray> f = fields.split(',');
        m_activePort = quint16(f.value(4).toInt() * 256 + f.value(5).toInt());
        sendControl("200 PORT command successful.\r\n");
    }

    void startTransfer() {
        const Script& s = m_script;
        const qint64 code = replyCode(s.retrReply);
        repliesInStep = repliesInStep && fuzz::isOneReply(s.retrReply) && code >= 100 && code < 600;
        const bool refused = code >= 300;
        const bool closingNow = !refused && s.closing == Closing::WithRetrReply;
        queueControl(closingNow ? s.retrReply + s.closingReply : s.retrReply);
        if (closingNow)
            queue([this] { noteClosingSent(); });
        if (refused)
            return;
        m_transferring = true;
        if (s.dataEnd != DataEnd::NeverOpened) {
            queue([this] { openData(); });
            queue([this] { sendData(); });
        }
        if (s.closing == Closing::AfterData)
            queueClosing();
        queue([this] { finishData(); });
        if (s.closing == Closing::AfterDataEnd)
            queueClosing();
    }

    void queueClosing() {
        queueControl(m_script.closingReply);
        queue([this] { noteClosingSent(); });
    }

    void noteClosingSent() {
        closingSent = true;
        m_transferring = false;
        repliesInStep = repliesInStep && fuzz::isOneReply(m_script.closingReply);
    }

    // RFC 959: a transfer under way is closed with 426, and ABOR itself
    // answered with 226.
    void abort() {
        m_steps.clear();
        endData();
        sendControl(m_transferring ? "426 Transfer aborted.\r\n226 ABOR done.\r\n"
                                   : "226 ABOR done.\r\n");
        m_transferring = false;
    }

    void openData() {
        if (m_script.passive) {
            m_data = ::accept4(g_passive, nullptr, nullptr, SOCK_CLOEXEC);
            if (m_data < 0 && errno == EAGAIN && ++m_acceptTries < 1000)
                m_steps.push_front([this] { openData(); }); // not yet connected: a later turn
            return;
        }
        m_data = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        sa.sin_port = htons(m_activePort);
        if (::connect(m_data, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
            ::close(m_data);
            m_data = -1;
        }
    }

    // Loopback takes the few kilobytes of an input at once.
    void sendData() {
        if (m_data < 0)
            return;
        const QByteArray& data = m_script.data;
        while (dataSent.size() < data.size()) {
            const ssize_t n =
                ::send(m_data, data.constData() + dataSent.size(),
                       size_t(data.size() - dataSent.size()), MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n <= 0)
                break;
            dataSent += data.mid(dataSent.size(), n);
        }
    }

    void finishData() {
        if (m_data < 0)
            return;
        if (m_script.dataEnd == DataEnd::Reset)
            return endData();
        if (m_script.dataEnd == DataEnd::Orderly)
            dataEndedOrderly = ::shutdown(m_data, SHUT_WR) == 0;
    }

    void endData() {
        if (m_data >= 0)
            fuzz::closeAbortively(m_data);
        m_data = -1;
    }

    void queue(std::function<void()> step) {
        m_steps.push_back(std::move(step));
        m_stepper.start();
    }

    void queueControl(const QByteArray& bytes) {
        const qsizetype piece = m_script.piece > 0 ? m_script.piece : bytes.size();
        for (qsizetype at = 0; at < bytes.size(); at += piece)
            queue([this, part = bytes.mid(at, piece)] { sendControl(part); });
    }

    void nextStep() {
        if (m_steps.empty())
            return m_stepper.stop();
        const std::function<void()> step = std::move(m_steps.front());
        m_steps.pop_front();
        step();
    }

    void sendControl(const QByteArray& bytes) {
        if (m_fd < 0)
            return;
        qsizetype sent = 0;
        while (sent < bytes.size()) {
            const ssize_t n =
                ::send(m_fd, bytes.constData() + sent, size_t(bytes.size() - sent), MSG_NOSIGNAL);
            if (n <= 0)
                break;
            sent += n;
        }
        if (sent < bytes.size())
            repliesInStep = false; // the client has gone, or does not read
    }

    Script m_script;
    int m_fd = -1;
    int m_data = -1;
    quint16 m_activePort = 0;
    int m_acceptTries = 0;
    bool m_transferring = false;
    QByteArray m_commands;
    std::deque<std::function<void()>> m_steps;
    QTimer m_stepper;
    std::unique_ptr<QSocketNotifier> m_accept;
    std::unique_ptr<QSocketNotifier> m_read;
};

// The largest size a line of the RETR reply announces.
qint64 announcedSize(const QByteArray& retrReply) {
    qint64 most = 0;
    for (const QByteArray& line : retrReply.split('\n'))
        most = std::max(most, TFtpClient::SizeFromReply(fromCp1252(line)));
    return most;
}

struct Outcome {
    int successes = 0;
    int failures = 0;
    bool deleted = false;
};

Outcome runSession(const Script& script, const QString& local) {
    TFtpClient ftp;
    ftp.Host = QStringLiteral("127.0.0.1");
    ftp.Port = g_controlPort;
    ftp.UserID = QStringLiteral("tolv");
    ftp.Password = QStringLiteral("kqnwdrb");
    ftp.Passive = script.passive;
    // As the station does: a time-out cancels the wait. Short, since a
    // server that stays silent is one of the cases.
    ftp.TimeOut = 100;
    ftp.ReportLevel = 16;
    ftp.OnStatus = [&ftp](TTcpSock*, const QString& status) {
        if (status == QLatin1String("Timer Triggered"))
            ftp.Cancel();
    };
    Outcome outcome;
    ftp.OnSuccess = [&](TCmdType kind) {
        outcome.successes += kind == ctDownload;
        outcome.deleted = outcome.deleted || kind == ctDelete;
    };
    ftp.OnFailure = [&](bool& handled, TCmdType kind) {
        outcome.failures += kind == ctDownload;
        handled = true;
    };
    try {
        ftp.Connect();
        ftp.Download(QStringLiteral("nroRegAsist.ras"), local);
        ftp.Delete(QStringLiteral("x"));
        ftp.Disconnect();
    } catch (const Exception&) {
        // a closed connection before or after the download
    }
    return outcome;
}

void checkDownload(const Script& script, const ScriptedServer& server, const Outcome& outcome,
                   const QString& local) {
    fuzz::check(
        outcome.successes + outcome.failures == 1,
        "a download is reported once, as a success or a failure",
        QStringLiteral("%1 successes, %2 failures").arg(outcome.successes).arg(outcome.failures));
    if (server.repliesInStep)
        fuzz::check(!outcome.deleted, "a refused DELE is never taken for a success");
    if (outcome.successes == 0)
        return;
    fuzz::check(server.dataEndedOrderly, "a successful download's data connection ended orderly");
    const QByteArray written = QFile::exists(local) ? fuzz::readFile(local) : QByteArray();
    fuzz::check(QFile::exists(local) && written == server.dataSent,
                "a successful download wrote exactly the bytes the data connection carried",
                QStringLiteral("wrote %1 bytes, carried %2")
                    .arg(written.size())
                    .arg(server.dataSent.size()));
    if (!server.repliesInStep)
        return;
    fuzz::check(server.closingSent, "a successful download got its closing reply");
    const qint64 closingCode = replyCode(script.closingReply);
    fuzz::check(closingCode < 400 || closingCode > 599,
                "a download the server calls failed is no success",
                fromCp1252(script.closingReply));
    const qint64 announced = announcedSize(script.retrReply);
    fuzz::check(written.size() >= announced, "a successful download has the bytes announced",
                QStringLiteral("%1 of %2").arg(written.size()).arg(announced));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (g_control < 0) {
        g_control = fuzz::listenOnLoopback(g_controlPort);
        g_passive = fuzz::listenOnLoopback(g_passivePort);
    }
    const Script script = scriptOf(fuzz::bytesOf(data, size));
    const QString local = fuzz::scratch(QStringLiteral("nroRegAsist.ras"));
    QFile::remove(local);
    Outcome outcome;
    {
        ScriptedServer server(script);
        outcome = runSession(script, local);
        checkDownload(script, server, outcome, local);
    }
    // A passive connection the client made but the script never took.
    for (int fd; (fd = ::accept4(g_passive, nullptr, nullptr, SOCK_CLOEXEC)) >= 0;)
        fuzz::closeAbortively(fd);
    return 0;
}
