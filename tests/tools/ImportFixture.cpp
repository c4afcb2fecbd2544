#include "ImportFixture.h"

#include <QCoreApplication>
#include <QDate>
#include <QDateTime>
#include <QFile>
#include <QSqlError>
#include <QSqlQuery>
#include <QTime>
#include <climits>
extern "C" {
#include <paradox.h>
}

namespace {
const QVariant kEmpty;
}

// lecturaBAK.db keeps the seconds that lectura.DB drops.
void OldStation::writeLectura(const QString& name) const {
    const bool backup = name.startsWith(QLatin1String("lecturaBAK"), Qt::CaseInsensitive);
    const QTime time = backup ? QTime(10, 27, 45) : QTime(10, 27);
    writeParadoxFile(path(name), lecturaColumns(),
                     {{1001, time, QDate(2026, 12, 8), 125, 3, 77, QStringLiteral("PLANTA Ñ")},
                      {INT_MAX, QTime(23, 59, 59, 999), QDate(9999, 12, 31), 65535, -INT_MAX,
                       INT_MAX, QStringLiteral("Almacén")},
                      {kEmpty, kEmpty, kEmpty, kEmpty, kEmpty, kEmpty, kEmpty}});
}

void OldStation::writeLog() const {
    writeParadoxFile(
        path(QStringLiteral("log.DB")), logColumns(),
        {{QDate(2026, 12, 8), QTime(10, 28, 1), QStringLiteral("PLANTA Ñ: Sinc. OK"), kEmpty},
         {QDate(2026, 12, 8), QTime(10, 28, 1),
          QStringLiteral("PLANTA Ñ: c:\\kivo\\descarga20261208.txt"), 42}});
}

void OldStation::writeConfRegIP() const {
    writeParadoxFile(
        path(QStringLiteral("confRegIP.db")), confRegIPColumns(),
        {{QStringLiteral("10.0.0.5"), QStringLiteral("Portería Ñandú"), QStringLiteral("PLANTA Ñ"),
          true},
         {QStringLiteral("10.0.0.6"), QStringLiteral("Depósito"), QStringLiteral("DEP"), false},
         {QStringLiteral("10.0.0.7"), kEmpty, QStringLiteral("CAMPO"), kEmpty}});
}

void OldStation::writePersonal(const QList<DbfColumn>& extra) const {
    QList<DbfColumn> columns = personalColumns() + extra;
    LegacyRows rows = {
        {1001, QStringLiteral("JOSÉ MARÍA"), QStringLiteral("MUÑOZ"), 4242, QStringLiteral("3"),
         true},
        {2147483647, QStringLiteral("ÁNGELA"), QStringLiteral("PEÑA"), 2147483647,
         QStringLiteral("12"), false},
        {7, kEmpty, kEmpty, kEmpty, kEmpty, kEmpty},
        {8, QStringLiteral("BORRADO"), QStringLiteral("X"), 1, QStringLiteral("1"), true}};
    for (QVariantList& row : rows)
        for (int i = 0; i < extra.size(); ++i)
            row << QStringLiteral("x");
    writeDbfFile(path(QStringLiteral("personal.DBF")), columns, rows, QStringLiteral("LDID/87"),
                 {4});
}

void OldStation::writeCeco() const {
    writeDbfFile(path(QStringLiteral("ceco.DBF")), cecoColumns(),
                 {{10, 5, 2}, {2147483647, -2147483647, 0}});
}

void OldStation::writeAll() const {
    writeLectura();
    writeLectura(QStringLiteral("lecturaBAK.db"));
    writeLog();
    writeConfRegIP();
    writePersonal();
    writeCeco();
}

int rowsOf(const QString& alias, const QString& table) {
    TTable t;
    t.DatabaseName = alias;
    t.TableName = table;
    t.Open();
    return t.RecordCount();
}

namespace {
const QString kAdmin = QStringLiteral("kivo-test-admin");

QSqlDatabase connectTo(const QString& connection, const QString& database) {
    const QString server = qEnvironmentVariable("KIVO_TEST_PG");
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), connection);
    db.setHostName(server.section(':', 0, 0));
    db.setPort(server.section(':', 1).toInt());
    db.setDatabaseName(database);
    db.setUserName(QStringLiteral("JUX"));
    db.setPassword(QStringLiteral("60728"));
    if (!db.open())
        qWarning("%s", qPrintable(db.lastError().text()));
    return db;
}

QStringList localTableStatements() {
    QFile script(qEnvironmentVariable("KIVO_SOURCE_DIR") +
                 QStringLiteral("/tools/sql/localtables.sql"));
    if (!script.open(QIODevice::ReadOnly))
        return {};
    QStringList statements;
    for (const QString& part : QString::fromUtf8(script.readAll()).split(QLatin1Char(';')))
        if (part.contains(QLatin1String("CREATE")))
            statements << part;
    return statements;
}
} // namespace

PostgresLocalDatabase::PostgresLocalDatabase(const StoreEnvironment& env, const QString& alias,
                                             bool readOnly)
    : m_name(QStringLiteral("kivo_import_%1_%2")
                 .arg(QCoreApplication::applicationPid())
                 .arg(alias.toLower())) {
    const QString server = qEnvironmentVariable("KIVO_TEST_PG");
    connectTo(kAdmin, QStringLiteral("kivo_test"));
    admin(QStringLiteral("DROP DATABASE IF EXISTS %1").arg(m_name));
    if (!admin(QStringLiteral("CREATE DATABASE %1").arg(m_name)))
        return;
    bool created = true;
    {
        QSqlDatabase db = connectTo(QStringLiteral("kivo-test-tables"), m_name);
        for (const QString& statement : localTableStatements())
            created = QSqlQuery(db).exec(statement) && created;
        created = created && localTableStatements().size() == 6;
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("kivo-test-tables"));
    if (readOnly)
        created = admin(QStringLiteral("ALTER DATABASE %1 SET default_transaction_read_only = on")
                            .arg(m_name)) &&
                  created;
    env.writeFile(QStringLiteral("aliases.ini"),
                  QStringLiteral("[%1]\nDriver=postgres\nHost=%2\nPort=%3\nDatabase=%4\n")
                      .arg(alias, server.section(':', 0, 0), server.section(':', 1), m_name)
                      .toUtf8());
    // The local alias has no login lines: libpq takes the login from its environment.
    qputenv("PGUSER", "JUX");
    qputenv("PGPASSWORD", "60728");
    m_valid = created;
}

PostgresLocalDatabase::~PostgresLocalDatabase() {
    admin(QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)").arg(m_name));
    QSqlDatabase::removeDatabase(kAdmin);
}

bool PostgresLocalDatabase::admin(const QString& sql) {
    QSqlQuery query(QSqlDatabase::database(kAdmin, false));
    if (query.exec(sql))
        return true;
    qWarning("%s: %s", qPrintable(sql), qPrintable(query.lastError().text()));
    return false;
}
