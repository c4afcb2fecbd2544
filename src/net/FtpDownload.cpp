// Retrieving one file over a data connection, in active or passive mode.
#include "net/FtpClient.h"

#include "net/FtpConst.h"
#include "net/FtpReply.h"
#include "net/SockConst.h"

#include <QRegularExpression>
#include <utility>

namespace {

using FtpReply::continues;
using FtpReply::inRange;

bool isAsciiDigit(QChar c) {
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

} // namespace

// The size is the run of digits nearest before the first "BYTE" of the line,
// as in "150 Opening BINARY mode data connection for x (1234 bytes)".
qint64 TFtpClient::SizeFromReply(const QString& Line) {
    const qsizetype word = Line.indexOf(QLatin1String("BYTE"), 0, Qt::CaseInsensitive);
    if (word < 0)
        return 0;
    qsizetype last = word - 1;
    while (last >= 0 && !isAsciiDigit(Line.at(last)))
        --last;
    if (last < 0)
        return 0;
    qsizetype first = last;
    while (first > 0 && isAsciiDigit(Line.at(first - 1)))
        --first;
    bool ok = false;
    const int size = Line.mid(first, last - first + 1).toInt(&ok);
    return ok ? size : 0;
}

// The six numbers h1,h2,h3,h4,p1,p2 of a PASV reply. The text around them is
// not standardised (it may hold commas of its own), so the reply is scanned
// after its code for the first digit that begins six comma-separated numbers.
int TFtpClient::PassivePort(const QString& Reply) {
    static const QRegularExpression group(
        QStringLiteral("(?<![0-9])([0-9]+) *, *([0-9]+) *, *([0-9]+) *, *([0-9]+) *, *([0-9]+) *, "
                       "*([0-9]+)(?![0-9])"));
    const QRegularExpressionMatch match = group.match(Reply, 3);
    if (!match.hasMatch())
        return -1;
    for (int i = 1; i <= 6; ++i)
        if (match.capturedLength(i) > 3 || match.captured(i).toInt() > 255)
            return -1;
    const int port = match.captured(5).toInt() * 256 + match.captured(6).toInt();
    return port > 0 ? port : -1;
}

void TFtpClient::Download(const QString& RemoteFile, const QString& LocalFile) {
    bool succeeded = false;
    try {
        succeeded = DownloadSteps(RemoteFile, LocalFile.isEmpty() ? RemoteFile : LocalFile);
    } catch (const Exception&) {
        bool handled = false;
        if (OnFailure)
            OnFailure(handled, ctDownload);
        if (!handled)
            throw;
        return;
    }
    if (succeeded && OnSuccess)
        OnSuccess(ctDownload);
}

bool TFtpClient::FailDownload(const QString& Reply) {
    bool handled = false;
    if (OnFailure)
        OnFailure(handled, ctDownload);
    if (!handled)
        throw FTPException(Reply);
    return false;
}

bool TFtpClient::DownloadSteps(const QString& RemoteFile, const QString& LocalFile) {
    m_canceled = false;
    CheckConnection();
    if (!IsCommandLine(RemoteFile))
        throw FTPException(SockText::BadCharInCommand);
    DiscardPending();
    m_dataSocket = std::make_unique<TTcpSock>();
    m_dataSocket->TimeOut = TimeOut;
    m_dataSocket->OnPacketRecvd = OnPacketRecvd;
    if (m_halted)
        m_dataSocket->Halt();
    bool succeeded = false;
    try {
        succeeded = OpenDataConnection() && Retrieve(RemoteFile, LocalFile);
    } catch (...) {
        ReleaseDataSocket();
        SettleControl();
        throw;
    }
    ReleaseDataSocket();
    SettleControl();
    return succeeded;
}

bool TFtpClient::OpenDataConnection() {
    TTcpSock& data = *m_dataSocket;
    if (!Passive) {
        data.Port = 0;
        data.Listen(true);
        // Only the server we talk to may open the data connection.
        data.AcceptOnlyFrom = PeerAddress();
        const QString reply = Transaction(QLatin1String(FtpText::PortCmd) + LocalAddressForPort() +
                                          data.LocalPortForPort());
        return inRange(m_replyNumber, 301, 599) ? FailDownload(reply) : true;
    }
    const QString reply = Transaction(QLatin1String(FtpText::Pasv));
    if (m_replyNumber >= 500)
        return FailDownload(reply);
    const int port = PassivePort(reply);
    if (port < 0)
        return FailDownload(reply);
    // The address in the reply is not used: data comes from the host we know.
    data.Host = Host;
    data.Port = port;
    data.Connect();
    return true;
}

bool TFtpClient::Retrieve(const QString& RemoteFile, const QString& LocalFile) {
    TTcpSock& data = *m_dataSocket;
    ReportStatus(1, QLatin1String(FtpText::Retr) + RemoteFile);
    m_transferSize = 0;
    QString line;
    {
        ReplyBound bound(*this);
        const QString reply = TTcpSock::Transaction(QLatin1String(FtpText::Retr) + RemoteFile);
        m_replyOwed = true;
        if (reply.isEmpty())
            throw FTPException(FtpText::NoReply);
        if (inRange(m_replyNumber, 301, 599)) {
            ReadExtraLines(reply);
            m_replyOwed = false;
            return FailDownload(reply);
        }
        // From here on the server owes a closing reply, however the transfer ends.
        m_closingReplyOwed = true;
        // The size may come on any line of the reply: the first one that gives it counts.
        m_transferSize = SizeFromReply(reply);
        int lines = 1;
        for (line = reply; continues(line);) {
            line = NextReplyLine(lines);
            if (m_transferSize == 0)
                m_transferSize = SizeFromReply(line);
        }
        m_replyOwed = false;
    }
    if (!Passive)
        data.UseAcceptedSocket(data.Accept());
    const qint64 announced = m_transferSize;
    if (OnTransactionStart)
        OnTransactionStart(this);
    // A control connection that was cancelled or timed out must not end in
    // a "successful" download that wrote no file.
    if (m_canceled || m_timedOut)
        throw EAbortError(FtpText::TransferAborted);
    data.CaptureFile(LocalFile);
    if (OnTransactionStop)
        OnTransactionStop(this);
    data.CloseSocket();
    m_transferSize = data.BytesReceived();
    ReportStatus(1, QLatin1String(FtpText::Received) + QString::number(m_transferSize) +
                        QLatin1String(FtpText::Bytes));
    QString closing;
    if (!m_canceled && !m_timedOut)
        closing = ReadClosingReply();
    if (OnTransactionStop)
        OnTransactionStop(this);
    JudgeTransfer(closing, announced);
    return true;
}

// The closing reply of a RETR with its continuation lines.
QString TFtpClient::ReadClosingReply() {
    ReplyBound bound(*this);
    const QString closing = ReadLn();
    if (closing.isEmpty())
        throw FTPException(FtpText::NoReply);
    m_closingReplyOwed = false;
    ReportStatus(1, closing);
    if (!m_canceled && !m_timedOut)
        ReadExtraLines(closing);
    return closing;
}

// A transfer the server calls failed, or one shorter than announced, did not
// bring the whole file. A longer one did.
void TFtpClient::JudgeTransfer(const QString& Closing, qint64 Announced) {
    if (inRange(ReplyNumberOf(Closing), 400, 599))
        throw FTPException(Closing);
    if (Announced > 0 && m_transferSize < Announced)
        throw FTPException(
            QString::fromLatin1(FtpText::TransferIncomplete).arg(m_transferSize).arg(Announced));
}

void TFtpClient::ReleaseDataSocket() {
    m_lastDataBytes = m_dataSocket ? m_dataSocket->BytesReceived() : 0;
    m_dataSocket.reset();
}

// After a transfer the control connection must be in step again: the next
// command must never take a reply meant for this one. The closing reply that
// is still owed is read within the time-out. ABOR during a transfer may draw
// one reply or two; then, or when the owed reply does not come, replies can no
// longer be matched to commands, and the control connection is closed instead.
void TFtpClient::SettleControl() {
    if (m_replyOwed) {
        m_canceled = m_closingReplyOwed = false;
        return DropControlOutOfStep();
    }
    const bool canceled = std::exchange(m_canceled, false);
    bool owed = std::exchange(m_closingReplyOwed, false);
    bool inStep = false;
    m_settling = true;
    try {
        if (canceled) {
            Transaction(QLatin1String(FtpText::Abor)); // its reply is not judged
        } else if (owed) {
            ReadClosingReply();
            owed = false;
        }
        inStep = !owed;
    } catch (const Exception&) {
        m_canceled = false;
    }
    m_settling = false;
    m_closingReplyOwed = false;
    if (inStep || !m_connected)
        return;
    try {
        CloseSocket();
    } catch (const Exception&) {
        // the socket is replaced either way
    }
}
