// Pushing the personnel and cost-centre lists to a simulated point: what it
// receives, the limits, and a point that is switched off.
#include "CollectWorld.h"
#include "SimPoints.h"
#include "collect/ParamMessage.h"

#include <QTcpServer>
#include <QTest>

namespace {
const QString kIp = QStringLiteral("127.0.2.1");
}

class TestPointSync : public QObject {
    Q_OBJECT

private slots:
    void pushAcceptedByThePoint();
    void badPersonnelRowIsLeftOut_data();
    void badPersonnelRowIsLeftOut();
    void tooManyPeopleSendsNothing();
    void switchedOffPointFails();
    void unreachedPointGetsNoPush_data();
    void unreachedPointGetsNoPush();
};

void TestPointSync::pushAcceptedByThePoint() {
    CollectWorld w;
    SimPoints sim({{kIp, {}}});
    sim.applyPorts();
    PointHarness h(w.localAlias, w.serverAlias);
    addPerson(w.localAlias, 7, QStringLiteral("ANA"), QStringLiteral("PAZ"), -2, true, 70000);
    addPerson(w.localAlias, 8, QStringLiteral("NO"), QStringLiteral("TAXI"), 3, false);
    addPerson(w.localAlias, 9, QStringLiteral("MUÑOZ"), QStringLiteral("Ñ"), 4);
    rowsOf(w.localAlias, "INSERT INTO ceco (CECO, OVERTIME, VIAJES) VALUES (-1, 2, 3)");
    h.work->sincronizarPar(kIp, QStringLiteral("Planta"), QStringLiteral("L01"));
    QTRY_COMPARE(sim.messages(kIp).size(), 1);
    const QList<PersonEntry> people{{-2, "ANA PAZ", 70000, 7}, {4, "MU\xd1OZ \xd1", 1, 9}};
    QCOMPARE(sim.messages(kIp).first(), parameterMessage(people, {{-1, 2, 3}}));
    QVERIFY(sim.events(kIp).last().startsWith(QStringLiteral("PARAM OK 2 1")));
    QCOMPARE(h.report.memo, QStringLiteral("    - Sinc Planta... OK.\r\n"));
    QCOMPARE(h.report.log, QStringList{QStringLiteral("L01: Sinc. OK")});
}

void TestPointSync::badPersonnelRowIsLeftOut_data() {
    QTest::addColumn<QString>("change");
    QTest::newRow("text in TARJETA") << "TARJETA = 'ABC'";
    QTest::newRow("text in GRUPO") << "GRUPO = 'X'";
    QTest::newRow("TARJETA beyond 32 bits") << "TARJETA = 3000000000";
}

// One bad row is named in the log; the others still reach the point.
void TestPointSync::badPersonnelRowIsLeftOut() {
    QFETCH(QString, change);
    CollectWorld w;
    SimPoints sim({{kIp, {}}});
    sim.applyPorts();
    PointHarness h(w.localAlias, w.serverAlias);
    addPerson(w.localAlias, 7, QStringLiteral("ANA"), QStringLiteral("PAZ"), 5);
    addPerson(w.localAlias, 8, QStringLiteral("MALA"), QStringLiteral("FILA"), 6);
    rowsOf(w.localAlias, "UPDATE personal SET " + change + " WHERE CODIGO = 8");
    h.work->sincronizarPar(kIp, QStringLiteral("Planta"), QStringLiteral("L01"));
    QTRY_COMPARE(sim.messages(kIp).size(), 1);
    QCOMPARE(sim.messages(kIp).first(), parameterMessage({{5, "ANA PAZ", 1, 7}}, {}));
    QCOMPARE(h.report.log.filter(QStringLiteral("CODIGO 8")).size(), 1);
    QCOMPARE(h.report.log.last(), QStringLiteral("L01: Sinc. OK"));
}

void TestPointSync::tooManyPeopleSendsNothing() {
    CollectWorld w;
    SimPoints sim({{kIp, {}}});
    sim.applyPorts();
    PointHarness h(w.localAlias, w.serverAlias);
    rowsOf(w.localAlias,
           "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 751) "
           "INSERT INTO personal (CODIGO, NOMBRES, APELLIDOS, TARJETA, GRUPO, SERV_TAXI) "
           "SELECT i, 'N', 'A', i, 1, 1 FROM n");
    h.work->sincronizarPar(kIp, QStringLiteral("Planta"), QStringLiteral("L01"));
    QCOMPARE(h.report.memo, QStringLiteral("    - Sinc Planta... FALLO\r\n"));
    QCOMPARE(h.report.status,
             QStringLiteral("ERROR: el tamaño de la tabla Personal excede el máximo permitido."));
    QVERIFY(h.report.log.isEmpty());
    QTest::qWait(200);
    QCOMPARE(sim.messages(kIp).size(), 0);
}

void TestPointSync::switchedOffPointFails() {
    CollectWorld w;
    SimPoints sim({{kIp, {}}});
    sim.applyPorts();
    PointHarness h(w.localAlias, w.serverAlias);
    h.sock.TimeOut = 1000;
    h.work->sincronizarPar(QStringLiteral("127.0.2.77"), QStringLiteral("Apagado"),
                           QStringLiteral("L09"));
    QCOMPARE(h.report.memo, QStringLiteral("    - Sinc Apagado... FALLO\r\n"));
    QCOMPARE(h.report.log, QStringList{QStringLiteral("L09: Sinc. FALLO")});
}

void TestPointSync::unreachedPointGetsNoPush_data() {
    QTest::addColumn<int>("atOnce");
    QTest::addColumn<QString>("push");
    QTest::addColumn<int>("messages");
    QTest::newRow("one at a time: the push is tried") << 1 << "OK." << 1;
    QTest::newRow("four at once: the push waits for a visit that reaches it") << 4 << "FALLO" << 0;
}

// A point whose FTP port refuses the connection while its parameter port
// listens: above one point at once its push is skipped and said failed.
void TestPointSync::unreachedPointGetsNoPush() {
    QFETCH(int, atOnce);
    QFETCH(QString, push);
    QFETCH(int, messages);
    CollectWorld w;
    SimPoints sim({{kIp, {}}});
    sim.applyPorts();
    QTcpServer closed;
    QVERIFY(closed.listen(QHostAddress(kIp)));
    qputenv("KIVO_FTP_PORT", QByteArray::number(closed.serverPort()));
    closed.close();
    PointHarness h(w.localAlias, w.serverAlias);
    h.pointsAtOnce = atOnce;
    CycleOutput output{w.outputPath()};
    h.work->Descargar(kIp, QStringLiteral("Planta"), QStringLiteral("L01"), output);
    h.work->sincronizarPar(kIp, QStringLiteral("Planta"), QStringLiteral("L01"));
    QCOMPARE(h.report.memo,
             QStringLiteral("   Planta... FALLO\r\n    - Sinc Planta... %1\r\n").arg(push));
    QCOMPARE(h.report.log.last(),
             QStringLiteral("L01: Sinc. ") + push.chopped(push == "OK." ? 1 : 0));
    QTRY_COMPARE_WITH_TIMEOUT(sim.messages(kIp).size(), messages, 10000);
}

QTEST_GUILESS_MAIN(TestPointSync)
#include "tst_pointsync.moc"
