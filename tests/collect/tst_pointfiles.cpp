// A point's files that disagree, and the recovery state that outlives alias,
// settings and folder changes: the point is asked to delete only when every
// record it holds has been stored, and no run is lost or stored twice.
#include "FileSizeLimit.h"
#include "StoredTickets.h"
#include "collect/RunOutput.h"
#include "platform/Registry.h"

#include <QDir>
#include <QTest>
#include <cerrno>
#include <cstring>

namespace {

const QString kIp = QStringLiteral("127.0.6.1");

void visit(PointHarness& h, const QString& output, const QString& ip = kIp,
           const QString& loc = QStringLiteral("L01")) {
    CycleOutput out{output};
    h.work->Descargar(ip, QStringLiteral("P"), loc, out);
    h.work->closeFtp();
}

// A run cut short at its seventh record, after the point was emptied.
void interruptedRun(CollectWorld& w, const QString& ip = kIp) {
    PointHarness h(w.localAlias, w.serverAlias);
    h.work->setProbe([](const char* name, int k) {
        if (qstrcmp(name, "record") == 0 && k == 7)
            throw Failure("storing failed");
    });
    CycleOutput out{w.outputPath()};
    QVERIFY_THROWS_EXCEPTION(
        Failure, h.work->Descargar(ip, QStringLiteral("P"), QStringLiteral("L01"), out));
    h.work->closeFtp();
    QVERIFY(flagSaved());
}

} // namespace

class TestPointFiles : public QObject {
    Q_OBJECT

private slots:
    void filesDecideTheDelete_data();
    void filesDecideTheDelete();
    void emptyCountReadKeepsTheUnconfirmedDelete();
    void oneTerminalUnderTwoAddresses();
    void runOutlivesAnAliasChange();
    void runIsRecoveredFromAnotherWorkingDirectory();
    void filesThatAreNotTheRunsAreSetAside();
    void flagFromMergedSettingsIsNotRecovered();
    void badOutputPathDeletesNothing();
    void recoveryWhoseOutputIsOutOfReach();
    void recoveryWhoseOutputWasNeverCreated();
    void cardBeyond32BitsIsNotWrapped();
    void fullDiskSaysWhy();
};

void TestPointFiles::filesDecideTheDelete_data() {
    QTest::addColumn<QByteArray>("count");   // the count file as first read
    QTest::addColumn<QByteArray>("recount"); // as read again; empty: not read again
    QTest::addColumn<QByteArray>("records"); // the record file
    QTest::addColumn<bool>("deleted");
    QTest::addColumn<int>("stored");
    QTest::addColumn<QString>("reported");
    const QByteArray five = simRecordFile(simRecords(5, 1));
    const QByteArray six = simRecordFile(simRecords(6, 1));
    QTest::newRow("empty count file") << QByteArray() << QByteArray() << five << false << 0 << "";
    QTest::newRow("count 00") << QByteArray(1, '\0') << QByteArray() << five << false << 0 << "";
    QTest::newRow("count 00 00") << simCountFile(0) << QByteArray() << five << false << 0 << "";
    QTest::newRow("files agree") << simCountFile(5) << QByteArray() << five << true << 5 << "";
    QTest::newRow("one counted record missing")
        << simCountFile(6) << QByteArray() << five << false << 5 << "5 de los 6";
    QTest::newRow("last record cut short")
        << simCountFile(6) << QByteArray() << five + QByteArray(9, '\x11') << false << 5
        << "5 de los 6";
    QTest::newRow("ticket issued between the downloads")
        << simCountFile(5) << simCountFile(6) << six << false << 5 << "de 5 a 6";
    QTest::newRow("records behind the count, seen once")
        << simCountFile(5) << simCountFile(5) << six << false << 5 << "más que la cantidad";
}

