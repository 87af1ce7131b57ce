#include "values.h"

#include <QCoreApplication>

#include <algorithm>
#include <iterator>

namespace Values {

namespace {

// A byte the reply does not hold reads as 0, so a short reply never yields stale data.
quint8 byteAt(const QByteArray &reply, int offset)
{
    return offset >= 0 && offset < reply.size() ? quint8(reply.at(offset)) : quint8(0);
}

quint16 registerAt(const QByteArray &reply, int index)
{
    return quint16(byteAt(reply, 3 + 2 * index) * 256 + byteAt(reply, 4 + 2 * index));
}

} // namespace

QString pmText(float value)
{
    return QString::asprintf("%g", double(value));
}

Measurement measurement(const QByteArray &reply)
{
    Measurement value;
    value.pm25 = float(registerAt(reply, 0)) / 10.0f;
    value.pm10 = float(registerAt(reply, 1)) / 10.0f;
    value.pm100 = registerAt(reply, 2);
    return value;
}

QString measurementLine(const Measurement &value, int unitIndex)
{
    const quint8 index = quint8(unitIndex);
    QString line = index == 0 ? QStringLiteral("All Sensor: PM2.5 = ") : QStringLiteral("Sensor %1:  PM2.5 = ").arg(index);
    line += pmText(value.pm25) + QStringLiteral("  PM10 = ") + pmText(value.pm10) + QStringLiteral("  PM100 = ")
        + QString::number(value.pm100);
    return line;
}

CleanSetting cleanSetting(const QByteArray &reply)
{
    return {byteAt(reply, 3), byteAt(reply, 4)};
}

HeatMode heatMode(const QByteArray &reply)
{
    HeatMode value;
    switch (byteAt(reply, 3)) {
    case 0x00: value.mode = HeatMode::Manual; break;
    case 0x01: value.mode = HeatMode::Automatic; break;
    default: value.mode = HeatMode::Unknown; break;
    }
    value.heaterOn = byteAt(reply, 4) == 0x01;
    return value;
}

WorkMode workMode(const QByteArray &reply)
{
    return {byteAt(reply, 3), byteAt(reply, 4)};
}

quint8 modbusAddress(const QByteArray &reply)
{
    return byteAt(reply, 4);
}

quint8 selfTestPassed(const QByteArray &reply)
{
    return byteAt(reply, 4);
}

quint8 globalSwitches(const QByteArray &reply)
{
    return byteAt(reply, 4);
}

TempHumi tempHumi(const QByteArray &reply)
{
    return {qint8(byteAt(reply, 3)), byteAt(reply, 4)};
}

Thresholds heatTempThresholds(const QByteArray &reply)
{
    return {qint8(byteAt(reply, 3)), qint8(byteAt(reply, 4))};
}

Thresholds heatHumiThresholds(const QByteArray &reply)
{
    return {byteAt(reply, 3), byteAt(reply, 4)};
}

Calibration calibration(const QByteArray &reply)
{
    // Offset 3 is a sign flag: 0x00 means the zero offset is negative.
    const int magnitude = byteAt(reply, 4);
    return {byteAt(reply, 3) == 0x00 ? -magnitude : magnitude, byteAt(reply, 6)};
}

QByteArray transparentData(const QByteArray &reply)
{
    return reply.mid(3, byteAt(reply, 2));
}

SelfTestFactors selfTestFactors(const QByteArray &reply)
{
    SelfTestFactors value;
    for (int unit = 0; unit < 4; ++unit) {
        value.factor[unit] = byteAt(reply, 3 + unit);
        value.suspected[unit] = byteAt(reply, 7 + unit);
    }
    return value;
}

const char *writeEchoMessage(const QByteArray &echo)
{
    struct KnownEcho {
        quint8 reg, value, crcLow, crcHigh;
        const char *message;
    };
    // Offsets 6 and 7 are the CRC of the echo from address 0x00, where every request goes.
    static const KnownEcho known[] = {
        {0xB1, 0x03, 0x98, 0x3D, QT_TRANSLATE_NOOP("MainWindow", "Device change to MODBUS!")},
        {0xB1, 0x00, 0xD8, 0x3C, QT_TRANSLATE_NOOP("MainWindow", "Device change to Kelvra!")},
        {0xA5, 0x01, 0x59, 0xF8, QT_TRANSLATE_NOOP("MainWindow", "Device change to FactoryConfig!")},
    };
    if (byteAt(echo, 1) != 0x06)
        return nullptr;
    const KnownEcho *const end = std::end(known);
    const KnownEcho *const match = std::find_if(std::begin(known), end, [&echo](const KnownEcho &k) {
        return byteAt(echo, 3) == k.reg && byteAt(echo, 5) == k.value && byteAt(echo, 6) == k.crcLow
            && byteAt(echo, 7) == k.crcHigh;
    });
    return match != end ? match->message : nullptr;
}

const char *exceptionMeaning(quint8 code)
{
    switch (code) {
    case 1: return QT_TRANSLATE_NOOP("MainWindow", "illegal function");
    case 2: return QT_TRANSLATE_NOOP("MainWindow", "illegal data address");
    case 3: return QT_TRANSLATE_NOOP("MainWindow", "illegal data value");
    case 4: return QT_TRANSLATE_NOOP("MainWindow", "server device failure");
    default: return QT_TRANSLATE_NOOP("MainWindow", "unknown");
    }
}

} // namespace Values
