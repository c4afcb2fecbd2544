// Group bands of the report engine and the summary by cost centre: bands in
// order with their counts and sums, the page break before a group header, an
// empty range, and the summary's totals against SQL on SQLite and PostgreSQL.
#include "ErrorOf.h"
#include "ReportFixture.h"
#include "platform/Regional.h"
#include "report/BillingSummary.h"
#include "report/PageBuilder.h"
#include "report/RowGroups.h"

#include <QCoreApplication>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>
#include <QTest>

namespace {

ReportElement text(ElementKind kind, const QString& column = {}, int decimals = 0) {
    return {kind, QRectF(0, 0, 10, 4), column, {}, TextAlign::Left, {}, decimals};
}

ReportBand band(BandKind kind, double height, std::vector<ReportElement> elements, int level = 0) {
    return {kind, height, std::move(elements), level};
}

// A page of 100 mm with no margins; rows of the columns G, P and N (whole
// hundredths); each group band shows its fields, count and sum.
ReportDefinition groupedDefinition(int levels, double detailHeight = 4) {
    ReportDefinition definition;
    definition.paper = QSizeF(100, 100);
    definition.bandWidth = 100;
    const QStringList fields{"G", "P"};
    for (int level = 0; level < levels; ++level) {
        definition.groups.push_back({{fields[level]}});
        definition.bands.push_back(
            band(BandKind::GroupHeader, 3, {text(ElementKind::Field, fields[level])}, level));
        definition.bands.push_back(band(BandKind::GroupFooter, 3,
                                        {text(ElementKind::Field, fields[level]),
                                         text(ElementKind::Count), text(ElementKind::Sum, "N", 2)},
                                        level));
    }
    definition.bands.push_back(
        band(BandKind::Detail, detailHeight, {text(ElementKind::Field, "N")}));
    definition.bands.push_back(
        band(BandKind::Summary, 5, {text(ElementKind::Count), text(ElementKind::Sum, "N", 2)}));
    return definition;
}

ReportRows rowsOfValues(const QList<QStringList>& values) {
    ReportRows rows;
    rows.fieldNames = QStringList{"G", "P", "N"};
    for (const QStringList& row : values)
        rows.rows.push_back(row);
    return rows;
}

// Each placed band as "kind level: texts", kinds H, D, F and S.
QStringList bandTrace(const ReportPages& pages) {
    QStringList trace;
    for (const ReportPage& page : pages.pages)
        for (const PlacedBand& placed : page.bands) {
            static const QMap<BandKind, QString> kNames{{BandKind::GroupHeader, "H"},
                                                        {BandKind::GroupFooter, "F"},
                                                        {BandKind::Detail, "D"},
                                                        {BandKind::Summary, "S"}};
            QStringList texts;
            for (const PlacedItem& item : placed.items)
                texts << item.text;
            trace << kNames.value(placed.kind) + ": " + texts.join(' ');
        }
    return trace;
}

// The pages (1-based) that hold a band of the kind whose first text is given.
QList<int> pagesOfBand(const ReportPages& pages, BandKind kind, const QString& firstText) {
    QList<int> found;
    for (size_t page = 0; page < pages.pages.size(); ++page)
        for (const PlacedBand& placed : pages.pages[page].bands)
            if (placed.kind == kind && placed.items.front().text == firstText)
                found << int(page) + 1;
    return found;
}

// Per CECO (its text), the tickets and the amount in cents.
using CecoTotals = QMap<QString, QPair<qint64, qint64>>;

// The CECO footers of the built summary, read back from their texts.
CecoTotals reportedCecoTotals(const ReportPages& pages, QPair<qint64, qint64>& all) {
    CecoTotals totals;
    // Whatever the decimal separator of the region the test runs in.
    auto cents = [](QString text) { return text.remove(QRegularExpression("[.,]")).toLongLong(); };
    for (const ReportPage& page : pages.pages)
        for (const PlacedBand& placed : page.bands) {
            const std::vector<PlacedItem>& items = placed.items;
            if (placed.kind == BandKind::GroupFooter && items.size() == 5)
                totals[items[2].text] = {items[3].text.toLongLong(), cents(items[4].text)};
            if (placed.kind == BandKind::Summary)
                all = {items[3].text.toLongLong(), cents(items[4].text)};
        }
    return totals;
}

// The same from the server, in the plainest SQL: SUM over the amounts.
CecoTotals sqlCecoTotals(const QString& day, QPair<qint64, qint64>& all) {
    TQuery query;
    query.DatabaseName = "JUXRegs";
    query.SQL = QStringList{"SELECT CECO, COUNT(*) AS N, SUM(IMPORTE) AS S FROM dbo.tickettaxis",
                            "WHERE FECHA BETWEEN '" + day + " 00:00:00' AND '" + day + " 23:59:59'",
                            "GROUP BY CECO"};
    query.Open();
    CecoTotals totals;
    all = {0, 0};
    for (query.First(); !query.Eof(); query.Next()) {
        const QPair<qint64, qint64> ceco{query.Fields(1).Value().toLongLong(),
                                         qRound64(query.Fields(2).Value().toDouble() * 100)};
        const QVariant key = query.Fields(0).Value();
        totals[key.isNull() ? "(sin CECO)" : key.toString()] = ceco;
        all.first += ceco.first;
        all.second += ceco.second;
    }
    query.Close();
    return totals;
}

} // namespace

