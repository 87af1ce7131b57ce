#ifndef ZELVIK_TESTBYTES_H
#define ZELVIK_TESTBYTES_H

#include "checks.h"

#include <QByteArray>
#include <QString>

// Bytes for the suites. The CRC is the project's own: tst_protocol pins it to known values.

// Hex text to bytes; blanks between the pairs are skipped.
inline QByteArray hex(const char *text) { return QByteArray::fromHex(QByteArray(text)); }

// The bytes followed by their CRC, low byte first.
inline QByteArray withCrc(const QByteArray &bytes)
{
    const quint16 crc = crc16Modbus(bytes);
    return bytes + char(crc & 0xFF) + char(crc >> 8);
}
inline QByteArray withCrc(const char *text) { return withCrc(hex(text)); }

// count bytes first, first + 1, ...
inline QByteArray counting(int count, int first = 0)
{
    QByteArray bytes;
    for (int i = 0; i < count; ++i)
        bytes.append(char(first + i));
    return bytes;
}

// A 19-byte native frame: head 0xAA, the id, zeros with the bytes placed at offset, the
// checksum (the sum of offsets 2 to 16) and the tail.
inline QByteArray nativeFrame(quint8 id, int offset, const QByteArray &bytes, quint8 tail = 0xAB)
{
    QByteArray frame(19, '\0');
    frame[0] = char(0xAA);
    frame[1] = char(id);
    frame.replace(offset, bytes.size(), bytes);
    quint8 sum = 0;
    for (int i = 2; i <= 16; ++i)
        sum = quint8(sum + quint8(frame.at(i)));
    frame[17] = char(sum);
    frame[18] = char(tail);
    return frame;
}

// Bytes as the window shows them in its fields and log: two lower-case digits and a blank each.
inline QString hexText(const QByteArray &bytes)
{
    QString text;
    for (const char byte : bytes)
        text += QString::asprintf("%02x ", quint8(byte));
    return text;
}

#endif
