#ifndef ZELVIK_SESSIONPUMP_H
#define ZELVIK_SESSIONPUMP_H

#include "sensorsession.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

class SerialLink;

// A sensor session on an open serial link, driven by the event loop alone: what the port delivers
// is handed to the session as it arrives, and one single-shot timer wakes the session at its next
// deadline (a reply overdue, a probe rate held long enough, a frame cut short). Queries and the
// probe start through here so that the timer is aimed again after each of them.
class SessionPump : public QObject
{
    Q_OBJECT
public:
    explicit SessionPump(SerialLink &link, QObject *parent = nullptr);

    SensorSession &session() { return m_session; }
    // The session's clock: milliseconds since the pump was made.
    qint64 now() const { return m_clock.elapsed(); }

    // As SensorSession::query(): the ticket, or 0 when nothing went out.
    quint64 query(SensorSession::Query query, const QByteArray &request, int unitIndex = 0);
    void startProbe();

private:
    void onReadyRead();
    void onDeadline();
    void aim();

    SerialLink &m_link;
    SensorSession m_session;
    QElapsedTimer m_clock;
    QTimer m_deadline;
};

#endif
