#pragma once

#include <QList>
#include <QString>
#include <QVariant>

// Table files of an old station, written for the tests with the libraries
// that read them: pxlib writes the .DB files, shapelib the .DBF files.
// A cell is null (empty), QString (text, encoded in the table's code page),
// QByteArray (text bytes as they stand), int, double, bool, QDate, QTime or
// QDateTime; a Date or Time field also takes its raw whole number (int).
using LegacyRows = QList<QVariantList>;

struct ParadoxColumn {
    QString name;
    char type; // pxfAlpha, pxfShort, pxfLong, pxfNumber, pxfLogical, pxfDate, pxfTime, pxfTimestamp
               // ...
    int length = 0; // Alpha: characters; other types take their fixed size
};
void writeParadoxFile(const QString& path, const QList<ParadoxColumn>& columns,
                      const LegacyRows& rows, int codePage = 1252);

struct DbfColumn {
    QString name;
    char type; // 'C', 'N', 'L', 'D'
    int width;
    int decimals = 0;
};
// codePage as shapelib takes it: "LDID/87" (Windows ANSI), "LDID/2" (DOS 850).
// deletedRows are 1-based.
void writeDbfFile(const QString& path, const QList<DbfColumn>& columns, const LegacyRows& rows,
                  const QString& codePage = QStringLiteral("LDID/87"),
                  const QList<int>& deletedRows = {});

// The columns of the six tables as an old station has them.
QList<ParadoxColumn> lecturaColumns();
QList<ParadoxColumn> logColumns();
QList<ParadoxColumn> confRegIPColumns();
QList<DbfColumn> personalColumns();
QList<DbfColumn> cecoColumns();
