#pragma once

#include "store/Schema.h"

#include <QSqlDatabase>
#include <QString>
#include <QVariantList>
#include <functional>
#include <vector>

class TSession;

// Writes imported rows into the tables of one alias, through the session's
// connection and the station's table names. Problems come back as text.
class TableWriter {
public:
    TableWriter(TSession& session, const QString& alias);

    // The rows the table holds now; raises EDatabaseError when the table
    // cannot be read or lacks one of the columns.
    qint64 check(const QString& table, const QList<ColumnDef>& columns);

    // Keeps the database as it is before rows are deleted, outside any
    // transaction: an embedded database is copied whole beside its file; of a
    // server database the rows of `tables` are written as SQL statements that
    // put them back, in `directory`. Returns the copy's path; raises EDatabaseError.
    QString backup(const QStringList& tables, const QString& directory);

    void begin(); // raises EDatabaseError
    QString write(const QString& table, const QList<ColumnDef>& columns,
                  const std::vector<QVariantList>& rows, bool replace);
    QString commit();
    void rollback();

    // Told "<table>: N of M rows written" now and then while a large table is written.
    std::function<void(const QString&)> progress;

private:
    QString sqlName(const QString& table) const;
    QString columnList(const QString& table, const QList<ColumnDef>& columns) const;
    QString dumpTables(const QStringList& tables, const QString& directory);
    QString insertRows(const QString& table, const QString& columns, int width,
                       const std::vector<QVariantList>& rows);

    QSqlDatabase m_db;
    QString m_alias;
    AliasDefinition::Driver m_driver;
    bool m_inTransaction = false;
};
