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
    int controls = 0;
    if (!decodeTableText(codec, value.toByteArray(), text, &controls))
        return fail(
            QStringLiteral("el texto no está en la página de códigos de la tabla (%1)").arg(codec));
    text = text.trimmed();
    if (text.isEmpty())
        return {QVariant(QMetaType::fromType<int>()), {}};
    bool ok = false;
    const qint64 whole = text.toLongLong(&ok);
    if (!ok)
        return fail(QStringLiteral("'%1' no es un número entero").arg(text));
    if (whole < std::numeric_limits<qint32>::min() || whole > std::numeric_limits<qint32>::max())
        return fail(QStringLiteral("%1 no cabe en un entero de 32 bits").arg(whole));
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
        return fail(QStringLiteral("se espera un número entero"));
    }
    if (value.typeId() == QMetaType::LongLong) {
        const qint64 whole = value.toLongLong();
        if (whole < std::numeric_limits<qint32>::min() ||
            whole > std::numeric_limits<qint32>::max())
            return fail(QStringLiteral("%1 no cabe en un entero de 32 bits").arg(whole));
        return {int(whole), {}};
    }
    if (!std::isfinite(real) || real != std::floor(real))
        return fail(QStringLiteral("%1 no es un número entero").arg(describe(value)));
    if (real < std::numeric_limits<qint32>::min() || real > std::numeric_limits<qint32>::max())
        return fail(QStringLiteral("%1 no cabe en un entero de 32 bits").arg(describe(value)));
    return {int(real), {}};
}

Converted toFloat(const QVariant& value, LegacyType type) {
    if (type != LegacyType::Integer && type != LegacyType::Float)
        return fail(QStringLiteral("se espera un número"));
    const double real = value.toDouble();
    if (!std::isfinite(real))
        return fail(QStringLiteral("%1 no es un número finito").arg(describe(value)));
    return {real, {}};
}

Converted toText(const QVariant& value, LegacyType type, const QString& codec, int& controls) {
    switch (type) {
    case LegacyType::Text: {
        QString text;
        if (!decodeTableText(codec, value.toByteArray(), text, &controls))
            return fail(QStringLiteral("el texto no está en la página de códigos de la tabla (%1)")
                            .arg(codec));
        return {text, {}};
    }
    case LegacyType::Integer:
        return {QString::number(value.toLongLong()), {}};
    case LegacyType::Float:
        return {QString::number(value.toDouble(), 'g', 15), {}};
    default:
        return fail(QStringLiteral("se espera un texto"));
    }
}

Converted toLogical(const QVariant& value, LegacyType type) {
    if (type == LegacyType::Logical)
        return {value.toBool(), {}};
    if (type == LegacyType::Integer)
        return {value.toLongLong() != 0, {}};
    return fail(QStringLiteral("se espera un valor lógico"));
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
        return fail(QStringLiteral("se espera una fecha o una hora"));
    }
    if (kind == FieldKind::Time) {
        if (type == LegacyType::Date || !time.isValid())
            return fail(QStringLiteral("se espera una hora del día"));
        return {storedDateTimeText(toDateTime(time), FieldKind::Time), {}};
    }
    if (type == LegacyType::Time || !inCalendar(date))
        return fail(QStringLiteral("se espera una fecha"));
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

Converted convertCell(const LegacyCell& cell, LegacyType type, FieldKind kind, const QString& codec,
                      int& controls) {
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
        return toText(cell.value, type, codec, controls);
    case FieldKind::Logical:
        return toLogical(cell.value, type);
    default:
        return toDateTimeKind(cell.value, type, kind);
    }
}

// One value for every row, from the text the user gave.
Converted defaultValue(const QString& text, FieldKind kind) {
    const QString t = text.trimmed();
    if (t.isEmpty())
        return {nullOf(kind), {}};
    bool ok = false;
    switch (kind) {
    case FieldKind::Integer: {
        const int whole = t.toInt(&ok);
        if (ok)
            return {whole, {}};
        break;
    }
    case FieldKind::Float: {
        const double real = t.toDouble(&ok);
        if (ok)
            return {real, {}};
        break;
    }
    case FieldKind::Logical: {
        const QString u = t.toUpper();
        if (u == "T" || u == "TRUE" || u == "S" || u == "SI" || u == "SÍ" || u == "Y" ||
            u == "YES" || u == "1")
            return {true, {}};
        if (u == "F" || u == "FALSE" || u == "N" || u == "NO" || u == "0")
            return {false, {}};
        break;
    }
    case FieldKind::Text:
        return {text, {}};
    default:
        return fail(QStringLiteral("no se admite un mismo valor para todos los registros en una "
                                   "columna de fecha u hora: indique uno vacío"));
    }
    return fail(QStringLiteral("'%1' no es un valor de esta columna").arg(text));
}

