// Writing rows: Append/Edit, Post, Cancel, Delete.
#include "store/DataSet.h"

#include "store/Session.h"

#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>

void TDataSet::Append() {
    requireActive();
    if (m_state != State::Browse)
        Post();
    if (tableForWriting(m_driver).isEmpty())
        throw EDatabaseError(
            QStringLiteral("Cannot modify a read-only data set ('%1')").arg(displayName()));
    m_buffer = m_shape;
    m_buffer.clearValues();
    // Only assigned fields are written; the rest keep the column default.
    for (int i = 0; i < m_buffer.count(); ++i)
        m_buffer.setGenerated(i, false);
    m_state = State::Insert;
}

void TDataSet::Edit() {
    requireActive();
    if (m_state != State::Browse)
        return;
    if (tableForWriting(m_driver).isEmpty())
        throw EDatabaseError(
            QStringLiteral("Cannot modify a read-only data set ('%1')").arg(displayName()));
    loadRows();
    if (m_rows->empty()) {
        Append();
        return;
    }
    m_buffer = (*m_rows)[static_cast<size_t>(m_current)];
    for (int i = 0; i < m_buffer.count(); ++i)
        m_buffer.setGenerated(i, false);
    m_state = State::Edit;
}

void TDataSet::Cancel() {
    m_state = State::Browse;
    m_buffer = QSqlRecord();
}

void TDataSet::Post() {
    requireActive();
    if (m_state == State::Browse)
        return;
    requireValues();
    if (m_state == State::Insert)
        postInsert();
    else
        postEdit();
    // The row is written: read the table again when it is next looked at.
    m_toLast = m_state == State::Insert;
    m_state = State::Browse;
    m_buffer = QSqlRecord();
    m_rows.reset();
}

// A field left unassigned in a new row takes the column's default, which is
// empty for the tables' keys.
void TDataSet::requireValues() const {
    for (const QString& name : RequiredFields) {
        const int i = m_buffer.indexOf(name);
        if (i >= 0 && (m_buffer.isNull(i) || m_buffer.value(i).toString().trimmed().isEmpty()))
            throw EDatabaseError(QStringLiteral("Field '%1' must have a value").arg(name));
    }
}

void TDataSet::postInsert() {
    QStringList columns, marks;
    QVariantList values;
    for (int i = 0; i < m_buffer.count(); ++i) {
        if (!m_buffer.isGenerated(i))
            continue;
        columns << quoted(m_buffer.fieldName(i));
        marks << QStringLiteral("?");
        values << m_buffer.value(i);
    }
    const QString table = tableForWriting(m_driver);
    const QString sql =
        columns.isEmpty()
            ? QStringLiteral("INSERT INTO %1 DEFAULT VALUES").arg(table)
            : QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                  .arg(table, columns.join(QStringLiteral(", ")), marks.join(QStringLiteral(", ")));
    execWrite(sql, values, QStringLiteral("post to"));
}

void TDataSet::postEdit() {
    QStringList assignments;
    QVariantList values;
    for (int i = 0; i < m_buffer.count(); ++i) {
        if (!m_buffer.isGenerated(i))
            continue;
        assignments << quoted(m_buffer.fieldName(i)) + QStringLiteral(" = ?");
        values << m_buffer.value(i);
    }
    if (assignments.isEmpty())
        return;
    const QString condition = rowKeyCondition(m_driver);
    values << m_rowKeys.at(static_cast<size_t>(m_current));
    execWrite(
        QStringLiteral("UPDATE %1 SET %2 WHERE %3")
            .arg(tableForWriting(m_driver), assignments.join(QStringLiteral(", ")), condition),
        values, QStringLiteral("post to"));
}

void TDataSet::Delete() {
    requireActive();
    if (m_state == State::Insert) {
        Cancel();
        return;
    }
    Cancel();
    if (tableForWriting(m_driver).isEmpty())
        throw EDatabaseError(
            QStringLiteral("Cannot modify a read-only data set ('%1')").arg(displayName()));
    loadRows();
    if (m_rows->empty())
        throw EDatabaseError(
            QStringLiteral("Cannot delete from an empty data set ('%1')").arg(displayName()));
    const QString condition = rowKeyCondition(m_driver);
    execWrite(QStringLiteral("DELETE FROM %1 WHERE %2").arg(tableForWriting(m_driver), condition),
              {m_rowKeys.at(static_cast<size_t>(m_current))}, QStringLiteral("delete from"));
    m_rows.reset();
}

QString TDataSet::rowKeyCondition(AliasDefinition::Driver driver) const {
    if (driver == AliasDefinition::Driver::Odbc)
        throw EDatabaseError(
            QStringLiteral("Rows of '%1' cannot be changed through ODBC, only appended")
                .arg(displayName()));
    return driver == AliasDefinition::Driver::Postgres ? QStringLiteral("ctid = CAST(? AS tid)")
                                                       : QStringLiteral("rowid = ?");
}

QString TDataSet::quoted(const QString& field) const {
    return TSession::current()
        .connectionFor(DatabaseName)
        .driver()
        ->escapeIdentifier(field, QSqlDriver::FieldName);
}

// Exactly one row must change: anything else is an error the caller sees,
// never a row silently lost.
void TDataSet::execWrite(const QString& sql, const QVariantList& values, const QString& action) {
    bool ok = false;
    QString why;
    {
        QSqlQuery query(TSession::current().connectionFor(DatabaseName));
        ok = query.prepare(sql);
        for (const QVariant& value : values)
            query.addBindValue(value);
        ok = ok && query.exec();
        why = query.lastError().text();
        if (ok && query.numRowsAffected() != 1) {
            ok = false;
            why = QStringLiteral("%1 rows changed instead of one").arg(query.numRowsAffected());
        }
    }
    if (ok)
        return;
    TSession::current().dropIfBroken(DatabaseName);
    throw EDatabaseError(QStringLiteral("Cannot %1 '%2' of database '%3': %4")
                             .arg(action, displayName(), DatabaseName, why));
}
