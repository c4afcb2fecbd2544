// The main window's side of the cycles: its timers and buttons reach the cycle
// machine, and the memo and indicator show what a person sees.
#include "PrincipalParts.h"
#include "StationFixture.h"
#include "collect/Cycles.h"
#include "cycles/CycleWorld.h"
#include "station/uPrincipal.h"
#include "store/DataSet.h"
#include "ui/Shape.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

class TestPrincipalCycles : public QObject {
    Q_OBJECT
private slots:
    void buttonsStartCyclesThroughTheWindow();
    void dailyIndicatorBlinks();
};

void TestPrincipalCycles::buttonsStartCyclesThroughTheWindow() {
    StationFixture world;
    TfPrincipal f;
    const PrincipalParts p(f);
    p.cbAutoMin->setChecked(false);
    appendPoints(f.localAlias(), {{"127.0.3.90", "Apagado", "9", false}});

    p.bSinc->click();
    QVERIFY(f.cycles().running());
    QVERIFY(p.mStatus->toPlainText().startsWith("Iniciando ciclo de sincronización manual ("));
    QTRY_VERIFY(!f.cycles().running());
    QVERIFY(p.mStatus->toPlainText().contains("\nCiclo de sincronización finalizado ("));

    // An empty file box: nothing happens and the memo keeps its text.
    const QString kept = p.mStatus->toPlainText();
    p.bDescargar->click();
    QVERIFY(!f.cycles().running());
    QCOMPARE(p.mStatus->toPlainText(), kept);

    p.eFileMan->setText(world.workPath("manual.txt"));
    p.cbErase->setChecked(true);
    p.bCancelPool->click(); // while idle: cleared by the next start
    p.bDescargar->click();
    QVERIFY(f.cycles().running());
    QVERIFY(!f.cycles().cancelRequested());
    QCOMPARE(f.cycles().output().path, world.workPath("manual.txt"));
    QVERIFY(f.cycles().output().overwrite);
    p.bCancelPool->click();
    QTRY_VERIFY(!f.cycles().running());
    QVERIFY(p.mStatus->toPlainText().contains("\nCiclo de descarga cancelado ("));
    QVERIFY(world.boxes.isEmpty());
}

void TestPrincipalCycles::dailyIndicatorBlinks() {
    StationFixture world;
    TfPrincipal f;
    const PrincipalParts p(f);
    p.cbAuto->setChecked(true);
    QCOMPARE(p.sAuto->BrushColor(), QColor(0, 255, 0));
    p.tAuto->setInterval(20);
    p.tAuto->start();
    QTRY_COMPARE(p.sAuto->BrushColor(), QColor(0xC0, 0xC0, 0xC0));
    QTRY_COMPARE(p.sAuto->BrushColor(), QColor(0, 255, 0));
    QVERIFY(p.tAuto->isActive());
}

QTEST_MAIN(TestPrincipalCycles)
#include "tst_principalcycles.moc"