// One visit with the point's files as given, then a second with the files the
// point then serves (emptied after a delete): every record ends up stored
// once, and a point that keeps its records says why at each visit.
void TestPointFiles::filesDecideTheDelete() {
    QFETCH(QByteArray, count);
    QFETCH(QByteArray, recount);
    QFETCH(QByteArray, records);
    QFETCH(bool, deleted);
    QFETCH(int, stored);
    QFETCH(QString, reported);
    CollectWorld w;
    SimPoints sim({{kIp, {}}});
    QVERIFY(sim.started());
    sim.applyPorts();
    sim.writeServed(kIp, QStringLiteral("nroRegAsist.ras"), count);
    sim.writeServed(kIp, QStringLiteral("regAsist.ras"), records);
    if (!recount.isEmpty())
        sim.queueCountReads(kIp, {count, recount});
    PointHarness h(w.localAlias, w.serverAlias);
    visit(h, w.outputPath());
    QCOMPARE(sim.countEvents(kIp, "DELE x"), deleted ? 1 : 0);
    QCOMPARE(sim.countEvents(kIp, "RETR regAsist.ras"), countOf(count) > 0 ? 1 : 0);
    checkEachOnce(w, QStringLiteral("L01"), ticketRange(1, stored));
    QVERIFY2(h.report.status.contains(reported), qPrintable(h.report.status));
    QCOMPARE(h.report.memo.contains(QStringLiteral("[sin borrar]")), !reported.isEmpty());
    QVERIFY(!flagSaved());

    // The next visit: the point serves what it kept, its count now agreeing
    // with the whole records it holds (or still not, for a record file that
    // stays short).
    const int held = deleted ? 0 : int(records.size() / 20);
    const int counted = reported.contains(QLatin1String(" de los ")) ? countOf(count) : held;
    sim.writeServed(kIp, QStringLiteral("nroRegAsist.ras"), simCountFile(counted));
    h.report.status.clear();
    visit(h, w.outputPath());
    checkEachOnce(w, QStringLiteral("L01"), ticketRange(1, std::max(stored, held)));
    if (counted != held) // a point whose files never agree stays in view
        QVERIFY2(h.report.status.contains(reported), qPrintable(h.report.status));
}

// A delete the point refuses, then a count file read while the point rewrites
// it (empty): the records stored first must still be known at the next fetch.
void TestPointFiles::emptyCountReadKeepsTheUnconfirmedDelete() {
    CollectWorld w;
    SimPointPlan point{kIp, simRecords(6, 1)};
    point.dele = QStringLiteral("fail");
    SimPoints sim({point});
    sim.applyPorts();
    PointHarness h(w.localAlias, w.serverAlias);
    visit(h, w.outputPath());
    sim.queueCountReads(kIp, {QByteArray()});
    visit(h, w.outputPath());
    sim.serve(kIp, simRecords(6, 1) + simRecords(3, 7));
    visit(h, w.outputPath());
    checkEachOnce(w, QStringLiteral("L01"), ticketRange(1, 9));
}

// "127.0.6.1" and "127.0.6.01" are one terminal.
void TestPointFiles::oneTerminalUnderTwoAddresses() {
    CollectWorld w;
    SimPointPlan point{kIp, simRecords(4, 1)};
    point.dele = QStringLiteral("fail");
    SimPoints sim({point});
    sim.applyPorts();
    PointHarness h(w.localAlias, w.serverAlias);
    visit(h, w.outputPath());
    sim.serve(kIp, simRecords(4, 1) + simRecords(2, 5));
    visit(h, w.outputPath(), QStringLiteral("127.0.6.01"));
    QCOMPARE(sim.countEvents(kIp, "RETR regAsist.ras"), 2);
    checkEachOnce(w, QStringLiteral("L01"), ticketRange(1, 6));
}

// The operator switches the server alias to NONE after an interrupted run (the
// server is down): the run is still found, its local copies are stored before
// anything is fetched, and switching back finds nothing left to recover.
void TestPointFiles::runOutlivesAnAliasChange() {
    CollectWorld w;
    SimPoints sim({{kIp, simRecords(12, 1)}});
    sim.applyPorts();
    interruptedRun(w);
    sim.serve(kIp, simRecords(3, 100));
    {
        PointHarness h(w.localAlias, QStringLiteral("NONE"));
        visit(h, w.outputPath());
        QVERIFY(h.report.log.last().endsWith(QLatin1Char('%')));
    }
    QCOMPARE(sim.countEvents(kIp, "RETR regAsist.ras"), 1);
    QVERIFY(!flagSaved());
    const Stored s = storedTickets(w, QStringLiteral("L01"));
    QCOMPARE(s.lectura, ticketRange(1, 12));
    QCOMPARE(s.output, ticketRange(1, 12));
    PointHarness h(w.localAlias, w.serverAlias);
    visit(h, w.outputPath());
    QCOMPARE(storedTickets(w, QStringLiteral("L01")).lectura,
             ticketRange(1, 12) + ticketRange(100, 3));
}

