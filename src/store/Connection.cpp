#include "store/Connection.h"

#include "store/DatabaseError.h"
#include "store/Schema.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>

namespace {

// Between the alias and the thread in the name of a thread's own connection.
const QString kThreadMark = QStringLiteral("\x1f@thread:");

// Opens the prepared connection, or removes it again and raises.
QSqlDatabase openOrDrop(const QString& name) {
    QString why;
    {
        QSqlDatabase db = QSqlDatabase::database(name, false);
        if (db.open())
            return db;
        why = db.lastError().text();
    }
    QSqlDatabase::removeDatabase(name);
    throw connectError(name, why);
}

// The file is built under a temporary name and renamed when complete: a
// half-built file would otherwise count as an existing database and never be
// completed.
void createEmbeddedFile(const QString& path, const std::set<AliasKind>& kinds) {
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        throw EDatabaseError(QStringLiteral("Cannot create the directory of '%1'").arg(path));
    const QString building = path + QStringLiteral(".new");
    QFile::remove(building);
    // Made empty here so that the umask alone decides who shares the database
    // (SQLite makes its files 0644 at most, its journals as the database).
    if (QFile empty(building); !empty.open(QIODevice::WriteOnly))
        throw EDatabaseError(
            QStringLiteral("Cannot create '%1': %2").arg(building, empty.errorString()));
    const QString name = QStringLiteral("kivo-create:") + path;
    QString failure;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(building);
        try {
            if (!db.open())
                throw EDatabaseError(db.lastError().text());
            for (AliasKind kind : kinds.empty() ? std::set<AliasKind>{AliasKind::Local} : kinds)
                createEmbeddedSchema(db, kind);
        } catch (const EDatabaseError& error) {
            failure = error.message();
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    if (failure.isEmpty() && !QFile::rename(building, path))
        failure = QStringLiteral("cannot rename '%1'").arg(building);
    if (!failure.isEmpty()) {
        QFile::remove(building);
        throw EDatabaseError(QStringLiteral("Cannot create '%1': %2").arg(path, failure));
    }
}

} // namespace

QString connectionName(const QString& alias) {
    const QCoreApplication* app = QCoreApplication::instance();
    QThread* thread = QThread::currentThread();
    if (!app || thread == app->thread())
        return alias;
    return alias + kThreadMark + QString::number(quintptr(thread), 16);
}

QString aliasOfConnection(const QString& name) {
    const qsizetype mark = name.indexOf(kThreadMark);
    return mark < 0 ? name : name.left(mark);
}

EDatabaseError connectError(const QString& name, const QString& why) {
    return EDatabaseError(
        QStringLiteral("Cannot connect to database '%1': %2").arg(aliasOfConnection(name), why));
}

AliasDefinition::Driver driverOfConnection(const QSqlDatabase& db) {
    const QString driver = db.driverName();
    if (driver == QLatin1String("QPSQL"))
        return AliasDefinition::Driver::Postgres;
    if (driver == QLatin1String("QODBC"))
        return AliasDefinition::Driver::Odbc;
    return AliasDefinition::Driver::Sqlite;
}

QSqlDatabase openSqliteConnection(const QString& name, const AliasDefinition& def,
                                  const std::set<AliasKind>& kinds) {
    if (def.embedded && !QFileInfo::exists(def.path))
        createEmbeddedFile(def.path, kinds);
    // SQLite would create a missing file silently; a configured database that
    // is not there is an error, not a new empty database.
    if (!QFileInfo(def.path).isFile())
        throw connectError(name, QStringLiteral("the file '%1' does not exist").arg(def.path));
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
    db.setDatabaseName(def.path);
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
    return openOrDrop(name);
}

QSqlDatabase openPostgresConnection(const QString& name, const AliasDefinition& def,
                                    const QString& user, const QString& password) {
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QPSQL")))
        throw connectError(name, QStringLiteral("the PostgreSQL driver is not installed"));
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
        db.setHostName(def.host);
        db.setPort(def.port);
        db.setDatabaseName(def.database);
        db.setUserName(user);
        db.setPassword(password);
        db.setConnectOptions(QStringLiteral("connect_timeout=%1").arg(def.connectTimeout));
    }
    QSqlDatabase db = openOrDrop(name);
    // "dbo.tickettaxis" and the bare "tickettaxis" must name the same table.
    QSqlQuery query(db);
    if (query.exec(QStringLiteral("SET search_path TO dbo, public")))
        return db;
    const QString why = query.lastError().text();
    query = QSqlQuery();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase(name);
    throw connectError(name, why);
}
