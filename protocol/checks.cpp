#include "checks.h"

#include "frames.h"

quint16 crc16Modbus(const quint8 *bytes, quint16 length)
{
    quint16 crc = 0xFFFF;
    for (quint16 i = 0; i < length; ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x0001) ? quint16((crc >> 1) ^ 0xA001) : quint16(crc >> 1);
    }
    return crc;
}

quint16 crc16Modbus(const QByteArray &bytes)
{
    // The counter is 16 bits wide; no frame comes anywhere near that bound.
    const int length = qMin(bytes.size(), 0xFFFF);
    return crc16Modbus(reinterpret_cast<const quint8 *>(bytes.constData()), quint16(length));
}

bool hasValidModbusCrc(const QByteArray &frame)
{
    if (frame.size() < 2)
        return false;
    const int body = frame.size() - 2;
    const quint16 crc = crc16Modbus(frame.left(body));
    return quint8(frame.at(body)) == quint8(crc & 0xFF)
        && quint8(frame.at(body + 1)) == quint8(crc >> 8);
}

quint8 kelvraChecksum(const quint8 *frame)
{
    quint8 sum = 0;
    for (int i = Kelvra::DataOffset; i < Kelvra::DataOffset + Kelvra::DataSize; ++i)
        sum = quint8(sum + frame[i]);
    return sum;
}

quint8 kelvraChecksum(const QByteArray &frame)
{
    // A short array counts its missing data bytes as 0x00.
    quint8 sum = 0;
    const int end = qMin(frame.size(), Kelvra::DataOffset + Kelvra::DataSize);
    for (int i = Kelvra::DataOffset; i < end; ++i)
        sum = quint8(sum + quint8(frame.at(i)));
    return sum;
}
