// The schema steps of the project's own tables: a database of each earlier
// version (recorded, or from before versions and known by its tables) brought
// to the current one with its rows kept, a newer one refused untouched, a
// failing step rolled back; on SQLite, on PostgreSQL ($KIVO_TEST_PG) and, for
// the server, through ODBC to the same PostgreSQL.
#include "ErrorOf.h"
#include "StoreFixture.h"
#include "store/Connection.h"
#include "store/OwnTables.h"
#include "store/SchemaSteps.h"
#include "store/Session.h"

#include <QCoreApplication>
#include <QFile>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTest>
#include <memory>

namespace {

const QString kAlias = QStringLiteral("STEPS");
const QString kAdmin = QStringLiteral("steps-admin");

// The columns the station reads and writes in its own tables.
const QList<std::pair<QString, QString>> kLocalColumns = {
    {OwnTables::kRuns, "run_id, store, loc, record_count, stored_at"},
    {OwnTables::kHealth,
     "ip, loc, descr, last_attempt, last_success, last_failure, failing_since, failure_text, "
     "failures_in_row, records_last, records_today, records_day, alerted, skipped_cycles, "
     "kept_visits, other_station"},
    {OwnTables::kSchema, "part, version"}};
const QList<std::pair<QString, QString>> kServerColumns = {
    {OwnTables::kRuns, "run_id, store, loc, record_count, stored_at"},
    {OwnTables::kLeases, "point, station, host, since, run_id, record_count, address"},
    {OwnTables::kPending, "address, run_id, record_count, sha256, station"},
    {OwnTables::kSchema, "part, version"}};

AliasKind kindOf(bool server) {
    return server ? AliasKind::Server : AliasKind::Local;
}

QString pgServer() {
    return qEnvironmentVariable("KIVO_TEST_PG");
}

// One database for one test, reached through the alias STEPS: a SQLite
// file, or a PostgreSQL database of its own (directly or over ODBC) dropped
// at the end.
class StepsDatabase {
public:
    StepsDatabase(const QString& backend, bool server)
        : m_backend(backend), m_kind(kindOf(server)) {
        m_login.AliasName = m_login.DatabaseName = kAlias;
        if (backend == QLatin1String("sqlite"))
            makeSqliteFile();
        else
            makePostgresDatabase();
        if (server && backend != QLatin1String("sqlite"))
            run(QStringLiteral("CREATE SCHEMA dbo"));
    }
    ~StepsDatabase() {
        m_session.closeAll();
        if (!m_pgName.isEmpty())
            admin(QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)").arg(m_pgName));
        QSqlDatabase::removeDatabase(kAdmin);
    }

    AliasKind kind() const { return m_kind; }
    QSqlDatabase db() { return m_session.connectionFor(kAlias); }
    QString table(const QString& own) {
        return OwnTables::sqlName(own, m_kind, driverOfConnection(db()));
    }
    // A data table of the kind (tickettaxis, or lectura) with two of its columns.
    QString dataColumns() const {
        return m_kind == AliasKind::Server ? QStringLiteral("ORIGEN, LEGAJO")
                                           : QStringLiteral("Origen, Codigo");
    }
    QString dataTable() {
        return translateTableName(m_kind == AliasKind::Server ? QStringLiteral("dbo.tickettaxis")
                                                              : QStringLiteral("lectura"),
                                  driverOfConnection(db()));
    }

    void run(const QString& sql) {
        QSqlQuery query(db());
        if (!query.exec(sql))
            QFAIL(qPrintable(sql + QStringLiteral(": ") + query.lastError().text()));
    }
    QStringList rows(const QString& sql) {
        QSqlQuery query(db());
        QStringList out;
        if (!query.exec(sql))
            return {QStringLiteral("fails")};
        while (query.next()) {
            QStringList fields;
            for (int i = 0; i < query.record().count(); ++i)
                fields << query.value(i).toString();
            out << fields.join(QLatin1Char('|'));
        }
        return out;
    }
    int recordedVersion() {
        const QStringList found =
            rows(QStringLiteral("SELECT version FROM %1 WHERE part = '%2'")
                     .arg(table(OwnTables::kSchema), m_kind == AliasKind::Local
                                                         ? QStringLiteral("local")
                                                         : QStringLiteral("server")));
        return found.size() == 1 ? found[0].toInt() : -1;
    }

