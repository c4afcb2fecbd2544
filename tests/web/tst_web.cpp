// The office's web page served by a running kivo-ipd after a cycle over a
// simulated point that answers and one that does not: its pages, downloads,
// refusals and the settings that place it.
#include "WebClient.h"
#include "platform/Regional.h"
#include "report/BillingSummary.h"
#include "service/ServiceWorld.h"
#include "store/DataSet.h"
#include "web/WebAccounts.h"
#include "web/WebSettings.h"
#include "web/WebSite.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>

namespace {

const QString kAlive = QStringLiteral("127.0.9.1");
const QString kDead = QStringLiteral("127.0.9.99"); // nothing listens there
constexpr int kTickets = 6;
// Failed logins come from an address of their own, so that their wait does
// not hold the others back.
const QHostAddress kIntruder(QStringLiteral("127.0.9.200"));

int freePort() {
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost) ? probe.serverPort() : 0;
}

// The simulated records' day (their seconds count from 1980-01-01).
QDate ticketDay() {
    return QDateTime(QDate(1980, 1, 1), QTime(0, 0)).addSecs(simRecords(1)[0].segundos).date();
}

QByteArray range(const QDate& from, const QDate& to) {
    return "desde=" + from.toString(Qt::ISODate).toLatin1() +
           "&hasta=" + to.toString(Qt::ISODate).toLatin1();
}

} // namespace

class TestWeb : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void pagesNeedASession_data();
    void pagesNeedASession();
    void loginsAreChecked();
    void logoutNeedsTheToken();
    void idleSessionsExpire();
    void userLineHoldsAnArgon2idHash_data();
    void userLineHoldsAnArgon2idHash();
    void pagesAnswer_data();
    void pagesAnswer();
    void badRequestsAreRefused_data();
    void badRequestsAreRefused();
    void summaryDownloadsAreTheWritersFiles();
    void connectionsFromOneAddressAreCapped();
    void withoutCertificateOnlyLoopback_data();
    void withoutCertificateOnlyLoopback();
    void certificateServesHttpsBeyondLoopback();

private:
    QByteArray ticketRange() const { return range(ticketDay(), ticketDay()); }
    HttpReply get(const QByteArray& target) const {
        return ::get(m_port, target, "Cookie: kivo_sesion=" + m_session + "\r\n");
    }
    // Whether the service's journal has said the line (within a deadline).
    bool journalSays(const QString& line) {
        QDeadlineTimer deadline(20000);
        while (!m_journal.contains(line) && !deadline.hasExpired()) {
            m_service.waitForReadyRead(200);
            m_journal += QString::fromUtf8(m_service.readAllStandardError());
        }
        if (!m_journal.contains(line))
            qWarning("%s not in %s", qPrintable(line), qPrintable(m_journal));
        return m_journal.contains(line);
    }
    QByteArray m_session;
    QString m_journal;

    std::unique_ptr<ServiceWorld> m_world;
    std::unique_ptr<SimPoints> m_sim;
    QProcess m_service;
    quint16 m_port = 0;
};

