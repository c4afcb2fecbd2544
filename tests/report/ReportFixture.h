#pragma once

#include "platform/DateTime.h"
#include "store/StoreFixture.h"

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>
#include <memory>

// One row of the server table with every exported column chosen by the test.
struct TicketRow {
    QString origen;
    int legajo = 0;
    QString nombres;
    TDateTime fecha = 0;
    double importe = 0;
    int cuenta = 0, ceco = 0, tarjeta = 0, ticket = 0;
};
void appendTicketRow(TDataSet& table, const TicketRow& row);
void appendTicketRows(const QString& alias, const QList<TicketRow>& rows);

// The regional values under "\Control Panel\International", read again.
void setInternational(const QMap<QString, QString>& values);
// Short date dd/MM/yyyy, long time HH:mm:ss, "/" and the decimal separator given.
void setSpanishRegion(const QString& decimal = QStringLiteral(","));

QByteArray readFileBytes(const QString& path);

// Output of a command-line tool (pdftotext, pdfinfo, unzip); fails the test
// when it cannot run.
QByteArray toolOutput(const QString& program, const QStringList& arguments);

// The XML of one cell of a worksheet ("B6"), empty when absent.
QString cellXml(const QString& sheet, const QString& reference);

// A store environment whose server alias is the test PostgreSQL
// ($KIVO_TEST_PG); null when the variable is unset.
struct PostgresWorld {
    PostgresWorld();
    ~PostgresWorld();
    StoreEnvironment env;
    TSession session;
    std::unique_ptr<TDatabase> database;
    // Removes the rows whose ORIGEN starts with the tag.
    void removeTagged(const QString& tag);
};
std::unique_ptr<PostgresWorld> makePostgresWorld();
