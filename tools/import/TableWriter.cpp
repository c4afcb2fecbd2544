#include "TableWriter.h"

#include "store/DatabaseError.h"
#include "store/Session.h"
#include "store/SqlDialect.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlField>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTextStream>

namespace {

// Rows per INSERT: many rows per statement save round trips to a server;
// the bound values stay under the smallest limit of the servers in use.
constexpr int kMaxValuesPerStatement = 900;

QString placeholders(int width, int rows) {
    const QString row = QStringLiteral("(") + QStringList(width, QStringLiteral("?")).join(',') +
                        QStringLiteral(")");
    return QStringList(rows, row).join(QStringLiteral(", "));
}

} // namespace

TableWriter::TableWriter(TSession& session, const QString& alias)
    : m_db(session.connectionFor(alias)), m_alias(alias), m_driver(session.driverOf(alias)) {}

QString TableWriter::sqlName(const QString& table) const {
    return translateTableName(table, m_driver);
}

// The database's own spelling of each column, quoted as its driver quotes.
QString TableWriter::columnList(const QString& table, const QList<ColumnDef>& columns) const {
    // The shape of a select, as the data sets read it: the driver's record()
    // would take an unquoted mixed-case name literally on PostgreSQL.
    QSqlQuery shape(m_db);
    if (!shape.exec(QStringLiteral("SELECT * FROM %1 WHERE 1 = 0").arg(sqlName(table))))
        throw EDatabaseError(
            QStringLiteral("no se puede leer la tabla %1 en la base de datos '%2': %3")
                .arg(sqlName(table), m_alias, shape.lastError().text()));
    const QSqlRecord record = shape.record();
    QStringList names;
    for (const ColumnDef& column : columns) {
        QString found;
        for (int i = 0; i < record.count(); ++i)
            if (record.fieldName(i).compare(column.name, Qt::CaseInsensitive) == 0)
                found = record.fieldName(i);
        if (found.isEmpty())
            throw EDatabaseError(
                QStringLiteral("la tabla %1 de la base de datos '%2' no tiene la columna %3")
                    .arg(sqlName(table), m_alias, column.name));
        names << m_db.driver()->escapeIdentifier(found, QSqlDriver::FieldName);
    }
    return names.join(QStringLiteral(", "));
}

qint64 TableWriter::check(const QString& table, const QList<ColumnDef>& columns) {
    QSqlQuery count(m_db);
    if (!count.exec(QStringLiteral("SELECT COUNT(*) FROM %1").arg(sqlName(table))) || !count.next())
        throw EDatabaseError(
            QStringLiteral("no se puede leer la tabla %1 en la base de datos '%2': %3")
                .arg(sqlName(table), m_alias, count.lastError().text()));
    const qint64 rows = count.value(0).toLongLong();
    columnList(table, columns);
    return rows;
}

QString TableWriter::backup(const QStringList& tables, const QString& directory) {
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    if (m_driver != AliasDefinition::Driver::Sqlite)
        return dumpTables(tables,
                          QDir(directory).filePath(
                              QStringLiteral("kivo-import-%1-before-%2.sql").arg(m_alias, stamp)));
    const QString database = m_db.databaseName();
    QString copy = database + QStringLiteral(".before-import-") + stamp;
    for (int n = 2; QFileInfo::exists(copy); ++n)
        copy = database + QStringLiteral(".before-import-%1-%2").arg(stamp).arg(n);
    QSqlQuery vacuum(m_db);
    QString quoted = copy;
    quoted.replace(QLatin1Char('\''), QStringLiteral("''"));
    if (!vacuum.exec(QStringLiteral("VACUUM INTO '%1'").arg(quoted)))
        throw EDatabaseError(
            QStringLiteral("no se puede copiar la base de datos de '%1' a '%2': %3")
                .arg(m_alias, copy, vacuum.lastError().text()));
    return copy;
}

