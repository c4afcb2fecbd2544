// webbench: the office's web page under load, and what it costs the event
// loop. A service in this process collects one simulated point of 10,000
// records (or the count given) into the server table, then serves its web
// page while apache2-utils' ab sends 20 concurrent clients at the points'
// page and at the summary of those tickets; a 10 ms timer ticks on the event
// loop all along. Printed: ab's requests per second and failures for each,
// and the largest gap between ticks while each ran, beside the largest gap
// over as long a time with no request (what the machine's other work costs).
//   webbench [records]
#include "SimPoints.h"
#include "StationEnvironment.h"
#include "collect/SettingsCodec.h"
#include "cycles/CycleWorld.h"
#include "platform/Registry.h"
#include "service/StationService.h"
#include "web/WebAccounts.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTimer>
#include <csignal>
#include <cstdio>

namespace {

const QString kIp = QStringLiteral("127.0.3.201");
constexpr int kClients = 20;

int freePort() {
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost) ? probe.serverPort() : 0;
}

void writeSettings(int port, const QString& accounts) {
    StationSettings settings;
    settings.AutoMin = false;
    TRegistry registry;
    registry.OpenKey(settingsKey(QStringLiteral("JUXRegs")), true);
    writeSettings(registry, settings);
    registry.WriteString(QStringLiteral("Web"), QString::number(port));
    registry.WriteString(QStringLiteral("WebCuentas"), accounts);
    registry.CloseKey();
}

// The session cookie of a login, by curl.
QByteArray logIn(int port) {
    const QString base = QStringLiteral("http://127.0.0.1:%1").arg(port);
    QProcess form;
    form.start(QStringLiteral("curl"), {"-si", base + QStringLiteral("/entrar")});
    form.waitForFinished(30000);
    const QString page = QString::fromUtf8(form.readAllStandardOutput());
    const QString token = QRegularExpression(QStringLiteral("name=\"csrf\" value=\"([0-9a-f]+)\""))
                              .match(page)
                              .captured(1);
    QProcess login;
    login.start(QStringLiteral("curl"),
                {"-si", "-b", QStringLiteral("kivo_entrada=") + token, "--data",
                 QStringLiteral("csrf=%1&usuario=banco&clave=banco").arg(token),
                 base + QStringLiteral("/entrar")});
    login.waitForFinished(30000);
    const QString reply = QString::fromUtf8(login.readAllStandardOutput());
    return QRegularExpression(QStringLiteral("kivo_sesion=([0-9a-f]+)"))
        .match(reply)
        .captured(1)
        .toLatin1();
}

// One phase: ab runs (or a plain wait) at once on the event loop, the largest
// tick gap measured until the last has ended.
class Load : public QObject {
public:
    struct Run {
        QString name, program;
        QStringList args;
    };
    Load(QString name, QList<Run> runs, std::function<void()> next)
        : m_name(std::move(name)), m_runs(std::move(runs)), m_next(std::move(next)) {
        m_ticks.setTimerType(Qt::PreciseTimer);
        m_ticks.setInterval(10);
        connect(&m_ticks, &QTimer::timeout, this,
                [this] { m_largest = std::max(m_largest, m_sinceTick.restart()); });
    }
    void start() {
        m_sinceTick.start();
        m_ticks.start();
        for (const Run& run : m_runs) {
            auto* process = new QProcess(this);
            m_processes << process;
            connect(process, &QProcess::finished, this, [this] { finished(); });
            process->start(run.program, run.args);
        }
    }

private:
    void finished() {
        if (++m_ended < m_processes.size())
            return;
        m_ticks.stop();
        std::printf("%s: largest loop gap %lld ms\n", qPrintable(m_name), m_largest);
        for (int i = 0; i < m_runs.size(); ++i)
            if (m_runs[i].program == QLatin1String("ab"))
                print(m_runs[i].name, *m_processes[i]);
        m_next();
    }

