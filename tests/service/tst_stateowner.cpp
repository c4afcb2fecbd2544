// Only the owner of the state folder collects; a status query stays open to
// others (the service's group).
#include "StationEnvironment.h"
#include "platform/FolderLock.h"
#include "platform/StateOwner.h"

#include <QProcess>
#include <QTest>
#include <unistd.h>

namespace {

constexpr uid_t kNobody = 65534;

} // namespace

class TestStateOwner : public QObject {
    Q_OBJECT
private slots:
    void onlyTheOwnerCollects_data();
    void onlyTheOwnerCollects();
    void programRunAsAnotherUser_data();
    void programRunAsAnotherUser();
};

void TestStateOwner::onlyTheOwnerCollects_data() {
    QTest::addColumn<QString>("folder");
    QTest::addColumn<bool>("asOwner");
    QTest::addColumn<bool>("allowed");
    QTest::newRow("the owner") << "made" << true << true;
    QTest::newRow("another user") << "made" << false << false;
    QTest::newRow("a folder not made yet") << "missing" << false << true;
}

void TestStateOwner::onlyTheOwnerCollects() {
    QFETCH(QString, folder);
    QFETCH(bool, asOwner);
    QFETCH(bool, allowed);
    QTemporaryDir dir;
    QDir(dir.path()).mkdir(QStringLiteral("made"));
    const QString state = dir.filePath(folder);
    // The test's own user owns what it made; any other number is another user.
    const uid_t user = asOwner ? geteuid() : geteuid() + 1;
    const QString problem = stateOwnerProblem(state, user, QStringLiteral("kivo-ipd"));
    QCOMPARE(problem.isEmpty(), allowed);
    if (!allowed) {
        QVERIFY2(
            problem.contains(QStringLiteral("pertenece al usuario %1").arg(userName(geteuid()))),
            qPrintable(problem));
        QVERIFY2(
            problem.contains(QStringLiteral("ejecute kivo-ipd como %1").arg(userName(geteuid()))),
            qPrintable(problem));
    }
}

void TestStateOwner::programRunAsAnotherUser_data() {
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("option");
    QTest::addColumn<int>("exitStatus");
    QTest::addColumn<QString>("said");
    const QString service = QStringLiteral(KIVO_SERVICE_BINARY);
    QTest::newRow("kivo-ipd --once is refused")
        << service << "--once" << 2 << "pertenece al usuario NOBODY: ejecute kivo-ipd como NOBODY";
    QTest::newRow("kivo-ipd --sync-only is refused")
        << service << "--sync-only" << 2 << "pertenece al usuario NOBODY";
    QTest::newRow("kivo-ipd --status is no collection")
        << service << "--status" << 3 << "No hay ninguna estación";
    QTest::newRow("the window is refused")
        << QStringLiteral(KIVO_STATION_BINARY) << "-platform" << 2
        << "pertenece al usuario NOBODY: ejecute kivo-ip como NOBODY";
}

// A program run by this test's user on a state folder given to another one.
void TestStateOwner::programRunAsAnotherUser() {
    QFETCH(QString, program);
    QFETCH(QString, option);
    QFETCH(int, exitStatus);
    QFETCH(QString, said);
    if (geteuid() != 0)
        QSKIP("giving a folder to another user needs root");
    StationWorld world;
    const QString state = world.path("data/kivo-ip");
    QVERIFY(QDir().mkpath(state));
    QCOMPARE(::chown(QFile::encodeName(state).constData(), kNobody, kNobody), 0);
    QProcess station;
    station.setProcessEnvironment(world.environment());
    station.setWorkingDirectory(world.path("work"));
    QStringList args{option};
    if (option == QLatin1String("-platform"))
        args << QStringLiteral("offscreen");
    station.start(program, args);
    QVERIFY(station.waitForFinished(60000));
    const QString output = QString::fromUtf8(station.readAllStandardError());
    QVERIFY2(station.exitCode() == exitStatus, qPrintable(output));
    said.replace(QStringLiteral("NOBODY"), userName(kNobody));
    QVERIFY2(output.contains(said), qPrintable(output));
    // Nothing of the station was made in the other user's folder.
    QCOMPARE(QDir(state).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList());
}

QTEST_GUILESS_MAIN(TestStateOwner)
#include "tst_stateowner.moc"
