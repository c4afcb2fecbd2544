// The station core writes its operations-log and health rows off the event
// loop: a storing run starts after the rows asked for before it, and once the
// station stops every row asked for is in its table, in the order asked.
#include "StationEnvironment.h"
#include "collect/StationCore.h"
#include "store/DataSet.h"
#include "store/OffLoop.h"

#include <QSqlQuery>
#include <QTest>

namespace {
constexpr int kRows = 200; // enough that the writer is still busy when asked

// The log's Archivo texts in the table's order.
QStringList logTexts(const QString& alias) {
    TQuery q;
    q.DatabaseName = alias;
    q.SQL = QStringList{QStringLiteral("select * from log.db")};
    q.Open();
    QStringList texts;
    for (q.First(); !q.Eof(); q.Next())
        texts << q.FieldByName(QStringLiteral("Archivo")).AsString();
    return texts;
}
} // namespace

class TestLogWriter : public QObject {
    Q_OBJECT

private slots:
    void rowsKeepTheirOrderAndAllArriveByTheStop() {
        QTemporaryDir dir;
        useStationEnvironment(dir);
        QStringList asked;
        QStringList seenByTheRun;
        QString alias;
        bool told = false;
        {
            StationCore core;
            core.declareAliases();
            core.prepareDatabases();
            alias = core.localAlias();
            QObject::connect(&core, &StationControl::errorShown, [&] { told = true; });
            const auto ask = [&](const QString& text) {
                asked << text;
                core.logRow(text);
            };
            for (int i = 0; i < kRows; ++i)
                ask(QStringLiteral("antes %1").arg(i));
            runOffTheEventLoop([&] { seenByTheRun = logTexts(alias); });
            for (int i = 0; i < kRows; ++i)
                ask(QStringLiteral("después %1").arg(i));
            core.health().record(QStringLiteral("127.0.3.9"), QStringLiteral("Planta"),
                                 QStringLiteral("L9"), PointOutcome{true, true, {}, 7});
        }                 // the stop
        TSession session; // the core's went with it
        QCOMPARE(seenByTheRun, asked.mid(0, kRows));
        QCOMPARE(logTexts(alias), asked);
        QVERIFY(!told);

        QSqlQuery health(session.connectionFor(alias));
        QVERIFY(health.exec(QStringLiteral("SELECT ip, records_last FROM kivo_health")));
        QVERIFY(health.next());
        QCOMPARE(health.value(0).toString(), QStringLiteral("127.0.3.9"));
        QCOMPARE(health.value(1).toInt(), 7);
    }
};

QTEST_GUILESS_MAIN(TestLogWriter)
#include "tst_logwriter.moc"
