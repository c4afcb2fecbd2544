// One point's work against simulated points and real databases: what each
// store receives, the marks and texts, failures of the transfer, and exactly
// once when a run is cut short.
#include "PostgresBackend.h"
#include "SimPoints.h"
#include "StoredTickets.h"
#include "collect/Ticket.h"
#include "platform/Registry.h"
#include "store/OffLoop.h"

#include <QFile>
#include <QFileInfo>
#include <QTest>
#include <QThread>
#include <QTimeZone>
#include <stdexcept>

namespace {

const QString kIp = QStringLiteral("127.0.2.1");

quint32 secondsSince1980(int y, int mo, int d, int h, int mi, int s) {
    const QDateTime epoch(QDate(1980, 1, 1), QTime(0, 0), Qt::UTC);
    return static_cast<quint32>(epoch.secsTo(QDateTime(QDate(y, mo, d), QTime(h, mi, s), Qt::UTC)));
}

// The record of the examples: code 123 on 2024-03-05 07:30:15, 12.5, account
// 1234, cost centre 42, ticket 987.
SimRecord exampleRecord(qint32 codigo = 123) {
    return {codigo, secondsSince1980(2024, 3, 5, 7, 30, 15), 125, 1234, 987, 42};
}

} // namespace

class TestPointWork : public QObject {
    Q_OBJECT

private slots:
    void storesEachFieldInEveryStore();
    void outputIsWindows1252();
    void storesOnPostgresToo();
    void completionMarks_data();
    void completionMarks();
    void laterPointsOfAnOverwritingCycleAppend();
    void serverNoneLeavesTheServerOut();
    void oneDatabaseForBothAliases();
    void countZeroWithoutLocalRecordFile();
    void oddFilesStoreWhatTheyHold_data();
    void oddFilesStoreWhatTheyHold();
    void doubtfulTransferSendsNoDelete_data();
    void doubtfulTransferSendsNoDelete();
    void unconfirmedDeleteIsNotStoredAgain_data();
    void unconfirmedDeleteIsNotStoredAgain();
    void failureAtRecordThenRecovery_data();
    void failureAtRecordThenRecovery();
    void failureOnPostgresThenRecovery();
    void flagOfAnOlderStationIsRecovered();
    void journalIsAddedToAnOlderDatabase();
    void runStateThatCannotBeSaved_data();
    void runStateThatCannotBeSaved();
    void overwritingCycleEmptiesBeforeRecoveredLines();
    void olderFlagStaysWhenItsRunCannotBeSaved();
    void eventLoopIsServedWhileStoring();
};

void TestPointWork::storesEachFieldInEveryStore() {
    CollectWorld w;
    SimPoints sim({{kIp, {exampleRecord(), exampleRecord(999)}}});
    QVERIFY(sim.started());
    sim.applyPorts();
    PointHarness h(w.localAlias, w.serverAlias);
    addPerson(w.localAlias, 123, QStringLiteral("ANA"), QStringLiteral("ROJAS"), 5678);
    CycleOutput out{w.outputPath()};
    h.work->Descargar(kIp, QStringLiteral("Planta"), QStringLiteral("L01"), out);

    QCOMPARE(fileLines(w.outputPath()),
             QStringList(
                 {"L01,00123,ANA ROJAS,2024/03/05,07:30:15,12.50,0001234,00042,0005678,000000987",
                  "L01,00999,,2024/03/05,07:30:15,12.50,0001234,00042,0000000,000000987"}));
    const QList<QVariantList> lectura = rowsOf(
        w.localAlias,
        "SELECT Codigo, Hora, Fecha, Loc, Cta, NroTicket, Origen FROM lectura ORDER BY rowid");
    QCOMPARE(lectura.size(), 2);
    QCOMPARE(lectura.at(0),
             QVariantList({123, "07:30:00.000", "2024-03-05", 125, 1234, 987, "L01"}));
    const QList<QVariantList> bak =
        rowsOf(w.localAlias, "SELECT Hora FROM lecturaBAK ORDER BY rowid");
    QCOMPARE(bak.at(0).at(0).toString(), QStringLiteral("07:30:15.000"));
    const QList<QVariantList> server =
        rowsOf(w.serverAlias, "SELECT ORIGEN, LEGAJO, NOMBRES, FECHA, IMPORTE, CUENTA, CECO, "
                              "TARJETA, TICKET, VERIFICADO FROM tickettaxis ORDER BY rowid");
    QCOMPARE(server.size(), 2);
    QCOMPARE(server.at(0), QVariantList({"L01", 123, "ANA ROJAS", "2024-03-05 07:30:15.000", 12.5,
                                         1234, 42, 5678, 987, 0}));
    QCOMPARE(server.at(1).at(2).toString(), QString());
    QCOMPARE(server.at(1).at(7).toInt(), 0);

    QCOMPARE(h.report.memo, QStringLiteral("   Planta... 2 registro(s).\r\n"));
    QCOMPARE(h.report.log.first(), QStringLiteral("FTP: Conectando con 127.0.2.1 (Planta) ..."));
    QCOMPARE(h.report.log.last(), QStringLiteral("L01: ") + w.outputPath());
    QCOMPARE(h.report.logCounts.last(), std::optional<int>(2));
    QCOMPARE(sim.countEvents(kIp, "DELE x"), 1);
    QVERIFY(QFile::exists(QStringLiteral("regOrf.txt")));
    QVERIFY(QFile::exists(QStringLiteral("regAsist.ras")));
    QVERIFY(!flagSaved());
}

