#include "platform/DiskSync.h"

#include <QFile>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

bool flushToDisk(QFileDevice& file) {
    if (file.isWritable() && !file.flush())
        return false;
    return ::fsync(file.handle()) == 0;
}

void flushFolderToDisk(const QString& folder) {
    const int dir = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY);
    if (dir < 0)
        return;
    ::fsync(dir);
    ::close(dir);
}

namespace {
QString identityOf(const struct stat& st) {
    return QStringLiteral("%1:%2").arg(quint64(st.st_dev)).arg(quint64(st.st_ino));
}
} // namespace

QString fileIdentity(const QString& path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return {};
    return identityOf(st);
}

QString fileIdentity(const QFileDevice& file) {
    struct stat st {};
    if (file.handle() < 0 || ::fstat(file.handle(), &st) != 0)
        return {};
    return identityOf(st);
}
