#include "service/SettingsAccess.h"

#include <QFileInfo>
#include <pwd.h>
#include <unistd.h>

namespace {

QString serviceUser() {
    const passwd* entry = getpwuid(geteuid());
    return entry ? QString::fromLocal8Bit(entry->pw_name) : QString::number(geteuid());
}

} // namespace

QString settingsAccessProblem(const QString& settingsPath, bool folderMustExist) {
    const QFileInfo file(settingsPath);
    const QFileInfo folder(file.absolutePath());
    if (!folder.exists() && !folderMustExist)
        return {};
    if (!folder.isDir())
        return QStringLiteral("falta la carpeta de configuración %1").arg(folder.filePath());
    const QString fix = QStringLiteral(" para el usuario %1: revise el propietario y los permisos")
                            .arg(serviceUser());
    if (!folder.isWritable())
        return QStringLiteral("la carpeta de configuración %1 no admite escritura")
                   .arg(folder.filePath()) +
               fix;
    if (!file.exists())
        return {};
    if (!file.isFile() || !file.isReadable())
        return QStringLiteral("no se puede leer la configuración %1").arg(settingsPath) + fix;
    if (!file.isWritable())
        return QStringLiteral("la configuración %1 no admite escritura").arg(settingsPath) + fix;
    return {};
}
