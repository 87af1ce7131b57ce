#ifndef ZELVIK_COMMANDFRAMES_H
#define ZELVIK_COMMANDFRAMES_H

#include <QByteArray>
#include <QString>
#include <array>

// The frame of every command, as a pure function of what the operator entered. Nothing here
// rejects input: the window and zelvikctl refuse a number outside its field's range before a frame
// is built (inputcheck.h). What reaches these functions converts as QString::toInt does, a text
// that does not convert counting as 0, and only the low byte of a number is sent; that is how
// the parts of a transparent frame and the device identifier, which nothing checks, are taken.
namespace Commands {

// QString::toInt in the given base with the success flag ignored (invalid text gives 0).
int textToInt(const QString &text, int base);
// The low 8 bits of a base-10 text, so -10 becomes 0xF6 and 300 becomes 0x2C.
quint8 decimalByte(const QString &text);

// Identity and protocol (native frames carry no echo).
QByteArray getDeviceInfo();
QByteArray firmwareIdRequest();
// "hhhh-hhhh": the first and the last "-"-separated group, base 16, low 16 bits each, high byte first.
std::array<quint8, 4> deviceIdBytes(const QString &text);
QByteArray setDeviceId(const QString &text);
QByteArray changeToModbus();
QByteArray changeToKelvra();
QByteArray setFactorySettings();

// Modbus settings.
QByteArray readSensorData(int unitIndex);      // 0 = "Avg", 1 to 4 = unit
QByteArray getDeviceAddress();                  // also the baud-rate probe request
quint8 deviceAddressByte(const QString &hexText); // low byte of the hex text, 0 becomes 1
QByteArray setDeviceAddress(const QString &hexText);
QByteArray setSleep();
QByteArray wakeUp();
quint8 baudCodeForIndex(int comboIndex);        // "9600", "4800", "9600", "19200" -> 3, 2, 3, 4
QByteArray setBaudRate(int comboIndex);

// Maintenance.
QByteArray manualClean(const QString &durationText);
QByteArray getAutoClean();
QByteArray setAutoClean(const QString &durationText, const QString &intervalText);
QByteArray manualHeat(bool heaterOn);
QByteArray autoHeat();
QByteArray getHeatMode();
QByteArray getHeatTempThresholds();
QByteArray setHeatTempThresholds(const QString &highText, const QString &lowText);
QByteArray getHeatHumiThresholds();
QByteArray setHeatHumiThresholds(const QString &highText, const QString &lowText);
// Bit n-1 set when unit n is ticked.
quint8 unitMask(const std::array<bool, 4> &ticked);
QByteArray autoAllWork();
QByteArray autoSingleWork();
QByteArray selectWork(quint8 mask);
QByteArray getWorkMode();

// Diagnostics and calibration.
QByteArray getSelfTest();
QByteArray getGlobalOnOff();
QByteArray setGlobalOnOff(quint8 mask);
QByteArray getTempHumi();
QByteArray getSelfTestFactors();
quint8 calibrationRegister(int rangeIndex);     // 0, 1, 2 -> 0xC3, 0xC5, 0xC7
QByteArray calibrationQuery(int unitIndex, int rangeIndex);
// Sign byte 0x01 when the offset is above 0, then the low byte of its magnitude; factor low byte.
QByteArray calibrationSet(int unitIndex, int rangeIndex, const QString &zeroText, const QString &factorText);

// Transparent transmission through a unit's channel register.
constexpr int MaxTransparentBytes = 91;
struct TransparentSend {
    QByteArray request; // empty when the text does not fit
    int parts = 0;      // number of blank-separated parts, empty ones included
    bool fits = false;
};
// Parts separated by single blanks, each base 16 (low byte, invalid as 0). From 18 parts on the
// byte at request offset 24 is replaced by the sum of offsets 9 to 23 (a native frame's checksum).
TransparentSend transparentSend(const QString &text, const QString &unitText);
QByteArray transparentRead(const QString &unitText);
// The "Sleep" preset of the general commands: the native 0xB4 frame as echo text.
QByteArray sleepPresetFrame();
QString sleepPresetText();

} // namespace Commands

#endif
