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
    // How the data of a RETR travels: all at once; never (no data connection);
    // after a stranger's attempt; in ten slices; half of it, then a reset; one
    // byte every 100 ms; half of it, then nothing while the connection stays.
    enum class DataMode { Normal, Never, ForeignFirst, Slow, Reset, Trickle, Stall };

    ScriptedFtpServer();
    ~ScriptedFtpServer();

    quint16 port() const { return m_server.serverPort(); }

    QByteArray greeting = "220 scripted server ready\r\n";
    // Replies by command word (USER, PASS, DELE, ...) or by whole command. An
    // empty reply sends nothing (with closeAfterReply: closes without a word).
    QHash<QString, QByteArray> replies;
    // Lines sent again and again, every 50 ms, after a command (by word), or
    // after the greeting under the key "": a reply that never ends.
    QHash<QString, QByteArray> dripping;
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
    void drip(const QByteArray& line);
    void resetData(QTcpSocket* data, const QByteArray& content);
    void trickleData(QTcpSocket* data, const QByteArray& content);

    QTcpServer m_server;
    QTcpServer m_passive;
    QTcpSocket* m_control = nullptr;
    QByteArray m_pending;
    QHostAddress m_portAddress;
    quint16 m_portPort = 0;
    bool m_passiveMode = false;
    QByteArray m_passiveContent;
    bool m_passiveWaiting = false;
    QTimer m_drip;
};
