#include "telemetry.h"

#include "sessiontexts.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

namespace Telemetry {

namespace {

// The three sizes: the label of the gauge, the key of the JSON payload and InfluxDB field, the
// name shown in Home Assistant and its device class (none exists for PM100).
struct Size {
    const char *label;
    const char *key;
    const char *title;
    const char *deviceClass;
};
const Size Sizes[] = {
    {"pm2.5", "pm2_5", "PM2.5", "pm25"},
    {"pm10", "pm10", "PM10", "pm10"},
    {"pm100", "pm100", "PM100", nullptr},
};

const char *const ResultNames[Results] = {"ok", "no_answer", "refused", "bad_check"};

QString sizeValue(const Values::Measurement &m, int size)
{
    switch (size) {
    case 0:
        return Values::pmText(m.pm25);
    case 1:
        return Values::pmText(m.pm10);
    default:
        return QString::number(m.pm100);
    }
}

// The printed digits, so that 12.3 stays 12.3 and not its float neighbour.
double pmNumber(float value)
{
    return Values::pmText(value).toDouble();
}

void family(QString &out, const char *name, const char *type, const char *help)
{
    out += QStringLiteral("# HELP %1 %2\n# TYPE %1 %3\n").arg(QLatin1String(name), QLatin1String(help), QLatin1String(type));
}

QString seconds(qint64 ms)
{
    return QString::number(double(ms) / 1000.0, 'f', 3);
}

// Commas, equals signs and spaces in InfluxDB tags.
QString tagValue(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        if (c == QLatin1Char(',') || c == QLatin1Char('=') || c == QLatin1Char(' '))
            out += QLatin1Char('\\');
        out += c;
    }
    return out;
}

} // namespace

QString resultName(Result result)
{
    return QLatin1String(ResultNames[int(result)]);
}

QString targetName(int unit)
{
    return SessionTexts::unitName(unit);
}

QString deviceName(const QString &deviceId, const QString &port)
{
    static const QRegularExpression other(QStringLiteral("[^A-Za-z0-9_-]"));
    QString name = deviceId.isEmpty() ? QFileInfo(port).fileName() : deviceId;
    name.replace(other, QStringLiteral("_"));
    return name.isEmpty() ? QStringLiteral("sensor") : name;
}

QString labelValue(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        if (c == QLatin1Char('\\'))
            out += QLatin1String("\\\\");
        else if (c == QLatin1Char('"'))
            out += QLatin1String("\\\"");
        else if (c == QLatin1Char('\n'))
            out += QLatin1String("\\n");
        else
            out += c;
    }
    return out;
}

Store::Store(const QStringList &ports, qint64 intervalMs) : m_intervalMs(intervalMs)
{
    for (const QString &path : ports) {
        Port port;
        port.path = path;
        m_ports << port;
    }
}

void Store::setDevice(int port, const QString &deviceId, const QString &firmware)
{
    const std::lock_guard<std::mutex> hold(m_lock);
    m_ports[port].deviceId = deviceId;
    m_ports[port].firmware = firmware;
}

void Store::reading(int port, int unit, const Values::Measurement &value, qint64 epochMs)
{
    const std::lock_guard<std::mutex> hold(m_lock);
    Port &p = m_ports[port];
    p.up = true;
    ++p.counts[size_t(Result::Ok)];
    p.lastReadingMs = epochMs;
    p.targets[size_t(unit)] = Sample{true, value, epochMs};
}

void Store::failed(int port, Result result)
{
    const std::lock_guard<std::mutex> hold(m_lock);
    m_ports[port].up = false;
    ++m_ports[port].counts[size_t(result)];
}

void Store::down(int port)
{
    const std::lock_guard<std::mutex> hold(m_lock);
    m_ports[port].up = false;
}

