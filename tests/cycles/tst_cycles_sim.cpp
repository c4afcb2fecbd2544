// Whole cycles with the real point's work against simulated points.
#include "CycleWorld.h"
#include "SimPoints.h"
#include "net/NetPorts.h"
#include "platform/Regional.h"

#include <QRegularExpression>
#include <QTest>
#include <algorithm>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
void waitForEnd(CycleWorld& world) {
    QTRY_VERIFY_WITH_TIMEOUT(!world.cycles->running(), 60000);
}

QList<int> ticketsIn(const QString& alias, const QString& sql) {
    TQuery q;
    q.DatabaseName = alias;
    q.SQL = QStringList{sql};
    q.Open();
    QList<int> tickets;
    for (q.First(); !q.Eof(); q.Next())
        tickets.append(q.Fields(0).AsInteger());
    q.Close();
    std::sort(tickets.begin(), tickets.end());
    return tickets;
}

QList<int> ticketsOf(const QList<SimRecord>& records) {
    QList<int> tickets;
    for (const SimRecord& r : records)
        tickets.append(r.ticket);
    std::sort(tickets.begin(), tickets.end());
    return tickets;
}

int linesIn(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    return int(file.readAll().count("\r\n"));
}
} // namespace

class TestCyclesSim : public QObject {
    Q_OBJECT
private slots:
    void threePointsOneDown();
    void cancelDuringThirdOfFive();
    void progressAndFailureTexts();
    void badPointsFailAndTheCycleGoesOn();
    void syncSideBySideIsNotHeldBySilentPoint();
    void cancelWhilePushingSideBySide();
    void stopEndsPushesSideBySideAtOnce();
    void pointListedTwiceGetsOnePushSideBySide();
    void downloadSideBySideIsNotHeldBySilentPoint();
    void badPointsSideBySide();
    void cancelWithSixteenInProgress();
    void everyPointSilentSideBySide();
};

// The down point gets " FALLO" and its synchronisation is still tried; the
// others are collected into the file named with the start date.
void TestCyclesSim::threePointsOneDown() {
    const QList<SimRecord> one = simRecords(5, 101), three = simRecords(4, 301);
    SimPoints sim({{"127.0.3.41", one}, {"127.0.3.43", three}});
    QVERIFY(sim.started());
    sim.applyPorts();
    CycleWorld world(CycleWorld::Work::Real);
    world.addPoints(
        {{"127.0.3.41", "Uno", "L1"}, {"127.0.3.42", "Dos", "L2"}, {"127.0.3.43", "Tres", "L3"}});
    world.controls.prefix = world.path("taxi");
    world.now = QDateTime(QDate(2024, 3, 7), QTime(23, 59, 59));
    world.cycles->constantTick();
    world.now = world.now.addSecs(2); // the cycle runs past midnight
    waitForEnd(world);

    const QStringList lines = world.report.memoLines();
    QCOMPARE(lines.size(), 8);
    QVERIFY(lines.at(0).startsWith("Iniciando ciclo de descarga automática constante ("));
    QCOMPARE(lines.mid(1, 6), QStringList({"   Uno... 5 registro(s).", "    - Sinc Uno... OK.",
                                           "   Dos... FALLO", "    - Sinc Dos... FALLO",
                                           "   Tres... 4 registro(s).", "    - Sinc Tres... OK."}));
    QCOMPARE(lines.at(7), "Ciclo de descarga finalizado (" + NowText() + ")");
    QVERIFY(world.report.log.contains("FTP: No se pudo establecer conexión con 127.0.3.42 (Dos)"));
    QCOMPARE(linesIn(world.path("taxi20240307.txt")), 9);
    QVERIFY(!QFile::exists(world.path("taxi20240308.txt")));
    QCOMPARE(ticketsIn("KIVO_1", "select NroTicket from lectura.DB"), ticketsOf(one + three));
    QCOMPARE(ticketsIn("JUXRegs", "select TICKET from tickettaxis"), ticketsOf(one + three));
    QCOMPARE(world.report.errors, QStringList());
}

