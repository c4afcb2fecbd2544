#include "store/DataSet.h"

#include "store/Session.h"
#include "store/SqlDialect.h"

#include <QSqlDriver>
#include <QSqlError>
#include <QSqlField>
#include <QSqlQuery>
#include <algorithm>

namespace {

using Driver = AliasDefinition::Driver;

const QString kRowKey = QStringLiteral("kivo_rowkey");

} // namespace

TDataSet::~TDataSet() = default;

void TDataSet::Open() {
    if (m_active)
        return;
    m_driver = TSession::current().driverOf(DatabaseName);
    m_rows.reset();
    m_rowKeys.clear();
    m_toLast = false;
    m_current = 0;
    m_state = State::Browse;
    const QString table = tableForWriting(m_driver);
    if (table.isEmpty()) {
        loadRows(); // a query's errors show when it opens
    } else {
        // A table's shape is read without its rows; those come on first use.
        runSelect(QStringLiteral("SELECT * FROM %1 WHERE 1 = 0").arg(table), nullptr,
                  QStringLiteral("open"));
    }
    m_active = true;
}

void TDataSet::Close() {
    m_active = false;
    m_state = State::Browse;
    m_rows.reset();
    m_rowKeys.clear();
    m_shape = QSqlRecord();
    m_buffer = QSqlRecord();
}

void TDataSet::requireActive() const {
    if (!m_active)
        throw EDatabaseError(
            QStringLiteral("Cannot perform this operation on a closed data set ('%1')")
                .arg(displayName()));
}

// Runs a select, keeps the shape of its result and, when asked, its rows.
// The row key column is kept apart from the fields.
void TDataSet::runSelect(const QString& sql, std::vector<QSqlRecord>* rows,
                         const QString& action) const {
    QString why;
    {
        QSqlQuery query(TSession::current().connectionFor(DatabaseName));
        query.setForwardOnly(true);
        if (!query.exec(sql))
            why = query.lastError().text();
        m_shape = query.record();
        const int key = m_shape.indexOf(kRowKey);
        m_shape.remove(key);
        while (rows && query.next()) {
            QSqlRecord row = query.record();
            if (key >= 0) {
                m_rowKeys.push_back(row.value(key));
                row.remove(key);
            }
            rows->push_back(row);
        }
        if (why.isEmpty() && query.lastError().isValid())
            why = query.lastError().text(); // the fetch broke off
    }
    if (why.isEmpty())
        return;
    TSession::current().dropIfBroken(DatabaseName);
    throw EDatabaseError(QStringLiteral("Cannot %1 '%2' of database '%3': %4")
                             .arg(action, displayName(), DatabaseName, why));
}

// Reads the rows; after a Post the position is kept (or moves to the
// appended row, which the table order puts last).
void TDataSet::loadRows() const {
    if (m_rows)
        return;
    std::vector<QSqlRecord> rows;
    m_rowKeys.clear();
    runSelect(selectStatement(m_driver), &rows, QStringLiteral("read"));
    const int count = static_cast<int>(rows.size());
    m_rows = std::move(rows);
    m_current = m_toLast ? count - 1 : std::min(m_current, count - 1);
    m_current = std::max(m_current, 0);
    m_bof = m_eof = count == 0;
    m_toLast = false;
}

void TDataSet::First() {
    requireActive();
    if (m_state != State::Browse)
        Post();
    loadRows();
    m_current = 0;
    m_bof = true;
    m_eof = m_rows->empty();
}

void TDataSet::Last() {
    requireActive();
    if (m_state != State::Browse)
        Post();
    loadRows();
    m_current = std::max(0, static_cast<int>(m_rows->size()) - 1);
    m_eof = true;
    m_bof = m_rows->empty();
}

void TDataSet::Next() {
    requireActive();
    if (m_state != State::Browse)
        Post();
    loadRows();
    if (m_current + 1 < static_cast<int>(m_rows->size())) {
        ++m_current;
        m_bof = m_eof = false;
    } else {
        m_eof = true;
    }
}

void TDataSet::Prior() {
    requireActive();
    if (m_state != State::Browse)
        Post();
    loadRows();
    if (m_current > 0) {
        --m_current;
        m_bof = m_eof = false;
    } else {
        m_bof = true;
    }
}

bool TDataSet::Eof() const {
    requireActive();
    loadRows();
    return m_eof;
}

bool TDataSet::Bof() const {
    requireActive();
    loadRows();
    return m_bof;
}

