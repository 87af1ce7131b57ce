#include "commandframes.h"

#include "checks.h"
#include "frames.h"
#include "hextext.h"

#include <QStringList>

namespace Commands {

namespace {

quint8 lowByte(int value) { return quint8(value & 0xFF); }

quint16 word(quint8 high, quint8 low) { return quint16((high << 8) | low); }

} // namespace

int textToInt(const QString &text, int base)
{
    return text.toInt(nullptr, base);
}

quint8 decimalByte(const QString &text)
{
    return lowByte(textToInt(text, 10));
}

// ---- Identity and protocol ----

QByteArray getDeviceInfo()
{
    return kelvraFrame(Kelvra::GetDeviceInfo);
}

QByteArray firmwareIdRequest()
{
    return kelvraFrame(Kelvra::GetFirmwareId);
}

std::array<quint8, 4> deviceIdBytes(const QString &text)
{
    // Every "-" separates a group, empty groups included; the middle groups do not count.
    const QStringList groups = text.split(QLatin1Char('-'));
    // A negative value keeps its two's-complement bits.
    const quint32 first = quint32(textToInt(groups.first(), 16));
    const quint32 last = quint32(textToInt(groups.last(), 16));
    return { quint8(first >> 8), quint8(first), quint8(last >> 8), quint8(last) };
}

QByteArray setDeviceId(const QString &text)
{
    const std::array<quint8, 4> id = deviceIdBytes(text);
    QByteArray data(Kelvra::DataSize, '\0');
    for (int i = 0; i < int(id.size()); ++i)
        data[Kelvra::DeviceIdOffset - Kelvra::DataOffset + i] = char(id[i]);
    return kelvraFrame(Kelvra::SetDeviceId, data);
}

QByteArray changeToModbus()
{
    return modbusWriteSingle(Register::Protocol, Value::ProtocolModbus);
}

QByteArray changeToKelvra()
{
    return modbusWriteSingle(Register::Protocol, Value::ProtocolKelvra);
}

QByteArray setFactorySettings()
{
    return modbusWriteSingle(Register::FactorySettings, Value::FactoryReset);
}

// ---- Modbus settings ----

QByteArray readSensorData(int unitIndex)
{
    return modbusReadRequest(Register::forUnit(lowByte(unitIndex), Register::Measurement),
                             Register::MeasurementCount);
}

QByteArray getDeviceAddress()
{
    return modbusReadRequest(Register::DeviceAddress, 1);
}

quint8 deviceAddressByte(const QString &hexText)
{
    // Address 0 is the broadcast address; it is never given to the device.
    const quint8 address = lowByte(textToInt(hexText, 16));
    return address == 0 ? 1 : address;
}

QByteArray setDeviceAddress(const QString &hexText)
{
    return modbusWriteSingle(Register::DeviceAddress, deviceAddressByte(hexText));
}

QByteArray setSleep()
{
    return modbusWriteSingle(Register::SleepWake, Value::Sleep);
}

QByteArray wakeUp()
{
    return modbusWriteSingle(Register::SleepWake, Value::Wake);
}

quint8 baudCodeForIndex(int comboIndex)
{
    // The device's codes 2, 3, 4 (4800, 9600, 19200) are the rate box's index + 1. The box lists
    // "9600" once more in front, preselected; the form keeps that list as the operators' guides
    // show it, so index 0 sends 9600's code too.
    return comboIndex == 0 ? Value::BaudCode9600 : lowByte(comboIndex + 1);
}

QByteArray setBaudRate(int comboIndex)
{
    return modbusWriteSingle(Register::BaudRate, baudCodeForIndex(comboIndex));
}

// ---- Maintenance ----

QByteArray manualClean(const QString &durationText)
{
    return modbusWriteSingle(Register::ManualClean, decimalByte(durationText));
}

QByteArray getAutoClean()
{
    return modbusReadRequest(Register::AutoClean, 1);
}

QByteArray setAutoClean(const QString &durationText, const QString &intervalText)
{
    return modbusWriteSingle(Register::AutoClean,
                             word(decimalByte(durationText), decimalByte(intervalText)));
}

QByteArray manualHeat(bool heaterOn)
{
    return modbusWriteSingle(Register::HeaterControl, word(Value::HeaterManual, heaterOn ? 1 : 0));
}

QByteArray autoHeat()
{
    return modbusWriteSingle(Register::HeaterControl, word(Value::HeaterAuto, 0));
}

QByteArray getHeatMode()
{
    return modbusReadRequest(Register::HeaterControl, 1);
}

QByteArray getHeatTempThresholds()
{
    return modbusReadRequest(Register::HeatTempThresholds, 1);
}

QByteArray setHeatTempThresholds(const QString &highText, const QString &lowText)
{
    return modbusWriteSingle(Register::HeatTempThresholds,
                             word(decimalByte(highText), decimalByte(lowText)));
}

QByteArray getHeatHumiThresholds()
{
    return modbusReadRequest(Register::HeatHumiThresholds, 1);
}

QByteArray setHeatHumiThresholds(const QString &highText, const QString &lowText)
{
    return modbusWriteSingle(Register::HeatHumiThresholds,
                             word(decimalByte(highText), decimalByte(lowText)));
}

quint8 unitMask(const std::array<bool, 4> &ticked)
{
    quint8 mask = 0;
    for (int unit = 0; unit < int(ticked.size()); ++unit) {
        if (ticked[unit])
            mask |= quint8(1u << unit);
    }
    return mask;
}

QByteArray autoAllWork()
{
    return modbusWriteSingle(Register::WorkMode, word(Value::WorkModeAutoAll, 0));
}

QByteArray autoSingleWork()
{
    return modbusWriteSingle(Register::WorkMode, word(Value::WorkModeAutoSingle, 0));
}

QByteArray selectWork(quint8 mask)
{
    return modbusWriteSingle(Register::WorkMode, word(Value::WorkModeSelected, mask));
}

QByteArray getWorkMode()
{
    return modbusReadRequest(Register::WorkMode, 1);
}

// ---- Diagnostics and calibration ----

QByteArray getSelfTest()
{
    return modbusReadRequest(Register::SelfTest, 1);
}

QByteArray getGlobalOnOff()
{
    return modbusReadRequest(Register::GlobalOnOff, 1);
}

QByteArray setGlobalOnOff(quint8 mask)
{
    return modbusWriteSingle(Register::GlobalOnOff, mask);
}

QByteArray getTempHumi()
{
    return modbusReadRequest(Register::TempHumi, 1);
}

QByteArray getSelfTestFactors()
{
    return modbusReadRequest(Register::SelfTestFactors, Register::SelfTestFactorCount);
}

quint8 calibrationRegister(int rangeIndex)
{
    switch (rangeIndex) {
    case 1:
        return quint8(Register::CalibrationPm10);
    case 2:
        return quint8(Register::CalibrationPm100);
    default:
        return quint8(Register::CalibrationPm25);
    }
}

QByteArray calibrationQuery(int unitIndex, int rangeIndex)
{
    return modbusReadRequest(Register::forUnit(lowByte(unitIndex), calibrationRegister(rangeIndex)),
                             Register::CalibrationCount);
}

QByteArray calibrationSet(int unitIndex, int rangeIndex, const QString &zeroText, const QString &factorText)
{
    const int zero = textToInt(zeroText, 10);
    const int factor = textToInt(factorText, 10);
    // The magnitude is taken of the full integer (in 64 bits, so INT_MIN has one) before it wraps.
    const quint8 sign = zero > 0 ? 0x01 : 0x00;
    const quint8 magnitude = quint8(qAbs(qint64(zero)) & 0xFF);
    QByteArray data;
    data.append(char(sign));
    data.append(char(magnitude));
    data.append(char(0x00));
    data.append(char(lowByte(factor)));
    return modbusWriteMultiple(Register::forUnit(lowByte(unitIndex), calibrationRegister(rangeIndex)),
                               Register::CalibrationCount, data);
}

// ---- Transparent transmission ----

TransparentSend transparentSend(const QString &text, const QString &unitText)
{
    TransparentSend result;
    // Every single blank separates a part; an empty text or a trailing blank yields an empty part.
    const QStringList parts = text.split(QLatin1Char(' '));
    result.parts = parts.size();
    if (result.parts > MaxTransparentBytes)
        return result;

    QByteArray data(result.parts, '\0');
    for (int i = 0; i < result.parts; ++i)
        data[i] = char(lowByte(textToInt(parts.at(i), 16)));

    // The data usually is a native frame; once it reaches past that frame's checksum position,
    // the checksum is recomputed over the frame's data bytes and replaces what was typed there.
    if (result.parts > Kelvra::ChecksumOffset)
        data[Kelvra::ChecksumOffset] =
            char(kelvraChecksum(reinterpret_cast<const quint8 *>(data.constData())));

    const quint8 unit = decimalByte(unitText);
    result.request = modbusWriteMultiple(Register::forUnit(unit, Register::TransparentChannel),
                                         Register::TransparentWriteCount, data);
    result.fits = true;
    return result;
}

QByteArray transparentRead(const QString &unitText)
{
    return modbusReadRequest(Register::forUnit(decimalByte(unitText), Register::TransparentChannel),
                             Register::TransparentReadCount);
}

QByteArray sleepPresetFrame()
{
    // Data 06 01 at the start and FF FF in the last two data bytes, every other byte 00.
    QByteArray data(Kelvra::DataSize, '\0');
    data[0] = char(0x06);
    data[1] = char(0x01);
    data[Kelvra::DataSize - 2] = char(0xFF);
    data[Kelvra::DataSize - 1] = char(0xFF);
    return kelvraFrame(Kelvra::Sleep, data);
}

QString sleepPresetText()
{
    return formatHexBytes(sleepPresetFrame());
}

} // namespace Commands
