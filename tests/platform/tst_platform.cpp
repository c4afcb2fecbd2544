#include "platform/Clock.h"
#include "platform/DateTime.h"
#include "platform/ErrorBox.h"
#include "platform/Errors.h"
#include "platform/FolderLock.h"
#include "platform/Regional.h"
#include "platform/Registry.h"
#include "platform/SingleInstance.h"
#include "ui/Application.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>
#include <iostream>
#include <stdexcept>

Q_DECLARE_METATYPE(DateTimeParts)

namespace {

const char kHoldLock[] = "--hold-lock";
const char kFormatProbe[] = "--format-probe";

DateTimeParts parts(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
    return DateTimeParts{y, mo, d, h, mi, s, ms};
}

QString show(const DateTimeParts& p) {
    return QString::asprintf("%04d-%02d-%02d %02d:%02d:%02d.%03d", p.year, p.month, p.day, p.hour,
                             p.minute, p.second, p.msec);
}

// Regional values written to the store the tests point at.
void storeInternational(const QMap<QString, QString>& values) {
    TRegistry registry;
    QVERIFY(registry.OpenKey("\\Control Panel\\International", true));
    for (auto it = values.begin(); it != values.end(); ++it)
        registry.WriteString(it.key(), it.value());
    reloadFormatSettings();
}

class Thrower : public QObject {
public:
    enum Kind { Own, Standard, Other };
    explicit Thrower(Kind kind) : m_kind(kind) {}
    bool event(QEvent* event) override {
        if (event->type() != QEvent::User)
            return QObject::event(event);
        if (m_kind == Own)
            throw Exception(QStringLiteral("No se puede abrir lectura.DB"));
        if (m_kind == Standard)
            throw std::runtime_error("disk full");
        throw 42;
    }

private:
    Kind m_kind;
};

// The child side of the single-instance tests: takes the lock, says whether
// it got it, and holds it until killed or until its input closes.
// The child side of the lock tests: the machine-wide name and the lock of
// the temporary folder, held until standard input ends.
int holdLock() {
    SingleInstance instance;
    FolderLock folder(QDir::tempPath());
    const bool held = instance.acquire() && folder.acquire();
    std::cout << (held ? "held" : "refused") << std::endl;
    if (held) {
        std::string line;
        std::getline(std::cin, line);
    }
    return 0;
}

// The child side of the locale tests: the "now" text of 2024-03-05 19:08:09
// in the locale the child was started with, and no regional values stored.
int formatProbe() {
    const double value = encodeDateTime(parts(2024, 3, 5, 19, 8, 9));
    std::cout << DateTimeToStr(value).toStdString() << std::endl;
    return 0;
}

} // namespace

class TestPlatform : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void encodeDecode_data();
    void encodeDecode();
    void decodeRoundsToMillisecond_data();
    void decodeRoundsToMillisecond();
    void qtConversions_data();
    void qtConversions();

    void pictures_data();
    void pictures();
    void dateTimeText_data();
    void dateTimeText();
    void localeFallback();
    void localeFormatsConverted_data();
    void localeFormatsConverted();
    void wrongTypeFallsBackToLocale();
    void nowTextUsesTheClock();

    void errorBoxText_data();
    void errorBoxText();
    void notifyShowsEscapingExceptions_data();
    void notifyShowsEscapingExceptions();

    void secondInstanceRefused();
    void killedHolderDoesNotBlock();

private:
    QProcess* startHolder();

    std::unique_ptr<QTemporaryDir> m_dir;
    QList<QPair<QString, QString>> m_boxes;
    std::vector<std::unique_ptr<QProcess>> m_children;
};

void TestPlatform::initTestCase() {
    // A name and a folder of the tests' own: keep away from a running station.
    static QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    qputenv("TMPDIR", tmp.path().toLocal8Bit());
    qputenv("KIVO_INSTANCE",
            "kivo-tst-platform-" + QByteArray::number(QCoreApplication::applicationPid()));
}

