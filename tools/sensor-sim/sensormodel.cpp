#include "sensormodel.h"

#include "checks.h"
#include "frames.h"

#include <algorithm>

namespace {

constexpr quint8 IllegalDataAddress = 0x02;
constexpr quint8 IllegalDataValue = 0x03;

constexpr std::array<quint8, 4> DefaultDeviceId{0x12, 0x34, 0xAB, 0xCD};
constexpr std::array<qint8, 3> FirmwareId{1, 3, -2};

// Bounds of the random walks, in tenths of ug/m3.
constexpr int Pm25Min = 100, Pm25Max = 800;
constexpr int Extra10Min = 10, Extra10Max = 250;
constexpr int Extra100Min = 10, Extra100Max = 300;

quint16 be16(const QByteArray &bytes, int offset)
{
    return quint16((quint8(bytes.at(offset)) << 8) | quint8(bytes.at(offset + 1)));
}

void appendBe16(QByteArray &bytes, int value)
{
    const int clamped = std::clamp(value, 0, 0xFFFF);
    bytes.append(char(clamped >> 8));
    bytes.append(char(clamped & 0xFF));
}

void appendCrc(QByteArray &frame)
{
    const quint16 crc = crc16Modbus(frame);
    frame.append(char(crc & 0xFF));
    frame.append(char(crc >> 8));
}

int walk(std::mt19937 &random, int value, int stepSize, int low, int high)
{
    std::uniform_int_distribution<int> delta(-stepSize, stepSize);
    value += delta(random);
    if (value < low)
        value = 2 * low - value;
    if (value > high)
        value = 2 * high - value;
    return std::clamp(value, low, high);
}

int calibrationIndex(quint8 lowByte)
{
    switch (lowByte) {
    case quint8(Register::CalibrationPm25): return 0;
    case quint8(Register::CalibrationPm10): return 1;
    case quint8(Register::CalibrationPm100): return 2;
    default: return -1;
    }
}

// Mean rounded half up, the way every register value of the device is rounded.
int roundedMean(int sum, int count)
{
    return count > 0 ? (sum + count / 2) / count : 0;
}

} // namespace

SensorModel::SensorModel(const SensorSettings &settings)
    : m_settings(settings), m_random(settings.seed)
{
    m_baudRate = settings.baudRate;
    restoreDefaults();
    std::uniform_int_distribution<int> start25(150, 500), start10(30, 150), start100(30, 200);
    for (Unit &unit : m_units) {
        unit.pm25 = start25(m_random);
        unit.extra10 = start10(m_random);
        unit.extra100 = start100(m_random);
    }
}

bool SensorModel::isSupportedRate(int rate)
{
    return rate == 2400 || rate == 4800 || rate == 9600 || rate == 19200;
}

int SensorModel::rateForCode(int code)
{
    switch (code) {
    case 1: return 2400;
    case Value::BaudCode4800: return 4800;
    case Value::BaudCode9600: return 9600;
    case Value::BaudCode19200: return 19200;
    default: return 0;
    }
}

int SensorModel::codeForRate(int rate)
{
    for (int code = 1; code <= 4; ++code) {
        if (rateForCode(code) == rate)
            return code;
    }
    return 0;
}

void SensorModel::restoreDefaults()
{
    // The address the simulator was started with is its factory address.
    m_address = m_settings.address;
    m_asleep = false;
    m_protocol = quint8(Value::ProtocolModbus);
    m_deviceId = DefaultDeviceId;
    m_workMode = Value::WorkModeAutoAll;
    m_workMask = 0;
    m_cleanDuration = 10;
    m_cleanInterval = 24;
    m_heaterMode = Value::HeaterAuto;
    m_heaterOn = 0;
    m_tempHigh = 5;
    m_tempLow = -10;
    m_humiHigh = 90;
    m_humiLow = 70;
    m_globalMask = 0x0F;
    for (auto &unit : m_calibration) {
        for (auto &range : unit)
            range = {0x00, 0x00, 0x00, 100};
    }
    for (QByteArray &channel : m_channel)
        channel.clear();
}

void SensorModel::step()
{
    for (Unit &unit : m_units) {
        unit.pm25 = walk(m_random, unit.pm25, 6, Pm25Min, Pm25Max);
        unit.extra10 = walk(m_random, unit.extra10, 3, Extra10Min, Extra10Max);
        unit.extra100 = walk(m_random, unit.extra100, 3, Extra100Min, Extra100Max);
    }
}

