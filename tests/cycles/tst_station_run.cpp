// The station as a user runs it: the program started with a registry, alias
// configuration and working directory of its own, the constant trigger at
// 10 s and two simulated points. Half a minute later every ticket the points
// held is in the four stores and the output file exactly once, and each point
// has received the personnel list.
#include "SimPoints.h"
#include "StationTables.h"
#include "collect/SettingsCodec.h"
#include "platform/Registry.h"
#include "store/DataSet.h"
#include "store/Session.h"

#include <QDir>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>

namespace {
const QString kPoint1 = QStringLiteral("127.0.3.21");
const QString kPoint2 = QStringLiteral("127.0.3.22");

} // namespace

class TestStationRun : public QObject {
    Q_OBJECT
private slots:
    void constantCyclesCollectEveryTicketOnce();
};

void TestStationRun::constantCyclesCollectEveryTicketOnce() {
    QTemporaryDir world;
    QDir root(world.path());
    for (const char* dir : {"tmp", "work", "config", "data"})
        root.mkpath(dir);
    qputenv("KIVO_REGISTRY", world.filePath("registry.reg").toUtf8());
    qputenv("KIVO_ALIASES", world.filePath("aliases.ini").toUtf8());
    qputenv("XDG_CONFIG_HOME", world.filePath("config").toUtf8());
    qputenv("XDG_DATA_HOME", world.filePath("data").toUtf8());
    {
        // An alias configuration that names no alias: both are embedded defaults.
        QFile aliases(world.filePath("aliases.ini"));
        QVERIFY(aliases.open(QIODevice::WriteOnly));
    }

    // Settings: constant trigger every 10 s, automatic files in the working directory.
    {
        TRegistry registry;
        QVERIFY(registry.OpenKey(settingsKey(QStringLiteral("JUXRegs")), true));
        StationSettings settings;
        settings.DelayAutoMin = 10;
        writeSettings(registry, settings);
        registry.CloseKey();
    }
    const QList<SimRecord> held1 = simRecords(6, 1001);
    const QList<SimRecord> held2 = simRecords(9, 2001);
    {
        TSession session;
        session.DeclareAlias(QStringLiteral("KIVO_1"), AliasKind::Local);
        appendRow(QStringLiteral("confRegIP.db"),
                  {{"IP", kPoint1}, {"Desc", "Uno"}, {"Loc", "L1"}, {"Activo", true}});
        appendRow(QStringLiteral("confRegIP.db"),
                  {{"IP", kPoint2}, {"Desc", "Dos"}, {"Loc", "L2"}, {"Activo", true}});
        appendRow(QStringLiteral("personal.DBF"), {{"CODIGO", 100},
                                                   {"NOMBRES", "ANA"},
                                                   {"APELLIDOS", "PAZ"},
                                                   {"TARJETA", 7},
                                                   {"GRUPO", 1},
                                                   {"SERV_TAXI", true}});
    }

    SimPoints sim({{kPoint1, held1}, {kPoint2, held2}});
    QVERIFY(sim.started());
    QProcess station;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("TMPDIR", world.filePath("tmp"));
    env.insert("KIVO_FTP_PORT", QString::number(sim.ftpPort()));
    env.insert("KIVO_PARAM_PORT", QString::number(sim.paramPort()));
    station.setProcessEnvironment(env);
    station.setWorkingDirectory(world.filePath("work"));
    station.setProcessChannelMode(QProcess::ForwardedChannels);
    station.start(QStringLiteral(KIVO_STATION_BINARY), {});
    QVERIFY(station.waitForStarted());
    // Two or three constant cycles: the second finds the points emptied.
    QTest::qWait(30000);
    QCOMPARE(station.state(), QProcess::Running);
    station.terminate();
    QVERIFY(station.waitForFinished(10000));

    QList<int> expected;
    for (const SimRecord& r : held1 + held2)
        expected.append(r.ticket);
    std::sort(expected.begin(), expected.end());

    TSession session;
    session.DeclareAlias(QStringLiteral("KIVO_1"), AliasKind::Local);
    session.DeclareAlias(QStringLiteral("JUXRegs"), AliasKind::Server);
    QCOMPARE(column("KIVO_1", "lectura.DB", "NroTicket"), expected);
    QCOMPARE(column("KIVO_1", "lecturaBAK.db", "NroTicket"), expected);
    QCOMPARE(column("JUXRegs", "dbo.tickettaxis", "TICKET"), expected);

    // The output file is named with the day the cycles ran; every line ends in
    // the ticket number.
    const QStringList outputs =
        QDir(world.filePath("work")).entryList({QStringLiteral("2*.txt")}, QDir::Files);
    QCOMPARE(outputs.size(), 1);
    QFile output(world.filePath("work/" + outputs.first()));
    QVERIFY(output.open(QIODevice::ReadOnly));
    QList<int> lines;
    for (const QByteArray& line : output.readAll().split('\n'))
        if (!line.trimmed().isEmpty())
            lines.append(line.trimmed().split(',').last().toInt());
    std::sort(lines.begin(), lines.end());
    QCOMPARE(lines, expected);

    // At least two cycles visited each point (the later ones found it empty)
    // and pushed the list with the one person entitled to taxi service.
    for (const QString& point : {kPoint1, kPoint2}) {
        QVERIFY(sim.countEvents(point, QStringLiteral("RETR nroRegAsist.ras")) >= 2);
        QVERIFY(sim.countEvents(point, QStringLiteral("PARAM OK 1 ")) >= 2);
        QVERIFY(sim.messages(point).constLast().contains("ANA PAZ"));
    }
}

QTEST_GUILESS_MAIN(TestStationRun)
#include "tst_station_run.moc"
