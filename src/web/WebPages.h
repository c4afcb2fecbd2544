#pragma once

#include "report/DataSetRows.h"
#include "web/WebBoard.h"
#include "web/WebData.h"
#include "web/WebHtml.h"

#include <QDate>
#include <QJsonObject>

// The four pages of the office's site as HTML content (the frame is
// WebHtml's), from what WebData and WebBoard read. Dates, times and amounts
// in the regional forms the windows use.

// "Estado de los puntos": the health window's columns, rows coloured by state.
QString pointsContent(const BoardState& board);
// What the live refresh gets: the version, the rows and the summary line.
QJsonObject pointsUpdate(const BoardState& board);

// The range form of the tickets and summary pages, with what was asked.
struct RangeForm {
    QString path;
    QDate from, to;
    QString legajo, ceco; // the tickets page only
    bool filters = false;
};
QString rangeForm(const RangeForm& form);

// "Registros de taxi": the form, the page of tickets and the links to the
// pages before and after.
QString ticketsContent(const RangeForm& form, const TablePage& tickets);
// "Resumen por centro de costo": the form, the summary's table and its
// downloads.
QString summaryContent(const RangeForm& form, const ReportRows& rows);
// "Registro de operaciones".
QString logContent(const TablePage& log);
