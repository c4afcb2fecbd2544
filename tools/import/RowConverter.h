#pragma once

#include "LegacyTable.h"
#include "store/Schema.h"

#include <QMap>
#include <QStringList>
#include <QVariantList>
#include <vector>

// The rows of a table file in the forms the station's data sets write: whole
// numbers as 32-bit integers, logicals as booleans, text decoded, dates and
// times as the store's date-time texts, empty fields as NULL.
// What the user said of the columns of one table: a station column read from a
// file column of another name, or one value for every row of a column the file
// lacks. Keys are station column names, in any letter case.
struct ColumnChoices {
    QMap<QString, QString> map;      // station column -> the file's column
    QMap<QString, QString> defaults; // station column -> value text; empty text: empty field
};

// Converts the rows of one table, a batch at a time. Matches the file's
// columns to the table's by name, without regard to case. Every column of
// the station's table must be in the file, mapped to one, or given a value:
// a column the station reads is never silently empty.
class TableConverter {
public:
    TableConverter(const LegacyTable& source, const TableDef& target,
                   const ColumnChoices& choices = {});

    const QList<ColumnDef>& columns() const { return m_columns; } // the station's order
    // Why the table as a whole cannot be imported: a missing column ...
    const QStringList& errors() const { return m_errors; }

    // The rows of a batch as they are written; rows marked deleted are left out.
    void convert(const std::vector<LegacyRow>& rows, std::vector<QVariantList>& out);

    int read() const { return m_read; }
    int skipped() const { return m_skipped; }
    bool anyProblem() const { return m_problemCount > 0; }
    // Values that cannot be imported ("registro 3, campo Fecha: ..."): the first
    // few, then how many more.
    QStringList problems() const;
    // Columns mapped, given or left out, rows skipped, texts changed.
    QStringList notes() const;

private:
    struct Source {
        int index; // the file's column; -1: a value given for every row
        QString name;
        LegacyType type;
    };
    QVariant convertField(const LegacyRow& row, size_t c);

    QString m_codec;
    QList<ColumnDef> m_columns;
    std::vector<Source> m_sources;
    QVariantList m_constants;
    QStringList m_errors;
    QStringList m_notes;
    int m_read = 0;
    int m_skipped = 0;
    QList<int> m_deleted; // the first few
    int m_problemCount = 0;
    QStringList m_problems;
    int m_controlCount = 0;
    QStringList m_controls;
};
