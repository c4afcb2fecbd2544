#include "service/ControlSocket.h"

#include "platform/Errors.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QTimer>
#include <sys/stat.h>

namespace {
constexpr qint64 kMaxLine = 4096; // a manual download names its file
constexpr int kClientWaitMs = 5000;
} // namespace

ControlSocket::ControlSocket(Handler handler) : m_handler(std::move(handler)) {
    // The service's group watches and commands the service (the window as its
    // monitor, --status); the state folder keeps everyone else out.
    m_server.setSocketOptions(QLocalServer::UserAccessOption | QLocalServer::GroupAccessOption);
    QObject::connect(&m_server, &QLocalServer::newConnection, [this] {
        while (QLocalSocket* client = m_server.nextPendingConnection())
            serve(client);
    });
}

// The followers are told nothing more: their sockets close with the server.
ControlSocket::~ControlSocket() {
    for (QLocalSocket* follower : std::as_const(m_followers))
        follower->disconnect();
    m_followers.clear();
}

void ControlSocket::listen(const QString& path) {
    QDir().mkpath(QFileInfo(path).path());
    // A file that is not a socket is somebody's: it stays, and is named. (The
    // server would put its socket over it.)
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) == 0 && !S_ISSOCK(st.st_mode))
        throw Exception(QStringLiteral("%1 no es un socket: muévalo, o bórrelo si es de esta "
                                       "estación")
                            .arg(path));
    if (m_server.listen(path))
        return;
    // A socket left by a service that died: nobody answers on it.
    QLocalSocket probe;
    probe.connectToServer(path);
    if (!probe.waitForConnected(1000)) {
        QLocalServer::removeServer(path);
        if (m_server.listen(path))
            return;
    }
    throw Exception(QStringLiteral("No se puede abrir el socket de control %1: %2")
                        .arg(path, m_server.errorString()));
}

void ControlSocket::serve(QLocalSocket* client) {
    QObject::connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
    // A client that never finishes its line is dropped.
    QTimer::singleShot(kClientWaitMs, client, [this, client] {
        if (!m_followers.contains(client))
            client->abort();
    });
    QObject::connect(client, &QLocalSocket::readyRead, client, [this, client] {
        if (!client->canReadLine()) {
            if (client->bytesAvailable() > kMaxLine) {
                client->write("error: orden demasiado larga\n");
                client->disconnectFromServer();
            }
            return;
        }
        const QByteArray line = client->readLine(kMaxLine + 1).trimmed();
        if (line == "seguir") {
            // Stays until it goes: every broadcast line reaches it.
            m_followers << client;
            QObject::connect(client, &QLocalSocket::disconnected, client,
                             [this, client] { m_followers.removeAll(client); });
            client->disconnect(client, &QLocalSocket::readyRead, nullptr, nullptr);
            client->write("ok\n");
            return;
        }
        client->write(m_handler(line) + '\n');
        client->disconnectFromServer();
    });
}

void ControlSocket::broadcast(const QByteArray& line) {
    for (QLocalSocket* follower : std::as_const(m_followers))
        follower->write(line + '\n');
}
