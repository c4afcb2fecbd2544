#pragma once

// Rows of a station's tables for the tests that run its programs.

#include "store/DataSet.h"

#include <QList>
#include <QString>
#include <QVariant>
#include <algorithm>
#include <utility>

// The ticket numbers of a column of rows, as a sorted list (duplicates kept).
inline QList<int> column(const QString& alias, const QString& table, const QString& field) {
    TTable t;
    t.DatabaseName = alias;
    t.TableName = table;
    t.Open();
    QList<int> values;
    for (t.First(); !t.Eof(); t.Next())
        values.append(t.FieldByName(field).AsInteger());
    t.Close();
    std::sort(values.begin(), values.end());
    return values;
}

inline void appendRow(const QString& table, const QList<std::pair<QString, QVariant>>& fields) {
    TTable t;
    t.DatabaseName = QStringLiteral("KIVO_1");
    t.TableName = table;
    t.Open();
    t.Append();
    for (const auto& [name, value] : fields)
        t.FieldByName(name).setValue(value);
    t.Post();
    t.Close();
}
