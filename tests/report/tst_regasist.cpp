// The ticket-records window: dates on showing, the grid, the report and the
// export through its handlers, the date range on SQLite and PostgreSQL, and
// the server alias "NONE".
#include "ReportFixture.h"
#include "platform/Clock.h"
#include "platform/ErrorBox.h"
#include "report/preview/ReportPreview.h"
#include "ui/DBGrid.h"
#include "ui/DBNavigator.h"
#include "windows/uRegAsist.h"
#include "windows/upConsulta1.h"

#include <QCoreApplication>
#include <QDateEdit>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTableView>
#include <QTest>

namespace {

// The window and its report layout bound to an alias as the main window binds them.
struct RegAsist {
    explicit RegAsist(const QString& alias) {
        window.fpConsulta1 = &layout;
        window.Table1.DatabaseName = alias;
        window.Table1.TableName = QStringLiteral("tickettaxis");
        window.Query1.DatabaseName = alias;
        layout.Table1.DatabaseName = alias;
    }
    TfpConsulta1 layout;
    TfRegAsist window;
};

// The detail texts of the first column of the built pages.
QStringList reportedOrigins(const ReportPages& pages) {
    QStringList origins;
    for (const ReportPage& page : pages.pages)
        for (const PlacedBand& band : page.bands)
            if (band.kind == BandKind::Detail)
                origins << band.items.front().text;
    return origins;
}

// Two CECOs, a person without a name, a ticket after the range.
void appendSummaryTickets() {
    appendTicketRows("JUXRegs", {{"A", 7, "Siete", encodeDate(2024, 3, 5), 0.1, 0, 12, 0, 1},
                                 {"B", 7, "Siete", encodeDate(2024, 3, 6), 0.2, 0, 12, 0, 2},
                                 {"C", 9, "", encodeDate(2024, 3, 6), 5.5, 0, 0, 0, 3},
                                 {"D", 9, "Nueve", encodeDate(2024, 4, 1), 1, 0, 12, 0, 4}});
}

} // namespace

class TestRegAsist : public QObject {
    Q_OBJECT
private slots:
    void init() {
        setClock([] { return QDateTime(QDate(2024, 3, 17), QTime(10, 30)); });
        setPreviewPresenter([this](const ReportPages& pages, const SaveForms& forms) {
            m_previewed.push_back(pages);
            m_forms = forms;
        });
        m_previewed.clear();
    }
    void cleanup() {
        setClock({});
        setPreviewPresenter({});
        setBoxPresenter({});
    }

    void showingSetsTheMonthAndShowsTheTable();
    void desdeAfterHastaSelectsNothing();
    void rangeEdgesOnEachServer_data();
    void rangeEdgesOnEachServer();
    void cancelledDialogWritesNothing();
    void workbookEntryWritesAWorkbook();
    void summaryAndItsWorkbook();
    void summarySeparatedValuesAreADataTable();
    void summaryRefusesAReversedRange();
    void summaryPagesSayWhatAndWhen();
    void unopenableTableShowsTheError();
    void noServerTableSaysSo();

private:
    std::vector<ReportPages> m_previewed;
    SaveForms m_forms;

    // Writes the file of the owner's save form for the suffix; fails when
    // the preview was given none.
    void saveInOwnForm(const QString& suffix, const QString& path) {
        for (const SaveForm& form : m_forms)
            if (form.suffix == suffix)
                return form.write(path);
        QFAIL(qPrintable("no save form for " + suffix));
    }
};

