#include "windows/SecondaryWindow.h"

#include "platform/Guarded.h"
#include "ui/Centre.h"

#include <QShowEvent>
#include <QWindow>

TSecondaryWindow::TSecondaryWindow(QWidget* parent, const QString& objectName,
                                   const QString& caption, QSize outerSize)
    : QDialog(parent), m_outerSize(outerSize) {
    setObjectName(objectName);
    setWindowTitle(caption);
    resize(outerSize);
}

// The frame is known once the window manager has framed the window, some
// time after it is shown (a move or an activation says so); without a window
// manager there is none.
void TSecondaryWindow::fitOuterSize() {
    const QWindow* window = windowHandle();
    if (!window || window->frameMargins().isNull())
        return;
    m_fitPending = false;
    const QSize inner = m_outerSize.shrunkBy(window->frameMargins());
    if (size() == inner)
        return;
    resize(inner);
    centreOnScreen(this);
}

bool TSecondaryWindow::event(QEvent* event) {
    const bool handled = QDialog::event(event);
    if (m_fitPending && (event->type() == QEvent::Move || event->type() == QEvent::WindowActivate))
        fitOuterSize();
    return handled;
}

int TSecondaryWindow::ShowModal() {
    centreOnScreen(this);
    return exec();
}

void TSecondaryWindow::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (event->spontaneous())
        return;
    m_fitPending = true;
    fitOuterSize();
    runGuarded([this] { FormShow(); });
}

void TSecondaryWindow::done(int result) {
    runGuarded([this] { FormClose(); });
    QDialog::done(result);
}
