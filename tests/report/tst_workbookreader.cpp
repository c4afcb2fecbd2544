// The workbooks as a real reader (openpyxl, Debian's python3-openpyxl) sees
// them, written while the C library formats numbers with a decimal comma, as
// it does on a Spanish desktop.
#include "ReportFixture.h"
#include "report/BillingSummary.h"
#include "report/TicketExport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <clocale>
#include <cstdio>

namespace {

const QDate kFrom(2024, 3, 1), kTo(2024, 3, 17);

QString sourceDir() {
    const QString fromEnv = qEnvironmentVariable("KIVO_SOURCE_DIR");
    return fromEnv.isEmpty() ? QStringLiteral(".") : fromEnv;
}

// The cells of each sheet by sheet name, read by the real reader; fails the
// test when it refuses the file.
QMap<QString, QJsonArray> readWorkbook(const QString& path) {
    const QByteArray json =
        toolOutput(QStringLiteral("/usr/bin/python3"),
                   {sourceDir() + QStringLiteral("/tests/report/read_workbook.py"), path});
    QMap<QString, QJsonArray> sheets;
    for (const QJsonValue& sheet : QJsonDocument::fromJson(json).array())
        sheets.insert(sheet[0].toString(), sheet[1].toArray());
    return sheets;
}

// A cell as "type value [format]" ("float 12.5 [0.00]"), text alone, "" when
// empty, with " bold" after a bold cell.
QString shown(const QJsonValue& cell) {
    if (cell.isNull())
        return {};
    const QString type = cell[QLatin1String("t")].toString();
    const QJsonValue value = cell[QLatin1String("v")];
    QString text = type == QLatin1String("str") ? value.toString()
                   : type == QLatin1String("float")
                       ? QStringLiteral("float ") +
                             QString::number(value.toDouble(), 'g', QLocale::FloatingPointShortest)
                   : type == QLatin1String("int")
                       ? QStringLiteral("int ") + QString::number(value.toInteger())
                       : type + QLatin1Char(' ') + value.toString();
    const QString format = cell[QLatin1String("f")].toString();
    if (type != QLatin1String("str") && format != QLatin1String("General"))
        text += QStringLiteral(" [%1]").arg(format);
    return cell[QLatin1String("b")].toBool() ? text + QStringLiteral(" bold") : text;
}

QStringList shownRow(const QJsonArray& sheet, int row) {
    QStringList cells;
    for (const QJsonValue& cell : sheet.at(row - 1).toArray())
        cells << shown(cell);
    while (!cells.isEmpty() && cells.last().isEmpty())
        cells.removeLast();
    return cells;
}

} // namespace

class TestWorkbookReader : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void init() { m_world = std::make_unique<StoreWorld>(); }
    void cleanup() { m_world.reset(); }

    void workbooksOpenUnderCommaLocale();
    void datesInTheRegionalFormats_data();
    void datesInTheRegionalFormats();

private:
    TQuery rangeQuery(const QStringList& sql) {
        TQuery query;
        query.DatabaseName = QStringLiteral("JUXRegs");
        query.SQL = sql;
        query.Open();
        return query;
    }

    QTemporaryDir m_locales;
    QByteArray m_previousLocale;
    std::unique_ptr<StoreWorld> m_world;
};

// es_AR.UTF-8 when the machine has it, else compiled from the locales
// package's sources into a directory of the test's own.
void TestWorkbookReader::initTestCase() {
    m_previousLocale = std::setlocale(LC_ALL, nullptr);
    if (!std::setlocale(LC_ALL, "es_AR.UTF-8")) {
        QProcess localedef;
        localedef.start(QStringLiteral("localedef"),
                        {QStringLiteral("-i"), QStringLiteral("es_AR"), QStringLiteral("-f"),
                         QStringLiteral("UTF-8"),
                         m_locales.filePath(QStringLiteral("es_AR.UTF-8"))});
        QVERIFY2(localedef.waitForFinished(60000), "localedef did not run");
        qputenv("LOCPATH", QFile::encodeName(m_locales.path()));
        QVERIFY2(std::setlocale(LC_ALL, "es_AR.UTF-8"),
                 qPrintable(QString::fromLocal8Bit(localedef.readAllStandardError())));
    }
    char text[8];
    std::snprintf(text, sizeof text, "%.1f", 0.5);
    QCOMPARE(QByteArray(text), QByteArray("0,5"));
}

void TestWorkbookReader::cleanupTestCase() {
    std::setlocale(LC_ALL, m_previousLocale.constData());
    qunsetenv("LOCPATH");
}

