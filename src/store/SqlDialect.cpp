#include "store/SqlDialect.h"

#include "store/DatabaseError.h"

#include <QDateTime>
#include <QRegularExpression>

namespace {

using Driver = AliasDefinition::Driver;

const QString kDateTimeFormat = QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz");

// Outside quotes: "personal.dbf" -> "personal"; on SQLite also "dbo.x" -> "x".
QString translateBare(QString text, Driver driver) {
    static const QRegularExpression fileName(QStringLiteral("\\b([A-Za-z_]\\w*)\\.(?:dbf|db)\\b"),
                                             QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression owner(QStringLiteral("\\bdbo\\.(?=[A-Za-z_\"])"),
                                          QRegularExpression::CaseInsensitiveOption);
    text.replace(fileName, QStringLiteral("\\1"));
    if (driver == Driver::Sqlite)
        text.remove(owner);
    return text;
}

// Inside a string literal: only 'yyyymmdd hh:mm:ss' changes, and only on
// SQLite, where date-times are text and must meet the stored form.
QString translateLiteral(const QString& body, Driver driver) {
    static const QRegularExpression stamp(
        QStringLiteral("^(\\d{4})(\\d{2})(\\d{2}) (\\d{2}):(\\d{2}):(\\d{2})(?:\\.(\\d{1,3}))?$"));
    if (driver != Driver::Sqlite)
        return body;
    const QRegularExpressionMatch m = stamp.match(body);
    if (!m.hasMatch())
        return body;
    const QDate date(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
    const QTime time(m.captured(4).toInt(), m.captured(5).toInt(), m.captured(6).toInt(),
                     m.captured(7).leftJustified(3, QLatin1Char('0')).toInt());
    if (!date.isValid() || !time.isValid())
        return body;
    return QDateTime(date, time).toString(kDateTimeFormat);
}

// The end of a quoted section starting at `open`; a doubled quote is an escape.
qsizetype quotedEnd(const QString& sql, qsizetype open) {
    const QChar quote = sql[open];
    for (qsizetype i = open + 1; i < sql.size(); ++i) {
        if (sql[i] != quote)
            continue;
        if (i + 1 < sql.size() && sql[i + 1] == quote)
            ++i;
        else
            return i;
    }
    return sql.size(); // unterminated: the server reports it
}

QDate parseDate(const QString& text) {
    return QDate::fromString(text, QStringLiteral("yyyy-MM-dd"));
}

QTime parseTime(const QString& text) {
    for (const char* format : {"hh:mm:ss.zzz", "hh:mm:ss", "hh:mm"}) {
        const QTime time = QTime::fromString(text, QLatin1String(format));
        if (time.isValid())
            return time;
    }
    return {};
}

// Before the epoch the whole part counts backwards and the fraction forwards.
TDateTime combine(TDateTime date, TDateTime time) {
    return date < 0 ? date - time : date + time;
}

} // namespace

QString translateSql(const QString& sql, AliasDefinition::Driver driver) {
    QString out;
    qsizetype plain = 0;
    for (qsizetype i = 0; i < sql.size(); ++i) {
        if (sql[i] != QLatin1Char('\'') && sql[i] != QLatin1Char('"'))
            continue;
        out += translateBare(sql.mid(plain, i - plain), driver);
        const qsizetype end = quotedEnd(sql, i);
        const QString body = sql.mid(i + 1, end - i - 1);
        const QChar quote = sql[i];
        out += quote;
        out += quote == QLatin1Char('\'') ? translateLiteral(body, driver) : body;
        if (end < sql.size())
            out += quote;
        i = end;
        plain = end + 1;
    }
    if (plain < sql.size())
        out += translateBare(sql.mid(plain), driver);
    return out;
}

QString translateTableName(const QString& name, AliasDefinition::Driver driver) {
    static const QRegularExpression plainName(
        QStringLiteral("^([A-Za-z_]\\w*\\.)?[A-Za-z_]\\w*(\\.(db|dbf))?$"),
        QRegularExpression::CaseInsensitiveOption);
    if (!plainName.match(name).hasMatch())
        throw EDatabaseError(QStringLiteral("Invalid table name '%1'").arg(name));
    return translateBare(name, driver);
}

QString storedDateTimeText(TDateTime value, FieldKind kind) {
    const QDateTime dt = toQDateTime(value);
    switch (kind) {
    case FieldKind::Date:
        return dt.date().toString(QStringLiteral("yyyy-MM-dd"));
    case FieldKind::Time:
        return dt.time().toString(QStringLiteral("hh:mm:ss.zzz"));
    default:
        return dt.toString(kDateTimeFormat);
    }
}

bool parseStoredDateTime(const QVariant& value, TDateTime& result) {
    switch (value.typeId()) {
    case QMetaType::QDateTime:
        result = toDateTime(value.toDateTime());
        return value.toDateTime().isValid();
    case QMetaType::QDate:
        result = toDateTime(value.toDate());
        return value.toDate().isValid();
    case QMetaType::QTime:
        result = toDateTime(value.toTime());
        return value.toTime().isValid();
    default:
        break;
    }
    // Date and time are read apart: a local time in a daylight-saving gap must
    // not be moved by a time-zone conversion.
    // Compiled once: every date-time read from SQLite passes here.
    static const QRegularExpression separator(QStringLiteral("[ T]"));
    const QStringList parts = value.toString().trimmed().split(separator);
    const QDate date = parseDate(parts.value(0));
    const QTime time = parseTime(parts.size() == 2 ? parts[1] : parts.value(0));
    if (parts.size() == 2 && date.isValid() && time.isValid())
        result = combine(toDateTime(date), toDateTime(time));
    else if (parts.size() == 1 && date.isValid())
        result = toDateTime(date);
    else if (parts.size() == 1 && time.isValid())
        result = toDateTime(time);
    else
        return false;
    return true;
}
