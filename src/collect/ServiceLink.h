#pragma once

#include <QByteArray>
#include <QLocalSocket>
#include <QString>
#include <functional>

// The client side of the service's control socket ("kivo-ipd.sock" in the
// station's state folder, beside the recovery state): one command line, one
// reply line; "seguir" keeps the connection open and the service sends its
// memo lines ("memo ..."), status texts ("estado ...") and memo clearings
// ("limpiar") as they happen. A window finds the service that works on its
// state, wherever either was started.
namespace ServiceLink {
QString socketPath();
// False when no service answers there.
bool ask(const QByteArray& command, QByteArray& reply);
} // namespace ServiceLink

// Follows a running service: each line it sends reaches onLine; onGone is
// called once when the connection ends (the service stopped or died).
class ServiceFollower {
public:
    ServiceFollower(std::function<void(const QByteArray& line)> onLine,
                    std::function<void()> onGone);
    bool connected() const { return m_socket.state() == QLocalSocket::ConnectedState; }

private:
    QLocalSocket m_socket;
    std::function<void(const QByteArray&)> m_onLine;
    std::function<void()> m_onGone;
};
