#include "platform/SingleInstance.h"

#include <QDir>
#include <QFile>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

// The lock is the kernel's lock on the file, not the file's contents: the
// kernel lets go when the holder dies, however it dies, so nothing has to be
// written to disk durably (a synced write cost tens of milliseconds at every
// start) and no stale lock is ever guessed at.

namespace {

// Opens the lock file; read-only when another user's file stands there
// (locking needs no write access).
int openLockFile(const QByteArray& path) {
    int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    return fd;
}

// Whether the locked descriptor is still the file at the path: a holder that
// ends removes the file, and a lock on the removed file guards nothing.
bool stillAtPath(int fd, const QByteArray& path) {
    struct stat opened {};
    struct stat named {};
    return ::fstat(fd, &opened) == 0 && ::stat(path.constData(), &named) == 0 &&
           opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

} // namespace

SingleInstance::SingleInstance(const QString& name)
    : m_path(QDir::temp().filePath(name + QStringLiteral(".lock"))) {}

SingleInstance::~SingleInstance() {
    if (m_fd < 0)
        return;
    // Removed while still locked, so that nobody locks the file on its way out.
    QFile::remove(m_path);
    ::close(m_fd);
}

bool SingleInstance::acquire() {
    if (m_fd >= 0)
        return true;
    const QByteArray path = QFile::encodeName(m_path);
    for (;;) {
        const int fd = openLockFile(path);
        if (fd < 0)
            return false;
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            ::close(fd);
            return false;
        }
        if (stillAtPath(fd, path)) {
            m_fd = fd;
            break;
        }
        ::close(fd); // the holder removed it meanwhile: lock the new one
    }
    // Who holds it, for a person who looks; the lock itself does not read it.
    const QByteArray holder = QByteArray::number(::getpid()) + '\n';
    if (::ftruncate(m_fd, 0) == 0)
        (void)!::write(m_fd, holder.constData(), size_t(holder.size()));
    return true;
}
