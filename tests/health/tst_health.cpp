// The health of the points as the core keeps it: the table, its alerts once
// per change of state, back-off of dead points and the one retry.
#include "collect/PointHealth.h"
#include "cycles/CycleWorld.h"
#include "store/SchemaSteps.h"
#include "store/Session.h"

#include <QSqlQuery>
#include <QTest>

namespace {

const QString kAlias = QStringLiteral("KIVO_1");

// The fake work with an outcome: the addresses of transientIps fail with a
// time-out instead of an error.
class OutcomeWork : public FakePointWork {
public:
    using FakePointWork::FakePointWork;
    void Descargar(const QString& IP, const QString& Desc, const QString& Loc,
                   CycleOutput& output) override {
        m_last = IP;
        if (transientIps.contains(IP)) {
            calls.append({QStringLiteral("Descargar"), IP});
            return;
        }
        FakePointWork::Descargar(IP, Desc, Loc, output);
    }
    PointOutcome outcome() const override {
        if (transientIps.contains(m_last))
            return {true, false, QStringLiteral("tiempo agotado"), 0, true};
        if (elsewhereIps.contains(m_last)) {
            PointOutcome elsewhere{true, false, QStringLiteral("lo descarga otra estación (pc2)")};
            elsewhere.elsewhere = true;
            return elsewhere;
        }
        return {true, true, {}, 1};
    }
    QStringList transientIps;
    QStringList elsewhereIps;

private:
    QString m_last;
};

// A world whose cycles record into a health keeper.
struct HealthWorld {
    HealthWorld() {
        points.DatabaseName = kAlias;
        points.TableName = QStringLiteral("confRegIP.db");
        keeper.load();
        keeper.onAlert = [this](const HealthAlert& a) { alerts << a; };
        cycles = std::make_unique<CollectionCycles>(timers.timers(), points, world.controls, work,
                                                    world.report);
        connectCycleTimers(*cycles, timers.timers(), &context);
        cycles->setHealth(&keeper);
    }
    // One constant cycle, run to its end.
    void constantCycle() {
        timers.constantTimer.stop();
        cycles->constantTick();
        QTRY_VERIFY_WITH_TIMEOUT(!cycles->running(), 20000);
    }
    int tries(const QString& ip) const { return work.ips(QStringLiteral("Descargar")).count(ip); }
    HealthRow row(const QString& ip) const {
        for (const HealthRow& r : keeper.rows())
            if (r.ip == ip)
                return r;
        return {};
    }

    CycleWorld world;
    OutcomeWork work{world.report};
    // Timers and points of its own: the world's cycles stay idle.
    OwnedCycleTimers timers{60, 10};
    TTable points;
    HealthKeeper keeper{kAlias, world.report};
    QList<HealthAlert> alerts;
    QObject context;
    std::unique_ptr<CollectionCycles> cycles;
};

PointOutcome failure(const QString& why = QStringLiteral("sin respuesta")) {
    return {true, false, why};
}
PointOutcome success(int records) {
    return {true, true, {}, records};
}

} // namespace

class TestHealth : public QObject {
    Q_OBJECT

private slots:
    void oneAlertPerChangeOfState();
    void hoursWithoutSuccessRaiseTheAlert();
    void failingSinceIsTheRunsFirstFailure();
    void healthSurvivesARestartAndCountsRecordsPerDay();
    void handEditedNonsenseIsReportedAndStartsAfresh();
    void cyclesRecordEachVisitedPoint();
    void backOffTriesADeadPointEvery2nd4thCycle();
    void manualCycleAndAnHourTryABackedOffPoint();
    void transientFailureIsTriedOnceMoreAtTheEnd();
    void keptRecordsAndAnotherStationsVisit();
    void tableOfAnOlderStationGetsTheNewColumns();
};

