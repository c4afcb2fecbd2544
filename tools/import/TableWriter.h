#pragma once

#include "store/Schema.h"

#include <QHash>
#include <QSqlDatabase>
#include <QString>
#include <QVariantList>
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

    // Inside the transaction; a failure rolls it back and comes back as text.
    void begin(); // raises EDatabaseError
    QString empty(const QString& table);
    // A batch of rows; firstRow counts the rows written before it, for messages.
    QString insert(const QString& table, const QList<ColumnDef>& columns,
                   const std::vector<QVariantList>& rows, qint64 firstRow);
    QString commit();
    void rollback();
    bool inTransaction() const { return m_inTransaction; }

private:
    QString sqlName(const QString& table) const;
    QString columnList(const QString& table, const QList<ColumnDef>& columns) const;
    QString dumpTables(const QStringList& tables, const QString& directory);
    QString insertRows(const QString& table, const QString& columns, int width,
                       const std::vector<QVariantList>& rows, qint64 firstRow);

    QSqlDatabase m_db;
    QString m_alias;
    AliasDefinition::Driver m_driver;
    bool m_inTransaction = false;
    QHash<QString, QString> m_columnLists; // per table, as the database spells them
};