// The third point completes (deleted, stored, synchronised); four and five are
// not contacted and keep their records.
void TestCyclesSim::cancelDuringThirdOfFive() {
    QList<SimPointPlan> plans;
    QList<SimRecord> firstThree;
    for (int i = 1; i <= 5; ++i) {
        const QList<SimRecord> records = simRecords(3, i * 100);
        plans.append({QStringLiteral("127.0.3.5%1").arg(i), records});
        if (i <= 3)
            firstThree += records;
    }
    SimPoints sim(plans);
    QVERIFY(sim.started());
    sim.applyPorts();
    CycleWorld world(CycleWorld::Work::Real);
    world.addActivePoints(5, 51);
    world.controls.manual = world.path("manual.txt");
    world.report.onMemo = [&world](const QString& text) {
        if (text == "   P3...")
            world.cycles->cancel();
    };
    world.cycles->startManualFromControls();
    waitForEnd(world);

    QVERIFY(world.report.memoLines().constLast().startsWith("Ciclo de descarga cancelado ("));
    QVERIFY(world.report.memo.contains("   P3... 3 registro(s).\r\n    - Sinc P3... OK.\r\n"));
    QCOMPARE(sim.countEvents("127.0.3.53", "DELE x"), 1);
    QVERIFY(sim.events("127.0.3.54").isEmpty());
    QVERIFY(sim.events("127.0.3.55").isEmpty());
    QCOMPARE(ticketsIn("KIVO_1", "select NroTicket from lecturaBAK.db"), ticketsOf(firstThree));
    QCOMPARE(linesIn(world.path("manual.txt")), 9);
}

// While a file arrives the status line shows its progress; a failed transfer
// (the point's files are missing) gives "FTP: ¡FALLO!" on screen and
// "FTP: FALLO!" in the log.
void TestCyclesSim::progressAndFailureTexts() {
    SimPoints sim({{"127.0.3.61", simRecords(3000, 1)},
                   {"127.0.3.62", simRecords(3), QStringLiteral("missing")}});
    QVERIFY(sim.started());
    sim.applyPorts();
    CycleWorld world(CycleWorld::Work::Real);
    world.addPoints({{"127.0.3.61", "Planta", "L1"}, {"127.0.3.62", "Garita", "L2"}});
    world.controls.manual = world.path("m.txt");
    world.cycles->startManualFromControls();
    waitForEnd(world);

    const QRegularExpression progress("^FTP: (\\d+)/(\\d+) - 127\\.0\\.3\\.61 \\(Planta\\) " +
                                      QRegularExpression::escape(NowText()) + "$");
    int shown = 0;
    for (const QString& status : world.report.statuses)
        shown += progress.match(status).hasMatch() ? 1 : 0;
    QVERIFY(shown > 0);
    QVERIFY(world.report.statuses.contains("FTP: ¡FALLO!"));
    QVERIFY(world.report.log.contains("FTP: FALLO!"));
    QVERIFY(!world.report.log.contains("FTP: ¡FALLO!"));
    QCOMPARE(sim.countEvents("127.0.3.62", "DELE x"), 0);
}

