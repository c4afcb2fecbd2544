#pragma once

#include "LegacyTable.h"
#include "store/Schema.h"

#include <QStringList>
#include <QVariantList>
#include <vector>

// The rows of a table file in the forms the station's data sets write: whole
// numbers as 32-bit integers, logicals as booleans, text decoded, dates and
// times as the store's date-time texts, empty fields as NULL.
struct ConvertedTable {
    QList<ColumnDef> columns; // the station's columns found in the file, in file order
    std::vector<QVariantList> rows;
    int read = 0;
    int skipped = 0;
    QStringList notes;    // columns and rows left out, with the reason
    QStringList problems; // values that cannot be imported: "row 3, field Fecha: ..."
};

// Matches the file's columns to the table's by name, without regard to case.
ConvertedTable convertTable(const LegacyTable& source, const TableDef& target);
