#include "collect/RunJournal.h"

#include "store/DatabaseError.h"
#include "store/OwnTables.h"
#include "store/Session.h"

#include <QDateTime>
#include <QSqlError>
#include <QSqlQuery>

namespace {

QString tableOf(const QString& alias, bool server) {
    return OwnTables::sqlName(OwnTables::kRuns, server ? AliasKind::Server : AliasKind::Local,
                              TSession::current().driverOf(alias));
}

EDatabaseError journalError(const QString& what, const QString& alias, const QSqlQuery& query) {
    return EDatabaseError(QStringLiteral("%1 (%2) de la base de datos '%3': %4")
                              .arg(what, OwnTables::kRuns, alias, query.lastError().text()));
}

} // namespace

namespace RunJournal {

bool holds(const QString& alias, bool server, const QString& runId, const QString& store) {
    QSqlQuery query(TSession::current().connectionFor(alias));
    query.prepare(QStringLiteral("SELECT COUNT(*) FROM %1 WHERE run_id = ? AND store = ?")
                      .arg(tableOf(alias, server)));
    query.addBindValue(runId);
    query.addBindValue(store);
    if (!query.exec() || !query.next())
        throw journalError(QStringLiteral("No se puede leer el registro de descargas"), alias,
                           query);
    return query.value(0).toInt() > 0;
}

void append(const QString& alias, bool server, const QString& runId, const QString& store,
            const QString& loc, int count) {
    QSqlQuery query(TSession::current().connectionFor(alias));
    query.prepare(QStringLiteral("INSERT INTO %1 (run_id, store, loc, record_count, stored_at) "
                                 "VALUES (?, ?, ?, ?, ?)")
                      .arg(tableOf(alias, server)));
    query.addBindValue(runId);
    query.addBindValue(store);
    query.addBindValue(loc);
    query.addBindValue(count);
    query.addBindValue(QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs));
    if (!query.exec())
        throw journalError(QStringLiteral("No se puede escribir el registro de descargas"), alias,
                           query);
}

} // namespace RunJournal

StoreTransaction::~StoreTransaction() {
    if (!m_active)
        return;
    // A connection dropped after a failure has no transaction left to undo.
    QSqlDatabase db = TSession::current().existingConnection(m_alias);
    if (db.isOpen())
        db.rollback();
}

void StoreTransaction::begin() {
    QSqlDatabase db = TSession::current().connectionFor(m_alias);
    if (!db.transaction())
        throw EDatabaseError(QStringLiteral("Cannot start a transaction on database '%1': %2")
                                 .arg(m_alias, db.lastError().text()));
    m_active = true;
}

void StoreTransaction::commit() {
    QSqlDatabase db = TSession::current().connectionFor(m_alias);
    m_active = false;
    if (!db.commit()) {
        const QString why = db.lastError().text();
        db.rollback();
        throw EDatabaseError(
            QStringLiteral("Cannot commit on database '%1': %2").arg(m_alias, why));
    }
}
