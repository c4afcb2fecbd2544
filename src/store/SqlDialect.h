#pragma once

#include "platform/DateTime.h"
#include "store/Aliases.h"
#include "store/Schema.h"

#include <QString>
#include <QVariant>

// Turns the station's SQL texts into the text a driver accepts: table file
// names ("personal.dbf") become table names, "dbo." is dropped on SQLite, and
// date-time literals 'yyyymmdd hh:mm:ss' are given the form SQLite compares.
// PostgreSQL and ODBC servers take the owner and the literals as they stand.
// Quoted literals and identifiers are left alone otherwise.
QString translateSql(const QString& sql, AliasDefinition::Driver driver);
// "lectura.DB" -> "lectura"; "dbo.tickettaxis" -> "dbo.tickettaxis" (postgres) or
// "tickettaxis". Raises EDatabaseError for a name that is not a plain table name.
QString translateTableName(const QString& name, AliasDefinition::Driver driver);

// Date-time values are written as text in one form per kind, so that the text
// order is the time order: "yyyy-MM-dd", "hh:mm:ss.zzz", "yyyy-MM-dd hh:mm:ss.zzz".
QString storedDateTimeText(TDateTime value, FieldKind kind);
// Reads a stored date-time (text of those forms, with 'T' or without
// milliseconds too, or a Qt date type). False when it is none of them.
bool parseStoredDateTime(const QVariant& value, TDateTime& result);
