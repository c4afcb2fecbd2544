// The station as a user runs it: the program started with a registry, alias
// configuration and working directory of its own, the constant trigger at
// 10 s and two simulated points. Once the first constant cycle has pushed the
// personnel list to both points, every ticket they held is in the four stores
// and the output file exactly once.
#include "SimPoints.h"
#include "StationEnvironment.h"
#include "StationTables.h"
#include "collect/SettingsCodec.h"
#include "platform/Registry.h"
#include "store/DataSet.h"
#include "store/Session.h"

#include <QDir>
#include <QProcess>
#include <QSet>
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
    StationWorld world;

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
    QProcessEnvironment env = world.environment(sim.ftpPort(), sim.paramPort());
    env.insert("QT_QPA_PLATFORM", "offscreen");
    station.setProcessEnvironment(env);
    station.setWorkingDirectory(world.path("work"));
    station.setProcessChannelMode(QProcess::ForwardedChannels);
    station.start(QStringLiteral(KIVO_STATION_BINARY), {});
    QVERIFY(station.waitForStarted());
    // The push is the last step of a point: once both have had theirs, every
    // ticket has been stored.
    const auto bothPushed = [&sim] {
        return sim.countEvents(kPoint1, QStringLiteral("PARAM OK 1 ")) >= 1 &&
               sim.countEvents(kPoint2, QStringLiteral("PARAM OK 1 ")) >= 1;
    };
    QTRY_VERIFY_WITH_TIMEOUT(bothPushed(), 60000);
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

    // The output files are named with the day a cycle started (two, when a
    // cycle ran across midnight); every line ends in the ticket number.
    QList<int> lines;
    const QDir work(world.path("work"));
    for (const QString& name : work.entryList({QStringLiteral("2*.txt")}, QDir::Files)) {
        QFile output(work.filePath(name));
        QVERIFY(output.open(QIODevice::ReadOnly));
        for (const QByteArray& line : output.readAll().split('\n'))
            if (!line.trimmed().isEmpty())
                lines.append(line.trimmed().split(',').last().toInt());
    }
    std::sort(lines.begin(), lines.end());
    QCOMPARE(lines, expected);

    // Each point was sent the list with the one person entitled to taxi service.
    for (const QString& point : {kPoint1, kPoint2})
        QVERIFY(sim.messages(point).constLast().contains("ANA PAZ"));
}

QTEST_GUILESS_MAIN(TestStationRun)
#include "tst_station_run.moc"