// One cycle: the alive point's tickets are stored, the dead point is down.
void TestWeb::initTestCase() {
    m_world = std::make_unique<ServiceWorld>();
    StationSettings settings;
    settings.AutoMin = false;
    m_world->writeSettings(settings);
    m_port = quint16(freePort());
    QVERIFY(m_port > 0);
    {
        TRegistry registry;
        registry.OpenKey(settingsKey(QStringLiteral("JUXRegs")), true);
        registry.WriteInteger(QStringLiteral("AlertaFallos"), 1);
        registry.WriteString(QStringLiteral("Web"), QString::number(m_port));
        registry.WriteString(QStringLiteral("WebCuentas"), m_world->path("web-usuarios"));
        registry.CloseKey();
    }
    QFile accounts(m_world->path("web-usuarios"));
    QVERIFY(accounts.open(QIODevice::WriteOnly));
    accounts.write("# cuentas\n" + accountLine(QStringLiteral("ana"), "secreta 1").toUtf8() + '\n');
    accounts.close();
    m_world->addPoints({kAlive, kDead});
    m_sim = std::make_unique<SimPoints>(
        QList<SimPointPlan>{{kAlive, simRecords(kTickets, freshFirstTicket())}});
    QVERIFY(m_sim->started());
    startWaiting(*m_world, m_service, m_sim.get());
    QCOMPARE(ask(*m_world, "descargar\n"), QByteArray("ok"));
    const HttpReply login = logIn(m_port, "ana", "secreta+1");
    QCOMPARE(login.status(), 303);
    m_session = login.cookie("kivo_sesion");
    QVERIFY(!m_session.isEmpty());
    QVERIFY(login.header("Set-Cookie").contains("; HttpOnly; SameSite=Strict"));
    QVERIFY(!login.header("Set-Cookie").contains("Secure"));
    QByteArray rows;
    QDeadlineTimer deadline(60000);
    while (!rows.contains("caido") && !deadline.hasExpired()) {
        rows = get("/estado.json").body();
        QTest::qWait(100);
    }
    QVERIFY2(rows.contains("caido"), rows.constData());
}

void TestWeb::cleanupTestCase() {
    if (m_service.state() == QProcess::Running) {
        ::kill(pid_t(m_service.processId()), SIGTERM);
        QVERIFY(m_service.waitForFinished(30000));
    }
}

void TestWeb::pagesNeedASession_data() {
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<QByteArray>("cookie");
    for (const char* target :
         {"/", "/estado.json", "/registros", "/resumen", "/resumen.xlsx", "/operaciones"})
        QTest::newRow(target) << QByteArray(target) << QByteArray();
    QTest::newRow("a made-up session")
        << QByteArray("/resumen.csv") << QByteArray("kivo_sesion=0123456789abcdef");
}

// Without a session every page and download goes to the login.
void TestWeb::pagesNeedASession() {
    QFETCH(QByteArray, target);
    QFETCH(QByteArray, cookie);
    const HttpReply reply =
        ::get(m_port, target, cookie.isEmpty() ? QByteArray() : "Cookie: " + cookie + "\r\n");
    QCOMPARE(reply.status(), 303);
    QCOMPARE(reply.header("Location"), QByteArray("/entrar"));
    QVERIFY(!reply.body().contains("Estado de los puntos"));
}

// A wrong password, a forged or missing form token, and a try while the
// address must wait are refused; the wait ends and the right password opens.
void TestWeb::loginsAreChecked() {
    const HttpReply wrong = logIn(m_port, "ana", "otra", kIntruder);
    QCOMPARE(wrong.status(), 401);
    QVERIFY(wrong.body().contains("Usuario o contraseña incorrectos."));
    QVERIFY(wrong.cookie("kivo_sesion").isEmpty());
    QCOMPARE(logIn(m_port, "ana", "secreta+1", kIntruder).status(), 429);
    const LoginForm form = loginForm(m_port);
    QCOMPARE(post(m_port, "/entrar", "csrf=forjado&usuario=ana&clave=secreta+1",
                  "Cookie: kivo_entrada=forjado\r\n")
                 .status(),
             403);
    QCOMPARE(
        post(m_port, "/entrar", "csrf=" + form.token + "&usuario=ana&clave=secreta+1").status(),
        403);
    QCOMPARE(
        logIn(m_port, "nadie", "secreta+1", QHostAddress(QStringLiteral("127.0.9.201"))).status(),
        401);
    QVERIFY(journalSays(QStringLiteral("<4>Página web: entrada rechazada de 'ana' desde "
                                       "127.0.9.200")));
    QVERIFY(journalSays(QStringLiteral("<4>Página web: entrada rechazada de 'nadie' desde "
                                       "127.0.9.201")));
    QVERIFY(!m_journal.contains(QStringLiteral("secreta")));
    HttpReply right;
    QDeadlineTimer deadline(30000);
    do
        right = logIn(m_port, "ana", "secreta+1", kIntruder);
    while (right.status() == 429 && !deadline.hasExpired() && (QTest::qWait(200), true));
    QCOMPARE(right.status(), 303);
    QVERIFY(journalSays(QStringLiteral("<6>Página web: entrada de ana desde 127.0.9.200")));
}

