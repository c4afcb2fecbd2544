#pragma once

// Pictures of the screen for the operator's guide: what the X server shows in
// a window's rectangle, taken with ImageMagick's `import` (Xvfb runs no window
// manager, so a window's rectangle is the window).

#include <QRect>
#include <QString>
#include <functional>

class QMenu;
class QMainWindow;
class QWidget;

// Serves events for the given time, so that windows are laid out and painted.
void settleFor(int milliseconds);

// The screen's rectangle into a PNG file; the widget's own picture when
// `import` cannot run.
void shootRect(const QRect& rect, QWidget& fallback, const QString& file);

// A shown window, once it has settled.
void shootWindow(QWidget& window, const QString& file);

// The main window with one of its menus pulled down.
void shootMenu(QMainWindow& window, QMenu& menu, const QString& file);

// Calls open(), which shows a modal window and returns once it is closed.
// Meanwhile prepare() sets the window up as a person would, the window is
// shot, whileOpen() acts on it (and may shoot the windows it opens in turn),
// and it is closed.
struct ModalSteps {
    std::function<void(QWidget& modal)> prepare = {};
    std::function<void(QWidget& modal)> whileOpen = {};
};
void shootNextModal(const std::function<void()>& open, const QString& file,
                    const ModalSteps& steps = {});

// Serves events until the condition holds; false when the deadline passed.
bool waitFor(const std::function<bool()>& condition, int milliseconds);
