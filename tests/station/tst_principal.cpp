#include "PrincipalParts.h"
#include "StationFixture.h"

#include "collect/SettingsCodec.h"
#include "platform/DateTime.h"
#include "platform/Registry.h"
#include "station/uPrincipal.h"
#include "ui/Shape.h"
#include "ui/SpinEdit.h"
#include "ui/StatusBar.h"
#include "ui/TrayIcon.h"
#include "windows/UAboutBox.h"
#include "windows/uRegAsist.h"

#include <QCheckBox>
#include <QDateTimeEdit>
#include <QFile>
#include <QLineEdit>
#include <QProperty>
#include <QPushButton>
#include <QTcpServer>
#include <QTest>
#include <QTimer>
#include <memory>

namespace {
const QString kKey = settingsKey("JUXRegs");

// A key as a save of the station would leave it, with some values replaced
// or removed.
void writeKey(const QString& key, const QVariantMap& overrides = {},
              const QStringList& absent = {}) {
    TRegistry reg;
    QVERIFY(reg.OpenKey(key, true));
    StationSettings s;
    s.HoraAuto = encodeTime(23, 0, 0);
    writeSettings(reg, s);
    reg.CloseKey();
    QVERIFY(reg.OpenKey(key, true));
    for (auto it = overrides.cbegin(); it != overrides.cend(); ++it) {
        if (it.value().typeId() == QMetaType::QString)
            reg.WriteString(it.key(), it.value().toString());
        else
            reg.WriteInteger(it.key(), it.value().toInt());
    }
    reg.CloseKey();
    if (!absent.isEmpty()) {
        // Rewrite the key without the absent values, in order.
        QFile file(TRegistry::defaultPath());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QByteArray text = file.readAll();
        file.close();
        QList<QByteArray> kept;
        for (const QByteArray& line : text.split('\n')) {
            bool drop = false;
            for (const QString& name : absent)
                drop = drop || line.startsWith("\"" + name.toLatin1() + "\"=");
            if (!drop)
                kept << line;
        }
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(kept.join('\n'));
    }
}

int closedPort() {
    QTcpServer server;
    server.listen(QHostAddress::LocalHost);
    return server.serverPort(); // closed again when the server goes
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

void writeFile(const QString& path, const QByteArray& content) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(content);
}
} // namespace

class TestPrincipal : public QObject {
    Q_OBJECT
private slots:
    void firstStartUsesDefaultsAndSavesElevenValues();
    void storedValuesPassThroughTheControls_data();
    void storedValuesPassThroughTheControls();
    void valueThatStopsReading_data();
    void valueThatStopsReading();
    void valuesNeverLoadedAreNotSavedOver();
    void triggerSwitchesExcludeEachOther();
    void spinEditChangeRestartsConstantTrigger();
    void aliasFileChoosesTablesKeyAndServer();
    void unreachableServerEndsWithoutSaving();
    void settingsFileWithATypoEndsWithoutTouchingIt();
    void unwritableLoginFileSkipsTheRestOfStartUp();
    void showingBindsSecondaryWindows();
};

void TestPrincipal::firstStartUsesDefaultsAndSavesElevenValues() {
    StationFixture world;
    {
        TfPrincipal f;
        const PrincipalParts p(f);
        QVERIFY(world.boxes.isEmpty());
        QCOMPARE(f.windowTitle(), QString("KIVO ip Taxis [JUXRegs]"));
        QCOMPARE(p.TrayIcon1->Hint(), QString("KIVO ip Taxis [JUXRegs]"));
        QVERIFY(p.cbAutoMin->isChecked());
        QVERIFY(p.tAutoMin->isActive());
        QCOMPARE(p.tAutoMin->interval(), 60000);
        QVERIFY(!p.cbAuto->isChecked());
        QVERIFY(!p.tAuto->isActive());
        QCOMPARE(p.dtpHora->time(), QTime(23, 0));
        QCOMPARE(p.seFTPtimeOut->Value(), 60000);
        QCOMPARE(p.sAuto->BrushColor(), QColor(Qt::gray));
        QVERIFY(!p.bRuta->isEnabled());
        QVERIFY(!p.bFile->isEnabled());
        f.close();
    }
    QFile login(world.workPath("dbLogin.txt"));
    QVERIFY(login.open(QIODevice::ReadOnly));
    QCOMPARE(login.readAll(), QByteArray("USER NAME=JUX\r\npassword=60728\r\n"));

    TRegistry reg;
    QVERIFY(reg.OpenKey(kKey, false));
    QCOMPARE(reg.ReadBool("Auto"), false);
    QCOMPARE(reg.ReadBool("AutoMin"), true);
    QCOMPARE(reg.ReadInteger("DelayAutoMin"), 60);
    QCOMPARE(toQTime(timeOf(reg.ReadDateTime("HoraAuto"))), QTime(23, 0));
    QCOMPARE(reg.ReadBinaryData("HoraAuto").size(), 8);
    QCOMPARE(reg.ReadString("FileAuto"), QString());
    QCOMPARE(reg.ReadString("FileMan"), QString());
    QCOMPARE(reg.ReadBool("EraseMan"), false);
    QCOMPARE(reg.ReadInteger("fFTPerr"), 0);
    QCOMPARE(reg.ReadString("FTPloc"), QString());
    QCOMPARE(reg.ReadInteger("FTPix"), 0);
    QCOMPARE(reg.ReadInteger("FTPtimeOut"), 60000);
    // The strings really are strings: reading one as a number is a type error.
    QVERIFY_THROWS_EXCEPTION(ERegistryException, reg.ReadInteger("FileAuto"));
}

