#include "serve.h"

#include "commandframes.h"
#include "nativedecode.h"
#include "runner.h"
#include "seriallink.h"
#include "sessionpump.h"

#include <httplib.h>

#include <QFileInfo>

#include <cmath>

namespace Cli {

namespace {

const char *const IndexPage =
    "<!DOCTYPE html>\n<html><head><title>zelvikctl serve</title></head>\n"
    "<body><h1>zelvikctl serve</h1><p><a href=\"/metrics\">Metrics</a></p></body></html>\n";

} // namespace

MetricsServer::MetricsServer(const Telemetry::Store &store) : m_store(store) {}

MetricsServer::~MetricsServer()
{
    stop();
}

bool MetricsServer::start(const QString &host, quint16 port, QString *error)
{
    m_server = std::make_unique<httplib::Server>();
    httplib::Server &s = *m_server;
    s.new_task_queue = [] { return new httplib::ThreadPool(Workers); };
    // A worker serves one connection at a time and waits the keep-alive time-out for its next
    // request, the first one included: with the library's 5 s, 500 connections that say nothing
    // hold the workers for minutes and a scrape waits behind them. At 0 a connection must bring
    // its request within the library's 10 ms poll; a scraper sends it with the connection.
    s.set_keep_alive_timeout(0);
    s.set_keep_alive_max_count(10);
    s.set_read_timeout(2, 0);
    s.set_write_timeout(2, 0);
    s.set_payload_max_length(1024);
    s.Get("/metrics", [this](const httplib::Request &, httplib::Response &res) {
        const QByteArray body = m_store.exposition(QDateTime::currentMSecsSinceEpoch());
        res.set_content(body.constData(), size_t(body.size()), "text/plain; version=0.0.4; charset=utf-8");
    });
    s.Get("/", [](const httplib::Request &, httplib::Response &res) { res.set_content(IndexPage, "text/html; charset=utf-8"); });
    // Nothing over HTTP changes anything: every other method is refused.
    auto refuse = [](const httplib::Request &, httplib::Response &res) {
        res.status = 405;
        res.set_header("Allow", "GET");
    };
    for (const char *path : {"/", "/metrics"}) {
        s.Post(path, refuse);
        s.Put(path, refuse);
        s.Delete(path, refuse);
        s.Patch(path, refuse);
    }
    const std::string where = host.toStdString();
    if (port == 0) {
        m_port = s.bind_to_any_port(where);
    } else {
        m_port = s.bind_to_port(where, port) ? port : -1;
    }
    if (m_port <= 0) {
        *error = QStringLiteral("cannot listen on %1:%2: %3").arg(host).arg(port).arg(QString::fromLocal8Bit(strerror(errno)));
        m_server.reset();
        return false;
    }
    m_thread = std::thread([this] { m_server->listen_after_bind(); });
    return true;
}

void MetricsServer::stop()
{
    if (!m_server)
        return;
    m_server->stop();
    if (m_thread.joinable())
        m_thread.join();
    m_server.reset();
}

PortReader::PortReader(int index, const Invocation &invocation, Telemetry::Store &store, QObject *parent)
    : QObject(parent), m_index(index), m_path(invocation.serve.ports.at(index)), m_inv(invocation), m_store(store)
{
    m_inv.options.port = m_path;
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, &PortReader::open);
    m_schedule.setSingleShot(true);
    m_schedule.setTimerType(Qt::PreciseTimer);
    connect(&m_schedule, &QTimer::timeout, this, &PortReader::startRound);
}

PortReader::~PortReader()
{
    m_pump.reset();
    m_link.reset();
}

void PortReader::start()
{
    open();
}

void PortReader::open()
{
    auto link = std::make_unique<SerialLink>();
    if (!link->open(m_path, m_inv.options.baud)) {
        // Said once for each new reason, not at every retry.
        if (link->openFailure() != m_lastFailure) {
            // The window's sentence, begun in lower case like every other message of the program.
            QString message = link->openFailure();
            message[0] = message.at(0).toLower();
            emit complaint(message + QStringLiteral("; trying again"));
        }
        m_lastFailure = link->openFailure();
        m_store.down(m_index);
        setUp(false);
        m_retry.start(m_retryMs);
        m_retryMs = qMin(m_retryMs * 2, LastRetryMs);
        return;
    }
    if (!m_lastFailure.isEmpty())
        emit complaint(QStringLiteral("%1 is open again").arg(m_path));
    m_lastFailure.clear();
    m_retryMs = FirstRetryMs;
    m_link = std::move(link);
    m_pump = std::make_unique<SessionPump>(*m_link);
    configureSession(*m_pump, m_inv.options);
    SensorSession &session = m_pump->session();
    connect(&session, &SensorSession::answered, this, [this](const SensorSession::Reply &reply) {
        if (reply.ticket == m_ticket)
            ended(true, Telemetry::Result::Ok, reply.frame);
    });
    connect(&session, &SensorSession::noAnswer, this, [this](const SensorSession::Reply &reply) {
        if (reply.ticket == m_ticket)
            ended(false, m_badCheck ? Telemetry::Result::BadCheck : Telemetry::Result::NoAnswer, QByteArray());
    });
    connect(&session, &SensorSession::refused, this, [this](const SensorSession::Refusal &refusal) {
        if (refusal.hasQuery && refusal.query.ticket == m_ticket)
            ended(false, Telemetry::Result::Refused, QByteArray());
    });
    connect(&session, &SensorSession::note, this, [this](SensorSession::Note kind, const QString &) {
        if (kind == SensorSession::Note::BadCheck)
            m_badCheck = true;
    });
    connect(m_link.get(), &SerialLink::lost, this, &PortReader::lost);
    m_phase = Phase::Identity;
    ask(Commands::getDeviceInfo(), SensorSession::Query::request, 0);
}

