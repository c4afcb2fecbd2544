#pragma once

#include <QString>

// The kernel's lock on a file in a folder: one process at a time works on
// what the folder holds. The kernel lets go when the holder dies, however it
// dies, so no stale lock is ever guessed at. The file says who holds it.
class FolderLock {
public:
    explicit FolderLock(const QString& folder);
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    // True when this process now holds the lock. The folder is made when missing.
    bool acquire();
    // Who holds it, for a person ("el proceso 12 del usuario kivo-ip"), once
    // acquire() has failed; the system's reason when the file could not be opened.
    const QString& holder() const { return m_holder; }
    const QString& path() const { return m_path; }

private:
    QString m_path;
    QString m_holder;
    int m_fd = -1;
};

// The user's name, or its number when the system has none for it.
QString userName(uint uid);

// "el proceso N del usuario NAME", for the process and user given.
QString processOwnerText(qint64 pid, uint uid);
