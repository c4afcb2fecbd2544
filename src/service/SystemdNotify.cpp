#include "service/SystemdNotify.h"

#include "platform/LibraryFunction.h"

#include <algorithm>
#include <climits>
#include <systemd/sd-daemon.h>

namespace {

// libsystemd is loaded at its first use, and only under systemd: a start from
// cron, a script or a shell does not pay for loading it and its dependencies.
struct Systemd {
    decltype(&::sd_notify) notify = nullptr;
    decltype(&::sd_watchdog_enabled) watchdogEnabled = nullptr;
};

const Systemd& systemd() {
    static const Systemd loaded = [] {
        Systemd functions;
        QLibrary library(QStringLiteral("systemd"), 0); // stays loaded
        if (library.load()) {
            resolveFunction(library, "sd_notify", functions.notify);
            resolveFunction(library, "sd_watchdog_enabled", functions.watchdogEnabled);
        }
        return functions;
    }();
    return loaded;
}

} // namespace

void notifySystemd(const QByteArray& state) {
    if (!qEnvironmentVariableIsSet("NOTIFY_SOCKET"))
        return;
    if (const auto notify = systemd().notify)
        notify(0, state.constData());
}

int watchdogPingInterval() {
    if (!qEnvironmentVariableIsSet("WATCHDOG_USEC"))
        return 0;
    const auto watchdogEnabled = systemd().watchdogEnabled;
    uint64_t usec = 0;
    if (!watchdogEnabled || watchdogEnabled(0, &usec) <= 0 || usec == 0)
        return 0;
    return static_cast<int>(std::clamp<uint64_t>(usec / 2000, 1, INT_MAX));
}
