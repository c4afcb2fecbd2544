#pragma once

#include <QString>

class QFileDevice;

// Puts what was written to an open file on the disk: its buffer is flushed and
// the system asked to write the file through. False when either fails (errno
// says why).
bool flushToDisk(QFileDevice& file);

// Puts a folder's own entries (a rename into it, a new file) on the disk.
void flushFolderToDisk(const QString& folder);

// Which file a path names, or an open file is, as "device:inode"; empty when
// there is none. Two equal texts are one file, however it was renamed.
QString fileIdentity(const QString& path);
QString fileIdentity(const QFileDevice& file);
