// servicebench [RUNS [BINARY]]: how long kivo-ipd (or another build of it) takes from its start to
// its end, as cron or a script sees it, in a world of its own: "--status" with no service running
// (status 3), and "--once" over an empty points table with the embedded databases already created
// (status 0). Prints the minimum, median and maximum wall time of RUNS runs of each (30 by
// default). Then how long a SIGTERM takes to end the service while its cycle waits on a point that
// took the connection and never greets, at the longest FTP time-out (300,000 ms), three times.
#include "StationEnvironment.h"
#include "collect/SettingsCodec.h"
#include "platform/Registry.h"
#include "service/ServiceWorld.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTcpServer>
#include <algorithm>
#include <csignal>
#include <cstdio>

namespace {

// One run of the service in the world's working directory: its wall time in
// milliseconds, or -1 when it ended with another status than expected.
QString binary = QStringLiteral(KIVO_SERVICE_BINARY);

double timedRun(const StationWorld& world, const QString& option, int expected) {
    QProcess service;
    service.setProcessEnvironment(world.environment());
    service.setWorkingDirectory(world.path("work"));
    QElapsedTimer clock;
    clock.start();
    service.start(binary, {option});
    if (!service.waitForFinished(60000) || service.exitStatus() != QProcess::NormalExit ||
        service.exitCode() != expected)
        return -1;
    return double(clock.nsecsElapsed()) / 1e6;
}

bool measure(const StationWorld& world, const QString& option, int expected, int runs) {
    QList<double> times;
    for (int i = 0; i < runs; ++i) {
        const double ms = timedRun(world, option, expected);
        if (ms < 0) {
            std::fprintf(stderr, "kivo-ipd %s did not end with status %d\n", qPrintable(option),
                         expected);
            return false;
        }
        times << ms;
    }
    std::sort(times.begin(), times.end());
    std::printf("kivo-ipd %-9s %d runs: min %6.1f ms  median %6.1f ms  max %6.1f ms\n",
                qPrintable(option), runs, times.first(), times[times.size() / 2], times.last());
    return true;
}

// From SIGTERM to the end of the service, in milliseconds; -1 when the
// service did not start its cycle or did not end within a minute.
double timedStop() {
    ServiceWorld world;
    StationSettings settings;
    settings.AutoMin = false;
    settings.FTPtimeOut = 300000;
    world.writeSettings(settings);
    const QString silentAddress = QStringLiteral("127.0.7.31");
    world.addPoints({silentAddress});
    QTcpServer silent;
    if (!silent.listen(QHostAddress(silentAddress), 0))
        return -1;
    QProcessEnvironment environment = world.environment();
    environment.insert(QStringLiteral("KIVO_FTP_PORT"), QString::number(silent.serverPort()));
    QProcess service;
    service.setProcessEnvironment(environment);
    service.setWorkingDirectory(world.path("work"));
    service.start(binary, {});
    QDeadlineTimer ready(30000);
    while (ask(world, "estado\n") == "<no connection>" && !ready.hasExpired())
        service.waitForFinished(100);
    if (ask(world, "descargar\n") != "ok")
        return -1;
    while (!silent.hasPendingConnections() && !ready.hasExpired())
        silent.waitForNewConnection(100);
    QElapsedTimer clock;
    clock.start();
    ::kill(pid_t(service.processId()), SIGTERM);
    if (!service.waitForFinished(60000) || service.exitCode() != 0)
        return -1;
    return double(clock.nsecsElapsed()) / 1e6;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, QByteArray(argv[1]).toInt()) : 30;
    if (argc > 2)
        binary = QString::fromLocal8Bit(argv[2]);
    StationWorld world;
    TRegistry registry;
    registry.OpenKey(settingsKey(QStringLiteral("JUXRegs")), true);
    writeSettings(registry, StationSettings{});
    registry.CloseKey();
    // The first run creates the embedded databases; it is not counted.
    if (timedRun(world, QStringLiteral("--once"), 0) < 0) {
        std::fprintf(stderr, "kivo-ipd --once could not prepare the world\n");
        return 1;
    }
    const bool fine = measure(world, QStringLiteral("--status"), 3, runs) &&
                      measure(world, QStringLiteral("--once"), 0, runs);
    if (!fine)
        return 1;
    for (int i = 0; i < 3; ++i) {
        const double ms = timedStop();
        if (ms < 0) {
            std::fprintf(stderr, "kivo-ipd did not stop while waiting on a silent point\n");
            return 1;
        }
        std::printf("SIGTERM while a point is silent, FTP time-out 300000 ms: ended in %.1f ms\n",
                    ms);
    }
    return 0;
}