// Names go to the output file in Windows-1252, one byte per letter.
void TestPointWork::outputIsWindows1252() {
    CollectWorld w;
    SimPoints sim({{kIp, {exampleRecord(124)}}});
    sim.applyPorts();
    PointHarness h(w.localAlias, w.serverAlias);
    addPerson(w.localAlias, 124, QStringLiteral("ÑANDÚ"), QStringLiteral("PEÑA"), 1);
    CycleOutput out{w.outputPath()};
    h.work->Descargar(kIp, QStringLiteral("P"), QStringLiteral("Ñ01"), out);
    QCOMPARE(fileBytes(w.outputPath()), QByteArray("\xd1"
                                                   "01,00124,\xd1"
                                                   "AND\xda PE\xd1"
                                                   "A,2024/03/05,07:30:15,12.50,0001234,"
                                                   "00042,0000001,000000987\r\n"));
}

void TestPointWork::storesOnPostgresToo() {
    if (qEnvironmentVariableIsEmpty("KIVO_TEST_PG"))
        QSKIP("KIVO_TEST_PG is not set");
    CollectWorld w(true);
    const QString ip = QStringLiteral("127.0.2.41"); // the shared server knows points by address
    const int first = freshFirstTicket();
    SimPoints sim({{ip, simRecords(30, first)}});
    QVERIFY(sim.started());
    sim.applyPorts();
    PointHarness h(w.localAlias, w.serverAlias);
    const QString loc = QStringLiteral("pg%1").arg(QCoreApplication::applicationPid());
    CycleOutput out{w.outputPath()};
    h.work->Descargar(ip, QStringLiteral("P"), loc, out);
    checkEachOnce(w, loc, ticketRange(first, 30));
    const QList<QVariantList> one = rowsOf(
        w.serverAlias,
        QStringLiteral("SELECT IMPORTE FROM dbo.tickettaxis WHERE ORIGEN = '%1' AND TICKET = %2")
            .arg(loc)
            .arg(first));
    QCOMPARE(one.at(0).at(0).toDouble(), 1.0);
}

void TestPointWork::completionMarks_data() {
    QTest::addColumn<bool>("fileBefore");
    QTest::addColumn<bool>("overwrite");
    QTest::addColumn<QString>("mark");
    QTest::addColumn<int>("linesAfter");
    QTest::newRow("append, no file yet: created, no mark") << false << false << "" << 3;
    QTest::newRow("append to an existing file: *") << true << false << "*" << 4;
    QTest::newRow("overwrite: emptied, no mark") << true << true << "" << 3;
}

void TestPointWork::completionMarks() {
    QFETCH(bool, fileBefore);
    QFETCH(bool, overwrite);
    QFETCH(QString, mark);
    QFETCH(int, linesAfter);
    CollectWorld w;
    SimPoints sim({{kIp, simRecords(3)}});
    sim.applyPorts();
    if (fileBefore) {
        QFile f(w.outputPath());
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("X01,old line\r\n");
    }
    PointHarness h(w.localAlias, w.serverAlias);
    CycleOutput out{w.outputPath(), overwrite};
    h.work->Descargar(kIp, QStringLiteral("P"), QStringLiteral("L07"), out);
    QCOMPARE(h.report.log.last(), QStringLiteral("L07: ") + w.outputPath() + mark);
    QCOMPARE(fileLines(w.outputPath()).size(), linesAfter);
}

