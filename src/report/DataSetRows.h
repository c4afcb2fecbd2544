#pragma once

#include <QString>
#include <QStringList>
#include <vector>

class TDataSet;

// The rows a report prints: the text form of every column of every row.
struct ReportRows {
    QStringList fieldNames;
    std::vector<QStringList> rows;

    // Raises when the column does not exist; names match without regard to case.
    int fieldIndex(const QString& name) const;
};

// Every row of an open data set, from the first, in the data set's default
// text forms (regional dates and decimals, empty for null).
ReportRows rowsOf(TDataSet& dataSet);
