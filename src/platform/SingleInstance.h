#pragma once

#include <QString>

// A system-wide named lock: a second start detects it, and a crashed process
// does not leave it stuck.
class SingleInstance {
public:
    explicit SingleInstance(const QString& name = QStringLiteral("MyAppName"));
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;
    // True when this process now holds the lock.
    bool acquire();

private:
    QString m_path;
    int m_fd = -1;
};
