// The service's alerts: the command with the point in its environment under a
// time limit, and the e-mail through a real SMTP server (aiosmtpd) on loopback.
#include "ServiceWorld.h"
#include "SmtpSink.h"
#include "service/AlertSender.h"
#include "service/MailQueue.h"
#include "service/MailSend.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>
#include <csignal>

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
    void mailDateGivesTheZoneAsAnOffset_data();
    void mailDateGivesTheZoneAsAnOffset();
    void commandGetsThePointInItsEnvironment();
    void badCommandIsReportedWithinItsLimit_data();
    void badCommandIsReportedWithinItsLimit();
    void mailReachesTheServer();
    void badAddressIsLeftOutAndNamed();
    void relayThatFailsIsReported_data();
    void relayThatFailsIsReported();
    void loginCrossesOnlyOverTls_data();
    void loginCrossesOnlyOverTls();
    void undeliveredMailWaitsForTheRelayAndIsSuperseded();
    void queueKeepsTheLatestOfEachPointAndIsBounded();
    void serviceKeepsTheMailAcrossARestartUntilTheRelayIsBack();

private:
    QTemporaryDir m_certificates; // a self-signed certificate for 127.0.0.1 and its key
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
    QCOMPARE(report.log,
             QStringList{QStringLiteral("Correo de alerta del punto 127.0.9.9 (Portería, Loc 42) "
                                        "enviado por 127.0.0.1:%1")
                             .arg(sink.port)});
    QCOMPARE(sender.mailsQueued(), 0);
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
        SmtpSinkOptions options;
        options.login = login;
        sink = std::make_unique<SmtpSink>(options);
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
    relay.loginWithoutTls = true; // the relay in clear gets to refuse it
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

// The relay's password goes only inside TLS: STARTTLS is taken whenever the
// relay offers it, a relay without it gets no login (the mail fails, and the
// log says why) unless SmtpClaveSinTLS allows it, and the station greets
// with its fully qualified name.
void TestAlerts::loginCrossesOnlyOverTls_data() {
    QTest::addColumn<bool>("offersTls");
    QTest::addColumn<bool>("login");
    QTest::addColumn<bool>("allowClear");
    QTest::addColumn<QStringList>("seen"); // by the relay, after the greeting
    QTest::newRow("relay offers STARTTLS")
        << true << true << false << QStringList{"auth tls kivo", "data tls"};
    QTest::newRow("relay without STARTTLS") << false << true << false << QStringList{};
    QTest::newRow("without STARTTLS, allowed in clear")
        << false << true << true << QStringList{"auth clear kivo", "data clear"};
    QTest::newRow("no login, STARTTLS offered")
        << true << false << false << QStringList{"data tls"};
}

void TestAlerts::loginCrossesOnlyOverTls() {
    QFETCH(bool, offersTls);
    QFETCH(bool, login);
    QFETCH(bool, allowClear);
    QFETCH(QStringList, seen);
    const QString certificate = m_certificates.filePath(QStringLiteral("cert.pem"));
    const QString key = m_certificates.filePath(QStringLiteral("key.pem"));
    if (!QFile::exists(certificate)) {
        QProcess openssl;
        openssl.start(QStringLiteral("openssl"),
                      {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
                       "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1", "-keyout", key,
                       "-out", certificate});
        QVERIFY(openssl.waitForFinished(60000));
        QCOMPARE(openssl.exitCode(), 0);
    }
    SmtpSinkOptions options;
    options.login = login ? QStringLiteral("kivo:secreto") : QString();
    if (offersTls) {
        options.certificate = certificate;
        options.key = key;
    }
    SmtpSink sink(options);
    QVERIFY(sink.port > 0);
    MailRelay relay = relayTo(sink.port);
    relay.caFile = certificate;
    relay.user = login ? QStringLiteral("kivo") : QString();
    relay.password = QStringLiteral("secreto");
    relay.loginWithoutTls = allowClear;
    const MailOutcome outcome =
        sendMail(relay, QStringLiteral("s"), QStringLiteral("b"), QDateTime::currentDateTime());
    QCOMPARE(outcome.sent, !seen.isEmpty());
    if (!outcome.sent)
        QVERIFY2(outcome.error.contains(QStringLiteral("no ofrece STARTTLS")),
                 qPrintable(outcome.error));
    QProcess hostname;
    hostname.start(QStringLiteral("hostname"), {QStringLiteral("--fqdn")});
    QVERIFY(hostname.waitForFinished());
    const QString fqdn = QString::fromUtf8(hostname.readAllStandardOutput()).trimmed();
    QStringList sessions = sink.sessions();
    QVERIFY(!sessions.isEmpty());
    // Greeted again after STARTTLS, with the same name.
    for (const QString& line : sessions)
        if (line.startsWith(QStringLiteral("ehlo ")))
            QCOMPARE(line, QStringLiteral("ehlo ") + fqdn);
    sessions.removeAll(QStringLiteral("ehlo ") + fqdn);
    QCOMPARE(sessions, seen);
}