// Empty and nonsense addresses, a duplicate address and a point that goes
// silent mid-transfer: each ends with its failure text, every ticket is
// stored once, and the next constant cycle starts as scheduled.
void TestCyclesSim::badPointsFailAndTheCycleGoesOn() {
    const QList<SimRecord> held = simRecords(3, 701);
    SimPointPlan silent{"127.0.3.72", simRecords(3, 801)};
    silent.retr = QStringLiteral("stall");
    SimPoints sim({{"127.0.3.71", held}, silent});
    QVERIFY(sim.started());
    sim.applyPorts();
    CycleWorld world(CycleWorld::Work::Real);
    world.addPoints({{"", "Vacío", "1"},
                     {"no-such-host.invalid", "Raro", "2"},
                     {"127.0.3.71", "Uno", "3"},
                     {"127.0.3.71", "Uno bis", "4"},
                     {"127.0.3.72", "Mudo", "5"}});
    world.controls.constant = true;
    world.timers.constantTimer.setInterval(100);
    world.cycles->constantTick();
    waitForEnd(world);

    QCOMPARE(
        world.report.memoLines().mid(1, 10),
        QStringList({"   Vacío... FALLO", "    - Sinc Vacío... FALLO", "   Raro... FALLO",
                     "    - Sinc Raro... FALLO", "   Uno... 3 registro(s).",
                     "    - Sinc Uno... OK.", "   Uno bis... 0 registro(s).",
                     "    - Sinc Uno bis... OK.", "   Mudo... FALLO", "    - Sinc Mudo... OK."}));
    QVERIFY(world.report.memoLines().constLast().startsWith("Ciclo de descarga finalizado ("));
    QCOMPARE(world.report.errors, QStringList());
    QCOMPARE(ticketsIn("KIVO_1", "select NroTicket from lectura.DB"), ticketsOf(held));
    QCOMPARE(sim.countEvents("127.0.3.72", "DELE x"), 0);

    QVERIFY(world.timers.constantTimer.isActive());
    QTRY_VERIFY(world.cycles->running()); // the next constant cycle
    world.cycles->cancel();
    waitForEnd(world);
}

