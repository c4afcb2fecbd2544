#include "collect/Ticket.h"

#include "platform/Errors.h"

#include <QtEndian>

namespace {

// The points' clock counts from 1980, not from the tables' 1899.
TDateTime pointEpoch() {
    static const TDateTime epoch = encodeDate(1980, 1, 1);
    return epoch;
}

// A width such as %5d fills with blanks; every blank becomes "0" afterwards,
// so -5 in a 7-wide column reads 00000-5.
QString zeroFilled(QString text) {
    return text.replace(QLatin1Char(' '), QLatin1Char('0'));
}

} // namespace

RegistroTicket decodeRecord(const char* b) {
    RegistroTicket r;
    r.Codigo = qFromLittleEndian<qint32>(b);
    r.Segundos = qFromLittleEndian<quint32>(b + 4);
    r.Importe = qFromLittleEndian<quint16>(b + 8);
    r.Cuenta = qFromLittleEndian<qint32>(b + 10);
    r.Ticket = qFromLittleEndian<qint32>(b + 14);
    r.Ceco = qFromLittleEndian<quint16>(b + 18);
    r.FechaHora = pointEpoch() + static_cast<double>(r.Segundos) / 60 / 60 / 24;
    return r;
}

int countOf(const QByteArray& bytes) {
    int count = 0;
    if (bytes.size() >= 1)
        count = static_cast<quint8>(bytes.at(0));
    if (bytes.size() >= 2)
        count += static_cast<quint8>(bytes.at(1)) * 256;
    return count;
}

int leerCantidad(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw Exception(
            QStringLiteral("Cannot open file \"%1\". %2").arg(path, file.errorString()));
    return countOf(file.read(2));
}

RecordReader::RecordReader(const QString& path) : m_file(path) {
    m_exists = m_file.exists() && m_file.open(QIODevice::ReadOnly);
}

RecordReader::Result RecordReader::leerRegistro(RegistroTicket& record) {
    if (!m_exists)
        return Result::EndOfFile;
    char bytes[kRecordSize];
    const qint64 got = m_file.read(bytes, kRecordSize);
    if (got <= 0)
        return Result::EndOfFile;
    if (got < kRecordSize)
        return Result::BrokenTail;
    record = decodeRecord(bytes);
    return Result::Record;
}

QString outputLine(const QString& loc, const RegistroTicket& r, const Person& person,
                   QChar decimalSeparator) {
    const DateTimeParts t = decodeDateTime(r.FechaHora);
    const QString a = zeroFilled(QString::asprintf("%5d,", r.Codigo));
    QString amount = zeroFilled(QString::asprintf("%2.2f", r.Importe / 10.0));
    amount.replace(QLatin1Char('.'), decimalSeparator);
    const QString when = zeroFilled(QString::asprintf(",%4d/%2d/%2d,%2d:%2d:%2d,", t.year, t.month,
                                                      t.day, t.hour, t.minute, t.second));
    const QString rest =
        zeroFilled(QString::asprintf(",%7d,%5d,%7d,%9d", r.Cuenta, r.Ceco, person.card, r.Ticket));
    return loc + QLatin1Char(',') + a + person.name + when + amount + rest;
}

TDateTime ticketDate(const RegistroTicket& r) {
    const DateTimeParts t = decodeDateTime(r.FechaHora);
    return encodeDate(t.year, t.month, t.day);
}

TDateTime ticketTimeToMinute(const RegistroTicket& r) {
    const DateTimeParts t = decodeDateTime(r.FechaHora);
    return encodeTime(t.hour, t.minute, 0);
}

TDateTime ticketTimeToSecond(const RegistroTicket& r) {
    const DateTimeParts t = decodeDateTime(r.FechaHora);
    return encodeTime(t.hour, t.minute, t.second, t.msec);
}
