#pragma once

#include "store/Schema.h"

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

    // Empty when the table can take the rows: it exists, has the columns,
    // and is empty unless it may be replaced.
    QString check(const QString& table, const QList<ColumnDef>& columns, bool replace);

    void begin(); // raises EDatabaseError
    QString write(const QString& table, const QList<ColumnDef>& columns,
                  const std::vector<QVariantList>& rows, bool replace);
    QString commit();
    void rollback();

private:
    QString sqlName(const QString& table) const;
    QString columnList(const QString& table, const QList<ColumnDef>& columns) const;
    QString insertRows(const QString& table, const QString& columns, int width,
                       const std::vector<QVariantList>& rows);

    QSqlDatabase m_db;
    QString m_alias;
    AliasDefinition::Driver m_driver;
    bool m_inTransaction = false;
};
