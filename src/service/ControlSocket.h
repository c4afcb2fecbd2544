#pragma once

#include <QByteArray>
#include <QLocalServer>
#include <QString>
#include <functional>

// The service's local socket in its working directory ("kivo-ipd.sock"),
// open to the same user only. A client sends one command line and reads one
// reply line; a line that is too long or never ends is refused.
class ControlSocket {
public:
    using Handler = std::function<QByteArray(const QByteArray& command)>;
    explicit ControlSocket(Handler handler);

    // Listens, taking over a stale socket file; raises when it cannot.
    void listen(const QString& path);

    static QString pathIn(const QString& workDir);
    // One command to the service of a working directory and its reply;
    // false when no service answers there.
    static bool ask(const QString& workDir, const QByteArray& command, QByteArray& reply);

private:
    void serve(class QLocalSocket* client);

    Handler m_handler;
    QLocalServer m_server;
};
