#pragma once

#include "store/Aliases.h"

#include <QString>

// Turns the station's SQL texts into the text a driver accepts: table file
// names ("personal.dbf") become table names, "dbo." is dropped on SQLite, and
// date-time literals 'yyyymmdd hh:mm:ss' are given the form the driver compares.
QString translateSql(const QString& sql, AliasDefinition::Driver driver);
// "lectura.DB" -> "lectura"; "dbo.tickettaxis" -> "dbo.tickettaxis" (postgres) or "tickettaxis".
QString translateTableName(const QString& name, AliasDefinition::Driver driver);
