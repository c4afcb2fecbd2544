#include "StoreFixture.h"

#include <QDir>
#include <QFile>
#include <QTest>

StoreEnvironment::StoreEnvironment() : m_previousDir(QDir::currentPath()) {
    if (!m_dir.isValid())
        qFatal("no temporary directory");
    QDir(m_dir.path()).mkpath(QStringLiteral("work"));
    qputenv("KIVO_ALIASES", aliasesPath().toLocal8Bit());
    qputenv("KIVO_REGISTRY", path(QStringLiteral("registry.reg")).toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", path(QStringLiteral("config")).toLocal8Bit());
    qputenv("XDG_DATA_HOME", path(QStringLiteral("data")).toLocal8Bit());
    QDir::setCurrent(path(QStringLiteral("work")));
}

StoreEnvironment::~StoreEnvironment() {
    QDir::setCurrent(m_previousDir);
}

void StoreEnvironment::writeFile(const QString& name, const QByteArray& content) const {
    QFile file(path(name));
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        qFatal("cannot write test file");
}

void appendTicket(TDataSet& table, const Ticket& ticket) {
    table.Append();
    table.FieldByName(QStringLiteral("ORIGEN")).setAsString(ticket.origen);
    table.FieldByName(QStringLiteral("LEGAJO")).setAsInteger(ticket.legajo);
    table.FieldByName(QStringLiteral("NOMBRES")).setAsString(QStringLiteral("Pérez Ñandú"));
    table.FieldByName(QStringLiteral("FECHA")).setAsDateTime(ticket.fecha);
    table.FieldByName(QStringLiteral("IMPORTE")).setAsFloat(ticket.importe);
    table.FieldByName(QStringLiteral("CUENTA")).setAsInteger(3);
    table.FieldByName(QStringLiteral("CECO")).setAsInteger(4);
    table.FieldByName(QStringLiteral("TARJETA")).setAsInteger(5);
    table.FieldByName(QStringLiteral("TICKET")).setAsInteger(6);
    table.FieldByName(QStringLiteral("VERIFICADO")).setAsInteger(0);
    table.Post();
}

QStringList dateRangeSql(const QDate& from, const QDate& to) {
    const QString d1 = from.toString(QStringLiteral("yyyyMMdd"));
    const QString d2 = to.toString(QStringLiteral("yyyyMMdd"));
    return {QStringLiteral("SELECT *"), QStringLiteral("FROM tickettaxis"),
            QStringLiteral("WHERE FECHA BETWEEN '") + d1 + QStringLiteral(" 00:00:00' AND '") + d2 +
                QStringLiteral(" 23:59:59'"),
            QStringLiteral("ORDER BY FECHA;")};
}

namespace {
TDateTime at(int month, int day, int h, int m, int s) {
    return encodeDateTime({2031, month, day, h, m, s, 0});
}
} // namespace

void checkDateRange(const QString& alias, const QString& tag) {
    const QList<std::pair<QString, TDateTime>> written = {
        {"last", at(3, 17, 23, 59, 59)},  {"after", at(3, 18, 0, 0, 0)},
        {"first", at(3, 1, 0, 0, 0)},     {"before", at(2, 28, 23, 59, 59)},
        {"middle", at(3, 10, 12, 30, 0)},
    };
    TTable table;
    table.DatabaseName = alias;
    table.TableName = QStringLiteral("dbo.tickettaxis");
    table.Open();
    for (const auto& [name, fecha] : written)
        appendTicket(table, {tag + name, fecha, 12.5, 1});
    table.Close();

    TQuery query;
    query.DatabaseName = alias;
    query.SQL = dateRangeSql(QDate(2031, 3, 1), QDate(2031, 3, 17));
    query.Open();
    QStringList selected;
    QList<TDateTime> times;
    for (query.First(); !query.Eof(); query.Next()) {
        const QString origen = query.Fields(0).AsString();
        if (origen.startsWith(tag)) {
            selected << origen.mid(tag.size());
            times << query.Fields(3).AsDateTime();
        }
    }
    QCOMPARE(selected, QStringList({"first", "middle", "last"}));
    QCOMPARE(times,
             QList<TDateTime>({at(3, 1, 0, 0, 0), at(3, 10, 12, 30, 0), at(3, 17, 23, 59, 59)}));

    query.Close();
    query.SQL = dateRangeSql(QDate(2031, 3, 17), QDate(2031, 3, 1));
    query.Open();
    for (query.First(); !query.Eof(); query.Next())
        QVERIFY(!query.Fields(0).AsString().startsWith(tag));
}
