// The pure parts of a point's work: record and count decoding, the output
// line, the parameter message with its CRC, and the settings' recovery values.
#include "collect/ParamMessage.h"
#include "collect/SettingsCodec.h"
#include "collect/Ticket.h"
#include "platform/Registry.h"
#include "platform/TextCodec.h"

#include <QTemporaryDir>
#include <QTest>

Q_DECLARE_METATYPE(RegistroTicket)

namespace {

QByteArray hex(const char* text) {
    return QByteArray::fromHex(text);
}

QString dateTimeText(TDateTime value) {
    const DateTimeParts p = decodeDateTime(value);
    return QString::asprintf("%04d-%02d-%02d %02d:%02d:%02d.%03d", p.year, p.month, p.day, p.hour,
                             p.minute, p.second, p.msec);
}

RegistroTicket record(qint32 codigo, int h, int m, int s, quint16 importe, qint32 cuenta,
                      quint16 ceco, qint32 ticket) {
    RegistroTicket r;
    r.Codigo = codigo;
    r.Importe = importe;
    r.Cuenta = cuenta;
    r.Ceco = ceco;
    r.Ticket = ticket;
    r.FechaHora = encodeDateTime({2024, 3, 5, h, m, s, 0});
    return r;
}

} // namespace

class TestCollectCodec : public QObject {
    Q_OBJECT

private slots:
    void decodesRecords_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("codigo");
        QTest::addColumn<QString>("when");
        QTest::addColumn<int>("importe");
        QTest::addColumn<int>("cuenta");
        QTest::addColumn<int>("ticket");
        QTest::addColumn<int>("ceco");
        QTest::newRow("the documented record")
            << hex("010000003c0000007d000a000000070000000300") << 1 << "1980-01-01 00:01:00.000"
            << 125 << 10 << 7 << 3;
        QTest::newRow("86399 s: last second of the day")
            << hex("000000007f510100000000000000000000000000") << 0 << "1980-01-01 23:59:59.000"
            << 0 << 0 << 0 << 0;
        QTest::newRow("86400 s: next day") << hex("0000000080510100000000000000000000000000") << 0
                                           << "1980-01-02 00:00:00.000" << 0 << 0 << 0 << 0;
        QTest::newRow("FF FF FF FF in every signed field")
            << hex("ffffffff000000000000ffffffffffffffffffff") << -1 << "1980-01-01 00:00:00.000"
            << 0 << -1 << -1 << 65535;
    }
    void decodesRecords() {
        QFETCH(QByteArray, bytes);
        QCOMPARE(bytes.size(), 20);
        const RegistroTicket r = decodeRecord(bytes.constData());
        QTEST(int(r.Codigo), "codigo");
        QTEST(dateTimeText(r.FechaHora), "when");
        QTEST(int(r.Importe), "importe");
        QTEST(int(r.Cuenta), "cuenta");
        QTEST(int(r.Ticket), "ticket");
        QTEST(int(r.Ceco), "ceco");
    }
    void allOnesInSecondsIsIn2116() {
        const QByteArray bytes = hex("00000000ffffffff000000000000000000000000");
        QCOMPARE(decodeDateTime(decodeRecord(bytes.constData()).FechaHora).year, 2116);
    }

    void countFiles_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("count");
        QTest::newRow("empty") << QByteArray() << 0;
        QTest::newRow("00 00") << hex("0000") << 0;
        QTest::newRow("one byte 05") << hex("05") << 5;
        QTest::newRow("2C 01") << hex("2c01") << 300;
        QTest::newRow("FF FF and a stray byte") << hex("ffff07") << 65535;
    }
    void countFiles() {
        QFETCH(QByteArray, bytes);
        QTemporaryDir dir;
        QFile f(dir.filePath("n"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        f.close();
        QTEST(leerCantidad(f.fileName()), "count");
    }
    void missingCountFileRaises() {
        QVERIFY_THROWS_EXCEPTION(Exception, leerCantidad(QStringLiteral("/nonexistent/n")));
    }

    void readsRecordsUpToTheirEnd_data() {
        QTest::addColumn<int>("bytes");
        QTest::addColumn<int>("records");
        QTest::addColumn<bool>("brokenTail");
        QTest::newRow("two whole records") << 40 << 2 << false;
        QTest::newRow("a partial third record") << 49 << 2 << true;
        QTest::newRow("one byte") << 1 << 0 << true;
        QTest::newRow("empty") << 0 << 0 << false;
    }
    void readsRecordsUpToTheirEnd() {
        QFETCH(int, bytes);
        QTemporaryDir dir;
        QFile f(dir.filePath("r"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(bytes, '\1'));
        f.close();
        RecordReader reader(f.fileName());
        RegistroTicket r;
        int n = 0;
        RecordReader::Result result;
        while ((result = reader.leerRegistro(r)) == RecordReader::Result::Record)
            ++n;
        QTEST(n, "records");
        QTEST(result == RecordReader::Result::BrokenTail, "brokenTail");
    }

    void outputLines_data() {
        QTest::addColumn<RegistroTicket>("record");
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("card");
        QTest::addColumn<QChar>("decimal");
        QTest::addColumn<QString>("line");
        const RegistroTicket r = record(123, 7, 30, 15, 125, 1234, 42, 987);
        QTest::newRow("known person")
            << r << "ANA ROJAS" << 5678 << QChar('.')
            << "L01,00123,ANA ROJAS,2024/03/05,07:30:15,12.50,0001234,00042,0005678,000000987";
        QTest::newRow("unknown code")
            << r << "" << 0 << QChar('.')
            << "L01,00123,,2024/03/05,07:30:15,12.50,0001234,00042,0000000,000000987";
        QTest::newRow("Cuenta -5 and a decimal comma")
            << record(123, 7, 30, 15, 5, -5, 42, 987) << "" << 0 << QChar(',')
            << "L01,00123,,2024/03/05,07:30:15,0,50,00000-5,00042,0000000,000000987";
        QTest::newRow("negative code")
            << record(-5, 0, 0, 0, 0, 0, 0, 0) << "" << 0 << QChar('.')
            << "L01,000-5,,2024/03/05,00:00:00,0.00,0000000,00000,0000000,000000000";
    }
    void outputLines() {
        QFETCH(RegistroTicket, record);
        QFETCH(QString, name);
        QFETCH(int, card);
        QFETCH(QChar, decimal);
        QTEST(outputLine(QStringLiteral("L01"), record, {name, card}, decimal), "line");
    }

    void localTimes() {
        const RegistroTicket r = record(1, 10, 27, 45, 0, 0, 0, 0);
        QCOMPARE(dateTimeText(ticketTimeToMinute(r)), QStringLiteral("1899-12-30 10:27:00.000"));
        QCOMPARE(dateTimeText(ticketTimeToSecond(r)), QStringLiteral("1899-12-30 10:27:45.000"));
        QCOMPARE(dateTimeText(ticketDate(r)), QStringLiteral("2024-03-05 00:00:00.000"));
    }

    void crcCheckValues() {
        CrcRegister c;
        c.CalcularCRCString("123456789", 9);
        QCOMPARE(c.crcActual, quint16(0xBB3D));
        CrcRegister bytes;
        for (char ch : QByteArray("123456789"))
            bytes.CalcularCRCByte(static_cast<quint8>(ch));
        QCOMPARE(bytes.crcActual, quint16(0xBB3D));
        CrcRegister abc;
        abc.CalcularCRCString("abc", 3);
        QCOMPARE(abc.crcActual, quint16(0x9738));
        CrcRegister none;
        none.CalcularCRCString("abc", 0);
        none.CalcularCRCString("abc", -1);
        QCOMPARE(none.crcActual, quint16(0));
    }

    void emptyListsAreSixZeroBytes() { QCOMPARE(parameterMessage({}, {}), QByteArray(6, '\0')); }

    void messageFields_data() {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QByteArray>("field");
        QTest::newRow("ANA PAZ") << QByteArray("ANA PAZ")
                                 << QByteArray("ANA PAZ") + QByteArray(23, '\0');
        QTest::newRow("29 bytes: NUL as byte 30")
            << QByteArray(29, 'x') << QByteArray(29, 'x') + QByteArray(1, '\0');
        QTest::newRow("30 bytes: no NUL") << QByteArray(30, 'y') << QByteArray(30, 'y');
        QTest::newRow("40 bytes: cut to 30") << QByteArray(40, 'z') << QByteArray(30, 'z');
        QTest::newRow("Ñ as one byte")
            << QByteArray("\xd1") << QByteArray("\xd1") + QByteArray(29, '\0');
    }
    void messageFields() {
        QFETCH(QByteArray, name);
        QFETCH(QByteArray, field);
        const QByteArray m = parameterMessage({{-2, name, 70000, 123456}}, {{-1, 2, 70000}});
        QCOMPARE(m.size(), 4 + 40 + 6 + 2);
        QCOMPARE(m.left(4), hex("01000100"));
        QCOMPARE(m.mid(4, 4), hex("feffffff"));
        QCOMPARE(m.mid(8, 30), field);
        QCOMPARE(m.mid(38, 2), hex("7011"));
        QCOMPARE(m.mid(40, 4), hex("40e20100"));
        QCOMPARE(m.mid(44, 6), hex("ffff02007011"));
        CrcRegister c;
        c.CalcularCRCString(m, static_cast<int>(m.size()) - 2);
        QCOMPARE(m.right(2), QByteArray(1, char(c.crcActual & 0xFF)) + char(c.crcActual >> 8));
    }
    // A character Windows-1252 cannot hold is written as "?", never dropped.
    void charactersBeyondWindows1252BecomeQuestionMarks() {
        QCOMPARE(toCp1252(QStringLiteral("Łódź € \U0001F695")), QByteArray("?\xf3"
                                                                           "d? \x80 ??"));
    }

    void largestMessage() {
        const QByteArray m =
            parameterMessage(QList<PersonEntry>(kMaxPersonal), QList<CecoEntry>(kMaxCeco));
        QCOMPARE(m.size(), 30906);
    }

    void recoveryValuesRoundTrip() {
        QTemporaryDir dir;
        qputenv("KIVO_REGISTRY", dir.filePath("r.reg").toLocal8Bit());
        StationSettings s;
        s.fFTPerr = true;
        s.FTPloc = QStringLiteral("L07");
        s.recovery.runId = QStringLiteral("6f1c");
        s.recovery.outputPath = QStringLiteral("C:\\datos\\a\tb;c=d.txt");
        s.recovery.outputStart = 5000000000LL;
        s.recovery.appendMark = true;
        s.recovery.skip = 12;
        s.recovery.loc = QStringLiteral("L\t7");
        s.recovery.pending.insert(QStringLiteral("127.0.2.1"),
                                  {QStringLiteral("r1"), 3, QByteArray(32, '\x5a')});
        TRegistry r;
        QVERIFY(r.OpenKey(settingsKey("JUXRegs"), true));
        writeSettings(r, s);
        StationSettings read;
        QStringList unread;
        readRecoveryValues(r, read, unread);
        const RecoveryExtra& e = read.recovery;
        QCOMPARE(e.runId, s.recovery.runId);
        QCOMPARE(e.outputPath, s.recovery.outputPath);
        QCOMPARE(e.loc, s.recovery.loc);
        QCOMPARE(e.pending.value("127.0.2.1").runId, QStringLiteral("r1"));
        QCOMPARE(e.outputStart, s.recovery.outputStart);
        QCOMPARE(e.appendMark, true);
        QCOMPARE(e.skip, 12);
        QCOMPARE(e.pending.value("127.0.2.1").count, 3);
        QCOMPARE(e.pending.value("127.0.2.1").sha256, QByteArray(32, '\x5a'));
        QCOMPARE(read.FTPloc, QStringLiteral("L07"));
    }
    // A key of a station before the recovery values: the eleven load, no run.
    void keyWithoutRecoveryValuesLoads() {
        QTemporaryDir dir;
        qputenv("KIVO_REGISTRY", dir.filePath("r.reg").toLocal8Bit());
        TRegistry r;
        QVERIFY(r.OpenKey(settingsKey("JUXRegs"), true));
        r.WriteBool("Auto", false);
        r.WriteBool("AutoMin", true);
        r.WriteInteger("DelayAutoMin", 60);
        r.WriteDateTime("HoraAuto", 0.5);
        r.WriteString("FileAuto", "a");
        r.WriteString("FileMan", "b");
        r.WriteBool("EraseMan", false);
        r.WriteBool("fFTPerr", true);
        r.WriteString("FTPloc", "L01");
        r.WriteInteger("FTPix", 7);
        r.WriteInteger("FTPtimeOut", 60000);
        StationSettings s;
        SettingsRecord record(s);
        readSettings(r, record);
        QStringList unread;
        readRecoveryValues(r, s, unread);
        QVERIFY(s.fFTPerr);
        QCOMPARE(s.FTPix, 7);
        QVERIFY(s.recovery.runId.isEmpty());
        QVERIFY(s.recovery.pending.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestCollectCodec)
#include "tst_collectcodec.moc"
