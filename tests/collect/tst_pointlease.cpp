// Two stations, each with its own folders, list one terminal and store into
// one PostgreSQL server: the point's lease lets one collect at a time, the
// entries of stored records they share keep either from storing the other's
// again, and a station killed while it holds a lease finishes its run when
// it comes back (or an operator gives its lease back).
#include "CollectWorld.h"
#include "SimPoints.h"
#include "collect/PointLease.h"
#include "collect/RunJournal.h"

#include <QProcess>
#include <QRandomGenerator>
#include <QSqlQuery>
#include <QTest>
#include <map>

namespace {

const QString kServer = QStringLiteral("PGSERVER");

// One station: its own registry, data and working directory, the shared server.
class Station {
public:
    explicit Station(const QString& name) : m_name(name) {
        const QString pg = qEnvironmentVariable("KIVO_TEST_PG");
        QDir(m_dir.path()).mkpath(QStringLiteral("work"));
        QFile aliases(m_dir.filePath(QStringLiteral("aliases.ini")));
        if (aliases.open(QIODevice::WriteOnly))
            aliases.write(
                QStringLiteral("[PGSERVER]\nDriver=postgres\nHost=%1\nPort=%2\n"
                               "Database=kivo_test\n")
                    .arg(pg.section(QLatin1Char(':'), 0, 0), pg.section(QLatin1Char(':'), 1))
                    .toUtf8());
    }
    // Points the process's station files at this station.
    void enter() const { useStationEnvironment(m_dir); }
    QString path(const QString& name) const { return m_dir.filePath(name); }
    QString output() const { return path(QStringLiteral("salida.txt")); }
    QString id() const {
        enter();
        return stationId();
    }
    // One visit of the point by a process of this station's, killed at the
    // named step when given; false when it was killed or ended in error.
    bool visit(const QString& ip, const QString& loc, const char* killAt = nullptr) const {
        enter();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("KIVO_WORKER_SERVER"), kServer);
        QProcess worker;
        worker.setProcessEnvironment(env);
        worker.setWorkingDirectory(path(QStringLiteral("work")));
        worker.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QStringList args{ip, loc, output()};
        if (killAt)
            args << QString::fromLatin1(killAt);
        if (killAt && qstrcmp(killAt, "record") == 0)
            args << QStringLiteral("3");
        worker.start(QStringLiteral(KIVO_POINTWORKER), args);
        if (!worker.waitForFinished(60000))
            return false;
        lastMemo = QString::fromUtf8(worker.readAllStandardOutput());
        return worker.exitStatus() == QProcess::NormalExit && worker.exitCode() == 0;
    }
    // Tickets in this station's lectura, with how often each is there.
    std::map<int, int> lectura(const QString& loc) const {
        std::map<int, int> n;
        const QString name = QStringLiteral("lectura-") + m_name;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
            db.setDatabaseName(path(QStringLiteral("data/kivo-ip/KIVO_1.sqlite")));
            QSqlQuery q(db);
            if (db.open() && q.exec(QStringLiteral("SELECT NroTicket FROM lectura WHERE Origen = "
                                                   "'%1'")
                                        .arg(loc)))
                while (q.next())
                    ++n[q.value(0).toInt()];
        }
        QSqlDatabase::removeDatabase(name);
        return n;
    }

    mutable QString lastMemo;

private:
    QTemporaryDir m_dir;
    QString m_name;
};

std::map<int, int> serverTickets(const QString& loc) {
    std::map<int, int> n;
    for (const QVariantList& row :
         rowsOf(kServer,
                QStringLiteral("SELECT TICKET FROM dbo.tickettaxis WHERE ORIGEN = '%1'").arg(loc)))
        ++n[row.at(0).toInt()];
    return n;
}

// Every ticket once in the server, and once in the local tables of one
// station or the other.
void checkEachOnce(const Station& a, const Station& b, const QString& loc, int first, int count) {
    const std::map<int, int> server = serverTickets(loc);
    std::map<int, int> local = a.lectura(loc);
    for (const auto& [ticket, n] : b.lectura(loc))
        local[ticket] += n;
    QCOMPARE(int(server.size()), count);
    QCOMPARE(int(local.size()), count);
    for (int t = first; t < first + count; ++t) {
        QVERIFY2(server.count(t) && server.at(t) == 1, qPrintable(QString::number(t)));
        QVERIFY2(local.count(t) && local.at(t) == 1, qPrintable(QString::number(t)));
    }
}

} // namespace

class TestPointLease : public QObject {
    Q_OBJECT

private slots:
    void init();
    void stationsShareWhatThePointStillHolds();
    void killedStationKeepsItsLeaseUntilItComesBack_data();
    void killedStationKeepsItsLeaseUntilItComesBack();
    void staleLeaseIsTakenOverAndALostOneDeletesNothing();

private:
    std::unique_ptr<CollectWorld> m_server; // the session on the shared server
};

void TestPointLease::init() {
    if (qEnvironmentVariableIsEmpty("KIVO_TEST_PG"))
        QSKIP("KIVO_TEST_PG is not set");
    m_server = std::make_unique<CollectWorld>(true);
}

