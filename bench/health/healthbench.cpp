// healthbench: seconds per constant cycle over 20 simulated points of 1,000
// records, 5 of them dead (they accept the connection and never answer), FTP
// time-out 5000 ms, with the service's 10 ms steps: back-off off, back-off on,
// and the same cycles with the 5 dead points removed.
//   healthbench [cycles] [alert threshold] [--no-off]   (6 and 3 by default;
//   --no-off leaves out the run with back-off off)
#include "SimPoints.h"
#include "StationEnvironment.h"
#include "collect/Cycles.h"
#include "collect/PointClients.h"
#include "collect/PointHealth.h"
#include "collect/PuntoRegistro.h"
#include "store/DataSet.h"
#include "store/Session.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTextStream>
#include <cstdio>
#include <memory>

namespace {
constexpr int kLive = 15;
constexpr int kDead = 5;
constexpr int kRecords = 1000;
constexpr int kFtpTimeOut = 5000;

class QuietReport : public StationReport {
public:
    void memoAppend(const QString&) override {}
    void memoClear() override {}
    void statusText(const QString&) override {}
    void logRow(const QString&, std::optional<int>) override {}
    void showError(const std::exception& error) override {
        std::fprintf(stderr, "error: %s\n", error.what());
    }
};

struct ConstantControls : CycleControls {
    QTime dailyTime() const override { return {23, 0}; }
    bool constantOn() const override { return false; }
    QString automaticPrefix() const override { return prefix; }
    QString manualPath() const override { return {}; }
    bool manualOverwrite() const override { return false; }
    QString prefix;
};

// A dead point: every connection is accepted and never answered.
class BlackHole {
public:
    bool listen(const QString& address, quint16 port) {
        QObject::connect(&m_server, &QTcpServer::newConnection, [this] {
            while (QTcpSocket* s = m_server.nextPendingConnection())
                m_held << s;
        });
        return m_server.listen(QHostAddress(address), port);
    }

private:
    QTcpServer m_server;
    QList<QTcpSocket*> m_held;
};

QString liveAddress(int i) {
    return QStringLiteral("127.0.4.%1").arg(100 + i);
}
QString deadAddress(int i) {
    return QStringLiteral("127.0.4.%1").arg(200 + i);
}

// Live and dead points interleaved, as a real network has them.
void listPoints(bool withDead) {
    TTable points;
    points.DatabaseName = QStringLiteral("KIVO_1");
    points.TableName = QStringLiteral("confRegIP.db");
    points.Open();
    const auto add = [&](const QString& ip, const QString& loc) {
        points.Append();
        points.FieldByName(QStringLiteral("IP")).setAsString(ip);
        points.FieldByName(QStringLiteral("Desc")).setAsString(QStringLiteral("Punto ") + loc);
        points.FieldByName(QStringLiteral("Loc")).setAsString(loc);
        points.FieldByName(QStringLiteral("Activo")).setAsBoolean(true);
        points.Post();
    };
    for (int i = 1; i <= kLive; ++i) {
        add(liveAddress(i), QString::number(i));
        if (withDead && i % 3 == 0)
            add(deadAddress(i / 3), QString::number(100 + i / 3));
    }
    points.Close();
}

// The seconds of each cycle of one run in a world of its own.
QList<double> runCycles(int cycles, bool withDead, bool backOff, int threshold) {
    QTemporaryDir dir;
    useStationEnvironment(dir);
    QList<SimPointPlan> plans;
    for (int i = 1; i <= kLive; ++i)
        plans.append({liveAddress(i), simRecords(kRecords, i * 100000)});
    SimPoints sim(plans);
    if (!sim.started()) {
        std::fprintf(stderr, "the simulated points did not start\n");
        return {};
    }
    sim.applyPorts();
    std::vector<std::unique_ptr<BlackHole>> holes;
    for (int i = 1; withDead && i <= kDead; ++i)
        for (quint16 port : {quint16(sim.ftpPort()), quint16(sim.paramPort())}) {
            holes.push_back(std::make_unique<BlackHole>());
            if (!holes.back()->listen(deadAddress(i), port))
                std::fprintf(stderr, "no dead point on %s\n", qPrintable(deadAddress(i)));
        }
    QList<double> seconds;
    {
        TSession session;
        session.DeclareAlias(QStringLiteral("KIVO_1"), AliasKind::Local);
        session.DeclareAlias(QStringLiteral("JUXRegs"), AliasKind::Server);
        listPoints(withDead);
        TFtpClient ftp;
        TTcpSock sock;
        setUpPointClients(ftp, sock); // as the window and the service set them up
        QuietReport report;
        PuntoRegistro work(PointSetup{ftp, sock, report, QStringLiteral("KIVO_1"),
                                      QStringLiteral("JUXRegs"), [] { return kFtpTimeOut; }});
        HealthKeeper health(QStringLiteral("KIVO_1"), report);
        health.setPolicy(HealthPolicy{threshold, 24, backOff});
        health.load();
        ConstantControls controls;
        controls.prefix = dir.filePath(QStringLiteral("auto"));
        OwnedCycleTimers timers(60, 10);
        TTable tPrIP;
        tPrIP.DatabaseName = QStringLiteral("KIVO_1");
        tPrIP.TableName = QStringLiteral("confRegIP.db");
        CollectionCycles machine(timers.timers(), tPrIP, controls, work, report);
        machine.setHealth(&health);
        connectCycleTimers(machine, timers.timers(), QCoreApplication::instance());
        for (int c = 0; c < cycles; ++c) {
            QElapsedTimer clock;
            clock.start();
            machine.constantTick();
            while (machine.running())
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
            seconds << clock.nsecsElapsed() / 1e9;
        }
    }
    QDir::setCurrent(QDir::tempPath());
    return seconds;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int cycles = argc > 1 ? std::atoi(argv[1]) : 6;
    const int threshold = argc > 2 ? std::atoi(argv[2]) : 3;
    QTextStream out(stdout);
    out << "constant cycles over " << kLive << " live points of " << kRecords << " records and "
        << kDead << " dead ones, FTP time-out " << kFtpTimeOut << " ms, alert threshold "
        << threshold << "\n";
    out.flush();
    const bool withOff = !(argc > 3 && QByteArray(argv[3]) == "--no-off");
    const QList<double> off =
        withOff ? runCycles(cycles, true, false, threshold) : QList<double>(cycles, 0.0);
    const QList<double> on = runCycles(cycles, true, true, threshold);
    const QList<double> without = runCycles(cycles, false, false, threshold);
    if (off.size() != cycles || on.size() != cycles || without.size() != cycles)
        return 1;
    out << "cycle  back-off off  back-off on  dead removed  on/removed\n";
    for (int c = 0; c < cycles; ++c)
        out << QString::asprintf("%5d  %10.2f s  %9.2f s  %10.2f s  %9.2f\n", c + 1, off[c], on[c],
                                 without[c], on[c] / without[c]);
    return 0;
}