int sourceColumn(const LegacyTable& source, const QString& name) {
    for (int i = 0; i < source.columns.size(); ++i)
        if (source.columns[i].name.compare(name, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

QString choiceFor(const QMap<QString, QString>& choices, const QString& column, bool& found) {
    for (auto it = choices.cbegin(); it != choices.cend(); ++it)
        if (it.key().compare(column, Qt::CaseInsensitive) == 0) {
            found = true;
            return it.value();
        }
    found = false;
    return {};
}

// Lines of one kind shown per table; the rest are counted.
constexpr int kLinesShown = 20;

} // namespace

TableConverter::TableConverter(const LegacyTable& source, const TableDef& target,
                               const ColumnChoices& choices)
    : m_codec(source.codec) {
    std::vector<bool> used(size_t(source.columns.size()), false);
    for (const ColumnDef& column : target.columns) {
        bool mapped = false, defaulted = false;
        const QString fileName = choiceFor(choices.map, column.name, mapped);
        const QString given = choiceFor(choices.defaults, column.name, defaulted);
        const int index = sourceColumn(source, mapped ? fileName : column.name);
        if (index >= 0 && !used[size_t(index)]) {
            used[size_t(index)] = true;
            m_columns.append(column);
            m_sources.push_back({index, source.columns[index].name, source.columns[index].type});
            m_constants << QVariant();
            if (mapped)
                m_notes << QStringLiteral(
                               "la columna %1 se lee de la columna %2 del archivo (--map)")
                               .arg(column.name, source.columns[index].name);
            continue;
        }
        if (mapped) {
            m_errors << QStringLiteral(
                            "--map indica la columna %1 para %2, y el archivo no tiene esa columna")
                            .arg(fileName, column.name);
            continue;
        }
        if (defaulted) {
            const Converted value = defaultValue(given, column.kind);
            if (!value.problem.isEmpty()) {
                m_errors << QStringLiteral("--default para %1: %2").arg(column.name, value.problem);
                continue;
            }
            m_columns.append(column);
            m_sources.push_back({-1, QString(), LegacyType::Unsupported});
            m_constants << value.value;
            m_notes << QStringLiteral("el archivo no tiene la columna %1: todos los registros "
                                      "toman %2 (--default)")
                           .arg(column.name, given.trimmed().isEmpty()
                                                 ? QStringLiteral("un valor vacío")
                                                 : QStringLiteral("'%1'").arg(given));
            continue;
        }
        m_errors << QStringLiteral("el archivo no tiene la columna %1, que la estación lee; --map "
                                   "%2.%1=<columna del archivo> la lee de otra columna, --default "
                                   "%2.%1=<valor> da a todos los registros un mismo valor")
                        .arg(column.name, target.name);
    }
    for (int i = 0; i < source.columns.size(); ++i)
        if (!used[size_t(i)])
            m_notes << QStringLiteral(
                           "la columna %1 (%2) no es una columna que la estación conozca: se omite")
                           .arg(source.columns[i].name, source.columns[i].nativeType);
}

void TableConverter::convert(const std::vector<LegacyRow>& rows, std::vector<QVariantList>& out) {
    out.clear();
    if (!m_errors.isEmpty())
        return;
    for (const LegacyRow& row : rows) {
        ++m_read;
        if (row.deleted) {
            ++m_skipped;
            if (m_deleted.size() < kLinesShown)
                m_deleted << row.number;
            continue;
        }
        QVariantList values;
        values.reserve(qsizetype(m_sources.size()));
        for (size_t c = 0; c < m_sources.size(); ++c)
            values << convertField(row, c);
        out.push_back(std::move(values));
    }
}

QVariant TableConverter::convertField(const LegacyRow& row, size_t c) {
    const Source& source = m_sources[c];
    if (source.index < 0)
        return m_constants[qsizetype(c)];
    int controls = 0;
    const Converted converted = convertCell(row.cells[size_t(source.index)], source.type,
                                            m_columns[qsizetype(c)].kind, m_codec, controls);
    if (!converted.problem.isEmpty() && ++m_problemCount <= kLinesShown)
        m_problems << QStringLiteral("registro %1, campo %2: %3")
                          .arg(row.number)
                          .arg(source.name, converted.problem);
    if (controls > 0 && ++m_controlCount <= kLinesShown)
        m_controls << QStringLiteral("registro %1, campo %2: %3 carácter(es) de control (TAB, "
                                     "salto de línea...) guardado(s) como espacios")
                          .arg(row.number)
                          .arg(source.name)
                          .arg(controls);
    return converted.value;
}

QStringList TableConverter::problems() const {
    QStringList shown = m_problems;
    if (m_problemCount > kLinesShown)
        shown << QStringLiteral("... y %1 más").arg(m_problemCount - kLinesShown);
    return shown;
}

QStringList TableConverter::notes() const {
    QStringList notes = m_notes;
    if (m_skipped > 0) {
        QStringList numbers;
        for (int number : m_deleted)
            numbers << QString::number(number);
        if (m_skipped > m_deleted.size())
            numbers << QStringLiteral("...");
        notes << QStringLiteral("%1 registro(s) marcado(s) como borrado(s) en el archivo: "
                                "omitido(s) (registro %2)")
                     .arg(m_skipped)
                     .arg(numbers.join(QStringLiteral(", ")));
    }
    notes << m_controls;
    if (m_controlCount > kLinesShown)
        notes << QStringLiteral("... y %1 líneas más como esas").arg(m_controlCount - kLinesShown);
    return notes;
}