// Numbers, dates and page margins are written with a point whatever the
// locale; amounts come rounded to the cent with two decimals, date-times as
// dates to the reader.
void TestWorkbookReader::workbooksOpenUnderCommaLocale() {
    setSpanishRegion(QStringLiteral(","));
    appendTicketRows(
        QStringLiteral("JUXRegs"),
        {{"A", 7, QStringLiteral("Siete"), encodeDate(2024, 3, 5), 0.1, 1, 12, 2, 3},
         {"B", 7, QStringLiteral("Siete"), encodeDateTime({2024, 3, 17, 23, 59, 59, 0}),
          99.9000000000001, 1, 12, 2, 4},
         {"C", 9, QString(), encodeDateTime({2024, 3, 6, 18, 30, 0, 0}), 1234.5, 1, 0, 2, 5}});

    const QString exportPath = m_world->env.path(QStringLiteral("export.xlsx"));
    TQuery tickets = rangeQuery(ticketRangeSql(kFrom, kTo));
    writeTicketWorkbook(exportPath, tickets, kFrom, kTo);
    const QJsonArray exported = readWorkbook(exportPath).value(QStringLiteral("Reporte"));
    QCOMPARE(exported.size(), 8);
    QCOMPARE(shownRow(exported, 3),
             QStringList({"DESDE", "datetime 2024-03-01T00:00:00 [dd/mm/yyyy]"}));
    QCOMPARE(shownRow(exported, 6),
             QStringList({"A", "int 7", "Siete", "datetime 2024-03-05T00:00:00 [dd/mm/yyyy]",
                          "float 0.1 [0.00]", "int 1", "int 12", "int 2", "int 3"}));
    QCOMPARE(shownRow(exported, 7),
             QStringList({"C", "int 9", "", "datetime 2024-03-06T18:30:00 [dd/mm/yyyy hh:mm:ss]",
                          "float 1234.5 [0.00]", "int 1", "int 0", "int 2", "int 5"}));
    QCOMPARE(shownRow(exported, 8).at(4), QString("float 99.9 [0.00]"));

    const QString summaryPath = m_world->env.path(QStringLiteral("resumen.xlsx"));
    TQuery summary = rangeQuery(billingSummarySql(kFrom, kTo));
    const ReportRows rows = billingSummaryRows(summary);
    TQuery summaryTickets = rangeQuery(ticketRangeSql(kFrom, kTo));
    writeBillingWorkbook(summaryPath, rows, summaryTickets, kFrom, kTo);
    const QMap<QString, QJsonArray> book = readWorkbook(summaryPath);
    QCOMPARE(book.keys(), QStringList({"Resumen", "Tickets"}));
    const QJsonArray resumen = book.value(QStringLiteral("Resumen"));
    QCOMPARE(shownRow(resumen, 4),
             QStringList({"HASTA", "datetime 2024-03-17T00:00:00 [dd/mm/yyyy]"}));
    QCOMPARE(shownRow(resumen, 6),
             QStringList({"int 0", "int 9", "(sin nombre)", "int 1", "float 1234.5 [0.00]"}));
    QCOMPARE(shownRow(resumen, 8),
             QStringList({"int 12", "int 7", "Siete", "int 2", "int 100 [0.00]"}));
    QCOMPARE(shownRow(resumen, 10), QStringList({"", "", "Total del período bold", "int 3 bold",
                                                 "float 1334.5 [0.00] bold"}));
    QCOMPARE(shownRow(book.value(QStringLiteral("Tickets")), 8).at(4),
             QString("float 99.9 [0.00]"));
}

void TestWorkbookReader::datesInTheRegionalFormats_data() {
    QTest::addColumn<QString>("shortDate");
    QTest::addColumn<QString>("longTime");
    QTest::addColumn<QString>("dateSeparator");
    QTest::addColumn<QString>("date");
    QTest::addColumn<QString>("dateTime");
    QTest::newRow("Argentina") << "d/M/yyyy"
                               << "H:mm:ss"
                               << "/"
                               << "d/m/yyyy"
                               << "d/m/yyyy h:mm:ss";
    QTest::newRow("dots, 12-hour clock") << "dd/MM/yy"
                                         << "hh:mm:ss tt"
                                         << "."
                                         << "dd\\.mm\\.yy"
                                         << "dd\\.mm\\.yy hh:mm:ss AM/PM";
    QTest::newRow("quoted text") << "d 'de' MMMM 'de' yyyy"
                                 << "HH:mm:ss"
                                 << "/"
                                 << "d \"de\" mmmm \"de\" yyyy"
                                 << "d \"de\" mmmm \"de\" yyyy hh:mm:ss";
}

// The date cells of the workbooks show the regional short date and long
// time, and stay dates to the reader.
void TestWorkbookReader::datesInTheRegionalFormats() {
    QFETCH(QString, shortDate);
    QFETCH(QString, longTime);
    QFETCH(QString, dateSeparator);
    QFETCH(QString, date);
    QFETCH(QString, dateTime);
    setInternational(
        {{"sShortDate", shortDate}, {"sLongTime", longTime}, {"sDate", dateSeparator}});
    appendTicketRows(QStringLiteral("JUXRegs"),
                     {{"A", 7, QStringLiteral("Siete"), encodeDateTime({2024, 3, 5, 18, 30, 15, 0}),
                       0.1, 1, 12, 2, 3}});
    const QString path = m_world->env.path(QStringLiteral("export.xlsx"));
    TQuery tickets = rangeQuery(ticketRangeSql(kFrom, kTo));
    writeTicketWorkbook(path, tickets, kFrom, kTo);
    const QJsonArray sheet = readWorkbook(path).value(QStringLiteral("Reporte"));
    QCOMPARE(shownRow(sheet, 3).value(1), "datetime 2024-03-01T00:00:00 [" + date + "]");
    QCOMPARE(shownRow(sheet, 6).value(3), "datetime 2024-03-05T18:30:15 [" + dateTime + "]");
}

QObject* newWorkbookReaderTests() {
    return new TestWorkbookReader;
}

#include "tst_workbookreader.moc"
