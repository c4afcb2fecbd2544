#pragma once

#include "store/Aliases.h"
#include "store/SqlDialect.h"

#include <QString>

// The names of the tables the project adds beside the six local tables and
// tickettaxis: the only place they are spelled. They are added by the schema steps
// (SchemaSteps.h) and nowhere else.
namespace OwnTables {

inline const QString kSchema = QStringLiteral("kivo_schema"); // the version of the ones below
inline const QString kRuns = QStringLiteral("kivo_runs");     // the journal of storing runs
inline const QString kHealth = QStringLiteral("kivo_health"); // the points' health (local)
inline const QString kLeases = QStringLiteral("kivo_leases"); // the points' leases (server)
inline const QString kPending =
    QStringLiteral("kivo_pending"); // the shared unconfirmed deletes (server)

// The name as the station's SQL texts write it: a server's tables are under
// the owner dbo ("dbo.kivo_runs"), a local database's are bare.
inline QString named(const QString& table, AliasKind kind) {
    return kind == AliasKind::Server ? QStringLiteral("dbo.") + table : table;
}

// The name as the driver takes it ("dbo." is dropped on SQLite).
inline QString sqlName(const QString& table, AliasKind kind, AliasDefinition::Driver driver) {
    return translateTableName(named(table, kind), driver);
}

} // namespace OwnTables
