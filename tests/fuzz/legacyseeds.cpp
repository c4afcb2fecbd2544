// Writes the seed tables of fuzz_legacy with the tests' own table writers
// (pxlib for .DB, shapelib for .DBF): legacyseeds DIR. Each seed is one byte
// choosing the reader ('P' Paradox, 'D' dBASE) and the table file's bytes.

#include "LegacyFiles.h"

#include <QCoreApplication>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTime>
#include <cstdio>

namespace {

bool keep(const QString& table, char reader, const QString& seed) {
    QFile in(table);
    QFile out(seed);
    if (!in.open(QIODevice::ReadOnly) || !out.open(QIODevice::WriteOnly))
        return false;
    return out.write(QByteArray(1, reader) + in.readAll()) > 0;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: legacyseeds DIR\n");
        return 2;
    }
    const QDir seeds(QString::fromLocal8Bit(argv[1]));
    QTemporaryDir work;
    const QString db = work.filePath(QStringLiteral("lectura.DB"));
    writeParadoxFile(db, lecturaColumns(),
                     {{42, QTime(10, 15), QDate(2024, 3, 1), 3, 4711, 1001, "127.0.0.2"},
                      {7, QTime(23, 59, 59), QDate(2024, 3, 17), 3, 0, 1002, QVariant()}});
    const QString dbf = work.filePath(QStringLiteral("personal.DBF"));
    writeDbfFile(dbf, personalColumns(),
                 {{42, QStringLiteral("ANA MARÍA"), QStringLiteral("PÉREZ"), 4711, "A", true},
                  {7, QStringLiteral("JUAN"), QVariant(), 0, QVariant(), false}},
                 QStringLiteral("LDID/87"), {2});
    const bool ok = keep(db, 'P', seeds.filePath(QStringLiteral("lectura-db"))) &&
                    keep(dbf, 'D', seeds.filePath(QStringLiteral("personal-dbf")));
    return ok ? 0 : 1;
}
