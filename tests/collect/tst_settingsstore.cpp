// The station's settings as one object holds them: what its setters refuse,
// and what a save leaves as the key holds it.
#include "collect/StationSettingsStore.h"
#include "platform/Registry.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <limits>

namespace {
const QString kAlias = QStringLiteral("JUXRegs");

// A key as a save leaves it, then the given values written over it as they are.
void writeKey(const QVariantMap& overrides) {
    TRegistry r;
    QVERIFY(r.OpenKey(settingsKey(kAlias), true));
    writeSettings(r, StationSettings());
    for (auto it = overrides.cbegin(); it != overrides.cend(); ++it)
        it.value().typeId() == QMetaType::QString ? r.WriteString(it.key(), it.value().toString())
                                                  : r.WriteInteger(it.key(), it.value().toInt());
    r.CloseKey();
}

// A key as an older station saved it, without "PuntosALaVez".
void writeOlderKey() {
    QFile::remove(qEnvironmentVariable("KIVO_REGISTRY"));
    TRegistry r;
    QVERIFY(r.OpenKey(settingsKey(kAlias), true));
    for (const char* name : {"Auto", "EraseMan"})
        r.WriteBool(QLatin1String(name), false);
    r.WriteBool(QStringLiteral("AutoMin"), true);
    r.WriteInteger(QStringLiteral("DelayAutoMin"), 60);
    r.WriteDateTime(QStringLiteral("HoraAuto"), 0.5);
    r.WriteString(QStringLiteral("FileAuto"), QString());
    r.WriteString(QStringLiteral("FileMan"), QString());
    r.WriteInteger(QStringLiteral("FTPtimeOut"), 60000);
    r.CloseKey();
}

QVariant storedValue(const QString& name, QMetaType::Type type) {
    TRegistry r;
    if (!r.OpenKey(settingsKey(kAlias), false))
        return {};
    return type == QMetaType::QString ? QVariant(r.ReadString(name))
                                      : QVariant(r.ReadInteger(name));
}
} // namespace

class TestSettingsStore : public QObject {
    Q_OBJECT
private slots:
    void init() { qputenv("KIVO_REGISTRY", m_dir.filePath("registry.reg").toLocal8Bit()); }