void TestPointWork::laterPointsOfAnOverwritingCycleAppend() {
    CollectWorld w;
    const QString ip2 = QStringLiteral("127.0.2.2");
    SimPoints sim({{kIp, simRecords(2, 1)}, {ip2, simRecords(3, 10)}});
    sim.applyPorts();
    {
        QFile f(w.outputPath());
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("X01,from an earlier cycle\r\n");
    }
    PointHarness h(w.localAlias, w.serverAlias);
    CycleOutput out{w.outputPath(), true};
    h.work->Descargar(kIp, QStringLiteral("A"), QStringLiteral("A01"), out);
    h.work->closeFtp();
    h.work->Descargar(ip2, QStringLiteral("B"), QStringLiteral("B01"), out);
    QCOMPARE(fileLines(w.outputPath()).size(), 5);
    QCOMPARE(h.report.log.last(), QStringLiteral("B01: ") + w.outputPath());
}

void TestPointWork::serverNoneLeavesTheServerOut() {
    CollectWorld w;
    w.serverAlias = QStringLiteral("NONE");
    SimPoints sim({{kIp, simRecords(4)}});
    sim.applyPorts();
    PointHarness h(w.localAlias, w.serverAlias);
    CycleOutput out{w.outputPath()};
    h.work->Descargar(kIp, QStringLiteral("P"), QStringLiteral("L01"), out);
    checkEachOnce(w, QStringLiteral("L01"), ticketRange(1, 4), false);
    QVERIFY(!QFile::exists(w.path(QStringLiteral("data/kivo-ip/NONE.sqlite"))));
    QVERIFY(!QFile::exists(w.path(QStringLiteral("data/kivo-ip/JUXRegs.sqlite"))));
}

void TestPointWork::oneDatabaseForBothAliases() {
    CollectWorld w;
    w.serverAlias = w.localAlias;
    w.session.DeclareAlias(w.localAlias, AliasKind::Server);
    SimPoints sim({{kIp, simRecords(4)}});
    sim.applyPorts();
    {
        PointHarness h(w.localAlias, w.serverAlias);
        h.work->setProbe([](const char* name, int) {
            if (qstrcmp(name, "between-commits") == 0)
                throw Failure("cut short");
        });
        CycleOutput out{w.outputPath()};
        QVERIFY_THROWS_EXCEPTION(
            Failure, h.work->Descargar(kIp, QStringLiteral("P"), QStringLiteral("L01"), out));
    }
    PointHarness h(w.localAlias, w.serverAlias);
    CycleOutput out{w.outputPath()};
    h.work->Descargar(kIp, QStringLiteral("P"), QStringLiteral("L01"), out);
    checkEachOnce(w, QStringLiteral("L01"), ticketRange(1, 4));
}

void TestPointWork::countZeroWithoutLocalRecordFile() {
    CollectWorld w;
    SimPoints sim({{kIp, {}}});
    sim.applyPorts();
    PointHarness h(w.localAlias, w.serverAlias);
    CycleOutput out{w.outputPath()};
    h.work->Descargar(kIp, QStringLiteral("P"), QStringLiteral("L01"), out);
    QCOMPARE(h.report.memo, QStringLiteral("   P... 0 registro(s).\r\n"));
    QCOMPARE(h.report.logCounts.last(), std::optional<int>(0));
    QCOMPARE(sim.countEvents(kIp, "RETR regAsist.ras"), 0);
    QVERIFY(!QFile::exists(QStringLiteral("regAsist.ras")));
    QVERIFY(!flagSaved());
}

void TestPointWork::oddFilesStoreWhatTheyHold_data() {
    QTest::addColumn<QString>("broken");
    QTest::addColumn<int>("expected"); // -1: as many as the bytes hold
    QTest::newRow("stray bytes after the counted records") << "long" << 5;
    QTest::newRow("both files empty") << "empty" << 0;
    QTest::newRow("garbage") << "garbage" << -1;
}

