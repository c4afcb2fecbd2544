// kivo-import --registry: the station's keys of a Windows registry export
// merged into the registry file, read back as the station reads them.
#include "ErrorOf.h"
#include "RegistryMerge.h"
#include "platform/DateTime.h"
#include "platform/Registry.h"

#include <QDir>
#include <QFile>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>
#include <cstring>
#include <sys/stat.h>

namespace {

const QString kJux = QStringLiteral("\\Software\\Tolv\\KIVO\\IP\\1.0\\JUXRegs");

QString hexList(const QByteArray& bytes) {
    QStringList parts;
    for (const char byte : bytes)
        parts << QStringLiteral("%1").arg(quint8(byte), 2, 16, QLatin1Char('0'));
    return parts.join(QLatin1Char(','));
}

QByteArray utf16(const QString& text) {
    QStringEncoder encoder(QStringEncoder::Utf16LE);
    return encoder.encode(text);
}

// What regedit writes on Windows: UTF-16LE with a byte-order mark, CR LF.
QByteArray windowsExport(const QStringList& lines) {
    QStringEncoder encoder(QStringEncoder::Utf16LE, QStringEncoder::Flag::WriteBom);
    return encoder.encode(lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n"));
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

QByteArray fileBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestImportRegistry : public QObject {
    Q_OBJECT

private slots:
    void init() {
        QVERIFY(m_dir.isValid());
        m_registry = m_dir.filePath(QStringLiteral("registry.reg"));
        m_export = m_dir.filePath(QStringLiteral("old.reg"));
        qputenv("KIVO_REGISTRY", m_registry.toLocal8Bit());
        QFile::remove(m_registry);
        for (const QString& name : QDir(m_dir.path()).entryList({QStringLiteral("*.bak*")}))
            QFile::remove(m_dir.filePath(name));
    }

    void stationKeysReplaceTheirValuesOthersAreKept() {
        {
            TRegistry existing;
            QVERIFY(existing.OpenKey(kJux, true));
            existing.WriteInteger(QStringLiteral("FTPix"), 7);
            existing.WriteBool(QStringLiteral("Auto"), false);
            QVERIFY(existing.OpenKey(QStringLiteral("\\Software\\Keep"), true));
            existing.WriteString(QStringLiteral("K"), QStringLiteral("v"));
        }
        const double horaAuto = encodeTime(22, 30, 0);
        QByteArray horaBytes(8, '\0');
        std::memcpy(horaBytes.data(), &horaAuto, 8); // the platform is little-endian, as the file
        writeFile(m_export,
                  windowsExport({
                      QStringLiteral("Windows Registry Editor Version 5.00"),
                      QString(),
                      QStringLiteral("[HKEY_CURRENT_USER\\Software\\Tolv\\KIVO\\IP\\1.0\\JUXRegs]"),
                      QStringLiteral("\"Auto\"=dword:00000001"),
                      QStringLiteral("\"HoraAuto\"=hex:") + hexList(horaBytes),
                      QStringLiteral("\"FileAuto\"=\"C:\\\\KIVO\\\\Descarga Ñandú\""),
                      QStringLiteral("\"FTPloc\"=hex(2):") +
                          hexList(utf16(QStringLiteral("PLANTA Ñ")) + QByteArray(2, '\0')),
                      QString(),
                      QStringLiteral("[HKEY_CURRENT_USER\\Software\\Tolv\\KIVO\\IP\\1.0\\OTRO]"),
                      QStringLiteral("\"DelayAutoMin\"=dword:0000003c"),
                      QString(),
                      QStringLiteral("[HKEY_CURRENT_USER\\Control Panel\\International]"),
                      QStringLiteral("\"sShortDate\"=\"dd/MM/yyyy\""),
                      QStringLiteral("\"sDecimal\"=\",\""),
                      QString(),
                      QStringLiteral("[HKEY_CURRENT_USER\\Software\\Other]"),
                      QStringLiteral("\"X\"=\"y\""),
                  }));
        const RegistryMergeReport report = mergeRegistryExport(m_export, m_registry);
        QVERIFY2(report.ok(), qPrintable(report.text()));
        QCOMPARE(report.merged.size(), 3);
        QVERIFY2(report.text().contains(QStringLiteral("valores no tomados: FTPloc")),
                 qPrintable(report.text()));
        QVERIFY(report.text().contains(QStringLiteral("queda como está (FTPix = 7)")));

        TRegistry reg;
        QVERIFY(reg.OpenKey(kJux, false));
        QCOMPARE(reg.ReadBool(QStringLiteral("Auto")), true);
        QCOMPARE(reg.ReadInteger(QStringLiteral("FTPix")), 7);
        QCOMPARE(reg.ReadDateTime(QStringLiteral("HoraAuto")), horaAuto);
        QCOMPARE(reg.ReadString(QStringLiteral("FileAuto")),
                 QStringLiteral("C:\\KIVO\\Descarga Ñandú"));
        // The other station's recovery state is not carried: this one had none.
        QVERIFY(!reg.ValueExists(QStringLiteral("FTPloc")));
        QVERIFY(reg.OpenKey(QStringLiteral("\\Software\\Tolv\\KIVO\\IP\\1.0\\OTRO"), false));
        QCOMPARE(reg.ReadInteger(QStringLiteral("DelayAutoMin")), 60);
        QVERIFY(reg.OpenKey(QStringLiteral("\\Control Panel\\International"), false));
        QCOMPARE(reg.ReadString(QStringLiteral("sShortDate")), QStringLiteral("dd/MM/yyyy"));
        QVERIFY(reg.OpenKey(QStringLiteral("\\Software\\Keep"), false));
        QCOMPARE(reg.ReadString(QStringLiteral("K")), QStringLiteral("v"));
        QVERIFY(!reg.KeyExists(QStringLiteral("\\Software\\Other")));
    }

    // Issue 14 item 5: a merge never brings another station's recovery state;
    // this station's own stays exactly as it was, and the output says so.
    void recoveryStateStaysTheStationsOwn() {
        const QString mineRun = QStringLiteral("run-mine\t0\t0\t0\t4\tMINE/var/out.txt");
        {
            TRegistry existing;
            QVERIFY(existing.OpenKey(kJux, true));
            existing.WriteBool(QStringLiteral("fFTPerr"), true);
            existing.WriteString(QStringLiteral("FTPloc"), QStringLiteral("MINE"));
            existing.WriteInteger(QStringLiteral("FTPix"), 2);
            existing.WriteString(QStringLiteral("FTPrun"), mineRun);
            existing.WriteBool(QStringLiteral("Auto"), false);
        }
        writeFile(m_export,
                  QByteArray("REGEDIT4\r\n\r\n"
                             "[HKEY_CURRENT_USER\\Software\\Tolv\\KIVO\\IP\\1.0\\JUXRegs]\r\n"
                             "\"Auto\"=dword:00000001\r\n"
                             "\"fFTPerr\"=dword:00000001\r\n"
                             "\"FTPloc\"=\"PLANTA 7\"\r\n"
                             "\"FTPix\"=dword:00000005\r\n"
                             "\"FTPrun\"=\"run-other\\t0\\t0\\t0\\t8\\tPLANTA 7C:/out.txt\"\r\n"
                             "\"FTPpend\"=\"10.0.0.7=3:00:run-other\"\r\n"));
        const RegistryMergeReport report = mergeRegistryExport(m_export, m_registry);
        QVERIFY2(report.ok(), qPrintable(report.text()));
        const QString text = report.text();
        QVERIFY2(text.contains(
                     QStringLiteral("valores no tomados: fFTPerr, FTPloc, FTPix, FTPrun, FTPpend")),
                 qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral("descarga sin terminar (Loc: \"PLANTA 7\")")),
                 qPrintable(text));
        QVERIFY(text.contains(QStringLiteral("no se trasladan")));
        QVERIFY2(text.contains(QStringLiteral("el de esta estación queda como está (fFTPerr = 1, "
                                              "FTPloc = \"MINE\", FTPix = 2, FTPrun = ")),
                 qPrintable(text));

        TRegistry reg;
        QVERIFY(reg.OpenKey(kJux, false));
        QCOMPARE(reg.ReadBool(QStringLiteral("Auto")), true);
        QCOMPARE(reg.ReadBool(QStringLiteral("fFTPerr")), true);
        QCOMPARE(reg.ReadString(QStringLiteral("FTPloc")), QStringLiteral("MINE"));
        QCOMPARE(reg.ReadInteger(QStringLiteral("FTPix")), 2);
        QCOMPARE(reg.ReadString(QStringLiteral("FTPrun")), mineRun);
        // Absent here before, absent after.
        QVERIFY(!reg.ValueExists(QStringLiteral("FTPpend")));
    }

    void valuesOfTheWrongTypeMergeNothing_data() {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("expected");
        QTest::newRow("Auto as text") << QByteArray("\"Auto\"=\"1\"") << "\"Auto\" es \"1\"";
        QTest::newRow("HoraAuto as a number")
            << QByteArray("\"HoraAuto\"=dword:00000001") << "\"HoraAuto\" es 1";
        QTest::newRow("FileAuto as a number")
            << QByteArray("\"FileAuto\"=dword:00000001") << "\"FileAuto\" es 1";
        QTest::newRow("HoraAuto of 4 bytes")
            << QByteArray("\"HoraAuto\"=hex:00,00,00,00") << "una hora del día";
    }
    void valuesOfTheWrongTypeMergeNothing() {
        QFETCH(QByteArray, line);
        QFETCH(QString, expected);
        {
            TRegistry existing;
            QVERIFY(existing.OpenKey(kJux, true));
            existing.WriteBool(QStringLiteral("Auto"), false);
        }
        const QByteArray before = fileBytes(m_registry);
        writeFile(m_export,
                  "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Tolv\\KIVO\\IP\\1.0\\JUXRegs]\r\n"
                  "\"DelayAutoMin\"=dword:0000003c\r\n" +
                      line + "\r\n");
        const RegistryMergeReport report = mergeRegistryExport(m_export, m_registry);
        QVERIFY(!report.ok());
        QVERIFY2(report.text().contains(expected), qPrintable(report.text()));
        QVERIFY(report.text().contains(QStringLiteral("no se combinó nada")));
        QCOMPARE(fileBytes(m_registry), before);
        QVERIFY(!QFile::exists(m_registry + QStringLiteral(".bak")));
    }

    void aliasNotInUseIsWarnedOf() {
        writeFile(m_export,
                  QByteArray("REGEDIT4\r\n\r\n"
                             "[HKEY_CURRENT_USER\\Software\\Tolv\\KIVO\\IP\\1.0\\OTRO]\r\n"
                             "\"Auto\"=dword:00000001\r\n"));
        RegistryMergeOptions options;
        options.serverAlias = QStringLiteral("JUXRegs");
        const RegistryMergeReport report = mergeRegistryExport(m_export, m_registry, options);
        QVERIFY(report.ok());
        QCOMPARE(report.warnings.size(), 1);
        QVERIFY2(report.text().contains(QStringLiteral("'JUXRegs'")), qPrintable(report.text()));
        QVERIFY(report.text().contains(QStringLiteral("claves combinadas: OTRO")));
        options.serverAlias = QStringLiteral("otro"); // names match without regard to case
        QVERIFY(mergeRegistryExport(m_export, m_registry, options).warnings.isEmpty());
    }

    void changesArePrintedAndTheFileAsItWasIsKept() {
        {
            TRegistry existing;
            QVERIFY(existing.OpenKey(kJux, true));
            existing.WriteBool(QStringLiteral("Auto"), false);
            existing.WriteInteger(QStringLiteral("DelayAutoMin"), 60);
        }
        const QByteArray before = fileBytes(m_registry);
        writeFile(m_export,
                  QByteArray("REGEDIT4\r\n\r\n"
                             "[HKEY_CURRENT_USER\\Software\\Tolv\\KIVO\\IP\\1.0\\JUXRegs]\r\n"
                             "\"Auto\"=dword:00000001\r\n"
                             "\"DelayAutoMin\"=dword:0000003c\r\n"
                             "\"FileAuto\"=\"C:\\\\KIVO\"\r\n"
                             "\"HoraAuto\"=hex:00,00,00,00,00,00,d8,3f\r\n"));
        // A check writes nothing.
        RegistryMergeOptions check;
        check.write = false;
        const RegistryMergeReport checked = mergeRegistryExport(m_export, m_registry, check);
        QVERIFY(checked.ok());
        QVERIFY(!checked.written);
        QCOMPARE(fileBytes(m_registry), before);
        QVERIFY(checked.backup.isEmpty());

        const mode_t umaskBefore = ::umask(0);
        const RegistryMergeReport report = mergeRegistryExport(m_export, m_registry);
        ::umask(umaskBefore);
        QVERIFY2(report.ok(), qPrintable(report.text()));
        const QString text = report.text();
        QVERIFY2(text.contains(QStringLiteral("Auto: 0 -> 1")), qPrintable(text));
        QVERIFY(text.contains(QStringLiteral("DelayAutoMin: 60 (sin cambio)")));
        QVERIFY(text.contains(QStringLiteral("FileAuto: (ninguno) -> \"C:\\KIVO\"")));
        QVERIFY2(text.contains(QStringLiteral("HoraAuto: (ninguno) -> 09:00:00")),
                 qPrintable(text));
        QCOMPARE(report.backup, m_registry + QStringLiteral(".bak"));
        QVERIFY(text.contains(report.backup));
        QCOMPARE(fileBytes(report.backup), before);
        // The copy may hold the relay's password: its owner's alone, whatever the umask.
        QCOMPARE(QFile::permissions(report.backup),
                 QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
        // A second merge keeps the first copy and makes another.
        const QByteArray merged = fileBytes(m_registry);
        const RegistryMergeReport again = mergeRegistryExport(m_export, m_registry);
        QCOMPARE(again.backup, m_registry + QStringLiteral(".bak2"));
        QCOMPARE(fileBytes(m_registry + QStringLiteral(".bak")), before);
        QCOMPARE(fileBytes(again.backup), merged);
        QFile::remove(m_registry + QStringLiteral(".bak"));
        QFile::remove(m_registry + QStringLiteral(".bak2"));
    }

    void exportsWithoutStationKeysChangeNothing_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("expected");
        QTest::newRow("other keys only")
            << windowsExport({"Windows Registry Editor Version 5.00", "",
                              "[HKEY_CURRENT_USER\\Software\\Other]", "\"X\"=\"y\""})
            << "no contiene configuración de la estación";
        QTest::newRow("the root without an alias")
            << QByteArray("REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Tolv\\KIVO\\IP\\1.0\\]\r\n"
                          "\"Auto\"=dword:00000001\r\n")
            << "no contiene configuración de la estación";
        QTest::newRow("not a registry file")
            << QByteArray("\x89PNG\r\n\x1a\n rubbish", 16) << "no es una exportación del registro";
    }
    void exportsWithoutStationKeysChangeNothing() {
        QFETCH(QByteArray, content);
        QFETCH(QString, expected);
        {
            TRegistry existing;
            QVERIFY(existing.OpenKey(kJux, true));
            existing.WriteInteger(QStringLiteral("FTPix"), 7);
        }
        const QByteArray before = fileBytes(m_registry);
        writeFile(m_export, content);
        const RegistryMergeReport report = mergeRegistryExport(m_export, m_registry);
        QVERIFY(!report.ok());
        QVERIFY2(report.text().contains(expected), qPrintable(report.text()));
        QCOMPARE(fileBytes(m_registry), before);
    }

private:
    QTemporaryDir m_dir;
    QString m_registry;
    QString m_export;
};

QTEST_GUILESS_MAIN(TestImportRegistry)
#include "tst_importregistry.moc"
