#pragma once

#include <QColor>
#include <QMarginsF>
#include <QRectF>
#include <QSizeF>
#include <QString>
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
};

struct ReportFont {
    QString family = QStringLiteral("Arial");
    double pointSize = 10;
    bool bold = false;
    bool italic = false;
};

enum class ElementKind {
    Label,      // fixed text
    Field,      // the text form of a column of the current row
    PageNumber, // the page number alone
    Rectangle,  // a filled rectangle
    TopLine,    // a line along the top edge of the element
};

enum class TextAlign { Left, Centre, Right };

struct ReportElement {
    ElementKind kind = ElementKind::Label;
    QRectF rect;  // mm, within the band
    QString text; // the label's text, or the field's column name
    ReportFont font;
    TextAlign align = TextAlign::Left;
    QColor fill; // rectangles; text is drawn transparent
};

struct ReportBand {
    BandKind kind = BandKind::Detail;
    double height = 0; // mm; bands do not grow with their content
    std::vector<ReportElement> elements;
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
    std::vector<ReportBand> bands;

    QSizeF pageSize() const { return landscape ? paper.transposed() : paper; }
    const ReportBand* band(BandKind kind) const {
        for (const ReportBand& b : bands)
            if (b.kind == kind)
                return &b;
        return nullptr;
    }
};
