#include "report/PageBuilder.h"

#include "report/RowGroups.h"

namespace {

// Every column a Sum element of the definition adds up, once each.
QStringList summedColumns(const ReportDefinition& definition) {
    QStringList columns;
    for (const ReportBand& band : definition.bands)
        for (const ReportElement& element : band.elements)
            if (element.kind == ElementKind::Sum &&
                !columns.contains(element.text, Qt::CaseInsensitive))
                columns << element.text;
    return columns;
}

class PageBuilder : public GroupVisitor {
public:
    PageBuilder(const ReportDefinition& definition, const ReportRows& rows)
        : m_def(definition), m_rows(rows),
          m_groups(rows, definition.groups, summedColumns(definition)) {
        m_result.title = definition.title;
        m_result.pageSize = definition.pageSize();
        const ReportBand* footer = definition.band(BandKind::PageFooter);
        m_bodyBottom = m_result.pageSize.height() - definition.margins.bottom() -
                       (footer ? footer->height : 0);
    }

    ReportPages build() {
        for (const ReportBand& band : m_def.bands)
            checkFields(band);
        startPage();
        const GroupTotals all = m_groups.walk(*this);
        if (m_rows.rows.empty() && m_def.printIfEmpty)
            place(BandKind::Detail, nullptr);
        place(BandKind::Summary, nullptr, &all);
        finishPage(true);
        numberPages();
        return std::move(m_result);
    }

    void groupStarts(int level, const QStringList& firstRow) override {
        // A header that would stand alone at the foot of the page goes to the
        // next one with what follows it.
        if (m_top + heightFromHeader(level) > m_bodyBottom + 1e-9 && !pageHoldsOnlyHeadings())
            newPage();
        place(BandKind::GroupHeader, &firstRow, nullptr, level);
        m_openGroups.push_back(&firstRow);
    }

    void row(const QStringList& row, const GroupTotals& soFar) override {
        place(BandKind::Detail, &row, &soFar);
    }

    void groupEnds(int level, const QStringList& lastRow, const GroupTotals& totals) override {
        place(BandKind::GroupFooter, &lastRow, &totals, level);
        m_openGroups.pop_back();
    }

private:
    void startPage() {
        m_result.pages.emplace_back();
        m_top = m_def.margins.top();
        if (pageNumber() > 1 || m_def.headerOnFirstPage)
            placeHere(BandKind::PageHeader);
        if (pageNumber() == 1)
            placeHere(BandKind::Title);
        placeHere(BandKind::ColumnHeader);
        // A group that goes on shows its header again, with its first row.
        for (size_t level = 0; level < m_openGroups.size(); ++level)
            if (const ReportBand* header = m_def.band(BandKind::GroupHeader, int(level))) {
                placeAt(*header, m_top, m_openGroups[level], nullptr);
                m_top += header->height;
            }
        m_headingBands = m_result.pages.back().bands.size();
    }

    void finishPage(bool last) {
        const ReportBand* footer = m_def.band(BandKind::PageFooter);
        if (footer && (!last || m_def.footerOnLastPage))
            placeAt(*footer, m_bodyBottom, nullptr, nullptr);
    }

    void newPage() {
        finishPage(false);
        startPage();
    }

    // The headers from this level inwards and the first band after them:
    // the detail band, or without one the innermost group's footer.
    double heightFromHeader(int level) const {
        const int levels = int(m_def.groups.size());
        double height = 0;
        for (int inner = level; inner < levels; ++inner)
            if (const ReportBand* header = m_def.band(BandKind::GroupHeader, inner))
                height += header->height;
        if (const ReportBand* detail = m_def.band(BandKind::Detail))
            return height + detail->height;
        if (const ReportBand* footer = m_def.band(BandKind::GroupFooter, levels - 1))
            return height + footer->height;
        return height;
    }

    // A band that does not fit above the footer goes to the next page.
    void place(BandKind kind, const QStringList* row, const GroupTotals* totals = nullptr,
               int level = 0) {
        const ReportBand* band = m_def.band(kind, level);
        if (!band)
            return;
        if (m_top + band->height > m_bodyBottom + 1e-9 && !pageHoldsOnlyHeadings())
            newPage();
        placeAt(*band, m_top, row, totals);
        m_top += band->height;
    }

    void placeHere(BandKind kind) {
        if (const ReportBand* band = m_def.band(kind)) {
            placeAt(*band, m_top, nullptr, nullptr);
            m_top += band->height;
        }
    }

    // A page of headings alone takes the band even when it does not fit, so
    // that a band higher than a page cannot start pages for ever.
    bool pageHoldsOnlyHeadings() const {
        return m_result.pages.back().bands.size() == m_headingBands;
    }

    void placeAt(const ReportBand& band, double top, const QStringList* row,
                 const GroupTotals* totals) {
        PlacedBand placed;
        placed.kind = band.kind;
        placed.rect = QRectF(m_def.margins.left(), top, m_def.bandWidth, band.height);
        for (const ReportElement& element : band.elements)
            placed.items.push_back({element.kind, element.rect.translated(placed.rect.topLeft()),
                                    textOf(element, row, totals), element.font, element.align,
                                    element.fill});
        m_result.pages.back().bands.push_back(std::move(placed));
    }

    // Raises before the first page when a field names a column the rows
    // do not have, whether or not its band is ever placed.
    void checkFields(const ReportBand& band) const {
        for (const ReportElement& element : band.elements)
            if (element.kind == ElementKind::Field)
                m_rows.fieldIndex(element.text);
    }

    QString textOf(const ReportElement& element, const QStringList* row,
                   const GroupTotals* totals) const {
        switch (element.kind) {
        case ElementKind::Label:
            return element.text;
        case ElementKind::Field: {
            const QString value = row ? row->value(m_rows.fieldIndex(element.text)) : QString();
            return value.isEmpty() ? element.emptyText : value;
        }
        case ElementKind::PageNumber:
            return QString::number(pageNumber());
        case ElementKind::Count:
            return totals ? QString::number(totals->count) : QString();
        case ElementKind::Sum:
            return totals ? scaledNumberText(totals->sums[size_t(m_groups.sumIndex(element.text))],
                                             element.decimals, true)
                          : QString();
        default:
            return {};
        }
    }

    int pageNumber() const { return int(m_result.pages.size()); }

    // "Página N de M" once the count of pages is known.
    void numberPages() {
        const int count = pageNumber();
        for (int number = 1; number <= count; ++number)
            for (PlacedBand& band : m_result.pages[size_t(number - 1)].bands)
                for (PlacedItem& item : band.items)
                    if (item.kind == ElementKind::PageOfPages)
                        item.text = QStringLiteral("Página %1 de %2").arg(number).arg(count);
    }

    const ReportDefinition& m_def;
    const ReportRows& m_rows;
    RowGroups m_groups;
    ReportPages m_result;
    std::vector<const QStringList*> m_openGroups; // the first row of each, outermost first
    size_t m_headingBands = 0;                    // placed on the page before its rows
    double m_bodyBottom = 0;
    double m_top = 0;
};

} // namespace

ReportPages buildPages(const ReportDefinition& definition, const ReportRows& rows) {
    return PageBuilder(definition, rows).build();
}