bool SensorModel::unitRunning(int unit) const
{
    const quint8 bit = quint8(1u << (unit - 1));
    if (!(m_globalMask & bit))
        return false;
    return m_workMode != Value::WorkModeSelected || (m_workMask & bit);
}

SensorModel::Reading SensorModel::rawReading(int unit) const
{
    const Unit &u = m_units[unit - 1];
    Reading r;
    r.pm25 = u.pm25;
    r.pm10 = u.pm25 + u.extra10;
    r.pm100 = (r.pm10 + u.extra100 + 5) / 10;
    return r;
}

// Calibration: value * factor / 100 + offset, the offset in ug/m3 (tenths for PM2.5 and PM10).
SensorModel::Reading SensorModel::calibrated(int unit, Reading r) const
{
    auto apply = [&](int value, int range, int offsetScale) {
        const auto &c = m_calibration[unit][range];
        const int offset = (c[0] == 0x00 ? -c[1] : c[1]) * offsetScale;
        return std::clamp((value * c[3] + 50) / 100 + offset, 0, 0xFFFF);
    };
    return {apply(r.pm25, 0, 10), apply(r.pm10, 1, 10), apply(r.pm100, 2, 1)};
}

SensorModel::Reading SensorModel::reading(int unit) const
{
    if (unit >= 1 && unit <= 4)
        return unitRunning(unit) ? calibrated(unit, rawReading(unit)) : Reading();
    Reading sum;
    int running = 0;
    for (int u = 1; u <= 4; ++u) {
        if (!unitRunning(u))
            continue;
        const Reading r = reading(u);
        sum.pm25 += r.pm25;
        sum.pm10 += r.pm10;
        sum.pm100 += r.pm100;
        ++running;
    }
    if (running == 0)
        return Reading();
    const Reading mean{roundedMean(sum.pm25, running), roundedMean(sum.pm10, running),
                       roundedMean(sum.pm100, running)};
    return calibrated(0, mean);
}

SensorOutcome SensorModel::handle(const SensorRequest &request)
{
    if (request.kind == RequestKind::Native)
        return handleNative(request.bytes);
    return handleModbus(request.bytes);
}

SensorOutcome SensorModel::handleNative(const QByteArray &frame)
{
    SensorOutcome out;
    if (frame.size() != Kelvra::FrameSize) {
        out.note = QStringLiteral("native frame of wrong length");
        return out;
    }
    const quint8 command = quint8(frame.at(1));
    QByteArray data(Kelvra::DataSize, '\0');
    switch (command) {
    case Kelvra::GetDeviceInfo:
        for (int i = 0; i < 4; ++i)
            data[Kelvra::DeviceIdOffset - Kelvra::DataOffset + i] = char(m_deviceId[size_t(i)]);
        break;
    case Kelvra::GetFirmwareId:
        for (int i = 0; i < 3; ++i)
            data[Kelvra::FirmwareIdOffset - Kelvra::DataOffset + i] = char(FirmwareId[size_t(i)]);
        break;
    case Kelvra::SetDeviceId:
        // Stored, then acknowledged with a frame of the same command that carries the new identifier.
        for (int i = 0; i < 4; ++i) {
            m_deviceId[size_t(i)] = quint8(frame.at(Kelvra::DeviceIdOffset + i));
            data[Kelvra::DeviceIdOffset - Kelvra::DataOffset + i] = char(m_deviceId[size_t(i)]);
        }
        break;
    default:
        out.note = QStringLiteral("unknown native command");
        return out;
    }
    out.reply = kelvraFrame(command, data);
    return out;
}

SensorOutcome SensorModel::handleModbus(const QByteArray &frame)
{
    const quint8 function = quint8(frame.at(1));
    const quint16 reg = be16(frame, 2);
    const quint16 field = be16(frame, 4);
    if (m_protocol == Value::ProtocolKelvra
        && !(function == Modbus::WriteSingleRegister && reg == Register::Protocol)) {
        SensorOutcome out;
        out.note = QStringLiteral("ignored: the device speaks the native protocol");
        return out;
    }
    switch (function) {
    case Modbus::ReadHoldingRegisters:
        return handleRead(reg, field);
    case Modbus::WriteSingleRegister:
        return handleWriteSingle(frame, reg, field);
    case Modbus::WriteMultipleRegisters:
        return handleWriteMultiple(frame, reg, field);
    default: {
        SensorOutcome out;
        out.note = QStringLiteral("unsupported function");
        return out;
    }
    }
}