void TestHealth::oneAlertPerChangeOfState() {
    HealthWorld w;
    for (int i = 0; i < 6; ++i)
        w.keeper.record(QStringLiteral("10.0.0.1"), QStringLiteral("P1"), QStringLiteral("7"),
                        failure());
    QCOMPARE(w.alerts.size(), 1);
    QVERIFY(w.alerts[0].down);
    QVERIFY(w.alerts[0].reason.startsWith(QStringLiteral("3 fallo(s) seguidos")));
    w.keeper.record(QStringLiteral("10.0.0.1"), QStringLiteral("P1"), QStringLiteral("7"),
                    success(4));
    w.keeper.record(QStringLiteral("10.0.0.1"), QStringLiteral("P1"), QStringLiteral("7"),
                    success(2));
    QCOMPARE(w.alerts.size(), 2);
    QVERIFY(!w.alerts[1].down);
    QCOMPARE(w.world.report.log.filter(QStringLiteral("ALERTA")).size(), 1);
    QCOMPARE(w.world.report.log.filter(QStringLiteral("responde de nuevo")).size(), 1);
    QCOMPARE(w.row(QStringLiteral("10.0.0.1")).failuresInRow, 0);
}

void TestHealth::hoursWithoutSuccessRaiseTheAlert() {
    HealthWorld w;
    w.keeper.setPolicy(HealthPolicy{3, 24});
    w.keeper.record(QStringLiteral("10.0.0.2"), {}, {}, success(1));
    w.world.now = w.world.now.addSecs(23 * 3600);
    w.keeper.record(QStringLiteral("10.0.0.2"), {}, {}, failure());
    QCOMPARE(w.alerts.size(), 0);
    w.world.now = w.world.now.addSecs(3600);
    w.keeper.record(QStringLiteral("10.0.0.2"), {}, {}, failure());
    QCOMPARE(w.alerts.size(), 1);
    QVERIFY(w.alerts[0].reason.startsWith(QStringLiteral("24 h sin éxito")));
}

// Shown as "Falla desde": kept while the point goes on failing, also across
// the service's socket (JSON), and cleared by a success.
void TestHealth::failingSinceIsTheRunsFirstFailure() {
    HealthWorld w;
    const QString ip = QStringLiteral("10.0.0.3");
    PointHealthView point;
    point.ip = ip;
    const auto failingSince = [&] { return w.keeper.view({point}).at(0).failingSince; };
    const QDateTime first = w.world.now;
    w.keeper.record(ip, {}, {}, failure());
    w.world.now = w.world.now.addSecs(3600);
    w.keeper.record(ip, {}, {}, failure());
    QCOMPARE(failingSince(), first);
    QCOMPARE(healthFromJson(healthToJson(w.keeper.view({point}))).at(0).failingSince, first);
    w.keeper.record(ip, {}, {}, success(1));
    QVERIFY(!failingSince().isValid());
}

void TestHealth::healthSurvivesARestartAndCountsRecordsPerDay() {
    HealthWorld w;
    w.keeper.record(QStringLiteral("10.0.0.3"), QStringLiteral("P3"), QStringLiteral("9"),
                    success(5));
    w.keeper.record(QStringLiteral("10.0.0.3"), QStringLiteral("P3"), QStringLiteral("9"),
                    success(7));
    w.keeper.record(QStringLiteral("10.0.0.3"), QStringLiteral("P3"), QStringLiteral("9"),
                    failure(QStringLiteral("conexión rechazada")));
    HealthKeeper again(kAlias, w.world.report);
    again.load();
    const HealthRow row = again.rows().value(0);
    QCOMPARE(row.ip, QStringLiteral("10.0.0.3"));
    QCOMPARE(row.loc, QStringLiteral("9"));
    QCOMPARE(row.recordsLast, 0);
    QCOMPARE(row.recordsToday, 12);
    QCOMPARE(row.failuresInRow, 1);
    QCOMPARE(row.failureText, QStringLiteral("conexión rechazada"));
    QCOMPARE(row.lastSuccess, w.world.now);
    w.world.now = w.world.now.addDays(1);
    again.record(QStringLiteral("10.0.0.3"), QStringLiteral("P3"), QStringLiteral("9"), success(2));
    QCOMPARE(again.rows().value(0).recordsToday, 2);
}

