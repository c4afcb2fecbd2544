// The program as started from the shell: one instance at a time, told who
// holds the station.
#include "StationEnvironment.h"

#include <QProcess>
#include <QTest>

namespace {
// A station process in a world of its own: its machine-wide name and state
// folder are the world's.
std::unique_ptr<QProcess> startStation(const StationWorld& world) {
    auto process = std::make_unique<QProcess>();
    QProcessEnvironment env = world.environment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    process->setProcessEnvironment(env);
    process->setWorkingDirectory(world.path("work"));
    process->start(QStringLiteral(KIVO_STATION_BINARY), {});
    return process;
}

// The state folder's lock file names the process that holds it first.
bool holdsTheLock(const StationWorld& world, const QProcess& station) {
    QFile lock(world.statePath("kivo-ip.lock"));
    return station.state() == QProcess::Running && lock.open(QIODevice::ReadOnly) &&
           lock.readLine().split(' ').value(0).toLongLong() == station.processId();
}
} // namespace

class TestStartup : public QObject {
    Q_OBJECT
private slots:
    void secondInstanceSaysSoAndEnds();
    void lockOfAKilledProcessDoesNotBlock();
};

void TestStartup::secondInstanceSaysSoAndEnds() {
    StationWorld world;
    auto first = startStation(world);
    QVERIFY(first->waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(holdsTheLock(world, *first), 10000);

    // A lock file in the temporary folder, as any user could leave there,
    // keeps nothing from starting.
    QFile squatter(world.path("tmp/MyAppName.lock"));
    QVERIFY(squatter.open(QIODevice::WriteOnly));
    auto second = startStation(world);
    QVERIFY(second->waitForFinished(10000));
    QCOMPARE(second->exitStatus(), QProcess::NormalExit);
    QCOMPARE(second->exitCode(), 2);
    QCOMPARE(second->readAllStandardOutput(), QByteArray());
    const QString said = QString::fromUtf8(second->readAllStandardError());
    QVERIFY2(said.contains(QStringLiteral("Ya hay una estación KIVO ip en marcha en esta máquina "
                                          "(el proceso %1 del usuario ")
                               .arg(first->processId())),
             qPrintable(said));
    QCOMPARE(first->state(), QProcess::Running);
    first->kill();
    first->waitForFinished();
}

void TestStartup::lockOfAKilledProcessDoesNotBlock() {
    StationWorld world;
    auto first = startStation(world);
    QVERIFY(first->waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(holdsTheLock(world, *first), 10000);
    first->kill(); // SIGKILL: the lock file stays behind
    first->waitForFinished();
    QVERIFY(QFile::exists(world.statePath("kivo-ip.lock")));

    auto next = startStation(world);
    QVERIFY(next->waitForStarted());
    // The stale lock is taken over, not obeyed.
    QTRY_VERIFY_WITH_TIMEOUT(holdsTheLock(world, *next), 10000);
    next->kill();
    next->waitForFinished();
}

QTEST_GUILESS_MAIN(TestStartup)
#include "tst_startup.moc"