void TestPrincipal::storedValuesPassThroughTheControls_data() {
    QTest::addColumn<QVariantMap>("stored");
    QTest::addColumn<QString>("probe");
    QTest::addColumn<int>("expected");
    QTest::addColumn<int>("savedFTPix");

    QTest::newRow("FTPix 7 is carried") << QVariantMap{{"FTPix", 7}} << "seAutoMin" << 60 << 7;
    QTest::newRow("FTPix of the wrong type reads 1")
        << QVariantMap{{"FTPix", QString("x")}} << "seAutoMin" << 60 << 1;
    QTest::newRow("DelayAutoMin 5 gives 10")
        << QVariantMap{{"DelayAutoMin", 5}} << "interval" << 10000 << 0;
    QTest::newRow("DelayAutoMin 100000 gives 30000")
        << QVariantMap{{"DelayAutoMin", 100000}} << "seAutoMin" << 30000 << 0;
    QTest::newRow("FTPtimeOut 400000 gives 300000")
        << QVariantMap{{"FTPtimeOut", 400000}} << "seFTPtimeOut" << 300000 << 0;
    QTest::newRow("FTPtimeOut of the wrong type keeps the control's value")
        << QVariantMap{{"FTPtimeOut", QString("x")}} << "seFTPtimeOut" << 60000 << 0;
    QTest::newRow("both triggers stored on: AutoMin wins")
        << QVariantMap{{"Auto", 1}, {"AutoMin", 1}} << "autoMinOnly" << 1 << 0;
    QTest::newRow("Auto alone") << QVariantMap{{"Auto", 1}, {"AutoMin", 0}} << "autoOnly" << 1 << 0;
}

void TestPrincipal::storedValuesPassThroughTheControls() {
    QFETCH(QVariantMap, stored);
    QFETCH(QString, probe);
    QFETCH(int, expected);
    QFETCH(int, savedFTPix);
    StationFixture world;
    writeKey(kKey, stored);
    {
        TfPrincipal f;
        const PrincipalParts p(f);
        QVERIFY2(world.boxes.isEmpty(), qPrintable(world.boxes.value(0).text));
        if (probe == "seAutoMin")
            QCOMPARE(p.seAutoMin->Value(), expected);
        else if (probe == "seFTPtimeOut")
            QCOMPARE(p.seFTPtimeOut->Value(), expected);
        else if (probe == "interval")
            QCOMPARE(p.tAutoMin->interval(), expected);
        else if (probe == "autoMinOnly") {
            QVERIFY(p.cbAutoMin->isChecked() && p.tAutoMin->isActive());
            QVERIFY(!p.cbAuto->isChecked() && !p.tAuto->isActive());
            QCOMPARE(p.sAuto->BrushColor(), QColor(Qt::gray));
        } else if (probe == "autoOnly") {
            QVERIFY(p.cbAuto->isChecked() && p.tAuto->isActive());
            QVERIFY(!p.cbAutoMin->isChecked() && !p.tAutoMin->isActive());
            QCOMPARE(p.sAuto->BrushColor(), QColor(0, 255, 0));
        }
        f.guardarParam();
    }
    TRegistry reg;
    QVERIFY(reg.OpenKey(kKey, false));
    QCOMPARE(reg.ReadInteger("FTPix"), savedFTPix);
}

void TestPrincipal::valueThatStopsReading_data() {
    QTest::addColumn<QVariantMap>("stored");
    QTest::addColumn<QStringList>("absent");
    QTest::addColumn<QString>("message");

    QTest::newRow("absent Auto") << QVariantMap{{"DelayAutoMin", 100}} << QStringList{"Auto"}
                                 << "Failed to get data for 'Auto'";
    QTest::newRow("DelayAutoMin of the wrong type")
        << QVariantMap{{"DelayAutoMin", QString("60")}} << QStringList{}
        << "Invalid data type for 'DelayAutoMin'";
    QTest::newRow("absent HoraAuto") << QVariantMap{{"EraseMan", 1}} << QStringList{"HoraAuto"}
                                     << "Failed to get data for 'HoraAuto'";
}

