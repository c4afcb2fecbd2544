// kivo-import --registry: the station's keys of a Windows registry export
// merged into the registry file, read back as the station reads them.
#include "ErrorOf.h"
#include "RegistryMerge.h"
#include "platform/DateTime.h"
#include "platform/Registry.h"

#include <QFile>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>
#include <cstring>

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

        TRegistry reg;
        QVERIFY(reg.OpenKey(kJux, false));
        QCOMPARE(reg.ReadBool(QStringLiteral("Auto")), true);
        QCOMPARE(reg.ReadInteger(QStringLiteral("FTPix")), 7);
        QCOMPARE(reg.ReadDateTime(QStringLiteral("HoraAuto")), horaAuto);
        QCOMPARE(reg.ReadString(QStringLiteral("FileAuto")),
                 QStringLiteral("C:\\KIVO\\Descarga Ñandú"));
        QCOMPARE(reg.ReadString(QStringLiteral("FTPloc")), QStringLiteral("PLANTA Ñ"));
        QVERIFY(reg.OpenKey(QStringLiteral("\\Software\\Tolv\\KIVO\\IP\\1.0\\OTRO"), false));
        QCOMPARE(reg.ReadInteger(QStringLiteral("DelayAutoMin")), 60);
        QVERIFY(reg.OpenKey(QStringLiteral("\\Control Panel\\International"), false));
        QCOMPARE(reg.ReadString(QStringLiteral("sShortDate")), QStringLiteral("dd/MM/yyyy"));
        QVERIFY(reg.OpenKey(QStringLiteral("\\Software\\Keep"), false));
        QCOMPARE(reg.ReadString(QStringLiteral("K")), QStringLiteral("v"));
        QVERIFY(!reg.KeyExists(QStringLiteral("\\Software\\Other")));
    }

    void exportsWithoutStationKeysChangeNothing_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("expected");
        QTest::newRow("other keys only")
            << windowsExport({"Windows Registry Editor Version 5.00", "",
                              "[HKEY_CURRENT_USER\\Software\\Other]", "\"X\"=\"y\""})
            << "holds no settings of the station";
        QTest::newRow("the root without an alias")
            << QByteArray("REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Tolv\\KIVO\\IP\\1.0\\]\r\n"
                          "\"Auto\"=dword:00000001\r\n")
            << "holds no settings of the station";
        QTest::newRow("not a registry file")
            << QByteArray("\x89PNG\r\n\x1a\n rubbish", 16) << "is not a registry export";
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
