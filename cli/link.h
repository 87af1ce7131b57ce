#ifndef ZELVIK_LINK_H
#define ZELVIK_LINK_H

#include "framer.h"
#include "invocation.h"
#include "localecho.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QSerialPort>
#include <QStringList>
#include <QTimer>

class QEventLoop;

// The serial line of zelvikctl: one request at a time, its reply read on readyRead, cut by the
// framer and checked there, retried after a time-out or a bad check value.
class Link : public QObject
{
    Q_OBJECT
public:
    struct Outcome {
        enum Kind {
            Answer,   // frame answers the request
            Refused,  // frame is an exception reply to it
            Other,    // no answer, but frame answered something else
            NoAnswer, // nothing usable after every attempt
            PortLost, // the port failed; notes say why
            Stopped   // stop() was called
        } kind = NoAnswer;
        QByteArray frame;
        QStringList notes; // what went wrong on the way: refused replies, stray bytes
        int attempts = 0;
    };

    explicit Link(const Cli::Options &options, QObject *parent = nullptr);

    // Opens the port 8N1 at the options' rate; on failure message says why (Cli::openFailure).
    bool open(QString *message);
    bool setBaudRate(qint32 rate);
    Outcome exchange(const QByteArray &request);

    // Runs the event loop until ms on clock(); false when stopped first.
    bool waitUntil(qint64 ms);
    const QElapsedTimer &clock() const { return m_clock; }

    // Ends the wait in progress and every later one (a signal to stop).
    void stop();
    bool stopped() const { return m_stopped; }

private:
    enum class End { Pending, Answer, Refused, BadCheck, TimedOut, PortLost, Stopped };

    End attempt(const QByteArray &request, Outcome &outcome);
    void settle();
    void onReadyRead();
    void onError(QSerialPort::SerialPortError error);
    void finish(End end);

    Cli::Options m_options;
    QSerialPort m_port;
    ReplyFramer m_framer;
    LocalEcho m_echo;
    QElapsedTimer m_clock;
    QTimer m_timer;
    QEventLoop *m_loop = nullptr;
    End m_end = End::Pending;
    bool m_settling = false;
    bool m_stopped = false;
    QByteArray m_request;
    Outcome *m_outcome = nullptr;
};

#endif
