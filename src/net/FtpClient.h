#pragma once

#include "net/TcpSock.h"

#include <memory>

// Kind of an FTP operation, as reported to OnFailure, OnSuccess and
// OnUnSupportedFunction. The values are compared by callers and must stay.
enum TCmdType {
    ctChangeDir = 0,
    ctMakeDir = 1,
    ctDelete = 2,
    ctRemoveDir = 3,
    ctDownload = 9,
    ctCommand = 14,
    ctCurrentDir = 15,
};

// How the target host is named to an FTP proxy.
enum TFirewallType { FTUser, FtOpen, FtSite };

// A small FTP client: log in, send a command, delete, download, log out.
// The control connection is the component's own socket; each download opens
// a second TTcpSock for its data. Every operation blocks its caller while the
// event loop keeps running.
class TFtpClient : public TTcpSock {
public:
    TFtpClient();
    ~TFtpClient() override;

    QString UserID;
    QString Password;
    bool Passive = false; // false: the server connects to us for data (PORT)
    TFirewallType FirewallType = FTUser;
    bool FWAuthenticate = false;
    QString FWUserID;
    QString FWPassword;
    int Vendor = 2411;      // stored only
    bool ParseList = false; // stored only
    // After a time-out, the most the goodbye (QUIT) waits for its reply, in
    // milliseconds; 0: TimeOut, as for any other reply.
    int GoodbyeTimeOut = 0;

    // Handled comes in false; setting it turns the failure into a normal return.
    std::function<void(bool& Handled, TCmdType Trans_Type)> OnFailure;
    std::function<void(TCmdType Trans_Type)> OnSuccess;
    std::function<void(TCmdType Trans_Type)> OnUnSupportedFunction;
    std::function<void(TTcpSock* Sender)> OnTransactionStart;
    std::function<void(TTcpSock* Sender)> OnTransactionStop;
    std::function<void(bool& Handled)> OnAuthenticationNeeded;

    void Connect() override;
    void Disconnect() override;
    QString Transaction(const QString& Command) override;
    void Abort() override;
    void Halt() override;

    void SendCommand(const QString& Command);
    void Delete(const QString& FileName);
    void Download(const QString& RemoteFile, const QString& LocalFile = QString());
    void ReadExtraLines(const QString& Line);

    // During a download: bytes received so far; afterwards those of the last one.
    qint64 BytesReceived() const override;
    // During a download the size the server announced (0 if none); after it
    // the count actually received.
    qint64 TransferSize() const { return m_transferSize; }
    TTcpSock* DataSocket() const { return m_dataSocket.get(); }

    // The most lines one reply may have, continuation lines included.
    static constexpr int MaxReplyLines = 1000;

    static TCmdType CommandType(const QString& Command);
    static qint64 SizeFromReply(const QString& Line);
    // The data port of a PASV reply, -1 when the reply does not give one.
    static int PassivePort(const QString& Reply);

protected:
    void ConnectNotified() override {} // OnConnect means "logged in" here

private:
    // One reply, with all its lines, gets one time-out in all.
    class ReplyBound {
    public:
        explicit ReplyBound(TFtpClient& ftp);
        ~ReplyBound();
        ReplyBound(const ReplyBound&) = delete;
        ReplyBound& operator=(const ReplyBound&) = delete;

    private:
        TFtpClient& m_ftp;
        QDeadlineTimer m_outer;
    };

    QString NextReplyLine(int& lines);
    void Login();
    QString ReadGreeting();
    QString LoginStep(const QString& Command);
    void RefuseLogin(const QString& Reply);
    void DiscardPending();
    void DropControlOutOfStep();
    void FailCommand(TCmdType Kind, const QString& Text);
    bool DownloadSteps(const QString& RemoteFile, const QString& LocalFile);
    bool OpenDataConnection();
    bool Retrieve(const QString& RemoteFile, const QString& LocalFile);
    bool FailDownload(const QString& Reply);
    QString ReadClosingReply();
    void JudgeTransfer(const QString& Closing, qint64 Announced);
    void ReleaseDataSocket();
    void SettleControl();

    std::unique_ptr<TTcpSock> m_dataSocket;
    qint64 m_transferSize = 0;
    qint64 m_lastDataBytes = 0;
    // The server owes the closing reply of a RETR that nobody has read yet.
    bool m_closingReplyOwed = false;
    // While the control connection is brought back in step, the time-out
    // cancels its wait too.
    bool m_settling = false;
};
