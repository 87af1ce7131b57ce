#ifndef ZELVIK_MQTTCHANNEL_H
#define ZELVIK_MQTTCHANNEL_H

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <deque>

struct mosquitto;
struct mosquitto_message;

// Where and as whom `serve` publishes: mqtt://HOST[:PORT] or mqtts://HOST[:PORT], the user and
// password from the environment or a file (never from the command line).
struct MqttSettings {
    QString host;
    int port = 1883;
    bool tls = false;
    QString caFile;
    QString user;
    QString password;

    // ZELVIK_MQTT_USER and ZELVIK_MQTT_PASSWORD, or a file whose first line is the user and whose
    // second is the password. False (with *error) when the file cannot be read.
    bool readCredentials(const QString &file, QString *error);

    enum class Check { Accepted, Refused, Unreachable };
    // One connection made and closed at start-up, waiting up to waitMs for the broker's answer.
    Check check(int waitMs, QString *why) const;
};

// The MQTT connection of one device, with its own last will ("offline", retained, on the device's
// status topic) so that the broker says so when the gateway vanishes. Messages go out in the
// order they were handed over, QoS 1; while the broker cannot be reached they wait in a queue of
// at most MaxQueued messages (the oldest reading is dropped beyond it) and go out, in order, once
// it is back. libmosquitto runs its network loop in its own thread; its callbacks are handed to
// the event loop of this object's thread.
class MqttChannel : public QObject
{
    Q_OBJECT
public:
    static constexpr int MaxQueued = 10000;
    static constexpr int MaxInFlight = 20;

    MqttChannel(const MqttSettings &settings, const QString &device, QObject *parent = nullptr);
    ~MqttChannel() override;

    // Connects in the background and keeps reconnecting (1 s, doubling, up to 30 s).
    bool start(QString *error);
    void publish(const QString &topic, const QByteArray &payload, bool retain);

    bool connected() const { return m_connected; }
    int queued() const { return int(m_queue.size()); }
    quint64 dropped() const { return m_dropped; }

signals:
    // Each time the broker accepts the connection: retained state may be published again.
    void connectedToBroker();
    // Home Assistant announced itself online: its discovery configurations are wanted again.
    void assistantOnline();
    void complaint(const QString &message);

private:
    struct Message {
        QString topic;
        QByteArray payload;
        bool retain;
    };

    static void onConnect(mosquitto *, void *self, int rc);
    static void onDisconnect(mosquitto *, void *self, int rc);
    static void onPublish(mosquitto *, void *self, int mid);
    static void onMessage(mosquitto *, void *self, const mosquitto_message *message);
    void connectedAs(int rc);
    void disconnected(int rc);
    void acknowledged(int mid);
    void send();
    bool tryFirstConnection(QString *error = nullptr);

    MqttSettings m_settings;
    QString m_device;
    mosquitto *m_mosq = nullptr;
    bool m_connected = false;
    bool m_everConnected = false;
    QTimer m_firstTry;
    int m_firstTryMs = 2000;
    bool m_refusedSaid = false;
    bool m_announcing = false; // inside connectedToBroker(): publish() puts messages first
    size_t m_front = 0;
    std::deque<Message> m_queue;
    QHash<int, Message> m_inFlight; // by message id, until the broker acknowledges it
    quint64 m_dropped = 0;
};

#endif
