#pragma once

#include "report/PageBuilder.h"

// The forms in which a built report can be saved.
enum class ReportFileFormat { Pdf, Text, Csv, Html };

// The format a file name asks for by its suffix (pdf, txt, csv, htm, html);
// PDF for any other.
ReportFileFormat reportFormatForPath(const QString& path);

// Plain text: one line per band, each text placed at the column of its
// position (two millimetres to the character), a blank line between pages.
QStringList reportTextLines(const ReportPages& pages);
// Comma-separated values: one line per band that holds text, its texts in
// order of position, quoted where needed.
QStringList reportCsvLines(const ReportPages& pages);
// HTML: each page a box of the paper's size, each text at its position.
QStringList reportHtmlLines(const ReportPages& pages);

// Saves in the format given, through a temporary file beside `path`;
// Windows-1252 and CR LF for the text forms. Raises EWriteError.
void saveReport(const ReportPages& pages, const QString& path, ReportFileFormat format);