void TestRegAsist::showingSetsTheMonthAndShowsTheTable() {
    StoreWorld world;
    setSpanishRegion();
    appendTicketRows("JUXRegs", {{"A", 1, "Uno", encodeDate(2024, 2, 1), 1},
                                 {"B", 2, "Dos", encodeDate(2024, 3, 2), 2},
                                 {"C", 3, "Tres", encodeDate(2024, 3, 3), 3}});
    RegAsist f("JUXRegs");
    f.window.show();
    QCOMPARE(f.window.dtpDesde->date(), QDate(2024, 3, 1));
    QCOMPARE(f.window.dtpHasta->date(), QDate(2024, 3, 17));
    QVERIFY(f.window.Table1.Active());
    QAbstractItemModel* model = f.window.DBGrid1->model();
    QVERIFY(f.window.DBGrid1->readOnly());
    QCOMPARE(model->rowCount(), 3);
    QCOMPARE(model->columnCount(), 10);
    QCOMPARE(model->headerData(0, Qt::Horizontal).toString().toUpper(), QString("ORIGEN"));
    QCOMPARE(model->headerData(9, Qt::Horizontal).toString().toUpper(), QString("VERIFICADO"));
    QCOMPARE(f.window.DBGrid1->currentRow(), 2); // on the last row
    QCOMPARE(model->index(1, 3).data().toString(), QString("02/03/2024"));
    f.window.DBNavigator1->BtnClick(TDBNavigator::nbFirst);
    QCOMPARE(f.window.DBGrid1->currentRow(), 0);
    f.window.DBNavigator1->BtnClick(TDBNavigator::nbNext);
    QCOMPARE(f.window.DBGrid1->currentRow(), 1);

    // Closing closes the table; showing again resets both dates, keeps the separator.
    f.window.eSep->setText(",");
    f.window.dtpDesde->setDate(QDate(2020, 1, 1));
    f.window.dtpHasta->setDate(QDate(2020, 1, 2));
    f.window.reject();
    QVERIFY(!f.window.Table1.Active());
    setClock([] { return QDateTime(QDate(2024, 4, 1), QTime(0, 0)); });
    f.window.show();
    QCOMPARE(f.window.dtpDesde->date(), QDate(2024, 4, 1));
    QCOMPARE(f.window.dtpHasta->date(), QDate(2024, 4, 1));
    QCOMPARE(f.window.eSep->text(), QString(","));
    f.window.reject();
}

void TestRegAsist::desdeAfterHastaSelectsNothing() {
    StoreWorld world;
    setSpanishRegion();
    appendTicketRows("JUXRegs", {{"A", 1, "Uno", encodeDate(2024, 3, 5), 1},
                                 {"B", 2, "Dos", encodeDate(2024, 3, 10), 2}});
    RegAsist f("JUXRegs");
    f.window.show();
    f.window.dtpDesde->setDate(QDate(2024, 3, 17));
    f.window.dtpHasta->setDate(QDate(2024, 3, 1));
    const QString path = world.env.path("vacio.csv");
    f.window.SaveDialog1Execute = [&](int& filter) {
        filter = 0;
        // The query is open before the dialog appears.
        return f.window.Query1.Active() ? path : QString();
    };
    f.window.TBExportarClick();
    QCOMPARE(readFileBytes(path), QByteArray("JUX S.A. - Control de Taxis\r\n"
                                             "REPORTE CONTROL TAXIS\r\n"
                                             "DESDE;17/03/2024\r\n"
                                             "HASTA;01/03/2024\r\n"
                                             "Origen;Legajo;Nombres;Fecha;Importe;Cuenta;CECO;"
                                             "Tarjeta;Ticket;\r\n"));
    QVERIFY(!f.window.Query1.Active());

    f.window.bRepClick();
    QCOMPARE(int(m_previewed.size()), 1);
    QCOMPARE(int(m_previewed[0].pages.size()), 1);
    QVERIFY(reportedOrigins(m_previewed[0]).isEmpty());
    QVERIFY(!f.layout.Table1.Active());
    f.window.reject();
}

void TestRegAsist::rangeEdgesOnEachServer_data() {
    QTest::addColumn<bool>("postgres");
    QTest::newRow("sqlite") << false;
    QTest::newRow("postgres") << true;
}

