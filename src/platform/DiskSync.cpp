#include "platform/DiskSync.h"

#include <QFile>
#include <fcntl.h>
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