int TDataSet::RecordCount() const {
    requireActive();
    loadRows();
    return static_cast<int>(m_rows->size());
}

int TDataSet::RecNo() const {
    return RecordCount() == 0 ? 0 : m_current + 1;
}

int TDataSet::FieldCount() const {
    return m_shape.count();
}

TField TDataSet::Fields(int index) {
    requireActive();
    requireIndex(index);
    return TField(*this, index);
}

TField TDataSet::FieldByName(const QString& name) {
    requireActive();
    const int index = m_shape.indexOf(name);
    if (index < 0)
        throw EDatabaseError(QStringLiteral("%1: Field '%2' not found").arg(displayName(), name));
    return TField(*this, index);
}

void TDataSet::requireIndex(int index) const {
    if (index < 0 || index >= m_shape.count())
        throw EDatabaseError(
            QStringLiteral("%1: Field index %2 out of range").arg(displayName()).arg(index));
}

QString TDataSet::fieldName(int index) const {
    return m_shape.fieldName(index);
}

QVariant TDataSet::fieldValue(int index, int row) const {
    requireActive();
    requireIndex(index);
    if (row >= 0)
        loadRows(); // the rows decide where an appended row shows
    if (m_state == State::Insert && (row < 0 || row == insertRow()))
        return m_buffer.value(index);
    if (m_state == State::Edit && (row < 0 || row == m_current))
        return m_buffer.value(index);
    loadRows();
    if (row < 0)
        row = m_current;
    if (row >= static_cast<int>(m_rows->size()))
        return {};
    return (*m_rows)[static_cast<size_t>(row)].value(index);
}

TField TDataSet::FieldAt(int row, int index) {
    requireActive();
    requireIndex(index);
    return TField(*this, index, row);
}

TDataSet::DataSetState TDataSet::DataState() const {
    if (!m_active)
        return DataSetState::Inactive;
    switch (m_state) {
    case State::Insert:
        return DataSetState::Insert;
    case State::Edit:
        return DataSetState::Edit;
    default:
        return DataSetState::Browse;
    }
}

bool TDataSet::Modified() const {
    for (int i = 0; m_state != State::Browse && i < m_buffer.count(); ++i)
        if (m_buffer.isGenerated(i))
            return true;
    return false;
}

// An appended row is shown after the rows read, where the table order puts it.
int TDataSet::insertRow() const {
    return m_rows ? static_cast<int>(m_rows->size()) : 0;
}

void TDataSet::MoveTo(int recNo) {
    requireActive();
    if (m_state != State::Browse)
        Post();
    loadRows();
    const int count = static_cast<int>(m_rows->size());
    m_current = std::clamp(recNo - 1, 0, std::max(0, count - 1));
    m_bof = m_eof = count == 0;
}

void TDataSet::setFieldValue(int index, int row, const QVariant& value) {
    requireActive();
    requireIndex(index);
    if (m_state == State::Browse)
        throw EDatabaseError(
            QStringLiteral("'%1' is not in edit or insert mode").arg(displayName()));
    if (row >= 0)
        loadRows();
    if (row >= 0 && row != (m_state == State::Insert ? insertRow() : m_current))
        throw EDatabaseError(
            QStringLiteral("'%1': only the row in edit can be written").arg(displayName()));
    m_buffer.setValue(index, value);
    m_buffer.setGenerated(index, true);
}

QString TTable::selectStatement(AliasDefinition::Driver driver) const {
    const QString table = translateTableName(TableName, driver);
    // The row key lets Edit and Delete reach exactly one of several equal rows.
    if (driver == Driver::Postgres)
        return QStringLiteral("SELECT *, ctid::text AS %1 FROM %2").arg(kRowKey, table);
    // An ODBC server offers no row key every server understands: its rows
    // are appended and browsed, not edited.
    if (driver == Driver::Odbc)
        return QStringLiteral("SELECT * FROM %1").arg(table);
    return QStringLiteral("SELECT *, rowid AS %1 FROM %2 ORDER BY rowid").arg(kRowKey, table);
}

QString TTable::tableForWriting(AliasDefinition::Driver driver) const {
    return translateTableName(TableName, driver);
}

QString TTable::schemaTable() const {
    return translateTableName(TableName, Driver::Sqlite);
}

QString TQuery::selectStatement(AliasDefinition::Driver driver) const {
    return translateSql(SQL.join(QLatin1Char('\n')), driver);
}
