// Data sets on the embedded databases: field types, navigation, writing.
#include "StoreFixture.h"
#include "platform/Regional.h"
#include "store/Session.h"

#include <QSqlQuery>
#include <QTest>
#include <memory>

namespace {

enum class As { Text, Integer, Float, Logical, DateTime };

TDateTime dt(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
    return encodeDateTime({y, mo, d, h, mi, s, ms});
}

} // namespace

Q_DECLARE_METATYPE(As)

class TestDataSet : public QObject {
    Q_OBJECT

private slots:
    void init() { m_world = std::make_unique<StoreWorld>(); }
    void cleanup() { m_world.reset(); }

    void roundTrip_data() {
        QTest::addColumn<QString>("alias");
        QTest::addColumn<QString>("table");
        QTest::addColumn<QString>("field");
        QTest::addColumn<As>("as");
        QTest::addColumn<QVariant>("value");
        const QString local = QStringLiteral("KIVO_1"), server = QStringLiteral("JUXRegs");
        QTest::newRow("date") << local << "log.DB"
                              << "Fecha" << As::DateTime << QVariant(dt(2026, 12, 8));
        QTest::newRow("time with seconds")
            << local << "lecturaBAK.db"
            << "Hora" << As::DateTime << QVariant(encodeTime(10, 27, 45));
        QTest::newRow("date-time to the second")
            << server << "dbo.tickettaxis"
            << "FECHA" << As::DateTime << QVariant(dt(2026, 3, 5, 23, 59, 59));
        QTest::newRow("date-time with milliseconds")
            << server << "dbo.tickettaxis"
            << "FECHA" << As::DateTime << QVariant(dt(2026, 3, 5, 1, 2, 3, 456));
        QTest::newRow("logical true") << local << "personal.DBF"
                                      << "SERV_TAXI" << As::Logical << QVariant(true);
        QTest::newRow("logical false") << local << "confRegIP.db"
                                       << "Activo" << As::Logical << QVariant(false);
        QTest::newRow("float 12.5") << server << "dbo.tickettaxis"
                                    << "IMPORTE" << As::Float << QVariant(12.5);
        QTest::newRow("integer 65535") << local << "lectura.DB"
                                       << "Loc" << As::Integer << QVariant(65535);
        QTest::newRow("negative integer") << local << "ceco.DBF"
                                          << "OVERTIME" << As::Integer << QVariant(-7);
        QTest::newRow("text with accents")
            << local << "log.DB"
            << "Archivo" << As::Text << QVariant(QStringLiteral("Conexión a Ñuñoa: FALLO"));
        QTest::newRow("text of a keyword column")
            << local << "confRegIP.db"
            << "Desc" << As::Text << QVariant(QStringLiteral("Portería"));
    }
    void roundTrip() {
        QFETCH(QString, alias);
        QFETCH(QString, table);
        QFETCH(QString, field);
        QFETCH(As, as);
        QFETCH(QVariant, value);
        TTable t;
        t.DatabaseName = alias;
        t.TableName = table;
        t.Open();
        t.Append();
        write(t.FieldByName(field), as, value);
        t.Post();
        t.Close();
        t.Open();
        QCOMPARE(t.RecordCount(), 1);
        t.First();
        QCOMPARE(read(t.FieldByName(field), as), value);
        QVERIFY(!t.FieldByName(field).IsNull());
    }

    void nullFieldsReadAsEmpty() {
        TTable t = localTable(QStringLiteral("log.DB"));
        t.Append();
        t.FieldByName(QStringLiteral("Fecha")).setAsDateTime(dt(2026, 1, 2));
        t.Post();
        t.First();
        QVERIFY(t.FieldByName(QStringLiteral("NroRegAsist")).IsNull());
        QCOMPARE(t.FieldByName(QStringLiteral("NroRegAsist")).AsInteger(), 0);
        QCOMPARE(t.FieldByName(QStringLiteral("Archivo")).AsString(), QString());
        QCOMPARE(t.FieldByName(QStringLiteral("Hora")).AsDateTime(), 0.0);
    }

    void dateTimeTextsFollowTheRegionalSettings_data() {
        QTest::addColumn<QString>("field");
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("expected");
        const double date = dt(2026, 12, 8), time = encodeTime(10, 27, 45);
        QTest::newRow("date field: date only") << "Fecha" << date << DateToStr(date);
        QTest::newRow("time field: time only") << "Hora" << time << TimeToStr(time);
    }
    void dateTimeTextsFollowTheRegionalSettings() {
        QFETCH(QString, field);
        QFETCH(double, value);
        QFETCH(QString, expected);
        TTable t = localTable(QStringLiteral("log.DB"));
        t.Append();
        t.FieldByName(field).setAsDateTime(value);
        t.Post();
        t.First();
        QCOMPARE(t.FieldByName(field).AsString(), expected);
    }

    void logRowsWithinOneSecondKeptInOrder() {
        TTable t = localTable(QStringLiteral("log.DB"));
        const QStringList texts = {"BUE1: Sinc. OK", "BUE1: Sinc. OK", "FTP: FALLO!"};
        for (const QString& text : texts) {
            t.Append();
            t.FieldByName(QStringLiteral("Fecha")).setAsDateTime(dt(2026, 12, 8));
            t.FieldByName(QStringLiteral("Hora")).setAsDateTime(encodeTime(23, 0, 2));
            t.FieldByName(QStringLiteral("Archivo")).setAsString(text);
            t.Post();
        }
        QStringList read;
        for (t.First(); !t.Eof(); t.Next())
            read << t.FieldByName(QStringLiteral("Archivo")).AsString();
        QCOMPARE(read, texts);
    }

