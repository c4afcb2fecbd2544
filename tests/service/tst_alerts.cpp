// The service's alerts: the command with the point in its environment under a
// time limit, and the e-mail through a real SMTP server (aiosmtpd) on loopback.
#include "SmtpSink.h"
#include "service/AlertSender.h"
#include "service/MailSend.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

namespace {

class LogReport : public StationReport {
public:
    void memoAppend(const QString&) override {}
    void memoClear() override {}
    void statusText(const QString& text) override { status = text; }
    void logRow(const QString& archivo, std::optional<int>) override { log << archivo; }
    void showError(const std::exception&) override {}
    QString status;
    QStringList log;
};

const HealthAlert kDown{true, QStringLiteral("127.0.9.9"), QStringLiteral("Portería"),
                        QStringLiteral("42"), QStringLiteral("3 fallo(s) seguidos: sin respuesta")};

MailRelay relayTo(int port) {
    MailRelay relay;
    relay.host = QStringLiteral("127.0.0.1");
    relay.port = port;
    relay.from = QStringLiteral("estacion@example.com");
    relay.to = {QStringLiteral("guardia@example.com"), QStringLiteral("jefe@example.com")};
    relay.timeOutSeconds = 5;
    return relay;
}

} // namespace

class TestAlerts : public QObject {
    Q_OBJECT

private slots:
    void commandGetsThePointInItsEnvironment();
    void badCommandIsReportedWithinItsLimit_data();
    void badCommandIsReportedWithinItsLimit();
    void mailReachesTheServer();
    void badAddressIsLeftOutAndNamed();
    void relayThatFailsIsReported_data();
    void relayThatFailsIsReported();
};

void TestAlerts::commandGetsThePointInItsEnvironment() {
    QTemporaryDir dir;
    LogReport report;
    AlertSender sender(report);
    HealthSettings settings;
    settings.command =
        QStringLiteral("env | grep -E '^KIVO_(ALERT|POINT_|REASON)' | sort > '%1/env.txt'")
            .arg(dir.path());
    sender.setSettings(settings);
    sender.send(kDown);
    QTRY_COMPARE_WITH_TIMEOUT(sender.inFlight(), 0, 20000);
    QFile env(dir.filePath(QStringLiteral("env.txt")));
    QVERIFY(env.open(QIODevice::ReadOnly));
    QCOMPARE(
        QString::fromUtf8(env.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts),
        (QStringList{QStringLiteral("KIVO_ALERT=down"), QStringLiteral("KIVO_POINT_DESC=Portería"),
                     QStringLiteral("KIVO_POINT_IP=127.0.9.9"), QStringLiteral("KIVO_POINT_LOC=42"),
                     QStringLiteral("KIVO_REASON=3 fallo(s) seguidos: sin respuesta")}));
    QVERIFY(report.log.isEmpty());
}

void TestAlerts::badCommandIsReportedWithinItsLimit_data() {
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("said");
    QTest::newRow("does not exist")
        << QStringLiteral("/nonexistent/alerta") << QStringLiteral("no existe");
    QTest::newRow("hangs") << QStringLiteral("exec sleep 600")
                           << QStringLiteral("no terminó a tiempo");
    QTest::newRow("floods and fails") << QStringLiteral("yes inundacion | head -c 5000000; exit 4")
                                      << QStringLiteral("código 4: inundacion inundacion");
}

void TestAlerts::badCommandIsReportedWithinItsLimit() {
    QFETCH(QString, command);
    QFETCH(QString, said);
    LogReport report;
    AlertSender sender(report);
    HealthSettings settings;
    settings.command = command;
    settings.commandTimeOutSeconds = 1;
    sender.setSettings(settings);
    sender.send(kDown);
    QTRY_COMPARE_WITH_TIMEOUT(sender.inFlight(), 0, 20000);
    QCOMPARE(report.log.size(), 1);
    QVERIFY2(report.log[0].contains(said), qPrintable(report.log[0]));
    QCOMPARE(report.status, report.log[0]);
    QVERIFY(report.log[0].size() < 400); // the flood is not in the log
}

