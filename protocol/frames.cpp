#include "frames.h"

#include "checks.h"

namespace {

void appendWord(QByteArray &frame, quint16 word)
{
    frame.append(char(word >> 8));
    frame.append(char(word & 0xFF));
}

// The CRC goes on the wire low byte first.
QByteArray withCrc(QByteArray frame)
{
    const quint16 crc = crc16Modbus(frame);
    frame.append(char(crc & 0xFF));
    frame.append(char(crc >> 8));
    return frame;
}

QByteArray modbusHead(quint8 function, quint16 reg, quint16 word)
{
    QByteArray frame;
    frame.reserve(Modbus::SingleWriteSize);
    frame.append(char(Modbus::RequestAddress));
    frame.append(char(function));
    appendWord(frame, reg);
    appendWord(frame, word);
    return frame;
}

} // namespace

QByteArray kelvraFrame(quint8 command, const QByteArray &data)
{
    QByteArray frame(Kelvra::FrameSize, '\0');
    frame[0] = char(Kelvra::Head);
    frame[1] = char(command);
    const int used = qMin(data.size(), Kelvra::DataSize);
    for (int i = 0; i < used; ++i)
        frame[Kelvra::DataOffset + i] = data.at(i);
    frame[Kelvra::ChecksumOffset] = char(kelvraChecksum(frame));
    frame[Kelvra::TailOffset] = char(Kelvra::Tail);
    return frame;
}

QByteArray modbusReadRequest(quint16 startRegister, quint16 count)
{
    return withCrc(modbusHead(Modbus::ReadHoldingRegisters, startRegister, count));
}

QByteArray modbusWriteSingle(quint16 reg, quint16 value)
{
    return withCrc(modbusHead(Modbus::WriteSingleRegister, reg, value));
}

QByteArray modbusWriteMultiple(quint16 startRegister, quint16 registerCount, const QByteArray &data)
{
    // The byte count is one byte; callers never pass more than a buffer's worth of data.
    QByteArray frame = modbusHead(Modbus::WriteMultipleRegisters, startRegister, registerCount);
    frame.append(char(quint8(data.size())));
    frame.append(data);
    return withCrc(frame);
}

QByteArray withModbusAddress(const QByteArray &request, quint8 address)
{
    if (request.size() < 3)
        return request;
    QByteArray body = request.chopped(2);
    body[0] = char(address);
    return withCrc(body);
}
