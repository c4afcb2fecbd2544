#include "FileSizeLimit.h"
#include "platform/Clock.h"
#include "platform/ErrorBox.h"
#include "platform/Registry.h"
#include "platform/TextCodec.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QtTest>
#include <cmath>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char kWriteLines[] = "--write-lines";
constexpr uid_t kNobody = 65534;

bool writeLoginLines(const QString& path) {
    return writeCp1252Lines(path, {"USER NAME=JUX", "password=60728"});
}

const QString kSettingsKey = QStringLiteral("\\Software\\Tolv\\KIVO\\IP\\1.0\\JUXRegs");

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeAll(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), bytes.size());
}

QByteArray utf16Export(const QString& text) {
    QStringEncoder encoder(QStringEncoder::Utf16LE);
    return QByteArray("\xFF\xFE") + QByteArray(encoder.encode(text));
}

// Calls the named Read* and returns the error text, or "" when it succeeds.
QString readError(const TRegistry& registry, const QString& reader, const QString& name) {
    try {
        if (reader == "Integer")
            registry.ReadInteger(name);
        else if (reader == "Bool")
            registry.ReadBool(name);
        else if (reader == "String")
            registry.ReadString(name);
        else if (reader == "Binary")
            registry.ReadBinaryData(name);
        else if (reader == "DateTime")
            registry.ReadDateTime(name);
    } catch (const ERegistryException& error) {
        return error.message();
    }
    return QString();
}

} // namespace

class TestRegistry : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void defaultPath_data();
    void defaultPath();
    void roundTrip_data();
    void roundTrip();
    void writesRegedit4Text();
    void openKeyCreatesOnlyWhenAsked();
    void namesIgnoreCase();
    void readErrors_data();
    void readErrors();
    void readsWindowsExport();
    void readsUtf8Regedit4();
    void writeKeepsOtherKeys();
    void writeReplacesFileWhole();
    void invalidFileIsNamedAndKept_data();
    void invalidFileIsNamedAndKept();
    void unreadableFileNeverOverwritten_data();
    void unreadableFileNeverOverwritten();
    void failedWriteNamesTheValue();
    void textBeyondWindows1252KeepsEveryCharacter_data();
    void textBeyondWindows1252KeepsEveryCharacter();
    void exportSpellingsOfDwordAndBinary();
    void writtenLinesReadableByTheOwner();
    void settingsWithAPasswordAreTheOwnersAlone_data();
    void settingsWithAPasswordAreTheOwnersAlone();
    void fullDiskKeepsTheOldFile();
    void groupIsSavedWholeOrNotAtAll();

private:
    QString path() const { return m_dir->filePath("cfg/kivo-ip/registry.reg"); }
    QStringList asideFiles() const {
        return QDir(m_dir->filePath("cfg/kivo-ip")).entryList({"registry.reg.corrupt-*"});
    }

    std::unique_ptr<QTemporaryDir> m_dir;
    QStringList m_reports;
};

void TestRegistry::init() {
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    qputenv("KIVO_REGISTRY", path().toLocal8Bit());
    m_reports.clear();
    setBoxPresenter([this](const QString&, const QString& text, BoxIcon) { m_reports << text; });
}

void TestRegistry::cleanup() {
    setBoxPresenter({});
    setClock({});
    if (m_dir)
        QFile::setPermissions(path(), QFile::ReadOwner | QFile::WriteOwner);
    m_dir.reset();
}

void TestRegistry::defaultPath_data() {
    QTest::addColumn<QString>("registry");
    QTest::addColumn<QString>("config");
    QTest::addColumn<QString>("expected");
    QTest::newRow("KIVO_REGISTRY wins") << "/r/x.reg"
                                        << "/c"
                                        << "/r/x.reg";
    QTest::newRow("XDG_CONFIG_HOME") << ""
                                     << "/c"
                                     << "/c/kivo-ip/registry.reg";
    QTest::newRow("home") << ""
                          << ""
                          << "HOME/.config/kivo-ip/registry.reg";
}

