#include "platform/ErrorBox.h"

#include "platform/Errors.h"

#include <QtGlobal>

namespace {
BoxPresenter& presenter() {
    static BoxPresenter current;
    return current;
}

BoxPresenter& defaultPresenter() {
    static BoxPresenter current;
    return current;
}

// Without a window system nobody can press OK: the text goes to standard error.
void writeToStandardError(const QString& caption, const QString& text, BoxIcon) {
    qCritical("%s: %s", qUtf8Printable(caption), qUtf8Printable(text));
}
} // namespace

void setDefaultBoxPresenter(BoxPresenter p) {
    defaultPresenter() = std::move(p);
}

void setBoxPresenter(BoxPresenter p) {
    presenter() = std::move(p);
}

void showMessageBox(const QString& caption, const QString& text, BoxIcon icon) {
    if (presenter()) {
        presenter()(caption, text, icon);
        return;
    }
    if (defaultPresenter()) {
        defaultPresenter()(caption, text, icon);
        return;
    }
    writeToStandardError(caption, text, icon);
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
