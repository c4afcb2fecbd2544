#pragma once

#include <QString>

class QFileDevice;

// Files that hold a password are their owner's alone (mode 0600), whatever the
// umask: the rest of the station's folders is shared with the service's group.

// Makes an open file so; call it before a byte of the secret is written. False
// (errno says why) when it cannot.
bool keepToOwner(QFileDevice& file);

// Copies a file into a new one of the owner's alone, whole or not at all. False,
// with the reason in error, when it cannot.
bool copyForOwner(const QString& from, const QString& to, QString& error);