    void navigation() {
        TTable t = localTable(QStringLiteral("ceco.DBF"));
        QVERIFY(t.Eof());
        QCOMPARE(t.RecNo(), 0);
        for (int code : {10, 20, 30}) {
            t.Append();
            t.FieldByName(QStringLiteral("CECO")).setAsInteger(code);
            t.Post();
        }
        QCOMPARE(t.RecordCount(), 3);
        QCOMPARE(t.Fields(0).AsInteger(), 30); // a posted row is the current one
        t.First();
        QVERIFY(t.Bof() && !t.Eof());
        t.Next();
        QCOMPARE(t.RecNo(), 2);
        t.Last();
        QVERIFY(t.Eof());
        QCOMPARE(t.Fields(0).AsInteger(), 30);
        t.Next();
        QCOMPARE(t.Fields(0).AsInteger(), 30);
        t.Prior();
        QCOMPARE(t.Fields(0).AsInteger(), 20);
    }

    void editAndDeleteReachOneOfEqualRows() {
        TTable t = localTable(QStringLiteral("ceco.DBF"));
        for (int i = 0; i < 3; ++i) {
            t.Append();
            t.FieldByName(QStringLiteral("CECO")).setAsInteger(7);
            t.Post();
        }
        t.First();
        t.Next();
        t.Edit();
        t.FieldByName(QStringLiteral("VIAJES")).setAsInteger(9);
        t.Post();
        QCOMPARE(t.FieldByName(QStringLiteral("VIAJES")).AsInteger(), 9);
        t.First();
        t.Delete();
        QCOMPARE(t.RecordCount(), 2);
        QList<int> trips;
        for (t.First(); !t.Eof(); t.Next())
            trips << t.FieldByName(QStringLiteral("VIAJES")).AsInteger();
        QCOMPARE(trips, QList<int>({9, 0}));
    }

    // A row that cannot be written must never be dropped without a word.
    void failedPostRaisesAndKeepsTheRow() {
        TTable t = localTable(QStringLiteral("log.DB"));
        QSqlQuery drop(m_world->session.connectionFor(QStringLiteral("KIVO_1")));
        QVERIFY(drop.exec(QStringLiteral("DROP TABLE log")));
        t.Append();
        t.FieldByName(QStringLiteral("Archivo")).setAsString(QStringLiteral("x"));
        try {
            t.Post();
            QFAIL("Post did not raise");
        } catch (const EDatabaseError& error) {
            QVERIFY2(error.message().contains(QStringLiteral("log.DB")),
                     qPrintable(error.message()));
        }
        QCOMPARE(t.FieldByName(QStringLiteral("Archivo")).AsString(), QStringLiteral("x"));
    }

    void misuseRaises_data() {
        QTest::addColumn<int>("misuse");
        QTest::newRow("unknown field") << 0;
        QTest::newRow("set a field while browsing") << 1;
        QTest::newRow("append to a query") << 2;
        QTest::newRow("text read as an integer") << 3;
    }
    void misuseRaises() {
        QFETCH(int, misuse);
        TTable t = localTable(QStringLiteral("log.DB"));
        t.Append();
        t.FieldByName(QStringLiteral("Archivo")).setAsString(QStringLiteral("abc"));
        t.Post();
        TQuery q;
        q.DatabaseName = QStringLiteral("KIVO_1");
        q.SQL << QStringLiteral("select * from log.db");
        q.Open();
        switch (misuse) {
        case 0:
            QVERIFY_THROWS_EXCEPTION(EDatabaseError, t.FieldByName(QStringLiteral("Nope")));
            break;
        case 1:
            QVERIFY_THROWS_EXCEPTION(EDatabaseError,
                                     t.FieldByName(QStringLiteral("Archivo")).setAsString({}));
            break;
        case 2:
            QVERIFY_THROWS_EXCEPTION(EDatabaseError, q.Append());
            break;
        case 3:
            QVERIFY_THROWS_EXCEPTION(EDatabaseError,
                                     t.FieldByName(QStringLiteral("Archivo")).AsInteger());
            break;
        }
    }

private:
    TTable localTable(const QString& name) {
        TTable t;
        t.DatabaseName = QStringLiteral("KIVO_1");
        t.TableName = name;
        t.Open();
        return t;
    }

    static void write(TField field, As as, const QVariant& value) {
        switch (as) {
        case As::Text:
            return field.setAsString(value.toString());
        case As::Integer:
            return field.setAsInteger(value.toInt());
        case As::Float:
            return field.setAsFloat(value.toDouble());
        case As::Logical:
            return field.setAsBoolean(value.toBool());
        case As::DateTime:
            return field.setAsDateTime(value.toDouble());
        }
    }

    static QVariant read(const TField& field, As as) {
        switch (as) {
        case As::Text:
            return field.AsString();
        case As::Integer:
            return field.AsInteger();
        case As::Float:
            return field.AsFloat();
        case As::Logical:
            return field.AsBoolean();
        case As::DateTime:
            return field.AsDateTime();
        }
        return {};
    }

    std::unique_ptr<StoreWorld> m_world;
};

QObject* newDataSetTests() {
    return new TestDataSet;
}

#include "tst_dataset.moc"
