#pragma once

#include "platform/FolderLock.h"
#include "platform/SingleInstance.h"

// The two locks whoever collects holds: the machine-wide name and the
// station's state folder. Taken in that order; holding both, a process is the
// one collector of its machine and of its state.
class CollectorLocks {
public:
    enum class Refusal { None, Machine, Folder };

    explicit CollectorLocks(const QString& stateFolder) : m_folder(stateFolder) {}

    Refusal acquire();
    // Who holds the lock that refused ("el proceso 12 del usuario kivo-ip").
    QString holder() const;

private:
    SingleInstance m_instance;
    FolderLock m_folder;
    Refusal m_refusal = Refusal::None;
};
