#include "RowConverter.h"

#include "CodePage.h"
#include "store/SqlDialect.h"

#include <QDate>
#include <QDateTime>
#include <QTime>
#include <cmath>
#include <limits>
#include <optional>

namespace {

// One value of one field, or the reason it cannot be one.
struct Converted {
    QVariant value;
    QString problem;
};

Converted fail(const QString& problem) {
    return {QVariant(), problem};
}

QString describe(const QVariant& value) {
    if (value.typeId() == QMetaType::Double)
        return QString::number(value.toDouble(), 'g', 17);
    return value.toString();
}

// A text column holding a number, as the personnel's group is kept.
Converted textToInteger(const QVariant& value, const QString& codec) {
    QString text;
    if (!decodeTableText(codec, value.toByteArray(), text))
        return fail(QStringLiteral("the text is not in the table's code page (%1)").arg(codec));
    text = text.trimmed();
    if (text.isEmpty())
        return {QVariant(QMetaType::fromType<int>()), {}};
    bool ok = false;
    const qint64 whole = text.toLongLong(&ok);
    if (!ok)
        return fail(QStringLiteral("'%1' is not a whole number").arg(text));
    if (whole < std::numeric_limits<qint32>::min() || whole > std::numeric_limits<qint32>::max())
        return fail(QStringLiteral("%1 does not fit in a 32-bit integer").arg(whole));
    return {int(whole), {}};
}

Converted toInteger(const QVariant& value, LegacyType type, const QString& codec) {
    double real = 0;
    switch (type) {
    case LegacyType::Text:
        return textToInteger(value, codec);
    case LegacyType::Integer:
    case LegacyType::Float:
        real = value.toDouble();
        break;
    case LegacyType::Logical:
        return {value.toBool() ? 1 : 0, {}};
    default:
        return fail(QStringLiteral("a whole number is expected"));
    }
    if (value.typeId() == QMetaType::LongLong) {
        const qint64 whole = value.toLongLong();
        if (whole < std::numeric_limits<qint32>::min() ||
            whole > std::numeric_limits<qint32>::max())
            return fail(QStringLiteral("%1 does not fit in a 32-bit integer").arg(whole));
        return {int(whole), {}};
    }
    if (!std::isfinite(real) || real != std::floor(real))
        return fail(QStringLiteral("%1 is not a whole number").arg(describe(value)));
    if (real < std::numeric_limits<qint32>::min() || real > std::numeric_limits<qint32>::max())
        return fail(QStringLiteral("%1 does not fit in a 32-bit integer").arg(describe(value)));
    return {int(real), {}};
}

Converted toFloat(const QVariant& value, LegacyType type) {
    if (type != LegacyType::Integer && type != LegacyType::Float)
        return fail(QStringLiteral("a number is expected"));
    const double real = value.toDouble();
    if (!std::isfinite(real))
        return fail(QStringLiteral("%1 is not a finite number").arg(describe(value)));
    return {real, {}};
}

Converted toText(const QVariant& value, LegacyType type, const QString& codec) {
    switch (type) {
    case LegacyType::Text: {
        QString text;
        if (!decodeTableText(codec, value.toByteArray(), text))
            return fail(QStringLiteral("the text is not in the table's code page (%1)").arg(codec));
        return {text, {}};
    }
    case LegacyType::Integer:
        return {QString::number(value.toLongLong()), {}};
    case LegacyType::Float:
        return {QString::number(value.toDouble(), 'g', 15), {}};
    default:
        return fail(QStringLiteral("text is expected"));
    }
}

Converted toLogical(const QVariant& value, LegacyType type) {
    if (type == LegacyType::Logical)
        return {value.toBool(), {}};
    if (type == LegacyType::Integer)
        return {value.toLongLong() != 0, {}};
    return fail(QStringLiteral("a logical value is expected"));
}

bool inCalendar(const QDate& date) {
    return date.isValid() && date.year() >= 1 && date.year() <= 9999;
}

// Date and time parts of the file's value; a timestamp gives both.
Converted toDateTimeKind(const QVariant& value, LegacyType type, FieldKind kind) {
    QDate date;
    QTime time(0, 0);
    if (type == LegacyType::Date) {
        date = value.toDate();
    } else if (type == LegacyType::Time) {
        time = value.toTime();
    } else if (type == LegacyType::Timestamp) {
        date = value.toDateTime().date();
        time = value.toDateTime().time();
    } else {
        return fail(QStringLiteral("a date or time is expected"));
    }
    if (kind == FieldKind::Time) {
        if (type == LegacyType::Date || !time.isValid())
            return fail(QStringLiteral("a time of day is expected"));
        return {storedDateTimeText(toDateTime(time), FieldKind::Time), {}};
    }
    if (type == LegacyType::Time || !inCalendar(date))
        return fail(QStringLiteral("a date is expected"));
    const TDateTime whole =
        kind == FieldKind::Date
            ? toDateTime(date)
            : encodeDateTime({date.year(), date.month(), date.day(), time.hour(), time.minute(),
                              time.second(), time.msec()});
    return {storedDateTimeText(whole, kind), {}};
}

// A typed NULL: some drivers cannot bind a NULL without a type.
QVariant nullOf(FieldKind kind) {
    switch (kind) {
    case FieldKind::Integer:
        return QVariant(QMetaType::fromType<int>());
    case FieldKind::Float:
        return QVariant(QMetaType::fromType<double>());
    case FieldKind::Logical:
        return QVariant(QMetaType::fromType<bool>());
    default:
        return QVariant(QMetaType::fromType<QString>());
    }
}

Converted convertCell(const LegacyCell& cell, LegacyType type, FieldKind kind,
                      const QString& codec) {
    if (!cell.problem.isEmpty())
        return fail(cell.problem);
    if (cell.value.isNull())
        return {nullOf(kind), {}};
    switch (kind) {
    case FieldKind::Integer:
        return toInteger(cell.value, type, codec);
    case FieldKind::Float:
        return toFloat(cell.value, type);
    case FieldKind::Text:
        return toText(cell.value, type, codec);
    case FieldKind::Logical:
        return toLogical(cell.value, type);
    default:
        return toDateTimeKind(cell.value, type, kind);
    }
}

const ColumnDef* targetColumn(const TableDef& target, const QString& name) {
    for (const ColumnDef& column : target.columns)
        if (column.name.compare(name, Qt::CaseInsensitive) == 0)
            return &column;
    return nullptr;
}

} // namespace

