#include "report/BillingSummary.h"

#include "platform/Clock.h"
#include "platform/DateTime.h"
#include "platform/Regional.h"
#include "report/RowGroups.h"
#include "report/SeparatedValues.h"
#include "report/TicketExport.h"
#include "report/TicketReport.h"
#include "report/Workbook.h"
#include "store/DataSet.h"

#include <cmath>

namespace {

const QColor kSilver(0xC0, 0xC0, 0xC0);
const QString kAmountColumn = QStringLiteral("CENTAVOS");
const QString kNoName = QStringLiteral("(sin nombre)");
const QString kNoCeco = QStringLiteral("(sin CECO)");
const QString kCecoTotalText = QStringLiteral("Total del centro de costo");
const QString kRangeTotalText = QStringLiteral("Total del período");
constexpr int kCecoLevel = 0, kPersonLevel = 1;
constexpr TextAlign L = TextAlign::Left, R = TextAlign::Right;

ReportFont arial(double points, bool bold = false) {
    return {QStringLiteral("Arial"), points, bold, false};
}

// Columns of the person lines and the totals, in mm from the band's left edge.
struct Column {
    double left, width;
};
constexpr Column kLegajo{20.32, 17.99}, kNombres{45.0, 80.0}, kTickets{130.0, 25.0},
    kImporte{160.0, 30.0};

QRectF at(const Column& column, double top, double height) {
    return {column.left, top, column.width, height};
}

ReportElement label(const QRectF& rect, const QString& text, const ReportFont& font,
                    TextAlign align = L) {
    return {ElementKind::Label, rect, text, font, align, {}};
}

ReportElement field(const QRectF& rect, const QString& column, const ReportFont& font,
                    TextAlign align, const QString& emptyText = {}) {
    return {ElementKind::Field, rect, column, font, align, {}, 0, emptyText};
}

// The count of tickets and their amount, at the person's columns.
std::vector<ReportElement> totalsAt(double top, const ReportFont& font) {
    return {{ElementKind::Count, at(kTickets, top, 4.02), {}, font, R, {}},
            {ElementKind::Sum, at(kImporte, top, 4.02), kAmountColumn, font, R, {}, 2}};
}

QString rangeText(const QDate& from, const QDate& to) {
    return QStringLiteral("del %1 al %2")
        .arg(DateToStr(toDateTime(from)), DateToStr(toDateTime(to)));
}

// The ticket report's company line, and under it the title with the range:
// on every page, so that a page alone still says what it sums and for when.
ReportBand pageHeader(ReportBand companyLine, const QDate& from, const QDate& to, double width) {
    companyLine.elements.push_back(
        label(QRectF(0, 10.0, width, 6.30),
              QStringLiteral("Resumen por centro de costo ") + rangeText(from, to), arial(14, true),
              TextAlign::Centre));
    return companyLine;
}

// When the summary was made, and "Página N de M" where the ticket report has
// its page number.
ReportBand pageFooter(double height) {
    return {BandKind::PageFooter,
            height,
            {label(QRectF(1.27, 2.12, 100, 3.97),
                   QStringLiteral("Emitido el ") + DateAndTimeToStr(Now()), arial(8)),
             {ElementKind::PageOfPages, QRectF(206.11, 2.12, 50, 3.97), {}, arial(8), R, {}}}};
}

ReportBand columnHeader() {
    ReportBand band{BandKind::ColumnHeader, 16.05, {}};
    band.elements.push_back(
        {ElementKind::Rectangle, QRectF(0, 9.74, 266.06, 5.29), {}, {}, L, kSilver});
    band.elements.push_back(
        label(at(kLegajo, 10.58, 4.02), QStringLiteral("Legajo"), arial(8, true), R));
    band.elements.push_back(
        label(at(kNombres, 10.58, 4.02), QStringLiteral("Nombres"), arial(8, true)));
    band.elements.push_back(
        label(at(kTickets, 10.58, 4.02), QStringLiteral("Tickets"), arial(8, true), R));
    band.elements.push_back(
        label(at(kImporte, 10.58, 4.02), QStringLiteral("Importe"), arial(8, true), R));
    return band;
}

ReportBand cecoHeader() {
    ReportBand band{BandKind::GroupHeader, 7.0, {}, kCecoLevel};
    band.elements.push_back(
        label(QRectF(1.27, 1.5, 30, 4.5), QStringLiteral("Centro de costo"), arial(9, true)));
    band.elements.push_back(
        field(QRectF(32, 1.5, 40, 4.5), QStringLiteral("CECO"), arial(9, true), L, kNoCeco));
    return band;
}

ReportBand personLine() {
    ReportBand band{BandKind::GroupFooter, 3.86, {}, kPersonLevel};
    band.elements.push_back(field(at(kLegajo, 0, 4.02), QStringLiteral("LEGAJO"), arial(8), R));
    band.elements.push_back(
        field(at(kNombres, 0, 4.02), QStringLiteral("NOMBRES"), arial(8), L, kNoName));
    for (ReportElement& total : totalsAt(0, arial(8)))
        band.elements.push_back(std::move(total));
    return band;
}

ReportBand cecoFooter() {
    ReportBand band{BandKind::GroupFooter, 7.5, {}, kCecoLevel};
    band.elements.push_back(
        {ElementKind::TopLine,
         QRectF(kTickets.left, 0.8, kImporte.left + kImporte.width - kTickets.left, 0),
         {},
         {},
         L,
         {}});
    band.elements.push_back(
        label(QRectF(kNombres.left, 1.2, 42, 4.02), kCecoTotalText, arial(8, true)));
    band.elements.push_back(field(QRectF(kNombres.left + 42, 1.2, 30, 4.02), QStringLiteral("CECO"),
                                  arial(8, true), L, kNoCeco));
    for (ReportElement& total : totalsAt(1.2, arial(8, true)))
        band.elements.push_back(std::move(total));
    return band;
}

ReportBand summary(double width) {
    const QRectF bar(0, 0, width, 6.30);
    ReportBand band{BandKind::Summary,
                    6.30,
                    {{ElementKind::Rectangle, bar, {}, {}, L, kSilver},
                     {ElementKind::TopLine, bar, {}, {}, L, {}},
                     label(QRectF(kNombres.left, 1.2, 60, 4.5), kRangeTotalText, arial(9, true))}};
    for (ReportElement& total : totalsAt(1.2, arial(9, true)))
        band.elements.push_back(std::move(total));
    return band;
}

QString centsText(const QVariant& amount) {
    return amount.isNull() ? QString() : QString::number(centsOf(amount.toDouble()));
}

// A whole-number column as a number cell, an empty cell for null.
WorkbookCell wholeNumberCell(const QString& text) {
    return text.isEmpty() ? WorkbookCell{} : WorkbookCell::ofNumber(text.toDouble());
}

// The summary's table lines as the walk over the rows meets the groups'
// ends; the totals are the same walk's as the printed report's.
class SummaryTable : public GroupVisitor {
public:
    SummaryTable(std::vector<TableRow>& table, const ReportRows& rows)
        : m_table(table), m_ceco(rows.fieldIndex(QStringLiteral("CECO"))),
          m_legajo(rows.fieldIndex(QStringLiteral("LEGAJO"))),
          m_nombres(rows.fieldIndex(QStringLiteral("NOMBRES"))) {}

