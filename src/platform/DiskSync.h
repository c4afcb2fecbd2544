#pragma once

#include <QString>

class QFileDevice;

// Puts what was written to an open file on the disk: its buffer is flushed and
// the system asked to write the file through. False when either fails (errno
// says why).
bool flushToDisk(QFileDevice& file);

// Puts a folder's own entries (a rename into it, a new file) on the disk.
void flushFolderToDisk(const QString& folder);
