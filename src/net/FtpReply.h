#pragma once

#include <QString>

// Reading FTP reply lines, shared by the command and the transfer code.
namespace FtpReply {

// A reply goes on while its last line starts with a blank or has a hyphen
// right after the three-digit code.
inline bool continues(const QString& line) {
    return line.startsWith(QLatin1Char(' ')) || (line.size() > 3 && line.at(3) == QLatin1Char('-'));
}

inline bool inRange(int code, int low, int high) {
    return code >= low && code <= high;
}

} // namespace FtpReply