void TestRegistry::defaultPath() {
    QFETCH(QString, registry);
    QFETCH(QString, config);
    QFETCH(QString, expected);
    const QByteArray oldHome = qgetenv("HOME");
    qputenv("HOME", m_dir->path().toLocal8Bit());
    qputenv("KIVO_REGISTRY", registry.toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", config.toLocal8Bit());
    const QString actual = TRegistry::defaultPath();
    qputenv("HOME", oldHome);
    qunsetenv("XDG_CONFIG_HOME");
    QCOMPARE(actual, QString(expected).replace("HOME", m_dir->path()));
}

void TestRegistry::roundTrip_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QVariant>("value");
    QTest::newRow("dword 60") << "Integer" << QVariant(60);
    QTest::newRow("dword -1") << "Integer" << QVariant(-1);
    QTest::newRow("dword min") << "Integer" << QVariant(std::numeric_limits<int>::min());
    QTest::newRow("string quotes, backslashes") << "String" << QVariant("C:\\a \"b\"\\");
    QTest::newRow("string accents") << "String" << QVariant("Ñandú, camión é ñ ü €");
    QTest::newRow("string empty") << "String" << QVariant(QString());
    QTest::newRow("string two lines") << "String" << QVariant("uno\r\ndos");
    QTest::newRow("date-time") << "DateTime" << QVariant(45291.958333333336);
    QTest::newRow("date-time negative") << "DateTime" << QVariant(-1.25);
    QTest::newRow("date-time ms") << "DateTime" << QVariant(1.0 / 86400000.0);
    QByteArray all;
    for (int i = 0; i < 256; ++i)
        all.append(static_cast<char>(i));
    QTest::newRow("binary, several lines") << "Binary" << QVariant(all);
    QTest::newRow("binary empty") << "Binary" << QVariant(QByteArray());
}

void TestRegistry::roundTrip() {
    QFETCH(QString, kind);
    QFETCH(QVariant, value);
    {
        TRegistry writer;
        QVERIFY(writer.OpenKey(kSettingsKey, true));
        if (kind == "Integer")
            writer.WriteInteger("V", value.toInt());
        else if (kind == "String")
            writer.WriteString("V", value.toString());
        else if (kind == "DateTime")
            writer.WriteDateTime("V", value.toDouble());
        else
            writer.WriteBinaryData("V", value.toByteArray());
    }
    TRegistry reader; // a fresh object reads the file, not what the writer held
    QVERIFY(reader.OpenKey(kSettingsKey, false));
    if (kind == "Integer")
        QCOMPARE(reader.ReadInteger("V"), value.toInt());
    else if (kind == "String")
        QCOMPARE(reader.ReadString("V"), value.toString());
    else if (kind == "DateTime")
        QCOMPARE(reader.ReadDateTime("V"), value.toDouble()); // bit for bit
    else
        QCOMPARE(reader.ReadBinaryData("V"), value.toByteArray());
}

void TestRegistry::writesRegedit4Text() {
    TRegistry registry;
    QVERIFY(registry.OpenKey(kSettingsKey, true));
    registry.WriteBool("Auto", true);
    registry.WriteInteger("DelayAutoMin", 60);
    registry.WriteDateTime("HoraAuto", 23.0 / 24.0);
    registry.WriteString("Ruta", "C:\\Año \"x\"");
    const QByteArray expected = "REGEDIT4\r\n"
                                "\r\n"
                                "[HKEY_CURRENT_USER\\Software\\Tolv\\KIVO\\IP\\1.0\\JUXRegs]\r\n"
                                "\"Auto\"=dword:00000001\r\n"
                                "\"DelayAutoMin\"=dword:0000003c\r\n"
                                "\"HoraAuto\"=hex:ab,aa,aa,aa,aa,aa,ee,3f\r\n"
                                "\"Ruta\"=\"C:\\\\A\xf1o \\\"x\\\"\"\r\n"
                                "\r\n";
    QCOMPARE(readAll(path()), expected);
}

void TestRegistry::openKeyCreatesOnlyWhenAsked() {
    TRegistry registry;
    QVERIFY(!registry.OpenKey(kSettingsKey, false));
    QVERIFY(!QFile::exists(path()));
    QVERIFY(registry.OpenKey(kSettingsKey, true));
    QVERIFY(QFile::exists(path()));
    registry.CloseKey();
    QVERIFY(registry.KeyExists(kSettingsKey));
    QVERIFY(registry.OpenKey(kSettingsKey, false));
    QVERIFY(!registry.ValueExists("Auto"));
    // A key without a leading backslash is below the open one.
    QVERIFY(registry.OpenKey("Sub", true));
    QVERIFY(registry.KeyExists(kSettingsKey + "\\Sub"));
}

