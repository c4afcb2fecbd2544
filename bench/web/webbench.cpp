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

// One ab run on the event loop, its largest tick gap measured meanwhile.
class Load : public QObject {
public:
    Load(QString name, QString program, QStringList args, std::function<void()> next)
        : m_name(std::move(name)), m_program(std::move(program)), m_args(std::move(args)),
          m_next(std::move(next)) {
        m_ticks.setTimerType(Qt::PreciseTimer);
        m_ticks.setInterval(10);
        connect(&m_ticks, &QTimer::timeout, this,
                [this] { m_largest = std::max(m_largest, m_sinceTick.restart()); });
        connect(&m_ab, &QProcess::finished, this, [this] { finished(); });
    }
    void start() {
        m_sinceTick.start();
        m_ticks.start();
        m_ab.start(m_program, m_args);
    }

private:
    void finished() {
        m_ticks.stop();
        if (m_program != QLatin1String("ab")) {
            std::printf("%s: largest loop gap %lld ms\n", qPrintable(m_name), m_largest);
            return m_next();
        }
        const QString out = QString::fromUtf8(m_ab.readAllStandardOutput());
        const auto field = [&](const char* label) {
            return QRegularExpression(QString::fromLatin1(label) + QStringLiteral(":\\s+(\\S+)"))
                .match(out)
                .captured(1);
        };
        std::printf("%s: %s requests, %d clients: %s requests/s, %s failed, non-2xx %s; "
                    "largest loop gap %lld ms\n",
                    qPrintable(m_name), qPrintable(field("Complete requests")), kClients,
                    qPrintable(field("Requests per second")), qPrintable(field("Failed requests")),
                    qPrintable(field("Non-2xx responses").isEmpty() ? QStringLiteral("0")
                                                                    : field("Non-2xx responses")),
                    m_largest);
        if (m_ab.exitCode() != 0)
            std::printf("  ab: %s\n", m_ab.readAllStandardError().constData());
        m_next();
    }

    QString m_name, m_program;
    QStringList m_args;
    std::function<void()> m_next;
    QProcess m_ab;
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
    std::unique_ptr<Load> quiet, points, summary;
    QTimer::singleShot(0, [&] {
        const QByteArray cookie = "kivo_sesion=" + logIn(port);
        const QString base = QStringLiteral("http://127.0.0.1:%1").arg(port);
        const QStringList common{"-q", "-c", QString::number(kClients), "-C",
                                 QString::fromLatin1(cookie)};
        summary = std::make_unique<Load>(
            QStringLiteral("summary of %1 tickets").arg(records), QStringLiteral("ab"),
            common +
                QStringList{"-n", "200",
                            base + QStringLiteral("/resumen?desde=%1&hasta=%2")
                                       .arg(day.toString(Qt::ISODate), last.toString(Qt::ISODate))},
            [] { ::raise(SIGTERM); });
        points =
            std::make_unique<Load>(QStringLiteral("points' page"), QStringLiteral("ab"),
                                   common + QStringList{"-n", "5000", base + QStringLiteral("/")},
                                   [&] { summary->start(); });
        quiet = std::make_unique<Load>(QStringLiteral("no request, 10 s"), QStringLiteral("sleep"),
                                       QStringList{"10"}, [&] { points->start(); });
        quiet->start();
    });
    return service.run();
}
