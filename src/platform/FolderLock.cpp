#include "platform/FolderLock.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Whether the locked descriptor is still the file at the path: a holder that
// ends removes the file, and a lock on the removed file guards nothing.
bool stillAtPath(int fd, const QByteArray& path) {
    struct stat opened {};
    struct stat named {};
    return ::fstat(fd, &opened) == 0 && ::stat(path.constData(), &named) == 0 &&
           opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

} // namespace

QString userName(uint uid) {
    struct passwd entry {};
    struct passwd* found = nullptr;
    char buffer[4096];
    if (::getpwuid_r(uid, &entry, buffer, sizeof buffer, &found) == 0 && found)
        return QString::fromLocal8Bit(found->pw_name);
    return QString::number(uid);
}

QString processOwnerText(qint64 pid, uint uid) {
    return QStringLiteral("el proceso %1 del usuario %2").arg(pid).arg(userName(uid));
}

FolderLock::FolderLock(const QString& folder)
    : m_path(QDir(folder).filePath(QStringLiteral("kivo-ip.lock"))) {}

FolderLock::~FolderLock() {
    if (m_fd < 0)
        return;
    // Removed while still locked, so that nobody locks the file on its way out.
    QFile::remove(m_path);
    ::close(m_fd);
}

bool FolderLock::acquire() {
    if (m_fd >= 0)
        return true;
    QDir().mkpath(QFileInfo(m_path).path());
    const QByteArray path = QFile::encodeName(m_path);
    for (;;) {
        const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0660);
        if (fd < 0) {
            m_holder = QString::fromLocal8Bit(std::strerror(errno));
            return false;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            QFile file(m_path);
            const QList<QByteArray> who = file.open(QIODevice::ReadOnly)
                                              ? file.readAll().trimmed().split(' ')
                                              : QList<QByteArray>();
            m_holder = who.size() == 2 ? processOwnerText(who[0].toLongLong(), who[1].toUInt())
                                       : QStringLiteral("otro proceso");
            ::close(fd);
            return false;
        }
        if (stillAtPath(fd, path)) {
            m_fd = fd;
            break;
        }
        ::close(fd); // the holder removed it meanwhile: lock the new one
    }
    // Who holds it, for the next one that tries; the lock itself does not read it.
    const QByteArray holder =
        QByteArray::number(::getpid()) + ' ' + QByteArray::number(::getuid()) + '\n';
    if (::ftruncate(m_fd, 0) == 0)
        (void)!::pwrite(m_fd, holder.constData(), size_t(holder.size()), 0);
    return true;
}
