// The embedded default databases, the schema they get, and protected databases.
#include "StoreFixture.h"
#include "store/Schema.h"
#include "store/SchemaSteps.h"
#include "store/Session.h"

#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>
#include <memory>

namespace {

// Every table and column the station reads or writes, as the station names them.
const QList<std::pair<QString, QStringList>> kLocalTables = {
    {"lectura.DB", {"Codigo", "Hora", "Fecha", "Loc", "Cta", "NroTicket", "Origen"}},
    {"lecturaBAK.db", {"Codigo", "Hora", "Fecha", "Loc", "Cta", "NroTicket", "Origen"}},
    {"log.DB", {"Fecha", "Hora", "Archivo", "NroRegAsist"}},
    {"confRegIP.db", {"IP", "Desc", "Loc", "Activo"}},
    {"personal.DBF", {"CODIGO", "NOMBRES", "APELLIDOS", "TARJETA", "GRUPO", "SERV_TAXI"}},
    {"ceco.DBF", {"CECO", "OVERTIME", "VIAJES"}},
};
// The export reads these by position.
const QStringList kTicketColumns = {"ORIGEN", "LEGAJO", "NOMBRES", "FECHA",  "IMPORTE",
                                    "CUENTA", "CECO",   "TARJETA", "TICKET", "VERIFICADO"};

QStringList tablesIn(const QString& file) {
    QStringList tables;
    {
        QSqlDatabase db =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("peek"));
        db.setDatabaseName(file);
        if (db.open())
            tables = db.tables();
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("peek"));
    tables.sort(Qt::CaseInsensitive);
    return tables;
}

void makeDatabase(const QString& file, const QString& createSql) {
    {
        QSqlDatabase db =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("make"));
        db.setDatabaseName(file);
        QVERIFY(db.open());
        QSqlQuery query(db);
        QVERIFY(query.exec(createSql));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("make"));
}

} // namespace

class TestEmbedded : public QObject {
    Q_OBJECT

private slots:
    void init() {
        m_env = std::make_unique<StoreEnvironment>();
        m_session = std::make_unique<TSession>();
    }
    void cleanup() {
        m_session.reset();
        m_env.reset();
    }

    void localTablesCreated_data() {
        QTest::addColumn<QString>("table");
        QTest::addColumn<QStringList>("columns");
        for (const auto& [table, columns] : kLocalTables)
            QTest::newRow(qPrintable(table)) << table << columns;
        QTest::newRow("names without regard to case")
            << "PERSONAL.dbf" << QStringList{"codigo", "serv_taxi"};
    }
    void localTablesCreated() {
        QFETCH(QString, table);
        QFETCH(QStringList, columns);
        m_session->DeclareAlias(QStringLiteral("KIVO_1"), AliasKind::Local);
        TTable t;
        t.DatabaseName = QStringLiteral("KIVO_1");
        t.TableName = table;
        t.Open();
        QCOMPARE(t.RecordCount(), 0);
        for (const QString& column : columns)
            QCOMPARE(t.FieldByName(column).FieldName().toLower(), column.toLower());
        QVERIFY(QFile::exists(m_env->dataDir() + QStringLiteral("/KIVO_1.sqlite")));
    }

    void serverTableCreatedInItsOrder() {
        m_session->DeclareAlias(QStringLiteral("JUXRegs"), AliasKind::Server);
        TTable t;
        t.DatabaseName = QStringLiteral("JUXRegs");
        t.TableName = QStringLiteral("dbo.tickettaxis");
        t.Open();
        QVERIFY(t.FieldCount() >= kTicketColumns.size());
        for (int i = 0; i < kTicketColumns.size(); ++i)
            QCOMPARE(t.Fields(i).FieldName(), kTicketColumns[i]);
        QCOMPARE(tablesIn(m_env->dataDir() + QStringLiteral("/JUXRegs.sqlite")),
                 QStringList(
                     {"kivo_leases", "kivo_pending", "kivo_runs", "kivo_schema", "tickettaxis"}));
    }

    // Only "NONE" switches the server off; an empty name is an alias like any other.
    void emptyServerAliasIsARealAlias() {
        m_session->DeclareAlias(QString(), AliasKind::Server);
        TTable t;
        t.TableName = QStringLiteral("dbo.tickettaxis");
        t.Open();
        appendTicket(t, {QStringLiteral("E"), encodeDate(2026, 1, 1), 1, 1});
        QCOMPARE(t.RecordCount(), 1);
    }

