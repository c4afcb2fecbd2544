#pragma once

#include <QDir>
#include <QTemporaryDir>

// Points a station's own files into a temporary directory: the registry file,
// the alias configuration and the XDG folders (settings, embedded databases).
inline void pointStationFilesAt(const QTemporaryDir& dir) {
    qputenv("KIVO_REGISTRY", dir.filePath(QStringLiteral("registry.reg")).toUtf8());
    qputenv("KIVO_ALIASES", dir.filePath(QStringLiteral("aliases.ini")).toUtf8());
    qputenv("XDG_CONFIG_HOME", dir.filePath(QStringLiteral("config")).toUtf8());
    qputenv("XDG_DATA_HOME", dir.filePath(QStringLiteral("data")).toUtf8());
}

// The same, with the working directory "work" made current.
inline void useStationEnvironment(const QTemporaryDir& dir) {
    pointStationFilesAt(dir);
    QDir(dir.path()).mkpath(QStringLiteral("work"));
    QDir::setCurrent(dir.filePath(QStringLiteral("work")));
}