// 23:59:59 of the last day is in, 00:00:00 of the next day out; the same at
// the first day's start.
void TestRegAsist::rangeEdgesOnEachServer() {
    QFETCH(bool, postgres);
    std::unique_ptr<StoreWorld> sqlite;
    std::unique_ptr<PostgresWorld> server;
    if (postgres) {
        server = makePostgresWorld();
        if (!server)
            QSKIP("KIVO_TEST_PG is not set");
    } else {
        sqlite = std::make_unique<StoreWorld>();
    }
    setSpanishRegion();
    const QString tag = QStringLiteral("rep%1-").arg(QCoreApplication::applicationPid());
    auto at = [](int month, int day, int h, int m, int s) {
        return encodeDateTime({2043, month, day, h, m, s, 0});
    };
    appendTicketRows("JUXRegs", {{tag + "after", 1, "", at(3, 18, 0, 0, 0), 1},
                                 {tag + "last", 2, "", at(3, 17, 23, 59, 59), 2},
                                 {tag + "before", 3, "", at(2, 28, 23, 59, 59), 3},
                                 {tag + "first", 4, "", at(3, 1, 0, 0, 0), 4}});
    const QString dir = postgres ? server->env.path("") : sqlite->env.path("");
    RegAsist f("JUXRegs");
    f.window.show();
    f.window.dtpDesde->setDate(QDate(2043, 3, 1));
    f.window.dtpHasta->setDate(QDate(2043, 3, 17));
    f.window.SaveDialog1Execute = [&](int&) { return dir + "/rango.csv"; };
    f.window.TBExportarClick();
    f.window.bRepClick();
    f.window.reject();
    if (server)
        server->removeTagged(tag);

    QStringList exported;
    for (const QByteArray& line : readFileBytes(dir + "/rango.csv").split('\n'))
        if (line.startsWith(tag.toLatin1()))
            exported << QString::fromLatin1(line.trimmed());
    QCOMPARE(exported, QStringList({tag + "first;4;;01/03/2043;4;0;0;0;0;",
                                    tag + "last;2;;17/03/2043 23:59:59;2;0;0;0;0;"}));
    QStringList reported;
    for (const QString& origin : reportedOrigins(m_previewed.at(0)))
        if (origin.startsWith(tag))
            reported << origin.mid(tag.size());
    QCOMPARE(reported, QStringList({"first", "last"}));
}

// Enter in a date picker presses the export button, the window's default.
void TestRegAsist::cancelledDialogWritesNothing() {
    StoreWorld world;
    RegAsist f("JUXRegs");
    f.window.show();
    bool asked = false;
    f.window.SaveDialog1Execute = [&](int&) {
        asked = true;
        return QString();
    };
    QTest::keyClick(f.window.dtpHasta, Qt::Key_Return);
    QVERIFY(asked);
    QVERIFY(!f.window.Query1.Active());
    QVERIFY(QDir(world.env.path("work")).entryList(QDir::Files).isEmpty());
    f.window.reject();
}

void TestRegAsist::workbookEntryWritesAWorkbook() {
    StoreWorld world;
    appendTicketRows("JUXRegs", {{"A", 1, "Uno", encodeDate(2024, 3, 5), 1}});
    RegAsist f("JUXRegs");
    f.window.show();
    const QString path = world.env.path("libro.xlsx");
    f.window.SaveDialog1Execute = [&](int& filter) {
        filter = 2;
        return path;
    };
    f.window.TBExportarClick();
    QVERIFY(readFileBytes(path).startsWith("PK\x03\x04"));
    const QString sheet =
        QString::fromUtf8(toolOutput("unzip", {"-p", path, "xl/worksheets/sheet1.xml"}));
    QVERIFY(sheet.contains("<c r=\"B6\"><v>1</v></c>"));
    f.window.reject();
}

