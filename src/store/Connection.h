#pragma once

#include "store/Aliases.h"
#include "store/DatabaseError.h"

#include <QSqlDatabase>
#include <QString>
#include <set>

// Qt's connections belong to the thread that opened them. The application's
// thread names a connection after its alias; any other thread gets one of its
// own, named after the alias and the thread.
QString connectionName(const QString& alias);
// The alias a connection name stands for, for messages.
QString aliasOfConnection(const QString& name);
// "Cannot connect to database '<alias>': why".
EDatabaseError connectError(const QString& name, const QString& why);
// The kind of server an open connection reaches, from its Qt driver.
AliasDefinition::Driver driverOfConnection(const QSqlDatabase& db);

// Opening a Qt SQL connection named `name` for an alias definition. Both raise
// EDatabaseError and leave no connection of that name behind on failure.

// An embedded file that does not exist yet is created first, with the tables
// of the given kinds (the local tables when none is given).
QSqlDatabase openSqliteConnection(const QString& name, const AliasDefinition& def,
                                  const std::set<AliasKind>& kinds);
QSqlDatabase openPostgresConnection(const QString& name, const AliasDefinition& def,
                                    const QString& user, const QString& password);
// Driver=odbc: raises when Qt's ODBC driver, the named ODBC driver or the
// data source is not installed, naming what is missing.
QSqlDatabase openOdbcConnection(const QString& name, const AliasDefinition& def,
                                const QString& user, const QString& password);
