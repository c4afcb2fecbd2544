// The report engine with the ticket report's definition: pages built,
// rendered to PDF and read back with poppler-utils, the preview, the saved
// text forms.
#include "ErrorOf.h"
#include "ReportFixture.h"
#include "report/PageBuilder.h"
#include "report/PagePainter.h"
#include "report/ReportFiles.h"
#include "report/TicketReport.h"
#include "report/preview/PageView.h"
#include "report/preview/ReportPreview.h"

#include <QPrinter>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <optional>

namespace {

constexpr double kPointsPerMm = 72 / 25.4;
constexpr double kTolerancePt = 1.5;

// Rows as the ticket query gives them, in their text forms.
ReportRows ticketRows(int count) {
    ReportRows rows;
    rows.fieldNames = QStringList{"ORIGEN", "LEGAJO", "NOMBRES", "FECHA",  "IMPORTE",
                                  "CUENTA", "CECO",   "TARJETA", "TICKET", "VERIFICADO"};
    for (int i = 0; i < count; ++i)
        rows.rows.push_back({QStringLiteral("O%1").arg(i, 4, 10, QLatin1Char('0')),
                             QString::number(1000 + i), QStringLiteral("Nombre%1").arg(i),
                             QStringLiteral("05/03/2024 10:27:45"), QStringLiteral("12,5"),
                             QString::number(300 + i), QString::number(40 + i),
                             QString::number(5000 + i), QString::number(700000 + i), "0"});
    return rows;
}

struct Word {
    QString text;
    double xMin, yMin, xMax, yMax; // points
};

QList<Word> pageWords(const QString& pdf, int page) {
    const QString html =
        QString::fromUtf8(toolOutput("pdftotext", {"-bbox", "-f", QString::number(page), "-l",
                                                   QString::number(page), pdf, "-"}));
    static const QRegularExpression word(
        QStringLiteral("<word xMin=\"([\\d.]+)\" yMin=\"([\\d.]+)\" xMax=\"([\\d.]+)\" "
                       "yMax=\"([\\d.]+)\">([^<]*)</word>"));
    QList<Word> words;
    for (const QRegularExpressionMatch& m : word.globalMatch(html))
        words << Word{m.captured(5), m.captured(1).toDouble(), m.captured(2).toDouble(),
                      m.captured(3).toDouble(), m.captured(4).toDouble()};
    return words;
}

QString pageText(const QString& pdf, int page) {
    return QString::fromUtf8(toolOutput("pdftotext", {"-layout", "-f", QString::number(page), "-l",
                                                      QString::number(page), pdf, "-"}));
}

// A copy: the list is often a temporary (found by the sanitized suite).
std::optional<Word> findWord(const QList<Word>& words, const QString& text) {
    for (const Word& word : words)
        if (word.text == text)
            return word;
    return std::nullopt;
}

} // namespace

class TestPages : public QObject {
    Q_OBJECT
private slots:
    void pageCounts_data();
    void pageCounts();
    void pdfPages_data();
    void pdfPages();
    void valuesInTheirColumns_data();
    void valuesInTheirColumns();
    void bandHigherThanThePageEnds();
    void unknownFieldRaises();
    void previewPagesAndZooms();
    void printsTheChosenPages();
    void savedTextForms_data();
    void savedTextForms();
    void ownSaveFormsGoToTheirWriters();

private:
    QTemporaryDir m_dir;
};

// Letter landscape is 215.9 mm high; 10 mm margins and the 5.89 mm footer
// leave the bands down to 200.01 mm. Page 1 starts its rows at 53.48 mm
// (header, title, column header): 37 rows of 3.86 mm; the others at 47.18 mm:
// 39 rows. 300 rows: 37 + 6 x 39 = 271, the last 29 and the summary on page 8.
void TestPages::pageCounts_data() {
    QTest::addColumn<int>("rows");
    QTest::addColumn<QList<int>>("rowsPerPage");
    QTest::newRow("empty") << 0 << QList<int>{0};
    QTest::newRow("one") << 1 << QList<int>{1};
    // 37 rows fill page 1; the summary no longer fits under them.
    QTest::newRow("first page full") << 37 << QList<int>{37, 0};
    QTest::newRow("one over the first page") << 38 << QList<int>{37, 1};
    QTest::newRow("300") << 300 << QList<int>{37, 39, 39, 39, 39, 39, 39, 29};
}

