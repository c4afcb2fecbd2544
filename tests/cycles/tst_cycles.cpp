// The cycle machine against a fake point's work: triggers, steps, cancel, the
// running marker, the memo lines and the output file.
#include "CycleWorld.h"
#include "collect/OutputFileName.h"
#include "platform/Regional.h"

#include <QTest>
#include <algorithm>

namespace {
const QString kDownloadEnd = QStringLiteral("Ciclo de descarga finalizado (");
const QString kDownloadCancelled = QStringLiteral("Ciclo de descarga cancelado (");
const QString kSyncEnd = QStringLiteral("Ciclo de sincronización finalizado (");
const QString kSyncCancelled = QStringLiteral("Ciclo de sincronización cancelado (");

void waitForEnd(CycleWorld& world) {
    QTRY_VERIFY_WITH_TIMEOUT(!world.cycles->running(), 20000);
}

bool anyStepTimerOn(CycleWorld& world) {
    for (QTimer* timer : {&world.timers.downloadStepTimer, &world.timers.downloadEndTimer,
                          &world.timers.syncStepTimer, &world.timers.syncEndTimer})
        if (timer->isActive())
            return true;
    return false;
}
} // namespace

class TestCycles : public QObject {
    Q_OBJECT
private slots:
    void timersRunAtTheStationsIntervals();
    void outputFileName_data();
    void outputFileName();
    void emptyTableGivesFirstAndEndLine_data();
    void emptyTableGivesFirstAndEndLine();
    void inactivePointsGetNoTextAndNoConnection();
    void downloadCycleVisitsActivePointsThenSynchronises();
    void overwriteEmptiesOnceAndAutomaticNever_data();
    void overwriteEmptiesOnceAndAutomaticNever();
    void cycleAcrossMidnightKeepsStartDate();
    void cancelDuringThirdOfFive_data();
    void cancelDuringThirdOfFive();
    void cancelWhileIdleThenStartRunsNormally_data();
    void cancelWhileIdleThenStartRunsNormally();
    void escapedErrorGoesOnWithNextPoint();
    void synchronisationErrorsAreSwallowed();
    void stepWaitsWhileFtpConnected();
    void dailyTriggerStartsOncePerMinute();
    void dailyTriggerWaitsForRunningCycle_data();
    void dailyTriggerWaitsForRunningCycle();
    void triggersDuringRunningCycleStartNothing();
    void constantTriggerRearmsFromEndOfCycle();
    void manualWithEmptyFileBoxAsksForAFile();
    void pointsEditedDuringCycleCountFromNextCycle();
    void pointsTableThatCannotOpenStartsNothing();
};

// The tests below drive the steps every few milliseconds; a station's own
// timers keep the intervals its users know.
void TestCycles::timersRunAtTheStationsIntervals() {
    OwnedCycleTimers station(90);
    QCOMPARE(station.dailyTimer.interval(), 5000);
    QCOMPARE(station.constantTimer.interval(), 90000);
    QCOMPARE(station.constantTimer.timerType(), Qt::PreciseTimer);
    for (QTimer* step : {&station.downloadStepTimer, &station.downloadEndTimer,
                         &station.syncStepTimer, &station.syncEndTimer})
        QCOMPARE(step->interval(), 500);
}

void TestCycles::outputFileName_data() {
    QTest::addColumn<QString>("prefix");
    QTest::addColumn<QDate>("date");
    QTest::addColumn<QString>("expected");
    QTest::newRow("prefix joined without separator")
        << "C:\\datos\\taxi" << QDate(2024, 3, 7) << "C:\\datos\\taxi20240307.txt";
    QTest::newRow("empty prefix") << "" << QDate(2024, 3, 7) << "20240307.txt";
    QTest::newRow("two-digit month and day")
        << "/srv/t-" << QDate(2031, 12, 31) << "/srv/t-20311231.txt";
    QTest::newRow("year below 1000 padded with 0") << "" << QDate(987, 1, 2) << "09870102.txt";
}