void TestPointFiles::runIsRecoveredFromAnotherWorkingDirectory() {
    CollectWorld w;
    SimPoints sim({{kIp, simRecords(12, 1)}});
    sim.applyPorts();
    interruptedRun(w);
    const QString elsewhere = w.path(QStringLiteral("elsewhere"));
    QVERIFY(QDir().mkpath(elsewhere));
    QDir::setCurrent(elsewhere);
    PointHarness h(w.localAlias, w.serverAlias);
    visit(h, w.outputPath());
    checkEachOnce(w, QStringLiteral("L01"), ticketRange(1, 12));
    QVERIFY(!flagSaved());
}

// Local copies replaced after the run began (another station's, or put there
// by hand) are never stored for it.
void TestPointFiles::filesThatAreNotTheRunsAreSetAside() {
    CollectWorld w;
    SimPoints sim({{kIp, simRecords(12, 1)}});
    sim.applyPorts();
    interruptedRun(w);
    QVERIFY(writeLocalFiles(simRecords(4, 500)));
    PointHarness h(w.localAlias, w.serverAlias);
    visit(h, w.outputPath());
    QVERIFY2(h.report.status.contains(QStringLiteral("no son los de la descarga")),
             qPrintable(h.report.status));
    QCOMPARE(storedTickets(w, QStringLiteral("L01")).lectura, QList<int>());
    QVERIFY(!flagSaved());
    QVERIFY(!QDir().entryList({QStringLiteral("regAsist.ras.apartado-*")}).isEmpty());
}

// Settings merged from a station that was cut short bring its flag and run;
// this station keeps its own state and never recovers another's files.
void TestPointFiles::flagFromMergedSettingsIsNotRecovered() {
    CollectWorld w;
    SimPoints sim({{kIp, simRecords(3, 1)}});
    sim.applyPorts();
    {
        PointHarness h(w.localAlias, w.serverAlias);
        visit(h, w.outputPath()); // this station has a state of its own now
        h.settings.fFTPerr = true;
        h.settings.FTPloc = QStringLiteral("OTRA");
        h.settings.recovery.runId = QStringLiteral("foreign-run");
        h.settings.recovery.loc = QStringLiteral("OTRA");
        h.settings.recovery.outputPath = w.outputPath();
        h.save();
    }
    sim.serve(kIp, simRecords(2, 10));
    PointHarness h(w.localAlias, w.serverAlias);
    visit(h, w.outputPath());
    QVERIFY(h.report.log.filter(QStringLiteral("no es de esta estación")).size() == 1);
    QCOMPARE(storedTickets(w, QStringLiteral("OTRA")).lectura, QList<int>());
    checkEachOnce(w, QStringLiteral("L01"), ticketRange(1, 3) + ticketRange(10, 2));
    PointHarness after(w.localAlias, w.serverAlias);
    QVERIFY(!after.settings.fFTPerr);
}

// "Archivo:" naming a folder that does not exist fails the point before the
// delete; the cycle goes on, and once the path is mended the tickets come.
void TestPointFiles::badOutputPathDeletesNothing() {
    CollectWorld w;
    SimPoints sim({{kIp, simRecords(4, 1)}});
    sim.applyPorts();
    PointHarness h(w.localAlias, w.serverAlias);
    visit(h, w.path(QStringLiteral("no-such-folder/salida.txt")));
    QCOMPARE(sim.countEvents(kIp, "DELE x"), 0);
    QVERIFY(h.report.memo.endsWith(QStringLiteral(" FALLO\r\n")));
    QVERIFY(h.report.status.contains(QStringLiteral("no-such-folder")));
    QVERIFY(!flagSaved());
    QCOMPARE(h.report.errors, 0);
    visit(h, w.outputPath());
    checkEachOnce(w, QStringLiteral("L01"), ticketRange(1, 4));
}

