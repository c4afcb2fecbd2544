// The metrics for a monitoring system: the embedded HTTP server's routes, the
// setting that says where it listens, and a running kivo-ipd scraped over
// HTTP after a cycle, its text checked by Prometheus's own promtool.
#include "WebClient.h"
#include "service/ServiceWorld.h"
#include "web/HttpServer.h"
#include "web/MetricsSettings.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <csignal>

namespace {

const QString kAlive = QStringLiteral("127.0.8.1");
const QString kDead = QStringLiteral("127.0.8.99"); // nothing listens there
// A description that needs escaping in a label.
const QString kOddDesc = QStringLiteral("Andén \"sur\" \\ 2");

int freePort() {
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost) ? probe.serverPort() : 0;
}

// The value of one sample of the text, or -1 when it is not there.
double sampleValue(const QByteArray& text, const QString& series) {
    for (const QByteArray& line : text.split('\n'))
        if (line.startsWith(series.toUtf8() + ' '))
            return line.mid(series.toUtf8().size() + 1).toDouble();
    return -1;
}

void setMetrics(const QString& value) {
    TRegistry registry;
    registry.OpenKey(settingsKey(QStringLiteral("JUXRegs")), true);
    registry.WriteString(QStringLiteral("Metricas"), value);
    registry.CloseKey();
}

} // namespace

class TestMetrics : public QObject {
    Q_OBJECT

private slots:
    void serverAnswersByRoute_data();
    void serverAnswersByRoute();
    void listenSettingIsReadOrRefused_data();
    void listenSettingIsReadOrRefused();
    void serviceIsScrapedAfterACycle();
    void listenerFollowsTheSettings();
};

void TestMetrics::serverAnswersByRoute_data() {
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::newRow("GET a route") << QByteArray("GET /eco?x=1 HTTP/1.0\r\n\r\n") << QByteArray("200")
                                 << QByteArray("GET /eco x=1 ");
    QTest::newRow("HEAD: no body")
        << QByteArray("HEAD /eco HTTP/1.0\r\n\r\n") << QByteArray("200") << QByteArray();
    QTest::newRow("POST with its body")
        << QByteArray("POST /eco HTTP/1.0\r\nContent-Length: 5\r\n\r\nhola!") << QByteArray("200")
        << QByteArray("POST /eco  hola!");
    QTest::newRow("no such path") << QByteArray("GET /otra HTTP/1.0\r\n\r\n") << QByteArray("404")
                                  << QByteArray("no encontrado\n");
    QTest::newRow("no such method") << QByteArray("PUT /eco HTTP/1.0\r\nContent-Length: 0\r\n\r\n")
                                    << QByteArray("405") << QByteArray("método no permitido\n");
    QTest::newRow("body too large")
        << QByteArray("POST /eco HTTP/1.0\r\nContent-Length: " +
                      QByteArray::number(HttpServer::kMaxBody + 1) + "\r\n\r\n" +
                      QByteArray(HttpServer::kMaxBody + 1, 'x'))
        << QByteArray("413") << QByteArray("demasiado grande\n");
    QTest::newRow("handler raises") << QByteArray("GET /falla HTTP/1.0\r\n\r\n")
                                    << QByteArray("500") << QByteArray("error interno\n");
}

void TestMetrics::serverAnswersByRoute() {
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, status);
    QFETCH(QByteArray, body);
    HttpServer server;
    const HttpHandler echo = [](const HttpRequest& r) {
        HttpResponse response;
        response.body = r.method + ' ' + r.path + ' ' +
                        (r.query.isEmpty() ? QByteArray() : "x=" + r.query.value("x")) + ' ' +
                        r.body;
        return response;
    };
    server.route("GET", "/eco", echo);
    server.route("POST", "/eco", echo);
    server.route("GET", "/falla",
                 [](const HttpRequest&) -> HttpResponse { throw std::runtime_error("x"); });
    QString why;
    QVERIFY2(server.start(QHostAddress::LocalHost, 0, why), qPrintable(why));
    QVERIFY(server.port() > 0);
    const QByteArray reply = exchange(server.port(), request).raw;
    QVERIFY2(reply.startsWith("HTTP/1.0 " + status + ' ') ||
                 reply.startsWith("HTTP/1.1 " + status + ' '),
             reply.left(200).constData());
    QCOMPARE(HttpReply{reply}.body(), body);
    if (status == "405")
        QVERIFY(reply.contains("Allow: GET, POST"));
}

