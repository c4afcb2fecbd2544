#pragma once

#include <QDir>
#include <QTemporaryDir>

// A station's own files in a temporary directory: the registry file, the alias
// configuration, the XDG folders, and the working directory "work", made
// current.
inline void useStationEnvironment(const QTemporaryDir& dir) {
    QDir(dir.path()).mkpath(QStringLiteral("work"));
    qputenv("KIVO_REGISTRY", dir.filePath(QStringLiteral("registry.reg")).toUtf8());
    qputenv("KIVO_ALIASES", dir.filePath(QStringLiteral("aliases.ini")).toUtf8());
    qputenv("XDG_CONFIG_HOME", dir.filePath(QStringLiteral("config")).toUtf8());
    qputenv("XDG_DATA_HOME", dir.filePath(QStringLiteral("data")).toUtf8());
    QDir::setCurrent(dir.filePath(QStringLiteral("work")));
}