// "Salir" with a forged token is refused and leaves the session; with the
// page's own it ends it.
void TestWeb::logoutNeedsTheToken() {
    const QByteArray session = logIn(m_port, "ana", "secreta+1").cookie("kivo_sesion");
    const QByteArray cookie = "Cookie: kivo_sesion=" + session + "\r\n";
    const QByteArray token = csrfField(::get(m_port, "/", cookie).body());
    QVERIFY(!token.isEmpty());
    QCOMPARE(post(m_port, "/salir", "csrf=forjado", cookie).status(), 403);
    QCOMPARE(::get(m_port, "/", cookie).status(), 200);
    QCOMPARE(post(m_port, "/salir", "csrf=" + token, cookie).status(), 303);
    QCOMPARE(::get(m_port, "/", cookie).status(), 303);
}

void TestWeb::idleSessionsExpire() {
    WebSessions kept(30), idle(0);
    const QByteArray lasting = kept.open(QStringLiteral("ana"));
    const QByteArray passing = idle.open(QStringLiteral("ana"));
    QDeadlineTimer deadline(5000);
    while (idle.find(passing) && !deadline.hasExpired())
        QTest::qWait(5);
    QVERIFY(!idle.find(passing));
    QCOMPARE(kept.find(lasting)->user, QStringLiteral("ana"));
}

void TestWeb::userLineHoldsAnArgon2idHash_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<int>("status");
    QTest::newRow("a name and a password") << "ana.paz" << QByteArray("clave larga\n") << 0;
    QTest::newRow("a name with a colon") << "ana:paz" << QByteArray("clave\n") << 2;
    QTest::newRow("no password") << "ana" << QByteArray("\n") << 2;
}

// kivo-ipd --usuario prints a line the accounts file takes, holding the
// password's Argon2id hash and never the password.
void TestWeb::userLineHoldsAnArgon2idHash() {
    QFETCH(QString, name);
    QFETCH(QByteArray, input);
    QFETCH(int, status);
    QProcess user;
    user.start(QStringLiteral(KIVO_SERVICE_BINARY), {QStringLiteral("--usuario"), name});
    user.write(input);
    user.closeWriteChannel();
    QVERIFY(user.waitForFinished(30000));
    QCOMPARE(user.exitCode(), status);
    const QByteArray line = user.readAllStandardOutput().trimmed();
    if (status != 0) {
        QVERIFY(line.isEmpty());
        return;
    }
    QVERIFY(line.startsWith(name.toUtf8() + ":$argon2id$"));
    QVERIFY(!line.contains(input.trimmed()));
    QTemporaryDir folder;
    QFile accounts(folder.filePath(QStringLiteral("cuentas")));
    QVERIFY(accounts.open(QIODevice::WriteOnly));
    accounts.write(line + '\n');
    accounts.close();
    QString problem;
    QVERIFY(checkAccount(accounts.fileName(), name, input.trimmed(), problem));
    QVERIFY(!checkAccount(accounts.fileName(), name, "otra", problem));
    QVERIFY(problem.isEmpty());
}