// Reading stops at the bad value: what came before stays applied, what comes
// after is not, no trigger starts and the server is not tested.
void TestPrincipal::valueThatStopsReading() {
    QFETCH(QVariantMap, stored);
    QFETCH(QStringList, absent);
    QFETCH(QString, message);
    StationFixture world;
    writeFile(world.path("aliases.ini"),
              QString("[JUXRegs]\nDriver=postgres\nHost=127.0.0.1\nPort=%1\nDatabase=x\n")
                  .arg(closedPort())
                  .toUtf8());
    stored.insert("FileMan", "after");
    writeKey(kKey, stored, absent);

    TfPrincipal f;

    const PrincipalParts p(f);
    QCOMPARE(world.boxes.size(), 1);
    QCOMPARE(world.boxes[0].caption, QString("KIVO ip (taxi)"));
    QCOMPARE(world.boxes[0].text, message);
    QCOMPARE(p.eFileMan->text(), QString());
    QVERIFY(!p.cbErase->isChecked());
    QCOMPARE(p.seAutoMin->Value(), 60);
    QVERIFY(!p.tAutoMin->isActive());
    QVERIFY(!p.tAuto->isActive());
    QVERIFY(!f.Terminated());
}

// A mistyped "Auto" stops the reading; closing must not put defaults over it,
// over the values after it, or over the recovery values.
void TestPrincipal::valuesNeverLoadedAreNotSavedOver() {
    StationFixture world;
    writeKey(kKey, {{"Auto", QString("1")},
                    {"FileMan", QString("after")},
                    {"fFTPerr", 1},
                    {"FTPloc", QString("L09")},
                    {"FTPpend", QString("127.0.0.9=2:") + QString(64, QLatin1Char('a')) + ":r1"}});
    const QByteArray before = readFile(TRegistry::defaultPath());
    {
        TfPrincipal f;
        const PrincipalParts p(f);
        QCOMPARE(world.boxes.size(), 1);
        f.close();
    }
    QCOMPARE(readFile(TRegistry::defaultPath()), before);
}

void TestPrincipal::triggerSwitchesExcludeEachOther() {
    StationFixture world;
    TfPrincipal f;
    const PrincipalParts p(f);
    p.cbAuto->setChecked(true);
    QVERIFY(!p.cbAutoMin->isChecked());
    QVERIFY(!p.tAutoMin->isActive());
    QVERIFY(p.tAuto->isActive());
    QCOMPARE(p.sAuto->BrushColor(), QColor(0, 255, 0));

    p.cbAutoMin->setChecked(true);
    QVERIFY(!p.cbAuto->isChecked());
    QVERIFY(!p.tAuto->isActive());
    QVERIFY(p.tAutoMin->isActive());
    QCOMPARE(p.sAuto->BrushColor(), QColor(Qt::gray));

    p.cbAutoMin->setChecked(false);
    QVERIFY(!p.tAutoMin->isActive());
    QVERIFY(!p.cbAuto->isChecked());
}

// A restart is the timer going off and on again, which starts its countdown
// from the full interval; the switches are watched, not the clock.
void TestPrincipal::spinEditChangeRestartsConstantTrigger() {
    StationFixture world;
    TfPrincipal f;
    const PrincipalParts p(f);
    QList<bool> switches;
    const QPropertyNotifier watch =
        p.tAutoMin->bindableActive().addNotifier([&] { switches << p.tAutoMin->isActive(); });
    p.cbAutoMin->setChecked(false);
    switches.clear();
    p.seFTPtimeOut->setValue(1000);
    QVERIFY(!p.tAutoMin->isActive());
    QVERIFY2(!switches.contains(true), "the trigger started while switched off");

    p.cbAutoMin->setChecked(true);
    switches.clear();
    p.seFTPtimeOut->setValue(2000);
    QCOMPARE(switches, (QList<bool>{false, true}));
    QCOMPARE(p.tAutoMin->interval(), 60000);

    switches.clear();
    p.seAutoMin->setValue(120);
    QCOMPARE(switches, (QList<bool>{false, true}));
    QCOMPARE(p.tAutoMin->interval(), 120000);
}

