#include "store/DataSet.h"

#include "platform/Regional.h"
#include "store/Schema.h"
#include "store/SqlDialect.h"

#include <QSqlField>
#include <QtMath>

namespace {

bool isDateType(const QVariant& value) {
    const int type = value.typeId();
    return type == QMetaType::QDateTime || type == QMetaType::QDate || type == QMetaType::QTime;
}

bool isFloatType(const QVariant& value) {
    return value.typeId() == QMetaType::Double || value.typeId() == QMetaType::Float;
}

// The regional text of a date, a time or both, after what the value holds.
QString dateTimeText(const QVariant& value, TDateTime dateTime) {
    const QString text = value.toString();
    if (value.typeId() == QMetaType::QTime ||
        (value.typeId() == QMetaType::QString && !text.contains(QLatin1Char('-'))))
        return TimeToStr(dateTime);
    if (value.typeId() == QMetaType::QDate ||
        (value.typeId() == QMetaType::QString && !text.contains(QLatin1Char(':'))))
        return DateToStr(dateTime);
    return DateTimeToStr(dateTime);
}

// Shortest decimal form with at most 15 significant digits.
QString floatText(double value) {
    QString text = QString::number(value, 'g', 15);
    return text.replace(QLatin1Char('.'), formatSettings().decimalSeparator);
}

} // namespace

QString TField::FieldName() const {
    return m_dataSet.fieldName(m_index);
}

QVariant TField::Value() const {
    return m_dataSet.fieldValue(m_index, m_row);
}

bool TField::IsNull() const {
    return Value().isNull();
}

EDatabaseError TField::conversionError(const QString& type) const {
    return EDatabaseError(QStringLiteral("'%1' is not a valid %2 value for field '%3'")
                              .arg(Value().toString(), type, FieldName()));
}

QString TField::AsString() const {
    const QVariant value = Value();
    if (value.isNull())
        return {};
    TDateTime dateTime = 0;
    if ((isDateType(value) || isDateTimeColumn(FieldName())) &&
        parseStoredDateTime(value, dateTime))
        return dateTimeText(value, dateTime);
    if (isFloatType(value))
        return floatText(value.toDouble());
    // SQLite keeps logical values as 0 and 1; the column's type says what they are.
    if (value.typeId() == QMetaType::Bool ||
        m_dataSet.m_shape.field(m_index).metaType().id() == QMetaType::Bool)
        return AsBoolean() ? QStringLiteral("True") : QStringLiteral("False");
    return value.toString();
}

int TField::AsInteger() const {
    const QVariant value = Value();
    if (value.isNull())
        return 0;
    bool ok = false;
    // toInt() would cut a 64-bit value down to its low bits
    const qlonglong whole = value.toLongLong(&ok);
    if (ok && !isFloatType(value)) {
        if (whole < INT_MIN || whole > INT_MAX)
            throw conversionError(QStringLiteral("integer"));
        return int(whole);
    }
    const double real = value.toDouble(&ok);
    if (!ok || real < INT_MIN || real > INT_MAX)
        throw conversionError(QStringLiteral("integer"));
    return qRound(real);
}

double TField::AsFloat() const {
    const QVariant value = Value();
    if (value.isNull())
        return 0;
    bool ok = false;
    const double real = value.toDouble(&ok);
    if (!ok)
        throw conversionError(QStringLiteral("floating-point"));
    return real;
}

bool TField::AsBoolean() const {
    const QVariant value = Value();
    if (value.isNull())
        return false;
    if (value.typeId() == QMetaType::QString) {
        const QString text = value.toString().trimmed().toLower();
        if (text == QLatin1String("true") || text == QLatin1String("t") ||
            text == QLatin1String("1"))
            return true;
        if (text == QLatin1String("false") || text == QLatin1String("f") ||
            text == QLatin1String("0"))
            return false;
        throw conversionError(QStringLiteral("logical"));
    }
    return value.toBool();
}

TDateTime TField::AsDateTime() const {
    const QVariant value = Value();
    if (value.isNull())
        return 0;
    TDateTime result = 0;
    if (!parseStoredDateTime(value, result))
        throw conversionError(QStringLiteral("date and time"));
    return result;
}

void TField::setValue(const QVariant& value) {
    TDateTime dateTime = 0;
    if (isDateType(value) && parseStoredDateTime(value, dateTime))
        setAsDateTime(dateTime);
    else
        m_dataSet.setFieldValue(m_index, m_row, value);
}

void TField::setAsString(const QString& value) {
    m_dataSet.setFieldValue(m_index, m_row, value);
}
void TField::setAsInteger(int value) {
    m_dataSet.setFieldValue(m_index, m_row, value);
}
void TField::setAsFloat(double value) {
    m_dataSet.setFieldValue(m_index, m_row, value);
}
void TField::setAsBoolean(bool value) {
    m_dataSet.setFieldValue(m_index, m_row, value);
}
void TField::Clear() {
    m_dataSet.setFieldValue(m_index, m_row, QVariant());
}

// Written as text in the form of the column's kind, so that it compares in
// time order with the other rows and with translated literals.
void TField::setAsDateTime(TDateTime value) {
    const ColumnDef* column = findColumn(m_dataSet.schemaTable(), FieldName());
    const bool dated =
        column && (column->kind == FieldKind::Date || column->kind == FieldKind::Time);
    m_dataSet.setFieldValue(m_index, m_row,
                            storedDateTimeText(value, dated ? column->kind : FieldKind::DateTime));
}
