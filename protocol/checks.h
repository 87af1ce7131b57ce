#ifndef ZELVIK_CHECKS_H
#define ZELVIK_CHECKS_H

#include <QByteArray>
#include <QtGlobal>

// CRC-16/MODBUS (start 0xFFFF, reflected polynomial 0xA001, no final xor).
// Callers store the low byte first on the wire. An empty range yields 0xFFFF.
quint16 crc16Modbus(const quint8 *bytes, quint16 length);
quint16 crc16Modbus(const QByteArray &bytes);

// True when the last two bytes of frame are the CRC (low byte first) of the bytes before them.
bool hasValidModbusCrc(const QByteArray &frame);

// Sum of the 15 data bytes (offsets 2 to 16) of a 19-byte native frame, modulo 256.
quint8 kelvraChecksum(const quint8 *frame);
quint8 kelvraChecksum(const QByteArray &frame);

#endif
