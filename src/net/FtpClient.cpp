#include "net/FtpClient.h"

#include "net/FtpConst.h"
#include "net/FtpReply.h"
#include "net/SockConst.h"

#include <QScopeGuard>
#include <utility>

using FtpReply::continues;
using FtpReply::inRange;

TFtpClient::TFtpClient() {
    Port = 21;
    Vendor = 2411;
    // Reply data stays in the socket until a read step takes it.
    OnDataReadable = [](TTcpSock*) {};
}

TFtpClient::~TFtpClient() {
    m_dataSocket.reset();
}

void TFtpClient::Abort() {
    if (m_dataSocket)
        m_dataSocket->Cancel();
    if (m_settling)
        Cancel();
}

// The data connection's waits end with the control connection's.
void TFtpClient::Halt() {
    TTcpSock::Halt();
    if (m_dataSocket)
        m_dataSocket->Halt();
}

TFtpClient::ReplyBound::ReplyBound(TFtpClient& ftp) : m_ftp(ftp), m_outer(ftp.m_stepDeadline) {
    if (ftp.TimeOut > 0 && m_outer.isForever())
        ftp.m_stepDeadline = QDeadlineTimer(ftp.TimeOut);
}

TFtpClient::ReplyBound::~ReplyBound() {
    m_ftp.m_stepDeadline = m_outer;
}

// One more line of a reply that goes on. A server that keeps a reply going
// line by line is stopped by the reply's time-out and its most lines.
QString TFtpClient::NextReplyLine(int& lines) {
    if (++lines > MaxReplyLines)
        throw FTPException(QString::fromLatin1(FtpText::ReplyTooLong).arg(MaxReplyLines));
    if (m_stepDeadline.hasExpired())
        throw FTPException(FtpText::ReplyTooSlow);
    const QString line = ReadLn();
    // An empty line here means the server closed mid-reply.
    if (line.isEmpty())
        throw FTPException(FtpText::ClosedInReply);
    ReportStatus(1, line);
    return line;
}

qint64 TFtpClient::BytesReceived() const {
    return m_dataSocket ? m_dataSocket->BytesReceived() : m_lastDataBytes;
}

TCmdType TFtpClient::CommandType(const QString& Command) {
    const qsizetype blank = Command.indexOf(QLatin1Char(' '));
    const QString word = blank < 0 ? Command : Command.left(blank);
    if (word == QLatin1String(FtpText::Cwd))
        return ctChangeDir;
    if (word == QLatin1String(FtpText::DeleWord))
        return ctDelete;
    if (word == QLatin1String(FtpText::Mkd))
        return ctMakeDir;
    if (word == QLatin1String(FtpText::Rmd))
        return ctRemoveDir;
    if (Command == QLatin1String(FtpText::Pwd))
        return ctCurrentDir;
    return ctCommand;
}

void TFtpClient::ReadExtraLines(const QString& Line) {
    ReplyBound bound(*this);
    int lines = 1;
    for (QString line = Line; continues(line);)
        line = NextReplyLine(lines);
}

QString TFtpClient::Transaction(const QString& Command) {
    ReplyBound bound(*this);
    const QString first = TTcpSock::Transaction(Command);
    m_replyOwed = true;
    if (first.isEmpty())
        throw FTPException(FtpText::NoReply);
    ReadExtraLines(first);
    m_replyOwed = false;
    return first;
}

// A reply that was not read whole would be taken by the next command as its
// own: the control connection is closed instead.
void TFtpClient::DropControlOutOfStep() {
    if (!std::exchange(m_replyOwed, false) || !m_connected)
        return;
    try {
        CloseSocket();
    } catch (const Exception&) {
        // the socket is replaced either way
    }
}

void TFtpClient::DiscardPending() {
    if (DataAvailable())
        Read(0);
}

void TFtpClient::Connect() {
    m_canceled = false;
    if (m_connected)
        return;
    for (const QString* field : {&UserID, &Password, &FWUserID, &FWPassword, &Host})
        if (!IsCommandLine(*field))
            throw FTPException(SockText::BadCharInCommand);
    m_replyOwed = m_closingReplyOwed = false; // a new session owes nothing
    ClearInput();
    TTcpSock::Connect();
    try {
        Login();
    } catch (...) {
        try {
            Disconnect();
        } catch (const Exception&) {
            // the login error is the one the caller needs to see
        }
        ReportStatus(1, QLatin1String(FtpText::Disconnected));
        throw;
    }
}

