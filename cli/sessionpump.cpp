#include "sessionpump.h"

#include "seriallink.h"

SessionPump::SessionPump(SerialLink &link, QObject *parent)
    : QObject(parent), m_link(link), m_session(&link)
{
    m_clock.start();
    m_deadline.setSingleShot(true);
    m_deadline.setTimerType(Qt::PreciseTimer);
    connect(&m_deadline, &QTimer::timeout, this, &SessionPump::onDeadline);
    connect(&m_link, &SerialLink::readyRead, this, &SessionPump::onReadyRead);
    connect(&m_link, &SerialLink::lost, this, [this] {
        m_session.lineClosed();
        m_deadline.stop();
    });
}

quint64 SessionPump::query(SensorSession::Query query, const QByteArray &request, int unitIndex)
{
    const quint64 ticket = m_session.query(query, request, now(), unitIndex);
    aim();
    return ticket;
}

void SessionPump::startProbe()
{
    m_session.startProbe(now());
    aim();
}

void SessionPump::onReadyRead()
{
    const qint64 at = now();
    m_session.received(m_link.readAll(), at);
    m_session.advance(at);
    aim();
}

void SessionPump::onDeadline()
{
    m_session.advance(now());
    aim();
}

void SessionPump::aim()
{
    const qint64 next = m_session.nextDeadline();
    if (next < 0) {
        m_deadline.stop();
        return;
    }
    m_deadline.start(int(qBound<qint64>(0, next - now(), qint64(24) * 3600 * 1000)));
}