void TestHealth::handEditedNonsenseIsReportedAndStartsAfresh() {
    HealthWorld w;
    w.keeper.record(QStringLiteral("10.0.0.4"), {}, {}, failure());
    QSqlQuery edit(TSession::current().connectionFor(kAlias));
    QVERIFY(edit.exec(QStringLiteral("UPDATE kivo_health SET failures_in_row = 'mucho', "
                                     "last_success = 'ayer', alerted = 7")));
    HealthKeeper again(kAlias, w.world.report);
    again.load();
    QVERIFY(w.world.report.log.constLast().contains(QStringLiteral("no tiene sentido")));
    QCOMPARE(again.rows().value(0).failuresInRow, 0);
    again.record(QStringLiteral("10.0.0.4"), {}, {}, failure());
    QCOMPARE(again.rows().value(0).failuresInRow, 1);
}

void TestHealth::cyclesRecordEachVisitedPoint() {
    HealthWorld w;
    w.world.addPoints(
        {{QStringLiteral("10.0.1.1"), QStringLiteral("A"), QStringLiteral("1")},
         {QStringLiteral("10.0.1.2"), QStringLiteral("B"), QStringLiteral("2")},
         {QStringLiteral("10.0.1.3"), QStringLiteral("C"), QStringLiteral("3"), false}});
    w.work.failingIps << QStringLiteral("10.0.1.2");
    w.constantCycle();
    QCOMPARE(w.row(QStringLiteral("10.0.1.1")).recordsLast, 1);
    QCOMPARE(w.row(QStringLiteral("10.0.1.2")).failuresInRow, 1);
    QVERIFY(w.row(QStringLiteral("10.0.1.2")).failureText.contains(QStringLiteral("Disk full")));
    const QList<PointHealthView> view = w.keeper.view(HealthKeeper::readPoints(kAlias));
    QCOMPARE(view.size(), 3);
    QCOMPARE(view[0].state, PointHealthView::State::Ok);
    QCOMPARE(view[1].state, PointHealthView::State::Failing);
    QCOMPARE(view[2].state, PointHealthView::State::Inactive);
}

void TestHealth::backOffTriesADeadPointEvery2nd4thCycle() {
    HealthWorld w;
    w.keeper.setPolicy(HealthPolicy{2, 24, true});
    w.world.addPoints({{QStringLiteral("10.0.2.1"), QStringLiteral("Muerto"), QStringLiteral("1")},
                       {QStringLiteral("10.0.2.2"), QStringLiteral("Vivo"), QStringLiteral("2")}});
    w.work.failingIps << QStringLiteral("10.0.2.1");
    QList<int> triedIn;
    for (int cycle = 1; cycle <= 8; ++cycle) {
        const int before = w.tries(QStringLiteral("10.0.2.1"));
        w.world.now = w.world.now.addSecs(60);
        w.constantCycle();
        if (w.tries(QStringLiteral("10.0.2.1")) > before)
            triedIn << cycle;
    }
    QCOMPARE(triedIn, (QList<int>{1, 2, 4, 8}));
    QCOMPARE(w.tries(QStringLiteral("10.0.2.2")), 8);
    QVERIFY(!w.keeper.view(HealthKeeper::readPoints(kAlias))[0].nextTry.isEmpty());
}

void TestHealth::manualCycleAndAnHourTryABackedOffPoint() {
    HealthWorld w;
    w.keeper.setPolicy(HealthPolicy{1, 24, true});
    w.world.addPoints(
        {{QStringLiteral("10.0.3.1"), QStringLiteral("Muerto"), QStringLiteral("1")}});
    w.work.failingIps << QStringLiteral("10.0.3.1");
    w.constantCycle(); // 1 failure: backed off for 2 cycles
    w.constantCycle();
    QCOMPARE(w.tries(QStringLiteral("10.0.3.1")), 1);
    w.world.controls.manual = w.world.path(QStringLiteral("manual.txt"));
    w.cycles->startManualFromControls();
    QTRY_VERIFY_WITH_TIMEOUT(!w.cycles->running(), 20000);
    QCOMPARE(w.tries(QStringLiteral("10.0.3.1")), 2);
    w.constantCycle(); // 2 failures: every 4th cycle
    QCOMPARE(w.tries(QStringLiteral("10.0.3.1")), 2);
    w.world.now = w.world.now.addSecs(kMaxBackOffSeconds);
    w.constantCycle();
    QCOMPARE(w.tries(QStringLiteral("10.0.3.1")), 3);
}