// Whatever the files hold, the run ends, stores each whole record once in
// every store and leaves no recovery behind.
void TestPointWork::oddFilesStoreWhatTheyHold() {
    QFETCH(QString, broken);
    QFETCH(int, expected);
    CollectWorld w;
    SimPoints sim({{kIp, simRecords(5), broken}});
    sim.applyPorts();
    const QByteArray served = sim.served(kIp, QStringLiteral("regAsist.ras"));
    const int count = countOf(sim.served(kIp, QStringLiteral("nroRegAsist.ras")));
    if (expected < 0)
        expected = std::min<int>(count, served.size() / 20);
    PointHarness h(w.localAlias, w.serverAlias);
    CycleOutput out{w.outputPath()};
    h.work->Descargar(kIp, QStringLiteral("P"), QStringLiteral("L01"), out);
    const Stored s = storedTickets(w, QStringLiteral("L01"));
    QCOMPARE(s.lectura.size(), expected);
    QCOMPARE(s.lecturaBak, s.lectura);
    QCOMPARE(s.server, s.lectura);
    QCOMPARE(s.output, s.lectura);
    QVERIFY(!flagSaved());
    QCOMPARE(h.report.errors, 0);
}

void TestPointWork::doubtfulTransferSendsNoDelete_data() {
    QTest::addColumn<QString>("retr");
    QTest::addColumn<QString>("broken");
    QTest::newRow("record file stalls") << "stall"
                                        << "";
    QTest::newRow("record file missing") << "ok"
                                         << "missing";
    QTest::newRow("cut short with 426") << "cut"
                                        << "";
}

void TestPointWork::doubtfulTransferSendsNoDelete() {
    QFETCH(QString, retr);
    QFETCH(QString, broken);
    CollectWorld w;
    SimPointPlan point{kIp, simRecords(2000), broken};
    point.retr = retr;
    SimPoints sim({point});
    sim.applyPorts();
    const QByteArray before = sim.served(kIp, QStringLiteral("regAsist.ras"));
    PointHarness h(w.localAlias, w.serverAlias, 1500);
    if (broken == QLatin1String("missing")) // nothing served: the count file fails first
        QVERIFY(!QFile::exists(sim.pointDir(kIp) + QStringLiteral("/served/nroRegAsist.ras")));
    CycleOutput out{w.outputPath()};
    h.work->Descargar(kIp, QStringLiteral("P"), QStringLiteral("L01"), out);
    QCOMPARE(sim.countEvents(kIp, "DELE x"), 0);
    QCOMPARE(h.report.memo, QStringLiteral("   P... FALLO\r\n"));
    QCOMPARE(storedTickets(w, QStringLiteral("L01")).lectura, QList<int>());
    QCOMPARE(sim.served(kIp, QStringLiteral("regAsist.ras")), before);
    QVERIFY(!flagSaved());
}

void TestPointWork::unconfirmedDeleteIsNotStoredAgain_data() {
    QTest::addColumn<QString>("dele");
    QTest::newRow("delete refused") << "fail";
    QTest::newRow("delete done, reply lost") << "drop";
}

// The point kept (or may have kept) the records of a run whose delete was not
// confirmed; at the next fetch they are recognised and only the new ones stored.
void TestPointWork::unconfirmedDeleteIsNotStoredAgain() {
    QFETCH(QString, dele);
    CollectWorld w;
    SimPointPlan point{kIp, simRecords(6, 1)};
    point.dele = dele;
    SimPoints sim({point});
    sim.applyPorts();
    {
        PointHarness h(w.localAlias, w.serverAlias, 3000);
        CycleOutput out{w.outputPath()};
        h.work->Descargar(kIp, QStringLiteral("P"), QStringLiteral("L01"), out);
        h.work->closeFtp();
    }
    checkEachOnce(w, QStringLiteral("L01"), ticketRange(1, 6));
    // The point goes on: what it kept plus three new records.
    QList<SimRecord> now = dele == QLatin1String("fail") ? simRecords(6, 1) : QList<SimRecord>();
    now += simRecords(3, 7);
    sim.serve(kIp, now);
    PointHarness h(w.localAlias, w.serverAlias, 3000); // a restarted station
    CycleOutput out{w.outputPath()};
    h.work->Descargar(kIp, QStringLiteral("P"), QStringLiteral("L01"), out);
    checkEachOnce(w, QStringLiteral("L01"), ticketRange(1, 9));
}

