// A point's count file and record file as the storing run reads them, and
// the output line of each record. Input: one byte choosing the decimal
// separator, four bytes of the person's card, one byte giving the length of
// the count file (0 to 3), the count file, then the record file.
//
// Properties: the reader yields size / 20 records and reports a broken tail
// exactly when bytes are left over; each record encodes back to its 20 bytes;
// the output line reads back to the record: code, date and time on the
// point's clock (seconds since 1980-01-01), amount in tenths, account, cost
// centre, card and ticket.

#include "FuzzSupport.h"
#include "collect/Ticket.h"

#include <QDateTime>
#include <QRegularExpression>
#include <QtEndian>

namespace {

const QString kLoc = QStringLiteral("127.0.0.2");
const QString kName = QStringLiteral("ANA PEREZ");

QByteArray encodeRecord(const RegistroTicket& r) {
    QByteArray b(kRecordSize, '\0');
    qToLittleEndian<qint32>(r.Codigo, b.data());
    qToLittleEndian<quint32>(r.Segundos, b.data() + 4);
    qToLittleEndian<quint16>(r.Importe, b.data() + 8);
    qToLittleEndian<qint32>(r.Cuenta, b.data() + 10);
    qToLittleEndian<qint32>(r.Ticket, b.data() + 14);
    qToLittleEndian<quint16>(r.Ceco, b.data() + 18);
    return b;
}

// A number as the line writes it: blanks of a width turned into zeros, so
// -5 reads 00000-5.
qint64 zeroFilledNumber(const QString& field, const QString& line) {
    static const QRegularExpression form(QStringLiteral("^0*(-?[0-9]+)$"));
    const QRegularExpressionMatch m = form.match(field);
    fuzz::check(m.hasMatch(), "a number field of the output line is a number", line);
    return m.captured(1).toLongLong();
}

QString amountText(quint16 tenths, QChar separator) {
    return QString::number(tenths / 10) + separator + QString::number(tenths % 10) +
           QLatin1Char('0');
}

void checkOutputLine(const RegistroTicket& r, const Person& person, QChar separator) {
    const QString line = outputLine(kLoc, r, person, separator);
    QStringList f = line.split(QLatin1Char(','));
    // loc, code, name, date, time, amount (which may hold the separator),
    // account, cost centre, card, ticket
    fuzz::check(f.size() >= 10, "the output line has its fields", line);
    fuzz::check(f.at(0) == kLoc, "the line starts with the point", line);
    fuzz::check(zeroFilledNumber(f.at(1), line) == r.Codigo, "the code reads back", line);
    fuzz::check(f.at(2) == person.name, "the name reads back", line);
    const QDateTime when = QDateTime(QDate(1980, 1, 1), QTime(0, 0), Qt::UTC).addSecs(r.Segundos);
    fuzz::check(f.at(3) == when.toString(QStringLiteral("yyyy/MM/dd")), "the date reads back",
                line + QStringLiteral(" seconds %1").arg(r.Segundos));
    fuzz::check(f.at(4) == when.toString(QStringLiteral("HH:mm:ss")), "the time reads back",
                line + QStringLiteral(" seconds %1").arg(r.Segundos));
    const QStringList amount = f.mid(5, f.size() - 9);
    fuzz::check(amount.join(QLatin1Char(',')) == amountText(r.Importe, separator),
                "the amount reads back in tenths", line);
    const qsizetype n = f.size();
    fuzz::check(zeroFilledNumber(f.at(n - 4), line) == r.Cuenta, "the account reads back", line);
    fuzz::check(zeroFilledNumber(f.at(n - 3), line) == r.Ceco, "the cost centre reads back", line);
    fuzz::check(zeroFilledNumber(f.at(n - 2), line) == person.card, "the card reads back", line);
    fuzz::check(zeroFilledNumber(f.at(n - 1), line) == r.Ticket, "the ticket reads back", line);
}

void checkCountFile(const QByteArray& bytes) {
    const QString path = fuzz::scratch(kCountFile);
    fuzz::writeFile(path, bytes);
    int expected = bytes.size() >= 1 ? quint8(bytes.at(0)) : 0;
    if (bytes.size() >= 2)
        expected += quint8(bytes.at(1)) * 256;
    fuzz::check(leerCantidad(path) == expected, "the count is little-endian, absent bytes 0");
}

void checkRecordFile(const QByteArray& bytes, const Person& person, QChar separator) {
    const QString path = fuzz::scratch(kRecordFile);
    fuzz::writeFile(path, bytes);
    RecordReader reader(path);
    RegistroTicket record;
    qsizetype records = 0;
    RecordReader::Result result;
    while ((result = reader.leerRegistro(record)) == RecordReader::Result::Record) {
        fuzz::check(encodeRecord(record) == bytes.mid(records * kRecordSize, kRecordSize),
                    "a record encodes back to its bytes");
        checkOutputLine(record, person, separator);
        ++records;
    }
    fuzz::check(records == bytes.size() / kRecordSize, "every whole record is read");
    fuzz::check((result == RecordReader::Result::BrokenTail) == (bytes.size() % kRecordSize != 0),
                "a broken tail is reported exactly when bytes are left over");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Input in(data, size);
    const QChar separator = in.byte() & 1 ? QLatin1Char(',') : QLatin1Char('.');
    const Person person{kName, int(in.u32())};
    QByteArray count;
    for (int n = in.byte() % 4; n > 0; --n)
        count += char(in.byte());
    checkCountFile(count);
    checkRecordFile(in.rest(), person, separator);
    return 0;
}
