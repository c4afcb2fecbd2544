#include "windows/SecondaryWindow.h"

#include "platform/Guarded.h"
#include "ui/Centre.h"

#include <QShowEvent>

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

void TSecondaryWindow::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous())
        runGuarded([this] { FormShow(); });
}

void TSecondaryWindow::done(int result) {
    runGuarded([this] { FormClose(); });
    QDialog::done(result);
}