void TestHealth::transientFailureIsTriedOnceMoreAtTheEnd() {
    HealthWorld w;
    w.keeper.setPolicy(HealthPolicy{3, 24, false, true});
    w.world.addActivePoints(3);
    w.work.transientIps << QStringLiteral("127.0.3.1");
    w.constantCycle();
    QCOMPARE(w.work.ips(QStringLiteral("Descargar")),
             (QStringList{QStringLiteral("127.0.3.1"), QStringLiteral("127.0.3.2"),
                          QStringLiteral("127.0.3.3"), QStringLiteral("127.0.3.1")}));
    // The retry's outcome is the one recorded: one failure, not two.
    QCOMPARE(w.row(QStringLiteral("127.0.3.1")).failuresInRow, 1);
}

// Visits that leave records on the point raise one alert at the threshold
// and a notice once it deletes again; a point another station collects is
// neither a success nor a failure, and is tried once more at the end.
void TestHealth::keptRecordsAndAnotherStationsVisit() {
    HealthWorld w;
    HealthPolicy policy;
    policy.alertKeptVisits = 3;
    w.keeper.setPolicy(policy);
    const QString ip = QStringLiteral("127.0.3.1");
    PointOutcome kept = success(2);
    kept.kept = true;
    for (int i = 0; i < 4; ++i)
        w.keeper.record(ip, {}, {}, kept);
    QCOMPARE(w.alerts.size(), 1);
    QVERIFY(w.alerts[0].reason.startsWith(QStringLiteral("3 visitas seguidas sin borrar")));
    QCOMPARE(w.row(ip).keptVisits, 4);
    PointOutcome deleted = success(1);
    deleted.deleted = true;
    w.keeper.record(ip, {}, {}, deleted);
    QCOMPARE(w.alerts.size(), 2);
    QVERIFY(!w.alerts[1].down);
    QCOMPARE(w.row(ip).keptVisits, 0);

    w.world.addActivePoints(2);
    w.work.elsewhereIps << ip;
    w.constantCycle();
    QCOMPARE(w.work.ips(QStringLiteral("Descargar")),
             (QStringList{ip, QStringLiteral("127.0.3.2"), ip}));
    QCOMPARE(w.row(ip).failuresInRow, 0);
    QCOMPARE(w.row(ip).otherStation, QStringLiteral("lo descarga otra estación (pc2)"));
    HealthKeeper again(kAlias, w.world.report);
    again.load();
    QCOMPARE(again.view(HealthKeeper::readPoints(kAlias))[0].otherStation,
             QStringLiteral("lo descarga otra estación (pc2)"));
}

// The table as a station from before schema versions made it; the start-up's
// schema steps add the columns.
void TestHealth::tableOfAnOlderStationGetsTheNewColumns() {
    HealthWorld w;
    QSqlQuery old(TSession::current().connectionFor(kAlias));
    QVERIFY(old.exec(QStringLiteral("DROP TABLE kivo_health")));
    QVERIFY(old.exec(QStringLiteral("DROP TABLE kivo_schema")));
    QVERIFY(old.exec(QStringLiteral(
        "CREATE TABLE kivo_health (ip VARCHAR(64) NOT NULL PRIMARY KEY, loc VARCHAR(40), "
        "descr VARCHAR(80), last_attempt VARCHAR(24), last_success VARCHAR(24), "
        "last_failure VARCHAR(24), failing_since VARCHAR(24), failure_text VARCHAR(250), "
        "failures_in_row INTEGER, records_last INTEGER, records_today INTEGER, "
        "records_day VARCHAR(10), alerted INTEGER, skipped_cycles INTEGER)")));
    QVERIFY(old.exec(QStringLiteral("INSERT INTO kivo_health (ip, failures_in_row) VALUES "
                                    "('10.0.0.9', 2)")));
    SchemaSteps::applyTo(kAlias, AliasKind::Local);
    HealthKeeper again(kAlias, w.world.report);
    again.load();
    QCOMPARE(again.rows().value(0).failuresInRow, 2);
    PointOutcome kept = success(1);
    kept.kept = true;
    again.record(QStringLiteral("10.0.0.9"), {}, {}, kept);
    HealthKeeper later(kAlias, w.world.report);
    later.load();
    QCOMPARE(later.rows().value(0).keptVisits, 1);
}

QTEST_GUILESS_MAIN(TestHealth)
#include "tst_health.moc"