void TestMetrics::listenSettingIsReadOrRefused_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("where"); // empty: refused
    QTest::newRow("port alone: loopback") << "9740"
                                          << "127.0.0.1:9740";
    QTest::newRow("every IPv4 address") << "0.0.0.0:9740"
                                        << "0.0.0.0:9740";
    QTest::newRow("IPv6 in brackets") << "[::1]:9740"
                                      << "[::1]:9740";
    QTest::newRow("host name") << "monitor:9740"
                               << "";
    QTest::newRow("port out of range") << "70000"
                                       << "";
    QTest::newRow("no port") << "127.0.0.1"
                             << "";
    QTest::newRow("bad address") << "300.1.1.1:9740"
                                 << "";
}

void TestMetrics::listenSettingIsReadOrRefused() {
    QFETCH(QString, text);
    QFETCH(QString, where);
    QString problem;
    const std::optional<MetricsListen> listen = parseMetricsListen(text, problem);
    QCOMPARE(listen.has_value(), !where.isEmpty());
    if (listen)
        QCOMPARE(listen->text(), where);
    else
        QVERIFY(problem.contains(text));
}

// A cycle over a point that answers and one that does not, then a scrape:
// the text passes promtool, and says what the cycle did.
void TestMetrics::serviceIsScrapedAfterACycle() {
    ServiceWorld world;
    StationSettings settings;
    settings.AutoMin = false;
    world.writeSettings(settings);
    const int port = freePort();
    QVERIFY(port > 0);
    {
        TRegistry registry;
        registry.OpenKey(settingsKey(QStringLiteral("JUXRegs")), true);
        registry.WriteInteger(QStringLiteral("AlertaFallos"), 1);
        registry.WriteString(QStringLiteral("Metricas"), QString::number(port));
        registry.CloseKey();
    }
    world.addPoints({kAlive});
    {
        TSession session;
        session.DeclareAlias(QStringLiteral("KIVO_1"), AliasKind::Local);
        appendRow(QStringLiteral("confRegIP.db"),
                  {{"IP", kDead}, {"Desc", kOddDesc}, {"Loc", "AS"}, {"Activo", true}});
    }
    SimPoints sim({{kAlive, simRecords(4, 1)}});
    QVERIFY(sim.started());
    QProcess service;
    startWaiting(world, service, &sim);
    QCOMPARE(ask(world, "descargar\n"), QByteArray("ok"));
    QByteArray text;
    QDeadlineTimer deadline(60000);
    while (!deadline.hasExpired() &&
           sampleValue(text, QStringLiteral(
                                 "kivo_cycles_total{kind=\"download\",result=\"failed\"}")) < 1) {
        text = exchange(quint16(port), "GET /metrics HTTP/1.0\r\n\r\n").body();
        QTest::qWait(100);
    }
    ::kill(pid_t(service.processId()), SIGTERM);
    QVERIFY(service.waitForFinished(30000));

    QProcess promtool;
    promtool.start(QStringLiteral("promtool"),
                   {QStringLiteral("check"), QStringLiteral("metrics")});
    promtool.write(text);
    promtool.closeWriteChannel();
    QVERIFY(promtool.waitForFinished(30000));
    QVERIFY2(promtool.exitCode() == 0,
             qPrintable(QString::fromUtf8(promtool.readAll()) + QString::fromUtf8(text)));

    const auto value = [&](const QString& series) { return sampleValue(text, series); };
    const QString alive = QStringLiteral("{point=\"%1\",loc=\"L1\"}").arg(kAlive);
    const QString dead = QStringLiteral("{point=\"%1\",loc=\"AS\"}").arg(kDead);
    QCOMPARE(value(QStringLiteral("kivo_point_records_stored_total") + alive), 4.0);
    QCOMPARE(value(QStringLiteral("kivo_point_records_today") + alive), 4.0);
    QCOMPARE(value(QStringLiteral("kivo_point_failures_in_row") + dead), 1.0);
    QCOMPARE(value(QStringLiteral("kivo_point_down") + dead), 1.0);
    QCOMPARE(value(QStringLiteral("kivo_point_down") + alive), 0.0);
    QVERIFY(value(QStringLiteral("kivo_point_last_success_timestamp_seconds") + alive) >
            QDateTime::currentSecsSinceEpoch() - 600);
    QCOMPARE(value(QStringLiteral("kivo_point_last_success_timestamp_seconds") + dead), 0.0);
    QCOMPARE(value(QStringLiteral("kivo_point_visit_duration_seconds_count") + dead), 1.0);
    QCOMPARE(value(QStringLiteral("kivo_point_visit_duration_seconds_count") + alive), 1.0);
    // Timed from the point's start to its end, the storing run on its thread.
    QVERIFY(value(QStringLiteral("kivo_point_visit_duration_seconds_sum") + alive) > 0);
    QVERIFY(value(QStringLiteral("kivo_storing_run_duration_seconds_sum")) > 0);
    QCOMPARE(value(QStringLiteral("kivo_cycle_last_failures{kind=\"download\"}")), 1.0);
    QCOMPARE(value(QStringLiteral("kivo_cycle_duration_seconds_count{kind=\"download\"}")), 1.0);
    QCOMPARE(value(QStringLiteral("kivo_storing_run_duration_seconds_count")), 1.0);
    QVERIFY(text.contains(
        QStringLiteral(
            "kivo_point_info{point=\"%1\",loc=\"AS\",desc=\"Andén \\\"sur\\\" \\\\ 2\"} 1")
            .arg(kDead)
            .toUtf8()));
}

