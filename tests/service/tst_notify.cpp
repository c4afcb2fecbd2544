// What the service tells systemd: datagrams on the socket systemd names, and
// the watchdog interval it asks for.
#include "service/SystemdNotify.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <cstddef>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

class TestNotify : public QObject {
    Q_OBJECT

private slots:
    void messageReachesTheSocketSystemdNames_data();
    void messageReachesTheSocketSystemdNames();
    void watchdogIntervalIsHalfOfWhatSystemdAsks_data();
    void watchdogIntervalIsHalfOfWhatSystemdAsks();
};

void TestNotify::messageReachesTheSocketSystemdNames_data() {
    QTest::addColumn<bool>("abstract");
    QTest::newRow("socket file") << false;
    QTest::newRow("abstract namespace") << true;
}

void TestNotify::messageReachesTheSocketSystemdNames() {
    QFETCH(bool, abstract);
    QTemporaryDir dir;
    const QByteArray name =
        abstract ? "@kivo-notify-" + QByteArray::number(QCoreApplication::applicationPid())
                 : QFile::encodeName(dir.filePath(QStringLiteral("notify")));
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    QVERIFY(fd >= 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, name.constData(), size_t(name.size()));
    if (abstract)
        address.sun_path[0] = '\0';
    const auto length = socklen_t(offsetof(sockaddr_un, sun_path) + size_t(name.size()));
    QVERIFY(::bind(fd, reinterpret_cast<const sockaddr*>(&address), length) == 0);
    qputenv("NOTIFY_SOCKET", name);

    notifySystemd("READY=1\nSTATUS=En espera");
    pollfd ready{fd, POLLIN, 0};
    QCOMPARE(::poll(&ready, 1, 10000), 1);
    char message[256] = {};
    const ssize_t n = ::recv(fd, message, sizeof message, 0);
    ::close(fd);
    qunsetenv("NOTIFY_SOCKET");
    QCOMPARE(QByteArray(message, int(n)), QByteArray("READY=1\nSTATUS=En espera"));
}

void TestNotify::watchdogIntervalIsHalfOfWhatSystemdAsks_data() {
    QTest::addColumn<QByteArray>("usec");
    QTest::addColumn<QByteArray>("pid");
    QTest::addColumn<int>("interval");
    const QByteArray self = QByteArray::number(QCoreApplication::applicationPid());
    QTest::newRow("60 s for this process") << QByteArray("60000000") << self << 30000;
    QTest::newRow("60 s, no process named") << QByteArray("60000000") << QByteArray() << 30000;
    QTest::newRow("for another process") << QByteArray("60000000") << QByteArray("1") << 0;
    QTest::newRow("no watchdog") << QByteArray() << QByteArray() << 0;
    QTest::newRow("not a number") << QByteArray("soon") << self << 0;
}

void TestNotify::watchdogIntervalIsHalfOfWhatSystemdAsks() {
    QFETCH(QByteArray, usec);
    QFETCH(QByteArray, pid);
    QFETCH(int, interval);
    for (const auto& [variable, value] : {std::pair{"WATCHDOG_USEC", usec}, {"WATCHDOG_PID", pid}})
        value.isEmpty() ? qunsetenv(variable) : qputenv(variable, value);
    QCOMPARE(watchdogPingInterval(), interval);
}

QTEST_GUILESS_MAIN(TestNotify)
#include "tst_notify.moc"