void TestPages::pageCounts() {
    QFETCH(int, rows);
    QFETCH(QList<int>, rowsPerPage);
    const ReportPages pages = buildPages(ticketReportDefinition(), ticketRows(rows));
    QList<int> details;
    QList<int> titles, summaries, footers, headers;
    for (const ReportPage& page : pages.pages) {
        auto count = [&](BandKind kind) {
            return int(std::count_if(page.bands.begin(), page.bands.end(),
                                     [kind](const PlacedBand& b) { return b.kind == kind; }));
        };
        details << count(BandKind::Detail);
        titles << count(BandKind::Title);
        summaries << count(BandKind::Summary);
        footers << count(BandKind::PageFooter);
        headers << count(BandKind::PageHeader) + count(BandKind::ColumnHeader);
        for (const PlacedBand& band : page.bands)
            QVERIFY(band.rect.bottom() <= 215.9 - 10 + 1e-9);
    }
    QCOMPARE(details, rowsPerPage);
    const int n = int(rowsPerPage.size());
    QCOMPARE(titles, QList<int>{1} + QList<int>(n - 1, 0));
    QCOMPARE(summaries, QList<int>(n - 1, 0) + QList<int>{1});
    QCOMPARE(footers, QList<int>(n, 1));
    QCOMPARE(headers, QList<int>(n, 2));
}

void TestPages::pdfPages_data() {
    QTest::addColumn<int>("rows");
    QTest::addColumn<int>("pageCount");
    QTest::newRow("empty") << 0 << 1;
    QTest::newRow("one") << 1 << 1;
    QTest::newRow("300") << 300 << 8;
}

void TestPages::pdfPages() {
    QFETCH(int, rows);
    QFETCH(int, pageCount);
    const QString pdf = m_dir.filePath(QStringLiteral("pages%1.pdf").arg(rows));
    savePdf(buildPages(ticketReportDefinition(), ticketRows(rows)), pdf);

    const QString info = QString::fromUtf8(toolOutput("pdfinfo", {pdf}));
    QVERIFY2(info.contains(QRegularExpression("Pages:\\s+" + QString::number(pageCount) + "\n")),
             qPrintable(info));
    // Letter in landscape: 11 x 8.5 inches, not rotated.
    QVERIFY2(info.contains(QRegularExpression("Page size:\\s+792 x 612 pts")), qPrintable(info));
    QVERIFY(info.contains(QRegularExpression("Title:\\s+JUX Consulta: Registros de asistencia\n")));

    for (int page = 1; page <= pageCount; ++page) {
        const QString text = pageText(pdf, page);
        QCOMPARE(text.contains("Reporte de Tickets Control de Taxis"), page == 1);
        QVERIFY(text.contains(kCompanyLine));
        QVERIFY(text.contains(QRegularExpression("Origen\\s+Legajo\\s+Nombres\\s+Fecha\\s+Importe"
                                                 "\\s+Cuenta\\s+CECO\\s+Tarjeta\\s+Ticket")));
        // The page number alone, right-aligned in its box at the foot of the page.
        const std::optional<Word> number = findWord(pageWords(pdf, page), QString::number(page));
        QVERIFY2(number, qPrintable(QStringLiteral("no page number on page %1").arg(page)));
        QVERIFY(qAbs(number->xMax - (7 + 247.91 + 8.20) * kPointsPerMm) < kTolerancePt);
        QVERIFY(number->yMin > (200.01 + 2.12) * kPointsPerMm - kTolerancePt);
    }
    QCOMPARE(pageText(pdf, pageCount)
                 .contains(QStringLiteral("O%1").arg(rows - 1, 4, 10, QLatin1Char('0'))),
             rows > 0);
}

