// Fields as a person reads and types them in a grid.
#include "store/DataSet.h"

#include "platform/Regional.h"
#include "store/Schema.h"
#include "store/SqlDialect.h"

#include <QLocale>
#include <QRegularExpression>
#include <QSqlField>
#include <cmath>

namespace {

// A column of that name in any table, the server table first: a query's
// columns are named like the table it reads.
const ColumnDef* anyColumnNamed(const QString& name) {
    for (const ColumnDef& column : serverTable().columns)
        if (column.name.compare(name, Qt::CaseInsensitive) == 0)
            return &column;
    for (const TableDef& table : localTables())
        for (const ColumnDef& column : table.columns)
            if (column.name.compare(name, Qt::CaseInsensitive) == 0)
                return &column;
    return nullptr;
}

FieldKind kindOfEngineType(int type, const QString& name) {
    switch (type) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
        return FieldKind::Integer;
    case QMetaType::Double:
    case QMetaType::Float:
        return FieldKind::Float;
    case QMetaType::Bool:
        return FieldKind::Logical;
    case QMetaType::QDate:
        return FieldKind::Date;
    case QMetaType::QTime:
        return FieldKind::Time;
    case QMetaType::QDateTime:
        return FieldKind::DateTime;
    default:
        // SQLite reports date-time columns as text.
        return isDateTimeColumn(name) ? FieldKind::DateTime : FieldKind::Text;
    }
}

QList<int> numbersIn(const QString& text) {
    static const QRegularExpression digits(QStringLiteral("\\d+"));
    QList<int> numbers;
    for (auto it = digits.globalMatch(text); it.hasNext();) {
        bool ok = false;
        numbers << it.next().captured().toInt(&ok);
        if (!ok)
            numbers.back() = -1; // too many digits: no valid part
    }
    return numbers;
}

// The order of day, month and year in the short date picture.
QList<QChar> dateOrder(const QString& picture) {
    QList<QChar> order;
    for (QChar c : picture)
        if ((c == QLatin1Char('d') || c == QLatin1Char('M') || c == QLatin1Char('y')) &&
            !order.contains(c))
            order << c;
    return order.size() == 3 ? order
                             : QList<QChar>{QLatin1Char('d'), QLatin1Char('M'), QLatin1Char('y')};
}

// A date typed in the order of the regional short date: three numbers with
// any separators; a two-digit year is in 1950..2049.
bool parseRegionalDate(const QString& text, QDate& date) {
    if (text.contains(QRegularExpression(QStringLiteral("[A-Za-z]"))))
        return false;
    const QList<int> numbers = numbersIn(text);
    if (numbers.size() != 3)
        return false;
    const QList<QChar> order = dateOrder(formatSettings().shortDateFormat);
    int day = 0, month = 0, year = 0;
    for (int i = 0; i < 3; ++i)
        (order[i] == QLatin1Char('d')   ? day
         : order[i] == QLatin1Char('M') ? month
                                        : year) = numbers[i];
    if (year >= 0 && year < 100)
        year += year < 50 ? 2000 : 1900;
    date = QDate(year, month, day);
    return date.isValid();
}

// Hours, minutes and optionally seconds and milliseconds, with the regional
// or the usual am/pm marks for a twelve-hour clock.
bool parseRegionalTime(QString text, QTime& time) {
    const FormatSettings& settings = formatSettings();
    int offset = -1; // -1: a 24-hour time
    for (const auto& [mark, shift] : {std::pair{settings.pmText, 12},
                                      {settings.amText, 0},
                                      {QStringLiteral("PM"), 12},
                                      {QStringLiteral("AM"), 0}}) {
        if (!mark.isEmpty() && text.contains(mark, Qt::CaseInsensitive)) {
            text.remove(mark, Qt::CaseInsensitive);
            offset = shift;
            break;
        }
    }
    if (text.contains(QRegularExpression(QStringLiteral("[A-Za-z]"))))
        return false;
    const QList<int> numbers = numbersIn(text);
    if (numbers.size() < 2 || numbers.size() > 4)
        return false;
    int hour = numbers[0];
    if (offset >= 0) {
        if (hour < 1 || hour > 12)
            return false;
        hour = hour % 12 + offset;
    }
    time = QTime(hour, numbers[1], numbers.value(2), numbers.value(3));
    return time.isValid();
}