class TestGroups : public QObject {
    Q_OBJECT
private slots:
    void init() { setSpanishRegion(); }
    void bandsOfOneAndTwoLevels_data();
    void bandsOfOneAndTwoLevels();
    void headerNeverAloneAtPageFoot_data();
    void headerNeverAloneAtPageFoot();
    void bandHigherThanThePageEnds();
    void emptyRangeHasZeroTotals();
    void sumsCarryTheRegionalGrouping_data();
    void sumsCarryTheRegionalGrouping();
    void summedTextThatIsNoWholeNumberIsRefused();
    void summaryAgreesWithSql_data();
    void summaryAgreesWithSql();
};

void TestGroups::bandsOfOneAndTwoLevels_data() {
    QTest::addColumn<int>("levels");
    QTest::addColumn<QStringList>("trace");
    QTest::newRow("one") << 1 << QStringList{"H: a", "D: 150", "D: -25",      "F: a 2 1,25",
                                             "H: b", "D: 7",   "F: b 1 0,07", "S: 3 1,32"};
    QTest::newRow("two") << 2
                         << QStringList{"H: a",        "H: x",     "D: 150",       "F: x 1 1,50",
                                        "H: y",        "D: -25",   "F: y 1 -0,25", "F: a 2 1,25",
                                        "H: b",        "H: x",     "D: 7",         "F: x 1 0,07",
                                        "F: b 1 0,07", "S: 3 1,32"};
}

// An inner group starts again where an outer one does, even with the same value.
void TestGroups::bandsOfOneAndTwoLevels() {
    QFETCH(int, levels);
    QFETCH(QStringList, trace);
    const ReportRows rows = rowsOfValues({{"a", "x", "150"}, {"a", "y", "-25"}, {"b", "x", "7"}});
    QCOMPARE(bandTrace(buildPages(groupedDefinition(levels), rows)), trace);
}

void TestGroups::headerNeverAloneAtPageFoot_data() {
    QTest::addColumn<int>("firstGroupRows");
    QTest::addColumn<QList<int>>("firstHeaderPages");
    QTest::addColumn<QList<int>>("secondHeaderPages");
    QTest::addColumn<int>("secondFirstRowPage");
    // Header 3 mm, detail 10 mm, footer 3 mm, page 100 mm: after 8 rows the
    // next header and its first row fit (3 + 80 + 3 + 3 + 10 = 99); its
    // footer goes on to the next page, under the header again.
    QTest::newRow("header and row fit") << 8 << QList<int>{1} << QList<int>{1, 2} << 1;
    // After 9 rows the header alone would fit (96 mm), its first row not.
    QTest::newRow("header alone would fit") << 9 << QList<int>{1} << QList<int>{2} << 2;
    // A group that goes on to the next page shows its header there again.
    QTest::newRow("group over two pages") << 12 << QList<int>{1, 2} << QList<int>{2} << 2;
}

