#include "platform/StateOwner.h"

#include "platform/FolderLock.h"

#include <QFile>
#include <sys/stat.h>

QString stateOwnerProblem(const QString& stateFolder, uid_t user, const QString& program) {
    struct stat folder {};
    if (::stat(QFile::encodeName(stateFolder).constData(), &folder) != 0 || folder.st_uid == user)
        return {};
    const QString owner = userName(folder.st_uid);
    return QStringLiteral("el estado de la estación en %1 pertenece al usuario %2: ejecute %3 "
                          "como %2 (por ejemplo, sudo -u %2 %3 ...); como %4 dejaría archivos "
                          "que el servicio no podría escribir")
        .arg(stateFolder, owner, program, userName(user));
}
