#include "platform/SingleInstance.h"

#include <QDir>
#include <QLockFile>

SingleInstance::SingleInstance(const QString& name)
    : m_lock(std::make_unique<QLockFile>(QDir::temp().filePath(name + QStringLiteral(".lock")))) {
    // Only a lock whose process has died is stale; age alone never frees a live one.
    m_lock->setStaleLockTime(0);
}

SingleInstance::~SingleInstance() = default;

bool SingleInstance::acquire() {
    return m_lock->tryLock(0);
}