void TestPlatform::init() {
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    qputenv("KIVO_REGISTRY", m_dir->filePath("registry.reg").toLocal8Bit());
    reloadFormatSettings();
    m_boxes.clear();
    setBoxPresenter([this](const QString& caption, const QString& text, BoxIcon icon) {
        QCOMPARE(icon, BoxIcon::Error);
        m_boxes.append({caption, text});
    });
}

void TestPlatform::cleanup() {
    for (auto& child : m_children) {
        child->kill();
        child->waitForFinished();
    }
    m_children.clear();
    setBoxPresenter({});
    setClock({});
    m_dir.reset();
    reloadFormatSettings();
}

// ---- date-time ---------------------------------------------------------------

void TestPlatform::encodeDecode_data() {
    QTest::addColumn<DateTimeParts>("parts");
    QTest::addColumn<double>("value");
    QTest::newRow("epoch") << parts(1899, 12, 30) << 0.0;
    QTest::newRow("1900-01-01") << parts(1900, 1, 1) << 2.0;
    QTest::newRow("leap day noon") << parts(2024, 2, 29, 12) << 45351.5;
    QTest::newRow("23:00") << parts(2024, 3, 5, 23) << 45356.0 + 23.0 / 24.0;
    QTest::newRow("last millisecond")
        << parts(2024, 3, 5, 23, 59, 59, 999) << 45357.0 - 1.0 / 86400000.0;
    QTest::newRow("day before epoch, 06:00") << parts(1899, 12, 29, 6) << -1.25;
    QTest::newRow("day before epoch, 18:00") << parts(1899, 12, 29, 18) << -1.75;
    QTest::newRow("1800-01-01 12:00") << parts(1800, 1, 1, 12) << -36522.5;
    QTest::newRow("9999-12-31") << parts(9999, 12, 31, 23, 59, 59) << 2958465.0 + 86399.0 / 86400.0;
}

void TestPlatform::encodeDecode() {
    QFETCH(DateTimeParts, parts);
    QFETCH(double, value);
    QVERIFY2(qAbs(encodeDateTime(parts) - value) < 1e-9, qPrintable(QString::number(value)));
    QCOMPARE(show(decodeDateTime(value)), show(parts));
    QCOMPARE(show(decodeDateTime(encodeDateTime(parts))), show(parts));
}

void TestPlatform::decodeRoundsToMillisecond_data() {
    const double ms = 1.0 / 86400000.0;
    QTest::addColumn<double>("value");
    QTest::addColumn<DateTimeParts>("parts");
    QTest::newRow("0.4 ms rounds down") << 0.5 + 0.4 * ms << parts(1899, 12, 30, 12);
    QTest::newRow("0.6 ms rounds up") << 0.5 + 0.6 * ms << parts(1899, 12, 30, 12, 0, 0, 1);
    QTest::newRow("just before midnight carries") << 3.0 - 0.3 * ms << parts(1900, 1, 2);
    // -1.99999... is the last instant of 1899-12-29, which rounds to the next day
    QTest::newRow("negative: next calendar day") << -2.0 + 0.3 * ms << parts(1899, 12, 30);
    QTest::newRow("negative ms") << -1.0 - 1.6 * ms << parts(1899, 12, 29, 0, 0, 0, 2);
    QTest::newRow("float noise of 10:00") << 45356.0 + 10.0 / 24.0 << parts(2024, 3, 5, 10);
}

void TestPlatform::decodeRoundsToMillisecond() {
    QFETCH(double, value);
    QFETCH(DateTimeParts, parts);
    QCOMPARE(show(decodeDateTime(value)), show(parts));
}

void TestPlatform::qtConversions_data() {
    QTest::addColumn<QDateTime>("qt");
    QTest::addColumn<double>("value");
    QTest::newRow("noon") << QDateTime(QDate(2024, 3, 5), QTime(12, 0)) << 45356.5;
    QTest::newRow("before epoch") << QDateTime(QDate(1899, 12, 29), QTime(6, 0)) << -1.25;
    QTest::newRow("milliseconds") << QDateTime(QDate(2000, 1, 1), QTime(0, 0, 0, 7))
                                  << 36526.0 + 7.0 / 86400000.0;
}

