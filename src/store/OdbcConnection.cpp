// The connection of an alias with Driver=odbc: a DSN or a connection string
// handed to Qt's ODBC driver. The server's own SQL dialect applies.
#include "store/Connection.h"

#include "store/DatabaseError.h"

#include <QFileInfo>
#include <QHash>
#include <QSqlError>
#include <sql.h>
#include <sqlext.h>

namespace {

// The installed drivers (odbcinst.ini) or the data sources (odbc.ini) the
// driver manager knows.
QStringList driverManagerNames(bool drivers) {
    SQLHENV env = SQL_NULL_HENV;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env)))
        return {};
    SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    QStringList names;
    SQLCHAR name[512];
    SQLCHAR description[1024];
    SQLSMALLINT nameLength = 0, descriptionLength = 0;
    for (SQLUSMALLINT direction = SQL_FETCH_FIRST;; direction = SQL_FETCH_NEXT) {
        const SQLRETURN rc =
            drivers ? SQLDrivers(env, direction, name, sizeof name, &nameLength, description,
                                 sizeof description, &descriptionLength)
                    : SQLDataSources(env, direction, name, sizeof name, &nameLength, description,
                                     sizeof description, &descriptionLength);
        if (!SQL_SUCCEEDED(rc))
            break;
        names << QString::fromLocal8Bit(reinterpret_cast<const char*>(name));
    }
    SQLFreeHandle(SQL_HANDLE_ENV, env);
    return names;
}

// "KEY=value;KEY={va;lue}" -> upper-case key -> value without braces.
QHash<QString, QString> connectionAttributes(const QString& connection) {
    QHash<QString, QString> attributes;
    qsizetype i = 0;
    while (i < connection.size()) {
        const qsizetype eq = connection.indexOf(QLatin1Char('='), i);
        if (eq < 0)
            break;
        const QString key = connection.mid(i, eq - i).trimmed().toUpper();
        qsizetype end = eq + 1;
        QString value;
        if (end < connection.size() && connection[end] == QLatin1Char('{')) {
            const qsizetype close = connection.indexOf(QLatin1Char('}'), end);
            value = connection.mid(end + 1, (close < 0 ? connection.size() : close) - end - 1);
            end = close < 0 ? connection.size() : close + 1;
        }
        const qsizetype semicolon = connection.indexOf(QLatin1Char(';'), end);
        if (value.isEmpty())
            value = connection.mid(end, (semicolon < 0 ? connection.size() : semicolon) - end);
        attributes.insert(key, value.trimmed());
        i = semicolon < 0 ? connection.size() : semicolon + 1;
    }
    return attributes;
}

bool listed(const QStringList& names, const QString& name) {
    return names.contains(name, Qt::CaseInsensitive);
}

// A driver or data source the driver manager cannot find would only give a
// driver manager message at connect time; say plainly what is missing.
void requireOdbcParts(const QString& name, const QString& connection) {
    if (!connection.contains(QLatin1Char('='))) {
        if (!listed(driverManagerNames(false), connection))
            throw connectError(
                name, QStringLiteral("the ODBC data source '%1' is not defined").arg(connection));
        return;
    }
    const QHash<QString, QString> attributes = connectionAttributes(connection);
    const QString driver = attributes.value(QStringLiteral("DRIVER"));
    if (!driver.isEmpty()) {
        const bool found = driver.contains(QLatin1Char('/'))
                               ? QFileInfo(driver).isFile()
                               : listed(driverManagerNames(true), driver);
        if (!found)
            throw connectError(
                name, QStringLiteral("the ODBC driver '%1' is not installed (installed: %2)")
                          .arg(driver, driverManagerNames(true).join(QStringLiteral(", "))));
    }
    const QString dsn = attributes.value(QStringLiteral("DSN"));
    if (driver.isEmpty() && !dsn.isEmpty() && !listed(driverManagerNames(false), dsn))
        throw connectError(name,
                           QStringLiteral("the ODBC data source '%1' is not defined").arg(dsn));
}

} // namespace

QSqlDatabase openOdbcConnection(const QString& name, const AliasDefinition& def,
                                const QString& user, const QString& password) {
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QODBC")))
        throw connectError(name, QStringLiteral("Qt's ODBC driver is not installed"));
    requireOdbcParts(name, def.connection);
    const QHash<QString, QString> attributes = connectionAttributes(def.connection);
    QString why;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QODBC"), name);
        db.setDatabaseName(def.connection);
        // A login in the connection string wins over the parameter lines.
        if (!attributes.contains(QStringLiteral("UID")))
            db.setUserName(user);
        if (!attributes.contains(QStringLiteral("PWD")))
            db.setPassword(password);
        db.setConnectOptions(QStringLiteral("SQL_ATTR_LOGIN_TIMEOUT=%1").arg(def.connectTimeout));
        if (db.open())
            return db;
        why = db.lastError().text();
    }
    QSqlDatabase::removeDatabase(name);
    throw connectError(name, why);
}