void TestRegistry::namesIgnoreCase() {
    TRegistry registry;
    QVERIFY(registry.OpenKey(kSettingsKey, true));
    registry.WriteInteger("FTPix", 7);
    registry.WriteInteger("ftpIX", 8);
    registry.CloseKey();
    QVERIFY(registry.OpenKey("\\SOFTWARE\\tolv\\kivo\\ip\\1.0\\juxregs", false));
    QCOMPARE(registry.ReadInteger("FTPIX"), 8);
    QCOMPARE(readAll(path()).count("ftpix"), 0); // the first spelling stays
    QCOMPARE(readAll(path()).count("FTPix"), 1);
}

void TestRegistry::readErrors_data() {
    QTest::addColumn<QString>("reader");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("error");
    const QString absent = "Failed to get data for '%1'";
    const QString type = "Invalid data type for '%1'";
    QTest::newRow("integer absent") << "Integer"
                                    << "Nada" << absent.arg("Nada");
    QTest::newRow("integer of string") << "Integer"
                                       << "Texto" << type.arg("Texto");
    QTest::newRow("integer of binary") << "Integer"
                                       << "Fecha" << type.arg("Fecha");
    QTest::newRow("bool absent") << "Bool"
                                 << "Auto2" << absent.arg("Auto2");
    QTest::newRow("bool of string") << "Bool"
                                    << "Texto" << type.arg("Texto");
    QTest::newRow("string absent is empty") << "String"
                                            << "Nada"
                                            << "";
    QTest::newRow("string of dword") << "String"
                                     << "Num" << type.arg("Num");
    QTest::newRow("string of expand string") << "String"
                                             << "Expand"
                                             << "";
    QTest::newRow("binary absent") << "Binary"
                                   << "Nada" << absent.arg("Nada");
    QTest::newRow("binary of dword") << "Binary"
                                     << "Num" << type.arg("Num");
    QTest::newRow("date-time of 4 bytes") << "DateTime"
                                          << "Corto" << type.arg("Corto");
    QTest::newRow("date-time of dword") << "DateTime"
                                        << "Num" << type.arg("Num");
    QTest::newRow("date-time of multi-string") << "DateTime"
                                               << "Multi" << type.arg("Multi");
    QTest::newRow("date-time absent") << "DateTime"
                                      << "Nada" << absent.arg("Nada");
}

void TestRegistry::readErrors() {
    QFETCH(QString, reader);
    QFETCH(QString, name);
    QFETCH(QString, error);
    writeAll(path(),
             "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Tolv\\KIVO\\IP\\1.0\\JUXRegs]\r\n"
             "\"Texto\"=\"12\"\r\n\"Num\"=dword:00000001\r\n"
             "\"Fecha\"=hex:00,00,00,00,00,00,f0,3f\r\n\"Corto\"=hex:00,00,f0,3f\r\n"
             "\"Expand\"=hex(2):25,54,45,4d,50,25,00\r\n\"Multi\"=hex(7):61,00,00\r\n");
    TRegistry registry;
    QVERIFY(registry.OpenKey(kSettingsKey, false));
    QCOMPARE(readError(registry, reader, name), error);
}

