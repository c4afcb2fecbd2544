#include "ImportFixture.h"

#include <QDate>
#include <QDateTime>
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
