#include "ui/Shell.h"

#include <QDesktopServices>
#include <QUrl>

bool ShellOpen(const QString& url) {
    return QDesktopServices::openUrl(QUrl(url));
}
