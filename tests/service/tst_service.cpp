// kivo-ipd as cron, a script or systemd runs it: a world of its own
// (registry, aliases, databases, working directory, temporary folder for the
// single-instance lock), simulated points, and the exit statuses.
#include "ServiceWorld.h"
#include "SmtpSink.h"
#include "collect/SettingsCodec.h"
#include "platform/Registry.h"
#include "platform/SingleInstance.h"
#include "store/Session.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QJsonArray>
#include <QJsonObject>
#include <QLocalSocket>
#include <QProcess>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QSqlQuery>
#include <QTcpServer>
#include <QTest>
#include <algorithm>
#include <csignal>
#include <tuple>

namespace {

QByteArray fileBytesOf(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

const QString kAlive = QStringLiteral("127.0.7.1");
const QString kDead = QStringLiteral("127.0.7.99");   // nothing listens there
const QString kSilent = QStringLiteral("127.0.7.31"); // takes the connection, never greets

} // namespace

class TestService : public QObject {
    Q_OBJECT

private slots:
    void onceCollectsAndSaysWhetherEveryPointSucceeded_data();
    void onceCollectsAndSaysWhetherEveryPointSucceeded();
    void syncOnlyPushesTheLists();
    void stationThatCannotStart_data();
    void stationThatCannotStart();
    void sigtermEndsTheService_data();
    void sigtermEndsTheService();
    void stopCutsASilentPointShort();
    void stopsAtAnyInstantStoreEachTicketOnce_data();
    void stopsAtAnyInstantStoreEachTicketOnce();
    void socketAnswersStatusAndCommands();
    void socketPathThatIsNoSocketIsKept();
    void reloadWithATypoKeepsTheSettings();
    void statusPointsFromTheState_data();
    void statusPointsFromTheState();
    void twoStationsStoreIntoOneServer();
    void deadPointAlertsOnceAndIsListedByStatusPoints();
};

void TestService::onceCollectsAndSaysWhetherEveryPointSucceeded_data() {
    QTest::addColumn<QStringList>("points");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("why"); // the journal's reason for P2's failure
    QTest::newRow("every point answers") << QStringList{kAlive} << 0 << QString();
    QTest::newRow("one point is dead")
        << QStringList{kAlive, kDead} << 1 << "no se pudo conectar: conexión rechazada";
    QTest::newRow("one point takes the connection and stays silent")
        << QStringList{kAlive, kSilent} << 1
        << "el punto aceptó la conexión pero no respondió en 1 s";
}

void TestService::onceCollectsAndSaysWhetherEveryPointSucceeded() {
    QFETCH(QStringList, points);
    QFETCH(int, status);
    QFETCH(QString, why);
    ServiceWorld world;
    StationSettings settings;
    settings.FTPtimeOut = 1000;
    world.writeSettings(settings);
    world.addPoints(points);
    SimPoints sim({{kAlive, simRecords(5, 1)}});
    QVERIFY(sim.started());
    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress(kSilent), quint16(sim.ftpPort())));
    const auto [exit, journal] = world.run({QStringLiteral("--once")}, &sim);
    QVERIFY2(exit == status, qPrintable(journal));
    QVERIFY(journal.contains(QStringLiteral("<6>Iniciando ciclo de descarga manual")));
    QCOMPARE(journal.contains(QStringLiteral("<4>   P2... FALLO")), status == 1);
    if (!why.isEmpty())
        QVERIFY2(journal.contains(QStringLiteral("<4>FALLO en P2 (%1): %2").arg(points[1], why)),
                 qPrintable(journal));
    // the point saves the message once the connection has closed
    QTRY_COMPARE_WITH_TIMEOUT(sim.countEvents(kAlive, QStringLiteral("PARAM OK 1 ")), 1, 10000);
    TSession session;
    session.DeclareAlias(QStringLiteral("KIVO_1"), AliasKind::Local);
    session.DeclareAlias(QStringLiteral("JUXRegs"), AliasKind::Server);
    const QList<int> tickets{1, 2, 3, 4, 5};
    QCOMPARE(column("KIVO_1", "lectura.DB", "NroTicket"), tickets);
    QCOMPARE(column("JUXRegs", "dbo.tickettaxis", "TICKET"), tickets);
    QCOMPARE(QDir(world.path("work")).entryList({QStringLiteral("2*.txt")}).size(), 1);
}