// A file as "regedit /e" writes it on Windows: UTF-16LE with a byte-order mark,
// CR LF, typed hex values and long lists continued over several lines.
void TestRegistry::readsWindowsExport() {
    const QString text = "Windows Registry Editor Version 5.00\r\n\r\n"
                         "; exported by hand\r\n"
                         "[HKEY_CURRENT_USER\\Software\\Other]\r\n"
                         "@=\"default\"\r\n"
                         "\"Path\"=hex(2):25,00,54,00,45,00,4d,00,50,00,25,00,5c,00,e9,00,00,00\r\n"
                         "\"List\"=hex(7):61,00,00,00,62,00,00,00,00,00\r\n"
                         "\"Big\"=hex(b):01,00,00,00,00,00,00,00\r\n\r\n"
                         "[-HKEY_CURRENT_USER\\Software\\Gone]\r\n\r\n"
                         "[HKEY_CURRENT_USER\\Software\\Tolv\\KIVO\\IP\\1.0\\JUXRegs]\r\n"
                         "\"Auto\"=dword:00000000\r\n"
                         "\"DelayAutoMin\"=dword:0000012c\r\n"
                         "\"HoraAuto\"=hex:00,00,00,00,\\\r\n"
                         "  00,00,e0,3f\r\n"
                         "\"ArchivoAuto\"=\"C:\\\\Datos\\\\Año \\\"1\\\"\"\r\n";
    writeAll(path(), utf16Export(text));
    TRegistry registry;
    QVERIFY(registry.OpenKey(kSettingsKey, false));
    QCOMPARE(registry.ReadBool("Auto"), false);
    QCOMPARE(registry.ReadInteger("DelayAutoMin"), 300);
    QCOMPARE(registry.ReadDateTime("HoraAuto"), 0.5);
    QCOMPARE(registry.ReadString("ArchivoAuto"), QString("C:\\Datos\\Año \"1\""));
    QVERIFY(!registry.KeyExists("\\Software\\Gone"));

    // Writing keeps the other key, its typed values and their meaning.
    registry.WriteInteger("FTPix", 3);
    QVERIFY(m_reports.isEmpty());
    TRegistry other;
    QVERIFY(other.OpenKey("\\Software\\Other", false));
    QCOMPARE(other.ReadString(""), QString("default"));
    QCOMPARE(other.ReadString("Path"), QString("%TEMP%\\é"));
    QVERIFY(other.ValueExists("List"));
    QVERIFY(other.ValueExists("Big"));
    QVERIFY(other.OpenKey(kSettingsKey, false));
    QCOMPARE(other.ReadInteger("FTPix"), 3);
    QCOMPARE(other.ReadDateTime("HoraAuto"), 0.5);
}

void TestRegistry::readsUtf8Regedit4() {
    writeAll(path(), "REGEDIT4\n\n[HKEY_CURRENT_USER\\Control Panel\\International]\n"
                     "\"sShortDate\"=\"dd/MM/yyyy\"\n\"sDate\"=\"\xc2\xb7\"\n");
    TRegistry registry;
    QVERIFY(registry.OpenKey("\\Control Panel\\International", false));
    QCOMPARE(registry.ReadString("sDate"), QString("·"));
    QCOMPARE(registry.ReadString("sShortDate"), QString("dd/MM/yyyy"));
}

void TestRegistry::writeKeepsOtherKeys() {
    const QByteArray before = "REGEDIT4\r\n\r\n"
                              "[HKEY_CURRENT_USER\\Software\\A]\r\n"
                              "\"x\"=hex(7):61,00,00\r\n"
                              "\r\n"
                              "[HKEY_CURRENT_USER\\Software\\Tolv\\KIVO\\IP\\1.0\\JUXRegs]\r\n"
                              "\"Auto\"=dword:00000000\r\n"
                              "\r\n"
                              "[HKEY_CURRENT_USER\\Software\\C]\r\n"
                              "@=\"c\"\r\n"
                              "\"y\"=hex(0):\r\n"
                              "\r\n";
    writeAll(path(), before);
    TRegistry registry;
    QVERIFY(registry.OpenKey(kSettingsKey, true));
    registry.WriteBool("Auto", true);
    QByteArray expected = before;
    expected.replace("\"Auto\"=dword:00000000", "\"Auto\"=dword:00000001");
    QCOMPARE(readAll(path()), expected);
}

void TestRegistry::writeReplacesFileWhole() {
    TRegistry registry;
    QVERIFY(registry.OpenKey(kSettingsKey, true));
    registry.WriteInteger("A", 1);
    const QByteArray first = readAll(path());
    // A reader that opened the old file keeps seeing it whole: the new one is
    // renamed over it, not written into it.
    QFile old(path());
    QVERIFY(old.open(QIODevice::ReadOnly));
    registry.WriteString("B", QString(5000, 'x'));
    QCOMPARE(old.readAll(), first);
    QCOMPARE(QDir(QFileInfo(path()).absolutePath()).entryList(QDir::Files | QDir::Hidden),
             QStringList{"registry.reg"});
}

