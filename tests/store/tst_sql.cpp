// The station's SQL texts, as they stand, on the embedded databases.
#include "StoreFixture.h"
#include "store/Session.h"
#include "store/SqlDialect.h"

#include <QTest>
#include <memory>

using Driver = AliasDefinition::Driver;
Q_DECLARE_METATYPE(Driver)

class TestSql : public QObject {
    Q_OBJECT

private slots:
    void init() { m_world = std::make_unique<StoreWorld>(); }
    void cleanup() { m_world.reset(); }

    void translation_data() {
        QTest::addColumn<Driver>("driver");
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QString>("expected");
        const Driver lite = Driver::Sqlite;
        QTest::newRow("file names, any case, outside quotes only")
            << lite << "select * from personal.DBF, LECTURA.db where x = 'a.db'"
            << "select * from personal, LECTURA where x = 'a.db'";
        QTest::newRow("quoted texts untouched")
            << lite << "where Archivo = 'lectura.DB dbo.x' and \"ceco.dbf\" = 1"
            << "where Archivo = 'lectura.DB dbo.x' and \"ceco.dbf\" = 1";
        QTest::newRow("not a date: left alone") << lite << "where ORIGEN = '20241399 00:00:00'"
                                                << "where ORIGEN = '20241399 00:00:00'";
        QTest::newRow("escaped quote") << lite << "where Archivo = 'it''s a.db' or x.db = 1"
                                       << "where Archivo = 'it''s a.db' or x = 1";
    }
    void translation() {
        QFETCH(Driver, driver);
        QFETCH(QString, sql);
        QFETCH(QString, expected);
        QCOMPARE(translateSql(sql, driver), expected);
    }

    void personnelTexts_data() {
        QTest::addColumn<QStringList>("sql");
        QTest::addColumn<QList<int>>("codes");
        const QString all = QStringLiteral("select * from personal.dbf");
        QTest::newRow("one person by code")
            << QStringList{all, "where CODIGO = 12;"} << QList<int>{12};
        QTest::newRow("unknown code") << QStringList{all, "where CODIGO = 99;"} << QList<int>{};
        QTest::newRow("taxi service")
            << QStringList{all, "where SERV_TAXI = TRUE;"} << QList<int>{12, 14};
        QTest::newRow("all") << QStringList{all} << QList<int>{12, 13, 14};
    }
    void personnelTexts() {
        QFETCH(QStringList, sql);
        QFETCH(QList<int>, codes);
        fillPersonnel();
        TQuery q;
        q.DatabaseName = QStringLiteral("KIVO_1");
        q.SQL = sql;
        q.Open();
        QList<int> read;
        for (q.First(); !q.Eof(); q.Next())
            read << q.FieldByName(QStringLiteral("CODIGO")).AsInteger();
        QCOMPARE(read, codes);
        QCOMPARE(q.RecordCount(), codes.size());
    }

    void personLookedUpWithNameAndCard() {
        fillPersonnel();
        TQuery q;
        q.DatabaseName = QStringLiteral("KIVO_1");
        q.SQL << QStringLiteral("select * from personal.dbf")
              << QStringLiteral("where CODIGO = 14;");
        q.Open();
        QCOMPARE(q.FieldByName(QStringLiteral("NOMBRES")).AsString() + QLatin1Char(' ') +
                     q.FieldByName(QStringLiteral("APELLIDOS")).AsString(),
                 QStringLiteral("Eva Ríos"));
        QCOMPARE(q.FieldByName(QStringLiteral("TARJETA")).AsInteger(), 1003);
        QCOMPARE(q.FieldByName(QStringLiteral("GRUPO")).AsInteger(), 1);
    }

    void costCentres() {
        TTable t;
        t.DatabaseName = QStringLiteral("KIVO_1");
        t.TableName = QStringLiteral("ceco.DBF");
        t.Open();
        for (int code : {5, 6}) {
            t.Append();
            t.FieldByName(QStringLiteral("CECO")).setAsInteger(code);
            t.FieldByName(QStringLiteral("OVERTIME")).setAsInteger(code * 10);
            t.FieldByName(QStringLiteral("VIAJES")).setAsInteger(code * 100);
            t.Post();
        }
        TQuery q;
        q.DatabaseName = QStringLiteral("KIVO_1");
        q.SQL << QStringLiteral("select * from ceco.dbf;");
        q.Open();
        QCOMPARE(q.RecordCount(), 2);
        q.Last();
        QCOMPARE(q.FieldByName(QStringLiteral("VIAJES")).AsInteger(), 600);
    }

    void badSqlRaisesOnOpen() {
        TQuery q;
        q.DatabaseName = QStringLiteral("KIVO_1");
        q.SQL << QStringLiteral("select * from nothere.dbf");
        QVERIFY_THROWS_EXCEPTION(EDatabaseError, q.Open());
        QVERIFY(!q.Active());
    }

    void dateRangeOnSqlite() { checkDateRange(QStringLiteral("JUXRegs"), QStringLiteral("lite-")); }

    void ownerQualifiedAndBareNameSameTable() {
        TTable qualified;
        qualified.DatabaseName = QStringLiteral("JUXRegs");
        qualified.TableName = QStringLiteral("dbo.tickettaxis");
        qualified.Open();
        appendTicket(qualified, {QStringLiteral("X1"), encodeDate(2026, 1, 1), 1.5, 42});
        TTable bare;
        bare.DatabaseName = QStringLiteral("JUXRegs");
        bare.TableName = QStringLiteral("tickettaxis");
        bare.Open();
        QCOMPARE(bare.RecordCount(), 1);
        QCOMPARE(bare.FieldByName(QStringLiteral("LEGAJO")).AsInteger(), 42);
    }

private:
    void fillPersonnel() {
        TTable t;
        t.DatabaseName = QStringLiteral("KIVO_1");
        t.TableName = QStringLiteral("personal.DBF");
        t.Open();
        struct Person {
            int code;
            const char* names;
            const char* surnames;
            int card, group;
            bool taxi;
        };
        for (const Person& p :
             {Person{12, "Ana", "Gómez", 1001, 2, true}, Person{13, "Luis", "Paz", 1002, 3, false},
              Person{14, "Eva", "Ríos", 1003, 1, true}}) {
            t.Append();
            t.FieldByName(QStringLiteral("CODIGO")).setAsInteger(p.code);
            t.FieldByName(QStringLiteral("NOMBRES")).setAsString(QString::fromUtf8(p.names));
            t.FieldByName(QStringLiteral("APELLIDOS")).setAsString(QString::fromUtf8(p.surnames));
            t.FieldByName(QStringLiteral("TARJETA")).setAsInteger(p.card);
            t.FieldByName(QStringLiteral("GRUPO")).setAsInteger(p.group);
            t.FieldByName(QStringLiteral("SERV_TAXI")).setAsBoolean(p.taxi);
            t.Post();
        }
    }

    std::unique_ptr<StoreWorld> m_world;
};

QObject* newSqlTests() {
    return new TestSql;
}

#include "tst_sql.moc"
