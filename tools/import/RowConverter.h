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

struct ConvertedTable {
    QList<ColumnDef> columns; // the station's columns, in the station's order
    std::vector<QVariantList> rows;
    int read = 0;
    int skipped = 0;
    QStringList notes;    // columns and rows left out, with the reason
    QStringList problems; // values that cannot be imported: "row 3, field Fecha: ..."
    QStringList errors;   // why the table as a whole cannot be imported: a missing column ...
};

// Matches the file's columns to the table's by name, without regard to case.
// Every column of the station's table must be in the file, mapped to one, or
// given a value: a column the station reads is never silently empty.
ConvertedTable convertTable(const LegacyTable& source, const TableDef& target,
                            const ColumnChoices& choices = {});
