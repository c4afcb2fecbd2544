// The server alias on a real PostgreSQL ($KIVO_TEST_PG, "host:port" of a server
// with the database kivo_test, role JUX, password 60728 and dbo.tickettaxis).
#include "PostgresBackend.h"
#include "StoreFixture.h"
#include "store/Session.h"

#include <QCoreApplication>
#include <QSqlQuery>
#include <QTcpServer>
#include <QTest>
#include <memory>

class TestPostgres : public QObject {
    Q_OBJECT

private slots:
    void init() {
        const QString server = qEnvironmentVariable("KIVO_TEST_PG");
        if (server.isEmpty())
            QSKIP("KIVO_TEST_PG is not set");
        m_env = std::make_unique<StoreEnvironment>();
        m_env->writeFile(QStringLiteral("aliases.ini"),
                         section("JUXRegs", server.section(':', 0, 0), server.section(':', 1)) +
                             section("DOWN", "127.0.0.1", QString::number(closedPort())));
        m_session = std::make_unique<TSession>();
        m_session->DeclareAlias(QStringLiteral("JUXRegs"), AliasKind::Server);
        m_database = std::make_unique<TDatabase>(*m_session);
        m_database->AliasName = m_database->DatabaseName = QStringLiteral("JUXRegs");
        m_tag = QStringLiteral("tst%1-").arg(QCoreApplication::applicationPid());
    }
    void cleanup() {
        if (m_session && QSqlDatabase::contains(QStringLiteral("JUXRegs"))) {
            QSqlQuery query(QSqlDatabase::database(QStringLiteral("JUXRegs"), false));
            query.prepare(QStringLiteral("DELETE FROM dbo.tickettaxis WHERE ORIGEN LIKE ?"));
            query.addBindValue(m_tag + QLatin1Char('%'));
            if (!query.exec())
                qWarning("could not remove the test rows");
        }
        m_database.reset();
        m_session.reset();
        m_env.reset();
    }

    void serverTestWithTheLoginFromTheParameters() {
        TTable t = serverTable(QStringLiteral("dbo.tickettaxis"));
        t.Close();
        QSqlQuery who(m_session->connectionFor(QStringLiteral("JUXRegs")));
        QVERIFY(who.exec(QStringLiteral("SELECT current_user")) && who.next());
        QCOMPARE(who.value(0).toString(), QStringLiteral("JUX"));
    }

    void wrongPasswordRaises() {
        m_database->Params = QStringList{"USER NAME=JUX", "password=wrong"};
        QVERIFY_THROWS_EXCEPTION(EDatabaseError, serverTable(QStringLiteral("dbo.tickettaxis")));
    }

    void appendThroughOwnerReadThroughBareName() {
        TTable owner = serverTable(QStringLiteral("dbo.tickettaxis"));
        const TDateTime fecha = encodeDateTime({2026, 12, 8, 10, 27, 45, 0});
        appendTicket(owner, {m_tag + QStringLiteral("A"), fecha, 12.5, 65535});

        TQuery q;
        q.DatabaseName = QStringLiteral("JUXRegs");
        q.SQL << QStringLiteral("select * from tickettaxis where ORIGEN = '%1A'").arg(m_tag);
        q.Open();
        QCOMPARE(q.RecordCount(), 1);
        QCOMPARE(q.Fields(1).AsInteger(), 65535);
        QCOMPARE(q.Fields(2).AsString(), QStringLiteral("Pérez Ñandú"));
        QCOMPARE(q.Fields(3).AsDateTime(), fecha);
        QCOMPARE(q.Fields(4).AsFloat(), 12.5);
        QCOMPARE(q.Fields(9).AsInteger(), 0);
        TTable bare = serverTable(QStringLiteral("tickettaxis"));
        QCOMPARE(bare.FieldByName(QStringLiteral("FECHA")).FieldName().toLower(),
                 QStringLiteral("fecha"));
    }

