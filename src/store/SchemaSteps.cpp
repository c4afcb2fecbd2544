#include "store/SchemaSteps.h"

#include "store/Connection.h"
#include "store/DatabaseError.h"
#include "store/OwnTables.h"
#include "store/Session.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

namespace {

// One addition of a step: a table with its columns, or a column (with its
// type) of a table. Plain SQL that SQLite, PostgreSQL and SQL servers over
// ODBC all take ("ADD" without "COLUMN", no "IF NOT EXISTS").
struct Addition {
    QString table;
    QString column; // empty: the table itself
    QString definition;
};
using Step = QList<Addition>;

const QString kRunsColumns =
    QStringLiteral("run_id VARCHAR(40) NOT NULL, store VARCHAR(10) NOT NULL, loc VARCHAR(40), "
                   "record_count INTEGER, stored_at VARCHAR(24), PRIMARY KEY (run_id, store)");

// Released steps are history: they stay as they are.
const QList<Step>& stepsOf(AliasKind kind) {
    using namespace OwnTables;
    static const QList<Step> local{
        {{kRuns, {}, kRunsColumns}},
        {{kHealth,
          {},
          QStringLiteral(
              "ip VARCHAR(64) NOT NULL PRIMARY KEY, loc VARCHAR(40), descr VARCHAR(80), "
              "last_attempt VARCHAR(24), last_success VARCHAR(24), last_failure VARCHAR(24), "
              "failing_since VARCHAR(24), failure_text VARCHAR(250), failures_in_row INTEGER, "
              "records_last INTEGER, records_today INTEGER, records_day VARCHAR(10), "
              "alerted INTEGER, skipped_cycles INTEGER")}},
        {{kHealth, QStringLiteral("kept_visits"), QStringLiteral("INTEGER")},
         {kHealth, QStringLiteral("other_station"), QStringLiteral("VARCHAR(100)")}},
    };
    static const QList<Step> server{
        {{kRuns, {}, kRunsColumns}},
        {{kLeases,
          {},
          QStringLiteral("point VARCHAR(100) NOT NULL PRIMARY KEY, station VARCHAR(40) NOT NULL, "
                         "host VARCHAR(100), since VARCHAR(24), run_id VARCHAR(40), "
                         "record_count INTEGER, address VARCHAR(100)")},
         {kPending,
          {},
          QStringLiteral("address VARCHAR(100) NOT NULL PRIMARY KEY, run_id VARCHAR(40) NOT NULL, "
                         "record_count INTEGER NOT NULL, sha256 VARCHAR(64) NOT NULL, "
                         "station VARCHAR(40) NOT NULL")}},
    };
    return kind == AliasKind::Local ? local : server;
}

// Rounds of reading the version and applying the next step; more than the
// steps only when other stations apply them at the same time.
int maxRounds(AliasKind kind) {
    return 3 * (int(stepsOf(kind).size()) + 1);
}

// The own tables of one kind in one database.
class OwnSchema {
public:
    OwnSchema(QSqlDatabase db, AliasKind kind, QString name)
        : m_db(std::move(db)), m_kind(kind), m_name(std::move(name)),
          m_driver(driverOfConnection(m_db)) {}

    int recorded();
    int recognised();
    void recordRecognised();
    void applyStep(int version);
    EDatabaseError newer(int version) const;

private:
    QString table(const QString& own) const { return OwnTables::sqlName(own, m_kind, m_driver); }
    QString part() const {
        return m_kind == AliasKind::Local ? QStringLiteral("local") : QStringLiteral("server");
    }
    QSqlRecord columnsOf(const QString& own);
    bool present(const Addition& addition);
    QString statement(const Addition& addition) const;
    QString describe(const Step& step) const;
    int exec(const QString& sql, const QVariantList& values, const QString& failure);
    void begin(const QString& failure);