void TestWeb::pagesAnswer_data() {
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<QByteArray>("type");
    QTest::addColumn<QStringList>("shown");
    const QByteArray day = ticketRange();
    const QString dayText = DateToStr(toDateTime(ticketDay()));
    QTest::newRow("points") << QByteArray("/") << QByteArray("text/html")
                            << QStringList{"Estado de los puntos",
                                           "class=\"caido\"",
                                           kDead,
                                           "class=\"correcto\"",
                                           kAlive,
                                           "2 punto(s): 1 caído(s), 0 con fallos."};
    QTest::newRow("tickets of the day")
        << "/registros?" + day << QByteArray("text/html")
        << QStringList{"Página 1 de 1 (6 registros)", dayText, "<th>Importe</th>"};
    QTest::newRow("tickets of one person")
        << "/registros?" + day + "&legajo=101" << QByteArray("text/html")
        << QStringList{"(1 registros)"};
    QTest::newRow("tickets of one cost centre")
        << "/registros?" + day + "&ceco=2" << QByteArray("text/html")
        << QStringList{"(1 registros)"};
    QTest::newRow("tickets of another day")
        << "/registros?" + range(ticketDay().addDays(1), ticketDay().addDays(2))
        << QByteArray("text/html") << QStringList{"(0 registros)"};
    QTest::newRow("summary") << "/resumen?" + day << QByteArray("text/html")
                             << QStringList{"Total del período", "Total del centro de costo",
                                            "/resumen.xlsx?" +
                                                QString::fromLatin1(day).replace("&", "&amp;")};
    QTest::newRow("log, newest first") << QByteArray("/operaciones") << QByteArray("text/html")
                                       << QStringList{"Registro de operaciones", "Página 1 de"};
    QTest::newRow("stylesheet") << QByteArray("/estilo.css") << QByteArray("text/css")
                                << QStringList{"tr.caido td{background:#f49a9a}"};
    QTest::newRow("script") << QByteArray("/estado.js") << QByteArray("text/javascript")
                            << QStringList{"/estado.json"};
}

// Each page is there, with what it is for, and every answer carries the
// security headers.
void TestWeb::pagesAnswer() {
    QFETCH(QByteArray, target);
    QFETCH(QByteArray, type);
    QFETCH(QStringList, shown);
    const HttpReply reply = get(target);
    QVERIFY2(reply.status() == 200, reply.raw.left(2000).constData());
    QVERIFY(reply.header("Content-Type").startsWith(type));
    const QString body = QString::fromUtf8(reply.body());
    for (const QString& text : shown)
        QVERIFY2(body.contains(text),
                 qPrintable(text + QStringLiteral(" not in ") + body.left(3000)));
    QVERIFY(reply.header("Content-Security-Policy").contains("script-src 'self'"));
    QCOMPARE(reply.header("X-Frame-Options"), QByteArray("DENY"));
    QCOMPARE(reply.header("X-Content-Type-Options"), QByteArray("nosniff"));
}

void TestWeb::badRequestsAreRefused_data() {
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("reason");
    const auto getting = [](const QByteArray& target) {
        return "GET " + target + " HTTP/1.0\r\n\r\n";
    };
    QTest::newRow("unknown path") << getting("/nada") << 404 << QString();
    QTest::newRow("traversal") << getting("/../../etc/passwd") << 404 << QString();
    QTest::newRow("encoded traversal") << getting("/%2e%2e/%2e%2e/etc/passwd") << 404 << QString();
    QTest::newRow("encoded slash") << getting("/resumen%2f..%2festilo.css") << 404 << QString();
    QTest::newRow("trailing dot-dot") << getting("/estilo.css/..") << 404 << QString();
    QTest::newRow("encoded NUL") << getting("/estilo.css%00.html") << 404 << QString();
    QTest::newRow("no date") << getting("/registros?desde=2026-02-30") << 400
                             << QStringLiteral("La fecha \"Desde\" (2026-02-30) no es una fecha.");
    QTest::newRow("not a date at all")
        << getting("/resumen?hasta=ayer") << 400
        << QStringLiteral("La fecha \"Hasta\" (ayer) no es una fecha.");
    QTest::newRow("reversed range") << getting("/resumen?desde=2026-03-02&hasta=2026-03-01") << 400
                                    << QStringLiteral("es anterior a la fecha \"Desde\"");
    QTest::newRow("reversed range, download")
        << getting("/resumen.pdf?desde=2026-03-02&hasta=2026-03-01") << 400
        << QStringLiteral("es anterior a la fecha \"Desde\"");
    QTest::newRow("legajo not a number") << getting("/registros?legajo=1%20OR%201=1") << 400
                                         << QStringLiteral("El legajo (1 OR 1=1) no es un número.");
    QTest::newRow("page not a number") << getting("/operaciones?pagina=-1") << 400
                                       << QStringLiteral("La página (-1) no es un número.");
    QTest::newRow("oversize head")
        << "GET / HTTP/1.0\r\nX-Relleno: " + QByteArray(64 * 1024, 'a') + "\r\n\r\n"
        << 431 << QString();
    QTest::newRow("method not allowed")
        << QByteArray("DELETE / HTTP/1.0\r\n\r\n") << 405 << QString();
}