void TestAlerts::mailReachesTheServer() {
    SmtpSink sink;
    QVERIFY(sink.port > 0);
    LogReport report;
    AlertSender sender(report);
    HealthSettings settings;
    settings.mail = relayTo(sink.port);
    sender.setSettings(settings);
    sender.send(kDown);
    QTRY_COMPARE_WITH_TIMEOUT(sender.inFlight(), 0, 20000);
    QVERIFY2(report.log.isEmpty(), qPrintable(report.log.join('\n')));
    QTRY_COMPARE_WITH_TIMEOUT(sink.messages().size(), 1, 10000);
    const QString message = sink.messages().constFirst();
    QVERIFY(message.contains(QStringLiteral("X-Envelope-To: guardia@example.com")));
    QVERIFY(message.contains(QStringLiteral("X-Envelope-To: jefe@example.com")));
    QVERIFY(message.contains(QStringLiteral("From: <estacion@example.com>")));
    // The subject is encoded, the body is UTF-8 text.
    QVERIFY(message.contains(QStringLiteral("Subject: =?UTF-8?B?")));
    QVERIFY(message.contains(QStringLiteral("Descripción: Portería")));
    QVERIFY(message.contains(QStringLiteral("Motivo: 3 fallo(s) seguidos: sin respuesta")));
}

void TestAlerts::badAddressIsLeftOutAndNamed() {
    SmtpSink sink;
    QVERIFY(sink.port > 0);
    MailRelay relay = relayTo(sink.port);
    relay.to = {QStringLiteral("guardia@example.com"),
                QStringLiteral("x@example.com>\r\nRCPT TO:<otro@example.com")};
    const MailOutcome outcome =
        sendMail(relay, QStringLiteral("s"), QStringLiteral("b"), QDateTime::currentDateTime());
    QVERIFY2(outcome.sent, qPrintable(outcome.error));
    QCOMPARE(outcome.refused.size(), 1);
    QTRY_COMPARE_WITH_TIMEOUT(sink.messages().size(), 1, 10000);
    QVERIFY(!sink.messages().constFirst().contains(QStringLiteral("otro@example.com")));
}

void TestAlerts::relayThatFailsIsReported_data() {
    QTest::addColumn<QString>("login");
    QTest::addColumn<bool>("silentServer");
    QTest::newRow("refuses the login") << QStringLiteral("kivo:secreto") << false;
    QTest::newRow("never answers") << QString() << true;
    QTest::newRow("nobody listens") << QString() << false;
}

void TestAlerts::relayThatFailsIsReported() {
    QFETCH(QString, login);
    QFETCH(bool, silentServer);
    std::unique_ptr<SmtpSink> sink;
    QTcpServer silent; // accepts and never says a word
    int port = 0;
    if (!login.isEmpty()) {
        sink = std::make_unique<SmtpSink>(login);
        port = sink->port;
    } else if (silentServer) {
        QVERIFY(silent.listen(QHostAddress::LocalHost));
        port = silent.serverPort();
    } else {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        port = probe.serverPort(); // closed again when probe goes
    }
    MailRelay relay = relayTo(port);
    relay.user = QStringLiteral("kivo");
    relay.password = QStringLiteral("equivocada");
    relay.timeOutSeconds = 2;
    LogReport report;
    AlertSender sender(report);
    HealthSettings settings;
    settings.mail = relay;
    sender.setSettings(settings);
    sender.send(kDown);
    QTRY_COMPARE_WITH_TIMEOUT(sender.inFlight(), 0, 20000);
    QCOMPARE(report.log.size(), 1);
    QVERIFY2(report.log[0].startsWith(QStringLiteral("ERROR: no se pudo enviar el correo")),
             qPrintable(report.log[0]));
}

QTEST_GUILESS_MAIN(TestAlerts)
#include "tst_alerts.moc"
