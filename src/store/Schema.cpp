#include "store/Schema.h"

#include "store/DatabaseError.h"
#include "store/SchemaSteps.h"

#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>

namespace {

using K = FieldKind;

QList<ColumnDef> ticketColumns() {
    return {{QStringLiteral("Codigo"), K::Integer}, {QStringLiteral("Hora"), K::Time},
            {QStringLiteral("Fecha"), K::Date},     {QStringLiteral("Loc"), K::Integer},
            {QStringLiteral("Cta"), K::Integer},    {QStringLiteral("NroTicket"), K::Integer},
            {QStringLiteral("Origen"), K::Text}};
}

QList<TableDef> buildLocalTables() {
    return {
        {QStringLiteral("lectura"), ticketColumns()},
        {QStringLiteral("lecturaBAK"), ticketColumns()},
        {QStringLiteral("log"),
         {{QStringLiteral("Fecha"), K::Date},
          {QStringLiteral("Hora"), K::Time},
          {QStringLiteral("Archivo"), K::Text},
          {QStringLiteral("NroRegAsist"), K::Integer}}},
        {QStringLiteral("confRegIP"),
         {{QStringLiteral("IP"), K::Text},
          {QStringLiteral("Desc"), K::Text},
          {QStringLiteral("Loc"), K::Text},
          {QStringLiteral("Activo"), K::Logical}}},
        {QStringLiteral("personal"),
         {{QStringLiteral("CODIGO"), K::Integer},
          {QStringLiteral("NOMBRES"), K::Text},
          {QStringLiteral("APELLIDOS"), K::Text},
          {QStringLiteral("TARJETA"), K::Integer},
          {QStringLiteral("GRUPO"), K::Integer},
          {QStringLiteral("SERV_TAXI"), K::Logical}}},
        {QStringLiteral("ceco"),
         {{QStringLiteral("CECO"), K::Integer},
          {QStringLiteral("OVERTIME"), K::Integer},
          {QStringLiteral("VIAJES"), K::Integer}}},
    };
}

// The order of the first ten columns is relied on by the export.
TableDef buildServerTable() {
    return {QStringLiteral("tickettaxis"),
            {{QStringLiteral("ORIGEN"), K::Text},
             {QStringLiteral("LEGAJO"), K::Integer},
             {QStringLiteral("NOMBRES"), K::Text},
             {QStringLiteral("FECHA"), K::DateTime},
             {QStringLiteral("IMPORTE"), K::Float},
             {QStringLiteral("CUENTA"), K::Integer},
             {QStringLiteral("CECO"), K::Integer},
             {QStringLiteral("TARJETA"), K::Integer},
             {QStringLiteral("TICKET"), K::Integer},
             {QStringLiteral("VERIFICADO"), K::Integer}}};
}

QString createStatement(const QSqlDatabase& db, const TableDef& table) {
    QStringList columns;
    // Quoted, since "Desc" is a keyword.
    for (const ColumnDef& column : table.columns)
        columns << db.driver()->escapeIdentifier(column.name, QSqlDriver::FieldName) +
                       QLatin1Char(' ') + column.sqliteType();
    return QStringLiteral("CREATE TABLE %1 (%2)")
        .arg(db.driver()->escapeIdentifier(table.name, QSqlDriver::TableName),
             columns.join(QStringLiteral(", ")));
}

} // namespace

// Date-time types get NUMERIC affinity in SQLite; the stored texts are never
// well-formed numbers, so they stay text and compare as text.
QString ColumnDef::sqliteType() const {
    switch (kind) {
    case K::Integer:
        return QStringLiteral("INTEGER");
    case K::Float:
        return QStringLiteral("DOUBLE");
    case K::Text:
        return QStringLiteral("TEXT");
    case K::Logical:
        return QStringLiteral("BOOLEAN");
    case K::Date:
        return QStringLiteral("DATE");
    case K::Time:
        return QStringLiteral("TIME");
    case K::DateTime:
        return QStringLiteral("TIMESTAMP");
    }
    return QStringLiteral("TEXT");
}

const QList<TableDef>& localTables() {
    static const QList<TableDef> tables = buildLocalTables();
    return tables;
}

const TableDef& serverTable() {
    static const TableDef table = buildServerTable();
    return table;
}

const ColumnDef* findColumn(const QString& table, const QString& column) {
    auto inTable = [&](const TableDef& def) -> const ColumnDef* {
        if (def.name.compare(table, Qt::CaseInsensitive) != 0)
            return nullptr;
        for (const ColumnDef& c : def.columns)
            if (c.name.compare(column, Qt::CaseInsensitive) == 0)
                return &c;
        return nullptr;
    };
    for (const TableDef& def : localTables())
        if (const ColumnDef* c = inTable(def))
            return c;
    return inTable(serverTable());
}

bool isDateTimeColumn(const QString& column) {
    auto dated = [&](const TableDef& def) {
        for (const ColumnDef& c : def.columns)
            if (c.name.compare(column, Qt::CaseInsensitive) == 0 &&
                (c.kind == K::Date || c.kind == K::Time || c.kind == K::DateTime))
                return true;
        return false;
    };
    for (const TableDef& def : localTables())
        if (dated(def))
            return true;
    return dated(serverTable());
}

void createEmbeddedSchema(QSqlDatabase& db, AliasKind kind) {
    const QList<TableDef> tables =
        kind == AliasKind::Local ? localTables() : QList<TableDef>{serverTable()};
    for (const TableDef& table : tables) {
        QSqlQuery query(db);
        if (!query.exec(createStatement(db, table)))
            throw EDatabaseError(QStringLiteral("Cannot create table '%1': %2")
                                     .arg(table.name, query.lastError().text()));
    }
    SchemaSteps::apply(db, kind, db.databaseName());
}