void TestPages::valuesInTheirColumns_data() {
    QTest::addColumn<QString>("value");
    QTest::addColumn<double>("edgeMm"); // from the band's left edge
    QTest::addColumn<bool>("rightAligned");
    QTest::newRow("ORIGEN left") << "O0000" << 1.27 << false;
    QTest::newRow("LEGAJO right") << "1000" << 20.32 + 17.99 << true;
    QTest::newRow("NOMBRES left") << "Nombre0" << 40.43 << false;
    QTest::newRow("FECHA left") << "05/03/2024" << 85.94 << false;
    QTest::newRow("IMPORTE right") << "12,5" << 129.54 + 21.38 << true;
    QTest::newRow("CUENTA right") << "300" << 152.61 + 27.09 << true;
    QTest::newRow("CECO right") << "40" << 181.82 + 23.28 << true;
    QTest::newRow("TARJETA right") << "5000" << 208.28 + 22.23 << true;
    QTest::newRow("TICKET right") << "700000" << 232.83 + 21.38 << true;
}

void TestPages::valuesInTheirColumns() {
    QFETCH(QString, value);
    QFETCH(double, edgeMm);
    QFETCH(bool, rightAligned);
    const QString pdf = m_dir.filePath(QStringLiteral("columns.pdf"));
    savePdf(buildPages(ticketReportDefinition(), ticketRows(1)), pdf);
    const std::optional<Word> word = findWord(pageWords(pdf, 1), value);
    QVERIFY2(word, qPrintable(value));
    const double edge = (7 + edgeMm) * kPointsPerMm;
    QVERIFY2(qAbs((rightAligned ? word->xMax : word->xMin) - edge) < kTolerancePt,
             qPrintable(QStringLiteral("%1: %2 %3").arg(value).arg(word->xMin).arg(word->xMax)));
    // The first detail band starts under header, title and column header.
    QVERIFY(qAbs(word->yMin - (10 + 21.13 + 6.30 + 16.05) * kPointsPerMm) < 2 * kTolerancePt);
}

void TestPages::bandHigherThanThePageEnds() {
    ReportDefinition definition = ticketReportDefinition();
    for (ReportBand& band : definition.bands)
        if (band.kind == BandKind::Detail)
            band.height = 400;
    const ReportPages pages = buildPages(definition, ticketRows(3));
    QCOMPARE(int(pages.pages.size()), 4); // one row a page, the summary on the fourth
}

void TestPages::unknownFieldRaises() {
    ReportRows rows = ticketRows(1);
    rows.fieldNames[2] = QStringLiteral("NOMBRE");
    QCOMPARE(errorOf([&] { buildPages(ticketReportDefinition(), rows); }),
             QStringLiteral("Field 'NOMBRES' not found"));
}

void TestPages::previewPagesAndZooms() {
    TReportPreview preview(buildPages(ticketReportDefinition(), ticketRows(300)));
    QCOMPARE(preview.windowTitle(), QStringLiteral("JUX Consulta: Registros de asistencia"));
    QCOMPARE(preview.pageCount(), 8);
    QCOMPARE(preview.currentPage(), 1);
    preview.bPriorClick();
    QCOMPARE(preview.currentPage(), 1);
    preview.bNextClick();
    QCOMPARE(preview.currentPage(), 2);
    preview.bLastClick();
    QCOMPARE(preview.currentPage(), 8);
    preview.bNextClick();
    QCOMPARE(preview.currentPage(), 8);
    preview.bFirstClick();
    QCOMPARE(preview.currentPage(), 1);

    auto* view = preview.findChild<TPageView*>();
    QVERIFY(view);
    preview.setZoom(1.0);
    const QSize natural = view->size();
    QVERIFY(natural.width() > natural.height()); // landscape
    preview.setZoom(2.0);
    QVERIFY(qAbs(view->width() - 2 * natural.width()) <= 2);
}

