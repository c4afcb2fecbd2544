#pragma once

#include <QDate>
#include <QString>
#include <QStringList>

class TDataSet;
class TWorkbookWriter;

// The four-line selection of the tickets from 00:00:00 of the first day to
// 23:59:59 of the last, in date order; dates written "yyyymmdd".
QStringList ticketRangeSql(const QDate& from, const QDate& to);

// The export of the ticket-records window: the company line, the title, the
// two dates, the nine headings and one line per row of the query (its first
// nine columns in their text forms). Values holding the separator, a double
// quote or a line break are quoted.
QStringList ticketExportLines(TDataSet& rows, const QDate& from, const QDate& to,
                              const QString& separator);

// Writes those lines as Windows-1252 with CR LF, replacing the file only
// when it is complete. Raises EWriteError.
void writeTicketExport(const QString& path, TDataSet& rows, const QDate& from, const QDate& to,
                       const QString& separator);

// The same heading lines and rows as an Excel workbook, with dates as dates
// and numbers as numbers. Raises EWriteError.
void writeTicketWorkbook(const QString& path, TDataSet& rows, const QDate& from, const QDate& to);

// Those lines and rows into the workbook's current sheet.
void writeTicketRows(TWorkbookWriter& workbook, TDataSet& rows, const QDate& from, const QDate& to);
