#include "GridFixture.h"

#include "RegionalFormats.h"

#include "platform/ErrorBox.h"
#include "platform/Regional.h"
#include "platform/Registry.h"
#include "ui/DataSetModel.h"

#include <QCoreApplication>
#include <QSqlError>
#include <QSqlQuery>
#include <QTest>

GridWorld::GridWorld() {
    setOfficeRegionalFormats(QStringLiteral(","));
    setBoxPresenter([this](const QString&, const QString& text, BoxIcon) { boxes << text; });
}

GridWorld::~GridWorld() {
    setBoxPresenter({});
    if (m_postgres) {
        QSqlQuery(localConnection()).exec(QStringLiteral("DROP SCHEMA %1 CASCADE").arg(m_schema));
        m_postgres.reset();
    }
    store.session.closeAll();
}

TTable GridWorld::localTable(const QString& name) const {
    TTable table;
    table.DatabaseName = alias;
    table.TableName = name;
    table.Open();
    return table;
}

QSqlDatabase GridWorld::localConnection() const {
    return TSession::current().connectionFor(alias);
}

int GridWorld::countRows(const QString& sqlTable) const {
    QSqlQuery query(localConnection());
    if (!query.exec(QStringLiteral("SELECT COUNT(*) FROM ") + sqlTable) || !query.next())
        return -1;
    return query.value(0).toInt();
}

int GridWorld::columnOf(TDataSet& dataSet, const QString& field) const {
    for (int i = 0; i < dataSet.FieldCount(); ++i)
        if (dataSet.Fields(i).FieldName().compare(field, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

void GridWorld::addPoints(const QList<Point>& points) {
    TTable table = localTable(QStringLiteral("confRegIP.db"));
    for (const Point& point : points) {
        table.Append();
        table.FieldByName(QStringLiteral("IP")).setAsString(point.ip);
        table.FieldByName(QStringLiteral("Desc")).setAsString(point.desc);
        table.FieldByName(QStringLiteral("Loc")).setAsString(point.loc);
        table.FieldByName(QStringLiteral("Activo")).setAsBoolean(point.activo);
        table.Post();
    }
}

void GridWorld::addPerson(int codigo, const QString& nombres, bool servTaxi) {
    TTable table = localTable(QStringLiteral("personal.DBF"));
    table.Append();
    table.FieldByName(QStringLiteral("CODIGO")).setAsInteger(codigo);
    table.FieldByName(QStringLiteral("NOMBRES")).setAsString(nombres);
    table.FieldByName(QStringLiteral("SERV_TAXI")).setAsBoolean(servTaxi);
    table.Post();
}

void GridWorld::addLog(const QString& archivo) {
    TTable table = localTable(QStringLiteral("log.DB"));
    table.Append();
    table.FieldByName(QStringLiteral("Fecha")).setAsDateTime(encodeDate(2026, 12, 8));
    table.FieldByName(QStringLiteral("Hora")).setAsDateTime(encodeTime(10, 27, 45));
    table.FieldByName(QStringLiteral("Archivo")).setAsString(archivo);
    table.Post();
}

bool GridWorld::usePostgresLocalAlias() {
    const QString server = qEnvironmentVariable("KIVO_TEST_PG");
    if (server.isEmpty())
        return false;
    alias = QStringLiteral("KIVO_PG");
    store.env.writeFile(QStringLiteral("aliases.ini"),
                        QStringLiteral("[KIVO_PG]\nDriver=postgres\nHost=%1\nPort=%2\n"
                                       "Database=kivo_test\n")
                            .arg(server.section(':', 0, 0), server.section(':', 1))
                            .toUtf8());
    m_postgres = std::make_unique<TDatabase>(store.session);
    m_postgres->AliasName = m_postgres->DatabaseName = alias;
    m_schema = QStringLiteral("editors_%1").arg(QCoreApplication::applicationPid());
    // Unquoted names, as a server folds them: the grid must still title the
    // columns as the station spells them.
    for (const QString& sql :
         {QStringLiteral("CREATE SCHEMA %1"), QStringLiteral("SET search_path TO %1"),
          QStringLiteral("CREATE TABLE log (Fecha date, Hora time, Archivo text, "
                         "NroRegAsist integer)"),
          QStringLiteral("CREATE TABLE personal (CODIGO integer, NOMBRES text, APELLIDOS "
                         "text, TARJETA integer, GRUPO integer, SERV_TAXI boolean)")}) {
        QSqlQuery query(localConnection());
        if (!query.exec(sql.contains(QLatin1String("%1")) ? sql.arg(m_schema) : sql))
            qFatal("%s", qPrintable(query.lastError().text()));
    }
    return true;
}

void GridWorld::checkTextRoundTrip(const QString& table, const QString& field, const QString& typed,
                                   const QString& shown, const QVariant& read) {
    TTable edited = localTable(table);
    edited.Close();
    TDataSource source;
    TDataSetModel model(&source);
    source.setDataSet(&edited);
    source.open();
    const int column = columnOf(edited, field);
    QVERIFY(column >= 0);
    QCOMPARE(model.headerData(column, Qt::Horizontal).toString(), field);
    source.insert();
    const int row = source.currentRow();
    QVERIFY(model.setData(model.index(row, column), typed));
    source.post();
    QCOMPARE(model.data(model.index(row, column)).toString(), shown);
    QVERIFY2(boxes.isEmpty(), qPrintable(boxes.join('|')));

    TTable reader = localTable(table);
    reader.Last();
    TField value = reader.FieldByName(field);
    switch (read.typeId()) {
    case QMetaType::Double:
        QCOMPARE(value.AsDateTime(), read.toDouble());
        break;
    case QMetaType::Bool:
        QCOMPARE(value.AsBoolean(), read.toBool());
        break;
    case QMetaType::Int:
        QCOMPARE(value.AsInteger(), read.toInt());
        break;
    default:
        QCOMPARE(value.AsString(), read.toString());
    }
}
