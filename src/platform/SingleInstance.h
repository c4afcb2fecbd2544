#pragma once

#include <QString>
#include <memory>

class QLockFile;

// A system-wide named lock: a second start detects it, and a crashed process
// does not leave it stuck.
class SingleInstance {
public:
    explicit SingleInstance(const QString& name = QStringLiteral("MyAppName"));
    ~SingleInstance();
    // True when this process now holds the lock.
    bool acquire();

private:
    std::unique_ptr<QLockFile> m_lock;
};
