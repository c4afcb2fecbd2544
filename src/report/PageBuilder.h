#pragma once

#include "report/DataSetRows.h"
#include "report/ReportDefinition.h"

#include <vector>

// An element placed on a page, its text resolved; rect in mm from the page's
// top left corner.
struct PlacedItem {
    ElementKind kind = ElementKind::Label;
    QRectF rect;
    QString text;
    ReportFont font;
    TextAlign align = TextAlign::Left;
    QColor fill;
};

struct PlacedBand {
    BandKind kind = BandKind::Detail;
    QRectF rect; // mm on the page
    std::vector<PlacedItem> items;
};

struct ReportPage {
    std::vector<PlacedBand> bands;
};

// All pages of a report, ready to paint or save.
struct ReportPages {
    QString title;
    QSizeF pageSize; // mm, as printed (landscape: wider than high)
    std::vector<ReportPage> pages;
};

// Lays the bands out on pages: page header, title (first page), column header,
// as many detail bands as fit above the page footer, each group's header
// before its first row and footer after its last, the summary after the last
// row, the page footer at the foot of the page. Raises when a field names a
// column the rows do not have, or a summed value is no whole number.
ReportPages buildPages(const ReportDefinition& definition, const ReportRows& rows);