    // Other tests may add rows to the same table meanwhile: the row is
    // looked for by its ORIGEN, and the delete checked the same way.
    void editAndDeleteByRowKey() {
        const QString origen = m_tag + QStringLiteral("E");
        TTable t = serverTable(QStringLiteral("dbo.tickettaxis"));
        appendTicket(t, {origen, encodeDate(2026, 1, 1), 1, 1});
        const auto findOwnRow = [&] {
            t.First();
            while (!t.Eof() && t.FieldByName(QStringLiteral("ORIGEN")).AsString() != origen)
                t.Next();
            return !t.Eof();
        };
        QVERIFY(findOwnRow());
        t.Edit();
        t.FieldByName(QStringLiteral("CECO")).setAsInteger(77);
        t.Post();
        QCOMPARE(t.FieldByName(QStringLiteral("ORIGEN")).AsString(), origen);
        QCOMPARE(t.FieldByName(QStringLiteral("CECO")).AsInteger(), 77);
        t.Delete();
        QVERIFY(!findOwnRow());
    }

    // A dropped server connection fails the write in hand, loudly, and the
    // next write connects again.
    void lostConnectionIsMadeAgain() {
        TTable t = serverTable(QStringLiteral("dbo.tickettaxis"));
        QVERIFY(terminateStoreBackend());
        QVERIFY_THROWS_EXCEPTION(EDatabaseError, appendTicket(t, {m_tag + QStringLiteral("lost"),
                                                                  encodeDate(2026, 2, 2), 1, 1}));
        t.Cancel();
        appendTicket(t, {m_tag + QStringLiteral("again"), encodeDate(2026, 2, 2), 1, 1});
        TQuery q;
        q.DatabaseName = QStringLiteral("JUXRegs");
        q.SQL << QStringLiteral("select * from tickettaxis where ORIGEN like '%1%'").arg(m_tag);
        q.Open();
        QCOMPARE(q.RecordCount(), 1);
        QCOMPARE(q.Fields(0).AsString(), m_tag + QStringLiteral("again"));
    }

    void dateRange() { checkDateRange(QStringLiteral("JUXRegs"), m_tag); }

    void unreachableServerRaises() {
        TTable t;
        t.DatabaseName = QStringLiteral("DOWN");
        t.TableName = QStringLiteral("dbo.tickettaxis");
        try {
            t.Open();
            QFAIL("Open did not raise");
        } catch (const EDatabaseError& error) {
            QVERIFY2(error.message().contains(QStringLiteral("'DOWN'")),
                     qPrintable(error.message()));
        }
        QVERIFY(!t.Active());
        QVERIFY(!QSqlDatabase::contains(QStringLiteral("DOWN")));
    }

private:
    static QByteArray section(const QString& name, const QString& host, const QString& port) {
        return QStringLiteral("[%1]\nDriver=postgres\nHost=%2\nPort=%3\nDatabase=kivo_test\n"
                              "ConnectTimeout=3\n")
            .arg(name, host, port)
            .toUtf8();
    }

    // Ends the server process behind the store's connection, from a second one.
    bool terminateStoreBackend() {
        return terminatePostgresBackend(m_session->connectionFor(QStringLiteral("JUXRegs")));
    }

    // A loopback port that nobody listens on.
    static quint16 closedPort() {
        QTcpServer server;
        server.listen(QHostAddress::LocalHost);
        return server.serverPort();
    }

    TTable serverTable(const QString& name) {
        TTable t;
        t.DatabaseName = QStringLiteral("JUXRegs");
        t.TableName = name;
        t.Open();
        return t;
    }

    std::unique_ptr<StoreEnvironment> m_env;
    std::unique_ptr<TSession> m_session;
    std::unique_ptr<TDatabase> m_database;
    QString m_tag;
};

QObject* newPostgresTests() {
    return new TestPostgres;
}

#include "tst_postgres.moc"