QByteArray SensorModel::readReply(const QByteArray &data) const
{
    QByteArray reply;
    reply.append(char(m_address));
    reply.append(char(Modbus::ReadHoldingRegisters));
    reply.append(char(data.size()));
    reply.append(data);
    appendCrc(reply);
    return reply;
}

QByteArray SensorModel::exceptionReply(quint8 function, quint8 code) const
{
    QByteArray reply;
    reply.append(char(m_address));
    reply.append(char(function | Modbus::ExceptionBit));
    reply.append(char(code));
    appendCrc(reply);
    return reply;
}

SensorOutcome SensorModel::handleRead(quint16 reg, quint16 count)
{
    SensorOutcome out;
    const quint8 unit = quint8(reg >> 8);
    const quint8 low = quint8(reg & 0xFF);
    QByteArray data;
    quint16 expectedCount = 1;

    auto pair = [&data](int high, int lowByte) {
        data.append(char(high));
        data.append(char(lowByte));
    };

    if (reg == Register::DeviceAddress) {
        pair(0, m_address);
    } else if (reg == Register::SleepWake) {
        pair(0, m_asleep ? 0 : 1);
    } else if (reg == Register::WorkMode) {
        pair(m_workMode, m_workMask);
    } else if (reg == Register::SelfTest) {
        pair(0, m_settings.selfTestMask);
    } else if (reg == Register::TempHumi) {
        pair(quint8(m_settings.temperature), m_settings.humidity);
    } else if (reg == Register::AutoClean) {
        pair(m_cleanDuration, m_cleanInterval);
    } else if (reg == Register::HeaterControl) {
        pair(m_heaterMode, m_heaterOn);
    } else if (reg == Register::HeatTempThresholds) {
        pair(quint8(m_tempHigh), quint8(m_tempLow));
    } else if (reg == Register::HeatHumiThresholds) {
        pair(m_humiHigh, m_humiLow);
    } else if (reg == Register::GlobalOnOff) {
        pair(0, m_globalMask);
    } else if (reg == Register::Protocol) {
        pair(0, m_protocol);
    } else if (reg == Register::BaudRate) {
        pair(0, codeForRate(m_baudRate));
    } else if (unit <= 4 && low == quint8(Register::Measurement)) {
        expectedCount = Register::MeasurementCount;
        if (count == expectedCount && m_asleep) {
            out.note = QStringLiteral("asleep: measurement not answered");
            return out;
        }
        const Reading r = reading(unit);
        appendBe16(data, r.pm25);
        appendBe16(data, r.pm10);
        appendBe16(data, r.pm100);
        appendBe16(data, 0);
    } else if (unit <= 4 && calibrationIndex(low) >= 0) {
        expectedCount = Register::CalibrationCount;
        for (quint8 b : m_calibration[unit][size_t(calibrationIndex(low))])
            data.append(char(b));
    } else if (reg == Register::SelfTestFactors) {
        expectedCount = Register::SelfTestFactorCount;
        // A unit that passed its self test has a factor near 100 and no suspicion; a failed one
        // has a low factor and a high suspected factor.
        static constexpr std::array<quint8, 4> goodFactor{100, 97, 102, 99};
        QByteArray suspected;
        for (int u = 0; u < 4; ++u) {
            const bool passed = m_settings.selfTestMask & (1u << u);
            data.append(char(passed ? goodFactor[size_t(u)] : 38));
            suspected.append(char(passed ? 0 : 62));
        }
        data.append(suspected);
    } else if (unit >= 1 && unit <= 4 && low == quint8(Register::TransparentChannel)) {
        expectedCount = Register::TransparentReadCount;
        // The unit answers a native frame written to its channel with a frame of the same command
        // echoing the request's data; the rest of the 19 registers is zero padding.
        data = QByteArray(2 * Register::TransparentReadCount, '\0');
        const QByteArray &stored = m_channel[size_t(unit - 1)];
        if (stored.size() >= Kelvra::FrameSize && quint8(stored.at(0)) == Kelvra::Head
            && quint8(stored.at(Kelvra::TailOffset)) == Kelvra::Tail) {
            const QByteArray answer = kelvraFrame(quint8(stored.at(1)),
                                                  stored.mid(Kelvra::DataOffset, Kelvra::DataSize));
            data.replace(0, answer.size(), answer);
        }
    } else {
        out.reply = exceptionReply(Modbus::ReadHoldingRegisters, IllegalDataAddress);
        out.note = QStringLiteral("unknown register");
        return out;
    }

    if (count != expectedCount) {
        out.reply = exceptionReply(Modbus::ReadHoldingRegisters, IllegalDataAddress);
        out.note = QStringLiteral("register count not supported");
        return out;
    }
    out.reply = readReply(data);
    return out;
}

