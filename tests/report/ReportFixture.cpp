#include "ReportFixture.h"

#include "platform/Regional.h"
#include "platform/Registry.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlQuery>
#include <QTest>

void appendTicketRow(TDataSet& table, const TicketRow& row) {
    table.Append();
    table.FieldByName(QStringLiteral("ORIGEN")).setAsString(row.origen);
    table.FieldByName(QStringLiteral("LEGAJO")).setAsInteger(row.legajo);
    table.FieldByName(QStringLiteral("NOMBRES")).setAsString(row.nombres);
    table.FieldByName(QStringLiteral("FECHA")).setAsDateTime(row.fecha);
    table.FieldByName(QStringLiteral("IMPORTE")).setAsFloat(row.importe);
    table.FieldByName(QStringLiteral("CUENTA")).setAsInteger(row.cuenta);
    table.FieldByName(QStringLiteral("CECO")).setAsInteger(row.ceco);
    table.FieldByName(QStringLiteral("TARJETA")).setAsInteger(row.tarjeta);
    table.FieldByName(QStringLiteral("TICKET")).setAsInteger(row.ticket);
    table.FieldByName(QStringLiteral("VERIFICADO")).setAsInteger(0);
    table.Post();
}

void appendTicketRows(const QString& alias, const QList<TicketRow>& rows) {
    TTable table;
    table.DatabaseName = alias;
    table.TableName = QStringLiteral("dbo.tickettaxis");
    table.Open();
    for (const TicketRow& row : rows)
        appendTicketRow(table, row);
    table.Close();
}

void setInternational(const QMap<QString, QString>& values) {
    TRegistry registry;
    if (!registry.OpenKey(QStringLiteral("\\Control Panel\\International"), true))
        qFatal("cannot open the regional key");
    for (auto it = values.begin(); it != values.end(); ++it)
        registry.WriteString(it.key(), it.value());
    registry.CloseKey();
    reloadFormatSettings();
}

void setSpanishRegion(const QString& decimal) {
    setInternational({{"sShortDate", "dd/MM/yyyy"},
                      {"sLongTime", "HH:mm:ss"},
                      {"sDate", "/"},
                      {"sTime", ":"},
                      {"sDecimal", decimal}});
}

QByteArray readFileBytes(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

QByteArray toolOutput(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(60000) || process.exitCode() != 0) {
        QTest::qFail(qPrintable(program + QStringLiteral(" failed: ") +
                                QString::fromLocal8Bit(process.readAllStandardError())),
                     __FILE__, __LINE__);
        return {};
    }
    return process.readAllStandardOutput();
}

QString cellXml(const QString& sheet, const QString& reference) {
    const QRegularExpression cell(QStringLiteral("<c r=\"%1\"[^>]*(/>|>.*?</c>)").arg(reference));
    return cell.match(sheet).captured(0);
}

PostgresWorld::PostgresWorld() {
    const QString server = qEnvironmentVariable("KIVO_TEST_PG");
    env.writeFile(
        QStringLiteral("aliases.ini"),
        QStringLiteral("[JUXRegs]\nDriver=postgres\nHost=%1\nPort=%2\nDatabase=kivo_test\n")
            .arg(server.section(':', 0, 0), server.section(':', 1))
            .toUtf8());
    session.DeclareAlias(QStringLiteral("JUXRegs"), AliasKind::Server);
    database = std::make_unique<TDatabase>(session);
    database->AliasName = database->DatabaseName = QStringLiteral("JUXRegs");
}

PostgresWorld::~PostgresWorld() {
    database.reset();
}

void PostgresWorld::removeTagged(const QString& tag) {
    QSqlQuery query(session.connectionFor(QStringLiteral("JUXRegs")));
    query.prepare(QStringLiteral("DELETE FROM dbo.tickettaxis WHERE ORIGEN LIKE ?"));
    query.addBindValue(tag + QLatin1Char('%'));
    if (!query.exec())
        qWarning("could not remove the test rows");
}

std::unique_ptr<PostgresWorld> makePostgresWorld() {
    if (qEnvironmentVariableIsEmpty("KIVO_TEST_PG"))
        return nullptr;
    return std::make_unique<PostgresWorld>();
}
