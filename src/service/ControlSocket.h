#pragma once

#include <QByteArray>
#include <QList>
#include <QLocalServer>
#include <QString>
#include <functional>

class QLocalSocket;

// The service's local socket in its working directory (ServiceLink names it),
// open to the same user only. A client sends one command line and reads one
// reply line; a line that is too long or never ends is refused. A client that
// sends "seguir" stays connected and gets every line broadcast.
class ControlSocket {
public:
    using Handler = std::function<QByteArray(const QByteArray& command)>;
    explicit ControlSocket(Handler handler);
    ~ControlSocket();
    ControlSocket(const ControlSocket&) = delete;
    ControlSocket& operator=(const ControlSocket&) = delete;

    // Listens, taking over a stale socket file; raises when it cannot.
    void listen(const QString& path);
    // One line to every follower.
    void broadcast(const QByteArray& line);

private:
    void serve(QLocalSocket* client);

    Handler m_handler;
    // Before the server: the server's clients leave this list as they go,
    // also while the server is being destroyed.
    QList<QLocalSocket*> m_followers;
    QLocalServer m_server;
};
