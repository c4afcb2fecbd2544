#pragma once

#include <QString>

// Opens a URL or a mail link in the user's default program (the "Open" verb).
bool ShellOpen(const QString& url);
