#pragma once

#include <QString>
#include <exception>
#include <functional>

// Modal message boxes go through one presenter so that tests can read what a
// person would have been shown without anybody pressing OK.
enum class BoxIcon { Error, Warning, Information };

using BoxPresenter = std::function<void(const QString& caption, const QString& text, BoxIcon icon)>;

// Replaces the presenter; an empty function restores the default one.
void setBoxPresenter(BoxPresenter presenter);
// The presenter used when none is set: the window system's message box, which
// the application object installs. Without one, boxes go to standard error.
void setDefaultBoxPresenter(BoxPresenter presenter);

// A modal box with one OK button.
void showMessageBox(const QString& caption, const QString& text, BoxIcon icon);

// The text of the standard error box: "." is appended when the last character
// sorts after ".".
QString errorBoxText(const QString& message);

// The standard error box: the message under the application title, error icon, OK.
void showErrorBox(const QString& message);

// The standard error box for an exception of any kind.
void showException(const std::exception& error);

// The application title (caption of the standard error box).
inline const QString kApplicationTitle = QStringLiteral("KIVO ip (taxi)");