bool parseRegionalDateTime(const QString& text, TDateTime& value) {
    const QString trimmed = text.trimmed();
    const qsizetype blank = trimmed.indexOf(QRegularExpression(QStringLiteral("\\s")));
    QDate date;
    QTime time(0, 0);
    if (!parseRegionalDate(trimmed.left(blank), date))
        return false;
    if (blank >= 0 && !parseRegionalTime(trimmed.mid(blank + 1), time))
        return false;
    value = toDateTime(QDateTime(date, time));
    return true;
}

bool parseLogical(const QString& text, bool& value) {
    static const QStringList yes{QStringLiteral("true"), QStringLiteral("t"),  QStringLiteral("1"),
                                 QStringLiteral("sí"),   QStringLiteral("si"), QStringLiteral("s"),
                                 QStringLiteral("yes"),  QStringLiteral("y")};
    static const QStringList no{QStringLiteral("false"), QStringLiteral("f"), QStringLiteral("0"),
                                QStringLiteral("no"), QStringLiteral("n")};
    const QString word = text.trimmed().toLower();
    value = yes.contains(word);
    return value || no.contains(word);
}

} // namespace

FieldKind TField::Kind() const {
    if (const ColumnDef* column = findColumn(m_dataSet.schemaTable(), FieldName()))
        return column->kind;
    return kindOfEngineType(m_dataSet.m_shape.field(m_index).metaType().id(), FieldName());
}

QString TField::DisplayName() const {
    const QString name = FieldName();
    const ColumnDef* column = findColumn(m_dataSet.schemaTable(), name);
    if (!column)
        column = anyColumnNamed(name);
    return column ? column->name : name;
}

QString TField::Text() const {
    const QVariant value = Value();
    if (value.isNull())
        return {};
    TDateTime dateTime = 0;
    switch (Kind()) {
    case FieldKind::Date:
        return parseStoredDateTime(value, dateTime) ? DateToStr(dateTime) : value.toString();
    case FieldKind::Time:
        return parseStoredDateTime(value, dateTime) ? TimeToStr(dateTime) : value.toString();
    case FieldKind::DateTime:
        return parseStoredDateTime(value, dateTime) ? DateTimeToStr(dateTime) : value.toString();
    case FieldKind::Logical: {
        bool logical = false;
        if (value.typeId() == QMetaType::QString && !parseLogical(value.toString(), logical))
            return value.toString();
        return (value.typeId() == QMetaType::QString ? logical : value.toBool())
                   ? QStringLiteral("True")
                   : QStringLiteral("False");
    }
    default:
        return AsString();
    }
}

EDatabaseError TField::textError(const QString& text, const QString& type) const {
    return EDatabaseError(QStringLiteral("'%1' is not a valid %2 value for field '%3'")
                              .arg(text, type, DisplayName()));
}

void TField::setText(const QString& text) {
    const FieldKind kind = Kind();
    if (kind == FieldKind::Text) {
        setAsString(text);
        return;
    }
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty()) {
        Clear();
        return;
    }
    bool ok = false;
    switch (kind) {
    case FieldKind::Integer: {
        const int value = trimmed.toInt(&ok);
        if (!ok)
            throw textError(text, QStringLiteral("integer"));
        setAsInteger(value);
        return;
    }
    case FieldKind::Float: {
        QString c = trimmed;
        c.replace(formatSettings().decimalSeparator, QLatin1Char('.'));
        const double value = QLocale::c().toDouble(c, &ok);
        if (!ok || !std::isfinite(value))
            throw textError(text, QStringLiteral("floating-point"));
        setAsFloat(value);
        return;
    }
    case FieldKind::Logical: {
        bool value = false;
        if (!parseLogical(trimmed, value))
            throw textError(text, QStringLiteral("logical"));
        setAsBoolean(value);
        return;
    }
    case FieldKind::Date: {
        QDate date;
        if (!parseRegionalDate(trimmed, date))
            throw textError(text, QStringLiteral("date"));
        setAsDateTime(toDateTime(date));
        return;
    }
    case FieldKind::Time: {
        QTime time;
        if (!parseRegionalTime(trimmed, time))
            throw textError(text, QStringLiteral("time"));
        setAsDateTime(toDateTime(time));
        return;
    }
    default: {
        TDateTime value = 0;
        if (!parseRegionalDateTime(trimmed, value))
            throw textError(text, QStringLiteral("date and time"));
        setAsDateTime(value);
        return;
    }
    }
}
