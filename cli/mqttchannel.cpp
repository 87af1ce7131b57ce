#include "mqttchannel.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QSysInfo>
#include <QThread>

#include <mosquitto.h>

namespace {

constexpr int KeepAliveS = 30;
const char *const Online = "online";
const char *const Offline = "offline";
const char *const AssistantStatus = "homeassistant/status";

void initLibrary()
{
    static const int once = mosquitto_lib_init();
    Q_UNUSED(once)
}

bool refusal(int rc)
{
    // 4: bad user name or password, 5: not authorised (MQTT 3.1.1 CONNACK codes)
    return rc == 4 || rc == 5;
}

bool secure(mosquitto *mosq, const MqttSettings &s, QString *error)
{
    if (!s.user.isEmpty()) {
        const int rc = mosquitto_username_pw_set(mosq, s.user.toUtf8().constData(),
                                                 s.password.isEmpty() ? nullptr : s.password.toUtf8().constData());
        if (rc != MOSQ_ERR_SUCCESS) {
            *error = QStringLiteral("MQTT user name: %1").arg(QString::fromUtf8(mosquitto_strerror(rc)));
            return false;
        }
    }
    if (s.tls) {
        const QByteArray cafile = s.caFile.toUtf8();
        const int rc = mosquitto_tls_set(mosq, s.caFile.isEmpty() ? nullptr : cafile.constData(),
                                         s.caFile.isEmpty() ? "/etc/ssl/certs" : nullptr, nullptr, nullptr, nullptr);
        if (rc != MOSQ_ERR_SUCCESS) {
            *error = QStringLiteral("MQTT TLS set-up with %1: %2")
                         .arg(s.caFile.isEmpty() ? QStringLiteral("/etc/ssl/certs") : s.caFile,
                              QString::fromUtf8(mosquitto_strerror(rc)));
            return false;
        }
    }
    return true;
}

} // namespace

bool MqttSettings::readCredentials(const QString &file, QString *error)
{
    if (file.isEmpty()) {
        user = qEnvironmentVariable("ZELVIK_MQTT_USER");
        password = qEnvironmentVariable("ZELVIK_MQTT_PASSWORD");
        return true;
    }
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read the MQTT credentials %1: %2").arg(file, f.errorString());
        return false;
    }
    const QList<QByteArray> lines = f.read(4096).split('\n');
    user = QString::fromUtf8(lines.value(0)).trimmed();
    password = QString::fromUtf8(lines.value(1));
    if (password.endsWith(QLatin1Char('\r')))
        password.chop(1);
    return true;
}

MqttSettings::Check MqttSettings::check(int waitMs, QString *why) const
{
    initLibrary();
    struct Answer {
        bool got = false;
        int rc = -1;
    } answer;
    mosquitto *mosq = mosquitto_new(nullptr, true, &answer);
    if (!mosq || !secure(mosq, *this, why)) {
        if (mosq)
            mosquitto_destroy(mosq);
        return Check::Unreachable;
    }
    mosquitto_connect_callback_set(mosq, [](mosquitto *, void *obj, int rc) {
        auto *a = static_cast<Answer *>(obj);
        a->got = true;
        a->rc = rc;
    });
    Check result = Check::Unreachable;
    const int rc = mosquitto_connect(mosq, host.toUtf8().constData(), port, KeepAliveS);
    if (rc != MOSQ_ERR_SUCCESS) {
        *why = QString::fromUtf8(rc == MOSQ_ERR_ERRNO ? strerror(errno) : mosquitto_strerror(rc));
    } else {
        QElapsedTimer clock;
        clock.start();
        while (!answer.got && clock.elapsed() < waitMs) {
            if (mosquitto_loop(mosq, 100, 1) != MOSQ_ERR_SUCCESS)
                break;
        }
        if (!answer.got) {
            *why = QStringLiteral("no answer to the connection");
        } else if (answer.rc == 0) {
            result = Check::Accepted;
            mosquitto_disconnect(mosq);
        } else {
            *why = QString::fromUtf8(mosquitto_connack_string(answer.rc));
            result = refusal(answer.rc) ? Check::Refused : Check::Unreachable;
        }
    }
    mosquitto_destroy(mosq);
    return result;
}