// A listener whose queue of connections is full: a connect to it is never
// answered, as with a point that is switched off behind a router.
class FullListener {
public:
    FullListener(const QString& address, quint16 port) {
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(port);
        inet_pton(AF_INET, address.toLatin1().constData(), &sa.sin_addr);
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        const int on = 1;
        ::setsockopt(m_fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        m_ok = ::bind(m_fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0 &&
               ::listen(m_fd, 0) == 0;
        for (int& filler : m_fillers) {
            filler = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
            ::connect(filler, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
        }
    }
    ~FullListener() {
        for (int filler : m_fillers)
            ::close(filler);
        ::close(m_fd);
    }
    bool ok() const { return m_ok; }

private:
    int m_fd = -1;
    int m_fillers[2] = {-1, -1};
    bool m_ok = false;
};

// Side by side, a point whose parameter port never answers holds no other
// point's push: theirs arrive while it still waits, and it is said failed
// once its time-out has passed (one at a time it would hold them for it).
void TestCyclesSim::syncSideBySideIsNotHeldBySilentPoint() {
    SimPoints sim({{"127.0.3.72", {}}, {"127.0.3.73", {}}});
    QVERIFY(sim.started());
    sim.applyPorts();
    FullListener silent(QStringLiteral("127.0.3.71"), paramPort());
    QVERIFY(silent.ok());
    CycleWorld world(CycleWorld::Work::Real);
    world.pointsAtOnce = 4;
    world.sock.TimeOut = 20000;
    world.addActivePoints(3, 71);
    world.cycles->startSync();
    QTRY_COMPARE_WITH_TIMEOUT(sim.messages("127.0.3.72").size() + sim.messages("127.0.3.73").size(),
                              2, 15000);
    QVERIFY(world.cycles->running());
    waitForEnd(world);

    const QStringList lines = world.report.memoLines();
    QCOMPARE(lines.size(), 5);
    QVERIFY(lines.at(0).startsWith("Iniciando ciclo de sincronización manual ("));
    const QStringList answered = lines.mid(1, 2);
    QVERIFY(answered.contains("    - Sinc P2... OK.") && answered.contains("    - Sinc P3... OK."));
    QCOMPARE(lines.at(3), "    - Sinc P1... FALLO");
    QVERIFY(lines.at(4).startsWith("Ciclo de sincronización finalizado ("));
    QVERIFY(world.report.log.contains("101: Sinc. FALLO"));
    QVERIFY(world.report.log.contains("102: Sinc. OK"));
}

// "Cancelar" while pushes run side by side: none starts after it, the one in
// progress ends and is said, and the cycle ends cancelled.
void TestCyclesSim::cancelWhilePushingSideBySide() {
    QList<SimPointPlan> plans;
    for (int i = 1; i <= 6; ++i)
        plans.append({QStringLiteral("127.0.3.8%1").arg(i), {}});
    SimPoints sim(plans);
    QVERIFY(sim.started());
    sim.applyPorts();
    CycleWorld world(CycleWorld::Work::Real);
    world.pointsAtOnce = 2;
    world.addActivePoints(6, 81);
    world.report.onMemo = [&world](const QString& text) {
        if (text.startsWith("    - Sinc "))
            world.cycles->cancel();
    };
    world.cycles->startSync();
    waitForEnd(world);

    const QStringList lines = world.report.memoLines();
    QCOMPARE(lines.size(), 4); // the first line, two pushes, the last line
    QVERIFY(lines.constLast().startsWith("Ciclo de sincronización cancelado ("));
    const auto received = [&] {
        int messages = 0;
        for (const SimPointPlan& point : plans)
            messages += int(sim.messages(point.address).size());
        return messages;
    };
    QTRY_COMPARE_WITH_TIMEOUT(received(), 2, 10000);
}

// A stop ends the waits of the pushes side by side at once, however long
// their time-out, and says nothing of the point it cut short.
void TestCyclesSim::stopEndsPushesSideBySideAtOnce() {
    SimPoints sim(QList<SimPointPlan>{{QStringLiteral("127.0.3.92")}});
    QVERIFY(sim.started());
    sim.applyPorts();
    FullListener silent(QStringLiteral("127.0.3.91"), paramPort());
    QVERIFY(silent.ok());
    CycleWorld world(CycleWorld::Work::Real);
    world.pointsAtOnce = 4;
    world.sock.TimeOut = 300000;
    world.addActivePoints(2, 91);
    world.cycles->startSync();
    QTRY_COMPARE_WITH_TIMEOUT(sim.messages("127.0.3.92").size(), 1, 15000);
    world.cycles->stop();
    QTRY_VERIFY_WITH_TIMEOUT(!world.cycles->running(), 30000);
    QVERIFY(!world.report.memo.contains("Sinc P1"));
    QVERIFY(!world.report.log.contains("101: Sinc. FALLO"));
}

// Side by side, a point listed twice is pushed to once, and its second row
// says why in the memo.
void TestCyclesSim::pointListedTwiceGetsOnePushSideBySide() {
    SimPoints sim(QList<SimPointPlan>{{QStringLiteral("127.0.3.95")}});
    QVERIFY(sim.started());
    sim.applyPorts();
    CycleWorld world(CycleWorld::Work::Real);
    world.pointsAtOnce = 4;
    world.addPoints({{"127.0.3.95", "Uno", "L1"}, {"127.0.3.95", "Otra vez", "L2"}});
    world.cycles->startSync();
    waitForEnd(world);

    const QStringList lines = world.report.memoLines();
    QVERIFY(lines.contains("    - Sinc Otra vez... repetido: 127.0.3.95 ya se sincroniza en este "
                           "ciclo"));
    QVERIFY(lines.contains("    - Sinc Uno... OK."));
    QTRY_COMPARE_WITH_TIMEOUT(sim.messages("127.0.3.95").size(), 1, 10000);
    QCOMPARE(world.report.log.count("L1: Sinc. OK"), 1);
    QVERIFY(!world.report.log.contains("L2: Sinc. OK"));
}

// Points side by side fetch in passive mode: the simulator's FTP server
// leaves about one active-mode session in ten unanswered when many run at
// once (python's own FTP client sees the same).
void sideBySide(CycleWorld& world, int atOnce) {
    world.ftp.Passive = true;
    world.pointsAtOnce = atOnce;
    world.controls.manual = world.path(QStringLiteral("salida.txt"));
}

// The points that answer are collected while a silent one still waits out its
// time-out, and a stop then ends that wait at once and says nothing of it.
void TestCyclesSim::downloadSideBySideIsNotHeldBySilentPoint() {
    QList<SimPointPlan> plans{{QStringLiteral("127.0.3.121"), simRecords(50, 1000)}};
    plans.last().ftp = QStringLiteral("silent");
    QList<int> tickets;
    for (int i = 2; i <= 7; ++i) {
        plans.append({QStringLiteral("127.0.3.%1").arg(120 + i), simRecords(50, i * 1000)});
        tickets << ticketsOf(plans.last().records);
    }
    std::sort(tickets.begin(), tickets.end());
    SimPoints sim(plans);
    QVERIFY(sim.started());
    sim.applyPorts();
    CycleWorld world(CycleWorld::Work::Real);
    sideBySide(world, 4);
    world.ftpTimeOutMs = 300000;
    world.addActivePoints(7, 121);
    world.cycles->startManualFromControls();
    QTRY_COMPARE_WITH_TIMEOUT(ticketsIn("KIVO_1", "select NroTicket from lectura.DB"), tickets,
                              30000);
    QTRY_COMPARE_WITH_TIMEOUT(world.report.log.filter(": Sinc. OK").size(), 6, 10000);
    QVERIFY(world.cycles->running());
    world.cycles->stop();
    QTRY_VERIFY_WITH_TIMEOUT(!world.cycles->running(), 10000);

    const QStringList lines = world.report.memoLines();
    for (int i = 2; i <= 7; ++i) {
        QCOMPARE(lines.count(QStringLiteral("   P%1... 50 registro(s).").arg(i)), 1);
        QCOMPARE(lines.count(QStringLiteral("    - Sinc P%1... OK.").arg(i)), 1);
        QCOMPARE(sim.countEvents(plans.at(i - 1).address, QStringLiteral("DELE x")), 1);
    }
    QVERIFY(!world.report.memo.contains(QStringLiteral("P1...")));
    QCOMPARE(linesIn(world.controls.manual), tickets.size());
    // A transfer on the status line is followed by the count in progress.
    const QRegularExpression progress(
        "^FTP: \\d+/\\d+ - 127\\.0\\.3\\.12\\d \\(P\\d\\) .* - [1-4] punto\\(s\\) en curso$");
    QVERIFY(!world.report.statuses.filter(progress).isEmpty());
}

// A point that cannot be reached gets no push and says so; one whose transfer
// breaks keeps its records; one listed twice is fetched once; the others are
// collected whole.
void TestCyclesSim::badPointsSideBySide() {
    QList<SimPointPlan> plans{{QStringLiteral("127.0.3.131"), simRecords(20, 1000)},
                              {QStringLiteral("127.0.3.133"), simRecords(20, 3000)},
                              {QStringLiteral("127.0.3.135"), simRecords(20, 5000)}};
    plans[1].retr = QStringLiteral("cut");
    SimPoints sim(plans);
    QVERIFY(sim.started());
    sim.applyPorts();
    CycleWorld world(CycleWorld::Work::Real);
    sideBySide(world, 4);
    world.addPoints({{"127.0.3.131", "P1", "101"},
                     {"127.0.3.132", "P2", "102"}, // nothing listens there
                     {"127.0.3.133", "P3", "103"},
                     {"127.0.3.131", "Otra vez", "104"},
                     {"127.0.3.135", "P5", "105"}});
    world.cycles->startManualFromControls();
    waitForEnd(world);

    QList<int> tickets = ticketsOf(plans[0].records) + ticketsOf(plans[2].records);
    std::sort(tickets.begin(), tickets.end());
    QCOMPARE(ticketsIn("KIVO_1", "select NroTicket from lectura.DB"), tickets);
    const QStringList lines = world.report.memoLines();
    QVERIFY(lines.contains("   Otra vez... repetido: 127.0.3.131 ya se descarga en este ciclo"));
    QVERIFY(lines.contains("   P2... FALLO"));
    QVERIFY(lines.contains("    - Sinc P2... FALLO"));
    QVERIFY(world.report.log.contains("102: Sinc. FALLO"));
    QVERIFY(lines.contains("   P3... FALLO"));
    QCOMPARE(sim.countEvents(QStringLiteral("127.0.3.133"), QStringLiteral("DELE x")), 0);
    QCOMPARE(sim.countEvents(QStringLiteral("127.0.3.131"), QStringLiteral("DELE x")), 1);
    QVERIFY(!world.report.log.contains("104: Sinc. OK"));
}

// "Cancelar" with sixteen points in progress: none starts after it, those in
// progress are collected whole, and the cycle ends cancelled.
void TestCyclesSim::cancelWithSixteenInProgress() {
    QList<SimPointPlan> plans;
    for (int i = 1; i <= 24; ++i)
        plans.append({QStringLiteral("127.0.3.%1").arg(140 + i), simRecords(30, i * 1000)});
    SimPoints sim(plans);
    QVERIFY(sim.started());
    sim.applyPorts();
    CycleWorld world(CycleWorld::Work::Real);
    sideBySide(world, 16);
    world.addActivePoints(24, 141);
    world.report.onMemo = [&world](const QString& text) {
        if (text.contains(QStringLiteral("registro(s)")))
            world.cycles->cancel();
    };
    world.cycles->startManualFromControls();
    waitForEnd(world);

    QVERIFY(world.report.memoLines().constLast().startsWith("Ciclo de descarga cancelado ("));
    QList<int> tickets;
    int collected = 0;
    for (const SimPointPlan& point : plans)
        if (sim.countEvents(point.address, QStringLiteral("DELE x")) == 1) {
            ++collected;
            tickets << ticketsOf(point.records);
        }
    std::sort(tickets.begin(), tickets.end());
    QVERIFY2(collected >= 1 && collected <= 16, qPrintable(QString::number(collected)));
    QCOMPARE(ticketsIn("KIVO_1", "select NroTicket from lectura.DB"), tickets);
}

// Every point takes the connection and never greets: each fails on its
// time-out, still gets its lists, and the cycle ends.
void TestCyclesSim::everyPointSilentSideBySide() {
    QList<SimPointPlan> plans;
    for (int i = 1; i <= 4; ++i) {
        plans.append({QStringLiteral("127.0.3.%1").arg(170 + i), simRecords(10, i * 1000)});
        plans.last().ftp = QStringLiteral("silent");
    }
    SimPoints sim(plans);
    QVERIFY(sim.started());
    sim.applyPorts();
    CycleWorld world(CycleWorld::Work::Real);
    sideBySide(world, 4);
    world.ftpTimeOutMs = 500;
    world.addActivePoints(4, 171);
    world.cycles->startManualFromControls();
    waitForEnd(world);

    const QStringList lines = world.report.memoLines();
    for (int i = 1; i <= 4; ++i) {
        QCOMPARE(lines.count(QStringLiteral("   P%1... FALLO").arg(i)), 1);
        // reached, though silent: its lists still go
        QCOMPARE(lines.count(QStringLiteral("    - Sinc P%1... OK.").arg(i)), 1);
    }
    QVERIFY(lines.constLast().startsWith("Ciclo de descarga finalizado ("));
    QVERIFY(ticketsIn("KIVO_1", "select NroTicket from lectura.DB").isEmpty());
}

QTEST_GUILESS_MAIN(TestCyclesSim)
#include "tst_cycles_sim.moc"
