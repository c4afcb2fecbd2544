// kivo-default-settings FILE: writes the settings of a new station, under the
// default server alias, to the registry file FILE. The package installs the
// result as /usr/share/kivo-ip/registry.reg and seeds the station's settings
// from it, so that a site finds every value there to edit, written by the
// same code that reads it.
#include "collect/SettingsCodec.h"
#include "platform/Registry.h"
#include "store/Aliases.h"

#include <QCoreApplication>
#include <QFile>
#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fputs("uso: kivo-default-settings ARCHIVO\n", stderr);
        return 2;
    }
    const QString path = QString::fromLocal8Bit(argv[1]);
    QFile::remove(path);
    qputenv("KIVO_REGISTRY", path.toLocal8Bit());
    TRegistry registry;
    if (!registry.OpenKey(settingsKey(AliasNames().server), true)) {
        std::fprintf(stderr, "kivo-default-settings: no se puede escribir %s\n", argv[1]);
        return 1;
    }
    writeSettings(registry, StationSettings{});
    registry.CloseKey();
    return 0;
}
