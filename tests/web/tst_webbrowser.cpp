// The office's web page in a real browser: tests/web/browser_check.py drives
// Debian's chromium through selenium against a running kivo-ipd whose first
// cycle has stored a simulated point's tickets and seen a dead point fail
// once; the script asks for the second cycle, which takes the dead point down.
#include "WebClient.h"
#include "service/ServiceWorld.h"
#include "store/DataSet.h"
#include "web/WebAccounts.h"

#include <QCoreApplication>
#include <QTcpServer>
#include <QTest>
#include <csignal>

namespace {

const QString kAlive = QStringLiteral("127.0.9.11");
const QString kDead = QStringLiteral("127.0.9.98"); // nothing listens there
constexpr int kTickets = 12;

int freePort() {
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost) ? probe.serverPort() : 0;
}

QDate ticketDay() {
    return QDateTime(QDate(1980, 1, 1), QTime(0, 0)).addSecs(simRecords(1)[0].segundos).date();
}

// The count and amount of the range's tickets, by SQL.
std::pair<int, QString> ticketTotals(const QDate& from, const QDate& to) {
    TSession session;
    session.DeclareAlias(QStringLiteral("JUXRegs"), AliasKind::Server);
    TQuery query;
    query.DatabaseName = QStringLiteral("JUXRegs");
    query.SQL = QStringList{QStringLiteral("SELECT COUNT(*), SUM(IMPORTE) FROM tickettaxis"),
                            QStringLiteral("WHERE FECHA BETWEEN '%1 00:00:00' AND '%2 23:59:59'")
                                .arg(from.toString(QStringLiteral("yyyyMMdd")),
                                     to.toString(QStringLiteral("yyyyMMdd")))};
    query.Open();
    const std::pair<int, QString> totals{query.Fields(0).AsInteger(),
                                         QString::number(query.Fields(1).AsFloat(), 'f', 2)};
    query.Close();
    return totals;
}

} // namespace

class TestWebBrowser : public QObject {
    Q_OBJECT

private slots:
    void aPersonUsesThePage();
};

void TestWebBrowser::aPersonUsesThePage() {
    ServiceWorld world;
    StationSettings settings;
    settings.AutoMin = false;
    world.writeSettings(settings);
    const int port = freePort();
    QVERIFY(port > 0);
    {
        TRegistry registry;
        registry.OpenKey(settingsKey(QStringLiteral("JUXRegs")), true);
        registry.WriteInteger(QStringLiteral("AlertaFallos"), 2);
        registry.WriteString(QStringLiteral("Web"), QString::number(port));
        registry.WriteString(QStringLiteral("WebCuentas"), world.path("web-usuarios"));
        registry.CloseKey();
    }
    QFile accounts(world.path("web-usuarios"));
    QVERIFY(accounts.open(QIODevice::WriteOnly));
    accounts.write(accountLine(QStringLiteral("clara"), "facturas").toUtf8() + '\n');
    accounts.close();
    world.addPoints({kAlive, kDead});
    SimPoints sim({{kAlive, simRecords(kTickets, freshFirstTicket())}});
    QVERIFY(sim.started());
    const auto [status, journal] = world.run({QStringLiteral("--once")}, &sim);
    QVERIFY2(status == 1, qPrintable(journal)); // the dead point failed
    const QDate day = ticketDay();
    const auto [tickets, amount] = ticketTotals(day, day);
    QCOMPARE(tickets, kTickets);

    QProcess service;
    startWaiting(world, service, &sim);
    const QString shots =
        QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("pantallas"));
    QDir(shots).removeRecursively();
    QVERIFY(QDir().mkpath(shots));
    QProcess browser;
    browser.setProcessChannelMode(QProcess::MergedChannels);
    browser.start(QStringLiteral("/usr/bin/python3"),
                  {QStringLiteral(KIVO_SOURCE_DIR "/tests/web/browser_check.py"),
                   QStringLiteral("http://127.0.0.1:%1").arg(port), QStringLiteral("clara"),
                   QStringLiteral("facturas"), controlSocket(world), kDead,
                   day.toString(Qt::ISODate), day.toString(Qt::ISODate), QString::number(tickets),
                   amount, shots});
    const bool ended = browser.waitForFinished(240000);
    const QString said = QString::fromUtf8(browser.readAll());
    ::kill(pid_t(service.processId()), SIGTERM);
    QVERIFY(service.waitForFinished(30000));
    QVERIFY2(ended && browser.exitCode() == 0, qPrintable(said));
    QVERIFY2(said.contains(QStringLiteral("logged out")), qPrintable(said));
}

QTEST_GUILESS_MAIN(TestWebBrowser)
#include "tst_webbrowser.moc"
