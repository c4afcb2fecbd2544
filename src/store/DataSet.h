#pragma once

#include "platform/DateTime.h"
#include "store/DatabaseError.h"

#include <QSqlRecord>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <vector>

class TDataSet;

// One field of the current row, read and written in the types the station uses.
class TField {
public:
    TField(TDataSet& dataSet, int index) : m_dataSet(dataSet), m_index(index) {}
    QString FieldName() const;
    bool IsNull() const;
    QVariant Value() const;
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

private:
    TDataSet& m_dataSet;
    int m_index;
};

// A thin data set over Qt SQL. Rows are read when it opens; Append/Post insert.
class TDataSet {
public:
    virtual ~TDataSet();

    QString DatabaseName;

    void Open();
    void Close();
    bool Active() const { return m_active; }

    void First();
    void Last();
    void Next();
    void Prior();
    bool Eof() const;
    bool Bof() const;
    int RecordCount() const;
    int RecNo() const; // 1-based; 0 when empty

    void Append();
    void Edit();
    void Post();
    void Cancel();
    void Delete();

    int FieldCount() const;
    TField Fields(int index);
    TField FieldByName(const QString& name); // raises "Field 'x' not found"

protected:
    virtual QString selectStatement() const = 0;
    virtual QString tableForWriting() const = 0; // empty: read only

private:
    friend class TField;
    QVariant fieldValue(int index) const;
    void setFieldValue(int index, const QVariant& value);
    void requireActive() const;

    bool m_active = false;
    enum class State { Browse, Insert, Edit } m_state = State::Browse;
    QSqlRecord m_shape;
    std::vector<QSqlRecord> m_rows;
    QSqlRecord m_buffer;
    int m_current = 0;
    bool m_eof = true, m_bof = true;
};

// A data set over one table, named as the station names it ("lectura.DB",
// "dbo.tickettaxis"); names match without regard to case.
class TTable : public TDataSet {
public:
    QString TableName;

protected:
    QString selectStatement() const override;
    QString tableForWriting() const override;
};

// A data set over the lines of an SQL text, run as they stand.
class TQuery : public TDataSet {
public:
    QStringList SQL;

protected:
    QString selectStatement() const override;
    QString tableForWriting() const override { return {}; }
};
