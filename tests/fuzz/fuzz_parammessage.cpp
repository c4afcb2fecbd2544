// The parameter message pushed to a point, built from arbitrary personnel
// rows (card, first names, surnames, group, code) and cost-centre rows.
// Input: a byte counting the people and one counting the cost centres, then
// for each person four numbers and two texts ended by NUL (UTF-8), then three
// numbers per cost centre.
//
// Property: the message decodes, as a point reads it, to the rows: counts,
// 40-byte person records (the name in Windows-1252 as the push encodes it,
// cut to 30 bytes, NUL-filled), 6-byte cost-centre records with the low 16
// bits of each number, and a CRC-16/ARC of everything before it.

#include "FuzzSupport.h"
#include "collect/ParamMessage.h"
#include "platform/TextCodec.h"

#include <QtEndian>

namespace {

// CRC-16/ARC as a point computes it: reflected polynomial 0xA001, initial 0.
quint16 crc16Arc(const QByteArray& bytes) {
    quint16 crc = 0;
    for (char c : bytes) {
        crc ^= quint8(c);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? quint16((crc >> 1) ^ 0xA001) : quint16(crc >> 1);
    }
    return crc;
}

QByteArray expectedName(const QByteArray& name) {
    QByteArray field = name.left(30);
    return field + QByteArray(30 - field.size(), '\0');
}

void checkMessage(const QByteArray& m, const QList<PersonEntry>& people,
                  const QList<CecoEntry>& cecos) {
    const qsizetype size = 4 + 40 * people.size() + 6 * cecos.size() + 2;
    fuzz::check(m.size() == size, "the message has its length");
    const char* b = m.constData();
    fuzz::check(qFromLittleEndian<quint16>(b) == people.size(), "the personnel count");
    fuzz::check(qFromLittleEndian<quint16>(b + 2) == cecos.size(), "the cost-centre count");
    const char* at = b + 4;
    for (const PersonEntry& p : people) {
        fuzz::check(qFromLittleEndian<qint32>(at) == p.tarjeta, "a card reads back");
        fuzz::check(QByteArray(at + 4, 30) == expectedName(p.name), "a name reads back",
                    QString::fromLatin1(p.name.toHex()));
        fuzz::check(qFromLittleEndian<quint16>(at + 34) == quint16(p.grupo), "a group reads back");
        fuzz::check(qFromLittleEndian<qint32>(at + 36) == p.codigo, "a code reads back");
        at += 40;
    }
    for (const CecoEntry& c : cecos) {
        fuzz::check(qFromLittleEndian<quint16>(at) == quint16(c.ceco) &&
                        qFromLittleEndian<quint16>(at + 2) == quint16(c.overtime) &&
                        qFromLittleEndian<quint16>(at + 4) == quint16(c.viajes),
                    "a cost centre reads back");
        at += 6;
    }
    const QByteArray body = m.left(size - 2);
    fuzz::check(qFromLittleEndian<quint16>(at) == crc16Arc(body), "the CRC is CRC-16/ARC");
    CrcRegister reg;
    reg.CalcularCRCString(m, int(m.size()) - 2);
    fuzz::check(reg.crcActual == crc16Arc(body), "the station's register holds the same CRC");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Input in(data, size);
    const int personCount = in.byte() * 3; // up to 765: past the 750 a point takes
    const int cecoCount = in.byte();
    QList<PersonEntry> people;
    for (int i = 0; i < personCount && !in.empty(); ++i) {
        PersonEntry p;
        p.tarjeta = qint32(in.u32());
        p.grupo = int(in.u32());
        p.codigo = qint32(in.u32());
        const QString nombres = QString::fromUtf8(in.until('\0'));
        const QString apellidos = QString::fromUtf8(in.until('\0'));
        // as the push builds it from the personnel row
        p.name = toCp1252(nombres + QLatin1Char(' ') + apellidos);
        people << p;
    }
    QList<CecoEntry> cecos;
    for (int i = 0; i < cecoCount && !in.empty(); ++i)
        cecos << CecoEntry{int(in.u32()), int(in.u32()), int(in.u32())};
    checkMessage(parameterMessage(people, cecos), people, cecos);
    return 0;
}