void TestGroups::headerNeverAloneAtPageFoot() {
    QFETCH(int, firstGroupRows);
    QFETCH(QList<int>, firstHeaderPages);
    QFETCH(QList<int>, secondHeaderPages);
    QFETCH(int, secondFirstRowPage);
    QList<QStringList> values;
    for (int i = 0; i < firstGroupRows; ++i)
        values << QStringList{"a", "", QString::number(i)};
    values << QStringList{"b", "", "99"};
    const ReportPages pages = buildPages(groupedDefinition(1, 10), rowsOfValues(values));
    QCOMPARE(pagesOfBand(pages, BandKind::GroupHeader, "a"), firstHeaderPages);
    QCOMPARE(pagesOfBand(pages, BandKind::GroupHeader, "b"), secondHeaderPages);
    QCOMPARE(pagesOfBand(pages, BandKind::Detail, "99"), QList<int>{secondFirstRowPage});
}

// Rows higher than a page, under a repeated header, still take a page each
// instead of starting pages for ever.
void TestGroups::bandHigherThanThePageEnds() {
    const ReportPages pages =
        buildPages(groupedDefinition(1, 150), rowsOfValues({{"a", "", "1"}, {"a", "", "2"}}));
    QCOMPARE(pagesOfBand(pages, BandKind::Detail, "1"), QList<int>{2});
    QCOMPARE(pagesOfBand(pages, BandKind::Detail, "2"), QList<int>{3});
    QCOMPARE(int(pages.pages.size()), 4);
}

void TestGroups::emptyRangeHasZeroTotals() {
    const ReportPages pages = buildPages(groupedDefinition(2), rowsOfValues({}));
    QCOMPARE(int(pages.pages.size()), 1);
    QCOMPARE(bandTrace(pages), QStringList{"S: 0 0,00"});
}

void TestGroups::sumsCarryTheRegionalGrouping_data() {
    QTest::addColumn<QString>("decimal");
    QTest::addColumn<QString>("thousands"); // empty: not in the key
    QTest::addColumn<QString>("cents");
    QTest::addColumn<QString>("sum");
    QTest::newRow("millions") << ","
                              << "."
                              << "123456789"
                              << "1.234.567,89";
    QTest::newRow("below a thousand") << ","
                                      << "."
                                      << "99999"
                                      << "999,99";
    QTest::newRow("a thousand, negative") << ","
                                          << "."
                                          << "-100000"
                                          << "-1.000,00";
    QTest::newRow("decimal point") << "."
                                   << ","
                                   << "123456"
                                   << "1,234.56";
    QTest::newRow("blank") << ","
                           << " "
                           << "123456"
                           << "1 234,56";
    // The bare C locale groups with commas: not beside a decimal comma.
    QTest::newRow("decimal comma, no thousands") << ","
                                                 << ""
                                                 << "123456"
                                                 << "1.234,56";
}

// The printed sums (the summary's amounts); counts and the files stay plain.
void TestGroups::sumsCarryTheRegionalGrouping() {
    QFETCH(QString, decimal);
    QFETCH(QString, thousands);
    QFETCH(QString, cents);
    QFETCH(QString, sum);
    StoreEnvironment env; // a key of its own, so that an absent value is absent
    QMap<QString, QString> region{{"sDecimal", decimal}};
    if (!thousands.isEmpty())
        region.insert("sThousand", thousands);
    setInternational(region);
    const ReportPages pages = buildPages(groupedDefinition(1), rowsOfValues({{"a", "", cents}}));
    QCOMPARE(bandTrace(pages).last(), "S: 1 " + sum);
    reloadFormatSettings();
}

// A regional decimal ("12,5") in a summed column would be summed wrongly or
// not at all: the build stops and says which value.
void TestGroups::summedTextThatIsNoWholeNumberIsRefused() {
    const ReportRows rows = rowsOfValues({{"a", "", "12,5"}});
    QCOMPARE(errorOf([&] { buildPages(groupedDefinition(1), rows); }),
             QString("Field 'N' holds no whole number: '12,5'"));
}

