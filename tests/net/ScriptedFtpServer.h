#pragma once

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <functional>

// An FTP server inside the test process, on the same event loop as the
// client, that answers as a test tells it: odd replies no real server gives
// on demand. It serves one control connection at a time.
class ScriptedFtpServer {
public:
    enum class DataMode { Normal, Never, ForeignFirst, Slow };

    ScriptedFtpServer();
    ~ScriptedFtpServer();

    quint16 port() const { return m_server.serverPort(); }

    QByteArray greeting = "220 scripted server ready\r\n";
    // Replies by command word (USER, PASS, DELE, ...) or by whole command.
    QHash<QString, QByteArray> replies;
    QHash<QString, QByteArray> files;
    QByteArray retrReply; // empty: "150 ... (n bytes)"
    QByteArray closingReply = "226 Transfer complete.\r\n";
    DataMode dataMode = DataMode::Normal;
    bool closeAfterReply = false;    // close the control connection after a scripted reply
    bool closeAfterGreeting = false; // close right after the greeting

    QStringList commands;         // every command line received, without CR LF
    bool foreignRejected = false; // the foreign data connection was closed by the client
    bool dataConnected = false;

private:
    void onConnection();
    void onControlData();
    void handle(const QString& line);
    void send(const QByteArray& bytes);
    void startRetr(const QByteArray& content);
    void openActiveData(const QByteArray& content, const QHostAddress& from);
    void sendData(QTcpSocket* data, const QByteArray& content);
    void finishData();

    QTcpServer m_server;
    QTcpServer m_passive;
    QTcpSocket* m_control = nullptr;
    QByteArray m_pending;
    QHostAddress m_portAddress;
    quint16 m_portPort = 0;
    bool m_passiveMode = false;
    QByteArray m_passiveContent;
    bool m_passiveWaiting = false;
};
