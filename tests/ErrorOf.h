#pragma once

#include "platform/Errors.h"

#include <QString>
#include <functional>

// The message of the station error that a call raises; empty when it raises none.
inline QString errorOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const Exception& error) {
        return error.message();
    }
    return {};
}
