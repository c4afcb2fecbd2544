#pragma once

#include "store/Aliases.h"

#include <QSqlDatabase>
#include <QString>

// The project's own tables (OwnTables.h) come into a database by numbered
// steps, each applied once, in a transaction of its own, in order. The
// database records the version its own tables are at in kivo_schema, one row
// per kind, since one database may be both the local one and the server.
//
// A step only adds a table of the project's, or a column to one that takes
// NULL: the six local tables and tickettaxis are never created, changed or
// emptied, and the project's are never renamed or dropped, so a program that
// predates a step still finds every table and column it uses, and its inserts
// still work. This one still refuses a database of a later version (apply): a
// later step may come with rules among stations that it does not keep. A
// released step is never edited; a change is a new step.
namespace SchemaSteps {

// The version this program brings a database of the kind to.
int latestVersion(AliasKind kind);

// The version of the database's own tables of the kind: the recorded one, or,
// in a database from before versions were recorded, the one its tables show
// (the steps whose tables and columns are all there, from the first on).
int versionOf(QSqlDatabase db, AliasKind kind);

// Brings the database to `target` (the latest when negative); `name` is the
// database as messages name it. Raises EDatabaseError with a Spanish text when
// a step cannot be applied (the database stays at the version before that
// step) and when the database is of a newer version than the program knows
// (nothing is written to it then).
void apply(QSqlDatabase db, AliasKind kind, const QString& name, int target = -1);
// The same on the current session's connection for the alias.
void applyTo(const QString& alias, AliasKind kind);

} // namespace SchemaSteps