    void groupStarts(int, const QStringList&) override {}
    void row(const QStringList&, const GroupTotals&) override {}

    void groupEnds(int level, const QStringList& lastRow, const GroupTotals& totals) override {
        const QString name = lastRow.value(m_nombres);
        if (level == kPersonLevel)
            m_table.push_back({wholeNumberCell(lastRow.value(m_ceco)),
                               wholeNumberCell(lastRow.value(m_legajo)),
                               WorkbookCell::ofText(name.isEmpty() ? kNoName : name),
                               WorkbookCell::ofNumber(double(totals.count)),
                               WorkbookCell::ofCents(totals.sums[0])});
        else
            addTotalRow(wholeNumberCell(lastRow.value(m_ceco)), kCecoTotalText, totals);
    }

    void addTotalRow(const WorkbookCell& ceco, const QString& text, const GroupTotals& totals) {
        m_table.push_back({ceco.inBold(),
                           {},
                           WorkbookCell::ofText(text).inBold(),
                           WorkbookCell::ofNumber(double(totals.count)).inBold(),
                           WorkbookCell::ofCents(totals.sums[0]).inBold()});
    }

private:
    std::vector<TableRow>& m_table;
    int m_ceco, m_legajo, m_nombres;
};

// A cell as separated values write it: numbers with the regional decimal
// separator and no grouping, dates in the regional short date.
QString separatedText(const WorkbookCell& cell) {
    switch (cell.type) {
    case WorkbookCell::Type::Empty:
        return {};
    case WorkbookCell::Type::Text:
        return cell.text;
    case WorkbookCell::Type::Amount:
        return scaledNumberText(std::llround(cell.number * 100), 2);
    case WorkbookCell::Type::Date:
        return DateToStr(cell.number);
    case WorkbookCell::Type::DateTime:
        return DateToStr(cell.number) + QLatin1Char(' ') + TimeToStr(cell.number);
    case WorkbookCell::Type::Number:
        break;
    }
    return QString::number(cell.number, 'g', 15)
        .replace(QLatin1Char('.'), formatSettings().decimalSeparator);
}

} // namespace