// The relay is down when the point goes down: the mail is queued (in its
// file) and tried again; the point's recovery supersedes it; once the relay
// is back the recovery notice alone arrives, and the file is empty again.
void TestAlerts::undeliveredMailWaitsForTheRelayAndIsSuperseded() {
    int port = 0;
    {
        QTcpServer probe; // nothing listens there once it goes
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        port = probe.serverPort();
    }
    QTemporaryDir dir;
    const QString queueFile = dir.filePath(QStringLiteral("mail-queue.json"));
    LogReport report;
    AlertSender sender(report);
    HealthSettings settings;
    settings.mail = relayTo(port);
    settings.mail.retrySeconds = 1;
    sender.setSettings(settings);
    sender.keepMailQueue(queueFile);
    sender.send(kDown);
    const auto logged = [&](const QString& text) {
        return std::any_of(report.log.cbegin(), report.log.cend(),
                           [&](const QString& row) { return row.contains(text); });
    };
    QTRY_VERIFY_WITH_TIMEOUT(logged(QStringLiteral("(intento 1): ")), 20000);
    QVERIFY2(logged(QStringLiteral("sigue en cola, nuevo intento a las")),
             qPrintable(report.log.join('\n')));
    QVERIFY(QFile(queueFile).size() > 0);
    HealthAlert up = kDown;
    up.down = false;
    sender.send(up);
    QVERIFY2(logged(QStringLiteral("pendiente del punto 127.0.9.9 (Portería, Loc 42) (no "
                                   "responde) se descarta: lo reemplaza el de ahora (responde de "
                                   "nuevo)")),
             qPrintable(report.log.join('\n')));
    QCOMPARE(sender.mailsQueued(), 1);

    SmtpSinkOptions options;
    options.port = port;
    SmtpSink sink(options);
    QCOMPARE(sink.port, port);
    QTRY_COMPARE_WITH_TIMEOUT(sink.messages().size(), 1, 30000);
    QVERIFY(sink.messages().constFirst().contains(QStringLiteral("Estado: recuperado")));
    QTRY_VERIFY_WITH_TIMEOUT(logged(QStringLiteral("enviado por 127.0.0.1:%1").arg(port)), 10000);
    QCOMPARE(sender.mailsQueued(), 0);
    MailQueue kept(queueFile);
    QCOMPARE(kept.load(), QString());
    QVERIFY(kept.isEmpty());
}

// A later mail of a point replaces its pending one; past the bound the oldest
// goes; the file holds what was queued, in order.
void TestAlerts::queueKeepsTheLatestOfEachPointAndIsBounded() {
    QTemporaryDir dir;
    MailQueue queue(dir.filePath(QStringLiteral("mail-queue.json")));
    const auto mailOf = [](int point, bool down) {
        HealthAlert alert = kDown;
        alert.ip = QStringLiteral("127.0.9.%1").arg(point);
        alert.down = down;
        return alertMail(alert, QDateTime::currentDateTime());
    };
    for (int point = 0; point < MailQueue::kMaxMails; ++point)
        QVERIFY(!queue.add(mailOf(point, true)).dropped);
    const MailQueue::Added recovered = queue.add(mailOf(7, false));
    QVERIFY(recovered.superseded && recovered.superseded->down);
    QVERIFY(!recovered.dropped);
    const MailQueue::Added beyond = queue.add(mailOf(MailQueue::kMaxMails, true));
    QVERIFY(beyond.dropped);
    QCOMPARE(beyond.dropped->ip, QStringLiteral("127.0.9.0"));
    QCOMPARE(queue.save(), QString());

    MailQueue again(dir.filePath(QStringLiteral("mail-queue.json")));
    QCOMPARE(again.load(), QString());
    QCOMPARE(again.size(), MailQueue::kMaxMails);
    QCOMPARE(again.head().ip, QStringLiteral("127.0.9.1"));
    QVERIFY(again.failed(again.head().serial)); // waits behind the others
    QCOMPARE(again.head().ip, QStringLiteral("127.0.9.2"));
    QList<QueuedMail> all = again.takeAll();
    QCOMPARE(all.last().ip, QStringLiteral("127.0.9.1"));
    QCOMPARE(all.last().attempts, 1);
    all.removeLast();
    QCOMPARE(all.last().ip, QStringLiteral("127.0.9.%1").arg(MailQueue::kMaxMails));
    QVERIFY(!all[all.size() - 2].down); // point 7's recovery, queued after the others
    QCOMPARE(all[all.size() - 2].ip, QStringLiteral("127.0.9.7"));
}