// "Resumen" previews the summary of the range; the workbook entry of its save
// dialog writes the summary, bold totals, and the range's tickets.
void TestRegAsist::summaryAndItsWorkbook() {
    StoreWorld world;
    setSpanishRegion();
    appendSummaryTickets();
    RegAsist f("JUXRegs");
    f.window.show();
    f.window.bResumen->click();
    QCOMPARE(int(m_previewed.size()), 1);
    const QString title = m_previewed[0].pages[0].bands[0].items[1].text;
    QCOMPARE(title, QString("Resumen por centro de costo del 01/03/2024 al 17/03/2024"));
    const QString path = world.env.path("resumen.xlsx");
    saveInOwnForm("xlsx", path);
    f.window.reject();

    const QString summary =
        QString::fromUtf8(toolOutput("unzip", {"-p", path, "xl/worksheets/sheet1.xml"}));
    auto value = [&](const QString& cell) {
        static const QRegularExpression v("<v>([^<]*)</v>|<t[^>]*>([^<]*)</t>");
        const QRegularExpressionMatch m = v.match(cellXml(summary, cell));
        return m.captured(1) + m.captured(2);
    };
    const QStringList rows[] = {{"0", "9", "(sin nombre)", "1", "5.5"},
                                {"0", "", "Total del centro de costo", "1", "5.5"},
                                {"12", "7", "Siete", "2", "0.3"},
                                {"12", "", "Total del centro de costo", "2", "0.3"},
                                {"", "", "Total del período", "3", "5.8"}};
    for (int row = 0; row < 5; ++row)
        for (int column = 0; column < 5; ++column)
            QCOMPARE(value(QChar('A' + column) + QString::number(row + 6)), rows[row][column]);
    QVERIFY(value("A11").isEmpty() && value("C11").isEmpty());
    // Totals in bold: their own style, whose font is bold.
    const QString styles = QString::fromUtf8(toolOutput("unzip", {"-p", path, "xl/styles.xml"}));
    QVERIFY(styles.contains("<b/>") && styles.contains("formatCode=\"0.00\""));
    QVERIFY(cellXml(summary, "E9") != cellXml(summary, "E8").replace("E8", "E9"));

    const QString tickets =
        QString::fromUtf8(toolOutput("unzip", {"-p", path, "xl/worksheets/sheet2.xml"}));
    QVERIFY(cellXml(tickets, "A8").contains(">C<"));
    QVERIFY(cellXml(tickets, "A9").isEmpty());
}

// Saved as separated values the summary is the workbook's table, not its
// pages: headings once, the CECO of a total in the CECO column.
void TestRegAsist::summarySeparatedValuesAreADataTable() {
    StoreWorld world;
    setSpanishRegion();
    appendSummaryTickets();
    RegAsist f("JUXRegs");
    f.window.show();
    f.window.bResumen->click();
    const QString path = world.env.path("resumen.csv");
    saveInOwnForm("csv", path);
    f.window.reject();
    QCOMPARE(readFileBytes(path), QByteArray("JUX S.A. - Control de Taxis\r\n"
                                             "RESUMEN POR CENTRO DE COSTO\r\n"
                                             "DESDE,01/03/2024\r\n"
                                             "HASTA,17/03/2024\r\n"
                                             "CECO,Legajo,Nombres,Tickets,Importe\r\n"
                                             "0,9,(sin nombre),1,\"5,50\"\r\n"
                                             "0,,Total del centro de costo,1,\"5,50\"\r\n"
                                             "12,7,Siete,2,\"0,30\"\r\n"
                                             "12,,Total del centro de costo,2,\"0,30\"\r\n"
                                             ",,Total del per\xEDodo,3,\"5,80\"\r\n"));
}

