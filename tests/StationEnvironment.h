#pragma once

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcessEnvironment>
#include <QTemporaryDir>

// Points a station's own files into a directory: the registry file, the alias
// configuration and the XDG folders (settings, embedded databases).
inline void pointStationFilesAt(const QDir& dir) {
    qputenv("KIVO_REGISTRY", dir.filePath(QStringLiteral("registry.reg")).toUtf8());
    qputenv("KIVO_ALIASES", dir.filePath(QStringLiteral("aliases.ini")).toUtf8());
    qputenv("XDG_CONFIG_HOME", dir.filePath(QStringLiteral("config")).toUtf8());
    qputenv("XDG_DATA_HOME", dir.filePath(QStringLiteral("data")).toUtf8());
}

inline void pointStationFilesAt(const QTemporaryDir& dir) {
    pointStationFilesAt(QDir(dir.path()));
}

// The same, with the working directory "work" made current.
inline void useStationEnvironment(const QDir& dir) {
    pointStationFilesAt(dir);
    dir.mkpath(QStringLiteral("work"));
    QDir::setCurrent(dir.filePath(QStringLiteral("work")));
}

inline void useStationEnvironment(const QTemporaryDir& dir) {
    useStationEnvironment(QDir(dir.path()));
}

// A world of its own for a station started as a separate process: the folders
// "tmp", "work", "config" and "data", the station's files pointed into it, and
// an alias configuration that names no alias (both databases are the embedded
// defaults).
class StationWorld {
public:
    StationWorld() {
        for (const char* dir : {"tmp", "work", "config", "data"})
            QDir(m_dir.path()).mkpath(QString::fromLatin1(dir));
        pointStationFilesAt(m_dir);
        QFile(path("aliases.ini")).open(QIODevice::WriteOnly);
    }

    QString path(const char* name) const { return m_dir.filePath(QString::fromLatin1(name)); }

    // The machine-wide name of this world's stations, so that worlds run
    // side by side.
    QString instanceName() const {
        return QStringLiteral("kivo-test-") + QFileInfo(m_dir.path()).fileName();
    }
    // The station's state folder: recovery state, lock, control socket.
    QString statePath(const char* name) const {
        return path("data/kivo-ip/") + QString::fromLatin1(name);
    }

    // The environment of the station's process: its machine-wide name and
    // temporary folder of the world's own, and the points' ports when given.
    QProcessEnvironment environment(int ftpPort = 0, int paramPort = 0) const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TMPDIR"), path("tmp"));
        env.insert(QStringLiteral("KIVO_INSTANCE"), instanceName());
        if (ftpPort)
            env.insert(QStringLiteral("KIVO_FTP_PORT"), QString::number(ftpPort));
        if (paramPort)
            env.insert(QStringLiteral("KIVO_PARAM_PORT"), QString::number(paramPort));
        return env;
    }

private:
    QTemporaryDir m_dir;
};