void TestPlatform::qtConversions() {
    QFETCH(QDateTime, qt);
    QFETCH(double, value);
    QVERIFY(qAbs(toDateTime(qt) - value) < 1e-9);
    QCOMPARE(toQDateTime(value), qt);
    QCOMPARE(toQDate(value), qt.date());
    QCOMPARE(toQTime(value), qt.time());
    QCOMPARE(dateOf(value), toDateTime(qt.date()));
    QVERIFY(qAbs(timeOf(value) - toDateTime(qt.time())) < 1e-9);
}

// ---- regional settings --------------------------------------------------------

void TestPlatform::pictures_data() {
    const QLocale system = QLocale::system();
    QTest::addColumn<QString>("picture");
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("expected");
    const double march5 = encodeDateTime(parts(2024, 3, 5, 19, 8, 9));
    const double early = encodeDateTime(parts(2024, 3, 5, 0, 30));
    QTest::newRow("slash is the date separator") << "dd/MM/yyyy" << march5 << "05-03-2024";
    QTest::newRow("short numbers") << "d/M/yy" << march5 << "5-3-24";
    QTest::newRow("single y") << "y" << encodeDate(2007, 1, 1) << "7";
    QTest::newRow("quoted slash is literal") << "yyyy'/'MM" << march5 << "2024/03";
    QTest::newRow("double quotes are literal") << "\"d\" d" << march5 << "d 5";
    QTest::newRow("colon is the time separator") << "HH:mm:ss" << march5 << "19.08.09";
    QTest::newRow("12-hour with marker") << "h:mm tt" << march5 << "7.08 p.m.";
    QTest::newRow("12 after midnight, t") << "hh t" << early << "12 a";
    QTest::newRow("24-hour no zero") << "H:m:s" << early << "0.30.0";
    QTest::newRow("m is minutes, M is month") << "m M" << march5 << "8 3";
    QTest::newRow("day names") << "ddd dddd" << march5
                               << system.dayName(2, QLocale::ShortFormat) + " " +
                                      system.dayName(2, QLocale::LongFormat);
    QTest::newRow("month names") << "MMM MMMM" << march5
                                 << system.monthName(3, QLocale::ShortFormat) + " " +
                                        system.monthName(3, QLocale::LongFormat);
    QTest::newRow("small year, four digits") << "yyyy" << encodeDate(5, 6, 7) << "0005";
}

void TestPlatform::pictures() {
    QFETCH(QString, picture);
    QFETCH(double, value);
    QFETCH(QString, expected);
    storeInternational({{"sDate", "-"}, {"sTime", "."}, {"s1159", "a.m."}, {"s2359", "p.m."}});
    QCOMPARE(formatDateTimePicture(picture, value), expected);
}

void TestPlatform::dateTimeText_data() {
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("expected");
    QTest::newRow("midnight: date only") << encodeDate(2024, 3, 5) << "05/03/2024";
    QTest::newRow("one millisecond after")
        << encodeDateTime(parts(2024, 3, 5, 0, 0, 0, 1)) << "05/03/2024 00:00:00";
    QTest::newRow("23:00") << encodeDateTime(parts(2024, 3, 5, 23)) << "05/03/2024 23:00:00";
    QTest::newRow("before epoch, midnight") << -1.0 << "29/12/1899";
    QTest::newRow("before epoch, 06:00") << -1.25 << "29/12/1899 06:00:00";
}

void TestPlatform::dateTimeText() {
    QFETCH(double, value);
    QFETCH(QString, expected);
    storeInternational({{"sShortDate", "dd/MM/yyyy"}, {"sLongTime", "HH:mm:ss"}});
    QCOMPARE(DateTimeToStr(value), expected);
}

