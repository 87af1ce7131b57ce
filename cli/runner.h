#ifndef ZELVIK_RUNNER_H
#define ZELVIK_RUNNER_H

#include "invocation.h"
#include "results.h"
#include "sessionpump.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QStringList>
#include <QTimer>

class SerialLink;

namespace Cli {

// One run of zelvikctl on an open port, as a state machine on the event loop. The invocation's
// requests go out one at a time as queries of one sensor session; each outcome is printed or
// reported as it comes, and finished() carries the exit status. Nothing here waits: the session
// is woken by the port and its deadlines, the monitor by its schedule timer.
class Runner : public QObject
{
    Q_OBJECT
public:
    Runner(const Invocation &invocation, SerialLink &link, QObject *parent = nullptr);

    // Sends the first request, starts the first monitor round or starts the probe.
    void start();
    // Ends a monitor at once, between two readings as printed, with the status it has so far
    // (SIGINT, SIGTERM). Other runs go on.
    void stop();

signals:
    void output(const QString &line);       // for standard output
    void complaint(const QString &message); // for standard error
    void finished(int status);

private:
    // How one request ended, after all its attempts.
    struct Outcome {
        enum Kind { Answer, Refused, Other, NoAnswer } kind = NoAnswer;
        QByteArray frame; // the answer, the exception reply, or the last reply to something else
        int attempts = 0;
        QStringList notes;
    };

    void ask(const QByteArray &request, SensorSession::Query query, int unit);
    void end(Outcome::Kind kind, const QByteArray &frame, int attempts);
    void proceed(const Outcome &outcome);
    void exchanged(const Outcome &outcome);
    void monitored(const Outcome &outcome);
    void askReading();
    void scheduleRound();
    Failure problem(const Outcome &outcome) const;
    QString noAnswerHint(bool probing) const;
    void finish(int status);
    void fail(const Failure &failure);
    void fail(int status, const QString &message);

    void onAnswered(const SensorSession::Reply &reply);
    void onRefused(const SensorSession::Refusal &refusal);
    void onNoAnswer(const SensorSession::Reply &reply);
    void onOther(const QByteArray &frame);
    void onNote(const QString &line);
    void onLost(const QString &reason);

    Invocation m_inv;
    SessionPump m_pump;
    bool m_done = false;

    // The request on the line and what happened meanwhile.
    bool m_waiting = false;
    quint64 m_ticket = 0;
    QStringList m_notes;
    QByteArray m_other;
    QByteArray m_damaged; // the last reply that could not be read

    QList<QByteArray> m_replies; // an exchange's answers so far
    // monitor
    QTimer m_schedule;
    qint64 m_start = 0;
    qint64 m_slot = 0;
    qint64 m_round = 0;
    int m_unitPos = 0;
    int m_status = ExitOk;
    bool m_hinted = false; // a monitor says what to try once
};

} // namespace Cli

#endif
