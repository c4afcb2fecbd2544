#pragma once

#include "platform/Errors.h"

#include <QString>
#include <QStringList>

// A file that could not be written completely; nothing is left under its name.
class EWriteError : public Exception {
public:
    using Exception::Exception;
};

// The error for a file that could not be written, with the system's reason.
EWriteError writeError(const QString& path, const QString& reason);

// A value enclosed in double quotes, inner quotes doubled, when it holds the
// separator, a double quote or a line break; otherwise the value unchanged, so
// that a row keeps its columns whatever its values hold.
QString quotedField(const QString& value, const QString& separator);

// The values, each quoted as needed and followed by the separator, the last
// one too.
QString separatedLine(const QStringList& values, const QString& separator);

// Writes the lines as Windows-1252 with CR LF ends into a temporary file beside
// `path` and moves it into place when complete. Raises EWriteError, leaving
// the old file (or none) in place, when any step fails.
void writeTextFile(const QString& path, const QStringList& lines);
