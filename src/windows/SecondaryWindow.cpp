#include "windows/SecondaryWindow.h"

#include "ui/Centre.h"

TSecondaryWindow::TSecondaryWindow(QWidget* parent, const QString& objectName,
                                   const QString& caption, QSize outerSize)
    : QDialog(parent) {
    setObjectName(objectName);
    setWindowTitle(caption);
    resize(outerSize);
}

int TSecondaryWindow::ShowModal() {
    centreOnScreen(this);
    return exec();
}