void TestRegistry::invalidFileIsNamedAndKept_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("said"); // the line and what is wrong there
    QTest::newRow("garbage") << QByteArray("esto no es un registro\r\n[a]\r\n")
                             << "línea 1: la primera línea debe ser REGEDIT4";
    QTest::newRow("binary") << QByteArray("REGEDIT4\r\n\x00\x01\x02\xff", 15)
                            << "no es un archivo de texto";
    QTest::newRow("bad dword") << QByteArray(
                                      "REGEDIT4\r\n[HKEY_CURRENT_USER\\K]\r\n\"a\"=dword:zz\r\n")
                               << "línea 3: el dato del valor";
    QTest::newRow("value outside a key") << QByteArray("REGEDIT4\r\n\"a\"=\"b\"\r\n")
                                         << "línea 2: un valor antes de la primera clave";
    QTest::newRow("key without its ]")
        << QByteArray("REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\K\r\n\"a\"=dword:1\r\n")
        << "línea 3: una clave debe terminar en \"]\"";
}

// A file with a typo is never moved nor written over, and what keeps it from
// being used names its line: an administrator puts it right by hand.
void TestRegistry::invalidFileIsNamedAndKept() {
    QFETCH(QByteArray, content);
    QFETCH(QString, said);
    writeAll(path(), content);
    QVERIFY2(TRegistry::fileProblem(path()).contains(said),
             qPrintable(TRegistry::fileProblem(path())));
    TRegistry registry;
    QVERIFY(!registry.OpenKey(kSettingsKey, false));
    QVERIFY(!registry.OpenKey(kSettingsKey, true));
    QVERIFY_THROWS_EXCEPTION(ERegistryException, registry.WriteInteger("FTPix", 0));
    QCOMPARE(readAll(path()), content);
    QVERIFY(asideFiles().isEmpty());
    QVERIFY(m_reports.isEmpty());
}

void TestRegistry::unreadableFileNeverOverwritten_data() {
    QTest::addColumn<bool>("directory");
    QTest::newRow("no read permission") << false;
    QTest::newRow("a directory at the path") << true;
}

void TestRegistry::unreadableFileNeverOverwritten() {
    QFETCH(bool, directory);
    const QByteArray content = "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Tolv\\KIVO\\IP\\1.0\\"
                               "JUXRegs]\r\n\"Auto\"=dword:00000001\r\n";
    writeAll(path(), content);
    TRegistry registry;
    QVERIFY(registry.OpenKey(kSettingsKey, false)); // opened while still readable
    if (directory) {
        QVERIFY(QFile::remove(path()));
        QVERIFY(QDir().mkpath(path()));
    } else {
        QVERIFY(QFile::setPermissions(path(), QFileDevice::WriteOwner));
        if (QFile(path()).open(QIODevice::ReadOnly))
            QSKIP("permissions do not apply to this user (root)");
    }
    try {
        registry.WriteInteger("FTPix", 1);
        QFAIL("a write over an unreadable file succeeded");
    } catch (const ERegistryException& error) {
        QCOMPARE(error.message(), QString("Failed to set data for 'FTPix'"));
    }
    TRegistry other;
    QVERIFY(!other.OpenKey(kSettingsKey, true));
    QVERIFY(!other.OpenKey(kSettingsKey, false));
    QVERIFY(m_reports.isEmpty());
    QCOMPARE(QFileInfo(path()).isDir(), directory);
    if (!directory) {
        QVERIFY(QFile::setPermissions(path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner));
        QCOMPARE(readAll(path()), content);
    }
}

// A write that fails raises with the value's name; what was written before it
// is on disk.
void TestRegistry::failedWriteNamesTheValue() {
    TRegistry registry;
    QVERIFY(registry.OpenKey(kSettingsKey, true));
    registry.WriteInteger("Auto", 1);
    // The directory is replaced by a plain file: no user can write below it.
    const QString dir = QFileInfo(path()).absolutePath();
    QVERIFY(QFile::rename(path(), m_dir->filePath("saved.reg")));
    QVERIFY(QDir(dir).removeRecursively());
    writeAll(dir, "not a directory");
    try {
        registry.WriteInteger("AutoMin", 1);
        QFAIL("the write succeeded");
    } catch (const ERegistryException& error) {
        QCOMPARE(error.message(), QString("Failed to set data for 'AutoMin'"));
    }
    QVERIFY(readAll(m_dir->filePath("saved.reg")).contains("\"Auto\"=dword:00000001"));
    QVERIFY(!TRegistry().OpenKey(kSettingsKey, true));
}