MqttChannel::MqttChannel(const MqttSettings &settings, const QString &device, QObject *parent)
    : QObject(parent), m_settings(settings), m_device(device)
{
}

MqttChannel::~MqttChannel()
{
    if (!m_mosq)
        return;
    // A clean stop says offline itself: the broker only sends the will when a client vanishes.
    if (m_connected) {
        const QByteArray topic = QStringLiteral("zelvik/%1/status").arg(m_device).toUtf8();
        int mid = 0;
        if (mosquitto_publish(m_mosq, &mid, topic.constData(), int(qstrlen(Offline)), Offline, 1, true) == MOSQ_ERR_SUCCESS)
            m_inFlight.insert(mid, {QString::fromUtf8(topic), QByteArray(Offline), true});
        QElapsedTimer clock;
        clock.start();
        while (!m_inFlight.isEmpty() && clock.elapsed() < 500) {
            QThread::msleep(10);
            QCoreApplication::sendPostedEvents(this);
        }
        mosquitto_disconnect(m_mosq);
    }
    mosquitto_loop_stop(m_mosq, !m_connected);
    mosquitto_destroy(m_mosq);
}

bool MqttChannel::start(QString *error)
{
    initLibrary();
    const QByteArray id = QStringLiteral("zelvik-%1-%2").arg(QSysInfo::machineHostName(), m_device).left(200).toUtf8();
    m_mosq = mosquitto_new(id.constData(), true, this);
    if (!m_mosq) {
        *error = QStringLiteral("cannot make an MQTT client");
        return false;
    }
    if (!secure(m_mosq, m_settings, error))
        return false;
    const QByteArray status = QStringLiteral("zelvik/%1/status").arg(m_device).toUtf8();
    mosquitto_will_set(m_mosq, status.constData(), int(qstrlen(Offline)), Offline, 1, true);
    mosquitto_reconnect_delay_set(m_mosq, 1, 30, true);
    mosquitto_max_inflight_messages_set(m_mosq, MaxInFlight);
    mosquitto_connect_callback_set(m_mosq, &MqttChannel::onConnect);
    mosquitto_disconnect_callback_set(m_mosq, &MqttChannel::onDisconnect);
    mosquitto_publish_callback_set(m_mosq, &MqttChannel::onPublish);
    mosquitto_message_callback_set(m_mosq, &MqttChannel::onMessage);
    m_firstTry.setSingleShot(true);
    connect(&m_firstTry, &QTimer::timeout, this, [this] { tryFirstConnection(); });
    return tryFirstConnection(error);
}

// The library's loop reconnects a connection that was once made, but not a first one that failed:
// until the broker has accepted once, the connection is started again here, 2 s doubling to 30 s.
bool MqttChannel::tryFirstConnection(QString *error)
{
    if (m_everConnected)
        return true;
    mosquitto_loop_stop(m_mosq, true);
    mosquitto_connect_async(m_mosq, m_settings.host.toUtf8().constData(), m_settings.port, KeepAliveS);
    const int rc = mosquitto_loop_start(m_mosq);
    if (rc != MOSQ_ERR_SUCCESS) {
        const QString why = QStringLiteral("cannot start the MQTT loop: %1").arg(QString::fromUtf8(mosquitto_strerror(rc)));
        if (error)
            *error = why;
        else
            emit complaint(QStringLiteral("MQTT %1: %2").arg(m_device, why));
        return false;
    }
    m_firstTry.start(m_firstTryMs);
    m_firstTryMs = qMin(m_firstTryMs * 2, 30000);
    return true;
}

