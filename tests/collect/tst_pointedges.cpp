// The edges of exactly once: a recovery state of the wrong shape, local copies
// that change or go missing under a run, an output file moved or removed
// under it, points whose files say more or less than their count, and a
// database of a later station.
#include "ErrorOf.h"
#include "StoredTickets.h"
#include "collect/RunOutput.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

namespace {

const QString kIp = QStringLiteral("127.0.6.1");

void visit(PointHarness& h, const QString& output) {
    CycleOutput out{output};
    h.work->Descargar(kIp, QStringLiteral("P"), QStringLiteral("L01"), out);
    h.work->closeFtp();
}

// A run that fails at record `at`, after the point was emptied; its state
// stays unfinished.
void interruptedRun(CollectWorld& w, int at, const QString& output) {
    PointHarness h(w.localAlias, w.serverAlias);
    h.work->setProbe([at](const char* name, int k) {
        if (qstrcmp(name, "record") == 0 && k == at)
            throw Failure("storing failed");
    });
    CycleOutput out{output};
    QVERIFY_THROWS_EXCEPTION(
        Failure, h.work->Descargar(kIp, QStringLiteral("P"), QStringLiteral("L01"), out));
    h.work->closeFtp();
    QVERIFY(flagSaved());
}

// Sets one field of the recovery state, given by its path ("run.skip").
void setStateField(const QString& path, const QJsonValue& value) {
    QFile f(RunState::defaultPath());
    QVERIFY(f.open(QIODevice::ReadOnly));
    QJsonObject top = QJsonDocument::fromJson(f.readAll()).object();
    f.close();
    const QStringList keys = path.split(QLatin1Char('.'));
    std::function<QJsonObject(QJsonObject, int)> set = [&](QJsonObject o, int k) {
        if (k == keys.size() - 1 && value.isUndefined())
            o.remove(keys[k]);
        else if (k == keys.size() - 1)
            o.insert(keys[k], value);
        else
            o.insert(keys[k], set(o.value(keys[k]).toObject(), k + 1));
        return o;
    };
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(QJsonDocument(set(top, 0)).toJson());
}

// The run's lines, as the cycle's output file holds them.
QStringList linesOf(const QString& path) {
    return fileLines(path);
}

} // namespace

class TestPointEdges : public QObject {
    Q_OBJECT

private slots:
    void stateOfTheWrongShapeStopsTheFetches_data();
    void stateOfTheWrongShapeStopsTheFetches();
    void localCopiesThatChangeUnderTheRun_data();
    void localCopiesThatChangeUnderTheRun();
    void missingCopiesWaitOrAreAbandoned();
    void outputRemovedWhileStoring();
    void outputMovedAfterAKill();
    void sideFileHoldsWhatTheOutputLacks_data();
    void sideFileHoldsWhatTheOutputLacks();
    void recordsBeyondTheCount();
    void pointThatEmptiesOnlyItsCount();
    void newerDatabaseIsNotWrittenTo_data();
    void newerDatabaseIsNotWrittenTo();
};

void TestPointEdges::stateOfTheWrongShapeStopsTheFetches_data() {
    QTest::addColumn<QString>("field");
    QTest::addColumn<QJsonValue>("value");
    QTest::addColumn<QString>("named");
    QTest::newRow("unfinished as a number") << "unfinished" << QJsonValue(1) << "unfinished";
    QTest::newRow("outputStart as a number") << "run.outputStart" << QJsonValue(5) << "outputStart";
    QTest::newRow("skip as text") << "run.skip" << QJsonValue("300") << "run.skip";
    QTest::newRow("count of an entry as text")
        << "pending.127.0.6.1" << QJsonValue(QJsonObject{{"run", "x"}, {"count", "300"}})
        << "count";
    QTest::newRow("run missing") << "run" << QJsonValue(QJsonValue::Undefined) << "run";
    QTest::newRow("a list, not an object") << "" << QJsonValue(QJsonArray{1}) << "objeto JSON";
}