void TestCycles::outputFileName() {
    QFETCH(QString, prefix);
    QFETCH(QDate, date);
    QFETCH(QString, expected);
    QCOMPARE(automaticOutputPath(prefix, date), expected);
}

void TestCycles::emptyTableGivesFirstAndEndLine_data() {
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("firstLine");
    QTest::addColumn<QString>("endLine");
    QTest::newRow("manual download") << "download"
                                     << "Iniciando ciclo de descarga manual (" << kDownloadEnd;
    QTest::newRow("constant download")
        << "constant"
        << "Iniciando ciclo de descarga automática constante (" << kDownloadEnd;
    QTest::newRow("synchronisation") << "sync"
                                     << "Iniciando ciclo de sincronización manual (" << kSyncEnd;
}

void TestCycles::emptyTableGivesFirstAndEndLine() {
    QFETCH(QString, button);
    QFETCH(QString, firstLine);
    QFETCH(QString, endLine);
    CycleWorld world;
    world.controls.manual = QStringLiteral("out.txt");
    world.report.memo = QStringLiteral("old text of the last cycle\r\n");
    if (button == "download")
        world.cycles->startManualFromControls();
    else if (button == "constant")
        world.cycles->constantTick();
    else
        world.cycles->startSync();
    QVERIFY(world.cycles->running());
    QCOMPARE(world.report.memoLines(), QStringList{firstLine + NowText() + ")"});
    QVERIFY(world.report.memo.endsWith("\r\n"));

    waitForEnd(world);
    QCOMPARE(world.report.memoLines(),
             QStringList({firstLine + NowText() + ")", endLine + NowText() + ")"}));
    QVERIFY(world.work.calls.isEmpty());
    QVERIFY(!anyStepTimerOn(world));
}

void TestCycles::inactivePointsGetNoTextAndNoConnection() {
    CycleWorld world;
    world.addPoints({{"127.0.3.1", "A", "1", false}, {"127.0.3.2", "B", "2", false}});
    world.controls.manual = QStringLiteral("out.txt");
    world.cycles->startManualFromControls();
    waitForEnd(world);
    QCOMPARE(world.report.memoLines().size(), 2);
    QVERIFY(world.report.memoLines().at(1).startsWith(kDownloadEnd));
    QVERIFY(world.work.calls.isEmpty());
    QVERIFY(world.report.errors.isEmpty());
}

void TestCycles::downloadCycleVisitsActivePointsThenSynchronises() {
    CycleWorld world;
    world.addPoints({{"127.0.3.1", "Planta", "101", true},
                     {"127.0.3.2", "Garita", "102", false},
                     {"127.0.3.3", "Oficina", "103", true}});
    world.controls.constant = true;
    world.controls.prefix = QStringLiteral("/data/taxi");
    world.cycles->constantTick();
    QCOMPARE(world.cycles->output().path, QStringLiteral("/data/taxi20240307.txt"));
    waitForEnd(world);

    QStringList sequence;
    for (const WorkCall& call : world.work.calls)
        sequence.append(call.what + " " + call.ip);
    QCOMPARE(sequence, QStringList({"Descargar 127.0.3.1", "closeFtp ", "sincronizarPar 127.0.3.1",
                                    "closeFtp ", "Descargar 127.0.3.3", "closeFtp ",
                                    "sincronizarPar 127.0.3.3", "closeFtp "}));
    // One output object for the whole cycle.
    QCOMPARE(world.work.calls.at(0).output, world.work.calls.at(4).output);
    QCOMPARE(world.report.memoLines().mid(1, 4),
             QStringList({"   Planta... 1 registro(s).", "    - Sinc Planta... OK.",
                          "   Oficina... 1 registro(s).", "    - Sinc Oficina... OK."}));
    QVERIFY(world.report.memoLines().at(5).startsWith(kDownloadEnd));
}

void TestCycles::overwriteEmptiesOnceAndAutomaticNever_data() {
    QTest::addColumn<bool>("manual");
    QTest::addColumn<bool>("erase");
    QTest::addColumn<bool>("overwrite");
    QTest::newRow("manual with Sobrescribir") << true << true << true;
    QTest::newRow("manual without Sobrescribir") << true << false << false;
    QTest::newRow("constant with Sobrescribir checked") << false << true << false;
}