// Refused with the right status, the reason in the page when there is one,
// and still the security headers.
void TestWeb::badRequestsAreRefused() {
    QFETCH(QByteArray, request);
    QFETCH(int, status);
    QFETCH(QString, reason);
    request.replace("\r\n\r\n", "\r\nCookie: kivo_sesion=" + m_session + "\r\n\r\n");
    const HttpReply reply = exchange(m_port, request);
    QVERIFY2(reply.status() == status || (status == 431 && reply.status() == 413),
             reply.raw.left(500).constData());
    QVERIFY2(QString::fromUtf8(reply.body()).contains(reason.toHtmlEscaped()),
             reply.body().left(2000).constData());
    if (status != 431)
        QCOMPARE(reply.header("X-Content-Type-Options"), QByteArray("nosniff"));
    QVERIFY(!reply.body().contains("root:"));
}

// The downloads are the files the records window's writers make from the same
// rows, read here from the server table itself.
void TestWeb::summaryDownloadsAreTheWritersFiles() {
    const QDate day = ticketDay();
    ReportRows rows;
    {
        TSession session;
        session.DeclareAlias(QStringLiteral("JUXRegs"), AliasKind::Server);
        TQuery query;
        query.DatabaseName = QStringLiteral("JUXRegs");
        query.SQL = billingSummarySql(day, day);
        query.Open();
        rows = billingSummaryRows(query);
        query.Close();
    }
    QCOMPARE(int(rows.rows.size()), kTickets);
    QTemporaryDir folder;
    const QString csv = folder.filePath(QStringLiteral("resumen.csv"));
    writeBillingSeparatedValues(csv, rows, day, day);
    QFile expected(csv);
    QVERIFY(expected.open(QIODevice::ReadOnly));

    const HttpReply separated = get("/resumen.csv?" + ticketRange());
    QCOMPARE(separated.status(), 200);
    QCOMPARE(separated.body(), expected.readAll());
    QVERIFY(separated.header("Content-Disposition").contains("attachment"));
    const HttpReply workbook = get("/resumen.xlsx?" + ticketRange());
    QCOMPARE(workbook.status(), 200);
    QVERIFY(workbook.body().startsWith("PK"));
    const HttpReply pdf = get("/resumen.pdf?" + ticketRange());
    QCOMPARE(pdf.status(), 200);
    QVERIFY2(pdf.body().startsWith("%PDF"), pdf.raw.left(500).constData());
}

// Past the cap, connections from one address are closed unanswered; those
// within it are answered once the others go.
void TestWeb::connectionsFromOneAddressAreCapped() {
    std::vector<std::unique_ptr<QTcpSocket>> held;
    for (unsigned i = 0; i < WebSite::kPerAddress + 8; ++i) {
        held.push_back(std::make_unique<QTcpSocket>());
        held.back()->connectToHost(QHostAddress::LocalHost, m_port);
        QVERIFY(held.back()->waitForConnected(5000));
    }
    int closed = 0;
    QDeadlineTimer deadline(20000);
    while (closed < 8 && !deadline.hasExpired()) {
        closed = 0;
        for (const auto& socket : held) {
            socket->waitForReadyRead(10);
            closed += socket->state() != QAbstractSocket::ConnectedState;
        }
    }
    QCOMPARE(closed, 8);
    held.clear();
    // The server notices the closes on its own threads, a moment later.
    int status = 0;
    QDeadlineTimer settle(20000);
    while ((status = get("/estilo.css").status()) != 200 && !settle.hasExpired())
        QTest::qWait(50);
    QCOMPARE(status, 200);
}

