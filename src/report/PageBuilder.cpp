#include "report/PageBuilder.h"

namespace {

class PageBuilder {
public:
    PageBuilder(const ReportDefinition& definition, const ReportRows& rows)
        : m_def(definition), m_rows(rows) {
        m_result.title = definition.title;
        m_result.pageSize = definition.pageSize();
        const ReportBand* footer = definition.band(BandKind::PageFooter);
        m_bodyBottom = m_result.pageSize.height() - definition.margins.bottom() -
                       (footer ? footer->height : 0);
    }

    ReportPages build() {
        startPage();
        for (size_t row = 0; row < m_rows.rows.size(); ++row)
            place(BandKind::Detail, &m_rows.rows[row]);
        if (m_rows.rows.empty() && m_def.printIfEmpty)
            place(BandKind::Detail, nullptr);
        place(BandKind::Summary, nullptr);
        finishPage(true);
        return std::move(m_result);
    }

private:
    void startPage() {
        m_result.pages.emplace_back();
        m_top = m_def.margins.top();
        if (pageNumber() > 1 || m_def.headerOnFirstPage)
            placeHere(BandKind::PageHeader, nullptr);
        if (pageNumber() == 1)
            placeHere(BandKind::Title, nullptr);
        placeHere(BandKind::ColumnHeader, nullptr);
    }

    void finishPage(bool last) {
        const ReportBand* footer = m_def.band(BandKind::PageFooter);
        if (footer && (!last || m_def.footerOnLastPage))
            placeAt(*footer, m_bodyBottom, nullptr);
    }

    // A band that does not fit above the footer goes to the next page.
    void place(BandKind kind, const QStringList* row) {
        const ReportBand* band = m_def.band(kind);
        if (!band)
            return;
        if (m_top + band->height > m_bodyBottom + 1e-9 && !pageHoldsOnlyHeadings()) {
            finishPage(false);
            startPage();
        }
        placeAt(*band, m_top, row);
        m_top += band->height;
    }

    void placeHere(BandKind kind, const QStringList* row) {
        if (const ReportBand* band = m_def.band(kind)) {
            placeAt(*band, m_top, row);
            m_top += band->height;
        }
    }

    // A page of headings alone takes the band even when it does not fit, so
    // that a band higher than a page cannot start pages for ever.
    bool pageHoldsOnlyHeadings() const {
        for (const PlacedBand& band : m_result.pages.back().bands)
            if (band.kind == BandKind::Detail || band.kind == BandKind::Summary)
                return false;
        return true;
    }

    void placeAt(const ReportBand& band, double top, const QStringList* row) {
        PlacedBand placed;
        placed.kind = band.kind;
        placed.rect = QRectF(m_def.margins.left(), top, m_def.bandWidth, band.height);
        for (const ReportElement& element : band.elements)
            placed.items.push_back({element.kind, element.rect.translated(placed.rect.topLeft()),
                                    textOf(element, row), element.font, element.align,
                                    element.fill});
        m_result.pages.back().bands.push_back(std::move(placed));
    }

    QString textOf(const ReportElement& element, const QStringList* row) const {
        switch (element.kind) {
        case ElementKind::Label:
            return element.text;
        case ElementKind::Field: {
            const int index = m_rows.fieldIndex(element.text);
            return row ? row->value(index) : QString();
        }
        case ElementKind::PageNumber:
            return QString::number(pageNumber());
        default:
            return {};
        }
    }

    int pageNumber() const { return int(m_result.pages.size()); }

    const ReportDefinition& m_def;
    const ReportRows& m_rows;
    ReportPages m_result;
    double m_bodyBottom = 0;
    double m_top = 0;
};

} // namespace

ReportPages buildPages(const ReportDefinition& definition, const ReportRows& rows) {
    return PageBuilder(definition, rows).build();
}
