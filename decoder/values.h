#ifndef ZELVIK_VALUES_H
#define ZELVIK_VALUES_H

#include <QByteArray>
#include <QString>

#include <array>

// The values a read reply carries, one decoder per query. Each takes the whole reply (address,
// function, byte count, data, CRC) as the framer cut it; register r of the data sits at offsets
// 3 + 2r (high byte) and 4 + 2r (low byte).
namespace Values {

struct Measurement {
    float pm25 = 0;   // µg/m³, the register in tenths
    float pm10 = 0;   // µg/m³, the register in tenths
    quint16 pm100 = 0; // µg/m³, whole units
};
Measurement measurement(const QByteArray &reply);
// "All Sensor: PM2.5 = 12.3  PM10 = 45.6  PM100 = 789", or "Sensor 2:  PM2.5 = ..." for unit 2.
QString measurementLine(const Measurement &value, int unitIndex);
// A reading as printed: %g of the single-precision value ("12.3", "10", "6553.5").
QString pmText(float value);

struct CleanSetting {
    quint8 durationSeconds = 0;
    quint8 intervalHours = 0;
};
CleanSetting cleanSetting(const QByteArray &reply);

struct HeatMode {
    enum Mode { Manual, Automatic, Unknown } mode = Unknown;
    bool heaterOn = false; // in manual mode
};
HeatMode heatMode(const QByteArray &reply);

struct WorkMode {
    quint8 mode = 0;     // 1 all units automatic, 2 one unit at a time, 3 the selected units
    quint8 unitMask = 0; // bit 0 for No.1 up to bit 3 for No.4
    bool known() const { return mode >= 1 && mode <= 3; }
};
WorkMode workMode(const QByteArray &reply);

// The low byte of register 0x0000: the device's Modbus address.
quint8 modbusAddress(const QByteArray &reply);

// Bit k set when unit k+1 passed its self test; a 0 bit marks a unit in error state.
quint8 selfTestPassed(const QByteArray &reply);
// Bit k set when unit k+1 is switched on.
quint8 globalSwitches(const QByteArray &reply);

struct TempHumi {
    qint8 temperature = 0; // °C
    quint8 humidity = 0;   // %
};
TempHumi tempHumi(const QByteArray &reply);

struct Thresholds {
    int high = 0;
    int low = 0;
};
Thresholds heatTempThresholds(const QByteArray &reply); // °C, signed bytes
Thresholds heatHumiThresholds(const QByteArray &reply); // %, unsigned bytes

struct Calibration {
    int zeroOffset = 0; // negative when the sign byte is 0x00
    quint8 factor = 0;
};
Calibration calibration(const QByteArray &reply);

// The data bytes of a transparent-channel read.
QByteArray transparentData(const QByteArray &reply);

struct SelfTestFactors {
    std::array<quint8, 4> factor{};    // "SelfTestFactor:" of units 1 to 4
    std::array<quint8, 4> suspected{}; // "Suspectedactor:" of units 1 to 4
};
SelfTestFactors selfTestFactors(const QByteArray &reply);

// The untranslated message of a recognised write echo (protocol or factory change), or nullptr.
const char *writeEchoMessage(const QByteArray &echo);

// The meaning of a Modbus exception code ("illegal data address"), untranslated.
const char *exceptionMeaning(quint8 code);

} // namespace Values

#endif