void TestService::syncOnlyPushesTheLists() {
    ServiceWorld world;
    world.writeSettings(StationSettings{});
    world.addPoints({kAlive});
    SimPoints sim({{kAlive, simRecords(5, 1)}});
    const auto [exit, journal] = world.run({QStringLiteral("--sync-only")}, &sim);
    QVERIFY2(exit == 0, qPrintable(journal));
    // the point saves the message once the connection has closed
    QTRY_COMPARE_WITH_TIMEOUT(sim.countEvents(kAlive, QStringLiteral("PARAM OK 1 ")), 1, 10000);
    QCOMPARE(sim.countEvents(kAlive, QStringLiteral("RETR")), 0);
}

void TestService::stationThatCannotStart_data() {
    QTest::addColumn<QString>("trouble");
    QTest::addColumn<QString>("said");
    QTest::newRow("time-out out of range") << "timeout"
                                           << "'FTPtimeOut' is 100";
    QTest::newRow("points at once out of range") << "atonce"
                                                 << "'PuntosALaVez' is 33; it must be from 1 to 32";
    QTest::newRow("Auto of the wrong type") << "auto"
                                            << "'Auto'";
    QTest::newRow("server unreachable") << "server"
                                        << "no se puede iniciar";
    QTest::newRow("another station runs") << "lock"
                                          << "ya hay una estación";
    QTest::newRow("working directory missing") << "workdir"
                                               << "carpeta de trabajo";
    QTest::newRow("settings folder missing") << "configdir"
                                             << "falta la carpeta de configuración";
    QTest::newRow("working directory that cannot be written")
        << "readonly"
        << "no se puede escribir en la carpeta de trabajo /proc";
    QTest::newRow("server alias naming a missing ODBC driver")
        << "odbc"
        << "the ODBC driver 'No Such Driver' is not installed";
    QTest::newRow("a key's line without its ]") << "typo"
                                                << "no es válido en la línea 3: una clave";
}

void TestService::stationThatCannotStart() {
    QFETCH(QString, trouble);
    QFETCH(QString, said);
    ServiceWorld world;
    StationSettings settings;
    if (trouble == QLatin1String("timeout"))
        settings.FTPtimeOut = 100;
    if (trouble == QLatin1String("atonce"))
        settings.PuntosALaVez = 33;
    world.writeSettings(settings);
    if (trouble == QLatin1String("auto")) {
        TRegistry registry;
        registry.OpenKey(settingsKey(QStringLiteral("JUXRegs")), true);
        registry.WriteString(QStringLiteral("Auto"), QStringLiteral("1"));
    }
    if (trouble == QLatin1String("server") || trouble == QLatin1String("odbc")) {
        QFile aliases(world.path("aliases.ini"));
        QVERIFY(aliases.open(QIODevice::WriteOnly));
        aliases.write(trouble == QLatin1String("odbc")
                          ? "[JUXRegs]\nDriver=odbc\nConnection=DRIVER={No Such Driver};\n"
                          : "[JUXRegs]\nDriver=postgres\nHost=127.0.0.1\nPort=1\nDatabase=x\n");
    }
    qputenv("KIVO_INSTANCE", world.instanceName().toUtf8());
    SingleInstance other;
    if (trouble == QLatin1String("lock"))
        QVERIFY(other.acquire());
    if (trouble == QLatin1String("configdir"))
        qputenv("KIVO_REGISTRY", world.path("removed/registry.reg").toUtf8());
    const QByteArray typo = "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\r\n\"Auto\"=dword:1\r\n";
    if (trouble == QLatin1String("typo")) {
        QFile file(world.path("registry.reg"));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(typo);
    }
    QStringList args{QStringLiteral("--once")};
    if (trouble == QLatin1String("workdir"))
        args << QStringLiteral("--workdir") << world.path("no-such-folder");
    if (trouble == QLatin1String("readonly")) // not even root may create files there
        args << QStringLiteral("--workdir") << QStringLiteral("/proc");
    const auto [exit, journal] = world.run(args);
    QVERIFY2(exit == 2, qPrintable(journal));
    QVERIFY2(journal.startsWith(QStringLiteral("<3>")) && journal.contains(said),
             qPrintable(journal));
    if (trouble == QLatin1String("typo")) // never moved nor written over
        QCOMPARE(fileBytesOf(world.path("registry.reg")), typo);
}