    // The data table with a row, and a row in each own table of
    // the version: what the steps must keep.
    void seed(int version) {
        const QStringList columns = dataColumns().split(QStringLiteral(", "));
        run(QStringLiteral("CREATE TABLE %1 (%2 VARCHAR(40), %3 INTEGER)")
                .arg(dataTable(), columns[0], columns[1]));
        run(QStringLiteral("INSERT INTO %1 (%2) VALUES ('L01', 7)")
                .arg(dataTable(), dataColumns()));
        if (version >= 1)
            run(QStringLiteral("INSERT INTO %1 (run_id, store, loc, record_count, stored_at) "
                               "VALUES ('run-1', 'local', 'L01', 3, '2026-01-02T03:04:05.000Z')")
                    .arg(table(OwnTables::kRuns)));
        if (version >= 2 && m_kind == AliasKind::Local)
            run(QStringLiteral("INSERT INTO %1 (ip, failures_in_row) VALUES ('10.0.0.9', 2)")
                    .arg(table(OwnTables::kHealth)));
        if (version >= 2 && m_kind == AliasKind::Server) {
            run(QStringLiteral("INSERT INTO %1 (point, station, host, since, run_id, "
                               "record_count, address) VALUES ('10.0.0.9', 'st-1', 'pc1', "
                               "'2026-01-02T03:04:05', 'run-1', 3, '10.0.0.9')")
                    .arg(table(OwnTables::kLeases)));
            run(QStringLiteral("INSERT INTO %1 (address, run_id, record_count, sha256, station) "
                               "VALUES ('10.0.0.9', 'run-1', 3, 'ab', 'st-1')")
                    .arg(table(OwnTables::kPending)));
        }
    }
    // The rows seed() writes, table by table ("fails" for a table not there).
    QList<QStringList> seeded() {
        QList<QStringList> out{
            rows(QStringLiteral("SELECT %1 FROM %2").arg(dataColumns(), dataTable())),
            rows(QStringLiteral("SELECT run_id, store, loc, record_count, "
                                "stored_at FROM %1")
                     .arg(table(OwnTables::kRuns)))};
        if (m_kind == AliasKind::Local)
            return out << rows(QStringLiteral("SELECT ip, failures_in_row FROM %1")
                                   .arg(table(OwnTables::kHealth)));
        for (const auto& [own, columns] : kServerColumns.mid(1, 2))
            out << rows(QStringLiteral("SELECT %1 FROM %2").arg(columns, table(own)));
        return out;
    }
    QStringList columnsOf(const QString& sqlTable) {
        QSqlQuery query(db());
        QStringList names;
        if (query.exec(QStringLiteral("SELECT * FROM %1 WHERE 1 = 0").arg(sqlTable)))
            for (int i = 0; i < query.record().count(); ++i)
                names << query.record().fieldName(i).toLower();
        return names;
    }
    // What a step could change: the tables, their columns, and the versions.
    QStringList snapshot() {
        const QString catalog =
            m_backend == QLatin1String("sqlite")
                ? QStringLiteral("SELECT type, name, sql FROM sqlite_master ORDER BY name")
                : QStringLiteral("SELECT table_schema, table_name, column_name, data_type FROM "
                                 "information_schema.columns WHERE table_schema IN ('dbo', "
                                 "'public') ORDER BY 1, 2, ordinal_position");
        QStringList all = rows(catalog);
        for (const QStringList& table : seeded())
            all << table << QStringLiteral("--");
        return all +
               rows(
                   QStringLiteral("SELECT * FROM %1 ORDER BY part").arg(table(OwnTables::kSchema)));
    }
    // The own tables of the kind that do not take the station's statements.
    QStringList missingColumns() {
        QStringList missing;
        for (const auto& [own, columns] : ownColumns())
            if (rows(QStringLiteral("SELECT %1 FROM %2 WHERE 1 = 0").arg(columns, table(own))) ==
                QStringList{QStringLiteral("fails")})
                missing << own;
        return missing;
    }

