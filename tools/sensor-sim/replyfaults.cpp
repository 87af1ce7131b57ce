#include "replyfaults.h"

ReplyFaults::ReplyFaults(const FaultSettings &settings, quint32 seed)
    : m_settings(settings), m_random(seed)
{
}

// Uniform in [0, 1) from one raw draw, the same on every standard library.
double ReplyFaults::uniform()
{
    return double(m_random()) / 4294967296.0;
}

FaultedReply ReplyFaults::apply(const QByteArray &reply)
{
    const double dropDraw = uniform();
    const double corruptDraw = uniform();
    const quint32 byteDraw = m_random();
    const quint32 bitDraw = m_random();
    const quint32 cutDraw = m_random();
    const double lateDraw = uniform();

    FaultedReply out;
    out.bytes = reply;
    if (reply.isEmpty())
        return out;
    if (dropDraw < m_settings.dropRate) {
        out.dropped = true;
        return out;
    }
    if (corruptDraw < m_settings.corruptRate) {
        out.corruptedByte = int(byteDraw % quint32(reply.size()));
        out.corruptedBit = int(bitDraw % 8);
        out.bytes[out.corruptedByte] = char(quint8(out.bytes.at(out.corruptedByte)) ^ (1u << out.corruptedBit));
    }
    if (m_settings.split && reply.size() >= 2)
        out.cut = 1 + int(cutDraw % quint32(reply.size() - 1));
    if (lateDraw < m_settings.lateRate)
        out.lateMs = m_settings.lateMs;
    return out;
}
