// metricsbench [quiet|scraped|elsewhere]: one download cycle of a whole
// station (the core kivo-ipd holds) over 20 simulated points of 1,000 records
// each, with the metrics listening on loopback. "scraped": two scrapers fetch
// /metrics back to back for the whole cycle; "elsewhere": they fetch a path
// the server has no route for, the same load of connections without the
// metrics' work. Prints the cycle's seconds, the largest gap between ticks of
// a 10 ms timer during the cycle (how long the event loop was kept from its
// work), how much of that gap the loop's thread ran and waited for a
// processor (the kernel's schedstat), and the scrapes made and their times.
// With no argument it runs itself once each way, each in a world of its own.
#include "SimPoints.h"
#include "StationEnvironment.h"
#include "StationTables.h"
#include "collect/SettingsCodec.h"
#include "collect/StationCore.h"
#include "platform/Registry.h"
#include "web/MetricsEndpoint.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTcpServer>
#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cstdio>
#include <mutex>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {
constexpr int kPoints = 20;
constexpr int kRecords = 1000;
constexpr int kScrapers = 2;
constexpr int kMostScrapes = 200000; // each scraper's bound, whatever the cycle does
constexpr qint64 kLongestCycleMs = 600000;

QString addressOf(int point) {
    return QStringLiteral("127.0.4.%1").arg(100 + point);
}

void prepareStation(quint16 metricsPort) {
    TRegistry registry;
    registry.OpenKey(settingsKey(QStringLiteral("JUXRegs")), true);
    StationSettings settings;
    settings.AutoMin = false;
    writeSettings(registry, settings);
    registry.WriteString(QStringLiteral("Metricas"), QString::number(metricsPort));
    registry.CloseKey();
    TSession session;
    session.DeclareAlias(QStringLiteral("KIVO_1"), AliasKind::Local);
    for (int i = 1; i <= kPoints; ++i)
        appendRow(QStringLiteral("confRegIP.db"), {{"IP", addressOf(i)},
                                                   {"Desc", QStringLiteral("Punto %1").arg(i)},
                                                   {"Loc", QString::number(i)},
                                                   {"Activo", true}});
}

// One scrape over a fresh connection: the whole reply's size, 0 on failure.
qint64 scrape(quint16 port, const QByteArray& request) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return 0;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    qint64 size = 0;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0 &&
        ::send(fd, request.constData(), size_t(request.size()), MSG_NOSIGNAL) == request.size()) {
        char buffer[65536];
        for (ssize_t got; (got = ::recv(fd, buffer, sizeof buffer, 0)) > 0;)
            size += got;
    }
    ::close(fd);
    return size;
}

// Scrapers that fetch back to back until told to stop (or their bound).
class Scrapers {
public:
    void start(quint16 port, const QByteArray& path) {
        const QByteArray request = "GET " + path + " HTTP/1.0\r\n\r\n";
        for (int i = 0; i < kScrapers; ++i)
            m_threads.emplace_back([this, port, request] { run(port, request); });
    }
    void stop() {
        m_stop = true;
        for (std::thread& t : m_threads)
            t.join();
    }
    QList<double> times; // ms, once stopped
    qint64 failures = 0, lastSize = 0;

private:
    void run(quint16 port, const QByteArray& request) {
        QList<double> mine;
        qint64 failed = 0, size = 0;
        QElapsedTimer clock;
        for (int n = 0; n < kMostScrapes && !m_stop; ++n) {
            clock.start();
            size = scrape(port, request);
            failed += size == 0;
            mine << double(clock.nsecsElapsed()) / 1e6;
        }
        const std::lock_guard lock(m_mutex);
        times << mine;
        failures += failed;
        lastSize = std::max(lastSize, size);
    }
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    std::vector<std::thread> m_threads;
};

// The loop's thread so far: ms on a processor, ms waiting for one.
std::pair<qint64, qint64> schedulerTimes() {
    QFile file(QStringLiteral("/proc/thread-self/schedstat"));
    const QList<QByteArray> parts =
        file.open(QIODevice::ReadOnly) ? file.readAll().split(' ') : QList<QByteArray>();
    if (parts.size() < 2)
        return {0, 0};
    return {parts[0].toLongLong() / 1000000, parts[1].toLongLong() / 1000000};
}