    // Runs tools/sql/tickettaxis.sql as psql would, statement by statement.
    void runServerScript() {
        QFile script(qEnvironmentVariable("KIVO_SOURCE_DIR") +
                     QStringLiteral("/tools/sql/tickettaxis.sql"));
        QVERIFY(script.open(QIODevice::ReadOnly));
        QString text = QString::fromUtf8(script.readAll());
        text.remove(QRegularExpression(QStringLiteral("--[^\n]*")));
        for (const QString& statement : text.split(QLatin1Char(';')))
            if (!statement.trimmed().isEmpty())
                run(statement);
    }

private:
    const QList<std::pair<QString, QString>>& ownColumns() const {
        return m_kind == AliasKind::Local ? kLocalColumns : kServerColumns;
    }
    void makeSqliteFile() {
        const QString file = m_env.path(QStringLiteral("steps.sqlite"));
        m_env.writeFile(
            QStringLiteral("aliases.ini"),
            QStringLiteral("[%1]\nDriver=sqlite\nPath=%2\n").arg(kAlias, file).toUtf8());
        QFile(file).open(QIODevice::WriteOnly);
    }
    void makePostgresDatabase() {
        static int made = 0;
        m_pgName =
            QStringLiteral("kivo_steps_%1_%2").arg(QCoreApplication::applicationPid()).arg(++made);
        const QString host = pgServer().section(':', 0, 0);
        const QString port = pgServer().section(':', 1);
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), kAdmin);
            db.setHostName(host);
            db.setPort(port.toInt());
            db.setDatabaseName(QStringLiteral("kivo_test"));
            db.setUserName(QStringLiteral("JUX"));
            db.setPassword(QStringLiteral("60728"));
        }
        admin(QStringLiteral("CREATE DATABASE %1").arg(m_pgName));
        const QString section =
            m_backend == QLatin1String("odbc")
                ? QStringLiteral("Driver=odbc\nConnection=DRIVER={PostgreSQL Unicode};SERVER=%1;"
                                 "PORT=%2;DATABASE=%3;ConnSettings=SET search_path TO dbo,public\n")
                : QStringLiteral("Driver=postgres\nHost=%1\nPort=%2\nDatabase=%3\n");
        m_env.writeFile(
            QStringLiteral("aliases.ini"),
            (QStringLiteral("[%1]\n").arg(kAlias) + section.arg(host, port, m_pgName)).toUtf8());
    }
    void admin(const QString& sql) {
        QSqlDatabase db = QSqlDatabase::database(kAdmin);
        QSqlQuery query(db);
        if (!query.exec(sql))
            qWarning("%s: %s", qPrintable(sql), qPrintable(query.lastError().text()));
    }

    QString m_backend;
    AliasKind m_kind;
    StoreEnvironment m_env;
    TSession m_session;
    TDatabase m_login{m_session};
    QString m_pgName;
};

// The backends of each kind: ODBC stands for a site's SQL server, which holds
// the server table.
void addBackendRows(const std::function<void(const char* backend, bool server)>& add) {
    for (const bool server : {false, true})
        for (const char* backend : {"sqlite", "postgres", "odbc"})
            if (server || QLatin1String(backend) != QLatin1String("odbc"))
                add(backend, server);
}

void addBackendColumns() {
    QTest::addColumn<QString>("backend");
    QTest::addColumn<bool>("server");
}

QString kindName(bool server) {
    return server ? QStringLiteral("server") : QStringLiteral("local");
}

void addOneRowPerBackend() {
    addBackendColumns();
    addBackendRows([](const char* backend, bool server) {
        QTest::addRow("%s %s", backend, qPrintable(kindName(server)))
            << QString::fromLatin1(backend) << server;
    });
}

} // namespace

#define SKIP_WITHOUT(backend)                                                                      \
    if ((backend) != QLatin1String("sqlite") && pgServer().isEmpty())                              \
    QSKIP("KIVO_TEST_PG is not set")