// A printer that writes PDF stands for a real one: same painter, same pages.
void TestPages::printsTheChosenPages() {
    TReportPreview preview(buildPages(ticketReportDefinition(), ticketRows(300)));
    QPrinter printer(QPrinter::HighResolution);
    preview.preparePrinter(printer);
    const QString pdf = m_dir.filePath(QStringLiteral("printed.pdf"));
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(pdf);
    printer.setFromTo(7, 8);
    preview.printOn(printer);
    const QString info = QString::fromUtf8(toolOutput("pdfinfo", {pdf}));
    QVERIFY2(info.contains(QRegularExpression("Pages:\\s+2\n")), qPrintable(info));
    QVERIFY(info.contains(QRegularExpression("Page size:\\s+792 x 612 pts")));
    QVERIFY(findWord(pageWords(pdf, 1), QStringLiteral("7")));
    QVERIFY(pageText(pdf, 2).contains(QStringLiteral("O0299")));
    QVERIFY(!pageText(pdf, 1).contains(QStringLiteral("Reporte de Tickets Control de Taxis")));
}

void TestPages::savedTextForms_data() {
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QStringList>("expectedLines");
    // Two millimetres to the character: the band is 133 characters wide, the
    // title centred in it, Legajo right-aligned in columns 10 to 18, the page
    // number in columns 124 to 127.
    QTest::newRow("text")
        << "r.txt"
        << QStringList{
               "JUX S.A. - Control de Taxis",
               QString(49, ' ') + "Reporte de Tickets Control de Taxis",
               " Origen   Legajo    Nombres                Fecha                   Importe"
               "      Cuenta         CECO       Tarjeta     Ticket",
               " O0000         1000 Nombre0                05/03/2024 10:27:45          12,5"
               "            300           40        5000      700000",
               QString(127, ' ') + "1"};
    QTest::newRow("comma-separated")
        << "r.csv"
        << QStringList{"JUX S.A. - Control de Taxis", "Reporte de Tickets Control de Taxis",
                       "Origen,Legajo,Nombres,Fecha,Importe,Cuenta,CECO,Tarjeta,Ticket",
                       "O0000,1000,Nombre0,05/03/2024 10:27:45,\"12,5\",300,40,5000,700000", "1"};
    QTest::newRow("html") << "r.html"
                          << QStringList{"<title>JUX Consulta: Registros de asistencia</title>",
                                         "<meta charset=\"windows-1252\">"};
}

void TestPages::savedTextForms() {
    QFETCH(QString, fileName);
    QFETCH(QStringList, expectedLines);
    const QString path = m_dir.filePath(fileName);
    TReportPreview preview(buildPages(ticketReportDefinition(), ticketRows(1)));
    preview.saveTo(path);
    const QString content = QString::fromLatin1(readFileBytes(path));
    QVERIFY(!content.contains(QRegularExpression("[^\r]\n")));
    const QStringList lines = content.split("\r\n");
    for (const QString& line : expectedLines)
        QVERIFY2(lines.contains(line), qPrintable(line + "\n-- in --\n" + content));
}

// The forms a report's owner offers are written by the owner: one of the
// preview's own suffixes (the summary's separated values) in that entry's
// place, another (the summary's workbook) after the preview's; the other
// forms stay the preview's.
void TestPages::ownSaveFormsGoToTheirWriters() {
    QStringList written;
    const auto write = [&](const QString& path) { written << path; };
    TReportPreview preview(buildPages(ticketReportDefinition(), ticketRows(1)), nullptr,
                           {{{}, "csv", write}, {"Libro de Excel (*.xlsx)", "xlsx", write}});
    QCOMPARE(preview.saveFilters(),
             QStringList({"Documento PDF (*.pdf)", "Texto (*.txt)",
                          "Valores separados por comas (*.csv)", "HTML (*.html *.htm)",
                          "Libro de Excel (*.xlsx)"}));
    QCOMPARE(preview.saveSuffixes(), QStringList({"pdf", "txt", "csv", "html", "xlsx"}));
    for (const char* name : {"own.XLSX", "own.csv", "own.pdf"})
        preview.saveTo(m_dir.filePath(name));
    QCOMPARE(written, QStringList({m_dir.filePath("own.XLSX"), m_dir.filePath("own.csv")}));
    QVERIFY(!QFile::exists(m_dir.filePath("own.XLSX")) &&
            !QFile::exists(m_dir.filePath("own.csv")));
    QVERIFY(readFileBytes(m_dir.filePath("own.pdf")).startsWith("%PDF"));
}

QObject* newPageTests() {
    return new TestPages;
}

#include "tst_pages.moc"
