#include "windows/SecondaryWindow.h"

#include "platform/Guarded.h"
#include "ui/Centre.h"

#include <QShowEvent>
#include <QTimer>
#include <QWindow>

TSecondaryWindow::TSecondaryWindow(QWidget* parent, const QString& objectName,
                                   const QString& caption, QSize outerSize)
    : QDialog(parent), m_outerSize(outerSize) {
    setObjectName(objectName);
    setWindowTitle(caption);
    resize(outerSize);
}

// The frame is known once the window manager has framed the window, shortly
// after it is shown; without a window manager it is none.
void TSecondaryWindow::fitOuterSize() {
    const QWindow* window = windowHandle();
    if (!window || window->frameMargins().isNull())
        return;
    const QSize inner = m_outerSize.shrunkBy(window->frameMargins());
    if (size() == inner)
        return;
    resize(inner);
    centreOnScreen(this);
}

int TSecondaryWindow::ShowModal() {
    centreOnScreen(this);
    return exec();
}

void TSecondaryWindow::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (event->spontaneous())
        return;
    fitOuterSize();
    QTimer::singleShot(0, this, [this] { fitOuterSize(); });
    runGuarded([this] { FormShow(); });
}

void TSecondaryWindow::done(int result) {
    runGuarded([this] { FormClose(); });
    QDialog::done(result);
}