// SIGHUP with a typo in the settings file keeps the settings in force and
// says why; the stop says so too. The file stays as it is.
void TestService::reloadWithATypoKeepsTheSettings() {
    ServiceWorld world;
    StationSettings settings;
    settings.AutoMin = false;
    world.writeSettings(settings);
    QProcess service;
    startWaiting(world, service, nullptr);
    const QByteArray typo = "REGEDIT4\r\n[HKEY_CURRENT_USER\\Software\r\n";
    QFile file(world.path("registry.reg"));
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(typo);
    file.close();
    ::kill(pid_t(service.processId()), SIGHUP);
    QString journal;
    QDeadlineTimer deadline(30000);
    while (!journal.contains(QStringLiteral("siguen los valores en uso")) &&
           !deadline.hasExpired()) {
        service.waitForReadyRead(200); // the journal is on standard error
        journal += QString::fromUtf8(service.readAllStandardError());
    }
    QVERIFY2(journal.contains(QStringLiteral("<4>AVISO: no se vuelve a leer la configuración")),
             qPrintable(journal));
    QCOMPARE(world.run({QStringLiteral("--status")}).first, 0);
    ::kill(pid_t(service.processId()), SIGTERM);
    QVERIFY(service.waitForFinished(30000));
    QCOMPARE(service.exitCode(), 0);
    journal += QString::fromUtf8(service.readAllStandardError());
    QVERIFY2(journal.contains(QStringLiteral("<6>Deteniendo la estación")), qPrintable(journal));
    QCOMPARE(fileBytesOf(world.path("registry.reg")), typo);
}

void TestService::sigtermEndsTheService_data() {
    QTest::addColumn<bool>("inCycle");
    QTest::addColumn<bool>("followed");
    QTest::newRow("waiting for its triggers") << false << false;
    QTest::newRow("while a point keeps the cycle waiting") << true << false;
    QTest::newRow("followed by a monitor after a cycle") << false << true;
}

// SIGTERM ends the service with status 0, also while its cycle waits on a
// point that took the connection and never greets.
void TestService::sigtermEndsTheService() {
    QFETCH(bool, inCycle);
    QFETCH(bool, followed);
    ServiceWorld world;
    StationSettings settings;
    settings.AutoMin = false;
    settings.FTPtimeOut = 3000;
    world.writeSettings(settings);
    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress(kSilent), 0));
    qputenv("KIVO_FTP_PORT", QByteArray::number(silent.serverPort()));
    const auto port = qScopeGuard([] { qunsetenv("KIVO_FTP_PORT"); });
    world.addPoints({kSilent});
    QProcess service;
    startWaiting(world, service, nullptr);
    if (inCycle) {
        QCOMPARE(ask(world, "descargar\n"), QByteArray("ok"));
        QTRY_VERIFY_WITH_TIMEOUT(silent.hasPendingConnections(), 10000);
    }
    // A monitor that follows a whole cycle and is still there at the stop.
    QLocalSocket monitor;
    if (followed) {
        monitor.connectToServer(controlSocket(world));
        QVERIFY(monitor.waitForConnected(5000));
        monitor.write("seguir\n");
        QCOMPARE(ask(world, "sincronizar\n"), QByteArray("ok"));
        QByteArray lines;
        QDeadlineTimer deadline(30000);
        while (!lines.contains("Ciclo de sincronizaci") && !deadline.hasExpired())
            if (monitor.waitForReadyRead(500))
                lines += monitor.readAll();
        QVERIFY2(lines.contains("Ciclo de sincronizaci"), lines.constData());
    }
    ::kill(pid_t(service.processId()), SIGTERM);
    QVERIFY(service.waitForFinished(30000));
    QCOMPARE(service.exitStatus(), QProcess::NormalExit);
    QCOMPARE(service.exitCode(), 0);
}