// Every point is told to overwrite; only the first finds the file not yet
// emptied, and the next cycle starts with a fresh output.
void TestCycles::overwriteEmptiesOnceAndAutomaticNever() {
    QFETCH(bool, manual);
    QFETCH(bool, erase);
    QFETCH(bool, overwrite);
    CycleWorld world;
    world.addActivePoints(3);
    world.controls.manual = QStringLiteral("manual.txt");
    world.controls.overwrite = erase;
    for (int cycle = 0; cycle < 2; ++cycle) {
        world.work.calls.clear();
        manual ? world.cycles->startManualFromControls() : world.cycles->constantTick();
        QCOMPARE(world.cycles->output().path,
                 manual ? QStringLiteral("manual.txt") : QStringLiteral("20240307.txt"));
        waitForEnd(world);
        QList<bool> emptiedBefore, told;
        for (const WorkCall& call : world.work.calls)
            if (call.what == "Descargar") {
                told.append(call.overwrite);
                emptiedBefore.append(call.emptiedBefore);
            }
        QCOMPARE(told, QList<bool>(3, overwrite));
        QCOMPARE(emptiedBefore, QList<bool>({false, overwrite, overwrite}));
    }
}

void TestCycles::cycleAcrossMidnightKeepsStartDate() {
    CycleWorld world;
    world.addActivePoints(3);
    world.now = QDateTime(QDate(2024, 3, 7), QTime(23, 59, 58));
    world.work.duringDownload = [&world](const QString&) { world.now = world.now.addSecs(1); };
    world.controls.prefix = QStringLiteral("taxi");
    world.cycles->constantTick();
    waitForEnd(world);
    QCOMPARE(world.now.date(), QDate(2024, 3, 8));
    QStringList paths;
    for (const WorkCall& call : world.work.calls)
        if (call.what == "Descargar")
            paths.append(call.output->path);
    QCOMPARE(paths, QStringList(3, QStringLiteral("taxi20240307.txt")));
}

void TestCycles::cancelDuringThirdOfFive_data() {
    QTest::addColumn<bool>("download");
    QTest::newRow("download cycle") << true;
    QTest::newRow("synchronisation cycle") << false;
}

// The point in hand completes; the next step ends the cycle.
void TestCycles::cancelDuringThirdOfFive() {
    QFETCH(bool, download);
    CycleWorld world;
    world.addActivePoints(5);
    world.controls.manual = QStringLiteral("out.txt");
    // Pressed while the third point is being visited, as the event loop
    // served during its transfer would deliver the click.
    auto pressAtThird = [&world](const QString& ip) {
        if (ip == "127.0.3.3")
            world.cycles->cancel();
    };
    world.work.duringDownload = pressAtThird;
    world.work.duringSync = pressAtThird;
    download ? world.cycles->startManualFromControls() : world.cycles->startSync();
    waitForEnd(world);
    const QStringList three = {"127.0.3.1", "127.0.3.2", "127.0.3.3"};
    if (download)
        QCOMPARE(world.work.ips("Descargar"), three);
    QCOMPARE(world.work.ips("sincronizarPar"), three);
    QVERIFY(world.report.memoLines().constLast().startsWith(download ? kDownloadCancelled
                                                                     : kSyncCancelled));
    QVERIFY(world.cycles->cancelRequested());
}

void TestCycles::cancelWhileIdleThenStartRunsNormally_data() {
    QTest::addColumn<bool>("download");
    QTest::newRow("then Descargar") << true;
    QTest::newRow("then Solo sincronizar") << false;
}

void TestCycles::cancelWhileIdleThenStartRunsNormally() {
    QFETCH(bool, download);
    CycleWorld world;
    world.addActivePoints(2);
    world.controls.manual = QStringLiteral("out.txt");
    world.cycles->cancel();
    download ? world.cycles->startManualFromControls() : world.cycles->startSync();
    QVERIFY(!world.cycles->cancelRequested());
    waitForEnd(world);
    QCOMPARE(world.work.ips("sincronizarPar").size(), 2);
    QVERIFY(world.report.memoLines().constLast().startsWith(download ? kDownloadEnd : kSyncEnd));
}

