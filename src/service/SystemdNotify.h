#pragma once

#include <QByteArray>

// Tells systemd about the service ("READY=1", "STATUS=...", "WATCHDOG=1");
// does nothing when the service was not started by systemd.
void notifySystemd(const QByteArray& state);
// Half the watchdog interval systemd asked for, in milliseconds; 0 when none.
int watchdogPingInterval();