void TestRegistry::textBeyondWindows1252KeepsEveryCharacter_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("unicodeFile");
    QTest::newRow("Windows-1252 text stays REGEDIT4") << QString("/srv/salida/Año €") << false;
    QTest::newRow("Polish letters") << QString("/srv/salida/Łódź") << true;
    QTest::newRow("two lines beyond Windows-1252") << QString("Łódź\r\nKraków") << true;
    // Found by fuzz_registry: the single-byte file read back as UTF-8 ("/srv/é").
    QTest::newRow("Windows-1252 bytes that form UTF-8") << QString("/srv/Ã©") << true;
}

// A value Windows-1252 cannot hold turns the file into the UTF-16 export
// format; what was in the file before keeps its meaning.
void TestRegistry::textBeyondWindows1252KeepsEveryCharacter() {
    QFETCH(QString, text);
    QFETCH(bool, unicodeFile);
    writeAll(path(), "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\A]\r\n"
                     "\"Old\"=hex(1):41,f1,6f,00\r\n\"Count\"=dword:00000007\r\n");
    {
        TRegistry writer;
        QVERIFY(writer.OpenKey(kSettingsKey, true));
        writer.WriteString("FileAuto", text);
    }
    const QByteArray bytes = readAll(path());
    QCOMPARE(bytes.startsWith("\xFF\xFE"), unicodeFile);
    if (!unicodeFile)
        QVERIFY(bytes.startsWith("REGEDIT4\r\n"));
    TRegistry reader;
    QVERIFY(reader.OpenKey(kSettingsKey, false));
    QCOMPARE(reader.ReadString("FileAuto"), text);
    QVERIFY(reader.OpenKey("\\Software\\A", false));
    QCOMPARE(reader.ReadString("Old"), QString("Año"));
    QCOMPARE(reader.ReadInteger("Count"), 7);
    QVERIFY(m_reports.isEmpty());
}

void TestRegistry::exportSpellingsOfDwordAndBinary() {
    writeAll(path(), utf16Export("Windows Registry Editor Version 5.00\r\n\r\n"
                                 "[HKEY_CURRENT_USER\\Software\\Tolv\\KIVO\\IP\\1.0\\JUXRegs]\r\n"
                                 "\"DelayAutoMin\"=hex(4):2c,01,00,00\r\n"
                                 "\"HoraAuto\"=hex(3):00,00,00,00,00,00,e0,3f\r\n"
                                 "\"Odd\"=hex(4):01,02\r\n"));
    TRegistry registry;
    QVERIFY(registry.OpenKey(kSettingsKey, false));
    QCOMPARE(registry.ReadInteger("DelayAutoMin"), 300);
    QCOMPARE(registry.ReadDateTime("HoraAuto"), 0.5);
    // four bytes make a DWORD; anything else is not one
    QCOMPARE(readError(registry, "Integer", "Odd"), QString("Invalid data type for 'Odd'"));
}

// A file the station writes over an unreadable one does not keep its
// permission: the next start must be able to read it. The owner's read right
// means nothing to root, so as root the writing is done by an ordinary user.
void TestRegistry::writtenLinesReadableByTheOwner() {
    QVERIFY(QFile::setPermissions(m_dir->path(), QFileDevice::Permissions(0x7777)));
    const QString file = m_dir->filePath("dbLogin.txt");
    writeAll(file, "garbage");
    QVERIFY(QFile::setPermissions(file, QFileDevice::WriteOwner));
    if (geteuid() == 0) {
        QVERIFY(::chown(QFile::encodeName(file).constData(), kNobody, kNobody) == 0);
        QProcess child;
        child.setChildProcessModifier([] {
            if (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)
                ::_exit(3);
        });
        child.start(QCoreApplication::applicationFilePath(), {kWriteLines, file});
        QVERIFY(child.waitForFinished(30000));
        QCOMPARE(child.exitCode(), 0);
    } else {
        QVERIFY(writeLoginLines(file));
    }
    const QFileDevice::Permissions now = QFile::permissions(file);
    QVERIFY(now.testFlag(QFileDevice::ReadOwner));
    QVERIFY(now.testFlag(QFileDevice::WriteOwner));
    QCOMPARE(readAll(file), QByteArray("USER NAME=JUX\r\npassword=60728\r\n"));
}

