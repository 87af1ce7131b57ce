#ifndef ZELVIK_SCHEDULE_H
#define ZELVIK_SCHEDULE_H

#include <QList>
#include <QVector>
#include <QtGlobal>

// Which measurement goes out next. Every interval a round reads each chosen target once, one
// reading at a time: the replies of all targets have the same size, so only one can be on the line
// at once, and the next goes out when the previous has ended (answered, refused or given up).
// A round that takes longer than the interval is followed by the next at once; rounds missed in
// between are not made up, so no backlog builds and the rate is what the line allows.
class MeasureSchedule
{
public:
    // Interval 0: as fast as the line allows.
    void start(const QList<int> &targets, qint64 intervalMs, qint64 nowMs);
    void stop();
    bool running() const { return m_running; }
    bool waiting() const { return m_waiting; }

    // The target to read now, or -1 when none is due yet (or one is still on the line).
    int due(qint64 nowMs) const;
    // When the next reading is due; -1 while one is on the line or the schedule is stopped.
    qint64 nextDueMs() const;
    // The reading of target went out at nowMs.
    void sent(int target, qint64 nowMs);
    // The reading on the line ended at nowMs, answered or not.
    void ended(qint64 nowMs);
    // Nothing went out for the due target (the port is closed, say): it is tried again at retryMs.
    void deferred(qint64 retryMs);

    // Readings ended per second over the latest ones; 0 until two have ended.
    double achievedRate() const;
    // The rounds run back to back: the interval is shorter than the line allows.
    bool lineLimited() const { return m_lineLimited; }

private:
    static constexpr int RateWindow = 20;

    QList<int> m_targets;
    qint64 m_intervalMs = 0;
    bool m_running = false;
    bool m_waiting = false;   // a reading is on the line
    int m_next = 0;           // index into m_targets
    qint64 m_roundStartMs = 0;
    qint64 m_dueMs = 0;
    bool m_lineLimited = false;
    QVector<qint64> m_endedAt; // the latest RateWindow ends, oldest first
};

#endif
