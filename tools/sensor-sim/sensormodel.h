#ifndef ZELVIK_SENSORMODEL_H
#define ZELVIK_SENSORMODEL_H

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <array>
#include <random>

// The simulated sensor's state and its answers: one complete request in, at most one reply out.
// Nothing here touches a terminal or a clock, so the behaviour can be driven from tests.
//
// Behaviour chosen for the simulated device:
// - Native frames (0xA6, 0xB5, 0xA7) are answered whatever the protocol register holds.
// - While the protocol register is 0 (native protocol) Modbus requests are ignored, except a
//   write of the protocol register itself, which is echoed so the switch can be confirmed.
// - While asleep the measurement registers are not answered; everything else is.
// - A factory reset restores every setting except the line rate, which stays as it is so the
//   link is not lost.
// - A unit that is switched off (global mask) or not selected in work mode 3 reads zeros and does
//   not count towards the average.
struct SensorSettings {
    quint8 address = 1;
    int baudRate = 9600;
    qint8 temperature = 23;
    quint8 humidity = 45;
    quint8 selfTestMask = 0x0F; // bit k set: unit k+1 passed its self test
    quint32 seed = 20240501u;
};

enum class RequestKind { Native, Modbus };

struct SensorRequest {
    RequestKind kind = RequestKind::Modbus;
    QByteArray bytes;
};

struct SensorOutcome {
    QByteArray reply;    // empty: the device stays silent
    int newBaudRate = 0; // non-zero: switch the line to this rate once the reply has gone out
    QString note;        // why a request was ignored or refused, for the verbose log
};

class SensorModel
{
public:
    explicit SensorModel(const SensorSettings &settings = SensorSettings());

    SensorOutcome handle(const SensorRequest &request);

    // One second of slow drift of the measured concentrations.
    void step();

    // Readings as the measurement registers report them: PM2.5 and PM10 in tenths of ug/m3,
    // PM100 in whole ug/m3. Unit 0 is the average of the units that are running.
    struct Reading {
        int pm25 = 0;
        int pm10 = 0;
        int pm100 = 0;
    };
    Reading reading(int unit) const;

    quint8 address() const { return m_address; }
    int baudRate() const { return m_baudRate; }
    void setBaudRate(int rate) { m_baudRate = rate; }
    bool asleep() const { return m_asleep; }
    quint8 protocol() const { return m_protocol; }

    static bool isSupportedRate(int rate);
    static int rateForCode(int code);  // 0 for an unknown code
    static int codeForRate(int rate);

private:
    SensorOutcome handleNative(const QByteArray &frame);
    SensorOutcome handleModbus(const QByteArray &frame);
    SensorOutcome handleRead(quint16 reg, quint16 count);
    SensorOutcome handleWriteSingle(const QByteArray &frame, quint16 reg, quint16 value);
    SensorOutcome handleWriteMultiple(const QByteArray &frame, quint16 reg, quint16 count);

    QByteArray readReply(const QByteArray &data) const;
    QByteArray exceptionReply(quint8 function, quint8 code) const;
    void restoreDefaults();
    bool unitRunning(int unit) const;
    Reading rawReading(int unit) const;
    Reading calibrated(int unit, Reading r) const;

    // Concentrations of units 1 to 4 in tenths of ug/m3; PM10 and PM100 are kept as distances
    // above the finer fraction so the ordering PM2.5 <= PM10 <= PM100 always holds.
    struct Unit {
        int pm25 = 0;
        int extra10 = 0;
        int extra100 = 0;
    };

    SensorSettings m_settings;
    std::mt19937 m_random;
    std::array<Unit, 4> m_units{};

    quint8 m_address = 1;
    int m_baudRate = 9600;
    bool m_asleep = false;
    quint8 m_protocol = 3;
    std::array<quint8, 4> m_deviceId{};
    quint8 m_workMode = 1;
    quint8 m_workMask = 0;
    quint8 m_cleanDuration = 10;
    quint8 m_cleanInterval = 24;
    quint8 m_heaterMode = 1;
    quint8 m_heaterOn = 0;
    qint8 m_tempHigh = 5;
    qint8 m_tempLow = -10;
    quint8 m_humiHigh = 90;
    quint8 m_humiLow = 70;
    quint8 m_globalMask = 0x0F;
    // Per unit (0 = average, 1 to 4) and range (PM2.5, PM10, PM100): the four bytes as written.
    std::array<std::array<std::array<quint8, 4>, 3>, 5> m_calibration{};
    std::array<QByteArray, 4> m_channel; // last frame written to each unit's transparent channel
};

#endif