QString TFtpClient::ReadGreeting() {
    ReplyBound bound(*this);
    int lines = 0;
    QString line;
    do
        line = NextReplyLine(lines);
    while (continues(line));
    m_lastReply = line;
    m_replyNumber = ReplyNumberOf(line);
    return line;
}

void TFtpClient::RefuseLogin(const QString& Reply) {
    if (OnConnectionFailed)
        OnConnectionFailed(this);
    throw FTPException(Reply);
}

// Sends USER or PASS; codes 401 to 599 refuse the login.
QString TFtpClient::LoginStep(const QString& Command) {
    const QString reply = Transaction(Command);
    if (inRange(m_replyNumber, 401, 599))
        RefuseLogin(reply);
    return reply;
}

void TFtpClient::Login() {
    const QString greeting = ReadGreeting();
    if (m_replyNumber > 400)
        RefuseLogin(greeting);
    if (FWAuthenticate) {
        LoginStep(QLatin1String(FtpText::User) + FWUserID);
        if (m_replyNumber == 331) {
            ReportStatus(1, QLatin1String(FtpText::Pass));
            LoginStep(QLatin1String(FtpText::Pass) + FWPassword);
        }
    }
    if ((UserID.isEmpty() || Password.isEmpty()) && OnAuthenticationNeeded) {
        bool handled = false;
        OnAuthenticationNeeded(handled);
    }
    if (!Proxy.isEmpty()) {
        // Naming the target host to the proxy; its reply is not judged.
        if (FirewallType == FTUser)
            Transaction(QLatin1String(FtpText::User) + UserID + QLatin1Char('@') + Host);
        else if (FirewallType == FtOpen)
            Transaction(QLatin1String(FtpText::Open) + Host);
        else
            Transaction(QLatin1String(FtpText::Site) + Host);
    }
    if (Proxy.isEmpty() || FirewallType != FTUser) {
        ReportStatus(1, QLatin1String(FtpText::User) + UserID);
        LoginStep(QLatin1String(FtpText::User) + UserID);
    }
    if (m_replyNumber == 331) {
        // the password itself is never reported
        ReportStatus(1, QLatin1String(FtpText::Pass));
        LoginStep(QLatin1String(FtpText::Pass) + Password);
    }
    if (OnConnect)
        OnConnect(this);
}

void TFtpClient::Disconnect() {
    m_canceled = false;
    if (!m_connected)
        return;
    try {
        ReportStatus(1, QLatin1String(FtpText::Quit));
        DiscardPending();
        // A server may close without answering QUIT: that is no failure.
        // One that has just let a reply time out is not waited on for long.
        const QDeadlineTimer outer = m_stepDeadline;
        const auto restore = qScopeGuard([&] { m_stepDeadline = outer; });
        if (m_timedOut && GoodbyeTimeOut > 0 && outer.isForever())
            m_stepDeadline = QDeadlineTimer(GoodbyeTimeOut); // the wait is TimeOut at most
        ReplyBound bound(*this);
        const QString reply = TTcpSock::Transaction(QLatin1String(FtpText::Quit));
        ReadExtraLines(reply);
        if (inRange(m_replyNumber, 301, 599))
            throw FTPException(reply);
    } catch (...) {
        TTcpSock::Disconnect();
        throw;
    }
    TTcpSock::Disconnect();
}

void TFtpClient::FailCommand(TCmdType Kind, const QString& Text) {
    bool handled = false;
    if (OnFailure)
        OnFailure(handled, Kind);
    if (!handled)
        throw FTPException(Text);
}

void TFtpClient::SendCommand(const QString& Command) {
    const TCmdType kind = CommandType(Command);
    if (!IsCommandLine(Command)) {
        FailCommand(kind, QLatin1String(SockText::BadCharInCommand));
        return;
    }
    m_canceled = false;
    CheckConnection();
    ReportStatus(1, Command);
    DiscardPending();
    QString reply;
    try {
        reply = Transaction(Command);
    } catch (const FTPException& e) {
        // no complete reply: the command cannot have succeeded
        DropControlOutOfStep();
        FailCommand(kind, e.message());
        return;
    } catch (...) {
        DropControlOutOfStep();
        throw;
    }
    if (inRange(m_replyNumber, 400, 599)) {
        if (inRange(m_replyNumber, 500, 502) && OnUnSupportedFunction)
            OnUnSupportedFunction(kind);
        FailCommand(kind, reply);
        return;
    }
    if (OnSuccess)
        OnSuccess(kind);
}

void TFtpClient::Delete(const QString& FileName) {
    SendCommand(QLatin1String(FtpText::Dele) + FileName);
}
