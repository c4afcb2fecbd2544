#include "ui/SpinEdit.h"

#include <QTest>

class TestSpinEdit : public QObject {
    Q_OBJECT
private slots:
    void valueKeepsToTheLimits_data();
    void valueKeepsToTheLimits();
    void typedTextIsBoundedWhenFocusLeaves();
    void changeFiresForCodeAndTyping();
};

void TestSpinEdit::valueKeepsToTheLimits_data() {
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("steps");
    QTest::addColumn<int>("expected");
    QTest::newRow("up by one step") << 60 << 1 << 70;
    QTest::newRow("down stops at the lower limit") << 20 << -5 << 10;
    QTest::newRow("up stops at the upper limit") << 29990 << 3 << 30000;
    QTest::newRow("code below the limits") << 5 << 0 << 10;
    QTest::newRow("code above the limits") << 40000 << 0 << 30000;
}

void TestSpinEdit::valueKeepsToTheLimits() {
    QFETCH(int, start);
    QFETCH(int, steps);
    QFETCH(int, expected);
    TSpinEdit edit;
    edit.setLimits(10, 30000, 10);
    edit.setValue(start);
    edit.stepBy(steps);
    QCOMPARE(edit.Value(), expected);
    QCOMPARE(edit.text(), QString::number(expected));
}

void TestSpinEdit::typedTextIsBoundedWhenFocusLeaves() {
    TSpinEdit edit;
    edit.setLimits(500, 300000, 100);
    edit.setValue(60000);
    edit.setEditText(QString());
    QCOMPARE(edit.Value(), 500); // not a whole number: reads as the lower limit
    edit.setEditText("999999");
    QCOMPARE(edit.text(), QString("999999")); // kept while typing
    QCOMPARE(edit.Value(), 300000);
    QFocusEvent out(QEvent::FocusOut);
    QApplication::sendEvent(&edit, &out);
    QCOMPARE(edit.text(), QString("300000"));
}

void TestSpinEdit::changeFiresForCodeAndTyping() {
    TSpinEdit edit;
    edit.setLimits(10, 30000, 10);
    edit.setValue(60);
    int changes = 0;
    edit.OnChange = [&] { ++changes; };
    edit.setValue(60);
    QCOMPARE(changes, 0); // the same value is no change
    edit.setValue(70);
    QCOMPARE(changes, 1);
    edit.setEditText("8");
    QCOMPARE(changes, 2);
}

QTEST_MAIN(TestSpinEdit)
#include "tst_spinedit.moc"