    QSqlDatabase m_db;
    AliasKind m_kind;
    QString m_name;
    AliasDefinition::Driver m_driver;
};

// A probe outside any transaction (a failed statement would spoil one on
// PostgreSQL): the table's columns, none when it is not there.
QSqlRecord OwnSchema::columnsOf(const QString& own) {
    QSqlQuery probe(m_db);
    if (!probe.exec(QStringLiteral("SELECT * FROM %1 WHERE 1 = 0").arg(table(own))))
        return {};
    return probe.record();
}

bool OwnSchema::present(const Addition& addition) {
    const QSqlRecord columns = columnsOf(addition.table);
    return addition.column.isEmpty() ? !columns.isEmpty() : columns.contains(addition.column);
}

QString OwnSchema::statement(const Addition& addition) const {
    if (addition.column.isEmpty())
        return QStringLiteral("CREATE TABLE %1 (%2)")
            .arg(table(addition.table), addition.definition);
    return QStringLiteral("ALTER TABLE %1 ADD %2 %3")
        .arg(table(addition.table), addition.column, addition.definition);
}

QString OwnSchema::describe(const Step& step) const {
    QStringList what;
    for (const Addition& addition : step)
        what << (addition.column.isEmpty()
                     ? table(addition.table)
                     : table(addition.table) + QLatin1Char('.') + addition.column);
    what.removeDuplicates();
    return what.join(QStringLiteral(", "));
}

// The rows it changed. PostgreSQL prepares no CREATE or ALTER: those run as
// they stand. The statement is freed on return, while its transaction can
// still free it.
int OwnSchema::exec(const QString& sql, const QVariantList& values, const QString& failure) {
    QSqlQuery query(m_db);
    bool done = false;
    if (values.isEmpty()) {
        done = query.exec(sql);
    } else {
        query.prepare(sql);
        for (const QVariant& value : values)
            query.addBindValue(value);
        done = query.exec();
    }
    if (!done)
        throw EDatabaseError(failure + query.lastError().text());
    return query.numRowsAffected();
}

void OwnSchema::begin(const QString& failure) {
    if (!m_db.transaction())
        throw EDatabaseError(failure + m_db.lastError().text());
}

// -1: none recorded (a database from before versions, or a new one).
int OwnSchema::recorded() {
    if (columnsOf(OwnTables::kSchema).isEmpty())
        return -1;
    const auto unreadable = [this](const QString& why) {
        return EDatabaseError(QStringLiteral("No se puede leer la versión de las tablas propias "
                                             "de la estación en la base de datos '%1': %2")
                                  .arg(m_name, why));
    };
    QSqlQuery query(m_db);
    query.prepare(
        QStringLiteral("SELECT version FROM %1 WHERE part = ?").arg(table(OwnTables::kSchema)));
    query.addBindValue(part());
    if (!query.exec())
        throw unreadable(query.lastError().text());
    if (!query.next())
        return -1;
    bool number = false;
    const int version = query.value(0).toString().toInt(&number);
    if (!number || version < 0)
        throw unreadable(
            QStringLiteral("\"%1\" no es un número de versión").arg(query.value(0).toString()));
    return version;
}

int OwnSchema::recognised() {
    int version = 0;
    for (const Step& step : stepsOf(m_kind)) {
        for (const Addition& addition : step)
            if (!present(addition))
                return version;
        ++version;
    }
    return version;
}

// A database from before versions gets the version its tables show. Another
// station may record it at the same time: its record then stands.
void OwnSchema::recordRecognised() {
    const int version = recognised();
    const bool hasTable = !columnsOf(OwnTables::kSchema).isEmpty();
    const QString failure = QStringLiteral("No se puede anotar la versión de las tablas propias "
                                           "de la estación en la base de datos '%1': ")
                                .arg(m_name);
    begin(failure);
    try {
        if (!hasTable)
            exec(QStringLiteral("CREATE TABLE %1 (part VARCHAR(10) NOT NULL PRIMARY KEY, "
                                "version INTEGER NOT NULL)")
                     .arg(table(OwnTables::kSchema)),
                 {}, failure);
        exec(QStringLiteral("INSERT INTO %1 (part, version) VALUES (?, ?)")
                 .arg(table(OwnTables::kSchema)),
             {part(), version}, failure);
        if (!m_db.commit())
            throw EDatabaseError(failure + m_db.lastError().text());
    } catch (const EDatabaseError&) {
        m_db.rollback();
        if (recorded() < 0)
            throw;
    }
}

// The version row is updated first: on a server, a second station applying
// the same step waits on it and then finds the version moved on; the caller
// reads it again.
void OwnSchema::applyStep(int version) {
    const Step& step = stepsOf(m_kind)[version - 1];
    QStringList statements;
    for (const Addition& addition : step)
        if (!present(addition)) // a database from before versions may hold it
            statements << statement(addition);
    const QString failure =
        QStringLiteral("No se puede aplicar el paso %1 de las tablas propias de la estación (%2) "
                       "en la base de datos '%3'; queda en la versión %4: ")
            .arg(version)
            .arg(describe(step), m_name)
            .arg(version - 1);
    begin(failure);
    try {
        const int claimed =
            exec(QStringLiteral("UPDATE %1 SET version = ? WHERE part = ? AND version = ?")
                     .arg(table(OwnTables::kSchema)),
                 {version, part(), version - 1}, failure);
        if (claimed == 0) {
            m_db.rollback();
            return;
        }
        for (const QString& sql : statements)
            exec(sql, {}, failure);
        if (!m_db.commit())
            throw EDatabaseError(failure + m_db.lastError().text());
    } catch (...) {
        m_db.rollback();
        throw;
    }
}

EDatabaseError OwnSchema::newer(int version) const {
    return EDatabaseError(
        QStringLiteral("La base de datos '%1' tiene la versión %2 de las tablas propias de la "
                       "estación y este programa conoce hasta la %3: no se almacena nada en "
                       "ella; actualice el programa.")
            .arg(m_name)
            .arg(version)
            .arg(SchemaSteps::latestVersion(m_kind)));
}

} // namespace

namespace SchemaSteps {

int latestVersion(AliasKind kind) {
    return int(stepsOf(kind).size());
}

int versionOf(QSqlDatabase db, AliasKind kind) {
    OwnSchema schema(std::move(db), kind, QString());
    const int version = schema.recorded();
    return version >= 0 ? version : schema.recognised();
}

void apply(QSqlDatabase db, AliasKind kind, const QString& name, int target) {
    OwnSchema schema(std::move(db), kind, name);
    const int latest = latestVersion(kind);
    if (target < 0 || target > latest)
        target = latest;
    for (int round = 0; round < maxRounds(kind); ++round) {
        const int version = schema.recorded();
        if (version > latest)
            throw schema.newer(version);
        if (version >= target)
            return;
        if (version < 0)
            schema.recordRecognised();
        else
            schema.applyStep(version + 1);
    }
    throw EDatabaseError(QStringLiteral("La versión de las tablas propias de la estación en la "
                                        "base de datos '%1' cambia sin cesar mientras se aplican "
                                        "sus pasos.")
                             .arg(name));
}

void applyTo(const QString& alias, AliasKind kind) {
    apply(TSession::current().connectionFor(alias), kind, alias);
}

} // namespace SchemaSteps
