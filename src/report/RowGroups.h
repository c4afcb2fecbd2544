#pragma once

#include "report/DataSetRows.h"
#include "report/ReportDefinition.h"

#include <QtGlobal>
#include <vector>

// The count of a run of rows and the exact sums of some of their columns,
// each column holding whole numbers (amounts in cents, say).
struct GroupTotals {
    qint64 count = 0;
    std::vector<qint64> sums; // in the order of the summed columns
};

// What a walk over grouped rows meets, in order.
class GroupVisitor {
public:
    virtual ~GroupVisitor() = default;
    virtual void groupStarts(int level, const QStringList& firstRow) = 0;
    // `soFar`: every row up to this one.
    virtual void row(const QStringList& row, const GroupTotals& soFar) = 0;
    virtual void groupEnds(int level, const QStringList& lastRow, const GroupTotals& totals) = 0;
};

// Walks rows ordered by their groups, counting and summing within each
// group and over all rows. Raises when a column does not exist, when a summed
// value is no whole number, and when a sum leaves 64 bits.
class RowGroups {
public:
    RowGroups(const ReportRows& rows, const std::vector<ReportGroup>& groups,
              const QStringList& summedColumns);

    // The position of a column in GroupTotals::sums.
    int sumIndex(const QString& column) const;
    // The totals over all rows.
    GroupTotals walk(GroupVisitor& visitor) const;

private:
    int firstChangedLevel(const QStringList& previous, const QStringList& row) const;
    void addRow(const QStringList& row, std::vector<GroupTotals>& open) const;

    const ReportRows& m_rows;
    std::vector<std::vector<int>> m_groupColumns; // per level
    QStringList m_summedNames;
    std::vector<int> m_summedColumns;
};

// An amount as whole cents, rounded half away from zero, the same on every
// server (the server's own ROUND differs: PostgreSQL rounds a double's halves
// to even, SQL Server wants a second argument). Raises for an amount beyond
// 10^13.
qint64 centsOf(double amount);

// A whole number of units of 10^-decimals as text, with the regional decimal
// separator: 123456 with 2 decimals is "1234,56" in a region that writes ",";
// grouped, "1.234,56" where thousands are marked with ".".
QString scaledNumberText(qint64 value, int decimals, bool grouped = false);