// The interrupted run's output file sits in a folder that is gone (a removable
// disk): its tickets go to the databases, its lines to a side file in the
// working directory, reported at each cycle until the operator moves it.
void TestPointFiles::recoveryWhoseOutputIsOutOfReach() {
    CollectWorld w;
    SimPoints sim({{kIp, simRecords(12, 1)}});
    sim.applyPorts();
    const QString disk = w.path(QStringLiteral("disk"));
    QVERIFY(QDir().mkpath(disk));
    {
        PointHarness h(w.localAlias, w.serverAlias);
        h.work->setProbe([](const char* name, int k) {
            if (qstrcmp(name, "record") == 0 && k == 3)
                throw Failure("storing failed");
        });
        CycleOutput out{disk + QStringLiteral("/salida.txt")};
        QVERIFY_THROWS_EXCEPTION(
            Failure, h.work->Descargar(kIp, QStringLiteral("P"), QStringLiteral("L01"), out));
        h.work->closeFtp();
    }
    QVERIFY(QDir(disk).removeRecursively());
    PointHarness h(w.localAlias, w.serverAlias);
    visit(h, w.outputPath());
    QVERIFY(!flagSaved());
    const QStringList sides = QDir().entryList({QStringLiteral("salida-*.txt")});
    QCOMPARE(sides.size(), 1);
    QCOMPARE(fileLines(sides.first()).size(), 12);
    QCOMPARE(storedTickets(w, QStringLiteral("L01")).lectura, ticketRange(1, 12));
    visit(h, w.outputPath()); // the next cycle
    QVERIFY(h.report.memo.contains(sides.first()));
    QVERIFY(h.report.log.filter(QStringLiteral("muévalas")).size() == 1);
}

// The run's output file does not exist though its folder does: the lines go
// to the current cycle's file.
void TestPointFiles::recoveryWhoseOutputWasNeverCreated() {
    CollectWorld w;
    SimPoints sim({{kIp, simRecords(12, 1)}});
    sim.applyPorts();
    interruptedRun(w);
    QVERIFY(QFile::remove(w.outputPath()));
    PointHarness h(w.localAlias, w.serverAlias);
    const QString cycleFile = w.path(QStringLiteral("ciclo.txt"));
    visit(h, cycleFile);
    QCOMPARE(fileLines(cycleFile).size(), 12);
    QCOMPARE(h.report.log.last(), QStringLiteral("L01: ") + cycleFile + QLatin1Char('%'));
}

// A TARJETA beyond a 32-bit integer is stored as 0 and said, never wrapped.
void TestPointFiles::cardBeyond32BitsIsNotWrapped() {
    CollectWorld w;
    SimPoints sim({{kIp, simRecords(1, 1)}});
    sim.applyPorts();
    PointHarness h(w.localAlias, w.serverAlias);
    addPerson(w.localAlias, 100, QStringLiteral("ANA"), QStringLiteral("ROJAS"), 1);
    rowsOf(w.localAlias, "UPDATE personal SET TARJETA = 3000000000 WHERE CODIGO = 100");
    visit(h, w.outputPath());
    QCOMPARE(rowsOf(w.serverAlias, "SELECT TARJETA FROM tickettaxis").at(0).at(0).toLongLong(), 0);
    QCOMPARE(fileLines(w.outputPath()).at(0).section(QLatin1Char(','), 8, 8),
             QStringLiteral("0000000"));
    QVERIFY(!h.report.log.filter(QStringLiteral("CODIGO 100")).isEmpty());
}

// A full disk gives the system's reason, not "Unknown error".
void TestPointFiles::fullDiskSaysWhy() {
    QTemporaryDir dir;
    RunOutput out(dir.filePath(QStringLiteral("salida.txt")), 0);
    FileSizeLimit limit(1000);
    for (int i = 0; i < 100; ++i)
        out.writeLine(QString(60, QLatin1Char('x')));
    try {
        out.finish();
        QFAIL("the write past the limit went through");
    } catch (const Exception& error) {
        QVERIFY2(!error.message().contains(QStringLiteral("Unknown error")),
                 qPrintable(error.message()));
        QVERIFY2(error.message().contains(QString::fromLocal8Bit(std::strerror(EFBIG))),
                 qPrintable(error.message()));
    }
}

QTEST_GUILESS_MAIN(TestPointFiles)
#include "tst_pointfiles.moc"
