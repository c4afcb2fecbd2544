// The window's side of the points' health: "Estado de los puntos" follows a
// cycle as it runs, and an alert shows a tray balloon.
#include "PrincipalParts.h"
#include "StationFixture.h"
#include "collect/Cycles.h"
#include "collect/SettingsCodec.h"
#include "cycles/CycleWorld.h"
#include "platform/Registry.h"
#include "station/uPrincipal.h"
#include "ui/TrayIcon.h"
#include "windows/uSaludPuntos.h"

#include <QAction>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTest>

class TestPrincipalHealth : public QObject {
    Q_OBJECT
private slots:
    void healthWindowFollowsACycleWithADeadPoint();
};

void TestPrincipalHealth::healthWindowFollowsACycleWithADeadPoint() {
    StationFixture world;
    {
        TRegistry registry;
        registry.OpenKey(settingsKey(QStringLiteral("JUXRegs")), true);
        registry.WriteInteger(QStringLiteral("AlertaFallos"), 1);
        registry.CloseKey();
    }
    TfPrincipal f;
    const PrincipalParts p(f);
    p.cbAutoMin->setChecked(false);
    appendPoints(f.localAlias(),
                 {{"127.0.3.91", "Muerto", "9"}, {"127.0.3.92", "Apagado", "8", false}});
    p.EstadoPuntos1->trigger();
    auto* health = f.findChild<TfSaludPuntos*>();
    QVERIFY(health && health->isVisible());
    const QAbstractItemModel* rows = health->gPuntos->model();
    QCOMPARE(rows->rowCount(), 2);
    QCOMPARE(rows->index(0, 3).data().toString(), QStringLiteral("sin datos"));

    p.eFileMan->setText(world.workPath("manual.txt"));
    p.bDescargar->click();
    QTRY_COMPARE_WITH_TIMEOUT(rows->index(0, 3).data().toString(), QStringLiteral("caído"), 20000);
    QCOMPARE(rows->index(0, 3).data(Qt::BackgroundRole).value<QBrush>().color(),
             TfSaludPuntos::stateColour(PointHealthView::State::Down));
    QCOMPARE(rows->index(1, 3).data().toString(), QStringLiteral("inactivo"));
    QVERIFY(p.TrayIcon1->lastMessage().contains(QStringLiteral("127.0.3.91 (Muerto, Loc 9)")));
    QTRY_VERIFY(!f.cycles().running());
}

QTEST_MAIN(TestPrincipalHealth)
#include "tst_principalhealth.moc"
