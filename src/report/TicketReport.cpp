#include "report/TicketReport.h"

namespace {

const QColor kSilver(0xC0, 0xC0, 0xC0);
constexpr double kBandWidth = 265.38;

ReportFont arial(double points, bool bold = false, bool italic = false) {
    return {QStringLiteral("Arial"), points, bold, italic};
}

struct Column {
    const char* heading;
    const char* field;
    double left, width;
    TextAlign headingAlign, valueAlign;
};

constexpr TextAlign L = TextAlign::Left, C = TextAlign::Centre, R = TextAlign::Right;

const Column kColumns[] = {
    {"Origen", "ORIGEN", 1.27, 17.57, L, L},     {"Legajo", "LEGAJO", 20.32, 17.99, L, R},
    {"Nombres", "NOMBRES", 40.43, 44.45, L, L},  {"Fecha", "FECHA", 85.94, 41.28, L, L},
    {"Importe", "IMPORTE", 129.54, 21.38, C, R}, {"Cuenta", "CUENTA", 152.61, 27.09, C, R},
    {"CECO", "CECO", 181.82, 23.28, C, R},       {"Tarjeta", "TARJETA", 208.28, 22.23, C, R},
    {"Ticket", "TICKET", 232.83, 21.38, C, R},
};

ReportBand pageHeader() {
    return {BandKind::PageHeader,
            21.13,
            {{ElementKind::Label,
              QRectF(0, 2.12, 143.93, 6.14),
              kCompanyLine,
              arial(12, false, true),
              L,
              {}}}};
}

ReportBand title() {
    return {BandKind::Title,
            6.30,
            {{ElementKind::Label,
              QRectF(0, 0, kBandWidth, 6.30),
              QStringLiteral("Reporte de Tickets Control de Taxis"),
              arial(14, true),
              C,
              {}}}};
}

ReportBand columnHeader() {
    ReportBand band{BandKind::ColumnHeader, 16.05, {}};
    band.elements.push_back(
        {ElementKind::Rectangle, QRectF(0, 9.74, 266.06, 5.29), {}, {}, L, kSilver});
    for (const Column& column : kColumns)
        band.elements.push_back({ElementKind::Label,
                                 QRectF(column.left, 10.58, column.width, 4.02),
                                 QString::fromLatin1(column.heading),
                                 arial(8, true),
                                 column.headingAlign,
                                 {}});
    return band;
}

ReportBand detail() {
    ReportBand band{BandKind::Detail, 3.86, {}};
    for (const Column& column : kColumns)
        band.elements.push_back({ElementKind::Field,
                                 QRectF(column.left, 0, column.width, 4.02),
                                 QString::fromLatin1(column.field),
                                 arial(8),
                                 column.valueAlign,
                                 {}});
    return band;
}

ReportBand summary() {
    const QRectF bar(0, 0, kBandWidth, 6.30);
    return {BandKind::Summary,
            6.30,
            {{ElementKind::Rectangle, bar, {}, {}, L, kSilver},
             {ElementKind::TopLine, bar, {}, {}, L, {}}}};
}

ReportBand pageFooter() {
    return {BandKind::PageFooter,
            5.89,
            {{ElementKind::PageNumber, QRectF(247.91, 2.12, 8.20, 3.97), {}, arial(8), R, {}}}};
}

} // namespace

ReportDefinition ticketReportDefinition() {
    ReportDefinition report;
    report.title = QStringLiteral("JUX Consulta: Registros de asistencia");
    report.paper = QSizeF(215.9, 279.4);
    report.landscape = true;
    report.margins = QMarginsF(7, 10, 7, 10);
    report.bandWidth = kBandWidth;
    report.printIfEmpty = false;
    report.headerOnFirstPage = true;
    report.footerOnLastPage = true;
    report.copies = 1;
    report.bands = {pageHeader(), title(), columnHeader(), detail(), summary(), pageFooter()};
    return report;
}
