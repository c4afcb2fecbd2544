#include "net/NetPorts.h"

#include <QString>
#include <QtGlobal>

namespace {
int portFromEnv(const char* name, int fallback) {
    bool ok = false;
    const int port = qEnvironmentVariable(name).trimmed().toInt(&ok);
    return ok && port > 0 && port < 65536 ? port : fallback;
}
} // namespace

int ftpPort() {
    return portFromEnv("KIVO_FTP_PORT", 21);
}

int paramPort() {
    return portFromEnv("KIVO_PARAM_PORT", 1024);
}
