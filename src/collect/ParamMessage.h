#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// The CRC register of the parameter message: CRC-16/ARC (polynomial 0x8005
// reflected as 0xA001, initial value 0, no final xor). It is never reset by
// the feeding methods.
class CrcRegister {
public:
    quint16 crcActual = 0;
    // Feeds the first length bytes of data; length 0 or less feeds nothing.
    void CalcularCRCString(const QByteArray& data, int length);
    void CalcularCRCByte(quint8 byte);
};

// One person entitled to taxi service, as the message carries it.
struct PersonEntry {
    qint32 tarjeta = 0;
    QByteArray name; // NOMBRES + " " + APELLIDOS in Windows-1252
    int grupo = 0;   // its low 16 bits are sent
    qint32 codigo = 0;
};

struct CecoEntry {
    int ceco = 0, overtime = 0, viajes = 0; // low 16 bits each
};

constexpr int kMaxPersonal = 750;
constexpr int kMaxCeco = 150;

// Counts, the 40-byte personnel and 6-byte cost-centre records, and the CRC of
// all bytes before it, low byte first. Every number little-endian.
QByteArray parameterMessage(const QList<PersonEntry>& people, const QList<CecoEntry>& cecos);
