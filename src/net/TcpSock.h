#pragma once

#include "net/SockErrors.h"
#include "net/TimeoutTimer.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QDeadlineTimer>
#include <QString>
#include <QStringList>
#include <atomic>
#include <functional>
#include <memory>
#include <vector>

class QObject;
class QSocketNotifier;

// A TCP client socket for a single-threaded program. Its operations look
// blocking to the caller, but the socket is non-blocking underneath and every
// wait runs the thread's event loop, so timers and other handlers keep being
// served (and may call Cancel). Errors come as exceptions with fixed texts;
// progress comes as status texts with levels.
class TTcpSock {
public:
    TTcpSock();
    virtual ~TTcpSock();
    TTcpSock(const TTcpSock&) = delete;
    TTcpSock& operator=(const TTcpSock&) = delete;

    // Settings.
    QString Host;        // name or dotted IPv4 address
    int Port = 0;        // remote port; for Listen the local one (0 = any)
    int TimeOut = 0;     // milliseconds per waiting step; 0 = none
    int ReportLevel = 0; // highest status level delivered; 0 = none
    QString Proxy;       // when set, connect here instead of Host ...
    int ProxyPort = 0;   // ... at this port
    // When not 0, Accept takes connections only from this IPv4 address (host
    // byte order); others are closed at once and the wait goes on.
    quint32 AcceptOnlyFrom = 0;

    // Events.
    std::function<void(TTcpSock* Sender, const QString& Status)> OnStatus;
    std::function<void(TTcpSock* Sender)> OnConnect;
    std::function<void(TTcpSock* Sender)> OnDisconnect;
    std::function<void(TTcpSock* Sender)> OnConnectionFailed;
    std::function<void(bool& Handled)> OnInvalidHost;
    std::function<void(TTcpSock* Sender)> OnHostResolved;
    std::function<void(TTcpSock* Sender, quint16 Errno, const QString& Errmsg)> OnError;
    std::function<void(bool& Handled)> OnConnectionRequired;
    std::function<void(TTcpSock* Sender)> OnPacketRecvd;

    // Operations.
    virtual int Accept();
    virtual void Connect();
    virtual void Disconnect();
    virtual QString Transaction(const QString& Command);
    virtual void Abort();

    void CloseSocket();
    void Cancel();
    // Ends the wait in progress and every later one at once, for good: a
    // program that stops does not wait out a silent peer's time-out.
    virtual void Halt();
    void CheckConnection();
    void SendBuffer(QByteArrayView Data, quint16 Length);
    void Write(const QString& Text);
    void Writeln(const QString& Text);
    QByteArray Read(quint16 Count);
    QString ReadLn();
    void CaptureFile(const QString& FileName);
    bool DataAvailable();
    void ClearInput();
    void Listen(bool ByLookupMessage);
    // Makes a socket returned by Accept this component's socket, closing the
    // listening one.
    void UseAcceptedSocket(int Socket);
    void ResolveHost();
    void StartTimeout();
    void StopTimeout();
    void ReportStatus(int Level, const QString& Text);
    void CheckSocketError(int Tolerated);
    QString ErrorText(int Code);
    QString LocalAddressForPort() const; // "a,b,c,d" of the local address
    QString LocalPortForPort() const;    // ",hi,lo" of the local port

    // State.
    bool Connected() const { return m_connected; }
    bool Canceled() const { return m_canceled; }
    bool Halted() const { return m_halted; }
    // The last Connect got as far as a TCP connection (what came after it
    // may still have failed).
    bool Reached() const { return m_reached; }
    bool TimedOut() const { return m_timedOut; }
    bool LastEventOk() const { return m_lastEventOk; }
    bool EventArrived() const { return m_eventArrived; }
    int LastError() const { return m_lastError; }
    QString LastStatus() const { return m_lastStatus; }
    QString LastReply() const { return m_lastReply; }
    qint16 ReplyNumber() const { return m_replyNumber; }
    virtual qint64 BytesReceived() const { return m_bytesReceived; }
    const QStringList& WinsockInfo() const { return m_winsockInfo; }
    int Socket() const { return m_sock; }
    quint32 RemoteAddress() const { return m_remoteAddr; } // host byte order
    quint32 PeerAddress() const;                           // of the connected socket
    quint16 LocalPort() const;

