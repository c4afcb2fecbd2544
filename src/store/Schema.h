#pragma once

#include "store/Aliases.h"

#include <QList>
#include <QSqlDatabase>
#include <QString>

// The types in which the station reads and writes its fields.
enum class FieldKind { Integer, Float, Text, Logical, Date, Time, DateTime };

// The one schema definition of the embedded databases.
struct ColumnDef {
    QString name;
    FieldKind kind;
    QString sqliteType() const;
};
struct TableDef {
    QString name; // SQL table name
    QList<ColumnDef> columns;
};

const QList<TableDef>& localTables();
const TableDef& serverTable(); // tickettaxis (owner dbo)

// The column of a table of either kind, names compared without regard to
// case; null when the schema does not know it.
const ColumnDef* findColumn(const QString& table, const QString& column);
// True when a column of that name holds date-time values in some table; such
// columns are stored as text on SQLite.
bool isDateTimeColumn(const QString& column);

// Creates every table of the kind in an empty SQLite database, and the
// project's own tables of the kind by their schema steps.
void createEmbeddedSchema(QSqlDatabase& db, AliasKind kind);
