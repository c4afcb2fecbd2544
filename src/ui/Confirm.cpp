#include "ui/Confirm.h"

#include "platform/ErrorBox.h"

#include <QMessageBox>

namespace {

ConfirmPresenter& presenter() {
    static ConfirmPresenter instance;
    return instance;
}

} // namespace

void setConfirmPresenter(ConfirmPresenter replacement) {
    presenter() = std::move(replacement);
}

bool confirm(const QString& text, QWidget* parent) {
    if (presenter())
        return presenter()(text);
    return QMessageBox::question(parent, kApplicationTitle, text,
                                 QMessageBox::Ok | QMessageBox::Cancel,
                                 QMessageBox::Cancel) == QMessageBox::Ok;
}
