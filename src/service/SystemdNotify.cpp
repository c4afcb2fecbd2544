#include "service/SystemdNotify.h"

#include <systemd/sd-daemon.h>

void notifySystemd(const QByteArray& state) {
    sd_notify(0, state.constData());
}

int watchdogPingInterval() {
    uint64_t usec = 0;
    if (sd_watchdog_enabled(0, &usec) <= 0)
        return 0;
    return static_cast<int>(usec / 2000);
}
