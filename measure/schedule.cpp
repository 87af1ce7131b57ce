#include "schedule.h"

void MeasureSchedule::start(const QList<int> &targets, qint64 intervalMs, qint64 nowMs)
{
    m_targets = targets;
    m_intervalMs = qMax<qint64>(0, intervalMs);
    m_running = !targets.isEmpty();
    m_waiting = false;
    m_next = 0;
    m_roundStartMs = nowMs;
    m_dueMs = nowMs;
    m_lineLimited = false;
    m_endedAt.clear();
}

void MeasureSchedule::stop()
{
    m_running = false;
    m_waiting = false;
}

int MeasureSchedule::due(qint64 nowMs) const
{
    if (!m_running || m_waiting || nowMs < m_dueMs)
        return -1;
    return m_targets.at(m_next);
}

qint64 MeasureSchedule::nextDueMs() const
{
    return m_running && !m_waiting ? m_dueMs : -1;
}

void MeasureSchedule::sent(int target, qint64 nowMs)
{
    Q_UNUSED(nowMs)
    if (!m_running || m_targets.at(m_next) != target)
        return;
    m_waiting = true;
}

void MeasureSchedule::ended(qint64 nowMs)
{
    if (!m_running || !m_waiting)
        return;
    m_waiting = false;
    m_endedAt.append(nowMs);
    if (m_endedAt.size() > RateWindow)
        m_endedAt.removeFirst();
    if (++m_next < m_targets.size()) {
        m_dueMs = nowMs; // the rest of the round goes out back to back
        return;
    }
    // The round is done: the next starts one interval after this one started, or now when the
    // line took longer than that.
    m_next = 0;
    const qint64 due = m_roundStartMs + m_intervalMs;
    m_lineLimited = due <= nowMs;
    m_dueMs = qMax(due, nowMs);
    m_roundStartMs = m_dueMs;
}

void MeasureSchedule::deferred(qint64 retryMs)
{
    if (m_running && !m_waiting)
        m_dueMs = retryMs;
}

double MeasureSchedule::achievedRate() const
{
    if (m_endedAt.size() < 2 || m_endedAt.last() <= m_endedAt.first())
        return 0;
    return (m_endedAt.size() - 1) * 1000.0 / double(m_endedAt.last() - m_endedAt.first());
}
