// tickbench: how long the event loop goes unserved while a full point is
// collected, in the window and in the service. One simulated point of 65,535
// records (or the count given), or as many points as given, one manual
// download cycle with the push; a 10 ms timer ticks all along. Printed: the largest gap between its
// ticks while the records were stored (the storing thread was there at both ends of the gap), and
// over the whole cycle (a window repaints, a service pings its watchdog, only between ticks).
// AT-ONCE is "Puntos a la vez"; above 1 the points are fetched in passive mode,
// since the simulator leaves some active-mode sessions unanswered when many
// run at once.
//   tickbench window|service [records] [points] [at-once]
#include "SimPoints.h"
#include "StationEnvironment.h"
#include "collect/Cycles.h"
#include "collect/SettingsCodec.h"
#include "cycles/CycleWorld.h"
#include "platform/Registry.h"
#include "service/StationService.h"
#include "station/uPrincipal.h"
#include "store/DataSet.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <cstdio>

namespace {

// The points' addresses: 127.0.3.200, 127.0.3.201 ...
QString addressOf(int point) {
    return QStringLiteral("127.0.3.%1").arg(200 + point);
}
const QString kLocal = QStringLiteral("KIVO_1");

// Whether the storing thread is running: one of this process's threads has
// its name.
bool storing() {
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(tasks.filePath(task + QStringLiteral("/comm")));
        if (comm.open(QIODevice::ReadOnly) && comm.readAll().trimmed() == "storing")
            return true;
    }
    return false;
}

// The largest gaps between ticks of a 10 ms timer, from start to stop.
class TickGaps {
public:
    TickGaps() {
        m_ticks.setTimerType(Qt::PreciseTimer);
        m_ticks.setInterval(10);
        QObject::connect(&m_ticks, &QTimer::timeout, [this] {
            const qint64 gap = m_sinceTick.restart();
            const bool storingNow = storing();
            m_largest = std::max(m_largest, gap);
            if (storingNow && m_storingAtLastTick) {
                m_largestStoring = std::max(m_largestStoring, gap);
                ++m_storingTicks;
            }
            m_storingAtLastTick = storingNow;
            ++m_count;
        });
    }
    void start() {
        m_sinceTick.start();
        m_ticks.start();
    }
    void stop() { m_ticks.stop(); }
    void print() const {
        std::printf("  largest gap between 10 ms ticks while storing: %lld ms (%d ticks)\n",
                    m_largestStoring, m_storingTicks);
        std::printf("  largest gap between 10 ms ticks in the whole cycle: %lld ms (%d ticks)\n",
                    m_largest, m_count);
    }

private:
    QTimer m_ticks;
    QElapsedTimer m_sinceTick;
    qint64 m_largest = 0, m_largestStoring = 0;
    int m_count = 0, m_storingTicks = 0;
    bool m_storingAtLastTick = false;
};

void writeSettings(int atOnce) {
    StationSettings settings;
    settings.AutoMin = false; // no cycle but the bench's own
    settings.PuntosALaVez = atOnce;
    TRegistry registry;
    registry.OpenKey(settingsKey(QStringLiteral("JUXRegs")), true);
    writeSettings(registry, settings);
    registry.CloseKey();
}

void listThePoints(int count) {
    TSession session;
    session.DeclareAlias(kLocal, AliasKind::Local);
    QList<Point> points;
    for (int i = 0; i < count; ++i)
        points.append({addressOf(i), QStringLiteral("Lleno %1").arg(i + 1),
                       QStringLiteral("T%1").arg(i + 1)});
    appendPoints(kLocal, points);
}

int rowsStored() {
    TSession session;
    TTable lectura;
    lectura.DatabaseName = kLocal;
    lectura.TableName = QStringLiteral("lectura.DB");
    lectura.Open();
    return lectura.RecordCount();
}

template <typename Child> Child* child(QObject& parent, const char* name) {
    Child* found = parent.findChild<Child*>(QString::fromLatin1(name));
    if (!found)
        qFatal("the window has no %s", name);
    return found;
}

// The operator's way: the manual file box, then "Descargar".
void collectInTheWindow(const QString& output, bool passive, TickGaps& gaps) {
    TfPrincipal window;
    window.punto().ftp().Passive = passive;
    child<QCheckBox>(window, "cbAutoMin")->setChecked(false);
    child<QLineEdit>(window, "eFileMan")->setText(output);
    window.show();
    gaps.start();
    child<QPushButton>(window, "bDescargar")->click();
    while (window.cycles().running())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    gaps.stop();
}

int collectInTheService(bool passive, TickGaps& gaps) {
    StationService service;
    if (!service.start())
        qFatal("the service did not start");
    service.core().work().ftp().Passive = passive;
    gaps.start();
    const int status = service.runOnce(false);
    gaps.stop();
    return status;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const bool inWindow = args.value(1) == QLatin1String("window");
    if (!inWindow && args.value(1) != QLatin1String("service")) {
        std::fprintf(stderr, "usage: tickbench window|service [records] [points] [at-once]\n");
        return 64;
    }
    const int records = qBound(1, args.value(2, QStringLiteral("65535")).toInt(), 65535);
    const int pointCount = qBound(1, args.value(3, QStringLiteral("1")).toInt(), 50);
    const int atOnce = qBound(1, args.value(4, QStringLiteral("1")).toInt(), 32);

    QTemporaryDir dir;
    useStationEnvironment(dir);
    QList<SimPointPlan> plans;
    for (int i = 0; i < pointCount; ++i)
        plans.append({addressOf(i), simRecords(records, i * 100000)});
    SimPoints sim(plans);
    if (!sim.started())
        qFatal("the simulated points did not start");
    sim.applyPorts();
    writeSettings(atOnce);
    listThePoints(pointCount);

    TickGaps gaps;
    QElapsedTimer cycle;
    cycle.start();
    if (inWindow)
        collectInTheWindow(dir.filePath(QStringLiteral("salida.txt")), atOnce > 1, gaps);
    else if (collectInTheService(atOnce > 1, gaps) != 0)
        qFatal("the point failed");
    const double seconds = cycle.nsecsElapsed() / 1e9;
    const int stored = rowsStored();
    std::printf("%s: %d point(s) of %d records, %d at once, %d rows stored, cycle %.2f s\n",
                inWindow ? "window" : "service", pointCount, records, atOnce, stored, seconds);
    gaps.print();
    return stored == records * pointCount ? 0 : 1;
}
