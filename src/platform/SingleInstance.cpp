#include "platform/SingleInstance.h"

#include "platform/FolderLock.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// The abstract address: a NUL, then the name, no terminator.
socklen_t abstractAddress(const QByteArray& name, sockaddr_un& address) {
    address = {};
    address.sun_family = AF_UNIX;
    const size_t size = std::min(size_t(name.size()), sizeof address.sun_path - 1);
    std::memcpy(address.sun_path + 1, name.constData(), size);
    return socklen_t(offsetof(sockaddr_un, sun_path) + 1 + size);
}

// The holder's process and user, as the kernel tells a client that connects.
QString holderOf(const sockaddr_un& address, socklen_t length) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return QStringLiteral("otro proceso");
    QString who = QStringLiteral("otro proceso");
    ucred peer{};
    socklen_t size = sizeof peer;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), length) == 0 &&
        ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0)
        who = processOwnerText(peer.pid, peer.uid);
    ::close(fd);
    return who;
}

} // namespace

SingleInstance::SingleInstance()
    : SingleInstance(qEnvironmentVariableIsEmpty("KIVO_INSTANCE")
                         ? QStringLiteral("MyAppName")
                         : qEnvironmentVariable("KIVO_INSTANCE")) {}

SingleInstance::SingleInstance(const QString& name) : m_name(name) {}

SingleInstance::~SingleInstance() {
    m_asks.reset();
    if (m_fd >= 0)
        ::close(m_fd);
}

bool SingleInstance::acquire() {
    if (m_fd >= 0)
        return true;
    sockaddr_un address{};
    const socklen_t length = abstractAddress(m_name.toUtf8(), address);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        m_holder = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0) {
        const int error = errno;
        ::close(fd);
        m_holder = error == EADDRINUSE ? holderOf(address, length)
                                       : QString::fromLocal8Bit(std::strerror(error));
        return false;
    }
    // Listening lets a second start ask who holds the name.
    ::listen(fd, 16);
    m_fd = fd;
    drainAsks();
    return true;
}

// Those asks are taken and closed, so that they never fill the queue.
void SingleInstance::drainAsks() {
    if (!QCoreApplication::instance())
        return;
    m_asks = std::make_unique<QSocketNotifier>(m_fd, QSocketNotifier::Read);
    QObject::connect(m_asks.get(), &QSocketNotifier::activated, [fd = m_fd] {
        int client;
        while ((client = ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK)) >= 0)
            ::close(client);
    });
}
