// The window as the face of a running service: its memo follows the
// service's cycle, its buttons ask the service, and it says so when the
// service is gone.
#include "PrincipalParts.h"
#include "SimPoints.h"
#include "StationFixture.h"
#include "StationTables.h"
#include "station/uPrincipal.h"
#include "store/Session.h"
#include "ui/Confirm.h"
#include "ui/StatusBar.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QScopeGuard>
#include <QTest>

namespace {
// kivo-ipd on the fixture's station state, up once its socket is there.
void startService(const StationFixture& fx, const SimPoints& sim, QProcess& service) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    QDir(fx.path("tmp")).mkpath(".");
    env.insert("TMPDIR", fx.path("tmp"));
    env.insert("KIVO_INSTANCE",
               "kivo-test-monitor-" + QString::number(QCoreApplication::applicationPid()));
    env.insert("KIVO_FTP_PORT", QString::number(sim.ftpPort()));
    env.insert("KIVO_PARAM_PORT", QString::number(sim.paramPort()));
    service.setProcessEnvironment(env);
    service.setWorkingDirectory(fx.path("work"));
    service.start(QStringLiteral(KIVO_SERVICE_BINARY), {});
    QVERIFY(service.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(fx.path("data/kivo-ip/kivo-ipd.sock")), 30000);
}
} // namespace

class TestPrincipalMonitor : public QObject {
    Q_OBJECT

private slots:
    void windowFollowsAndSteersTheService() {
        StationFixture fx;
        const QString ip = QStringLiteral("127.0.7.31");
        {
            TSession session;
            session.DeclareAlias(QStringLiteral("KIVO_1"), AliasKind::Local);
            appendRow(QStringLiteral("confRegIP.db"),
                      {{"IP", ip}, {"Desc", "Uno"}, {"Loc", "M1"}, {"Activo", true}});
        }
        SimPoints sim({{ip, simRecords(2, 1)}});
        QVERIFY(sim.started());
        QProcess service;
        startService(fx, sim, service);

        QStringList asked;
        setConfirmPresenter([&](const QString& text) {
            asked << text;
            return false;
        });
        const auto restore = qScopeGuard([] { setConfirmPresenter({}); });
        TfPrincipal w(nullptr, StationMode::Monitor);

        const PrincipalParts p(w);
        QVERIFY(w.monitoring());
        QVERIFY(w.windowTitle().endsWith(QStringLiteral(" - monitor del servicio")));
        QVERIFY(!namedChild<QLabel>(w, "lMonitor")->isHidden());
        QVERIFY(p.StatusBar1->SimpleText().startsWith(QStringLiteral("Conectado con el servicio")));
        p.bSinc->click();
        QTRY_VERIFY_WITH_TIMEOUT(p.mStatus->toPlainText().contains(
                                     QStringLiteral("Iniciando ciclo de sincronización manual")),
                                 30000);
        QTRY_VERIFY_WITH_TIMEOUT(sim.countEvents(ip, QStringLiteral("PARAM OK")) == 1, 30000);
        QCOMPARE(sim.countEvents(ip, QStringLiteral("RETR")), 0); // the window collects nothing
        QTRY_VERIFY_WITH_TIMEOUT(
            p.mStatus->toPlainText().contains(QStringLiteral("Ciclo de sincronización finalizado")),
            30000);

        // "&Descargar" hands the service the window's "Archivo:": its lines go there.
        p.eFileMan->setText(fx.workPath("manual.txt"));
        p.bDescargar->click();
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(fx.workPath("manual.txt")), 30000);
        QTRY_VERIFY_WITH_TIMEOUT(
            p.mStatus->toPlainText().contains(QStringLiteral("Ciclo de descarga finalizado")),
            30000);
        QCOMPARE(sim.countEvents(ip, QStringLiteral("RETR regAsist.ras")), 1);

        service.kill();
        QVERIFY(service.waitForFinished(10000));
        QTRY_VERIFY_WITH_TIMEOUT(p.StatusBar1->SimpleText().contains(QStringLiteral("se detuvo")),
                                 10000);
        QTRY_COMPARE_WITH_TIMEOUT(asked.size(), 1, 10000);
        QVERIFY(asked[0].contains(QStringLiteral("¿Descargar desde esta ventana?")));
        p.bDescargar->click();
        QVERIFY(p.StatusBar1->SimpleText().contains(QStringLiteral("no hay ningún servicio")));
    }

    // A cycle asked for while the service's runs is refused, and the window
    // says so; the running cycle is untouched.
    void cycleAskedWhileOneRunsIsRefused() {
        StationFixture fx;
        const QString ip = QStringLiteral("127.0.7.32");
        {
            TSession session;
            session.DeclareAlias(QStringLiteral("KIVO_1"), AliasKind::Local);
            appendRow(QStringLiteral("confRegIP.db"),
                      {{"IP", ip}, {"Desc", "Lento"}, {"Loc", "M2"}, {"Activo", true}});
        }
        SimPointPlan slow{ip, simRecords(3, 1)};
        slow.retr = QStringLiteral("stall"); // the record file never comes: a cycle that waits
        SimPoints sim({slow});
        QVERIFY(sim.started());
        QProcess service;
        startService(fx, sim, service);
        TfPrincipal w(nullptr, StationMode::Monitor);
        const PrincipalParts p(w);
        p.bSinc->click();
        QTRY_VERIFY_WITH_TIMEOUT(sim.countEvents(ip, QStringLiteral("PARAM")) == 1, 30000);
        p.eFileMan->setText(fx.workPath("manual.txt"));
        p.bDescargar->click();
        QTRY_VERIFY_WITH_TIMEOUT(sim.countEvents(ip, QStringLiteral("RETR regAsist.ras")) == 1,
                                 30000);
        p.bSinc->click();
        QVERIFY2(p.StatusBar1->SimpleText().contains(QStringLiteral("ya hay un ciclo en curso")),
                 qPrintable(p.StatusBar1->SimpleText()));
        setConfirmPresenter([](const QString&) { return false; });
        service.kill();
        QVERIFY(service.waitForFinished(10000));
        QTRY_VERIFY_WITH_TIMEOUT(p.StatusBar1->SimpleText().contains(QStringLiteral("se detuvo")),
                                 10000);
        setConfirmPresenter({});
    }
};

QTEST_MAIN(TestPrincipalMonitor)
#include "tst_principalmonitor.moc"