void TestPrincipal::aliasFileChoosesTablesKeyAndServer() {
    StationFixture world;
    writeFile(world.workPath("dbAlias.txt"), "LOC\r\nNONE\r\n");
    // An unreachable server would end the program: with NONE it is never tried.
    writeFile(
        world.path("aliases.ini"),
        QString("[NONE]\nDriver=postgres\nHost=127.0.0.1\nPort=%1\n").arg(closedPort()).toUtf8());
    writeKey(settingsKey("NONE"), {{"DelayAutoMin", 100}});
    TfPrincipal f;
    const PrincipalParts p(f);
    QVERIFY(world.boxes.isEmpty());
    QVERIFY(!f.Terminated());
    QCOMPARE(f.windowTitle(), QString("KIVO ip Taxis [NONE]"));
    QCOMPARE(f.localAlias(), QString("LOC"));
    QCOMPARE(p.seAutoMin->Value(), 100);
}

// The program ends through its event loop, as it does after OK; the settings
// on disk stay as they were, although the controls moved the stored numbers
// into their limits.
// A key's line without its "]": the window names the line, ends, and leaves
// the file as it is.
void TestPrincipal::settingsFileWithATypoEndsWithoutTouchingIt() {
    StationFixture world;
    const QByteArray typo = "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Tolv\r\n";
    writeFile(world.path("registry.reg"), typo);
    {
        TfPrincipal f;
        QCOMPARE(world.boxes.size(), 1);
        QVERIFY2(world.boxes[0].text.contains(QStringLiteral("no es válido en la línea 3")),
                 qPrintable(world.boxes[0].text));
        QVERIFY(f.Terminated());
        f.close();
    }
    QCOMPARE(readFile(world.path("registry.reg")), typo);
}

void TestPrincipal::unreachableServerEndsWithoutSaving() {
    StationFixture world;
    writeFile(world.path("aliases.ini"),
              QString("[JUXRegs]\nDriver=postgres\nHost=127.0.0.1\nPort=%1\nDatabase=kivo\n")
                  .arg(closedPort())
                  .toUtf8());
    writeKey(kKey, {{"DelayAutoMin", 5}, {"FTPtimeOut", 400000}});
    const QByteArray before = readFile(world.path("registry.reg"));
    {
        TfPrincipal f;
        const PrincipalParts p(f);
        QCOMPARE(world.boxes.size(), 1);
        QCOMPARE(world.boxes[0].caption, QString(" KIVO_ip"));
        QCOMPARE(world.boxes[0].text, QString("(i)ERROR: no se puede tener acceso a la base de "
                                              "datos.\r\rEl programa se cerrará."));
        QCOMPARE(p.StatusBar1->SimpleText(),
                 QString("(i)ERROR: no se puede tener acceso a la base de datos."));
        QVERIFY(f.Terminated());
        QCOMPARE(p.seAutoMin->Value(), 10);
        f.show();
        // a guard against a program that would not end by itself
        QTimer::singleShot(60000, qApp, [] { QCoreApplication::exit(1); });
        QCOMPARE(QApplication::exec(), 0);
    }
    QCOMPARE(readFile(world.path("registry.reg")), before);
}

void TestPrincipal::unwritableLoginFileSkipsTheRestOfStartUp() {
    StationFixture world;
    QDir(world.workPath("")).mkdir("dbLogin.txt"); // neither readable nor writable as a file
    writeKey(kKey, {{"DelayAutoMin", 100}});
    TfPrincipal f;
    const PrincipalParts p(f);
    QCOMPARE(world.boxes.size(), 1);
    QCOMPARE(p.seAutoMin->Value(), 60);
    QVERIFY(!p.tAutoMin->isActive());
}

void TestPrincipal::showingBindsSecondaryWindows() {
    StationFixture world;
    TfPrincipal f;
    const PrincipalParts p(f);
    TSecondaryWindows windows;
    windows.FAboutBox = new TFAboutBox(&f);
    windows.fRegAsist = new TfRegAsist(&f);
    f.setSecondaryWindows(windows);
    f.show();
    const QString info = "DB info: KIVO_1, JUXRegs.\rPar Cap: 750";
    QCOMPARE(windows.FAboutBox->DBinfo(), info);
    QCOMPARE(windows.fRegAsist->Table1.DatabaseName, QString("JUXRegs"));
    QCOMPARE(windows.fRegAsist->Table1.TableName, QString("tickettaxis"));
    QCOMPARE(windows.fRegAsist->Query1.DatabaseName, QString("JUXRegs"));

    windows.FAboutBox->setDBinfo(QString());
    f.hide();
    f.show(); // as after a double-click on the tray icon
    QCOMPARE(windows.FAboutBox->DBinfo(), info);
}

QTEST_MAIN(TestPrincipal)
#include "tst_principal.moc"