    static constexpr int BufferSize = 65536;
    // A receive into a file fails when fewer bytes than this per second arrive
    // over a window of TimeOut: a peer that trickles cannot hold it for ever.
    static constexpr int MinTransferRate = 128;
    // True when the text can be sent as one command line (no CR, LF or NUL).
    static bool IsCommandLine(const QString& Text);
    // The leading decimal digits of a reply line (at most 10), 0 when none.
    static qint16 ReplyNumberOf(const QString& Line);

protected:
    // The connect notification arrived without error; fires OnConnect.
    virtual void ConnectNotified();
    // Called when data becomes readable; the data stays in the socket.
    std::function<void(TTcpSock* Sender)> OnDataReadable;

    // When set, no waiting step runs past it: the time-out of each step is cut
    // to what remains (a reply made of many lines gets one time-out in all).
    QDeadlineTimer m_stepDeadline{QDeadlineTimer::Forever};
    // A command has been sent and its reply not read whole: what comes next
    // on the connection belongs to it.
    bool m_replyOwed = false;
    bool m_connected = false;
    bool m_canceled = false;
    bool m_halted = false;
    bool m_reached = false;
    bool m_timedOut = false;
    QString m_lastReply;
    qint16 m_replyNumber = 0;

private:
    // Keeps the time-out timer running for one waiting step, and stops it
    // however the step ends.
    class TimeoutScope {
    public:
        explicit TimeoutScope(TTcpSock& sock) : m_sock(sock) { m_sock.StartTimeout(); }
        ~TimeoutScope() { m_sock.StopTimeout(); }
        TimeoutScope(const TimeoutScope&) = delete;
        TimeoutScope& operator=(const TimeoutScope&) = delete;

    private:
        TTcpSock& m_sock;
    };
    // A step that ended because of Cancel clears the request and raises.
    void ThrowIfCanceled();

    bool CreateSocket(bool lingerZero);
    void AttachNotifiers();
    void ArmRead();
    void ArmWrite();
    void WaitForEvents();
    void HandleReadable();
    void HandleWritable();
    void HandleTimeout();
    void HandleLookup(int lookupId, quint32 address, bool ok);
    void StartLookup(const QString& name);
    void StartConnect(int port);
    void WaitConnected();
    void SendAll(QByteArrayView Data, quint16 Length);
    QByteArray ReadLineBytes();
    QByteArray TakeBytes(qsizetype count);
    QByteArray ReadCount(quint16 Count);
    void CaptureInto(class QFile& file);
    [[noreturn]] void RaiseSocketError(int code);
    bool PeerHasClosed() const;
    bool NextAcceptedFrom(int& accepted);
    void FillWinsockInfo();

    int m_sock = -1;
    bool m_lastEventOk = true;
    bool m_eventArrived = false;
    bool m_destroying = false;
    bool m_connecting = false;
    bool m_listening = false;
    bool m_listenByLookup = false;
    int m_lookupId = -1;
    quint32 m_lookupAddr = 0;
    quint32 m_remoteAddr = 0;
    int m_lastError = 0;
    int m_peekError = 0;  // of the last DataAvailable: 0, or the Winsock code
    int m_closeError = 0; // the peer's close was a reset (its Winsock code)
    QString m_lastStatus;
    qint64 m_bytesReceived = 0;
    QStringList m_winsockInfo;
    std::vector<char> m_buf;
    std::unique_ptr<QObject> m_context;
    std::unique_ptr<QSocketNotifier> m_readNotifier;
    std::unique_ptr<QSocketNotifier> m_writeNotifier;
    TTimeoutTimer m_timer;

    static std::atomic<int> s_winsockUseCount; // components may live on several threads
};