void TestPlatform::localeFallback() {
    storeInternational({{"sDecimal", ","}}); // the key exists, the formats do not
    const FormatSettings& settings = formatSettings();
    QCOMPARE(settings.decimalSeparator, QChar(','));
    QVERIFY2(settings.shortDateFormat.contains("yyyy"), qPrintable(settings.shortDateFormat));
    QVERIFY2(!settings.longTimeFormat.contains('t') || settings.longTimeFormat.contains("tt"),
             qPrintable(settings.longTimeFormat));
    const double value = encodeDateTime(parts(2024, 3, 5, 7, 8, 9));
    QVERIFY2(DateToStr(value).contains("2024"), qPrintable(DateToStr(value)));
    // No zone name: only digits, separators and the AM/PM marker.
    QString time = TimeToStr(value);
    time.remove(settings.amText);
    QVERIFY2(QRegularExpression("^[^A-Za-z]*$").match(time).hasMatch(), qPrintable(time));
    QVERIFY2(time.contains("08") && time.contains("09"), qPrintable(time));
}

// Qt's locale formats become Windows pictures: a four-digit year, no time
// zone (nor the brackets around it), "AP" as the marker, direction marks kept.
void TestPlatform::localeFormatsConverted_data() {
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("expected");
    QTest::newRow("en_US: 12-hour") << "en_US"
                                    << "3/5/2024 7:08:09 PM";
    QTest::newRow("de_DE: two-digit year widened") << "de_DE"
                                                   << "05.03.2024 19:08:09";
    QTest::newRow("es_ES: bracketed zone") << "es_ES"
                                           << "5/3/2024 19:08:09";
    QTest::newRow("fi_FI: dots") << "fi_FI"
                                 << "5.3.2024 19.08.09";
    QTest::newRow("fr_CA: quoted letters") << "fr_CA"
                                           << "2024-03-05 19 h 08 min 09 s";
    QTest::newRow("C: a bare locale writes day first") << "C"
                                                       << "05/03/2024 19:08:09";
    QTest::newRow("ar_EG: direction marks")
        << "ar_EG" << QString::fromUtf8("5\u200f/3\u200f/2024 7:08:09 \u0645");
}

void TestPlatform::localeFormatsConverted() {
    QFETCH(QString, locale);
    QFETCH(QString, expected);
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("LC_ALL", locale + ".UTF-8");
    environment.insert("LANG", locale + ".UTF-8");
    child.setProcessEnvironment(environment);
    child.start(QCoreApplication::applicationFilePath(), {kFormatProbe});
    QVERIFY(child.waitForFinished());
    QCOMPARE(QString::fromUtf8(child.readAllStandardOutput()).trimmed(), expected);
}

void TestPlatform::wrongTypeFallsBackToLocale() {
    {
        TRegistry registry;
        QVERIFY(registry.OpenKey("\\Control Panel\\International", true));
        registry.WriteInteger("sShortDate", 3);
        registry.WriteString("sLongTime", "HH-mm");
    }
    reloadFormatSettings();
    QVERIFY(formatSettings().shortDateFormat.contains("yyyy"));
    QCOMPARE(formatSettings().longTimeFormat, QString("HH-mm"));
}

void TestPlatform::nowTextUsesTheClock() {
    storeInternational({{"sShortDate", "yyyy-MM-dd"}, {"sLongTime", "HH:mm:ss"}, {"sDate", "-"}});
    setClock([] { return QDateTime(QDate(2024, 3, 5), QTime(23, 0, 2)); });
    QCOMPARE(NowText(), QString("2024-03-05 23:00:02"));
    setClock([] { return QDateTime(QDate(2024, 3, 6), QTime(0, 0)); });
    QCOMPARE(NowText(), QString("2024-03-06"));
}

// ---- error box and application -------------------------------------------------

void TestPlatform::errorBoxText_data() {
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("expected");
    QTest::newRow("letter") << "abc"
                            << "abc.";
    QTest::newRow("full stop stays") << "abc."
                                     << "abc.";
    QTest::newRow("'!' sorts before '.'") << "abc!"
                                          << "abc!";
    QTest::newRow("')' sorts before '.'") << "(i)"
                                          << "(i)";
    QTest::newRow("'/' sorts after '.'") << "C:/"
                                         << "C:/.";
    QTest::newRow("digit") << "error 5"
                           << "error 5.";
    QTest::newRow("quote sorts before '.'") << "for 'Auto'"
                                            << "for 'Auto'";
    QTest::newRow("accented letter") << "conexión"
                                     << "conexión.";
    QTest::newRow("blank") << "abc "
                           << "abc ";
    QTest::newRow("empty") << ""
                           << "";
}

