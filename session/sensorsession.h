#ifndef ZELVIK_SENSORSESSION_H
#define ZELVIK_SENSORSESSION_H

#include "baudprobe.h"
#include "framer.h"
#include "localecho.h"
#include "pendingreplies.h"
#include "values.h"

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QString>

class SessionLine;

// One sensor on one line: the queue of queries and its matching rule, the framer and every check
// value, the local-echo filter, deadlines, retries and the baud-rate probe. It has no widgets and
// no clock of its own: the front end hands it the bytes it read and the time (milliseconds on any
// steady clock), it writes through the line it was given, and it reports what happened as signals.
// Nothing is shared between sessions.
//
// Replies carry no request id, so a reply that comes after its query was given up would be taken
// by the next query of the same size. After a deadline (and after Open, and before each request
// of the baud-rate probe) the line is therefore not trusted for that reply size until it has been
// quiet: such a reply that arrives before the next query of its size is written is dropped as
// late, and that next query waits for a quiet line before it goes out.
class SensorSession : public QObject
{
    Q_OBJECT
public:
    using Query = PendingReplies::Query;

    // A query as it ended: answered (frame is the reply), refused (frame is the exception reply) or
    // not answered in time (frame empty).
    struct Reply {
        Query query = Query::request;
        quint64 ticket = 0;
        int unitIndex = 0;
        QByteArray request;
        QByteArray frame;
        int attempts = 0;
        bool neverQuiet = false; // no answer because the line never went quiet for it to be asked
        bool notSent = false;    // no answer because its request, waiting, could not be written
    };
    // An exception reply. It says which function failed, not which request: hasQuery tells whether
    // a waiting query was ended by it.
    struct Refusal {
        bool toWrite = false; // the function that failed was a write
        quint8 code = 0;
        bool hasQuery = false;
        Reply query;
        QList<Query> readsWaiting; // the reads that were on the line when it came, oldest first
        QByteArray frame;          // the exception reply as received
    };
    // What a late reply was late for.
    struct Late {
        bool beforeOpen = false;  // a request from before the port was opened
        bool beforeProbe = false; // a request from before the probe started
        Query query = Query::request;
        qint32 probeRate = 0;    // the probe's request at this rate, when the probe moved on
    };
    enum class Note {
        NotSent,      // a request could not be written
        Dropped,      // unframed bytes, or more than one read takes
        Incomplete,   // a frame that did not complete in time
        BadCheck      // a whole frame whose check value failed
    };

    // A read of more than this many bytes at once is cut to its newest part: a babbling line or a
    // wrong adapter setting can deliver far more than any reply, and only the newest bytes can
    // still hold an answer.
    static constexpr int MaxBytesPerRead = 4096;

    explicit SensorSession(SessionLine *line, QObject *parent = nullptr);

    // How long a query waits for its answer, and how often its request is written again when none
    // came (the window: 1 s, never again).
    void setAnswerTimeout(qint64 ms) { m_answerTimeoutMs = ms; }
    qint64 answerTimeout() const { return m_answerTimeoutMs; }
    void setRetries(int retries) { m_retries = retries; }
    // The probe asks this Modbus address and takes an answer only from it (0: from any device).
    void setDeviceAddress(quint8 address) { m_address = address; }
    // The probe holds each rate for polls poll() calls, or with polls 0 for holdMs, writing its
    // request attemptsPerRate times there.
    void setProbeHold(quint32 polls, qint64 holdMs, int attemptsPerRate) { m_probe.setHold(polls, holdMs, attemptsPerRate); }
    // How long the line must stay without input before it is trusted again (the window: one poll).
    void setQuietTime(qint64 ms) { m_quietMs = ms; }
    // Drops the copy of each request that an echoing adapter sends back. Switching keeps what the
    // filter held back: those bytes go on to the framer.
    void setLocalEcho(bool on, qint64 nowMs);
    bool localEcho() const { return m_localEchoOn; }

    // A query: its request goes out now, or after the query ahead of it that expects the same
    // reply has ended. Returns its ticket, or 0 when nothing will come of it (the line is closed,
    // the write failed, or the same request already waits).
    quint64 query(Query query, const QByteArray &request, qint64 nowMs, int unitIndex = 0);
    // A query whose request goes out delayMs from nowMs (the device needs a moment first); the
    // session asks for a wake-up through wakeUpAt(). unitIndex as for query().
    void queryLater(Query query, const QByteArray &request, qint64 nowMs, qint64 delayMs, int unitIndex = 0);
    // Takes a query back: one waiting to be written is dropped, one on the line is no longer
    // awaited and its reply, should it still come, is dropped as late instead of answering the
    // next query of its size. Nothing is reported for it. False when no such query is outstanding
    // (the probe's request is the probe's to end).
    bool cancel(quint64 ticket, qint64 nowMs);
    // A request nobody waits for (a write whose echo is only shown). False when not written.
    bool send(const QByteArray &frame, qint64 nowMs);
    // Starts the baud-rate probe (again, when it runs); its request waits like any two-byte query.
    void startProbe(qint64 nowMs);
    bool probing() const { return m_probe.running(); }