class TestSchemaSteps : public QObject {
    Q_OBJECT

private slots:
    void upgradesFromEachEarlierVersion_data() {
        addBackendColumns();
        QTest::addColumn<int>("from");
        QTest::addColumn<bool>("recorded"); // false: a database from before versions
        addBackendRows([](const char* backend, bool server) {
            for (int from = 0; from <= SchemaSteps::latestVersion(kindOf(server)); ++from)
                for (const bool recorded : {true, false})
                    QTest::addRow("%s %s %d %s", backend, qPrintable(kindName(server)), from,
                                  recorded ? "recorded" : "from its tables")
                        << QString::fromLatin1(backend) << server << from << recorded;
        });
    }
    // Rows kept, the data table as it was, every own table in its current
    // form; a second run changes nothing.
    void upgradesFromEachEarlierVersion() {
        QFETCH(QString, backend);
        QFETCH(bool, server);
        QFETCH(int, from);
        QFETCH(bool, recorded);
        SKIP_WITHOUT(backend);
        StepsDatabase d(backend, server);
        SchemaSteps::apply(d.db(), d.kind(), kAlias, from);
        if (!recorded)
            d.run(QStringLiteral("DROP TABLE %1").arg(d.table(OwnTables::kSchema)));
        d.seed(from);
        QCOMPARE(SchemaSteps::versionOf(d.db(), d.kind()), from);
        const QList<QStringList> before = d.seeded();
        const QStringList dataColumns = d.columnsOf(d.dataTable());

        QCOMPARE(errorOf([&] { SchemaSteps::apply(d.db(), d.kind(), kAlias); }), QString());
        QCOMPARE(d.recordedVersion(), SchemaSteps::latestVersion(d.kind()));
        QCOMPARE(d.missingColumns(), QStringList());
        QCOMPARE(d.columnsOf(d.dataTable()), dataColumns);
        const QList<QStringList> after = d.seeded();
        for (qsizetype i = 0; i < before.size(); ++i)
            QCOMPARE(after[i],
                     before[i] == QStringList{QStringLiteral("fails")} ? QStringList() : before[i]);

        const QStringList settled = d.snapshot();
        QCOMPARE(errorOf([&] { SchemaSteps::apply(d.db(), d.kind(), kAlias); }), QString());
        QCOMPARE(d.snapshot(), settled);
    }

    void laterTablesWithoutTheJournal_data() { addOneRowPerBackend(); }
    // A station from before versions that could add its later tables but not
    // the journal: version 0 by its tables, and the later steps find their
    // tables there.
    void laterTablesWithoutTheJournal() {
        QFETCH(QString, backend);
        QFETCH(bool, server);
        SKIP_WITHOUT(backend);
        StepsDatabase d(backend, server);
        SchemaSteps::apply(d.db(), d.kind(), kAlias);
        d.seed(SchemaSteps::latestVersion(d.kind()));
        for (const QString& own : {OwnTables::kRuns, OwnTables::kSchema})
            d.run(QStringLiteral("DROP TABLE %1").arg(d.table(own)));
        QCOMPARE(SchemaSteps::versionOf(d.db(), d.kind()), 0);
        const QList<QStringList> before = d.seeded();
        QCOMPARE(errorOf([&] { SchemaSteps::apply(d.db(), d.kind(), kAlias); }), QString());
        QCOMPARE(d.recordedVersion(), SchemaSteps::latestVersion(d.kind()));
        QCOMPARE(d.missingColumns(), QStringList());
        QCOMPARE(d.seeded().mid(2), before.mid(2));
    }

    void newerDatabaseIsRefusedUntouched_data() { addOneRowPerBackend(); }
    void newerDatabaseIsRefusedUntouched() {
        QFETCH(QString, backend);
        QFETCH(bool, server);
        SKIP_WITHOUT(backend);
        StepsDatabase d(backend, server);
        d.seed(0);
        SchemaSteps::apply(d.db(), d.kind(), kAlias);
        const int latest = SchemaSteps::latestVersion(d.kind());
        // What a later program would have made: a table of its own, and its version.
        d.run(QStringLiteral("CREATE TABLE %1 (x INTEGER)")
                  .arg(d.table(QStringLiteral("kivo_later"))));
        d.run(QStringLiteral("UPDATE %1 SET version = %2")
                  .arg(d.table(OwnTables::kSchema))
                  .arg(latest + 1));
        const QStringList before = d.snapshot();
        QCOMPARE(errorOf([&] { SchemaSteps::apply(d.db(), d.kind(), kAlias); }),
                 QStringLiteral("La base de datos 'STEPS' tiene la versión %1 de las tablas "
                                "propias de la estación y este programa conoce hasta la %2: no "
                                "se almacena nada en ella; actualice el programa.")
                     .arg(latest + 1)
                     .arg(latest));
        QCOMPARE(d.snapshot(), before);
    }