void PortReader::lost(const QString &reason)
{
    emit complaint(QStringLiteral("lost the port %1 (%2); trying again").arg(m_path, reason.trimmed()));
    m_lastFailure = QStringLiteral("lost");
    m_phase = Phase::Closed;
    m_ticket = 0;
    m_schedule.stop();
    m_store.down(m_index);
    setUp(false);
    // Inside the link's own signal: both go once it has returned.
    m_pump.release()->deleteLater();
    m_link.release()->deleteLater();
    m_retry.start(m_retryMs);
}

void PortReader::ask(const QByteArray &request, SensorSession::Query query, int unit)
{
    m_badCheck = false;
    m_ticket = m_pump->query(query, request, unit);
    if (m_ticket == 0) {
        // Nothing went out (the write failed): counted as unanswered, from the event loop.
        QMetaObject::invokeMethod(this, [this] { ended(false, Telemetry::Result::NoAnswer, QByteArray()); },
                                  Qt::QueuedConnection);
    }
}

void PortReader::ended(bool answered, Telemetry::Result failure, const QByteArray &frame)
{
    m_ticket = 0;
    switch (m_phase) {
    case Phase::Identity:
        m_deviceId = answered ? deviceIdText(frame) : QString();
        if (answered) {
            m_phase = Phase::Firmware;
            ask(Commands::firmwareIdRequest(), SensorSession::Query::request, 0);
            return;
        }
        emit identified(QString(), QString());
        break;
    case Phase::Firmware: {
        const QString firmware = answered ? firmwareIdText(frame) : QString();
        m_store.setDevice(m_index, m_deviceId, firmware);
        emit identified(m_deviceId, firmware);
        break;
    }
    case Phase::Reading: {
        const int unit = m_inv.units.at(m_unitPos);
        if (answered) {
            const QDateTime now = QDateTime::currentDateTime();
            const Values::Measurement value = Values::measurement(frame);
            m_store.reading(m_index, unit, value, now.toMSecsSinceEpoch());
            setUp(true);
            emit measured(unit, value, now);
        } else {
            m_store.failed(m_index, failure);
            setUp(false);
        }
        if (++m_unitPos < m_inv.units.size()) {
            ask(readRequest(m_inv.options, m_inv.units.at(m_unitPos)), SensorSession::Query::pendingSensorData,
                m_inv.units.at(m_unitPos));
            return;
        }
        m_phase = Phase::Waiting;
        scheduleRound();
        return;
    }
    case Phase::Closed:
    case Phase::Waiting:
        return;
    }
    // Identified: the rounds begin now and keep their schedule from here.
    m_start = m_pump->now();
    m_slot = 0;
    startRound();
}

void PortReader::startRound()
{
    if (!m_pump)
        return;
    m_phase = Phase::Reading;
    m_unitPos = 0;
    ask(readRequest(m_inv.options, m_inv.units.first()), SensorSession::Query::pendingSensorData, m_inv.units.first());
}

// Rounds start at start + n × interval; a round that overran skips the slots it missed.
void PortReader::scheduleRound()
{
    const double intervalMs = m_inv.intervalS * 1000.0;
    const qint64 now = m_pump->now();
    m_slot = qMax(m_slot + 1, qint64(std::ceil(double(now - m_start) / intervalMs)));
    const qint64 due = m_start + std::llround(double(m_slot) * intervalMs);
    m_schedule.start(int(qMax<qint64>(0, due - now)));
}

void PortReader::setUp(bool up)
{
    if (m_upKnown && up == m_up)
        return;
    m_upKnown = true;
    m_up = up;
    emit upChanged(up);
}

Server::Server(const Invocation &invocation, QObject *parent)
    : QObject(parent),
      m_inv(invocation),
      m_store(invocation.serve.ports, qint64(std::llround(invocation.intervalS * 1000))),
      m_http(m_store)
{
    m_devices.resize(size_t(m_inv.serve.ports.size()));
}