// Valid JSON of the wrong shape is unreadable, names what is wrong and stops
// every fetch; put right, the interrupted run is stored once.
void TestPointEdges::stateOfTheWrongShapeStopsTheFetches() {
    QFETCH(QString, field);
    QFETCH(QJsonValue, value);
    QFETCH(QString, named);
    CollectWorld w;
    SimPoints sim({{kIp, simRecords(12, 1)}});
    sim.applyPorts();
    interruptedRun(w, 7, w.outputPath());
    const QByteArray good = fileBytes(RunState::defaultPath());
    if (field.startsWith(QLatin1String("pending."))) {
        // the key holds dots: the entry is replaced whole
        QJsonObject top = QJsonDocument::fromJson(good).object();
        top.insert(QStringLiteral("pending"), QJsonObject{{kIp, value}});
        QFile f(RunState::defaultPath());
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(QJsonDocument(top).toJson());
    } else if (field.isEmpty()) {
        QFile f(RunState::defaultPath());
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(QJsonDocument(value.toArray()).toJson());
    } else {
        setStateField(field, value);
    }
    sim.serve(kIp, simRecords(3, 100));
    PointHarness h(w.localAlias, w.serverAlias);
    visit(h, w.outputPath());
    QVERIFY2(h.report.status.contains(named), qPrintable(h.report.status));
    QVERIFY(h.report.memo.endsWith(QStringLiteral(" FALLO\r\n")));
    QCOMPARE(sim.countEvents(kIp, "RETR nroRegAsist.ras"), 1); // the interrupted run's only

    QFile f(RunState::defaultPath());
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(good);
    f.close();
    PointHarness mended(w.localAlias, w.serverAlias);
    visit(mended, w.outputPath());
    visit(mended, w.outputPath());
    checkEachOnce(w, QStringLiteral("L01"), ticketRange(1, 12) + ticketRange(100, 3));
}

void TestPointEdges::localCopiesThatChangeUnderTheRun_data() {
    QTest::addColumn<QString>("when");
    QTest::addColumn<bool>("deleted");
    QTest::newRow("before the delete") << "save-state" << false;
    QTest::newRow("after the delete") << "after-delete" << true;
}

// Another process rewrites the local copies while a run is in hand: nothing
// of them is stored, and nothing is deleted on them when it comes before the
// delete.
void TestPointEdges::localCopiesThatChangeUnderTheRun() {
    QFETCH(QString, when);
    QFETCH(bool, deleted);
    CollectWorld w;
    SimPoints sim({{kIp, simRecords(20, 1)}});
    sim.applyPorts();
    PointHarness h(w.localAlias, w.serverAlias);
    bool rewritten = false;
    h.work->setProbe([&](const char* name, int) {
        if (!rewritten && when == QLatin1String(name)) {
            rewritten = true;
            QVERIFY(writeLocalFiles({}));
        }
    });
    CycleOutput out{w.outputPath()};
    try {
        h.work->Descargar(kIp, QStringLiteral("P"), QStringLiteral("L01"), out);
    } catch (const Exception& error) {
        QVERIFY2(deleted && error.message().contains(QStringLiteral("ya no son los que")),
                 qPrintable(error.message()));
    }
    h.work->closeFtp();
    QCOMPARE(sim.countEvents(kIp, "DELE x"), deleted ? 1 : 0);
    QCOMPARE(storedTickets(w, QStringLiteral("L01")).lectura, QList<int>());
    QVERIFY(!h.report.memo.contains(QStringLiteral("registro(s)")));
    QCOMPARE(flagSaved(), deleted);
}

// Copies that are not there (a share not yet mounted) keep the run pending
// and nothing is fetched; back, they are stored. Gone for good, the operator
// abandons the run and is told how many tickets are given up.
void TestPointEdges::missingCopiesWaitOrAreAbandoned() {
    CollectWorld w;
    SimPoints sim({{kIp, simRecords(12, 1)}});
    sim.applyPorts();
    interruptedRun(w, 7, w.outputPath());
    const QString share = w.path(QStringLiteral("elsewhere"));
    QVERIFY(QDir().mkpath(share));
    for (const QString& name : {kCountFile, kRecordFile})
        QVERIFY(QFile::rename(name, share + QLatin1Char('/') + name));
    sim.serve(kIp, simRecords(3, 100));
    {
        PointHarness h(w.localAlias, w.serverAlias);
        visit(h, w.outputPath());
        visit(h, w.outputPath());
        QVERIFY2(h.report.status.contains(QStringLiteral("faltan los archivos locales")) &&
                     h.report.status.contains(QStringLiteral("12 ticket(s)")),
                 qPrintable(h.report.status));
        QCOMPARE(sim.countEvents(kIp, "RETR nroRegAsist.ras"), 1);
        QVERIFY(flagSaved());
    }
    for (const QString& name : {kCountFile, kRecordFile})
        QVERIFY(QFile::rename(share + QLatin1Char('/') + name, name));
    {
        PointHarness h(w.localAlias, w.serverAlias);
        visit(h, w.outputPath());
        visit(h, w.outputPath());
        checkEachOnce(w, QStringLiteral("L01"), ticketRange(1, 12) + ticketRange(100, 3));
    }

    sim.serve(kIp, simRecords(5, 200));
    interruptedRun(w, 2, w.outputPath());
    QVERIFY(QFile::remove(kRecordFile));
    PointHarness h(w.localAlias, w.serverAlias);
    const std::optional<UnfinishedRun> run = h.work->unfinishedRun();
    QVERIFY(run && run->tickets == 5);
    QVERIFY(abandonQuestion(*run).contains(QStringLiteral("5 ticket(s)")));
    QVERIFY_THROWS_EXCEPTION(Exception, h.work->abandonRun(QStringLiteral("nosuchrun")));
    QVERIFY(h.work->abandonRun(run->runId.left(8)).contains(QStringLiteral("5 ticket(s)")));
    QVERIFY(!flagSaved());
    QVERIFY(!h.report.log.filter(QStringLiteral("abandonada por el operador")).isEmpty());
    sim.serve(kIp, simRecords(2, 300));
    visit(h, w.outputPath());
    QCOMPARE(storedTickets(w, QStringLiteral("L01")).lectura,
             ticketRange(1, 12) + ticketRange(100, 3) + ticketRange(300, 2));
}