// The relay's password makes the settings file its owner's alone, whatever
// the umask and the mode it had; without one it stays shared with the group.
void TestRegistry::settingsWithAPasswordAreTheOwnersAlone_data() {
    QTest::addColumn<QString>("password");
    QTest::addColumn<int>("mode");
    QTest::newRow("relay password") << QStringLiteral("secreto") << 0600;
    QTest::newRow("no password") << QString() << 0660;
}

void TestRegistry::settingsWithAPasswordAreTheOwnersAlone() {
    QFETCH(QString, password);
    QFETCH(int, mode);
    writeAll(path(), "REGEDIT4\r\n");
    QVERIFY(::chmod(QFile::encodeName(path()).constData(), 0660) == 0);
    const mode_t umaskBefore = ::umask(0);
    {
        TRegistry registry;
        QVERIFY(registry.OpenKey(kSettingsKey, true));
        registry.WriteString(QStringLiteral("SmtpServidor"), QStringLiteral("smtp.example.com"));
        registry.WriteString(QStringLiteral("SmtpClave"), password);
    }
    ::umask(umaskBefore);
    struct stat written {};
    QVERIFY(::stat(QFile::encodeName(path()).constData(), &written) == 0);
    QCOMPARE(int(written.st_mode & 07777), mode);
}

// A disk that fills during the save: the final flush fails, the old file stays
// whole. The file size limit stands in for the full disk.
void TestRegistry::fullDiskKeepsTheOldFile() {
    TRegistry registry;
    QVERIFY(registry.OpenKey(kSettingsKey, true));
    registry.WriteInteger("Auto", 1);
    const QByteArray before = readAll(path());
    QString error;
    try {
        FileSizeLimit limit(rlim_t(before.size()));
        registry.WriteString("FileAuto", QString(200, QLatin1Char('x')));
    } catch (const ERegistryException& e) {
        error = e.message();
    }
    QCOMPARE(error, QString("Failed to set data for 'FileAuto'"));
    QCOMPARE(readAll(path()), before);
}

// A group of writes reaches the file in one save at its end; a save that
// fails names the group's first value and leaves the file as it was.
void TestRegistry::groupIsSavedWholeOrNotAtAll() {
    TRegistry registry;
    QVERIFY(registry.OpenKey(kSettingsKey, true));
    registry.WriteInteger("Auto", 1);
    registry.BeginUpdate();
    registry.WriteInteger("FTPix", 7);
    registry.WriteString("FTPloc", "12");
    QVERIFY(!readAll(path()).contains("FTPix")); // nothing written before the end
    registry.EndUpdate();
    QVERIFY(readAll(path()).contains("\"FTPix\"=dword:00000007"));
    QCOMPARE(registry.ReadString("FTPloc"), QString("12"));

    const QByteArray before = readAll(path());
    QString error;
    registry.BeginUpdate();
    registry.WriteInteger("FTPix", 8);
    registry.WriteString("FileAuto", QString(200, QLatin1Char('x')));
    try {
        FileSizeLimit limit(rlim_t(before.size()));
        registry.EndUpdate();
    } catch (const ERegistryException& e) {
        error = e.message();
    }
    QCOMPARE(error, QString("Failed to set data for 'FTPix'"));
    QCOMPARE(readAll(path()), before);
    QCOMPARE(registry.ReadInteger("FTPix"), 7);

    // A group that is never ended writes nothing.
    registry.BeginUpdate();
    registry.WriteInteger("FTPix", 9);
    registry.CloseKey();
    QCOMPARE(readAll(path()), before);
}

int main(int argc, char** argv) {
    if (argc == 3 && qstrcmp(argv[1], kWriteLines) == 0)
        return writeLoginLines(QFile::decodeName(argv[2])) ? 0 : 1;
    QCoreApplication app(argc, argv);
    TestRegistry test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_registry.moc"
