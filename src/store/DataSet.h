#pragma once

#include "platform/DateTime.h"
#include "store/Aliases.h"
#include "store/DatabaseError.h"

#include <QSqlDatabase>
#include <QSqlRecord>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <optional>
#include <vector>

class TDataSet;
enum class FieldKind;

// One field of the current row (or of the row being edited), read and written
// in the types the station uses. Reading NULL gives 0, "" or false.
class TField {
public:
    // row < 0: the current row (or the row being edited); else that 0-based
    // row as it was read, for browsing without moving (grids). Only the
    // current row can be written.
    TField(TDataSet& dataSet, int index, int row = -1)
        : m_dataSet(dataSet), m_index(index), m_row(row) {}
    QString FieldName() const;
    // The name as the schema spells it ("FECHA", "Activo"), so that a server
    // that folds names to lower case does not change what a grid shows.
    QString DisplayName() const;
    // The type in which the station accesses the field: the schema's when it
    // knows the column, else what the engine reports.
    FieldKind Kind() const;
    bool IsNull() const;
    QVariant Value() const;
    // Date-times in the regional short date / long time, floats in their
    // shortest form with the regional decimal separator.
    QString AsString() const;
    int AsInteger() const;
    double AsFloat() const;
    bool AsBoolean() const;
    TDateTime AsDateTime() const;

    void setValue(const QVariant& value);
    void setAsString(const QString& value);
    void setAsInteger(int value);
    void setAsFloat(double value);
    void setAsBoolean(bool value);
    void setAsDateTime(TDateTime value);
    void Clear();

    // What a person reads and types: dates, times and floats in the regional
    // formats, logicals as True/False. setText parses by Kind() and stores in
    // the store's forms; text that is no value of the kind raises, and an
    // empty text clears any field that is not text.
    QString Text() const;
    void setText(const QString& text);

private:
    EDatabaseError conversionError(const QString& type) const;
    EDatabaseError textError(const QString& text, const QString& type) const;

    TDataSet& m_dataSet;
    int m_index;
    int m_row;
};

// A thin data set over Qt SQL, bound to an alias (DatabaseName) of the current
// session. A table's rows are read on first use after Open, so that opening a
// large table only to append stays cheap; a query's rows when it opens.
// Append/Edit and Post write the row at once; a failed Post raises and keeps
// the row in the buffer.
class TDataSet {
public:
    virtual ~TDataSet();

    QString DatabaseName;
    // Post refuses a row that leaves any of these fields empty (a key).
    QStringList RequiredFields;

    void Open(); // raises EDatabaseError: missing table, bad SQL, no connection
    void Close();
    bool Active() const { return m_active; }

    void First();
    void Last(); // also sets Eof
    void Next();
    void Prior();
    bool Eof() const;
    bool Bof() const;
    int RecordCount() const;
    int RecNo() const; // 1-based; 0 when empty

    enum class DataSetState { Inactive, Browse, Edit, Insert };
    DataSetState DataState() const;
    // True when a field of the row in edit or insert has been assigned.
    bool Modified() const;
    // Moves to the 1-based row, posting a pending edit like the other moves.
    void MoveTo(int recNo);

    void Append();
    void Edit();
    void Post();
    void Cancel();
    void Delete();

    int FieldCount() const;
    TField Fields(int index);
    TField FieldByName(const QString& name); // raises "Field 'x' not found"
    // A field of another row (0-based) without moving; the row being edited
    // shows its edited values.
    TField FieldAt(int row, int index);

protected:
    // The statement that reads the rows, in the driver's dialect.
    virtual QString selectStatement(AliasDefinition::Driver driver) const = 0;
    // The table that Append/Edit/Delete write, translated; empty: read only.
    virtual QString tableForWriting(AliasDefinition::Driver driver) const = 0;
    // The name errors use.
    virtual QString displayName() const = 0;
    // The schema table whose column kinds decide how date-times are written.
    virtual QString schemaTable() const { return {}; }

private:
    friend class TField;
    enum class State { Browse, Insert, Edit };

    QVariant fieldValue(int index, int row = -1) const;
    int insertRow() const;
    void setFieldValue(int index, int row, const QVariant& value);
    QString fieldName(int index) const;
    void requireActive() const;
    void requireIndex(int index) const;
    void loadRows() const;
    void runSelect(const QString& sql, std::vector<QSqlRecord>* rows, const QString& action) const;
    void requireValues() const;
    void postInsert();
    void postEdit();
    QString quoted(const QString& field) const;
    QString rowKeyCondition(AliasDefinition::Driver driver) const;
    void execWrite(const QString& sql, const QVariantList& values, const QString& action);

    bool m_active = false;
    State m_state = State::Browse;
    AliasDefinition::Driver m_driver = AliasDefinition::Driver::Sqlite;
    // Rows are filled lazily, hence mutable behind the const readers.
    mutable QSqlRecord m_shape;
    mutable std::optional<std::vector<QSqlRecord>> m_rows;
    mutable std::vector<QVariant> m_rowKeys; // rowid / ctid of each row, for Edit and Delete
    mutable int m_current = 0;
    mutable bool m_eof = true, m_bof = true;
    mutable bool m_toLast = false; // after an insert: move to the last row once reloaded
    QSqlRecord m_buffer;
};

// A data set over one table, named as the station names it ("lectura.DB",
// "dbo.tickettaxis"); names match without regard to case.
class TTable : public TDataSet {
public:
    QString TableName;

protected:
    QString selectStatement(AliasDefinition::Driver driver) const override;
    QString tableForWriting(AliasDefinition::Driver driver) const override;
    QString displayName() const override { return TableName; }
    QString schemaTable() const override;
};

// A data set over the lines of an SQL text, run as they stand.
class TQuery : public TDataSet {
public:
    QStringList SQL;

protected:
    QString selectStatement(AliasDefinition::Driver driver) const override;
    QString tableForWriting(AliasDefinition::Driver) const override { return {}; }
    QString displayName() const override { return QStringLiteral("query"); }
};
