#include "service/SystemdNotify.h"

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

// The notification protocol is one datagram per message to the socket that
// systemd names in NOTIFY_SOCKET (a leading '@' marks the abstract namespace).
// Speaking it directly spares the service loading libsystemd and its
// dependencies at every start.
void notifySystemd(const QByteArray& state) {
    const QByteArray path = qgetenv("NOTIFY_SOCKET");
    sockaddr_un address{};
    if (path.isEmpty() || path.size() >= qsizetype(sizeof(address.sun_path)) ||
        (path[0] != '/' && path[0] != '@'))
        return;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
    if (path[0] == '@')
        address.sun_path[0] = '\0';
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return;
    const auto length = socklen_t(offsetof(sockaddr_un, sun_path) + size_t(path.size()));
    // Nobody to tell about a lost datagram: systemd notices a missing READY=1
    // or watchdog ping on its own.
    (void)::sendto(fd, state.constData(), size_t(state.size()), MSG_NOSIGNAL,
                   reinterpret_cast<const sockaddr*>(&address), length);
    ::close(fd);
}

int watchdogPingInterval() {
    const QByteArray pid = qgetenv("WATCHDOG_PID");
    if (!pid.isEmpty() && pid.toLongLong() != ::getpid())
        return 0; // meant for another process of the unit
    bool ok = false;
    const qulonglong usec = qgetenv("WATCHDOG_USEC").toULongLong(&ok);
    if (!ok || usec == 0)
        return 0;
    return static_cast<int>(std::clamp<qulonglong>(usec / 2000, 1, INT_MAX));
}
