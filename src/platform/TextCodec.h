#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Single-byte text: every file the station writes uses Windows-1252, CR LF
// line ends and no byte-order mark.
QByteArray toCp1252(const QString& text);
QString fromCp1252(const QByteArray& bytes);

// Reads a text file as Windows-1252 lines (CR LF or LF), without line ends.
// False when the file is missing or cannot be read.
bool readCp1252Lines(const QString& path, QStringList& lines);

class QSaveFile;

// Moves a save file into place. The buffered tail is flushed first and its
// failure counted: commit() alone lets a failed final flush (a full disk)
// through and puts a truncated file in place. False leaves the old file.
bool commitSaveFile(QSaveFile& file);

// Writes the lines, each followed by CR LF, through a temporary file beside the
// target that replaces it when complete. False on any failure, with the
// system's reason in `error` when given; the old file is left untouched then.
// The file written is readable and writable by its owner; with ownerOnly (a
// file that holds a password) by nobody else, whatever it was before.
bool writeCp1252Lines(const QString& path, const QStringList& lines, QString* error = nullptr,
                      bool ownerOnly = false);