int measure(const QString& mode) {
    const bool scraped = mode != QLatin1String("quiet");
    QTextStream out(stdout);
    QTemporaryDir dir;
    useStationEnvironment(dir);
    QList<SimPointPlan> plans;
    for (int i = 1; i <= kPoints; ++i)
        plans.append({addressOf(i), simRecords(kRecords, i * 100000)});
    SimPoints sim(plans);
    if (!sim.started()) {
        std::fprintf(stderr, "the simulated points did not start\n");
        return 1;
    }
    sim.applyPorts();
    quint16 port = 0;
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost);
        port = probe.serverPort();
    }
    prepareStation(port);

    StationCore core;
    core.declareAliases();
    core.loadServerLogin();
    core.loadSettings(false);
    core.testServer();
    core.prepareDatabases();
    MetricsEndpoint metrics(core, core, [&core] { return core.health().rows(); });
    metrics.apply(core.serverAlias());
    if (!metrics.listening().on()) {
        std::fprintf(stderr, "the metrics do not listen\n");
        return 1;
    }

    QElapsedTimer sinceTick, cycle;
    qint64 largestGap = 0;
    std::pair<qint64, qint64> inGap, before = schedulerTimes();
    QTimer ticks;
    ticks.setTimerType(Qt::PreciseTimer);
    ticks.setInterval(10);
    QObject::connect(&ticks, &QTimer::timeout, [&] {
        const std::pair<qint64, qint64> now = schedulerTimes();
        if (const qint64 gap = sinceTick.restart(); gap > largestGap) {
            largestGap = gap;
            inGap = {now.first - before.first, now.second - before.second};
        }
        before = now;
    });
    bool ended = false;
    QObject::connect(&core, &StationControl::cycleEnded, [&] { ended = true; });
    Scrapers scrapers;
    if (scraped)
        scrapers.start(port, mode == QLatin1String("scraped") ? "/metrics" : "/elsewhere");
    cycle.start();
    sinceTick.start();
    ticks.start();
    core.startDownload(std::nullopt);
    while (!ended && cycle.elapsed() < kLongestCycleMs)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    const double seconds = double(cycle.nsecsElapsed()) / 1e9;
    ticks.stop();
    if (scraped)
        scrapers.stop();

    out << mode << ": cycle over " << kPoints << " points of " << kRecords << " records"
        << (ended ? "" : " (did not end)") << '\n';
    out << QString::asprintf("  seconds in all:                   %.2f s\n", seconds);
    out << QString::asprintf("  largest gap between 10 ms ticks:  %lld ms (%lld ms of it on a "
                             "processor, %lld ms waiting for one)\n",
                             largestGap, inGap.first, inGap.second);
    if (scraped && !scrapers.times.isEmpty()) {
        std::sort(scrapers.times.begin(), scrapers.times.end());
        const auto at = [&](double q) {
            return scrapers.times[qsizetype(q * (scrapers.times.size() - 1))];
        };
        out << QString::asprintf("  scrapes: %lld (%.0f a second, %lld failed), %lld bytes each at "
                                 "the end\n",
                                 qint64(scrapers.times.size()), scrapers.times.size() / seconds,
                                 scrapers.failures, scrapers.lastSize);
        out << QString::asprintf("  scrape time: median %.2f ms, 99th percentile %.2f ms, "
                                 "largest %.2f ms\n",
                                 at(0.5), at(0.99), scrapers.times.last());
    }
    out.flush();
    return ended ? 0 : 1;
}
} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() > 1)
        return measure(args.at(1));
    int status = 0;
    for (const char* mode : {"quiet", "scraped", "elsewhere"}) {
        QProcess self;
        self.setProcessChannelMode(QProcess::ForwardedChannels);
        self.start(app.applicationFilePath(), {QString::fromLatin1(mode)});
        self.waitForFinished(-1);
        status |= self.exitCode();
    }
    return status;
}