// Every page of the summary names it and its range, and its footer says when
// it was made and which page of how many it is; amounts carry the regional
// grouping.
void TestRegAsist::summaryPagesSayWhatAndWhen() {
    StoreWorld world;
    setSpanishRegion();
    QList<TicketRow> tickets;
    for (int person = 0; person < 90; ++person)
        tickets << TicketRow{"P",
                             100 + person,
                             QStringLiteral("Persona %1").arg(person),
                             encodeDate(2024, 3, 5),
                             617.25,
                             0,
                             person / 10};
    appendTicketRows("JUXRegs", tickets);
    RegAsist f("JUXRegs");
    f.window.show();
    f.window.bResumen->click();
    f.window.reject();
    QCOMPARE(int(m_previewed.size()), 1);
    const std::vector<ReportPage>& pages = m_previewed[0].pages;
    QVERIFY(pages.size() >= 3);
    QStringList amounts;
    for (size_t i = 0; i < pages.size(); ++i) {
        QStringList header, footer;
        for (const PlacedBand& band : pages[i].bands)
            for (const PlacedItem& item : band.items) {
                if (band.kind == BandKind::PageHeader)
                    header << item.text;
                if (band.kind == BandKind::PageFooter)
                    footer << item.text;
                if (band.kind == BandKind::Summary && !item.text.isEmpty())
                    amounts << item.text;
            }
        QCOMPARE(header, QStringList({"JUX S.A. - Control de Taxis",
                                      "Resumen por centro de costo del 01/03/2024 al 17/03/2024"}));
        QCOMPARE(footer, QStringList({"Emitido el 17/03/2024 10:30:00",
                                      QString("Página %1 de %2").arg(i + 1).arg(pages.size())}));
    }
    QCOMPARE(amounts, QStringList({"Total del período", "90", "55.552,50"}));
}

// The summary says why it shows nothing; the report and the export of the
// same range go on selecting no rows (desdeAfterHastaSelectsNothing).
void TestRegAsist::summaryRefusesAReversedRange() {
    StoreWorld world;
    setSpanishRegion();
    appendTicketRows("JUXRegs", {{"A", 1, "Uno", encodeDate(2025, 12, 21), 1}});
    QList<std::pair<QString, BoxIcon>> shown;
    setBoxPresenter(
        [&](const QString&, const QString& text, BoxIcon icon) { shown << std::pair(text, icon); });
    RegAsist f("JUXRegs");
    f.window.show();
    f.window.dtpDesde->setDate(QDate(2026, 12, 1));
    f.window.dtpHasta->setDate(QDate(2025, 12, 21));
    f.window.bResumen->click();
    QVERIFY(m_previewed.empty());
    QCOMPARE(shown.size(), 1);
    QCOMPARE(shown[0].first,
             QString("No se puede hacer el resumen: la fecha \"Hasta\" (21/12/2025) "
                     "es anterior a la fecha \"Desde\" (01/12/2026)."));
    QCOMPARE(shown[0].second, BoxIcon::Warning);
    QVERIFY(!f.window.Query1.Active());

    f.window.dtpDesde->setDate(QDate(2025, 12, 21));
    f.window.bResumen->click();
    QCOMPARE(int(m_previewed.size()), 1);
    QCOMPARE(shown.size(), 1);
    f.window.reject();
}

// The window opens all the same, with an empty grid, and keeps its dates.
void TestRegAsist::unopenableTableShowsTheError() {
    StoreWorld world;
    QStringList shown;
    setBoxPresenter([&](const QString&, const QString& text, BoxIcon) { shown << text; });
    RegAsist f("JUXRegs");
    f.window.Table1.TableName = QStringLiteral("tickettaxis_gone");
    f.window.dtpDesde->setDate(QDate(2020, 5, 6));
    f.window.show();
    QCOMPARE(shown.size(), 1);
    QVERIFY2(shown[0].contains("tickettaxis_gone"), qPrintable(shown[0]));
    QVERIFY(f.window.isVisible());
    QCOMPARE(f.window.DBGrid1->model()->rowCount(), 0);
    QCOMPARE(f.window.dtpDesde->date(), QDate(2020, 5, 6));
    f.window.reject();
}

void TestRegAsist::noServerTableSaysSo() {
    StoreWorld world;
    QStringList shown;
    setBoxPresenter(
        [&](const QString& caption, const QString& text, BoxIcon) { shown << caption << text; });
    RegAsist f(kNoServerAlias);
    QCOMPARE(f.window.ShowModal(), int(QDialog::Rejected));
    QCOMPARE(shown, QStringList({kApplicationTitle, kNoServerTableText}));
    QVERIFY(!f.window.isVisible());
}

QObject* newRegAsistTests() {
    return new TestRegAsist;
}

#include "tst_regasist.moc"
