#pragma once

#include "platform/Errors.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <vector>

// A table file of an existing station, read whole: its columns with their
// types, its code page, and its rows with the values as the file holds them.

// Raised when a table file cannot be read at all (missing, foreign, truncated).
class ELegacyTable : public Exception {
public:
    using Exception::Exception;
};

// What a column holds. Text keeps the file's bytes; the code page decodes them.
enum class LegacyType { Text, Integer, Float, Logical, Date, Time, Timestamp, Unsupported };

struct LegacyColumn {
    QString name;
    LegacyType type = LegacyType::Unsupported;
    QString nativeType; // the file's own name of the type, for messages
};

// One value: null for an empty field; QByteArray (Text), qint64 (Integer),
// double (Float), bool (Logical), QDate, QTime or QDateTime. A value the file
// holds but that cannot be a value of its type carries a problem instead.
struct LegacyCell {
    QVariant value;
    QString problem;
};

struct LegacyRow {
    int number = 0;       // 1-based, in the file's order
    bool deleted = false; // marked deleted in the file: not a row of the table
    std::vector<LegacyCell> cells;
};

struct LegacyTable {
    QString path;
    QString codec;       // name for QStringDecoder
    QString codecOrigin; // where the code page comes from: "the file", "--codepage" ...
    QStringList notes;   // what the reader saw and did: rows beyond the header's count ...
    QList<LegacyColumn> columns;
    std::vector<LegacyRow> rows;
};

// Raises when the path is not a file with content.
void requireTableFile(const QString& path);

// Paradox .DB through pxlib; dBASE .DBF through shapelib. Both raise ELegacyTable.
// A code page given (a QStringDecoder name) replaces the one the file names.
// The rows must agree with the header's count: rows past it that are whole
// are read and noted; rows it counts that are not there refuse the table.
LegacyTable readParadoxTable(const QString& path, const QString& codec = {});
LegacyTable readDbfTable(const QString& path, const QString& codec = {});

// Why a file cannot be opened, in the system's words; empty when it can.
QString openProblem(const QString& path);