// A stop does not wait out the time-out of a point that took the connection
// and never greets (up to 300 s): the service ends at once, the point
// before it stored once, and the silent point's visit counts in no health.
void TestService::stopCutsASilentPointShort() {
    ServiceWorld world;
    StationSettings settings;
    settings.AutoMin = false;
    settings.FTPtimeOut = 300000;
    world.writeSettings(settings);
    world.addPoints({kAlive, kSilent});
    SimPoints sim({{kAlive, simRecords(4, 1)}});
    QVERIFY(sim.started());
    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress(kSilent), quint16(sim.ftpPort())));
    QProcess service;
    startWaiting(world, service, &sim);
    QCOMPARE(ask(world, "descargar\n"), QByteArray("ok"));
    QTRY_VERIFY_WITH_TIMEOUT(silent.hasPendingConnections(), 30000);
    ::kill(pid_t(service.processId()), SIGTERM);
    QVERIFY2(service.waitForFinished(30000), "the stop waited on the silent point");
    QCOMPARE(service.exitCode(), 0);
    const QString journal = QString::fromUtf8(service.readAllStandardError());
    QVERIFY2(journal.contains(QStringLiteral("<6>Deteniendo la estación: se deja de esperar")),
             qPrintable(journal));
    QVERIFY2(!journal.contains(QStringLiteral("FALLO en P2")), qPrintable(journal));
    TSession session;
    session.DeclareAlias(QStringLiteral("KIVO_1"), AliasKind::Local);
    session.DeclareAlias(QStringLiteral("JUXRegs"), AliasKind::Server);
    const QList<int> tickets{1, 2, 3, 4};
    QCOMPARE(column("KIVO_1", "lectura.DB", "NroTicket"), tickets);
    QCOMPARE(column("JUXRegs", "dbo.tickettaxis", "TICKET"), tickets);
    QCOMPARE(sim.countEvents(kAlive, QStringLiteral("DELE")), 1);
}

// SIGTERM to --once at a random instant (connecting, fetching, storing,
// deleting, pushing; before its handler is in place it ends as killed), then
// a run to its end: every ticket of every round once in each store.
void TestService::stopsAtAnyInstantStoreEachTicketOnce_data() {
    QTest::addColumn<int>("signal");
    QTest::addColumn<int>("atOnce");
    QTest::addColumn<int>("pointCount");
    QTest::addColumn<int>("rounds");
    QTest::newRow("SIGTERM, one point at a time") << int(SIGTERM) << 1 << 3 << 10;
    QTest::newRow("kill -9 with 8 points in progress") << int(SIGKILL) << 8 << 10 << 10;
    QTest::newRow("SIGTERM with 16 points in progress") << int(SIGTERM) << 16 << 16 << 4;
}

// Each round stops a run at a random instant (connect, fetch, storing,
// delete, push) and then runs until every point has been collected.
void TestService::stopsAtAnyInstantStoreEachTicketOnce() {
    QFETCH(int, signal);
    QFETCH(int, atOnce);
    QFETCH(int, pointCount);
    QFETCH(int, rounds);
    ServiceWorld world;
    StationSettings settings;
    settings.PuntosALaVez = atOnce;
    settings.FTPtimeOut = 2000;
    world.writeSettings(settings);
    QStringList points;
    for (int n = 1; n <= pointCount; ++n)
        points << QStringLiteral("127.0.7.%1").arg(n);
    world.addPoints(points);
    QRandomGenerator random(20261209);
    QList<int> tickets;
    for (int round = 0; round < rounds; ++round) {
        QList<SimPointPlan> plans;
        for (int n = 0; n < points.size(); ++n) {
            const int first = 1 + round * 100000 + n * 1000;
            plans << SimPointPlan{points[n], simRecords(900, first)};
            for (int i = 0; i < 900; ++i)
                tickets << first + i;
        }
        SimPoints sim(plans);
        QVERIFY(sim.started());
        QProcess once;
        world.start(once, {QStringLiteral("--once")}, &sim);
        QVERIFY(once.waitForStarted());
        if (!once.waitForFinished(random.bounded(5, 300))) {
            ::kill(pid_t(once.processId()), signal);
            QVERIFY2(once.waitForFinished(30000), "the stop did not end the run");
        }
        // The simulator now and then leaves a session unanswered when many
        // run at once: that point is collected at the next run.
        int exit = 1;
        QString journal;
        for (int run = 0; run < 5 && exit != 0; ++run)
            std::tie(exit, journal) = world.run({QStringLiteral("--once")}, &sim);
        QVERIFY2(exit == 0, qPrintable(journal));
    }
    TSession session;
    session.DeclareAlias(QStringLiteral("KIVO_1"), AliasKind::Local);
    session.DeclareAlias(QStringLiteral("JUXRegs"), AliasKind::Server);
    const auto sorted = [](QList<int> list) {
        std::sort(list.begin(), list.end());
        return list;
    };
    QCOMPARE(sorted(column("KIVO_1", "lectura.DB", "NroTicket")), tickets);
    QCOMPARE(sorted(column("JUXRegs", "dbo.tickettaxis", "TICKET")), tickets);
}