    void oneFileForBothKindsWhenTheAliasesAreEqual() {
        m_session->DeclareAlias(QStringLiteral("SAME"), AliasKind::Local);
        m_session->DeclareAlias(QStringLiteral("SAME"), AliasKind::Server);
        QSqlDatabase db = m_session->connectionFor(QStringLiteral("SAME"));
        // the server table, and the own tables of both kinds, the journal once
        QCOMPARE(tablesIn(m_env->dataDir() + QStringLiteral("/SAME.sqlite")).size(),
                 kLocalTables.size() + 6);
        for (AliasKind kind : {AliasKind::Local, AliasKind::Server})
            QCOMPARE(SchemaSteps::versionOf(db, kind), SchemaSteps::latestVersion(kind));
    }

    void existingDatabaseNeverAltered() {
        const QString file = m_env->dataDir() + QStringLiteral("/KIVO_1.sqlite");
        QVERIFY(QDir().mkpath(m_env->dataDir()));
        makeDatabase(file, QStringLiteral("CREATE TABLE log (Fecha DATE, Hora TIME, Archivo TEXT, "
                                          "NroRegAsist INTEGER)"));
        m_session->DeclareAlias(QStringLiteral("KIVO_1"), AliasKind::Local);
        TTable missing;
        missing.DatabaseName = QStringLiteral("KIVO_1");
        missing.TableName = QStringLiteral("lectura.DB");
        QVERIFY_THROWS_EXCEPTION(EDatabaseError, missing.Open());
        QVERIFY(!missing.Active());
        TTable present;
        present.DatabaseName = QStringLiteral("KIVO_1");
        present.TableName = QStringLiteral("log.DB");
        present.Open();
        QVERIFY(present.Active());
        m_session->closeAll();
        QCOMPARE(tablesIn(file), QStringList{"log"});
    }

    void configuredFileMissingIsAnErrorNotANewDatabase() {
        m_env->writeFile(QStringLiteral("aliases.ini"),
                         "[KIVO_1]\nDriver=sqlite\nPath=gone.sqlite\n");
        QVERIFY_THROWS_EXCEPTION(EDatabaseError,
                                 m_session->connectionFor(QStringLiteral("KIVO_1")));
        QVERIFY(!QFile::exists(m_env->path(QStringLiteral("gone.sqlite"))));
        QVERIFY(!QSqlDatabase::contains(QStringLiteral("KIVO_1")));
    }

    void dataDirectoryThatCannotBeMadeRaises() {
        m_env->writeFile(QStringLiteral("plainfile"), "x");
        qputenv("XDG_DATA_HOME", m_env->path(QStringLiteral("plainfile")).toLocal8Bit());
        QVERIFY_THROWS_EXCEPTION(EDatabaseError,
                                 m_session->connectionFor(QStringLiteral("KIVO_1")));
    }

    void protectedDatabase_data() {
        QTest::addColumn<bool>("hook");
        QTest::addColumn<QString>("supplied");
        QTest::addColumn<bool>("goOn");
        QTest::addColumn<bool>("held"); // password added before the open
        QTest::addColumn<bool>("opens");
        QTest::addColumn<int>("hookCalls");
        QTest::newRow("no hook") << false << "" << false << false << false << 0;
        QTest::newRow("hook adds the password") << true << "pdxr8164" << true << false << true << 1;
        QTest::newRow("hook adds another password")
            << true << "wrong" << true << false << false << 1;
        QTest::newRow("hook does not go on") << true << "pdxr8164" << false << false << false << 1;
        QTest::newRow("password already held") << true << "" << true << true << true << 0;
    }
    void protectedDatabase() {
        QFETCH(bool, hook);
        QFETCH(QString, supplied);
        QFETCH(bool, goOn);
        QFETCH(bool, held);
        QFETCH(bool, opens);
        QFETCH(int, hookCalls);
        makeDatabase(m_env->path(QStringLiteral("p.sqlite")),
                     QStringLiteral("CREATE TABLE log (Archivo TEXT)"));
        m_env->writeFile(QStringLiteral("aliases.ini"),
                         "[KIVO_1]\nDriver=sqlite\nPath=p.sqlite\nPassword=pdxr8164\n");
        int calls = 0;
        if (hook)
            m_session->OnPassword = [&](TSession& sender, bool& go) {
                ++calls;
                sender.AddPassword(supplied);
                go = goOn;
            };
        if (held)
            m_session->AddPassword(QStringLiteral("pdxr8164"));
        TTable t;
        t.DatabaseName = QStringLiteral("KIVO_1");
        t.TableName = QStringLiteral("log.DB");
        if (opens)
            t.Open();
        else
            QVERIFY_THROWS_EXCEPTION(EDatabaseError, t.Open());
        QCOMPARE(t.Active(), opens);
        QCOMPARE(calls, hookCalls);
    }

private:
    std::unique_ptr<StoreEnvironment> m_env;
    std::unique_ptr<TSession> m_session;
};

QObject* newEmbeddedTests() {
    return new TestEmbedded;
}

#include "tst_embedded.moc"
