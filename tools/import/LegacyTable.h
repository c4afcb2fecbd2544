#pragma once

#include "platform/Errors.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <memory>
#include <vector>

// A table file of an existing station: its columns with their types, its
// code page, and its rows with the values as the file holds them, read a
// batch at a time so that memory does not grow with the table.

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
    QString codecOrigin; // where the code page comes from: "indicada por el archivo (1252)" ...
    QStringList notes;   // what the reader saw and did: rows beyond the header's count ...
    QList<LegacyColumn> columns;
};

// A table being read: its head at once, then its rows in batches.
class LegacyReader {
public:
    virtual ~LegacyReader() = default;
    const LegacyTable& head() const { return m_head; }
    // The next rows in the file's order, replacing those in `rows`; false when
    // none are left. Raises ELegacyTable.
    virtual bool next(std::vector<LegacyRow>& rows) = 0;
    // What the reader saw among the rows (numbers written as asterisks ...);
    // complete once next() has returned false.
    const QStringList& trailingNotes() const { return m_trailing; }

protected:
    LegacyTable m_head;
    QStringList m_trailing;
};

// Rows per batch: small enough to cost little memory, large enough to cost
// little time.
constexpr int kRowsPerBatch = 2000;

// Raises when the path is not a file with content.
void requireTableFile(const QString& path);

// Paradox .DB through pxlib; dBASE .DBF through shapelib. Both raise ELegacyTable.
// A code page given (a QStringDecoder name) replaces the one the file names.
// The rows must agree with the header's count: rows past it that are whole
// are read and noted; rows it counts that are not there refuse the table.
std::unique_ptr<LegacyReader> openParadoxTable(const QString& path, const QString& codec = {});
std::unique_ptr<LegacyReader> openDbfTable(const QString& path, const QString& codec = {});

// Why a file cannot be opened, in the system's words; empty when it can.
QString openProblem(const QString& path);