    void setterRefusesValueOutOfRange_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("refusal"); // empty: accepted
        QTest::newRow("interval at its lower limit") << "DelayAutoMin" << 10.0 << "";
        QTest::newRow("interval below") << "DelayAutoMin" << 9.0 << "'DelayAutoMin' is 9";
        QTest::newRow("interval above") << "DelayAutoMin" << 30001.0 << "'DelayAutoMin' is 30001";
        QTest::newRow("time-out at its upper limit") << "FTPtimeOut" << 300000.0 << "";
        QTest::newRow("time-out below") << "FTPtimeOut" << 499.0 << "'FTPtimeOut' is 499";
        QTest::newRow("time-out above") << "FTPtimeOut" << 300001.0 << "'FTPtimeOut' is 300001";
        QTest::newRow("points at once at its upper limit") << "PuntosALaVez" << 32.0 << "";
        QTest::newRow("no point at once") << "PuntosALaVez" << 0.0 << "'PuntosALaVez' is 0";
        QTest::newRow("points at once above") << "PuntosALaVez" << 33.0 << "'PuntosALaVez' is 33";
        QTest::newRow("daily time") << "HoraAuto" << 0.5 << "";
        QTest::newRow("daily time not a number")
            << "HoraAuto" << std::numeric_limits<double>::quiet_NaN() << "'HoraAuto'";
        QTest::newRow("daily time infinite")
            << "HoraAuto" << std::numeric_limits<double>::infinity() << "'HoraAuto'";
    }

    // A refused value leaves the one held as it was.
    void setterRefusesValueOutOfRange() {
        QFETCH(QString, name);
        QFETCH(double, value);
        QFETCH(QString, refusal);
        StationSettingsStore store(kAlias);
        const auto set = [&] {
            if (name == "DelayAutoMin")
                store.setDelayAutoMin(int(value));
            else if (name == "FTPtimeOut")
                store.setFtpTimeOut(int(value));
            else if (name == "PuntosALaVez")
                store.setPointsAtOnce(int(value));
            else
                store.setHoraAuto(value);
        };
        const auto held = [&] {
            const StationSettings& s = store.values();
            return name == "DelayAutoMin"   ? double(s.DelayAutoMin)
                   : name == "FTPtimeOut"   ? double(s.FTPtimeOut)
                   : name == "PuntosALaVez" ? double(s.PuntosALaVez)
                                            : s.HoraAuto;
        };
        const double before = held();
        try {
            set();
            QVERIFY2(refusal.isEmpty(), "an out-of-range value was taken");
            QCOMPARE(held(), value);
        } catch (const ERegistryException& error) {
            QVERIFY2(!refusal.isEmpty(), qPrintable(error.message()));
            QVERIFY2(error.message().startsWith(refusal), qPrintable(error.message()));
            QCOMPARE(held(), before);
        }
    }

    void saveLeavesUnreadValueAlone_data() {
        QTest::addColumn<QVariantMap>("stored");
        QTest::addColumn<bool>("readingStops");
        QTest::addColumn<int>("newTimeOut"); // 0: not changed
        QTest::addColumn<QString>("name");
        QTest::addColumn<QVariant>("saved");
        QTest::newRow("a mistyped Auto stops the reading before FTPix")
            << QVariantMap{{"Auto", "1"}, {"FTPix", 7}} << true << 0 << "FTPix" << QVariant(7);
        QTest::newRow("the mistyped Auto itself")
            << QVariantMap{{"Auto", "1"}} << true << 0 << "Auto" << QVariant("1");
        QTest::newRow("a mistyped time-out")
            << QVariantMap{{"FTPtimeOut", "x"}} << false << 0 << "FTPtimeOut" << QVariant("x");
        QTest::newRow("a mistyped time-out the station has set since")
            << QVariantMap{{"FTPtimeOut", "x"}} << false << 1000 << "FTPtimeOut" << QVariant(1000);
    }

    void saveLeavesUnreadValueAlone() {
        QFETCH(QVariantMap, stored);
        QFETCH(bool, readingStops);
        QFETCH(int, newTimeOut);
        QFETCH(QString, name);
        QFETCH(QVariant, saved);
        writeKey(stored);
        StationSettingsStore store(kAlias);
        bool stopped = false;
        try {
            store.loadClamped();
        } catch (const ERegistryException&) {
            stopped = true;
        }
        QCOMPARE(stopped, readingStops);
        if (newTimeOut)
            store.setFtpTimeOut(newTimeOut);
        store.save();
        QCOMPARE(storedValue(name, QMetaType::Type(saved.typeId())), saved);
    }

    // The service refuses a key whose points at once is out of range or no
    // number, naming the range; the window brings a number to the nearer
    // limit and keeps its own value for one of the wrong type.
    void pointsAtOnceAsLoaded_data() {
        QTest::addColumn<QVariantMap>("stored");
        QTest::addColumn<QString>("refusal"); // of the service's load; empty: loaded
        QTest::addColumn<int>("window");
        QTest::newRow("a key without it") << QVariantMap{} << "" << 1;
        QTest::newRow("eight") << QVariantMap{{"PuntosALaVez", 8}} << "" << 8;
        QTest::newRow("above the range") << QVariantMap{{"PuntosALaVez", 40}}
                                         << "'PuntosALaVez' is 40; it must be from 1 to 32" << 32;
        QTest::newRow("below the range") << QVariantMap{{"PuntosALaVez", 0}}
                                         << "'PuntosALaVez' is 0; it must be from 1 to 32" << 1;
        QTest::newRow("not a number")
            << QVariantMap{{"PuntosALaVez", "ocho"}}
            << "'PuntosALaVez' is not a number; it must be from 1 to 32" << 1;
    }

    void pointsAtOnceAsLoaded() {
        QFETCH(QVariantMap, stored);
        QFETCH(QString, refusal);
        QFETCH(int, window);
        stored.isEmpty() ? writeOlderKey() : writeKey(stored);
        StationSettingsStore service(kAlias);
        try {
            service.load();
            QVERIFY2(refusal.isEmpty(), "the service took a value out of range");
            QCOMPARE(service.values().PuntosALaVez, window);
        } catch (const ERegistryException& error) {
            QCOMPARE(error.message(), refusal);
        }
        StationSettingsStore shown(kAlias);
        shown.loadClamped();
        QCOMPARE(shown.values().PuntosALaVez, window);
    }

private:
    QTemporaryDir m_dir;
};

QTEST_GUILESS_MAIN(TestSettingsStore)
#include "tst_settingsstore.moc"
