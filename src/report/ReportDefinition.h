#pragma once

#include <QColor>
#include <QMarginsF>
#include <QRectF>
#include <QSizeF>
#include <QString>
#include <QStringList>
#include <vector>

// A banded report as data: what a report is, not how it is drawn. Every
// length is in millimetres; element positions are relative to the top left
// corner of their band, and bands start at the page's left margin.

enum class BandKind {
    PageHeader,   // every page (the first one too when headerOnFirstPage)
    Title,        // once, at the start of the report
    ColumnHeader, // every page, above the rows
    Detail,       // once per row
    Summary,      // once, after the last row
    PageFooter,   // at the foot of every page (the last one too when footerOnLastPage)
    GroupHeader,  // where a group starts, kept on one page with the band that follows it
    GroupFooter,  // where a group ends, after its last row
};

struct ReportFont {
    QString family = QStringLiteral("Arial");
    double pointSize = 10;
    bool bold = false;
    bool italic = false;
};

enum class ElementKind {
    Label,       // fixed text
    Field,       // the text form of a column of the current row
    PageNumber,  // the page number alone
    PageOfPages, // "Página N de M"
    Rectangle,   // a filled rectangle
    TopLine,     // a line along the top edge of the element
    Count,       // the number of rows counted (below)
    Sum,         // the exact sum of a column of whole numbers (below)
};

// Count and Sum add up the rows of their group in a group band, every row so
// far in the detail band and all rows in the summary; elsewhere they are empty.
// A sum is written with the regional thousands separator.

enum class TextAlign { Left, Centre, Right };

struct ReportElement {
    // Positional, so that a definition names only what it needs.
    ReportElement(ElementKind kind = ElementKind::Label, QRectF rect = {}, QString text = {},
                  ReportFont font = {}, TextAlign align = TextAlign::Left, QColor fill = {},
                  int decimals = 0, QString emptyText = {})
        : kind(kind), rect(rect), text(std::move(text)), font(std::move(font)), align(align),
          fill(fill), decimals(decimals), emptyText(std::move(emptyText)) {}

    ElementKind kind;
    QRectF rect;  // mm, within the band
    QString text; // the label's text, or the field's column name
    ReportFont font;
    TextAlign align;
    QColor fill; // rectangles; text is drawn transparent
    // Sum: the column holds whole hundredths when 2, and so on; the total is
    // written with that many decimals and the regional separators.
    int decimals;
    QString emptyText; // Field: written when the value is empty
};

struct ReportBand {
    BandKind kind = BandKind::Detail;
    double height = 0; // mm; bands do not grow with their content
    std::vector<ReportElement> elements;
    int level = 0; // group bands: the group's level, 0 the outermost
};

// A level of grouping. The rows come ordered by their groups: a group starts
// again where one of its fields, or of an outer group's, changes its value.
struct ReportGroup {
    QStringList fields;
};

struct ReportDefinition {
    QString title;              // print job name and preview title
    QSizeF paper{215.9, 279.4}; // portrait width and height, mm
    bool landscape = false;
    QMarginsF margins;         // mm
    double bandWidth = 0;      // mm
    bool printIfEmpty = false; // an empty result: one detail band with empty values
    bool headerOnFirstPage = true;
    bool footerOnLastPage = true;
    int copies = 1;
    std::vector<ReportGroup> groups; // outermost first
    std::vector<ReportBand> bands;

    QSizeF pageSize() const { return landscape ? paper.transposed() : paper; }
    const ReportBand* band(BandKind kind, int level = 0) const {
        for (const ReportBand& b : bands)
            if (b.kind == kind && b.level == level)
                return &b;
        return nullptr;
    }
};
