#pragma once

#include "platform/ErrorBox.h"

#include <QDir>
#include <QStringList>
#include <QTemporaryDir>

// A station's world in a temporary directory: registry, alias configuration,
// data and working directory, and the boxes a person would have been shown.
struct Box {
    QString caption;
    QString text;
};

class StationFixture {
public:
    StationFixture() {
        const QString root = m_dir.path();
        qputenv("KIVO_REGISTRY", (root + "/registry.reg").toUtf8());
        qputenv("KIVO_ALIASES", (root + "/aliases.ini").toUtf8());
        qputenv("XDG_CONFIG_HOME", (root + "/config").toUtf8());
        qputenv("XDG_DATA_HOME", (root + "/data").toUtf8());
        QDir(root).mkpath("work");
        m_previousDir = QDir::currentPath();
        QDir::setCurrent(root + "/work");
        setBoxPresenter([this](const QString& caption, const QString& text, BoxIcon) {
            boxes.append({caption, text});
        });
    }
    ~StationFixture() {
        setBoxPresenter({});
        QDir::setCurrent(m_previousDir);
    }

    QString path(const QString& name) const { return m_dir.filePath(name); }
    QString workPath(const QString& name) const { return m_dir.filePath("work/" + name); }

    QList<Box> boxes;

private:
    QTemporaryDir m_dir;
    QString m_previousDir;
};
