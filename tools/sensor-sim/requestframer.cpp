#include "requestframer.h"

#include "checks.h"
#include "frames.h"

namespace {

bool isModbusFunction(quint8 function)
{
    return function == Modbus::ReadHoldingRegisters || function == Modbus::WriteSingleRegister
           || function == Modbus::WriteMultipleRegisters;
}

} // namespace

RequestFramer::Cut RequestFramer::examine(int &length) const
{
    const int available = m_buffer.size();
    const quint8 first = quint8(m_buffer.at(0));
    if (available < 2)
        return (first == Kelvra::Head || first == 0x00 || first == m_address) ? Cut::NeedMore : Cut::Skip;
    const quint8 second = quint8(m_buffer.at(1));

    // Native command bytes never collide with the Modbus function codes, which settles a frame
    // head that is also the device's Modbus address.
    if (first == Kelvra::Head && !isModbusFunction(second)) {
        length = Kelvra::FrameSize;
        if (available < length)
            return Cut::NeedMore;
        const bool good = quint8(m_buffer.at(Kelvra::TailOffset)) == Kelvra::Tail
                          && kelvraChecksum(m_buffer.left(Kelvra::FrameSize))
                                 == quint8(m_buffer.at(Kelvra::ChecksumOffset));
        return good ? Cut::Native : Cut::Skip;
    }

    if (first != 0x00 && first != m_address)
        return Cut::Skip;
    switch (second) {
    case Modbus::ReadHoldingRegisters:
    case Modbus::WriteSingleRegister:
        length = 8;
        break;
    case Modbus::WriteMultipleRegisters:
        if (available < 7)
            return Cut::NeedMore;
        length = 9 + quint8(m_buffer.at(6));
        break;
    default:
        return Cut::Skip;
    }
    if (available < length)
        return Cut::NeedMore;
    return hasValidModbusCrc(m_buffer.left(length)) ? Cut::Modbus : Cut::Skip;
}

RequestFramer::Result RequestFramer::feed(const QByteArray &chunk, qint64 nowMs)
{
    Result result;
    result.discarded = expire(nowMs);
    if (chunk.isEmpty())
        return result;
    m_buffer.append(chunk);
    m_lastByteMs = nowMs;

    while (!m_buffer.isEmpty()) {
        int length = 0;
        const Cut cut = examine(length);
        if (cut == Cut::NeedMore)
            break;
        if (cut == Cut::Skip) {
            m_buffer.remove(0, 1);
            ++result.discarded;
            continue;
        }
        SensorRequest request;
        request.kind = (cut == Cut::Native) ? RequestKind::Native : RequestKind::Modbus;
        request.bytes = m_buffer.left(length);
        m_buffer.remove(0, length);
        result.requests.append(request);
    }
    return result;
}

int RequestFramer::expire(qint64 nowMs)
{
    if (m_buffer.isEmpty() || nowMs - m_lastByteMs < SilenceMs)
        return 0;
    return clear();
}

int RequestFramer::clear()
{
    const int dropped = m_buffer.size();
    m_buffer.clear();
    return dropped;
}
