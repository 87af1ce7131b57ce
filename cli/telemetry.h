#ifndef ZELVIK_TELEMETRY_H
#define ZELVIK_TELEMETRY_H

#include "values.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QVector>

#include <array>
#include <mutex>

// What `zelvikctl serve` knows about its sensors, and the formats it is handed on in: the
// Prometheus text exposition, MQTT payloads with Home Assistant discovery, InfluxDB lines.
namespace Telemetry {

constexpr int Targets = 5; // avg, 1 to 4

// How one reading ended, as zelvik_readings_total counts it.
enum class Result { Ok, NoAnswer, Refused, BadCheck };
constexpr int Results = 4;
QString resultName(Result result);

// "avg", "1" .. "4".
QString targetName(int unit);

// The name a device goes by in MQTT topics and InfluxDB tags: its identifier where it answered
// one, else the port's file name ("ttyUSB0"); anything but letters, digits, '-' and '_' becomes '_'
// so that a name is always one topic level.
QString deviceName(const QString &deviceId, const QString &port);

// The latest state of every port, written by the event loop and read by the HTTP threads: each
// side holds the lock only to copy or render, so a scrape never waits for a sensor.
class Store
{
public:
    explicit Store(const QStringList &ports, qint64 intervalMs);

    void setDevice(int port, const QString &deviceId, const QString &firmware);
    void reading(int port, int unit, const Values::Measurement &value, qint64 epochMs);
    void failed(int port, Result result);
    // The port is closed or lost: not up until its next reading.
    void down(int port);

    // The exposition at nowEpochMs: a value older than three intervals is left out.
    QByteArray exposition(qint64 nowEpochMs) const;

private:
    struct Sample {
        bool has = false;
        Values::Measurement value;
        qint64 atMs = 0;
    };
    struct Port {
        QString path;
        bool up = false;
        std::array<quint64, Results> counts{};
        qint64 lastReadingMs = -1;
        QString deviceId;
        QString firmware;
        std::array<Sample, Targets> targets{};
    };

    mutable std::mutex m_lock;
    QVector<Port> m_ports;
    qint64 m_intervalMs;
};

// Prometheus label value and HELP text escaping.
QString labelValue(const QString &text);

// {"time":"2024-05-01T12:00:00.123+02:00","pm2_5":12.3,"pm10":45.6,"pm100":789}
QByteArray mqttPayload(const Values::Measurement &value, const QDateTime &time);

// particulate_matter,device=D,port=P,target=T pm2_5=12.3,pm10=45.6,pm100=789i <ns>
QString influxLine(const QString &port, const QString &device, int unit, const Values::Measurement &value,
                   const QDateTime &time);

// The MQTT topics of a device.
QString stateTopic(const QString &device, int unit);
QString statusTopic(const QString &device);

// One retained Home Assistant discovery message: the topic and its JSON configuration.
struct Discovery {
    QString topic;
    QByteArray payload;
};
// Three sensors (PM2.5, PM10, PM100) for each target, grouped under one device.
QList<Discovery> discovery(const QString &device, const QString &firmware, const QList<int> &units);

} // namespace Telemetry

#endif
