#include "platform/ErrorBox.h"

#include "platform/Errors.h"

#include <QMessageBox>

namespace {
BoxPresenter& presenter() {
    static BoxPresenter current;
    return current;
}

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

void setBoxPresenter(BoxPresenter p) {
    presenter() = std::move(p);
}

void showMessageBox(const QString& caption, const QString& text, BoxIcon icon) {
    if (presenter()) {
        presenter()(caption, text, icon);
        return;
    }
    QMessageBox box(toQtIcon(icon), caption, text, QMessageBox::Ok);
    box.exec();
}

QString errorBoxText(const QString& message) {
    if (!message.isEmpty() && message.back() > QLatin1Char('.'))
        return message + QLatin1Char('.');
    return message;
}

void showErrorBox(const QString& message) {
    showMessageBox(kApplicationTitle, errorBoxText(message), BoxIcon::Error);
}

void showException(const std::exception& error) {
    if (const auto* own = dynamic_cast<const Exception*>(&error))
        showErrorBox(own->message());
    else
        showErrorBox(QString::fromLocal8Bit(error.what()));
}
