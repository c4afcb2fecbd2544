// The program as started from the shell: one instance at a time.
#include "StationEnvironment.h"

#include <QProcess>
#include <QTest>

namespace {
// A station process in a world of its own; the lock lives in its "tmp".
std::unique_ptr<QProcess> startStation(const StationWorld& world) {
    auto process = std::make_unique<QProcess>();
    QProcessEnvironment env = world.environment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    process->setProcessEnvironment(env);
    process->setWorkingDirectory(world.path("work"));
    process->start(QStringLiteral(KIVO_STATION_BINARY), {});
    return process;
}

// The lock file names the process that holds it on its first line.
bool holdsTheLock(const StationWorld& world, const QProcess& station) {
    QFile lock(world.path("tmp/MyAppName.lock"));
    return station.state() == QProcess::Running && lock.open(QIODevice::ReadOnly) &&
           lock.readLine().trimmed().toLongLong() == station.processId();
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

    auto second = startStation(world);
    QVERIFY(second->waitForFinished(10000));
    QCOMPARE(second->exitStatus(), QProcess::NormalExit);
    QCOMPARE(second->exitCode(), 0);
    QCOMPARE(second->readAllStandardOutput(), QByteArray());
    QVERIFY(second->readAllStandardError().contains("Ya hay una estación KIVO ip en marcha"));
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
    QVERIFY(QFile::exists(world.path("tmp/MyAppName.lock")));

    auto next = startStation(world);
    QVERIFY(next->waitForStarted());
    // The stale lock is taken over, not obeyed.
    QTRY_VERIFY_WITH_TIMEOUT(holdsTheLock(world, *next), 10000);
    next->kill();
    next->waitForFinished();
}

QTEST_GUILESS_MAIN(TestStartup)
#include "tst_startup.moc"