// The error box shows it, the broken line is ended, and the cycle goes on:
// its timers never stay off with the points table open.
void TestCycles::escapedErrorGoesOnWithNextPoint() {
    CycleWorld world;
    world.addActivePoints(3);
    world.controls.manual = QStringLiteral("out.txt");
    world.controls.constant = true;
    world.work.failingIps = {QStringLiteral("127.0.3.2")};
    world.cycles->startManualFromControls();
    waitForEnd(world);
    QCOMPARE(world.report.errors, QStringList{"Disk full while storing 127.0.3.2"});
    QCOMPARE(world.work.ips("Descargar"), QStringList({"127.0.3.1", "127.0.3.2", "127.0.3.3"}));
    // The failed point's storing did not finish: no push to it this cycle.
    QCOMPARE(world.work.ips("sincronizarPar"), QStringList({"127.0.3.1", "127.0.3.3"}));
    QCOMPARE(world.report.memoLines().at(3), QStringLiteral("   P2..."));
    QCOMPARE(world.report.memoLines().at(4), QStringLiteral("   P3... 1 registro(s)."));
    QVERIFY(world.report.memoLines().constLast().startsWith(kDownloadEnd));
    QVERIFY(world.timers.constantTimer.isActive());
    // The FTP client was closed after the failed point.
    const auto failed = std::find_if(world.work.calls.cbegin(), world.work.calls.cend(),
                                     [](const WorkCall& call) { return call.ip == "127.0.3.2"; });
    QVERIFY(failed + 1 < world.work.calls.cend());
    QCOMPARE((failed + 1)->what, QStringLiteral("closeFtp"));
}

void TestCycles::synchronisationErrorsAreSwallowed() {
    CycleWorld world;
    world.addActivePoints(3);
    world.work.failingSyncIps = {QStringLiteral("127.0.3.1"), QStringLiteral("127.0.3.2")};
    world.cycles->startSync();
    waitForEnd(world);
    QCOMPARE(world.work.ips("sincronizarPar"),
             QStringList({"127.0.3.1", "127.0.3.2", "127.0.3.3"}));
    QVERIFY(world.work.ips("closeFtp").isEmpty());
    QVERIFY(world.report.errors.isEmpty());
    QVERIFY(world.report.memoLines().constLast().startsWith(kSyncEnd));
}

// A step finds the FTP client still connected: the same point is tried at the next tick.
void TestCycles::stepWaitsWhileFtpConnected() {
    CycleWorld world;
    world.addActivePoints(2);
    world.controls.manual = QStringLiteral("out.txt");
    world.work.connectedTicks = 2;
    world.cycles->startManualFromControls();
    waitForEnd(world);
    QCOMPARE(world.work.waits, 2);
    QCOMPARE(world.work.ips("Descargar"), QStringList({"127.0.3.1", "127.0.3.2"}));

    // Cancel ends a wait that would never end by itself.
    world.work.calls.clear();
    world.work.connectedTicks = 1000000;
    world.cycles->startManualFromControls();
    QTRY_VERIFY(world.work.waits > 3);
    world.cycles->cancel();
    waitForEnd(world);
    QVERIFY(world.work.ips("Descargar").isEmpty());
    QVERIFY(world.report.memoLines().constLast().startsWith(kDownloadCancelled));
}

