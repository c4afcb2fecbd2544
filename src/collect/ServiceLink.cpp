#include "collect/ServiceLink.h"

#include "store/Aliases.h"

#include <QDir>

namespace {
constexpr int kWaitMs = 5000;
}

QString ServiceLink::socketPath() {
    return QDir(AliasConfig::dataDirectory()).absoluteFilePath(QStringLiteral("kivo-ipd.sock"));
}

bool ServiceLink::ask(const QByteArray& command, QByteArray& reply) {
    QLocalSocket socket;
    socket.connectToServer(socketPath());
    if (!socket.waitForConnected(2000))
        return false;
    socket.write(command + '\n');
    if (!socket.waitForBytesWritten(2000))
        return false;
    while (!socket.canReadLine())
        if (!socket.waitForReadyRead(kWaitMs))
            return false;
    reply = socket.readLine().trimmed();
    return true;
}

ServiceFollower::ServiceFollower(std::function<void(const QByteArray&)> onLine,
                                 std::function<void()> onGone)
    : m_onLine(std::move(onLine)), m_onGone(std::move(onGone)) {
    QObject::connect(&m_socket, &QLocalSocket::readyRead, [this] {
        while (m_socket.canReadLine())
            m_onLine(m_socket.readLine().chopped(1));
    });
    QObject::connect(&m_socket, &QLocalSocket::disconnected, [this] { m_onGone(); });
    m_socket.connectToServer(ServiceLink::socketPath());
    if (!m_socket.waitForConnected(2000))
        return;
    // Registered once its "ok" is back: no line of a cycle started after
    // this is missed.
    m_socket.write("seguir\n");
    if (m_socket.waitForBytesWritten(2000))
        m_socket.waitForReadyRead(kWaitMs);
}