    static void print(const QString& name, QProcess& ab) {
        const QString out = QString::fromUtf8(ab.readAllStandardOutput());
        const auto field = [&](const char* label) {
            const QString value =
                QRegularExpression(QString::fromLatin1(label) + QStringLiteral(":\\s+(\\S+)"))
                    .match(out)
                    .captured(1);
            return value.isEmpty() ? QStringLiteral("0") : value;
        };
        std::printf("  %s: %s requests, %d clients: %s requests/s, %s failed, non-2xx %s\n",
                    qPrintable(name), qPrintable(field("Complete requests")), kClients,
                    qPrintable(field("Requests per second")), qPrintable(field("Failed requests")),
                    qPrintable(field("Non-2xx responses")));
        if (ab.exitCode() != 0)
            std::printf("  ab: %s\n", ab.readAllStandardError().constData());
    }

    QString m_name;
    QList<Run> m_runs;
    std::function<void()> m_next;
    QList<QProcess*> m_processes;
    int m_ended = 0;
    QTimer m_ticks;
    QElapsedTimer m_sinceTick;
    qint64 m_largest = 0;
};

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const int records = qBound(1, app.arguments().value(1, QStringLiteral("10000")).toInt(), 65535);
    QTemporaryDir dir;
    useStationEnvironment(dir);
    SimPoints sim({{kIp, simRecords(records)}});
    if (!sim.started())
        qFatal("the simulated point did not start");
    sim.applyPorts();
    const int port = freePort();
    const QString accounts = dir.filePath(QStringLiteral("web-usuarios"));
    QFile file(accounts);
    if (!file.open(QIODevice::WriteOnly))
        qFatal("no accounts file");
    file.write(accountLine(QStringLiteral("banco"), "banco").toUtf8() + '\n');
    file.close();
    writeSettings(port, accounts);
    {
        TSession session;
        session.DeclareAlias(QStringLiteral("KIVO_1"), AliasKind::Local);
        appendPoints(QStringLiteral("KIVO_1"),
                     {{kIp, QStringLiteral("Banco"), QStringLiteral("B1")}});
    }

    StationService service;
    if (!service.start() || service.runOnce(false) != 0)
        qFatal("the point was not collected");
    const QDate day =
        QDateTime(QDate(1980, 1, 1), QTime(0, 0)).addSecs(simRecords(1)[0].segundos).date();
    const QDate last = day.addDays(records * 61 / 86400 + 1);
    std::vector<std::unique_ptr<Load>> phases;
    QTimer::singleShot(0, [&] {
        const QByteArray cookie = "kivo_sesion=" + logIn(port);
        const QString base = QStringLiteral("http://127.0.0.1:%1").arg(port);
        const auto ab = [&](const QString& name, int requests, const QString& path) {
            return Load::Run{name,
                             QStringLiteral("ab"),
                             {"-q", "-c", QString::number(kClients), "-C",
                              QString::fromLatin1(cookie), "-n", QString::number(requests),
                              base + path}};
        };
        const QString summaryPath = QStringLiteral("/resumen?desde=%1&hasta=%2")
                                        .arg(day.toString(Qt::ISODate), last.toString(Qt::ISODate));
        const QString summaryName = QStringLiteral("summary of %1 tickets").arg(records);
        const QList<std::pair<QString, QList<Load::Run>>> plan{
            {QStringLiteral("no request, 10 s"),
             {{QStringLiteral("wait"), QStringLiteral("sleep"), {"10"}}}},
            {QStringLiteral("points' page"), {ab(QStringLiteral("points' page"), 5000, "/")}},
            {summaryName, {ab(summaryName, 200, summaryPath)}},
            {QStringLiteral("both at once"),
             {ab(QStringLiteral("points' page"), 5000, "/"), ab(summaryName, 200, summaryPath)}}};
        // Each phase starts the next when it ends; the last stops the service.
        std::function<void()> next = [] { ::raise(SIGTERM); };
        for (auto phase = plan.rbegin(); phase != plan.rend(); ++phase) {
            phases.push_back(std::make_unique<Load>(phase->first, phase->second, next));
            next = [load = phases.back().get()] { load->start(); };
        }
        next();
    });
    return service.run();
}