    // What the line delivered at nowMs: framed, checked and matched at once.
    void received(const QByteArray &bytes, qint64 nowMs);
    // Deadlines at nowMs: frames cut short, queries without an answer, a probe rate held long
    // enough, requests due, waiting queries released.
    void advance(qint64 nowMs);
    // The window's poll tick: what arrived since the last one, then advance(); counts one poll of
    // the probe's hold.
    void poll(const QByteArray &bytes, qint64 nowMs);
    // The line was closed or lost: every query is dropped without a word, a running probe says it
    // stopped, and bytes held for a frame are forgotten.
    void lineClosed();
    // The line was opened at nowMs: whatever arrives before it has been quiet answers a request
    // from before, and the first requests wait for that quiet.
    void lineOpened(qint64 nowMs);

    // The earliest time at which advance() has something to do; -1 when nothing waits on time.
    qint64 nextDeadline() const;
    // Queries waiting for an answer or to be written, those due later included.
    int outstanding() const { return int(m_pending.queries.size() + m_later.size()); }
    const PendingReplies &pending() const { return m_pending; }
    const BaudRateProbe &probe() const { return m_probe; }

signals:
    void written(const QByteArray &frame);
    void answered(const SensorSession::Reply &reply);
    void measured(int unitIndex, const Values::Measurement &value);
    void refused(const SensorSession::Refusal &refusal);
    void noAnswer(const SensorSession::Reply &query);
    // A native frame, asked for or not: it names itself, so it is always shown.
    void nativeReply(quint8 id, const QByteArray &frame);
    // The echo of a write that no query waits for.
    void writeEchoed(const QByteArray &echo);
    // A checked frame that answers no outstanding query.
    void ignored(const QByteArray &frame);
    void probeStepped(quint8 step, qint32 rate);
    void probeAnswered(qint32 rate, quint8 step, const QByteArray &reply);
    // No rate answered, or (neverQuiet) the line never went quiet enough to ask.
    void probeGaveUp(qint32 backAtRate, bool neverQuiet);
    // A reply dropped because it came too late for the request it answers.
    void lateDropped(const SensorSession::Late &lateFor, const QByteArray &frame);
    void probeStopped();
    // The probe's first request, which waited for a quiet line, could not be written.
    void probeNotStarted();
    void note(SensorSession::Note kind, const QString &line);
    // The bytes of a reply that could not be read: a whole frame whose check value failed, or the
    // start of one that never completed (its note says which).
    void damaged(const QByteArray &bytes);
    // advance() has something to do at this time (a request due later).
    void wakeUpAt(qint64 atMs);

private:
    struct Later {
        Query query;
        QByteArray request;
        qint64 dueMs;
        int unitIndex;
    };
    struct Distrust {
        qint64 sinceMs;
        Late lateFor;
    };
    struct SentWrite {
        QByteArray frame;
        qint64 sentAtMs;
    };
    static constexpr int AnyKey = -2; // every reply size: the line was just opened

    void distrust(int key, qint64 nowMs, const Late &lateFor);
    const Distrust *distrustFor(int key) const;
    bool quietSince(const Distrust &distrust, qint64 nowMs) const;
    void unasked(FrameKind kind, const QByteArray &frame);
    void retryWhenQuiet(const PendingReplies::Outstanding &query, qint64 nowMs);
    void giveUpWaiting(PendingReplies::Outstanding query);

    // Writes a query's request. One that waited and cannot be written ends (with notSent), since
    // whoever asked for it holds its ticket; one written at once is the caller's to report.
    bool writeQuery(quint64 ticket, qint64 nowMs, bool waited);
    bool writeRequest(const QByteArray &frame, qint64 nowMs);
    void handle(const FramerEvent &cut, qint64 nowMs);
    void handleFrame(FrameKind kind, const QByteArray &frame);
    void handleReadReply(const QByteArray &reply);
    void handleException(const QByteArray &reply);
    QByteArray probeRequest() const;
    std::optional<PendingReplies::Outstanding> takeMatching(const QByteArray &frame, bool refusal);
    void answer(const PendingReplies::Outstanding &query, const QByteArray &frame);
    void runProbeStep(const BaudRateProbe::Step &step, qint64 nowMs);
    void expire(qint64 nowMs);
    void release(qint64 nowMs);
    static Reply replyOf(const PendingReplies::Outstanding &query, const QByteArray &frame);

    SessionLine *m_line;
    PendingReplies m_pending;
    ReplyFramer m_framer;
    LocalEcho m_echo;
    BaudRateProbe m_probe;
    QList<Later> m_later;
    QHash<int, Distrust> m_distrust; // by reply key
    QList<SentWrite> m_writes;       // writes whose echo may still come
    qint64 m_lastInputAt = -1000000;
    qint64 m_quietMs = 300;
    bool m_localEchoOn = false;
    qint64 m_answerTimeoutMs = 1000;
    int m_retries = 0;
    quint8 m_address = 0;
};

Q_DECLARE_METATYPE(SensorSession::Reply)
Q_DECLARE_METATYPE(SensorSession::Refusal)
Q_DECLARE_METATYPE(SensorSession::Late)

#endif
