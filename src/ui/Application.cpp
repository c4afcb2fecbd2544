#include "ui/Application.h"

#include "platform/QtSpanish.h"

#include <QMessageBox>

namespace {
QMessageBox::Icon toQtIcon(BoxIcon icon) {
    switch (icon) {
    case BoxIcon::Error:
        return QMessageBox::Critical;
    case BoxIcon::Warning:
        return QMessageBox::Warning;
    case BoxIcon::Information:
        return QMessageBox::Information;
    }
    return QMessageBox::NoIcon;
}
} // namespace

void presentMessageBox(const QString& caption, const QString& text, BoxIcon icon) {
    QMessageBox box(toQtIcon(icon), caption, text, QMessageBox::Ok);
    box.exec();
}

KivoApplication::KivoApplication(int& argc, char** argv) : QApplication(argc, argv) {
    setDefaultBoxPresenter(presentMessageBox);
    loadQtSpanish();
}

bool KivoApplication::notify(QObject* receiver, QEvent* event) {
    bool handled = false;
    runGuarded([&] { handled = QApplication::notify(receiver, event); });
    return handled;
}
