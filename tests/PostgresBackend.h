#pragma once

// Ends the server process behind a connection to the test PostgreSQL
// ($KIVO_TEST_PG), from a second connection, as a server restart would.

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>

inline bool terminatePostgresBackend(const QSqlDatabase& connection) {
    QSqlQuery pid(connection);
    if (!pid.exec(QStringLiteral("SELECT pg_backend_pid()")) || !pid.next())
        return false;
    const QString server = qEnvironmentVariable("KIVO_TEST_PG");
    bool done = false;
    {
        QSqlDatabase db =
            QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("killer"));
        db.setHostName(server.section(':', 0, 0));
        db.setPort(server.section(':', 1).toInt());
        db.setDatabaseName(QStringLiteral("kivo_test"));
        db.setUserName(QStringLiteral("JUX"));
        db.setPassword(QStringLiteral("60728"));
        QSqlQuery kill(db);
        done = db.open() &&
               kill.exec(
                   QStringLiteral("SELECT pg_terminate_backend(%1)").arg(pid.value(0).toInt())) &&
               kill.next() && kill.value(0).toBool();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("killer"));
    return done;
}