// --status and the three buttons over the socket; garbage is refused; a
// socket file left by a killed service is taken over.
void TestService::socketAnswersStatusAndCommands() {
    ServiceWorld world;
    StationSettings settings;
    settings.AutoMin = false;
    world.writeSettings(settings);
    world.addPoints({kAlive});
    SimPoints sim({{kAlive, simRecords(3, 1)}});
    QProcess service;
    startWaiting(world, service, &sim);
    const auto status = [&] { return world.run({QStringLiteral("--status")}, &sim); };
    QCOMPARE(ask(world, "descargar\n"), QByteArray("ok"));
    QTRY_VERIFY_WITH_TIMEOUT(sim.countEvents(kAlive, QStringLiteral("PARAM OK")) == 1, 30000);
    QByteArray out;
    QDeadlineTimer deadline(30000);
    do {
        QProcess statusRun;
        world.start(statusRun, {QStringLiteral("--status")}, &sim);
        QVERIFY(statusRun.waitForFinished(10000));
        QCOMPARE(statusRun.exitCode(), 0);
        out = statusRun.readAllStandardOutput();
    } while (!out.contains("resultado correcto") && !deadline.hasExpired());
    QVERIFY2(out.contains("Estado: en espera"), out.constData());
    QCOMPARE(ask(world, "borrar todo\n"), QByteArray("error: orden desconocida"));
    QCOMPARE(ask(world, QByteArray(5000, 'x')), QByteArray("error: orden demasiado larga"));

    ::kill(pid_t(service.processId()), SIGKILL);
    QVERIFY(service.waitForFinished(10000));
    QCOMPARE(status().first, 3);
    QProcess again;
    startWaiting(world, again, &sim);
    QCOMPARE(status().first, 0);
    ::kill(pid_t(again.processId()), SIGTERM);
    QVERIFY(again.waitForFinished(30000));
}

// A file where the control socket goes is somebody's: the service says so
// and does not start, and the file stays as it was.
void TestService::socketPathThatIsNoSocketIsKept() {
    ServiceWorld world;
    StationSettings settings;
    settings.AutoMin = false;
    world.writeSettings(settings);
    QDir().mkpath(world.path("data/kivo-ip"));
    QFile file(controlSocket(world));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("notas\n");
    file.close();
    const auto [exit, journal] = world.run({});
    QCOMPARE(exit, 2);
    QVERIFY2(journal.contains(QStringLiteral("no es un socket")), qPrintable(journal));
    QCOMPARE(fileBytesOf(controlSocket(world)), QByteArray("notas\n"));
    QCOMPARE(world.run({QStringLiteral("--status")}).first, 3);
}