// Ticks at 23:00:02 and 23:00:07 start exactly one cycle; after 23:01 the flag
// is clear again, and the next day the same minute starts one more.
void TestCycles::dailyTriggerStartsOncePerMinute() {
    CycleWorld world;
    world.addActivePoints(1);
    world.controls.prefix = QStringLiteral("d");
    int starts = 0;
    auto tickAt = [&](const QDateTime& at) {
        world.now = at;
        const bool wasRunning = world.cycles->running();
        world.cycles->dailyTick();
        if (!wasRunning && world.cycles->running())
            ++starts;
        QVERIFY(world.timers.dailyTimer.isActive());
    };
    const QDate day(2024, 3, 7);
    tickAt(QDateTime(day, QTime(22, 59, 57)));
    QCOMPARE(starts, 0);
    tickAt(QDateTime(day, QTime(23, 0, 2)));
    QCOMPARE(starts, 1);
    QVERIFY(world.report.memoLines().first().startsWith(
        "Iniciando ciclo de descarga automática diaria ("));
    QCOMPARE(world.cycles->output().path, QStringLiteral("d20240307.txt"));
    waitForEnd(world);
    tickAt(QDateTime(day, QTime(23, 0, 7)));
    tickAt(QDateTime(day, QTime(23, 0, 57)));
    QCOMPARE(starts, 1);
    QVERIFY(world.cycles->dailyDone());
    tickAt(QDateTime(day, QTime(23, 1, 2)));
    QVERIFY(!world.cycles->dailyDone());
    // The next day's daily cycle runs through later ticks of its own minute:
    // it does not start a second time in that minute.
    const QDate next = day.addDays(1);
    world.work.duringDownload = [&](const QString&) {
        for (int second : {6, 11}) {
            world.now = QDateTime(next, QTime(23, 0, second));
            world.cycles->dailyTick();
        }
    };
    tickAt(QDateTime(next, QTime(23, 0, 1)));
    QCOMPARE(starts, 2);
    waitForEnd(world);
    tickAt(QDateTime(next, QTime(23, 0, 16)));
    QCOMPARE(starts, 2);
    // Nor after a manual cycle that ran later in the same minute.
    world.work.duringDownload = {};
    world.controls.manual = QStringLiteral("m.txt");
    world.cycles->startManualFromControls();
    tickAt(QDateTime(next, QTime(23, 0, 21)));
    QVERIFY(!world.cycles->dailyDone());
    waitForEnd(world);
    tickAt(QDateTime(next, QTime(23, 0, 26)));
    QCOMPARE(starts, 2);
    QVERIFY(!world.report.memoLines().first().contains(QStringLiteral("diaria")));
}

void TestCycles::dailyTriggerWaitsForRunningCycle_data() {
    QTest::addColumn<QTime>("manualCycleEnds");
    QTest::addColumn<bool>("dailyStarts");
    QTest::newRow("ends at 23:00:30: starts on the next tick") << QTime(23, 0, 30) << true;
    QTest::newRow("runs through the minute: none that day") << QTime(23, 1, 0) << false;
}

// A manual cycle runs at 23:00:00; the daily ticks find it running until it ends.
void TestCycles::dailyTriggerWaitsForRunningCycle() {
    QFETCH(QTime, manualCycleEnds);
    QFETCH(bool, dailyStarts);
    CycleWorld world;
    world.addActivePoints(1);
    world.controls.manual = QStringLiteral("manual.txt");
    const QDate day(2024, 3, 7);
    world.now = QDateTime(day, QTime(22, 59, 59));
    world.cycles->startManualFromControls();
    for (QTime t(23, 0, 2); t < QTime(23, 1, 10); t = t.addSecs(5)) {
        world.now = QDateTime(day, t);
        if (t >= manualCycleEnds && world.cycles->running())
            waitForEnd(world);
        world.cycles->dailyTick();
        if (world.cycles->running() &&
            world.report.memoLines().first().contains(QStringLiteral("diaria")))
            break;
    }
    const bool daily = world.report.memoLines().first().contains(QStringLiteral("diaria"));
    QCOMPARE(daily, dailyStarts);
    if (daily)
        QVERIFY(world.now.time() >= manualCycleEnds);
    waitForEnd(world);
}