void TestPlatform::errorBoxText() {
    QFETCH(QString, message);
    QFETCH(QString, expected);
    QCOMPARE(::errorBoxText(message), expected);
}

void TestPlatform::notifyShowsEscapingExceptions_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("text");
    QTest::newRow("station error") << int(Thrower::Own) << "No se puede abrir lectura.DB.";
    QTest::newRow("standard exception") << int(Thrower::Standard) << "disk full.";
    QTest::newRow("anything else") << int(Thrower::Other) << "Unknown error.";
}

void TestPlatform::notifyShowsEscapingExceptions() {
    QFETCH(int, kind);
    QFETCH(QString, text);
    Thrower thrower(static_cast<Thrower::Kind>(kind));
    // Posted, so that it is the event loop that delivers it.
    QCoreApplication::postEvent(&thrower, new QEvent(QEvent::User));
    QCoreApplication::processEvents();
    QCOMPARE(m_boxes.size(), 1);
    QCOMPARE(m_boxes[0].first, kApplicationTitle);
    QCOMPARE(m_boxes[0].second, text);
}

// ---- single instance ---------------------------------------------------------------

QProcess* TestPlatform::startHolder() {
    auto child = std::make_unique<QProcess>();
    child->start(QCoreApplication::applicationFilePath(), {kHoldLock});
    if (!child->waitForStarted() || !child->waitForReadyRead(30000))
        return nullptr;
    m_children.push_back(std::move(child));
    return m_children.back().get();
}

// A second start is refused and told which process holds the name and the
// folder; once the holder ends, both are free.
void TestPlatform::secondInstanceRefused() {
    QProcess* first = startHolder();
    QVERIFY(first);
    QCOMPARE(first->readLine().trimmed(), QByteArray("held"));
    QProcess* second = startHolder();
    QVERIFY(second);
    QCOMPARE(second->readLine().trimmed(), QByteArray("refused"));
    const QString pid = QStringLiteral("proceso %1 ").arg(first->processId());
    SingleInstance instance;
    QVERIFY(!instance.acquire());
    QVERIFY2(instance.holder().contains(pid), qPrintable(instance.holder()));
    FolderLock folder(QDir::tempPath());
    QVERIFY(!folder.acquire());
    QVERIFY2(folder.holder().contains(pid), qPrintable(folder.holder()));

    first->closeWriteChannel(); // the holder ends normally and lets go
    QVERIFY(first->waitForFinished());
    QVERIFY(instance.acquire());
    QVERIFY(folder.acquire());
}

// Killed, the holder lets go of both (its lock file stays behind, unlocked).
void TestPlatform::killedHolderDoesNotBlock() {
    QProcess* holder = startHolder();
    QVERIFY(holder);
    QCOMPARE(holder->readLine().trimmed(), QByteArray("held"));
    holder->kill();
    QVERIFY(holder->waitForFinished());

    SingleInstance next;
    QVERIFY(next.acquire());
    FolderLock folder(QDir::tempPath());
    QVERIFY(folder.acquire());
    QProcess* later = startHolder();
    QVERIFY(later);
    QCOMPARE(later->readLine().trimmed(), QByteArray("refused"));
}

int main(int argc, char** argv) {
    if (argc > 1 && qstrcmp(argv[1], kHoldLock) == 0) {
        QCoreApplication app(argc, argv);
        return holdLock();
    }
    if (argc > 1 && qstrcmp(argv[1], kFormatProbe) == 0) {
        QCoreApplication app(argc, argv);
        return formatProbe();
    }
    KivoApplication app(argc, argv);
    TestPlatform test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_platform.moc"