ConvertedTable convertTable(const LegacyTable& source, const TableDef& target) {
    ConvertedTable out;
    std::vector<int> sourceIndex; // file column of each output column
    for (int i = 0; i < source.columns.size(); ++i) {
        const LegacyColumn& column = source.columns[i];
        const ColumnDef* def = targetColumn(target, column.name);
        const bool taken =
            def && std::any_of(out.columns.begin(), out.columns.end(),
                               [&](const ColumnDef& c) { return c.name == def->name; });
        if (!def || taken) {
            out.notes << QStringLiteral("column %1 (%2) is not a column the station knows: skipped")
                             .arg(column.name, column.nativeType);
            continue;
        }
        out.columns.append(*def);
        sourceIndex.push_back(i);
    }
    for (const LegacyRow& row : source.rows) {
        ++out.read;
        if (row.deleted) {
            ++out.skipped;
            out.notes << QStringLiteral("row %1 is marked deleted: skipped").arg(row.number);
            continue;
        }
        QVariantList values;
        for (size_t c = 0; c < sourceIndex.size(); ++c) {
            const int i = sourceIndex[c];
            const LegacyColumn& column = source.columns[i];
            const Converted converted = convertCell(row.cells[size_t(i)], column.type,
                                                    out.columns[int(c)].kind, source.codec);
            if (!converted.problem.isEmpty())
                out.problems << QStringLiteral("row %1, field %2: %3")
                                    .arg(row.number)
                                    .arg(column.name, converted.problem);
            values << converted.value;
        }
        out.rows.push_back(std::move(values));
    }
    return out;
}
