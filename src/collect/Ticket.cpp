#include "collect/Ticket.h"

#include "platform/Errors.h"

#include <QBuffer>
#include <QtEndian>
#include <charconv>

namespace {

// The points' clock counts from 1980, not from the tables' 1899.
TDateTime pointEpoch() {
    static const TDateTime epoch = encodeDate(1980, 1, 1);
    return epoch;
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

RecordReader::RecordReader(const QString& path) : m_device(std::make_unique<QFile>(path)) {
    m_exists = QFile::exists(path) && m_device->open(QIODevice::ReadOnly);
}

RecordReader::RecordReader(const QByteArray& bytes) : m_device(std::make_unique<QBuffer>()) {
    static_cast<QBuffer&>(*m_device).setData(bytes);
    m_exists = m_device->open(QIODevice::ReadOnly);
}

RecordReader::Result RecordReader::leerRegistro(RegistroTicket& record) {
    if (!m_exists)
        return Result::EndOfFile;
    char bytes[kRecordSize];
    const qint64 got = m_device->read(bytes, kRecordSize);
    if (got <= 0)
        return Result::EndOfFile;
    if (got < kRecordSize)
        return Result::BrokenTail;
    record = decodeRecord(bytes);
    return Result::Record;
}

void appendZeroPadded(QString& text, qint64 value, int width) {
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    const int size = int(end - digits);
    for (int k = size; k < width; ++k)
        text += QLatin1Char('0');
    text += QLatin1StringView(digits, size);
}

// Written piece by piece: a run formats 65,535 lines, and a formatted print
// per field cost more than storing the record.
QString outputLine(const QString& loc, const RegistroTicket& r, const Person& person,
                   QChar decimalSeparator) {
    const DateTimeParts t = decodeDateTime(r.FechaHora);
    QString line;
    line.reserve(loc.size() + person.name.size() + 72);
    line += loc;
    line += QLatin1Char(',');
    appendZeroPadded(line, r.Codigo, 5);
    line += QLatin1Char(',');
    line += person.name;
    const std::pair<QLatin1Char, int> date[] = {{QLatin1Char(','), 4}, {QLatin1Char('/'), 2},
                                                {QLatin1Char('/'), 2}, {QLatin1Char(','), 2},
                                                {QLatin1Char(':'), 2}, {QLatin1Char(':'), 2}};
    const int parts[] = {t.year, t.month, t.day, t.hour, t.minute, t.second};
    for (int k = 0; k < 6; ++k) {
        line += date[k].first;
        appendZeroPadded(line, parts[k], date[k].second);
    }
    line += QLatin1Char(',');
    // Tenths as a number with two decimals; the amount never needs padding.
    char amount[16];
    const auto amountEnd =
        std::to_chars(amount, amount + sizeof amount, r.Importe / 10.0, std::chars_format::fixed, 2)
            .ptr;
    for (const char* c = amount; c != amountEnd; ++c)
        line += *c == '.' ? decimalSeparator : QChar(QLatin1Char(*c));
    const std::pair<qint64, int> rest[] = {
        {r.Cuenta, 7}, {r.Ceco, 5}, {person.card, 7}, {r.Ticket, 9}};
    for (const auto& [value, width] : rest) {
        line += QLatin1Char(',');
        appendZeroPadded(line, value, width);
    }
    return line;
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
