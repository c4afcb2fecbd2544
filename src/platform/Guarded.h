#pragma once

#include "platform/ErrorBox.h"

#include <exception>

// The one place where an exception that would reach the event loop becomes the
// standard error box. Handlers are run through it before Qt's frames, since an
// exception must never unwind through Qt.
template <typename Handler> void runGuarded(Handler&& handler) noexcept {
    try {
        handler();
    } catch (const std::exception& error) {
        showException(error);
    } catch (...) {
        showErrorBox(QStringLiteral("Unknown error"));
    }
}

// A slot that runs a handler through runGuarded.
template <typename Handler> auto guarded(Handler handler) {
    return [handler](auto&&...) { runGuarded(handler); };
}