// A point that refuses every delete: each station stores only what the
// other has not, whoever visits it.
void TestPointLease::stationsShareWhatThePointStillHolds() {
    const QString ip = freshAddress(61);
    const QString loc = QStringLiteral("ls%1").arg(QCoreApplication::applicationPid());
    const int first = freshFirstTicket();
    SimPointPlan plan{ip, {}};
    plan.dele = QStringLiteral("fail");
    SimPoints sim({plan});
    sim.applyPorts();
    Station a(QStringLiteral("A")), b(QStringLiteral("B"));
    for (int round = 1; round <= 4; ++round) {
        sim.serve(ip, simRecords(5 * round, first));
        QVERIFY((round % 2 ? a : b).visit(ip, loc));
    }
    QVERIFY(a.visit(ip, loc)); // nothing new
    checkEachOnce(a, b, loc, first, 20);
}

void TestPointLease::killedStationKeepsItsLeaseUntilItComesBack_data() {
    QTest::addColumn<QString>("step");
    QTest::addColumn<bool>("released"); // by the operator, before the station comes back
    QTest::newRow("killed before the delete, comes back") << "before-delete" << false;
    QTest::newRow("killed while storing, comes back") << "record" << false;
    QTest::newRow("killed between the commits, comes back") << "between-commits" << false;
    QTest::newRow("killed before the journal is cleared, comes back") << "before-clear" << false;
    QTest::newRow("killed while storing, released by hand") << "record" << true;
}

// A killed while its run is unfinished keeps the point's lease: B leaves the
// point alone until A comes back and finishes its run, or until the operator
// gives A's lease back (told how many records may be only in A's copies).
// A is a process killed at the step, after the point was emptied.
void TestPointLease::killedStationKeepsItsLeaseUntilItComesBack() {
    QFETCH(QString, step);
    QFETCH(bool, released);
    const QString ip = freshAddress(62);
    static int row = 0; // each row its own tickets and Loc
    ++row;
    const QString loc = QStringLiteral("lk%1-%2").arg(QCoreApplication::applicationPid()).arg(row);
    const int first = freshFirstTicket() + 100 * row;
    SimPoints sim({{ip, simRecords(10, first)}});
    sim.applyPorts();
    Station a(QStringLiteral("A")), b(QStringLiteral("B"));
    QVERIFY(!a.visit(ip, loc, qPrintable(step)));
    const bool emptied = step != QLatin1String("before-delete");
    QCOMPARE(sim.countEvents(ip, "DELE x"), emptied ? 1 : 0);
    sim.serve(ip,
              (emptied ? QList<SimRecord>() : simRecords(10, first)) + simRecords(4, first + 10));
    QVERIFY(b.visit(ip, loc));
    QVERIFY2(b.lastMemo.contains(QStringLiteral("lo descarga otra estación")),
             qPrintable(b.lastMemo));
    QCOMPARE(sim.countEvents(ip, "RETR nroRegAsist.ras"), 1);

    if (released) {
        const QList<PointLease> given = PointLeases(kServer, b.id()).releaseStation(a.id().left(8));
        QCOMPARE(given.size(), 1);
        QVERIFY(leaseReleaseText(given[0], false).contains(QStringLiteral("10 registro(s)")));
        QVERIFY(b.visit(ip, loc)); // the four new tickets
    }
    QVERIFY(a.visit(ip, loc)); // back: its run first
    QVERIFY(a.visit(ip, loc)); // then the point
    QVERIFY(b.visit(ip, loc));
    checkEachOnce(a, b, loc, first, 14);
    QCOMPARE(rowsOf(kServer, QStringLiteral("SELECT COUNT(*) FROM dbo.kivo_leases WHERE point = "
                                            "'%1'")
                                 .arg(ip))
                 .at(0)
                 .at(0)
                 .toInt(),
             0);
}

// A lease that guards no run and is old is taken over; a station whose lease
// was taken over while it fetched deletes and stores nothing.
void TestPointLease::staleLeaseIsTakenOverAndALostOneDeletesNothing() {
    const QString ip = freshAddress(63);
    const QString loc = QStringLiteral("lt%1").arg(QCoreApplication::applicationPid());
    const int first = freshFirstTicket() + 900;
    SimPoints sim({{ip, simRecords(6, first)}});
    sim.applyPorts();
    Station a(QStringLiteral("A")), b(QStringLiteral("B"));
    a.enter();
    rowsOf(kServer, QStringLiteral("INSERT INTO dbo.kivo_leases (point, station, host, since, "
                                   "run_id, record_count, address) VALUES ('%1', 'gone', 'old', "
                                   "'2026-01-01T00:00:00', '', 0, '')")
                        .arg(ip));
    {
        PointHarness h(QStringLiteral("KIVO_1"), kServer, 5000);
        h.work->setProbe([&](const char* name, int) {
            if (qstrcmp(name, "save-state") == 0) // another station takes it over now
                rowsOf(kServer, QStringLiteral("UPDATE dbo.kivo_leases SET station = 'thief' "
                                               "WHERE point = '%1'")
                                    .arg(ip));
        });
        CycleOutput out{a.output()};
        h.work->Descargar(ip, QStringLiteral("A"), loc, out);
        h.work->closeFtp();
        QVERIFY2(h.report.status.contains(QStringLiteral("otra estación tomó el turno")),
                 qPrintable(h.report.status));
    }
    QCOMPARE(sim.countEvents(ip, "DELE x"), 0);
    QCOMPARE(int(serverTickets(loc).size()), 0);
    rowsOf(kServer,
           QStringLiteral("UPDATE dbo.kivo_leases SET since = '2026-01-01T00:00:00' WHERE point = "
                          "'%1'")
               .arg(ip));
    QVERIFY(b.visit(ip, loc));
    checkEachOnce(a, b, loc, first, 6);
}

QTEST_GUILESS_MAIN(TestPointLease)
#include "tst_pointlease.moc"