void TestGroups::summaryAgreesWithSql_data() {
    QTest::addColumn<bool>("postgres");
    QTest::addColumn<int>("bulkRows");
    QTest::newRow("sqlite") << false << 100000;
    QTest::newRow("postgres") << true << 20000;
}

// Random amounts in tenths over 400 CECOs, with the rows a summary must not
// drop: CECO 0, negative and null, an unknown person, a null amount; and tickets a
// day outside the range.
void TestGroups::summaryAgreesWithSql() {
    QFETCH(bool, postgres);
    QFETCH(int, bulkRows);
    std::unique_ptr<StoreWorld> sqlite;
    std::unique_ptr<PostgresWorld> server;
    if (postgres) {
        server = makePostgresWorld();
        if (!server)
            QSKIP("KIVO_TEST_PG is not set");
    } else {
        sqlite = std::make_unique<StoreWorld>();
    }
    const QString tag = QStringLiteral("sum%1-").arg(QCoreApplication::applicationPid());
    const TDateTime day = encodeDate(2047, 5, 10);
    QList<TicketRow> tricky{{tag, 7, "", day, 12.3, 0, 0, 0, 1},
                            {tag, 7, "Siete", day, 0.1, 0, -3, 0, 2},
                            {tag, 8, "Ocho", day + 0.5, 0.2, 0, -3, 0, 3},
                            {tag, 9, "Nueve", day - 1, 99.9, 0, 5, 0, 4},
                            {tag, 9, "Nueve", day + 1, 99.9, 0, 5, 0, 5}};
    appendTicketRows("JUXRegs", tricky);
    QSqlDatabase db = (postgres ? server->session : sqlite->session).connectionFor("JUXRegs");
    QSqlQuery insert(db);
    db.transaction();
    insert.prepare(QStringLiteral("INSERT INTO %1 (ORIGEN, LEGAJO, NOMBRES, FECHA, IMPORTE, CECO) "
                                  "VALUES (?, ?, ?, ?, ?, ?)")
                       .arg(postgres ? "dbo.tickettaxis" : "tickettaxis"));
    QRandomGenerator random(17);
    for (int i = 0; i < bulkRows; ++i) {
        const int legajo = random.bounded(2000);
        insert.addBindValue(tag);
        insert.addBindValue(legajo);
        insert.addBindValue(QStringLiteral("Persona %1").arg(legajo));
        insert.addBindValue(postgres ? QVariant(QDateTime(QDate(2047, 5, 10), QTime(12, 0)))
                                     : QVariant("2047-05-10 12:00:00.000"));
        // The first two without a CECO, the first without an amount.
        insert.addBindValue(i == 0 ? QVariant(QMetaType::fromType<double>())
                                   : QVariant(random.bounded(10000) / 10.0));
        insert.addBindValue(i < 2 ? QVariant(QMetaType::fromType<int>())
                                  : QVariant(1 + random.bounded(400)));
        QVERIFY2(insert.exec(), qPrintable(insert.lastError().text()));
    }
    db.commit();

    TQuery query;
    query.DatabaseName = "JUXRegs";
    query.SQL = billingSummarySql(QDate(2047, 5, 10), QDate(2047, 5, 10));
    query.Open();
    const ReportRows rows = billingSummaryRows(query);
    query.Close();
    const ReportPages pages =
        buildPages(billingSummaryDefinition(QDate(2047, 5, 10), QDate(2047, 5, 10)), rows);
    QPair<qint64, qint64> sqlAll;
    const CecoTotals expected = sqlCecoTotals("20470510", sqlAll);
    if (server)
        server->removeTagged(tag);

    QPair<qint64, qint64> reportedAll;
    const CecoTotals reported = reportedCecoTotals(pages, reportedAll);
    QVERIFY(reported.contains("0") && reported.contains("-3") && reported.contains("(sin CECO)"));
    QCOMPARE(reported, expected);
    QCOMPARE(reportedAll, sqlAll);
    QCOMPARE(reportedAll.first, qint64(bulkRows + 3));
}

QObject* newGroupTests() {
    return new TestGroups;
}

#include "tst_groups.moc"