// Triggers that find a cycle running start nothing: the constant trigger
// re-arms itself, the daily one clears its flag, the buttons do nothing.
void TestCycles::triggersDuringRunningCycleStartNothing() {
    CycleWorld world;
    world.addActivePoints(2);
    world.controls.manual = QStringLiteral("manual.txt");
    world.controls.constant = true;
    world.now = QDateTime(QDate(2024, 3, 7), QTime(23, 0, 5));
    bool checked = false;
    world.work.duringDownload = [&](const QString& ip) {
        if (ip != "127.0.3.1")
            return;
        const QString memo = world.report.memo;
        world.cycles->startManualFromControls();
        world.cycles->startSync();
        world.cycles->dailyTick();
        QVERIFY(!world.cycles->dailyDone());
        world.cycles->constantTick();
        QVERIFY(world.timers.constantTimer.isActive());
        QCOMPARE(world.report.memo, memo);
        QVERIFY(!anyStepTimerOn(world));
        checked = true;
    };
    world.cycles->constantTick();
    QVERIFY(!world.timers.constantTimer.isActive());
    waitForEnd(world);
    QVERIFY(checked);
    QCOMPARE(world.work.ips("Descargar"), QStringList({"127.0.3.1", "127.0.3.2"}));
    QVERIFY(world.report.memoLines().first().contains(QStringLiteral("constante")));
}

// Off during its own cycle, on again at the end line; the end does not restart
// a countdown that is already running.
void TestCycles::constantTriggerRearmsFromEndOfCycle() {
    CycleWorld world;
    world.addActivePoints(1);
    world.controls.constant = true;
    world.timers.constantTimer.setInterval(100);
    world.timers.constantTimer.start();
    QTRY_VERIFY(world.cycles->running());
    QVERIFY(!world.timers.constantTimer.isActive());
    waitForEnd(world);
    QVERIFY(world.timers.constantTimer.isActive());
    QTRY_VERIFY(world.cycles->running()); // the next constant cycle
    QVERIFY(world.report.memoLines().first().contains(QStringLiteral("constante")));
    // With the box unchecked, the end leaves it off.
    world.controls.constant = false;
    waitForEnd(world);
    QVERIFY(!world.timers.constantTimer.isActive());
}

// No cycle, the memo untouched, and the status line says what is missing.
void TestCycles::manualWithEmptyFileBoxAsksForAFile() {
    CycleWorld world;
    world.addActivePoints(1);
    world.report.memo = QStringLiteral("kept\r\n");
    world.cycles->startManualFromControls();
    QVERIFY(!world.cycles->running());
    QCOMPARE(world.report.memo, QStringLiteral("kept\r\n"));
    QCOMPARE(world.report.status, kManualFileNeeded);
}

// The rows are read once when the cycle starts: a row the editor adds during
// the cycle is visited by the next one.
void TestCycles::pointsEditedDuringCycleCountFromNextCycle() {
    CycleWorld world;
    world.addActivePoints(2);
    world.controls.manual = QStringLiteral("m.txt");
    world.work.duringDownload = [&world](const QString& ip) {
        if (ip == "127.0.3.1")
            world.addPoints({{"127.0.3.9", "Nuevo", "109", true}});
    };
    world.cycles->startManualFromControls();
    waitForEnd(world);
    QCOMPARE(world.work.ips("Descargar"), QStringList({"127.0.3.1", "127.0.3.2"}));
    world.work.calls.clear();
    world.work.duringDownload = {};
    world.cycles->startManualFromControls();
    waitForEnd(world);
    QCOMPARE(world.work.ips("Descargar"), QStringList({"127.0.3.1", "127.0.3.2", "127.0.3.9"}));
}

// A start that fails is shown, leaves no cycle running, and the constant
// trigger tries again an interval later.
void TestCycles::pointsTableThatCannotOpenStartsNothing() {
    CycleWorld world;
    world.tPrIP.TableName = QStringLiteral("sinTabla.db");
    world.controls.constant = true;
    world.cycles->constantTick();
    QVERIFY(!world.cycles->running());
    QCOMPARE(world.report.errors.size(), 1);
    QVERIFY(world.timers.constantTimer.isActive());
    QVERIFY(!anyStepTimerOn(world));
}

QTEST_GUILESS_MAIN(TestCycles)
#include "tst_cycles.moc"