    void failedStepLeavesThePreviousVersion_data() {
        addBackendColumns();
        QTest::addColumn<QString>("squatted");   // a name taken by something else
        QTest::addColumn<QString>("rolledBack"); // added by the failing step before it failed
        addBackendRows([](const char* backend, bool server) {
            QTest::addRow("%s %s", backend, qPrintable(kindName(server)))
                << QString::fromLatin1(backend) << server
                << (server ? OwnTables::kPending : OwnTables::kHealth)
                << (server ? OwnTables::kLeases : QString());
        });
    }
    // The name the second step needs is taken by an index (SQLite) or a type
    // (PostgreSQL), which no probe for a table sees: the step fails at its
    // last statement and is undone whole; once the name is free it applies.
    void failedStepLeavesThePreviousVersion() {
        QFETCH(QString, backend);
        QFETCH(bool, server);
        QFETCH(QString, squatted);
        QFETCH(QString, rolledBack);
        SKIP_WITHOUT(backend);
        StepsDatabase d(backend, server);
        d.seed(0);
        const QString squat = backend == QLatin1String("sqlite")
                                  ? QStringLiteral("CREATE INDEX %1 ON %2 (ORIGEN)")
                                  : QStringLiteral("CREATE TYPE %1 AS ENUM ('%2')");
        d.run(squat.arg(d.table(squatted), d.dataTable()));
        const QString error = errorOf([&] { SchemaSteps::apply(d.db(), d.kind(), kAlias); });
        QVERIFY2(error.startsWith(QStringLiteral("No se puede aplicar el paso 2 de las tablas "
                                                 "propias de la estación (")) &&
                     error.contains(QStringLiteral("en la base de datos 'STEPS'; queda en la "
                                                   "versión 1: ")),
                 qPrintable(error));
        QCOMPARE(d.recordedVersion(), 1);
        QCOMPARE(SchemaSteps::versionOf(d.db(), d.kind()), 1);
        if (!rolledBack.isEmpty())
            QCOMPARE(d.rows(QStringLiteral("SELECT * FROM %1").arg(d.table(rolledBack))),
                     QStringList{QStringLiteral("fails")});

        d.run((backend == QLatin1String("sqlite") ? QStringLiteral("DROP INDEX %1")
                                                  : QStringLiteral("DROP TYPE %1"))
                  .arg(d.table(squatted)));
        QCOMPARE(errorOf([&] { SchemaSteps::apply(d.db(), d.kind(), kAlias); }), QString());
        QCOMPARE(d.recordedVersion(), SchemaSteps::latestVersion(d.kind()));
        QCOMPARE(d.missingColumns(), QStringList());
    }

    // The script that makes a server by hand records the version of what it
    // makes: the steps find nothing to do there.
    void serverScriptRecordsItsVersion() {
        SKIP_WITHOUT(QStringLiteral("postgres"));
        StepsDatabase d(QStringLiteral("postgres"), true);
        d.run(QStringLiteral("DROP SCHEMA dbo"));
        d.runServerScript();
        QCOMPARE(d.recordedVersion(), SchemaSteps::latestVersion(AliasKind::Server));
        QCOMPARE(d.missingColumns(), QStringList());
        const QStringList made = d.snapshot();
        QCOMPARE(errorOf([&] { SchemaSteps::apply(d.db(), AliasKind::Server, kAlias); }),
                 QString());
        QCOMPARE(d.snapshot(), made);
    }
};

QObject* newSchemaStepsTests() {
    return new TestSchemaSteps;
}

#include "tst_schemasteps.moc"
