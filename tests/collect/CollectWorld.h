#pragma once

// A temporary world for one point's work: registry, alias configuration, data
// and working directory in a temporary directory; the embedded databases of
// the local alias KIVO_1 and the server alias (JUXRegs, or PostgreSQL as
// PGSERVER when asked and KIVO_TEST_PG is set).

#include "PointHarness.h"
#include "StationEnvironment.h"
#include "store/DataSet.h"

#include <QDir>
#include <QFile>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>

class CollectWorld {
public:
    explicit CollectWorld(bool postgresServer = false) : m_previous(QDir::currentPath()) {
        QString aliases;
        if (postgresServer) {
            const QString pg = qEnvironmentVariable("KIVO_TEST_PG");
            aliases = QStringLiteral(
                          "[PGSERVER]\nDriver=postgres\nHost=%1\nPort=%2\nDatabase=kivo_test\n")
                          .arg(pg.section(QLatin1Char(':'), 0, 0), pg.section(QLatin1Char(':'), 1));
            serverAlias = QStringLiteral("PGSERVER");
        }
        QFile f(path(QStringLiteral("aliases.ini")));
        if (f.open(QIODevice::WriteOnly))
            f.write(aliases.toUtf8());
        f.close();
        useStationEnvironment(m_dir);
        server.AliasName = server.DatabaseName = serverAlias;
        session.DeclareAlias(localAlias, AliasKind::Local);
        if (serverAlias != QLatin1String("NONE"))
            session.DeclareAlias(serverAlias, AliasKind::Server);
    }
    ~CollectWorld() { QDir::setCurrent(m_previous); }

    QString path(const QString& name) const { return m_dir.filePath(name); }
    QString workDir() const { return path(QStringLiteral("work")); }
    QString outputPath() const { return path(QStringLiteral("salida.txt")); }

    QString localAlias = QStringLiteral("KIVO_1");
    QString serverAlias = QStringLiteral("JUXRegs");

private:
    QTemporaryDir m_dir;
    QString m_previous;

public:
    // Serves the checks made while no harness lives; its connections go with
    // the world, so the next world never finds one to a removed file.
    TSession session;
    TDatabase server{session};
};

// Runs a statement on an alias's connection; its rows as lists of values.
inline QList<QVariantList> rowsOf(const QString& alias, const QString& sql) {
    QSqlQuery query(TSession::current().connectionFor(alias));
    QList<QVariantList> rows;
    if (!query.exec(sql))
        qFatal("%s: %s", qPrintable(sql), qPrintable(query.lastError().text()));
    while (query.next()) {
        QVariantList row;
        for (int i = 0; i < query.record().count(); ++i)
            row << query.value(i);
        rows << row;
    }
    return rows;
}

inline void addPerson(const QString& alias, int codigo, const QString& nombres,
                      const QString& apellidos, int tarjeta, bool taxi = true, int grupo = 1) {
    TTable t;
    t.DatabaseName = alias;
    t.TableName = QStringLiteral("personal.DBF");
    t.Open();
    t.Append();
    t.FieldByName(QStringLiteral("CODIGO")).setAsInteger(codigo);
    t.FieldByName(QStringLiteral("NOMBRES")).setAsString(nombres);
    t.FieldByName(QStringLiteral("APELLIDOS")).setAsString(apellidos);
    t.FieldByName(QStringLiteral("TARJETA")).setAsInteger(tarjeta);
    t.FieldByName(QStringLiteral("GRUPO")).setAsInteger(grupo);
    t.FieldByName(QStringLiteral("SERV_TAXI")).setAsBoolean(taxi);
    t.Post();
    t.Close();
}

inline void addCeco(const QString& alias, int ceco, int overtime, int viajes) {
    TTable t;
    t.DatabaseName = alias;
    t.TableName = QStringLiteral("ceco.DBF");
    t.Open();
    t.Append();
    t.FieldByName(QStringLiteral("CECO")).setAsInteger(ceco);
    t.FieldByName(QStringLiteral("OVERTIME")).setAsInteger(overtime);
    t.FieldByName(QStringLiteral("VIAJES")).setAsInteger(viajes);
    t.Post();
    t.Close();
}