void TestService::statusPointsFromTheState_data() {
    QTest::addColumn<QStringList>("points"); // visited once by --once, no service after
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("status");
    const QStringList query{QStringLiteral("--status"), QStringLiteral("--points")};
    QTest::newRow("no state at all") << QStringList{} << query << 3;
    QTest::newRow("every point healthy") << QStringList{kAlive} << query << 0;
    QTest::newRow("a point failing") << QStringList{kAlive, kDead} << query << 1;
    QTest::newRow("as JSON") << QStringList{kAlive, kDead} << (query + QStringList{"--json"}) << 1;
    QTest::newRow("--json without --points")
        << QStringList{} << QStringList{"--status", "--json"} << 3;
    QTest::newRow("--points without --status") << QStringList{} << QStringList{"--points"} << 2;
    QTest::newRow("--once with --status")
        << QStringList{} << QStringList{"--once", "--status"} << 2;
}

// The points' health from the station's state when no service runs, with the
// monitoring-plugin exit statuses; options that make no sense together refused.
void TestService::statusPointsFromTheState() {
    QFETCH(QStringList, points);
    QFETCH(QStringList, args);
    QFETCH(int, status);
    ServiceWorld world;
    world.writeSettings(StationSettings{});
    SimPoints sim({{kAlive, simRecords(2, 1)}});
    if (!points.isEmpty()) {
        world.addPoints(points);
        world.run({QStringLiteral("--once")}, &sim);
    }
    const auto [exit, said] = world.run(args, &sim);
    QVERIFY2(exit == status, qPrintable(said));
}

// Two sites, each with its station, points and local databases, store into
// one PostgreSQL tickettaxis at the same time: every ticket once, each
// journal row once.
void TestService::twoStationsStoreIntoOneServer() {
    const QString pg = qEnvironmentVariable("KIVO_TEST_PG");
    if (pg.isEmpty())
        QSKIP("KIVO_TEST_PG is not set");
    const QString site = QStringLiteral("S%1").arg(QCoreApplication::applicationPid());
    const QString ipA = QStringLiteral("127.0.7.21"), ipB = QStringLiteral("127.0.7.22");
    SimPoints simA({{ipA, simRecords(400, freshFirstTicket())}});
    SimPoints simB({{ipB, simRecords(400, freshFirstTicket() + 500)}});
    QVERIFY(simA.started() && simB.started());
    ServiceWorld a, b;
    QProcess runA, runB;
    for (auto [world, sim, process, prefix] :
         {std::tuple{&a, &simA, &runA, site + QStringLiteral("A")},
          std::tuple{&b, &simB, &runB, site + QStringLiteral("B")}}) {
        world->useServer(pg);
        qputenv("KIVO_REGISTRY", world->path("registry.reg").toUtf8());
        qputenv("XDG_DATA_HOME", world->path("data").toUtf8());
        world->writeSettings(StationSettings{}, QStringLiteral("PGSERVER"));
        world->addPoints({sim == &simA ? ipA : ipB}, prefix);
    }
    for (auto [world, sim, process] :
         {std::tuple{&a, &simA, &runA}, std::tuple{&b, &simB, &runB}}) {
        qputenv("KIVO_REGISTRY", world->path("registry.reg").toUtf8());
        qputenv("KIVO_ALIASES", world->path("aliases.ini").toUtf8());
        qputenv("XDG_DATA_HOME", world->path("data").toUtf8());
        world->start(*process, {QStringLiteral("--once")}, sim);
    }
    for (QProcess* process : {&runA, &runB}) {
        QVERIFY(process->waitForFinished(120000));
        QVERIFY2(process->exitCode() == 0, process->readAllStandardError().constData());
    }
    TSession session;
    TDatabase server(session);
    server.AliasName = server.DatabaseName = QStringLiteral("PGSERVER");
    session.DeclareAlias(QStringLiteral("PGSERVER"), AliasKind::Server);
    QSqlQuery q(session.connectionFor(QStringLiteral("PGSERVER")));
    QVERIFY(q.exec(QStringLiteral("SELECT COUNT(*), COUNT(DISTINCT TICKET) FROM dbo.tickettaxis "
                                  "WHERE ORIGEN LIKE '%1%'")
                       .arg(site)) &&
            q.next());
    QCOMPARE(q.value(0).toInt(), 800);
    QCOMPARE(q.value(1).toInt(), 800);
    QVERIFY(q.exec(QStringLiteral("SELECT COUNT(*), COUNT(DISTINCT run_id) FROM dbo.kivo_runs "
                                  "WHERE loc LIKE '%1%' AND store = 'server'")
                       .arg(site)) &&
            q.next());
    QCOMPARE(q.value(0).toInt(), 2);
    QCOMPARE(q.value(1).toInt(), 2);
    QVERIFY(
        q.exec(QStringLiteral("DELETE FROM dbo.tickettaxis WHERE ORIGEN LIKE '%1%'").arg(site)));
}

