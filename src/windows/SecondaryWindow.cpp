#include "windows/SecondaryWindow.h"

#include <QGuiApplication>
#include <QScreen>

TSecondaryWindow::TSecondaryWindow(QWidget* parent, const QString& objectName,
                                   const QString& caption, QSize outerSize)
    : QDialog(parent) {
    setObjectName(objectName);
    setWindowTitle(caption);
    resize(outerSize);
}

int TSecondaryWindow::ShowModal() {
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
    return exec();
}