// Off until the settings name a port; a reload starts the listener, and one
// that cannot listen where it is sent says so and leaves nothing listening.
void TestMetrics::listenerFollowsTheSettings() {
    ServiceWorld world;
    StationSettings settings;
    settings.AutoMin = false;
    world.writeSettings(settings);
    const int port = freePort();
    QTcpServer taken;
    QVERIFY(port > 0 && taken.listen(QHostAddress::LocalHost));
    QProcess service;
    startWaiting(world, service, nullptr);
    const QByteArray request = "GET /metrics HTTP/1.0\r\n\r\n";
    QVERIFY(exchange(quint16(port), request).raw.isEmpty());

    setMetrics(QString::number(port));
    QCOMPARE(ask(world, "releer\n"), QByteArray("ok"));
    QTRY_VERIFY_WITH_TIMEOUT(
        exchange(quint16(port), request).body().contains("\nkivo_cycle_running 0\n"), 20000);

    setMetrics(QStringLiteral("127.0.0.1:%1").arg(taken.serverPort()));
    QCOMPARE(ask(world, "releer\n"), QByteArray("ok"));
    QString journal;
    const QString refused = QStringLiteral("<3>ERROR: no se pueden publicar las métricas en "
                                           "127.0.0.1:%1: ")
                                .arg(taken.serverPort());
    QDeadlineTimer deadline(20000);
    while (!journal.contains(refused) && !deadline.hasExpired()) {
        service.waitForReadyRead(500);
        journal += QString::fromUtf8(service.readAllStandardError());
    }
    QVERIFY2(journal.contains(refused), qPrintable(journal));
    QVERIFY(exchange(quint16(port), request).raw.isEmpty());
    ::kill(pid_t(service.processId()), SIGTERM);
    QVERIFY(service.waitForFinished(30000));
}

QTEST_GUILESS_MAIN(TestMetrics)
#include "tst_metrics.moc"
