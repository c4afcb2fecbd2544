#pragma once

#include "report/DataSetRows.h"

#include <QByteArray>
#include <QDate>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

// What the page reads from the databases, on the server's threads. Every
// call opens the calling thread's own connections, makes them read-only
// (SQLite's query_only, PostgreSQL's read-only transactions) and closes them
// before it returns, so that no connection outlives the request that used
// it. Each raises what the store raises.

// Rows of a table, one page of them.
struct TablePage {
    QStringList headings;
    QList<QStringList> rows;
    int total = 0; // rows in all pages
    int page = 1;  // 1-based, within 1..pages
    int pages = 1;
};

inline constexpr int kPageRows = 100;

struct TicketFilter {
    QDate from, to;
    std::optional<qint64> legajo, ceco;
    int page = 1;
};

// The tickets of the range in date order, as the records window shows them
// (dates and amounts in the regional forms), filtered by LEGAJO and CECO.
TablePage readTickets(const QString& serverAlias, const TicketFilter& filter);

// The operations log, newest first.
TablePage readLog(const QString& localAlias, int page);

// The rows of the summary by cost centre, as the records window reads them.
ReportRows readSummary(const QString& serverAlias, const QDate& from, const QDate& to);

// The summary as a file, made by the writers the records window saves with.
enum class SummaryFile { Pdf, Workbook, SeparatedValues };
QByteArray summaryFile(SummaryFile kind, const QString& serverAlias, const QDate& from,
                       const QDate& to);