void TestWeb::withoutCertificateOnlyLoopback_data() {
    QTest::addColumn<QString>("listen");
    QTest::addColumn<bool>("certificate");
    QTest::addColumn<QString>("used");
    QTest::newRow("any address, no certificate") << "0.0.0.0:8443" << false << "127.0.0.1:8443";
    QTest::newRow("IPv6, no certificate") << "[::]:8443" << false << "[::1]:8443";
    QTest::newRow("loopback, no certificate") << "8443" << false << "127.0.0.1:8443";
    QTest::newRow("any address, certificate") << "0.0.0.0:8443" << true << "0.0.0.0:8443";
}

void TestWeb::withoutCertificateOnlyLoopback() {
    QFETCH(QString, listen);
    QFETCH(bool, certificate);
    QFETCH(QString, used);
    QString problem;
    WebSettings settings;
    settings.listen = *parseMetricsListen(listen, problem);
    if (certificate)
        settings.certificatePath = settings.keyPath = QStringLiteral("/x");
    QString note;
    QCOMPARE(confinedToLoopback(settings, note).listen.text(), used);
    QCOMPARE(note.isEmpty(), used == settings.listen.text());
}

// With a certificate and key the page speaks only TLS, may listen beyond
// loopback, and marks its session cookie Secure. Last: its world moves the
// station's files away from the first one's.
void TestWeb::certificateServesHttpsBeyondLoopback() {
    ServiceWorld world;
    StationSettings settings;
    settings.AutoMin = false;
    world.writeSettings(settings);
    const QString cert = world.path("web.crt"), key = world.path("web.key");
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"),
                  {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1", "-subj",
                   "/CN=127.0.0.1", "-keyout", key, "-out", cert});
    QVERIFY(openssl.waitForFinished(60000) && openssl.exitCode() == 0);
    const int port = freePort();
    {
        TRegistry registry;
        registry.OpenKey(settingsKey(QStringLiteral("JUXRegs")), true);
        registry.WriteString(QStringLiteral("Web"), QStringLiteral("0.0.0.0:%1").arg(port));
        registry.WriteString(QStringLiteral("WebCertificado"), cert);
        registry.WriteString(QStringLiteral("WebClave"), key);
        registry.WriteString(QStringLiteral("WebCuentas"), world.path("web-usuarios"));
        registry.CloseKey();
    }
    QFile accounts(world.path("web-usuarios"));
    QVERIFY(accounts.open(QIODevice::WriteOnly));
    accounts.write(accountLine(QStringLiteral("ana"), "clave").toUtf8() + '\n');
    accounts.close();
    QProcess service;
    startWaiting(world, service, nullptr);
    // 127.0.0.2 reaches a listener on every address, not one on 127.0.0.1.
    const QString base = QStringLiteral("https://127.0.0.2:%1").arg(port);
    const auto curl = [](const QStringList& args) {
        QProcess process;
        process.start(QStringLiteral("curl"), QStringList{"-sk", "-i", "--max-time", "20"} + args);
        process.waitForFinished(30000);
        return HttpReply{process.readAllStandardOutput()};
    };
    const HttpReply form = curl({base + QStringLiteral("/entrar")});
    QCOMPARE(form.status(), 200);
    QVERIFY(form.header("Strict-Transport-Security").startsWith("max-age="));
    const QByteArray token = csrfField(form.body());
    const HttpReply login =
        curl({"-b", "kivo_entrada=" + form.cookie("kivo_entrada"), "--data",
              "csrf=" + token + "&usuario=ana&clave=clave", base + QStringLiteral("/entrar")});
    QCOMPARE(login.status(), 303);
    QVERIFY2(login.header("Set-Cookie").contains("; Secure"), login.head().constData());
    QVERIFY(::get(quint16(port), "/entrar").status() != 200);
    ::kill(pid_t(service.processId()), SIGTERM);
    QVERIFY(service.waitForFinished(30000));
}

QTEST_GUILESS_MAIN(TestWeb)
#include "tst_web.moc"
