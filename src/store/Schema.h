#pragma once

#include "store/Aliases.h"

#include <QSqlDatabase>
#include <QString>
#include <QStringList>

// The one schema definition of the embedded databases.
struct ColumnDef {
    QString name;
    QString sqliteType;
};
struct TableDef {
    QString name; // SQL table name
    QList<ColumnDef> columns;
};

const QList<TableDef>& localTables();
const TableDef& serverTable(); // tickettaxis (owner dbo)

// Creates every table of the kind in an empty SQLite database.
void createEmbeddedSchema(QSqlDatabase& db, AliasKind kind);
