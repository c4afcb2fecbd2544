#pragma once

#include "report/PageBuilder.h"

#include <QPageLayout>

class QPainter;
class QPagedPaintDevice;

// Paints one page with `pixelsPerMm` device pixels to the millimetre, the
// page's top left corner at the painter's origin. Fonts keep their point
// sizes at any scale, whatever the device's own resolution.
void paintPage(QPainter& painter, const ReportPage& page, double pixelsPerMm);

// The paper and orientation of a report, with no margins: the bands carry
// their own positions from the paper's edge.
QPageLayout pageLayoutOf(const QSizeF& pageSize);

// Paints pages `from` to `to` (1-based, inclusive) on a paged device whose
// origin is the paper's corner (a QPdfWriter, or a QPrinter in full-page mode).
void paintPages(QPagedPaintDevice& device, const ReportPages& pages, int from, int to);

// Saves every page as a PDF file, through a temporary file beside it.
// Raises EWriteError.
void savePdf(const ReportPages& pages, const QString& path);
