#pragma once

#include <QString>
#include <functional>

class QWidget;

// A question with OK and Cancel ("Delete record?"); true when confirmed. It
// goes through one presenter so that tests can answer it.
using ConfirmPresenter = std::function<bool(const QString& text)>;

// Replaces the presenter; an empty function restores the message box.
void setConfirmPresenter(ConfirmPresenter presenter);
bool confirm(const QString& text, QWidget* parent = nullptr);
