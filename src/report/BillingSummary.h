#pragma once

#include "report/DataSetRows.h"
#include "report/ReportDefinition.h"
#include "report/Workbook.h"

#include <QDate>

class TDataSet;

// The summary by cost centre for billing: per CECO one line per person with
// the number of tickets and their amount, the CECO's totals, and the totals
// of the date range.

// Every ticket of the range as CECO, LEGAJO, NOMBRES (empty for null) and
// IMPORTE, ordered by CECO and person, nulls first on every server.
QStringList billingSummarySql(const QDate& from, const QDate& to);

// The rows of that query for the summary: CECO, LEGAJO and NOMBRES in their
// text forms, and CENTAVOS, the amount in whole cents (empty for null). The
// amounts are tenths (the station stores them so): rounding each to the cent
// changes nothing, and from here on they are summed exactly. Raises for an
// amount beyond 10^13.
ReportRows billingSummaryRows(TDataSet& query);

// The report over those rows: the page and fonts of the ticket report; on
// every page its company line with the title and range under it, and a
// footer with when the summary was made and "Página N de M"; amounts with
// the regional thousands separator.
ReportDefinition billingSummaryDefinition(const QDate& from, const QDate& to);

// The summary as a data table, the same in its workbook and its separated
// values: the company line, the title, DESDE and HASTA with their dates, the
// headings CECO, Legajo, Nombres, Tickets, Importe once, a line per person, a
// bold line "Total del centro de costo" per CECO (its CECO in the first column)
// and "Total del período" at the end.
using TableRow = std::vector<WorkbookCell>;
std::vector<TableRow> billingSummaryTable(const ReportRows& summaryRows, const QDate& from,
                                          const QDate& to);

// That table as comma-separated values: numbers with the regional decimal
// separator and no grouping, dates in the regional short date, values quoted
// where needed. Raises EWriteError.
void writeBillingSeparatedValues(const QString& path, const ReportRows& summaryRows,
                                 const QDate& from, const QDate& to);

// The workbook of the summary: the sheet "Resumen" with that table (counts
// and amounts as numbers, amounts with two decimals), and the sheet
// "Tickets" with the tickets of the range as the ticket export writes them.
// Raises EWriteError.
void writeBillingWorkbook(const QString& path, const ReportRows& summaryRows, TDataSet& tickets,
                          const QDate& from, const QDate& to);