QStringList billingSummarySql(const QDate& from, const QDate& to) {
    const QString d1 = from.toString(QStringLiteral("yyyyMMdd"));
    const QString d2 = to.toString(QStringLiteral("yyyyMMdd"));
    return {QStringLiteral("SELECT CECO, LEGAJO, COALESCE(NOMBRES, '') AS NOMBRES, IMPORTE"),
            QStringLiteral("FROM tickettaxis"),
            QStringLiteral("WHERE FECHA BETWEEN '") + d1 + QStringLiteral(" 00:00:00' AND '") + d2 +
                QStringLiteral(" 23:59:59'"),
            QStringLiteral("ORDER BY CASE WHEN CECO IS NULL THEN 0 ELSE 1 END, CECO,"),
            QStringLiteral("  CASE WHEN LEGAJO IS NULL THEN 0 ELSE 1 END, LEGAJO,"),
            QStringLiteral("  COALESCE(NOMBRES, '');")};
}

ReportRows billingSummaryRows(TDataSet& query) {
    ReportRows rows;
    rows.fieldNames = QStringList{QStringLiteral("CECO"), QStringLiteral("LEGAJO"),
                                  QStringLiteral("NOMBRES"), kAmountColumn};
    rows.rows.reserve(size_t(query.RecordCount()));
    for (query.First(); !query.Eof(); query.Next())
        rows.rows.push_back({query.Fields(0).AsString(), query.Fields(1).AsString(),
                             query.Fields(2).AsString(), centsText(query.Fields(3).Value())});
    return rows;
}

ReportDefinition billingSummaryDefinition(const QDate& from, const QDate& to) {
    ReportDefinition report = ticketReportDefinition();
    report.title = QStringLiteral("JUX Consulta: Resumen por centro de costo");
    report.groups = {{{QStringLiteral("CECO")}},
                     {{QStringLiteral("LEGAJO"), QStringLiteral("NOMBRES")}}};
    // The page header and footer grow from the ticket report's.
    std::vector<ReportBand> bands{
        pageHeader(*report.band(BandKind::PageHeader), from, to, report.bandWidth),
        pageFooter(report.band(BandKind::PageFooter)->height), columnHeader()};
    bands.push_back(cecoHeader());
    bands.push_back(personLine());
    bands.push_back(cecoFooter());
    bands.push_back(summary(report.bandWidth));
    report.bands = std::move(bands);
    return report;
}

std::vector<TableRow> billingSummaryTable(const ReportRows& summaryRows, const QDate& from,
                                          const QDate& to) {
    const RowGroups groups(summaryRows, billingSummaryDefinition(from, to).groups, {kAmountColumn});
    std::vector<TableRow> table{
        {WorkbookCell::ofText(kCompanyLine)},
        {WorkbookCell::ofText(QStringLiteral("RESUMEN POR CENTRO DE COSTO"))},
        {WorkbookCell::ofText(QStringLiteral("DESDE")), WorkbookCell::ofDateTime(toDateTime(from))},
        {WorkbookCell::ofText(QStringLiteral("HASTA")), WorkbookCell::ofDateTime(toDateTime(to))},
        {}};
    for (const char* heading : {"CECO", "Legajo", "Nombres", "Tickets", "Importe"})
        table.back().push_back(WorkbookCell::ofText(QString::fromLatin1(heading)).inBold());
    SummaryTable lines(table, summaryRows);
    const GroupTotals all = groups.walk(lines);
    lines.addTotalRow({}, kRangeTotalText, all);
    return table;
}

void writeBillingSeparatedValues(const QString& path, const ReportRows& summaryRows,
                                 const QDate& from, const QDate& to) {
    const QString comma = QStringLiteral(",");
    QStringList lines;
    for (const TableRow& row : billingSummaryTable(summaryRows, from, to)) {
        QStringList values;
        for (const WorkbookCell& cell : row)
            values << quotedField(separatedText(cell), comma);
        lines << values.join(comma);
    }
    writeTextFile(path, lines);
}

void writeBillingWorkbook(const QString& path, const ReportRows& summaryRows, TDataSet& tickets,
                          const QDate& from, const QDate& to) {
    TWorkbookWriter workbook(path, QStringLiteral("Resumen"));
    for (const TableRow& row : billingSummaryTable(summaryRows, from, to))
        workbook.addRow(row);
    workbook.addSheet(QStringLiteral("Tickets"));
    writeTicketRows(workbook, tickets, from, to);
    workbook.commit();
}