// DELETE, then one INSERT a row, each on a line of its own: psql -f, or any
// tool of the server, puts the rows back.
QString TableWriter::dumpTables(const QStringList& tables, const QString& path) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        throw EDatabaseError(
            QStringLiteral("no se puede escribir la copia de las tablas en '%1': %2")
                .arg(path, file.errorString()));
    QTextStream out(&file);
    out.setEncoding(QStringConverter::Utf8);
    out << "-- kivo-import: los registros de la base de datos '" << m_alias
        << "' antes de --replace, " << QDateTime::currentDateTime().toString(Qt::ISODate) << "\n";
    QSqlDriver* driver = m_db.driver();
    for (const QString& table : tables) {
        QSqlQuery rows(m_db);
        rows.setForwardOnly(true);
        if (!rows.exec(QStringLiteral("SELECT * FROM %1").arg(sqlName(table))))
            throw EDatabaseError(
                QStringLiteral("no se puede leer la tabla %1 en la base de datos '%2': %3")
                    .arg(sqlName(table), m_alias, rows.lastError().text()));
        const QSqlRecord shape = rows.record();
        QStringList names;
        for (int i = 0; i < shape.count(); ++i)
            names << driver->escapeIdentifier(shape.fieldName(i), QSqlDriver::FieldName);
        const QString head = QStringLiteral("INSERT INTO %1 (%2) VALUES (")
                                 .arg(sqlName(table), names.join(QStringLiteral(", ")));
        out << "DELETE FROM " << sqlName(table) << ";\n";
        while (rows.next()) {
            const QSqlRecord record = rows.record();
            QStringList values;
            for (int i = 0; i < record.count(); ++i)
                values << driver->formatValue(record.field(i));
            out << head << values.join(QStringLiteral(", ")) << ");\n";
        }
        if (rows.lastError().isValid())
            throw EDatabaseError(
                QStringLiteral("no se puede leer la tabla %1 en la base de datos '%2': %3")
                    .arg(sqlName(table), m_alias, rows.lastError().text()));
    }
    out.flush();
    if (out.status() != QTextStream::Ok || !file.commit())
        throw EDatabaseError(
            QStringLiteral("no se puede escribir la copia de las tablas en '%1': %2")
                .arg(path, file.errorString()));
    return path;
}

void TableWriter::begin() {
    m_inTransaction = m_db.transaction();
    if (!m_inTransaction)
        throw EDatabaseError(
            QStringLiteral("no se puede iniciar una transacción en la base de datos '%1': %2")
                .arg(m_alias, m_db.lastError().text()));
}

QString TableWriter::empty(const QString& table) {
    QSqlQuery empty(m_db);
    if (!empty.exec(QStringLiteral("DELETE FROM %1").arg(sqlName(table)))) {
        const QString problem =
            QStringLiteral("no se puede vaciar la tabla: %1").arg(empty.lastError().text());
        rollback();
        return problem;
    }
    return {};
}

QString TableWriter::insert(const QString& table, const QList<ColumnDef>& columns,
                            const std::vector<QVariantList>& rows, qint64 firstRow) {
    if (rows.empty() || columns.isEmpty())
        return {};
    if (!m_columnLists.contains(table))
        m_columnLists.insert(table, columnList(table, columns));
    return insertRows(table, m_columnLists.value(table), int(columns.size()), rows, firstRow);
}

// Full statements of many rows, then one for the rest.
QString TableWriter::insertRows(const QString& table, const QString& columns, int width,
                                const std::vector<QVariantList>& rows, qint64 firstRow) {
    const int perStatement = std::max(1, kMaxValuesPerStatement / width);
    const QString head = QStringLiteral("INSERT INTO %1 (%2) VALUES ").arg(sqlName(table), columns);
    QSqlQuery full(m_db);
    if (!full.prepare(head + placeholders(width, perStatement)))
        return full.lastError().text();
    const size_t total = rows.size();
    for (size_t first = 0; first < total; first += size_t(perStatement)) {
        const int count = int(std::min(total - first, size_t(perStatement)));
        QSqlQuery rest(m_db);
        QSqlQuery& query = count == perStatement ? full : rest;
        if (count != perStatement && !rest.prepare(head + placeholders(width, count)))
            return rest.lastError().text();
        int position = 0;
        for (int r = 0; r < count; ++r)
            for (const QVariant& value : rows[first + size_t(r)])
                query.bindValue(position++, value);
        if (!query.exec()) {
            const QString problem =
                QStringLiteral("no se pueden escribir los registros %1 a %2: %3")
                    .arg(firstRow + qint64(first) + 1)
                    .arg(firstRow + qint64(first) + count)
                    .arg(query.lastError().text());
            // Before the statements are freed, which an aborted transaction refuses.
            rollback();
            return problem;
        }
    }
    return {};
}

QString TableWriter::commit() {
    m_inTransaction = false;
    if (m_db.commit())
        return {};
    const QString why = m_db.lastError().text();
    m_db.rollback();
    return QStringLiteral("no se puede confirmar la importación en la base de datos '%1': %2")
        .arg(m_alias, why);
}

void TableWriter::rollback() {
    if (m_inTransaction)
        m_db.rollback();
    m_inTransaction = false;
}