// A dead point crosses the alert threshold: the command and the e-mail are
// told once, also across restarts while it stays dead, and the running
// service lists every point's health for a person and for a script.
void TestService::deadPointAlertsOnceAndIsListedByStatusPoints() {
    SmtpSink sink;
    QVERIFY(sink.port > 0);
    ServiceWorld world;
    StationSettings settings;
    settings.AutoMin = false;
    world.writeSettings(settings);
    {
        TRegistry registry;
        registry.OpenKey(settingsKey(QStringLiteral("JUXRegs")), true);
        registry.WriteInteger(QStringLiteral("AlertaFallos"), 1);
        registry.WriteString(QStringLiteral("AlertaOrden"),
                             QStringLiteral("env | grep ^KIVO_ALERT= >> alertas.txt"));
        registry.WriteString(QStringLiteral("SmtpServidor"), QStringLiteral("127.0.0.1"));
        registry.WriteInteger(QStringLiteral("SmtpPuerto"), sink.port);
        registry.WriteString(QStringLiteral("SmtpDe"), QStringLiteral("kivo@example.com"));
        registry.WriteString(QStringLiteral("SmtpPara"), QStringLiteral("guardia@example.com"));
        registry.CloseKey();
    }
    world.addPoints({kAlive, kDead});
    SimPoints sim({{kAlive, simRecords(4, 1)}});
    QVERIFY(sim.started());
    QCOMPARE(world.run({QStringLiteral("--once")}, &sim).first, 1);
    QCOMPARE(world.run({QStringLiteral("--once")}, &sim).first, 1);
    QFile alerts(world.path("work/alertas.txt"));
    QVERIFY(alerts.open(QIODevice::ReadOnly));
    QCOMPARE(alerts.readAll(), QByteArray("KIVO_ALERT=down\n"));
    QTRY_COMPARE_WITH_TIMEOUT(sink.messages().size(), 1, 10000);
    QVERIFY(sink.messages().constFirst().contains(QStringLiteral("Punto: ") + kDead));

    QProcess service;
    startWaiting(world, service, &sim);
    QProcess json;
    world.start(json,
                {QStringLiteral("--status"), QStringLiteral("--points"), QStringLiteral("--json")},
                &sim);
    QVERIFY(json.waitForFinished(10000));
    QCOMPARE(json.exitCode(), 2); // some point is down, as monitoring plugins say
    const QJsonArray rows = QJsonDocument::fromJson(json.readAllStandardOutput()).array();
    QCOMPARE(rows.size(), 2);
    QCOMPARE(rows[0][QStringLiteral("estado")].toString(), QStringLiteral("correcto"));
    QCOMPARE(rows[0][QStringLiteral("registros_hoy")].toInt(), 4);
    QCOMPARE(rows[1][QStringLiteral("ip")].toString(), kDead);
    QCOMPARE(rows[1][QStringLiteral("estado")].toString(), QStringLiteral("caído"));
    QCOMPARE(rows[1][QStringLiteral("fallos_seguidos")].toInt(), 2);
    QProcess text;
    world.start(text, {QStringLiteral("--status"), QStringLiteral("--points")}, &sim);
    QVERIFY(text.waitForFinished(10000));
    QCOMPARE(text.exitCode(), 2);
    const QString table = QString::fromUtf8(text.readAllStandardOutput());
    QVERIFY2(table.contains(kDead) && table.contains(QStringLiteral("caído")), qPrintable(table));
    ::kill(pid_t(service.processId()), SIGTERM);
    QVERIFY(service.waitForFinished(30000));
}

QTEST_GUILESS_MAIN(TestService)
#include "tst_service.moc"
