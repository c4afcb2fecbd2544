#include "collect/ParamMessage.h"

#include <QtEndian>

void CrcRegister::CalcularCRCString(const QByteArray& data, int length) {
    const int n = std::min<qsizetype>(length, data.size());
    for (int i = 0; i < n; ++i)
        CalcularCRCByte(static_cast<quint8>(data.at(i)));
}

// Each byte from its least significant bit on.
void CrcRegister::CalcularCRCByte(quint8 byte) {
    for (int j = 0; j < 8; ++j) {
        const bool b = ((byte >> j) ^ crcActual) & 1;
        crcActual = static_cast<quint16>(crcActual >> 1);
        if (b)
            crcActual ^= 0xA001;
    }
}

namespace {

void append16(QByteArray& out, int value) {
    char b[2];
    qToLittleEndian<quint16>(static_cast<quint16>(value & 0xFFFF), b);
    out.append(b, 2);
}

void append32(QByteArray& out, qint32 value) {
    char b[4];
    qToLittleEndian<qint32>(value, b);
    out.append(b, 4);
}

// The name, its NUL and zero filler in 30 bytes; a name of 30 bytes or more
// is cut to 30 without NUL.
QByteArray nameField(const QByteArray& name) {
    QByteArray field = name.left(30);
    field.append(QByteArray(30 - field.size(), '\0'));
    return field;
}

} // namespace

QByteArray parameterMessage(const QList<PersonEntry>& people, const QList<CecoEntry>& cecos) {
    QByteArray message;
    message.reserve(4 + 40 * people.size() + 6 * cecos.size() + 2);
    append16(message, static_cast<int>(people.size()));
    append16(message, static_cast<int>(cecos.size()));
    for (const PersonEntry& p : people) {
        append32(message, p.tarjeta);
        message += nameField(p.name);
        append16(message, p.grupo);
        append32(message, p.codigo);
    }
    for (const CecoEntry& c : cecos) {
        append16(message, c.ceco);
        append16(message, c.overtime);
        append16(message, c.viajes);
    }
    CrcRegister crc;
    crc.CalcularCRCString(message, static_cast<int>(message.size()));
    append16(message, crc.crcActual);
    return message;
}