// The output folder is removed while the lines are written: they end up in
// a side file the station can reach, said so and reported until moved.
void TestPointEdges::outputRemovedWhileStoring() {
    CollectWorld w;
    SimPoints sim({{kIp, simRecords(3000, 1)}});
    sim.applyPorts();
    const QString folder = w.path(QStringLiteral("salidas"));
    QVERIFY(QDir().mkpath(folder));
    const QString output = folder + QStringLiteral("/salida.txt");
    PointHarness h(w.localAlias, w.serverAlias);
    h.work->setProbe([&](const char* name, int k) {
        if (qstrcmp(name, "record") == 0 && k == 2000)
            QDir(folder).removeRecursively();
    });
    visit(h, output);
    QVERIFY(!flagSaved());
    QVERIFY(!QFile::exists(output));
    const QStringList sides = QDir().entryList({QStringLiteral("salida-*.txt")});
    QCOMPARE(sides.size(), 1);
    QCOMPARE(linesOf(sides.first()).size(), 3000);
    QVERIFY2(h.report.log.filter(QStringLiteral("fue movido o borrado")).size() == 1,
             qPrintable(h.report.log.join('\n')));
    QVERIFY(h.report.log.last().contains(sides.first()));
    QVERIFY(h.report.memo.contains(QStringLiteral("3000 registro(s)")));
}

// After a kill with part of the lines written, the operator moves the output
// file away: the recovery writes every line again and says that the moved
// file holds some of them from a given byte.
void TestPointEdges::outputMovedAfterAKill() {
    CollectWorld w;
    SimPoints sim({{kIp, simRecords(3000, 1)}});
    sim.applyPorts();
    QFile before(w.outputPath());
    QVERIFY(before.open(QIODevice::WriteOnly));
    before.write("L00,earlier line\r\n");
    before.close();
    interruptedRun(w, 2500, w.outputPath());
    const QString moved = w.path(QStringLiteral("movido.txt"));
    QVERIFY(QFile::rename(w.outputPath(), moved));
    const int partial = linesOf(moved).size() - 1;
    QVERIFY2(partial > 0 && partial < 3000, qPrintable(QString::number(partial)));
    PointHarness h(w.localAlias, w.serverAlias);
    visit(h, w.outputPath());
    QCOMPARE(linesOf(w.outputPath()).size(), 3000);
    QVERIFY2(h.report.log.filter(QStringLiteral("desde el byte 18")).size() == 1,
             qPrintable(h.report.log.join('\n')));
    checkEachOnce(w, QStringLiteral("L01"), ticketRange(1, 3000));
}

void TestPointEdges::sideFileHoldsWhatTheOutputLacks_data() {
    QTest::addColumn<int>("held");      // lines the run's own file holds already
    QTest::addColumn<bool>("differs");  // and they are not the run's
    QTest::addColumn<int>("sideLines"); // lines the side file gets
    QTest::newRow("nothing held") << 0 << false << 5000;
    QTest::newRow("the first 1234 held") << 1234 << false << 3766;
    QTest::newRow("every line held") << 5000 << false << 0;
    QTest::newRow("other lines held") << 10 << true << 5000;
}

// A side file stands in for an output file that cannot be written: it gets
// the run's lines that file lacks, so that the two hold each line once.
void TestPointEdges::sideFileHoldsWhatTheOutputLacks() {
    QFETCH(int, held);
    QFETCH(bool, differs);
    QFETCH(int, sideLines);
    QTemporaryDir dir;
    QStringList lines;
    for (int i = 0; i < 5000; ++i)
        lines << QStringLiteral("L01,%1,línea de la descarga").arg(i, 5, 10, QLatin1Char('0'));
    QByteArray heldBytes;
    for (int i = 0; i < held; ++i)
        heldBytes += (differs ? QStringLiteral("otra %1").arg(i) : lines[i]).toLatin1() + "\r\n";
    RunOutput side(dir.filePath(QStringLiteral("salida-x.txt")), 0);
    side.leaveOut(heldBytes);
    for (const QString& line : std::as_const(lines))
        side.writeLine(line);
    side.finish();
    QCOMPARE(side.heldDiffers(), differs);
    const QStringList written = fileLines(dir.filePath(QStringLiteral("salida-x.txt")));
    QCOMPARE(written.size(), sideLines);
    if (!written.isEmpty())
        QCOMPARE(written.last(), lines.last());
}

