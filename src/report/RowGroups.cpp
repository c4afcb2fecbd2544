#include "report/RowGroups.h"

#include "platform/Errors.h"
#include "platform/Regional.h"

#include <cmath>

namespace {

qint64 wholeNumberOf(const QString& text, const QString& column) {
    if (text.isEmpty())
        return 0; // a null value adds nothing, as SQL's SUM
    bool ok = false;
    const qint64 value = text.toLongLong(&ok);
    if (!ok)
        throw Exception(QStringLiteral("Field '%1' holds no whole number: '%2'").arg(column, text));
    return value;
}

void addChecked(qint64& total, qint64 value, const QString& column) {
    if (__builtin_add_overflow(total, value, &total))
        throw Exception(QStringLiteral("The sum of field '%1' is too large").arg(column));
}

constexpr double kMaxCents = 1e15; // exact in a double, and far from 64 bits

} // namespace

RowGroups::RowGroups(const ReportRows& rows, const std::vector<ReportGroup>& groups,
                     const QStringList& summedColumns)
    : m_rows(rows), m_summedNames(summedColumns) {
    for (const ReportGroup& group : groups) {
        std::vector<int> columns;
        for (const QString& field : group.fields)
            columns.push_back(rows.fieldIndex(field));
        m_groupColumns.push_back(std::move(columns));
    }
    for (const QString& column : summedColumns)
        m_summedColumns.push_back(rows.fieldIndex(column));
}

int RowGroups::sumIndex(const QString& column) const {
    for (int index = 0; index < m_summedNames.size(); ++index)
        if (m_summedNames[index].compare(column, Qt::CaseInsensitive) == 0)
            return index;
    throw Exception(QStringLiteral("Field '%1' is not summed").arg(column));
}

GroupTotals RowGroups::walk(GroupVisitor& visitor) const {
    const int levels = int(m_groupColumns.size());
    // One per group level, the last one over all rows.
    std::vector<GroupTotals> open(size_t(levels) + 1,
                                  GroupTotals{0, std::vector<qint64>(m_summedColumns.size())});
    const QStringList* previous = nullptr;
    for (const QStringList& row : m_rows.rows) {
        const int changed = previous ? firstChangedLevel(*previous, row) : 0;
        for (int level = levels - 1; previous && level >= changed; --level)
            visitor.groupEnds(level, *previous, open[size_t(level)]);
        for (int level = changed; level < levels; ++level) {
            open[size_t(level)] = GroupTotals{0, std::vector<qint64>(m_summedColumns.size())};
            visitor.groupStarts(level, row);
        }
        addRow(row, open);
        visitor.row(row, open.back());
        previous = &row;
    }
    for (int level = levels - 1; previous && level >= 0; --level)
        visitor.groupEnds(level, *previous, open[size_t(level)]);
    return open.back();
}

// The outermost level whose fields, or an outer level's, differ between the
// two rows; the number of levels when none do.
int RowGroups::firstChangedLevel(const QStringList& previous, const QStringList& row) const {
    for (size_t level = 0; level < m_groupColumns.size(); ++level)
        for (int column : m_groupColumns[level])
            if (previous.value(column) != row.value(column))
                return int(level);
    return int(m_groupColumns.size());
}

void RowGroups::addRow(const QStringList& row, std::vector<GroupTotals>& open) const {
    for (size_t sum = 0; sum < m_summedColumns.size(); ++sum) {
        const QString& name = m_summedNames[qsizetype(sum)];
        const qint64 value = wholeNumberOf(row.value(m_summedColumns[sum]), name);
        for (GroupTotals& totals : open)
            addChecked(totals.sums[sum], value, name);
    }
    for (GroupTotals& totals : open)
        ++totals.count;
}

qint64 centsOf(double amount) {
    const double cents = amount * 100;
    if (!(std::fabs(cents) < kMaxCents))
        throw Exception(QStringLiteral("Amount out of range: %1").arg(amount, 0, 'g', 17));
    return std::llround(cents);
}

QString scaledNumberText(qint64 value, int decimals, bool grouped) {
    decimals = std::max(decimals, 0);
    // Digits of the magnitude, so that the smallest 64-bit value has its own.
    const quint64 magnitude = value < 0 ? 0 - quint64(value) : quint64(value);
    QString digits = QString::number(magnitude).rightJustified(decimals + 1, QLatin1Char('0'));
    const qsizetype whole = digits.size() - decimals;
    if (decimals > 0)
        digits.insert(whole, formatSettings().decimalSeparator);
    for (qsizetype mark = whole - 3; grouped && mark > 0; mark -= 3)
        digits.insert(mark, formatSettings().thousandSeparator);
    return value < 0 ? QLatin1Char('-') + digits : digits;
}
