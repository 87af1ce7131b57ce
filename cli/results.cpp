#include "results.h"

#include "hextext.h"
#include "nativedecode.h"
#include "sessiontexts.h"
#include "values.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QStringList>

namespace Cli {

using SessionTexts::isoTime;
using SessionTexts::unitName;

namespace {

const QString Ugm3 = QStringLiteral("µg/m³");
const QString Celsius = QStringLiteral("°C");

QString rangeName(int range)
{
    static const char *const names[] = {"PM2.5", "PM10", "PM100"};
    return QLatin1String(names[qBound(0, range, 2)]);
}

// Units 1 to 4 whose bit is set (want) or clear (!want) in mask.
QList<int> unitsOf(quint8 mask, bool want = true)
{
    QList<int> units;
    for (int unit = 1; unit <= 4; ++unit) {
        if (bool(mask & (1u << (unit - 1))) == want)
            units << unit;
    }
    return units;
}

QString listText(const QList<int> &units)
{
    QStringList parts;
    for (int unit : units)
        parts << QString::number(unit);
    return parts.isEmpty() ? QStringLiteral("none") : parts.join(QStringLiteral(", "));
}

QJsonArray jsonArray(const QList<int> &values)
{
    QJsonArray array;
    for (int value : values)
        array.append(value);
    return array;
}

template <size_t N>
QList<int> listOf(const std::array<quint8, N> &bytes)
{
    QList<int> list;
    for (quint8 b : bytes)
        list << b;
    return list;
}

QString numbers(const QList<int> &values)
{
    QStringList parts;
    for (int value : values)
        parts << QString::number(value);
    return parts.join(QLatin1Char(' '));
}

// The JSON value of a reading: the printed digits, so 12.3 stays 12.3 and not its float neighbour.
double pmNumber(float value)
{
    return Values::pmText(value).toDouble();
}

Result heatModeResult(Values::HeatMode mode)
{
    Result r;
    switch (mode.mode) {
    case Values::HeatMode::Automatic:
        r.text = QStringLiteral("Heater: automatic");
        r.json[QStringLiteral("mode")] = QStringLiteral("auto");
        break;
    case Values::HeatMode::Manual:
        r.text = QStringLiteral("Heater: manual, %1").arg(mode.heaterOn ? QStringLiteral("on") : QStringLiteral("off"));
        r.json[QStringLiteral("mode")] = QStringLiteral("manual");
        r.json[QStringLiteral("heater_on")] = mode.heaterOn;
        break;
    case Values::HeatMode::Unknown:
        r.text = QStringLiteral("Heater: mode not known to this tool");
        r.json[QStringLiteral("mode")] = QStringLiteral("unknown");
        break;
    }
    return r;
}

Result workModeResult(Values::WorkMode mode)
{
    Result r;
    switch (mode.mode) {
    case 1:
        r.text = QStringLiteral("Work mode: all units, automatic");
        r.json[QStringLiteral("mode")] = QStringLiteral("all");
        break;
    case 2:
        r.text = QStringLiteral("Work mode: one unit at a time, automatic");
        r.json[QStringLiteral("mode")] = QStringLiteral("single");
        break;
    case 3:
        r.text = QStringLiteral("Work mode: selected units %1").arg(listText(unitsOf(mode.unitMask)));
        r.json[QStringLiteral("mode")] = QStringLiteral("select");
        r.json[QStringLiteral("units")] = jsonArray(unitsOf(mode.unitMask));
        break;
    default:
        r.text = QStringLiteral("Work mode: %1, not known to this tool").arg(mode.mode);
        r.json[QStringLiteral("mode")] = QStringLiteral("unknown");
        r.json[QStringLiteral("code")] = mode.mode;
        break;
    }
    return r;
}

Result thresholdsResult(Values::Thresholds t, bool temperature)
{
    Result r;
    const QString unit = temperature ? Celsius : QStringLiteral("%");
    r.text = QStringLiteral("Heating %1 thresholds: high %2 %4, low %3 %4")
                 .arg(temperature ? QStringLiteral("temperature") : QStringLiteral("humidity"))
                 .arg(t.high)
                 .arg(t.low)
                 .arg(unit);
    const QString suffix = temperature ? QStringLiteral("_c") : QStringLiteral("_percent");
    r.json[QStringLiteral("high") + suffix] = t.high;
    r.json[QStringLiteral("low") + suffix] = t.low;
    return r;
}

Result calibrationResult(int unit, int range, Values::Calibration c)
{
    Result r;
    r.text = QStringLiteral("Calibration of %1, %2: zero offset %3, factor %4")
                 .arg(unit == 0 ? QStringLiteral("avg") : QStringLiteral("unit %1").arg(unit), rangeName(range))
                 .arg(c.zeroOffset)
                 .arg(c.factor);
    r.json[QStringLiteral("unit")] = unitName(unit);
    r.json[QStringLiteral("range")] = rangeName(range).toLower();
    r.json[QStringLiteral("zero_offset")] = c.zeroOffset;
    r.json[QStringLiteral("factor")] = c.factor;
    return r;
}

Result addressResult(int address)
{
    Result r;
    r.text = QStringLiteral("Modbus address: 0x%1 (%2)").arg(address, 2, 16, QLatin1Char('0')).arg(address);
    r.json[QStringLiteral("address")] = address;
    return r;
}

Result cleanResult(int duration, int interval)
{
    Result r;
    r.text = QStringLiteral("Automatic cleaning: %1 s every %2 h").arg(duration).arg(interval);
    r.json[QStringLiteral("duration_s")] = duration;
    r.json[QStringLiteral("interval_h")] = interval;
    return r;
}

Result globalResult(quint8 mask)
{
    Result r;
    r.text = QStringLiteral("Unit switches: on %1").arg(listText(unitsOf(mask)));
    r.json[QStringLiteral("on")] = jsonArray(unitsOf(mask));
    return r;
}

// A setting read from its reply, or, for a set command, from the values written.
Result settingResult(const Invocation &inv, const QByteArray &reply)
{
    const QList<int> &v = inv.values;
    const bool set = inv.write;
    switch (inv.topic) {
    case Topic::Address:
        return addressResult(set ? v.at(0) : Values::modbusAddress(reply));
    case Topic::Clean: {
        const Values::CleanSetting c = Values::cleanSetting(reply);
        return set ? cleanResult(v.at(0), v.at(1)) : cleanResult(c.durationSeconds, c.intervalHours);
    }
    case Topic::HeatMode: {
        Values::HeatMode mode = Values::heatMode(reply);
        if (set) {
            mode.mode = v.at(0) == 1 ? Values::HeatMode::Automatic : Values::HeatMode::Manual;
            mode.heaterOn = v.at(1) == 1;
        }
        return heatModeResult(mode);
    }
    case Topic::TempThresholds:
        return thresholdsResult(set ? Values::Thresholds{v.at(0), v.at(1)} : Values::heatTempThresholds(reply), true);
    case Topic::HumiThresholds:
        return thresholdsResult(set ? Values::Thresholds{v.at(0), v.at(1)} : Values::heatHumiThresholds(reply), false);
    case Topic::WorkMode:
        return workModeResult(set ? Values::WorkMode{quint8(v.at(0)), quint8(v.at(1))} : Values::workMode(reply));
    case Topic::Global:
        return globalResult(set ? quint8(v.at(0)) : Values::globalSwitches(reply));
    case Topic::Calibration:
        return calibrationResult(inv.unit, inv.range,
                                 set ? Values::Calibration{v.at(0), quint8(v.at(1))} : Values::calibration(reply));
    default:
        return Result();
    }
}

} // namespace

Result reading(const QByteArray &reply, int unit, const QDateTime &time)
{
    const Values::Measurement m = Values::measurement(reply);
    Result r;
    r.text = QStringLiteral("%1  %2  PM2.5 %3 %6  PM10 %4 %6  PM100 %5 %6")
                 .arg(isoTime(time), unitName(unit), Values::pmText(m.pm25), Values::pmText(m.pm10))
                 .arg(m.pm100)
                 .arg(Ugm3);
    r.json[QStringLiteral("time")] = isoTime(time);
    r.json[QStringLiteral("unit")] = unitName(unit);
    r.json[QStringLiteral("pm2_5_ug_m3")] = pmNumber(m.pm25);
    r.json[QStringLiteral("pm10_ug_m3")] = pmNumber(m.pm10);
    r.json[QStringLiteral("pm100_ug_m3")] = m.pm100;
    return r;
}

Result probeAnswer(qint32 rate, const QByteArray &reply)
{
    const int address = Values::modbusAddress(reply);
    Result r = addressResult(address);
    r.text = QStringLiteral("Baud rate: %1 (Modbus address 0x%2)").arg(rate).arg(address, 2, 16, QLatin1Char('0'));
    r.json[QStringLiteral("command")] = QStringLiteral("probe");
    r.json[QStringLiteral("baud")] = rate;
    return r;
}

Result failed(const QString &command, const Failure &failure)
{
    Result r;
    r.text = failure.hint.isEmpty() ? failure.message : QStringLiteral("%1; %2").arg(failure.message, failure.hint);
    if (!command.isEmpty())
        r.json[QStringLiteral("command")] = command;
    r.json[QStringLiteral("error")] = failure.message;
    r.json[QStringLiteral("exit_status")] = failure.status;
    if (!failure.reply.isEmpty())
        r.json[QStringLiteral("reply")] = formatHexBytes(failure.reply).trimmed();
    if (!failure.hint.isEmpty())
        r.json[QStringLiteral("hint")] = failure.hint;
    return r;
}

QString printed(const Result &result, bool json)
{
    return json ? QString::fromUtf8(QJsonDocument(result.json).toJson(QJsonDocument::Compact)) : result.text;
}

Result describe(const Invocation &inv, const QList<QByteArray> &replies, const QDateTime &time)
{
    const QByteArray reply = replies.value(0);
    const QList<int> &v = inv.values;
    Result r;
    switch (inv.topic) {
    case Topic::Info: {
        const QString device = deviceIdText(reply);
        const QString firmware = firmwareIdText(replies.value(1));
        r.text = QStringLiteral("Device identifier: %1\nFirmware identifier: %2").arg(device, firmware);
        r.json[QStringLiteral("device_id")] = device;
        r.json[QStringLiteral("firmware_id")] = firmware;
        break;
    }
    case Topic::Reading:
        r = reading(reply, inv.unit, time);
        break;
    case Topic::TempHumi: {
        const Values::TempHumi th = Values::tempHumi(reply);
        r.text = QStringLiteral("Inner temperature %1 %2, humidity %3 %").arg(th.temperature).arg(Celsius).arg(th.humidity);
        r.json[QStringLiteral("temperature_c")] = th.temperature;
        r.json[QStringLiteral("humidity_percent")] = th.humidity;
        break;
    }
    case Topic::SelfTest: {
        const quint8 passed = Values::selfTestPassed(reply);
        QStringList parts;
        for (int unit = 1; unit <= 4; ++unit)
            parts << QStringLiteral("unit %1 %2").arg(unit).arg((passed & (1u << (unit - 1))) != 0 ? QStringLiteral("ok")
                                                                                            : QStringLiteral("error"));
        r.text = QStringLiteral("Self test: ") + parts.join(QStringLiteral(", "));
        r.json[QStringLiteral("passed")] = jsonArray(unitsOf(passed));
        r.json[QStringLiteral("failed")] = jsonArray(unitsOf(passed, false));
        break;
    }
    case Topic::Factors: {
        const Values::SelfTestFactors f = Values::selfTestFactors(reply);
        r.text = QStringLiteral("Self-test factors of units 1 to 4: %1; suspected factors: %2")
                     .arg(numbers(listOf(f.factor)), numbers(listOf(f.suspected)));
        r.json[QStringLiteral("factors")] = jsonArray(listOf(f.factor));
        r.json[QStringLiteral("suspected")] = jsonArray(listOf(f.suspected));
        break;
    }
    case Topic::Baud:
        r.text = QStringLiteral("Baud rate set to %1: the device answers at %1 baud from now on").arg(v.at(0));
        r.json[QStringLiteral("baud")] = v.at(0);
        break;
    case Topic::CleanNow:
        r.text = QStringLiteral("Dust cleaning started for %1 s").arg(v.at(0));
        r.json[QStringLiteral("duration_s")] = v.at(0);
        break;
    case Topic::Sleep:
        r.text = QStringLiteral("Device asleep");
        break;
    case Topic::Wake:
        r.text = QStringLiteral("Device awake");
        break;
    case Topic::Protocol:
        r.text = v.at(0) ? QStringLiteral("Protocol: Modbus RTU") : QStringLiteral("Protocol: native");
        r.json[QStringLiteral("protocol")] = v.at(0) ? QStringLiteral("modbus") : QStringLiteral("native");
        break;
    case Topic::FactoryReset:
        r.text = QStringLiteral("Factory settings restored");
        break;
    case Topic::Raw:
        r.text = formatHexBytes(reply).trimmed();
        r.json[QStringLiteral("request")] = formatHexBytes(inv.requests.value(0)).trimmed();
        r.json[QStringLiteral("reply")] = r.text;
        break;
    case Topic::Probe:
        break;
    default:
        r = settingResult(inv, reply);
        if (inv.write)
            r.text.insert(r.text.indexOf(QLatin1Char(':')), QStringLiteral(" set"));
        break;
    }
    r.json[QStringLiteral("command")] = inv.command;
    if (inv.write)
        r.json[QStringLiteral("ok")] = true;
    return r;
}

} // namespace Cli