QByteArray Store::exposition(qint64 nowEpochMs) const
{
    QVector<Port> ports;
    {
        const std::lock_guard<std::mutex> hold(m_lock);
        ports = m_ports;
    }
    const qint64 oldest = nowEpochMs - 3 * m_intervalMs;
    QString out;
    out.reserve(256 + ports.size() * 1600);
    family(out, "zelvik_particulate_matter_micrograms_per_cubic_meter", "gauge",
           "Mass concentration of particulate matter of the size, measured by the target (avg: the average of the units)");
    for (const Port &p : ports) {
        const QString port = labelValue(p.path);
        for (int unit = 0; unit < Targets; ++unit) {
            const Sample &s = p.targets[size_t(unit)];
            if (!s.has || s.atMs < oldest)
                continue; // stale: Prometheus marks the series stale instead of repeating an old value
            for (int size = 0; size < 3; ++size)
                out += QStringLiteral("zelvik_particulate_matter_micrograms_per_cubic_meter{port=\"%1\",target=\"%2\",size=\"%3\"} %4\n")
                           .arg(port, targetName(unit), QLatin1String(Sizes[size].label), sizeValue(s.value, size));
        }
    }
    family(out, "zelvik_up", "gauge", "1 when the last reading of the port succeeded, else 0");
    for (const Port &p : ports)
        out += QStringLiteral("zelvik_up{port=\"%1\"} %2\n").arg(labelValue(p.path)).arg(p.up ? 1 : 0);
    family(out, "zelvik_readings_total", "counter", "Readings of the port by how they ended");
    for (const Port &p : ports) {
        for (int r = 0; r < Results; ++r)
            out += QStringLiteral("zelvik_readings_total{port=\"%1\",result=\"%2\"} %3\n")
                       .arg(labelValue(p.path), QLatin1String(ResultNames[r]))
                       .arg(p.counts[size_t(r)]);
    }
    family(out, "zelvik_last_reading_timestamp_seconds", "gauge", "Time of the port's last successful reading, seconds since the epoch");
    for (const Port &p : ports) {
        if (p.lastReadingMs >= 0)
            out += QStringLiteral("zelvik_last_reading_timestamp_seconds{port=\"%1\"} %2\n")
                       .arg(labelValue(p.path), seconds(p.lastReadingMs));
    }
    family(out, "zelvik_device_info", "gauge", "The identifiers of the device on the port");
    for (const Port &p : ports) {
        if (!p.deviceId.isEmpty())
            out += QStringLiteral("zelvik_device_info{port=\"%1\",device_id=\"%2\",firmware=\"%3\"} 1\n")
                       .arg(labelValue(p.path), labelValue(p.deviceId), labelValue(p.firmware));
    }
    return out.toUtf8();
}

QByteArray mqttPayload(const Values::Measurement &value, const QDateTime &time)
{
    QJsonObject o;
    o[QStringLiteral("time")] = SessionTexts::isoTime(time);
    o[QStringLiteral("pm2_5")] = pmNumber(value.pm25);
    o[QStringLiteral("pm10")] = pmNumber(value.pm10);
    o[QStringLiteral("pm100")] = value.pm100;
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

QString influxLine(const QString &port, const QString &device, int unit, const Values::Measurement &value,
                   const QDateTime &time)
{
    // Tags sorted by key; pm100 is a whole number, the others may carry a decimal.
    return QStringLiteral("particulate_matter,device=%1,port=%2,target=%3 pm2_5=%4,pm10=%5,pm100=%6i %7")
        .arg(tagValue(device), tagValue(port), targetName(unit), Values::pmText(value.pm25), Values::pmText(value.pm10))
        .arg(value.pm100)
        .arg(time.toMSecsSinceEpoch() * 1000000);
}

QString stateTopic(const QString &device, int unit)
{
    return QStringLiteral("zelvik/%1/%2").arg(device, targetName(unit));
}

QString statusTopic(const QString &device)
{
    return QStringLiteral("zelvik/%1/status").arg(device);
}

QList<Discovery> discovery(const QString &device, const QString &firmware, const QList<int> &units)
{
    QJsonObject dev;
    dev[QStringLiteral("identifiers")] = QJsonArray{QStringLiteral("zelvik_") + device};
    dev[QStringLiteral("name")] = QStringLiteral("Zelvik ") + device;
    dev[QStringLiteral("model")] = QStringLiteral("Zelvik particulate-matter sensor");
    dev[QStringLiteral("manufacturer")] = QStringLiteral("Zelvik");
    if (!firmware.isEmpty())
        dev[QStringLiteral("sw_version")] = firmware;
    QList<Discovery> list;
    for (int unit : units) {
        const QString target = targetName(unit);
        for (const Size &size : Sizes) {
            const QString objectId = QStringLiteral("%1_%2").arg(target, QLatin1String(size.key));
            QJsonObject c;
            c[QStringLiteral("name")] = QStringLiteral("%1 %2").arg(unit == 0 ? QStringLiteral("Average") : QStringLiteral("Unit ") + target,
                                                                    QLatin1String(size.title));
            c[QStringLiteral("unique_id")] = QStringLiteral("zelvik_%1_%2").arg(device, objectId);
            // The entity id (sensor.zelvik_<device>_<target>_<size>) rather than one from the name alone.
            c[QStringLiteral("object_id")] = c[QStringLiteral("unique_id")];
            c[QStringLiteral("state_topic")] = stateTopic(device, unit);
            c[QStringLiteral("value_template")] = QStringLiteral("{{ value_json.%1 }}").arg(QLatin1String(size.key));
            c[QStringLiteral("unit_of_measurement")] = QStringLiteral("µg/m³");
            if (size.deviceClass)
                c[QStringLiteral("device_class")] = QLatin1String(size.deviceClass);
            c[QStringLiteral("state_class")] = QStringLiteral("measurement");
            c[QStringLiteral("availability_topic")] = statusTopic(device);
            c[QStringLiteral("payload_available")] = QStringLiteral("online");
            c[QStringLiteral("payload_not_available")] = QStringLiteral("offline");
            c[QStringLiteral("device")] = dev;
            list.append({QStringLiteral("homeassistant/sensor/zelvik_%1/%2/config").arg(device, objectId),
                         QJsonDocument(c).toJson(QJsonDocument::Compact)});
        }
    }
    return list;
}

} // namespace Telemetry
