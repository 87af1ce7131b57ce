#include "nativedecode.h"

#include "frames.h"

#include <QStringList>

namespace {

quint8 byteAt(const QByteArray &frame, int offset)
{
    return offset < frame.size() ? quint8(frame.at(offset)) : quint8(0);
}

} // namespace

QString deviceIdText(const QByteArray &frame)
{
    const int at = Kelvra::DeviceIdOffset;
    return QString::asprintf("%02x%02x-%02x%02x", byteAt(frame, at), byteAt(frame, at + 1),
                             byteAt(frame, at + 2), byteAt(frame, at + 3));
}

QString firmwareIdText(const QByteArray &frame)
{
    QStringList parts;
    for (int i = 0; i < 3; ++i)
        parts << QString::number(qint8(byteAt(frame, Kelvra::FirmwareIdOffset + i)));
    return parts.join(QLatin1Char('-'));
}
