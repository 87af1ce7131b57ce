#ifndef ZELVIK_PTYSENSOR_H
#define ZELVIK_PTYSENSOR_H

#include "replyfaults.h"
#include "requestframer.h"
#include "sensormodel.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

class QSocketNotifier;

struct LinkOptions {
    QString linkPath;  // symbolic link to the terminal, empty for none
    int delayMs = 0;   // wait before each reply
    bool verbose = false;
};

// The simulated sensor on the master side of a pseudo-terminal. The tool opens the slave side as
// its serial port; the sensor reads requests from the master, answers them through the model, and
// applies the requested line faults. It answers only while the line speed that the tool has set
// equals the sensor's own rate.
class PtySensor : public QObject
{
    Q_OBJECT
public:
    PtySensor(const SensorSettings &sensor, const FaultSettings &faults, const LinkOptions &options,
              QObject *parent = nullptr);
    ~PtySensor() override;

    // Opens the terminal pair and makes the link. On failure returns false with a message.
    bool open(QString *error);
    QString slavePath() const { return m_slavePath; }

    // Routes SIGINT, SIGTERM and SIGHUP to a clean quit of the application's event loop.
    static bool installSignalHandlers(QString *error);

private slots:
    void readRequests();
    void dropStalePartial();
    void sendDueReplies();
    void drift();

private:
    struct Outgoing {
        qint64 dueMs = 0;
        QByteArray bytes;    // empty for a reply that was dropped
        int newBaudRate = 0; // applied after this piece has gone out
        QString label;
    };

    void schedule(const SensorOutcome &outcome);
    void armSendTimer();
    int lineRate() const;
    bool writeToLine(const QByteArray &bytes);
    void log(const QString &text) const;
    void removeLink();

    SensorModel m_model;
    RequestFramer m_framer;
    ReplyFaults m_faults;
    LinkOptions m_options;

    int m_master = -1;
    int m_slave = -1;
    QString m_slavePath;
    bool m_linkMade = false;
    QSocketNotifier *m_readNotifier = nullptr;
    QElapsedTimer m_clock;
    QTimer m_silenceTimer;
    QTimer m_sendTimer;
    QTimer m_driftTimer;
    QList<Outgoing> m_queue;
    qint64 m_lastDueMs = 0;
};

#endif
