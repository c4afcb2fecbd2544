// The server alias through ODBC: the PostgreSQL ODBC driver against the test
// PostgreSQL ($KIVO_TEST_PG), with the server SQL texts as they stand.
#include "ErrorOf.h"
#include "store/StoreFixture.h"

#include <QCoreApplication>
#include <QSqlQuery>
#include <QTest>
#include <memory>

namespace {

const QString kServer = QStringLiteral("JUXRegs");

// psqlODBC runs ConnSettings after login: the bare table name must reach
// the table under dbo, as it does on a server whose default owner is dbo.
QByteArray odbcSection(const QString& alias, const QString& connection) {
    return QStringLiteral("[%1]\nDriver=odbc\nConnection=%2\nConnectTimeout=5\n\n")
        .arg(alias, connection)
        .toUtf8();
}

} // namespace

class TestOdbc : public QObject {
    Q_OBJECT

private slots:
    void init() {
        const QString server = qEnvironmentVariable("KIVO_TEST_PG");
        if (server.isEmpty())
            QSKIP("KIVO_TEST_PG is not set");
        m_env = std::make_unique<StoreEnvironment>();
        const QString postgres =
            QStringLiteral("DRIVER={PostgreSQL Unicode};SERVER=%1;PORT=%2;DATABASE=kivo_test;"
                           "ConnSettings=SET search_path TO dbo,public")
                .arg(server.section(':', 0, 0), server.section(':', 1));
        m_env->writeFile(QStringLiteral("aliases.ini"),
                         odbcSection(kServer, postgres) +
                             odbcSection(QStringLiteral("NODRIVER"),
                                         QStringLiteral("DRIVER={No Such Driver};SERVER=db.lan")) +
                             odbcSection(QStringLiteral("NODSN"), QStringLiteral("NoSuchDsn")));
        m_session = std::make_unique<TSession>();
        m_database = std::make_unique<TDatabase>(*m_session);
        m_database->AliasName = m_database->DatabaseName = kServer;
        m_tag = QStringLiteral("odbc%1-").arg(QCoreApplication::applicationPid());
    }
    void cleanup() {
        if (m_session && QSqlDatabase::contains(kServer)) {
            QSqlQuery query(QSqlDatabase::database(kServer, false));
            query.prepare(QStringLiteral("DELETE FROM dbo.tickettaxis WHERE ORIGEN LIKE ?"));
            query.addBindValue(m_tag + QLatin1Char('%'));
            if (!query.exec())
                qWarning("could not remove the test rows");
        }
        m_database.reset();
        m_session.reset();
        m_env.reset();
    }

    // What the station does at start-up: open and close the server table.
    void startUpServerTestPasses() {
        TTable torRegAsist;
        torRegAsist.DatabaseName = kServer;
        torRegAsist.TableName = QStringLiteral("dbo.tickettaxis");
        QCOMPARE(errorOf([&] { torRegAsist.Open(); }), QString());
        QCOMPARE(torRegAsist.FieldByName(QStringLiteral("VERIFICADO")).FieldName().toLower(),
                 QStringLiteral("verificado"));
        torRegAsist.Close();
        QVERIFY(m_session->driverOf(kServer) == AliasDefinition::Driver::Odbc);
    }

    void wrongPasswordFailsTheServerTest() {
        m_database->Params = QStringList{"USER NAME=JUX", "password=wrong"};
        TTable torRegAsist;
        torRegAsist.DatabaseName = kServer;
        torRegAsist.TableName = QStringLiteral("dbo.tickettaxis");
        QVERIFY(errorOf([&] { torRegAsist.Open(); }).contains(QStringLiteral("Cannot connect")));
    }

    // Rows written through the owner-qualified name, selected through the
    // bare name with 'yyyymmdd hh:mm:ss' literals, sorted by FECHA.
    void storedRowsAndDateRange() { checkDateRange(kServer, m_tag); }

    void storedTextAndNumbersReadBack() {
        TTable owner;
        owner.DatabaseName = kServer;
        owner.TableName = QStringLiteral("dbo.tickettaxis");
        owner.Open();
        const TDateTime fecha = encodeDateTime({2026, 12, 8, 10, 27, 45, 0});
        appendTicket(owner, {m_tag + QStringLiteral("T"), fecha, 6553.5, 2147483647});
        TQuery query;
        query.DatabaseName = kServer;
        query.SQL << QStringLiteral("select * from tickettaxis where ORIGEN = '%1T'").arg(m_tag);
        query.Open();
        QCOMPARE(query.RecordCount(), 1);
        QCOMPARE(query.Fields(1).AsInteger(), 2147483647);
        QCOMPARE(query.Fields(2).AsString(), QStringLiteral("Pérez Ñandú"));
        QCOMPARE(query.Fields(3).AsDateTime(), fecha);
        QCOMPARE(query.Fields(4).AsFloat(), 6553.5);
        // Rows of an ODBC server are appended, never edited in place.
        owner.Last();
        QVERIFY(errorOf([&] { owner.Delete(); }).contains(QStringLiteral("only appended")));
    }

    void missingDriverIsNamed_data() {
        QTest::addColumn<QString>("alias");
        QTest::addColumn<QString>("expected");
        QTest::newRow("driver") << "NODRIVER"
                                << "the ODBC driver 'No Such Driver' is not installed";
        QTest::newRow("data source") << "NODSN"
                                     << "the ODBC data source 'NoSuchDsn' is not defined";
    }
    void missingDriverIsNamed() {
        QFETCH(QString, alias);
        QFETCH(QString, expected);
        TDatabase named(*m_session);
        named.AliasName = named.DatabaseName = alias;
        TTable torRegAsist;
        torRegAsist.DatabaseName = alias;
        torRegAsist.TableName = QStringLiteral("dbo.tickettaxis");
        const QString error = errorOf([&] { torRegAsist.Open(); });
        QVERIFY2(error.contains(expected), qPrintable(error));
        QVERIFY(!QSqlDatabase::contains(alias));
    }

private:
    std::unique_ptr<StoreEnvironment> m_env;
    std::unique_ptr<TSession> m_session;
    std::unique_ptr<TDatabase> m_database;
    QString m_tag;
};

QTEST_GUILESS_MAIN(TestOdbc)
#include "tst_odbc.moc"
