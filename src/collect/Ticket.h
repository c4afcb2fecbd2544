#pragma once

#include "platform/DateTime.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <memory>
#include <optional>

// The names of a point's files, remote and local. The local record file is one
// file under both spellings ("regAsist.ras" downloaded, "RegAsist.ras" read):
// on a file system that tells case apart both names are this one.
inline const QString kCountFile = QStringLiteral("nroRegAsist.ras");
inline const QString kRecordFile = QStringLiteral("regAsist.ras");
inline const QString kRemoteDeleteName = QStringLiteral("x");
inline const QString kOrfFile = QStringLiteral("regOrf.txt");
constexpr int kRecordSize = 20;

// One decoded 20-byte ticket record; every number little-endian.
struct RegistroTicket {
    qint32 Codigo = 0;
    quint32 Segundos = 0; // since 1980-01-01 00:00:00 on the point's clock
    quint16 Importe = 0;  // tenths of the currency unit
    qint32 Cuenta = 0;
    qint32 Ticket = 0;
    quint16 Ceco = 0;
    TDateTime FechaHora = 0;
};

RegistroTicket decodeRecord(const char* bytes);

// The count of a count file's bytes: 0 to 65535; one byte gives that byte,
// none gives 0, bytes after the second are ignored.
int countOf(const QByteArray& bytes);
// Reads the local count file; raises when it is missing or unreadable.
int leerCantidad(const QString& path = kCountFile);

// Reads the records of a local record file one at a time.
class RecordReader {
public:
    enum class Result { Record, EndOfFile, BrokenTail };
    // A missing file reads as an empty one.
    explicit RecordReader(const QString& path);
    // The bytes of a record file read before (and checked).
    explicit RecordReader(const QByteArray& bytes);
    bool exists() const { return m_exists; }
    // EndOfFile where the next record would begin; BrokenTail when the file
    // ends inside a record (the partial bytes are not returned).
    Result leerRegistro(RegistroTicket& record);

private:
    std::unique_ptr<QIODevice> m_device;
    bool m_exists = false;
};

// The person a ticket's code belongs to, from the personnel table.
struct Person {
    QString name; // NOMBRES + " " + APELLIDOS; empty when the code is unknown
    int card = 0; // TARJETA; 0 when unknown
};

// Appends value as "%<width>d" would write it, with its padding blanks as
// zeros: -5 in a 7-wide column reads 00000-5, as the output files have it.
void appendZeroPadded(QString& text, qint64 value, int width);

// The output line of one record, without its line end. The amount uses the
// given decimal separator.
QString outputLine(const QString& loc, const RegistroTicket& record, const Person& person,
                   QChar decimalSeparator);

// The date-times the local tables take.
TDateTime ticketDate(const RegistroTicket& record);
TDateTime ticketTimeToMinute(const RegistroTicket& record); // lectura.DB
TDateTime ticketTimeToSecond(const RegistroTicket& record); // lecturaBAK.db