void TestPointWork::failureAtRecordThenRecovery_data() {
    QTest::addColumn<QString>("step");
    QTest::addColumn<int>("record");
    QTest::newRow("first record") << "record" << 0;
    QTest::newRow("record 7") << "record" << 7;
    QTest::newRow("last record") << "record" << 19;
    QTest::newRow("before the commits") << "before-commits" << -1;
    QTest::newRow("between the commits") << "between-commits" << -1;
    QTest::newRow("after the commits") << "after-commits" << -1;
    QTest::newRow("before the flag is cleared") << "before-clear" << -1;
}

void TestPointWork::failureAtRecordThenRecovery() {
    QFETCH(QString, step);
    QFETCH(int, record);
    CollectWorld w;
    SimPoints sim({{kIp, simRecords(20, 1)}});
    sim.applyPorts();
    {
        PointHarness h(w.localAlias, w.serverAlias);
        h.work->setProbe([&](const char* name, int k) {
            if (step == QLatin1String(name) && k == record)
                throw Failure("storing failed");
        });
        CycleOutput out{w.outputPath()};
        QVERIFY_THROWS_EXCEPTION(
            Failure, h.work->Descargar(kIp, QStringLiteral("P"), QStringLiteral("L01"), out));
    }
    QVERIFY(flagSaved());
    QCOMPARE(sim.served(kIp, QStringLiteral("nroRegAsist.ras")), simCountFile(0));
    PointHarness h(w.localAlias, w.serverAlias);
    CycleOutput out{w.path(QStringLiteral("other.txt"))};
    h.work->Descargar(QStringLiteral("127.0.2.9"), QStringLiteral("Q"), QStringLiteral("Q01"), out);
    checkEachOnce(w, QStringLiteral("L01"), ticketRange(1, 20));
    QVERIFY(h.report.log.last().endsWith(QLatin1Char('%')));
    QCOMPARE(
        h.report.memo,
        QStringLiteral("   Recuperando registros de anterior descarga... 20 registro(s).\r\n"));
    QVERIFY(h.report.status.startsWith(QStringLiteral("Registros recuperados con exito. ")));
    QVERIFY(!QFile::exists(w.path(QStringLiteral("other.txt")))); // the run's own file
    QVERIFY(!flagSaved());
}

void TestPointWork::failureOnPostgresThenRecovery() {
    if (qEnvironmentVariableIsEmpty("KIVO_TEST_PG"))
        QSKIP("KIVO_TEST_PG is not set");
    CollectWorld w(true);
    const QString ip = QStringLiteral("127.0.2.42");
    SimPoints sim({{ip, {}}});
    sim.applyPorts();
    const QString loc = QStringLiteral("pk%1").arg(QCoreApplication::applicationPid());
    const QStringList ways{QStringLiteral("record"), QStringLiteral("between-commits"),
                           QStringLiteral("server stopped")};
    QList<int> tickets;
    for (const QString& way : ways) {
        const int first = freshFirstTicket() + 100 * int(tickets.size());
        sim.serve(ip, simRecords(12, first));
        tickets += ticketRange(first, 12);
        {
            PointHarness h(w.localAlias, w.serverAlias);
            h.work->setProbe([&](const char* name, int k) {
                if (way == QLatin1String("server stopped") && k == 5)
                    QVERIFY(
                        terminatePostgresBackend(TSession::current().connectionFor(w.serverAlias)));
                else if (way == QLatin1String(name) && k <= 5)
                    throw Failure("storing failed");
            });
            CycleOutput out{w.outputPath()};
            bool thrown = false;
            try {
                h.work->Descargar(ip, QStringLiteral("P"), loc, out);
            } catch (const std::exception&) {
                thrown = true;
            }
            QVERIFY2(thrown, qPrintable(way + QLatin1Char(' ') + h.report.memo + h.report.status));
        }
        PointHarness h(w.localAlias, w.serverAlias);
        CycleOutput out{w.outputPath()};
        h.work->Descargar(ip, QStringLiteral("P"), loc, out);
        QVERIFY(!flagSaved());
    }
    checkEachOnce(w, loc, tickets);
    rowsOf(w.serverAlias,
           QStringLiteral("DELETE FROM dbo.tickettaxis WHERE ORIGEN = '%1'").arg(loc));
}

