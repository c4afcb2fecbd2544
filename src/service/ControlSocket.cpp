#include "service/ControlSocket.h"

#include "platform/Errors.h"

#include <QDir>
#include <QLocalSocket>
#include <QTimer>

namespace {
constexpr qint64 kMaxLine = 256;
constexpr int kClientWaitMs = 5000;
} // namespace

ControlSocket::ControlSocket(Handler handler) : m_handler(std::move(handler)) {
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    QObject::connect(&m_server, &QLocalServer::newConnection, [this] {
        while (QLocalSocket* client = m_server.nextPendingConnection())
            serve(client);
    });
}

QString ControlSocket::pathIn(const QString& workDir) {
    return QDir(workDir).absoluteFilePath(QStringLiteral("kivo-ipd.sock"));
}

void ControlSocket::listen(const QString& path) {
    if (m_server.listen(path))
        return;
    // A file left by a service that died: nobody answers on it.
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
    QTimer::singleShot(kClientWaitMs, client, [client] { client->abort(); });
    QObject::connect(client, &QLocalSocket::readyRead, client, [this, client] {
        if (!client->canReadLine()) {
            if (client->bytesAvailable() > kMaxLine) {
                client->write("error: orden demasiado larga\n");
                client->disconnectFromServer();
            }
            return;
        }
        const QByteArray line = client->readLine(kMaxLine + 1).trimmed();
        client->write(m_handler(line) + '\n');
        client->disconnectFromServer();
    });
}

bool ControlSocket::ask(const QString& workDir, const QByteArray& command, QByteArray& reply) {
    QLocalSocket socket;
    socket.connectToServer(pathIn(workDir));
    if (!socket.waitForConnected(2000))
        return false;
    socket.write(command + '\n');
    if (!socket.waitForBytesWritten(2000))
        return false;
    while (!socket.canReadLine())
        if (!socket.waitForReadyRead(kClientWaitMs))
            return false;
    reply = socket.readLine().trimmed();
    return true;
}