void MqttChannel::publish(const QString &topic, const QByteArray &payload, bool retain)
{
    if (int(m_queue.size()) >= MaxQueued) {
        if (m_dropped++ == 0)
            emit complaint(QStringLiteral("MQTT %1: %2 messages wait for the broker; the oldest are dropped from now on")
                               .arg(m_device).arg(MaxQueued));
        m_queue.pop_front();
    }
    if (m_announcing) {
        m_queue.insert(m_queue.begin() + qint64(m_front++), {topic, payload, retain});
        return; // sent after the signal, in this order
    }
    m_queue.push_back({topic, payload, retain});
    send();
}

void MqttChannel::send()
{
    while (m_connected && !m_queue.empty() && m_inFlight.size() < MaxInFlight) {
        const Message &m = m_queue.front();
        int mid = 0;
        const QByteArray topic = m.topic.toUtf8();
        const int rc = mosquitto_publish(m_mosq, &mid, topic.constData(), m.payload.size(), m.payload.constData(), 1, m.retain);
        if (rc == MOSQ_ERR_NO_CONN || rc == MOSQ_ERR_ERRNO || rc == MOSQ_ERR_CONN_LOST)
            return; // kept for the next connection
        if (rc != MOSQ_ERR_SUCCESS) {
            emit complaint(QStringLiteral("MQTT %1: cannot publish on %2: %3")
                               .arg(m_device, m.topic, QString::fromUtf8(mosquitto_strerror(rc))));
        } else {
            // The library resends it after a reconnection until the broker acknowledges it.
            m_inFlight.insert(mid, m);
        }
        m_queue.pop_front();
    }
}

void MqttChannel::onConnect(mosquitto *, void *self, int rc)
{
    auto *channel = static_cast<MqttChannel *>(self);
    QMetaObject::invokeMethod(channel, [channel, rc] { channel->connectedAs(rc); }, Qt::QueuedConnection);
}

void MqttChannel::onDisconnect(mosquitto *, void *self, int rc)
{
    auto *channel = static_cast<MqttChannel *>(self);
    QMetaObject::invokeMethod(channel, [channel, rc] { channel->disconnected(rc); }, Qt::QueuedConnection);
}

void MqttChannel::onPublish(mosquitto *, void *self, int mid)
{
    auto *channel = static_cast<MqttChannel *>(self);
    QMetaObject::invokeMethod(channel, [channel, mid] { channel->acknowledged(mid); }, Qt::QueuedConnection);
}

void MqttChannel::onMessage(mosquitto *, void *self, const mosquitto_message *message)
{
    auto *channel = static_cast<MqttChannel *>(self);
    const QByteArray payload(static_cast<const char *>(message->payload), message->payloadlen);
    if (qstrcmp(message->topic, AssistantStatus) == 0 && payload == Online)
        QMetaObject::invokeMethod(channel, [channel] { emit channel->assistantOnline(); }, Qt::QueuedConnection);
}

void MqttChannel::connectedAs(int rc)
{
    if (rc != 0) {
        if (!m_refusedSaid)
            emit complaint(QStringLiteral("MQTT broker %1:%2 refused %3: %4")
                               .arg(m_settings.host).arg(m_settings.port).arg(m_device,
                                    QString::fromUtf8(mosquitto_connack_string(rc))));
        m_refusedSaid = true;
        return;
    }
    m_refusedSaid = false;
    m_connected = true;
    m_everConnected = true;
    m_firstTry.stop();
    mosquitto_subscribe(m_mosq, nullptr, AssistantStatus, 1);
    // What is published from the signal (the retained state) goes ahead of the readings that
    // waited, which follow in order.
    m_front = 0;
    m_announcing = true;
    emit connectedToBroker();
    m_announcing = false;
    send();
}

void MqttChannel::disconnected(int rc)
{
    if (m_connected && rc != 0)
        emit complaint(QStringLiteral("MQTT %1: lost the broker (%2); readings wait for it")
                           .arg(m_device, QString::fromUtf8(mosquitto_strerror(rc))));
    m_connected = false;
}

void MqttChannel::acknowledged(int mid)
{
    m_inFlight.remove(mid);
    send();
}