// A terminal that writes a record before its count: the counted records are
// stored, nothing is deleted, and the next visit stores the rest. Bytes past
// the count that stay the same from one visit to the next are a stale tail,
// deleted unstored then.
void TestPointEdges::recordsBeyondTheCount() {
    CollectWorld w;
    SimPoints sim({{kIp, {}}});
    sim.applyPorts();
    PointHarness h(w.localAlias, w.serverAlias);
    sim.writeServed(kIp, kCountFile, simCountFile(5));
    sim.writeServed(kIp, kRecordFile, simRecordFile(simRecords(6, 1)));
    visit(h, w.outputPath());
    QCOMPARE(sim.countEvents(kIp, "DELE x"), 0);
    QVERIFY(h.work->outcome().kept);
    sim.writeServed(kIp, kCountFile, simCountFile(6)); // the count comes
    visit(h, w.outputPath());
    QCOMPARE(sim.countEvents(kIp, "DELE x"), 1);
    QVERIFY(h.work->outcome().deleted);
    checkEachOnce(w, QStringLiteral("L01"), ticketRange(1, 6));

    const QByteArray stale = simRecordFile(simRecords(3, 10) + simRecords(1, 99));
    for (int k = 0; k < 2; ++k) {
        sim.writeServed(kIp, kCountFile, simCountFile(3));
        sim.writeServed(kIp, kRecordFile, stale);
        visit(h, w.outputPath());
        QCOMPARE(sim.countEvents(kIp, "DELE x"), 1 + k);
    }
    checkEachOnce(w, QStringLiteral("L01"), ticketRange(1, 6) + ticketRange(10, 3));
}

// A terminal that confirms the delete and empties only its count file: the
// records it still holds are not stored again, and what follows them is
// neither stored twice nor deleted unstored.
void TestPointEdges::pointThatEmptiesOnlyItsCount() {
    CollectWorld w;
    SimPointPlan plan{kIp, simRecords(100, 1)};
    plan.dele = QStringLiteral("count-only");
    SimPoints sim({plan});
    sim.applyPorts();
    PointHarness h(w.localAlias, w.serverAlias);
    visit(h, w.outputPath());
    for (int k = 1; k <= 3; ++k) { // it goes on counting from 0 after its old records
        sim.writeServed(kIp, kCountFile, simCountFile(k));
        sim.writeServed(kIp, kRecordFile, simRecordFile(simRecords(100, 1) + simRecords(k, 500)));
        visit(h, w.outputPath());
        QVERIFY2(h.report.status.contains(QStringLiteral("es menor que los 100 registros")),
                 qPrintable(h.report.status));
    }
    QCOMPARE(sim.countEvents(kIp, "DELE x"), 1);
    sim.serve(kIp, simRecords(3, 500)); // mended: its files hold what it counts
    visit(h, w.outputPath());
    checkEachOnce(w, QStringLiteral("L01"), ticketRange(1, 100) + ticketRange(500, 3));
}

void TestPointEdges::newerDatabaseIsNotWrittenTo_data() {
    QTest::addColumn<bool>("server");
    QTest::newRow("local") << false;
    QTest::newRow("server") << true;
}

// Own tables of a later version than this station knows: it neither applies
// steps nor stores there, so the point is not visited and keeps its records.
void TestPointEdges::newerDatabaseIsNotWrittenTo() {
    QFETCH(bool, server);
    CollectWorld w;
    SimPoints sim({{kIp, simRecords(3, 1)}});
    sim.applyPorts();
    rowsOf(server ? w.serverAlias : w.localAlias, "UPDATE kivo_schema SET version = 99");
    PointHarness h(w.localAlias, w.serverAlias);
    const QString refusal = errorOf([&] { h.work->ensureJournals(); });
    QVERIFY2(refusal.contains(QStringLiteral("la versión 99")), qPrintable(refusal));
    visit(h, w.outputPath());
    QCOMPARE(h.report.status, kNoAccess);
    QCOMPARE(sim.countEvents(kIp, "RETR"), 0);
    QCOMPARE(sim.countEvents(kIp, "DELE"), 0);
    QCOMPARE(rowsOf(w.localAlias, "SELECT COUNT(*) FROM lectura"), QList<QVariantList>({{0}}));
    QCOMPARE(rowsOf(w.serverAlias, "SELECT COUNT(*) FROM tickettaxis"), QList<QVariantList>({{0}}));
}

QTEST_GUILESS_MAIN(TestPointEdges)
#include "tst_pointedges.moc"
