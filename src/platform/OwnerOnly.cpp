#include "platform/OwnerOnly.h"

#include "platform/TextCodec.h"

#include <QFile>
#include <QSaveFile>
#include <sys/stat.h>

bool keepToOwner(QFileDevice& file) {
    // The descriptor's own mode: a save file's temporary file, not its target.
    return file.handle() >= 0 && fchmod(file.handle(), S_IRUSR | S_IWUSR) == 0;
}

bool copyForOwner(const QString& from, const QString& to, QString& error) {
    QFile source(from);
    if (!source.open(QIODevice::ReadOnly)) {
        error = source.errorString();
        return false;
    }
    const QByteArray bytes = source.readAll();
    QSaveFile copy(to);
    const bool done = copy.open(QIODevice::WriteOnly) && keepToOwner(copy) &&
                      copy.write(bytes) == bytes.size() && commitSaveFile(copy);
    if (!done)
        error = copy.errorString();
    return done;
}
