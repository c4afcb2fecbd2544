// Old rows pruned once a day: the operations log's, and the journals of
// finished runs but for those a run or a point may still need.
#include "CollectWorld.h"
#include "collect/Retention.h"
#include "store/SchemaSteps.h"

#include <QSqlQuery>
#include <QTest>

namespace {

const QDate kToday(2026, 12, 9);

void addRun(const QString& alias, const QString& table, const QString& run, const QDate& day) {
    rowsOf(alias, QStringLiteral("INSERT INTO %1 (run_id, store, loc, record_count, stored_at) "
                                 "VALUES ('%2', 'x', 'L', 1, '%3')")
                      .arg(table, run, QDateTime(day, QTime(12, 0)).toString(Qt::ISODateWithMs)));
}

QStringList runsOf(const QString& alias, const QString& table) {
    QStringList runs;
    for (const QVariantList& row :
         rowsOf(alias, QStringLiteral("SELECT run_id FROM %1 ORDER BY run_id").arg(table)))
        runs << row.at(0).toString();
    return runs;
}

} // namespace

class TestRetention : public QObject {
    Q_OBJECT

private slots:
    void pruneKeepsWhatIsStillNeeded_data();
    void pruneKeepsWhatIsStillNeeded();
};

void TestRetention::pruneKeepsWhatIsStillNeeded_data() {
    QTest::addColumn<int>("days");
    QTest::addColumn<QStringList>("localRuns");
    QTest::addColumn<QStringList>("serverRuns");
    QTest::addColumn<int>("logRows");
    QTest::newRow("0 keeps everything") << 0 << QStringList{"kept", "new", "old"}
                                        << QStringList{"leased", "new", "old", "pending"} << 2;
    QTest::newRow("30 days") << 30 << QStringList{"kept", "new"}
                             << QStringList{"leased", "new", "pending"} << 1;
    QTest::newRow("a year") << 365 << QStringList{"kept", "new", "old"}
                            << QStringList{"leased", "new", "old", "pending"} << 2;
}

// Rows 100 days old go past a 30-day retention, unless an unfinished run or
// an unconfirmed-delete entry (here, or any station's on the server, or a
// lease's) still refers to their run.
void TestRetention::pruneKeepsWhatIsStillNeeded() {
    QFETCH(int, days);
    QFETCH(QStringList, localRuns);
    QFETCH(QStringList, serverRuns);
    QFETCH(int, logRows);
    CollectWorld w;
    SchemaSteps::applyTo(w.localAlias, AliasKind::Local);
    SchemaSteps::applyTo(w.serverAlias, AliasKind::Server);
    const QDate old = kToday.addDays(-100);
    for (const QString& run : {QStringLiteral("kept"), QStringLiteral("old")})
        addRun(w.localAlias, QStringLiteral("kivo_runs"), run, old);
    addRun(w.localAlias, QStringLiteral("kivo_runs"), QStringLiteral("new"), kToday);
    for (const QString& run :
         {QStringLiteral("pending"), QStringLiteral("leased"), QStringLiteral("old")})
        addRun(w.serverAlias, QStringLiteral("kivo_runs"), run, old);
    addRun(w.serverAlias, QStringLiteral("kivo_runs"), QStringLiteral("new"), kToday);
    rowsOf(w.serverAlias,
           QStringLiteral("INSERT INTO kivo_pending (address, run_id, record_count, sha256, "
                          "station) VALUES ('127.0.0.9', 'pending', 1, 'x', 'otra')"));
    rowsOf(w.serverAlias, QStringLiteral("INSERT INTO kivo_leases (point, station, run_id) VALUES "
                                         "('127.0.0.8', 'otra', 'leased')"));
    TTable log;
    log.DatabaseName = w.localAlias;
    log.TableName = QStringLiteral("log.DB");
    log.Open();
    for (const QDate& day : {old, kToday}) {
        log.Append();
        log.FieldByName(QStringLiteral("Fecha"))
            .setAsDateTime(encodeDate(day.year(), day.month(), day.day()));
        log.FieldByName(QStringLiteral("Archivo")).setAsString(QStringLiteral("fila"));
        log.Post();
    }
    log.Close();

    const PruneResult pruned =
        pruneOlderThan(w.localAlias, w.serverAlias, days, kToday, {QStringLiteral("kept")});
    QCOMPARE(runsOf(w.localAlias, QStringLiteral("kivo_runs")), localRuns);
    QCOMPARE(runsOf(w.serverAlias, QStringLiteral("kivo_runs")), serverRuns);
    QCOMPARE(rowsOf(w.localAlias, QStringLiteral("SELECT COUNT(*) FROM log")).at(0).at(0).toInt(),
             logRows);
    QCOMPARE(pruned.logRows, 2 - logRows);
}

QTEST_GUILESS_MAIN(TestRetention)
#include "tst_retention.moc"