// The relay is down when a point goes down (a --once run): the mail stays in
// the state folder; the service started later tries it again, and once the
// relay is back, while the point stays down, it arrives.
void TestAlerts::serviceKeepsTheMailAcrossARestartUntilTheRelayIsBack() {
    const QString dead = QStringLiteral("127.0.7.98"); // nothing listens there
    int port = 0;
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        port = probe.serverPort();
    }
    ServiceWorld world;
    StationSettings settings;
    settings.AutoMin = false;
    world.writeSettings(settings);
    {
        TRegistry registry;
        registry.OpenKey(settingsKey(QStringLiteral("JUXRegs")), true);
        registry.WriteInteger(QStringLiteral("AlertaFallos"), 1);
        registry.WriteString(QStringLiteral("SmtpServidor"), QStringLiteral("127.0.0.1"));
        registry.WriteInteger(QStringLiteral("SmtpPuerto"), port);
        registry.WriteString(QStringLiteral("SmtpDe"), QStringLiteral("kivo@example.com"));
        registry.WriteString(QStringLiteral("SmtpPara"), QStringLiteral("guardia@example.com"));
        registry.WriteInteger(QStringLiteral("SmtpReintentoSeg"), 1);
        registry.WriteInteger(QStringLiteral("SmtpSeg"), 5);
        registry.CloseKey();
    }
    world.addPoints({dead});
    const auto [status, once] = world.run({QStringLiteral("--once")});
    QCOMPARE(status, 1);
    QVERIFY2(once.contains(QStringLiteral("sigue en cola")), qPrintable(once));
    QVERIFY(QFile(world.statePath("mail-queue.json")).size() > 0);

    QProcess service;
    startWaiting(world, service, nullptr);
    SmtpSinkOptions options;
    options.port = port;
    SmtpSink sink(options);
    QCOMPARE(sink.port, port);
    QTRY_COMPARE_WITH_TIMEOUT(sink.messages().size(), 1, 60000);
    QVERIFY(sink.messages().constFirst().contains(QStringLiteral("Estado: caído")));
    ::kill(pid_t(service.processId()), SIGTERM);
    QVERIFY(service.waitForFinished(30000));
    const QString journal = QString::fromUtf8(service.readAllStandardError());
    QVERIFY2(
        journal.contains(QRegularExpression(
            QStringLiteral(
                "<6>Correo de alerta del punto 127.0.7.98 .* enviado por 127.0.0.1:%1 al intento "
                "[2-9]")
                .arg(port))),
        qPrintable(journal));
    MailQueue left(world.statePath("mail-queue.json"));
    QCOMPARE(left.load(), QString());
    QVERIFY(left.isEmpty());
}

void TestAlerts::mailDateGivesTheZoneAsAnOffset_data() {
    QTest::addColumn<QByteArray>("zone");
    QTest::addColumn<QByteArray>("date");
    QTest::newRow("Buenos Aires") << QByteArray("America/Argentina/Buenos_Aires")
                                  << QByteArray("Wed, 09 Dec 2026 15:05:00 -0300");
    QTest::newRow("Madrid in winter")
        << QByteArray("Europe/Madrid") << QByteArray("Wed, 09 Dec 2026 19:05:00 +0100");
    QTest::newRow("Kathmandu") << QByteArray("Asia/Kathmandu")
                               << QByteArray("Wed, 09 Dec 2026 23:50:00 +0545");
    QTest::newRow("UTC") << QByteArray("UTC") << QByteArray("Wed, 09 Dec 2026 18:05:00 +0000");
}

// A zone's abbreviation ("CET", "-03") is no date of a mail header.
void TestAlerts::mailDateGivesTheZoneAsAnOffset() {
    QFETCH(QByteArray, zone);
    QFETCH(QByteArray, date);
    const QDateTime utc(QDate(2026, 12, 9), QTime(18, 5), QTimeZone::utc());
    QCOMPARE(mailDate(utc.toTimeZone(QTimeZone(zone))), date);
}

QTEST_GUILESS_MAIN(TestAlerts)
#include "tst_alerts.moc"