Server::~Server()
{
    stop();
}

bool Server::start(int *status, QString *error)
{
    const ServeOptions &o = m_inv.serve;
    if (!o.mqttUrl.isEmpty()) {
        m_mqtt.host = o.mqttHost;
        m_mqtt.port = o.mqttPort;
        m_mqtt.tls = o.mqttTls;
        m_mqtt.caFile = o.mqttCaFile;
        if (!m_mqtt.readCredentials(o.mqttCredentials, error)) {
            *status = ExitUsage;
            return false;
        }
        QString why;
        switch (m_mqtt.check(5000, &why)) {
        case MqttSettings::Check::Refused:
            *status = ExitBroker;
            *error = QStringLiteral("the MQTT broker %1:%2 refused the connection: %3 (user and password come from "
                                    "ZELVIK_MQTT_USER and ZELVIK_MQTT_PASSWORD or --mqtt-credentials)")
                         .arg(m_mqtt.host).arg(m_mqtt.port).arg(why);
            return false;
        case MqttSettings::Check::Unreachable:
            emit complaint(QStringLiteral("the MQTT broker %1:%2 cannot be reached now (%3); readings wait for it")
                               .arg(m_mqtt.host).arg(m_mqtt.port).arg(why));
            break;
        case MqttSettings::Check::Accepted:
            break;
        }
    }
    if (!m_http.start(o.listenHost, o.listenPort, error)) {
        *status = ExitPort;
        return false;
    }
    emit complaint(QStringLiteral("serving http://%1:%2/metrics")
                       .arg(o.listenHost.contains(QLatin1Char(':')) ? QStringLiteral("[%1]").arg(o.listenHost) : o.listenHost)
                       .arg(m_http.port()));
    for (int i = 0; i < o.ports.size(); ++i) {
        auto reader = std::make_unique<PortReader>(i, m_inv, m_store);
        connect(reader.get(), &PortReader::complaint, this, &Server::complaint);
        connect(reader.get(), &PortReader::identified, this,
                [this, i](const QString &id, const QString &firmware) { identified(i, id, firmware); });
        connect(reader.get(), &PortReader::measured, this, [this, i](int unit, const Values::Measurement &value, const QDateTime &time) {
            Device &d = m_devices[size_t(i)];
            if (d.channel)
                d.channel->publish(Telemetry::stateTopic(d.name, unit), Telemetry::mqttPayload(value, time), false);
        });
        connect(reader.get(), &PortReader::upChanged, this, [this, i](bool up) {
            Device &d = m_devices[size_t(i)];
            d.up = up;
            if (d.channel)
                d.channel->publish(Telemetry::statusTopic(d.name), up ? QByteArray("online") : QByteArray("offline"), true);
        });
        reader->start();
        m_readers.push_back(std::move(reader));
    }
    return true;
}

void Server::identified(int port, const QString &deviceId, const QString &firmware)
{
    Device &d = m_devices[size_t(port)];
    d.firmware = firmware;
    if (!d.name.isEmpty() || m_inv.serve.mqttUrl.isEmpty())
        return; // a device keeps the name it was first given: its topics stay where they are
    QString name = Telemetry::deviceName(deviceId, m_inv.serve.ports.at(port));
    // Two devices with one identifier (a factory default) keep apart by their ports.
    for (const Device &other : m_devices) {
        if (other.name == name) {
            name = Telemetry::deviceName(name + QLatin1Char('_') + QFileInfo(m_inv.serve.ports.at(port)).fileName(), QString());
            break;
        }
    }
    d.name = name;
    d.channel = std::make_unique<MqttChannel>(m_mqtt, name);
    connect(d.channel.get(), &MqttChannel::complaint, this, &Server::complaint);
    MqttChannel *channel = d.channel.get();
    connect(channel, &MqttChannel::connectedToBroker, this, [this, port] { announce(m_devices[size_t(port)]); });
    connect(channel, &MqttChannel::assistantOnline, this, [this, port] { announce(m_devices[size_t(port)]); });
    QString error;
    if (!channel->start(&error))
        emit complaint(QStringLiteral("MQTT %1: %2").arg(name, error));
}

// The retained discovery configurations, and the availability as it is now.
void Server::announce(Device &device)
{
    for (const Telemetry::Discovery &config : Telemetry::discovery(device.name, device.firmware, m_inv.units))
        device.channel->publish(config.topic, config.payload, true);
    device.channel->publish(Telemetry::statusTopic(device.name), device.up ? QByteArray("online") : QByteArray("offline"), true);
}

void Server::stop()
{
    m_http.stop();
    m_readers.clear();
    m_devices.clear();
}

} // namespace Cli
