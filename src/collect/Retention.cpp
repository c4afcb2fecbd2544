#include "collect/Retention.h"

#include "store/Aliases.h"
#include "store/DatabaseError.h"
#include "store/OwnTables.h"
#include "store/Session.h"
#include "store/SqlDialect.h"

#include <QDateTime>
#include <QSqlError>
#include <QSqlQuery>

namespace {

EDatabaseError pruneError(const QString& alias, const QSqlQuery& query) {
    return EDatabaseError(QStringLiteral("No se pueden borrar los registros antiguos de la base "
                                         "de datos '%1': %2")
                              .arg(alias, query.lastError().text()));
}

void exec(QSqlQuery& query, const QString& alias) {
    if (!query.exec())
        throw pruneError(alias, query);
}

// The run ids a server's shared tables still refer to: every station's
// unconfirmed-delete entries and leases.
QSet<QString> referencedOnServer(QSqlDatabase& db, const QString& alias) {
    const auto driver = TSession::current().driverOf(alias);
    QSet<QString> runs;
    for (const QString& table : {OwnTables::kPending, OwnTables::kLeases}) {
        QSqlQuery q(db);
        q.prepare(QStringLiteral("SELECT run_id FROM %1")
                      .arg(OwnTables::sqlName(table, AliasKind::Server, driver)));
        exec(q, alias);
        while (q.next())
            runs.insert(q.value(0).toString());
    }
    return runs;
}

int pruneRuns(QSqlDatabase& db, const QString& alias, AliasKind kind, const QDateTime& cutoff,
              QSet<QString> keep) {
    const auto driver = TSession::current().driverOf(alias);
    const QString table = OwnTables::sqlName(OwnTables::kRuns, kind, driver);
    if (kind == AliasKind::Server)
        keep.unite(referencedOnServer(db, alias));
    QSqlQuery old(db);
    old.prepare(QStringLiteral("SELECT DISTINCT run_id FROM %1 WHERE stored_at < ?").arg(table));
    old.addBindValue(cutoff.toUTC().toString(Qt::ISODateWithMs));
    exec(old, alias);
    QStringList gone;
    while (old.next())
        if (!keep.contains(old.value(0).toString()))
            gone << old.value(0).toString();
    int rows = 0;
    for (const QString& run : std::as_const(gone)) {
        QSqlQuery drop(db);
        drop.prepare(QStringLiteral("DELETE FROM %1 WHERE run_id = ?").arg(table));
        drop.addBindValue(run);
        exec(drop, alias);
        rows += drop.numRowsAffected();
    }
    return rows;
}

int pruneLog(QSqlDatabase& db, const QString& alias, const QDate& cutoff) {
    // The store's own date literal, as the station's SQL texts write it.
    const QString sql =
        translateSql(QStringLiteral("delete from log.db where Fecha < '%1 00:00:00'")
                         .arg(cutoff.toString(QStringLiteral("yyyyMMdd"))),
                     TSession::current().driverOf(alias));
    QSqlQuery drop(db);
    drop.prepare(sql);
    exec(drop, alias);
    return drop.numRowsAffected();
}

// One database's pruning in one transaction.
template <typename Work> int inTransaction(const QString& alias, Work&& work) {
    QSqlDatabase db = TSession::current().connectionFor(alias);
    if (!db.transaction())
        throw EDatabaseError(QStringLiteral("No se pueden borrar los registros antiguos de la "
                                            "base de datos '%1': %2")
                                 .arg(alias, db.lastError().text()));
    try {
        const int rows = work(db);
        if (!db.commit())
            throw EDatabaseError(db.lastError().text());
        return rows;
    } catch (...) {
        db.rollback();
        throw;
    }
}

} // namespace

PruneResult pruneOlderThan(const QString& localAlias, const QString& serverAlias, int keepDays,
                           const QDate& today, const QSet<QString>& keepRuns) {
    PruneResult result;
    if (keepDays <= 0)
        return result;
    const QDate cutoff = today.addDays(-keepDays);
    const QDateTime cutoffTime(cutoff, QTime(0, 0));
    // Both aliases may name one database: its journal then holds the server's
    // rows too, and the shared entries count.
    const bool oneDatabase = serverAlias == localAlias;
    inTransaction(localAlias, [&](QSqlDatabase& db) {
        result.logRows = pruneLog(db, localAlias, cutoff);
        result.runRows =
            pruneRuns(db, localAlias, oneDatabase ? AliasKind::Server : AliasKind::Local,
                      cutoffTime, keepRuns);
        return 0;
    });
    if (serverAlias != kNoServerAlias && !oneDatabase)
        result.runRows += inTransaction(serverAlias, [&](QSqlDatabase& db) {
            return pruneRuns(db, serverAlias, AliasKind::Server, cutoffTime, keepRuns);
        });
    return result;
}
