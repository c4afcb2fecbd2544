#pragma once

#include <QLibrary>

// Resolves a function of a library loaded at run time into a typed pointer
// (declared as the library's header declares it); false when the library
// lacks it.
template <typename Function>
bool resolveFunction(QLibrary& library, const char* name, Function& function) {
    function = reinterpret_cast<Function>(library.resolve(name));
    return function != nullptr;
}