SensorOutcome SensorModel::handleWriteSingle(const QByteArray &frame, quint16 reg, quint16 value)
{
    SensorOutcome out;
    const quint8 high = quint8(value >> 8);
    const quint8 low = quint8(value & 0xFF);
    auto refuse = [&](quint8 code, const char *why) {
        out.reply = exceptionReply(Modbus::WriteSingleRegister, code);
        out.note = QString::fromLatin1(why);
        return out;
    };

    switch (reg) {
    case Register::DeviceAddress:
        if (value < 1 || value > 255)
            return refuse(IllegalDataValue, "address out of range");
        m_address = quint8(value);
        break;
    case Register::SleepWake:
        if (value != Value::Sleep && value != Value::Wake)
            return refuse(IllegalDataValue, "sleep value not 0 or 1");
        m_asleep = (value == Value::Sleep);
        break;
    case Register::FactorySettings:
        if (value != Value::FactoryReset)
            return refuse(IllegalDataValue, "factory value not 1");
        restoreDefaults();
        break;
    case Register::WorkMode:
        if (high < Value::WorkModeAutoAll || high > Value::WorkModeSelected)
            return refuse(IllegalDataValue, "work mode not 1 to 3");
        m_workMode = high;
        m_workMask = low;
        break;
    case Register::ManualClean:
        // A manual cleaning run has no lasting effect on any register.
        break;
    case Register::AutoClean:
        m_cleanDuration = high;
        m_cleanInterval = low;
        break;
    case Register::HeaterControl:
        if (high != Value::HeaterManual && high != Value::HeaterAuto)
            return refuse(IllegalDataValue, "heater mode not 0 or 1");
        m_heaterMode = high;
        m_heaterOn = low;
        break;
    case Register::HeatTempThresholds:
        m_tempHigh = qint8(high);
        m_tempLow = qint8(low);
        break;
    case Register::HeatHumiThresholds:
        m_humiHigh = high;
        m_humiLow = low;
        break;
    case Register::GlobalOnOff:
        m_globalMask = low;
        break;
    case Register::Protocol:
        if (value != Value::ProtocolModbus && value != Value::ProtocolKelvra)
            return refuse(IllegalDataValue, "protocol not 0 or 3");
        m_protocol = quint8(value);
        break;
    case Register::BaudRate: {
        const int rate = rateForCode(value);
        if (rate == 0)
            return refuse(IllegalDataValue, "unknown baud-rate code");
        out.newBaudRate = rate;
        break;
    }
    default:
        return refuse(IllegalDataAddress, "register not writable");
    }
    out.reply = frame; // the echo repeats the request byte for byte
    return out;
}

SensorOutcome SensorModel::handleWriteMultiple(const QByteArray &frame, quint16 reg, quint16 count)
{
    SensorOutcome out;
    const quint8 unit = quint8(reg >> 8);
    const quint8 low = quint8(reg & 0xFF);
    const int byteCount = quint8(frame.at(6));
    const QByteArray data = frame.mid(7, byteCount);

    auto refuse = [&](quint8 code, const char *why) {
        out.reply = exceptionReply(Modbus::WriteMultipleRegisters, code);
        out.note = QString::fromLatin1(why);
        return out;
    };

    if (unit <= 4 && calibrationIndex(low) >= 0) {
        if (count != Register::CalibrationCount)
            return refuse(IllegalDataAddress, "register count not supported");
        if (byteCount != 4)
            return refuse(IllegalDataValue, "byte count not 4");
        auto &stored = m_calibration[unit][size_t(calibrationIndex(low))];
        for (int i = 0; i < 4; ++i)
            stored[size_t(i)] = quint8(data.at(i));
    } else if (unit >= 1 && unit <= 4 && low == quint8(Register::TransparentChannel)) {
        // The register count is not tied to the byte count on this channel: keep every byte sent.
        if (count == 0)
            return refuse(IllegalDataAddress, "register count not supported");
        m_channel[size_t(unit - 1)] = data;
    } else {
        return refuse(IllegalDataAddress, "register not writable with function 0x10");
    }

    QByteArray reply;
    reply.append(char(m_address));
    reply.append(char(Modbus::WriteMultipleRegisters));
    reply.append(frame.mid(2, 4));
    appendCrc(reply);
    out.reply = reply;
    return out;
}