// A key saved by a station without run identities: the flag still recovers.
void TestPointWork::flagOfAnOlderStationIsRecovered() {
    CollectWorld w;
    SimPoints sim({{kIp, simRecords(3, 1)}});
    sim.applyPorts();
    {
        QVERIFY(writeLocalFiles(simRecords(2, 50)));
        PointHarness h(w.localAlias, w.serverAlias);
        h.settings.fFTPerr = true;
        h.settings.FTPloc = QStringLiteral("OLD");
        h.save();
        TRegistry r;
        QVERIFY(r.OpenKey(settingsKey(w.serverAlias), false));
        r.WriteString(QStringLiteral("FTPrun"), QString());
    }
    PointHarness h(w.localAlias, w.serverAlias);
    CycleOutput out{w.outputPath()};
    h.work->Descargar(kIp, QStringLiteral("P"), QStringLiteral("L01"), out);
    checkEachOnce(w, QStringLiteral("OLD"), {50, 51});
    QCOMPARE(sim.countEvents(kIp, "RETR"), 0);
}

// Databases made before the journal and the schema version existed get them
// when first used, and nothing else of them changes.
void TestPointWork::journalIsAddedToAnOlderDatabase() {
    CollectWorld w;
    SimPoints sim({{kIp, simRecords(3, 1)}});
    sim.applyPorts();
    for (const QString& alias : {w.localAlias, w.serverAlias}) {
        rowsOf(alias, "DROP TABLE kivo_runs");
        rowsOf(alias, "DROP TABLE kivo_schema");
    }
    PointHarness h(w.localAlias, w.serverAlias);
    CycleOutput out{w.outputPath()};
    h.work->Descargar(kIp, QStringLiteral("P"), QStringLiteral("L01"), out);
    checkEachOnce(w, QStringLiteral("L01"), ticketRange(1, 3));
    QCOMPARE(rowsOf(w.localAlias, "SELECT store, loc, record_count FROM kivo_runs"),
             QList<QVariantList>({{"local", "L01", 3}}));
    QCOMPARE(rowsOf(w.serverAlias, "SELECT store, loc, record_count FROM kivo_runs"),
             QList<QVariantList>({{"server", "L01", 3}}));
}

void TestPointWork::runStateThatCannotBeSaved_data() {
    QTest::addColumn<int>("failSavesFrom");
    QTest::addColumn<bool>("pointKeepsThem");
    QTest::newRow("when the run starts") << 1 << true;
    QTest::newRow("when the run ends") << 2 << false;
}

// The registry stops taking the recovery state, the station goes on visiting
// the point and is then restarted with the registry mended: what was on disk
// must match what was done, so each ticket ends up once.
void TestPointWork::runStateThatCannotBeSaved() {
    QFETCH(int, failSavesFrom);
    QFETCH(bool, pointKeepsThem);
    const QString ip = QStringLiteral("127.0.5.1");
    CollectWorld w;
    SimPoints sim({{ip, simRecords(6, 1)}});
    sim.applyPorts();
    {
        PointHarness h(w.localAlias, w.serverAlias, 3000);
        h.failSavesFrom = failSavesFrom;
        CycleOutput out{w.outputPath()};
        QVERIFY_THROWS_EXCEPTION(
            std::exception, h.work->Descargar(ip, QStringLiteral("P"), QStringLiteral("L01"), out));
        h.work->closeFtp();
        QCOMPARE(sim.countEvents(ip, "DELE x"), pointKeepsThem ? 0 : 1);
        QList<SimRecord> now = pointKeepsThem ? simRecords(6, 1) : QList<SimRecord>();
        now += simRecords(3, 7);
        sim.serve(ip, now);
        // The next point of the cycle, the registry still broken.
        try {
            h.work->Descargar(ip, QStringLiteral("P"), QStringLiteral("L01"), out);
        } catch (const std::exception&) {
        }
        h.work->closeFtp();
    }
    PointHarness h(w.localAlias, w.serverAlias, 3000); // restarted, registry mended
    for (int call = 0; call < 2; ++call) {
        CycleOutput out{w.outputPath()};
        h.work->Descargar(ip, QStringLiteral("P"), QStringLiteral("L01"), out);
        h.work->closeFtp();
    }
    checkEachOnce(w, QStringLiteral("L01"), ticketRange(1, 9));
    QVERIFY(!flagSaved());
}

