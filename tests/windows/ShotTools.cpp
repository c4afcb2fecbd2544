#include "ShotTools.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QProcess>
#include <QTimer>

void settleFor(int milliseconds) {
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < milliseconds)
        QApplication::processEvents(QEventLoop::AllEvents, 50);
}

bool waitFor(const std::function<bool()>& condition, int milliseconds) {
    QElapsedTimer deadline;
    deadline.start();
    while (!condition()) {
        if (deadline.elapsed() > milliseconds)
            return false;
        QApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
    }
    return true;
}

void shootRect(const QRect& rect, QWidget& fallback, const QString& file) {
    const QString crop = QStringLiteral("%1x%2+%3+%4")
                             .arg(rect.width())
                             .arg(rect.height())
                             .arg(rect.x())
                             .arg(rect.y());
    if (QProcess::execute(QStringLiteral("import"),
                          {QStringLiteral("-window"), QStringLiteral("root"),
                           QStringLiteral("-crop"), crop, QStringLiteral("+repage"), file}) != 0)
        fallback.grab().save(file);
}

void shootWindow(QWidget& window, const QString& file) {
    window.show();
    window.raise();
    settleFor(700);
    shootRect(window.frameGeometry(), window, file);
}

void shootMenu(QMainWindow& window, QMenu& menu, const QString& file) {
    QMenuBar* bar = window.menuBar();
    bar->setActiveAction(menu.menuAction()); // pulls the menu down, as a click does
    settleFor(500);
    shootRect(window.frameGeometry().united(menu.geometry()), window, file);
    menu.hide();
    settleFor(200);
}

namespace {

// As a person would: the message box's only button, a dialog's Cancel.
void closeModal(QWidget& modal) {
    if (auto* box = qobject_cast<QMessageBox*>(&modal); box && !box->buttons().isEmpty()) {
        box->buttons().constFirst()->click();
        return;
    }
    if (auto* dialog = qobject_cast<QDialog*>(&modal)) {
        dialog->reject();
        return;
    }
    modal.close();
}

} // namespace

void shootNextModal(const std::function<void()>& open, const QString& file,
                    const ModalSteps& steps) {
    QWidget* const before = QApplication::activeModalWidget();
    bool shot = false;
    QTimer poll;
    poll.setInterval(50);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (shot || !modal || modal == before)
            return;
        shot = true;
        poll.stop();
        if (steps.prepare)
            steps.prepare(*modal);
        shootWindow(*modal, file);
        if (steps.whileOpen)
            steps.whileOpen(*modal);
        closeModal(*modal);
    });
    poll.start();
    open();
    if (!shot)
        qWarning("no window was shown for %s", qPrintable(file));
}
