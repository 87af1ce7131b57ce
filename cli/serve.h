#ifndef ZELVIK_SERVE_H
#define ZELVIK_SERVE_H

#include "invocation.h"
#include "mqttchannel.h"
#include "sensorsession.h"
#include "telemetry.h"

#include <QDateTime>
#include <QObject>
#include <QTimer>

#include <memory>
#include <thread>
#include <vector>

class SerialLink;
class SessionPump;
namespace httplib {
class Server;
}

namespace Cli {

// GET /metrics and / over HTTP, answered by cpp-httplib's own threads from the store alone. Each
// request is bounded in size and time, and a connection that says nothing is closed at once, so
// that idle or slow clients cannot hold the few worker threads that scrapes need.
class MetricsServer
{
public:
    explicit MetricsServer(const Telemetry::Store &store);
    ~MetricsServer();
    MetricsServer(const MetricsServer &) = delete;
    MetricsServer &operator=(const MetricsServer &) = delete;

    static constexpr int Workers = 8;

    // Binds host:port (port 0: any free one) and starts serving; false with *error when it cannot.
    bool start(const QString &host, quint16 port, QString *error);
    int port() const { return m_port; }
    void stop();

private:
    const Telemetry::Store &m_store;
    std::unique_ptr<httplib::Server> m_server;
    std::thread m_thread;
    int m_port = 0;
};

// One serial port read on its schedule: opened (again, with back-off, after it failed or was
// lost), asked once for the device's identifier and firmware, then its units read each interval.
// What it reads goes into the store and out as signals.
class PortReader : public QObject
{
    Q_OBJECT
public:
    static constexpr int FirstRetryMs = 500;
    static constexpr int LastRetryMs = 30000;

    PortReader(int index, const Invocation &invocation, Telemetry::Store &store, QObject *parent = nullptr);
    ~PortReader() override;

    void start();
    QString path() const { return m_path; }

signals:
    // The identifier and firmware asked after the port opened (empty when the device gave none).
    void identified(const QString &deviceId, const QString &firmware);
    void measured(int unit, const Values::Measurement &value, const QDateTime &time);
    // The last reading failed or the port was lost (false), or a reading succeeded again (true).
    void upChanged(bool up);
    void complaint(const QString &message);

private:
    enum class Phase { Closed, Identity, Firmware, Reading, Waiting };

    void open();
    void lost(const QString &reason);
    void ask(const QByteArray &request, SensorSession::Query query, int unit);
    void ended(bool answered, Telemetry::Result failure, const QByteArray &frame);
    void startRound();
    void scheduleRound();
    void setUp(bool up);

    int m_index;
    QString m_path;
    Invocation m_inv;
    Telemetry::Store &m_store;
    std::unique_ptr<SerialLink> m_link;
    std::unique_ptr<SessionPump> m_pump;
    QTimer m_retry;
    QTimer m_schedule;
    int m_retryMs = FirstRetryMs;
    QString m_lastFailure;
    Phase m_phase = Phase::Closed;
    quint64 m_ticket = 0;
    bool m_badCheck = false;
    int m_unitPos = 0;
    qint64 m_start = 0;
    qint64 m_slot = 0;
    QString m_deviceId;
    bool m_up = false;
    bool m_upKnown = false;
};

// `zelvikctl serve`: a reader per port, the metrics server and an MQTT channel per device, all on
// one event loop (the HTTP and MQTT libraries run their own network threads).
class Server : public QObject
{
    Q_OBJECT
public:
    explicit Server(const Invocation &invocation, QObject *parent = nullptr);
    ~Server() override;

    // Listens, checks the broker's answer to the credentials and starts every reader; false with
    // the exit status and why when serving cannot begin.
    bool start(int *status, QString *error);
    void stop();
    int httpPort() const { return m_http.port(); }

signals:
    void complaint(const QString &message);
    void finished(int status);

private:
    struct Device {
        QString name;
        QString firmware;
        std::unique_ptr<MqttChannel> channel;
        bool up = false;
    };

    void identified(int port, const QString &deviceId, const QString &firmware);
    void announce(Device &device);

    Invocation m_inv;
    Telemetry::Store m_store;
    MetricsServer m_http;
    MqttSettings m_mqtt;
    std::vector<std::unique_ptr<PortReader>> m_readers;
    std::vector<Device> m_devices; // by port
};

} // namespace Cli

#endif