// A manual cycle with "Sobrescribir" whose first stored records are those of
// a run recovered into the same file: the file is emptied before them, once,
// and the later points append.
void TestPointWork::overwritingCycleEmptiesBeforeRecoveredLines() {
    const QString ipA = QStringLiteral("127.0.5.3"), ipB = QStringLiteral("127.0.5.4");
    CollectWorld w;
    SimPoints sim({{ipA, simRecords(2, 1)}, {ipB, simRecords(3, 10)}});
    sim.applyPorts();
    {
        PointHarness h(w.localAlias, w.serverAlias);
        CycleOutput first{w.outputPath(), true};
        h.work->Descargar(ipA, QStringLiteral("A"), QStringLiteral("A01"), first);
        h.work->closeFtp();
        h.work->setProbe([](const char* name, int k) {
            if (qstrcmp(name, "record") == 0 && k == 1)
                throw Failure("storing failed");
        });
        QVERIFY_THROWS_EXCEPTION(
            Failure, h.work->Descargar(ipB, QStringLiteral("B"), QStringLiteral("B01"), first));
        h.work->closeFtp();
    }
    sim.serve(ipA, simRecords(2, 20));
    PointHarness h(w.localAlias, w.serverAlias);
    CycleOutput second{w.outputPath(), true};
    h.work->Descargar(ipA, QStringLiteral("A"), QStringLiteral("A01"), second); // recovers B01
    h.work->closeFtp();
    h.work->Descargar(ipA, QStringLiteral("A"), QStringLiteral("A01"), second);
    QCOMPARE(storedTickets(w, QStringLiteral("B01")).output, ticketRange(10, 3));
    QCOMPARE(storedTickets(w, QStringLiteral("A01")).output, ticketRange(20, 2));
    QCOMPARE(fileLines(w.outputPath()).size(), 5);
    QVERIFY(!flagSaved());
}

// The flag of an older station gets a run identity when it is recovered; a
// save that fails then must leave the flag as it was, not drop the records.
void TestPointWork::olderFlagStaysWhenItsRunCannotBeSaved() {
    const QString ip = QStringLiteral("127.0.5.5");
    CollectWorld w;
    SimPoints sim({{ip, simRecords(3, 1)}});
    sim.applyPorts();
    QVERIFY(writeLocalFiles(simRecords(2, 50)));
    PointHarness h(w.localAlias, w.serverAlias);
    h.settings.fFTPerr = true;
    h.settings.FTPloc = QStringLiteral("OLD");
    h.failSavesFrom = 1;
    CycleOutput out{w.outputPath()};
    QVERIFY_THROWS_EXCEPTION(
        std::exception, h.work->Descargar(ip, QStringLiteral("P"), QStringLiteral("L01"), out));
    QVERIFY(h.settings.fFTPerr);
    h.failSavesFrom = 0;
    h.work->Descargar(ip, QStringLiteral("P"), QStringLiteral("L01"), out);
    checkEachOnce(w, QStringLiteral("OLD"), {50, 51});
    QCOMPARE(sim.countEvents(ip, "RETR"), 0);
}

QTEST_GUILESS_MAIN(TestPointWork)
// The storing run leaves the event loop free: a call queued to it in the
// middle of the run is served before the run goes on, and that call cannot
// start a second run.
void TestPointWork::eventLoopIsServedWhileStoring() {
    CollectWorld w;
    SimPoints sim({{kIp, simRecords(50)}});
    sim.applyPorts();
    PointHarness h(w.localAlias, w.serverAlias);
    std::atomic<bool> served = false, secondRefused = false;
    h.work->setProbe([&](const char* name, int k) {
        if (qstrcmp(name, "record") != 0 || k != 10)
            return;
        QMetaObject::invokeMethod(
            qApp,
            [&] {
                try {
                    runOffTheEventLoop([] {});
                } catch (const Exception&) {
                    secondRefused = true;
                }
                served = true;
            },
            Qt::QueuedConnection);
        QDeadlineTimer deadline(5000);
        while (!served && !deadline.hasExpired())
            QThread::yieldCurrentThread();
    });
    CycleOutput out{w.outputPath()};
    h.work->Descargar(kIp, QStringLiteral("P"), QStringLiteral("L01"), out);
    QVERIFY(served);
    QVERIFY(secondRefused);
    checkEachOnce(w, QStringLiteral("L01"), ticketRange(1, 50));
}

#include "tst_pointwork.moc"
