#include "sensorsession.h"

#include "frames.h"
#include "replymatch.h"
#include "sessionline.h"

#include <QCoreApplication>

namespace {

// The operator's lines are translated with the window's other texts.
QString text(const char *source)
{
    return QCoreApplication::translate("MainWindow", source);
}

SensorSession::Note noteKind(FramerEvent::Type type)
{
    switch (type) {
    case FramerEvent::Incomplete: return SensorSession::Note::Incomplete;
    case FramerEvent::BadCheck: return SensorSession::Note::BadCheck;
    case FramerEvent::Junk:
    case FramerEvent::Frame: break;
    }
    return SensorSession::Note::Dropped;
}

bool isWrite(const QByteArray &frame)
{
    return frame.size() >= 2
        && (quint8(frame.at(1)) == Modbus::WriteSingleRegister || quint8(frame.at(1)) == Modbus::WriteMultipleRegisters);
}

} // namespace

SensorSession::SensorSession(SessionLine *line, QObject *parent)
    : QObject(parent), m_line(line)
{
    qRegisterMetaType<SensorSession::Reply>();
    qRegisterMetaType<SensorSession::Refusal>();
    qRegisterMetaType<SensorSession::Late>();
}

void SensorSession::setLocalEcho(bool on, qint64 nowMs)
{
    const QByteArray held = m_echo.flush();
    m_localEchoOn = on;
    if (!held.isEmpty())
        m_framer.append(held, nowMs); // the start of a reply, perhaps: framed at the next advance()
}

quint64 SensorSession::query(Query query, const QByteArray &request, qint64 nowMs, int unitIndex)
{
    // A query whose request never went out waits for nothing.
    if (!m_line->isOpen()) {
        writeRequest(request, nowMs);
        return 0;
    }
    quint64 ticket = 0;
    const bool now = m_pending.add(query, request, unitIndex, &ticket);
    if (ticket != 0)
        m_pending.markWaiting(ticket, nowMs);
    if (!now)
        return ticket; // goes out when the query ahead of it has ended (or is already waiting)
    const Distrust *distrusted = distrustFor(PendingReplies::replyKey(request));
    if (distrusted && !quietSince(*distrusted, nowMs))
        return ticket; // goes out once the line has been quiet
    return writeQuery(ticket, nowMs, false) ? ticket : 0;
}

bool SensorSession::cancel(quint64 ticket, qint64 nowMs)
{
    const PendingReplies::Outstanding *found = m_pending.find(ticket);
    if (!found || found->query == Query::pendingBaudrate)
        return false;
    const PendingReplies::Outstanding query = *found; // forget() erases the entry
    m_pending.forget(ticket);
    if (query.sent()) {
        Late lateFor;
        lateFor.query = query.query;
        distrust(query.expects, nowMs, lateFor);
    }
    release(nowMs); // a query waiting behind it may go out, once the line is quiet
    return true;
}

void SensorSession::queryLater(Query query, const QByteArray &request, qint64 nowMs, qint64 delayMs, int unitIndex)
{
    m_later.append(Later{query, request, nowMs + delayMs, unitIndex});
    emit wakeUpAt(nowMs + delayMs);
}

bool SensorSession::send(const QByteArray &frame, qint64 nowMs)
{
    if (!writeRequest(frame, nowMs))
        return false;
    if (isWrite(frame))
        m_writes.append(SentWrite{frame, nowMs}); // its echo is the device's confirmation
    return true;
}

void SensorSession::startProbe(qint64 nowMs)
{
    // Pressed again, the probe starts over. Its first request waits for a quiet line, so that a
    // late answer to an earlier request is not taken for the device's answer at 19200 baud.
    m_probe.stop();
    m_pending.removeProbe();
    Late before;
    before.beforeProbe = true;
    if (m_line->isOpen())
        distrust(PendingReplies::replyKey(probeRequest()), nowMs, before);
    query(Query::pendingBaudrate, probeRequest(), nowMs);
}

QByteArray SensorSession::probeRequest() const
{
    return m_address == 0 ? BaudProbe::request() : withModbusAddress(BaudProbe::request(), m_address);
}

bool SensorSession::writeRequest(const QByteArray &frame, qint64 nowMs)
{
    if (!m_line->isOpen()) {
        emit note(Note::NotSent, text("Request not sent: the port is not open."));
        return false;
    }
    QString error;
    if (!m_line->write(frame, &error)) {
        emit note(Note::NotSent, text("Request not sent: the port refused the write (%1).").arg(error));
        return false;
    }
    if (m_localEchoOn)
        m_echo.sent(frame, nowMs);
    emit written(frame);
    return true;
}

bool SensorSession::writeQuery(quint64 ticket, qint64 nowMs, bool waited)
{
    const PendingReplies::Outstanding *found = m_pending.find(ticket);
    if (!found)
        return false;
    const PendingReplies::Outstanding query = *found; // forget() below erases the entry
    const int key = query.expects;
    auto notWritten = [&] {
        m_pending.forget(ticket);
        if (!waited)
            return false;
        if (query.query == Query::pendingBaudrate && query.attempts == 0) {
            emit probeNotStarted();
        } else {
            Reply reply = replyOf(query, QByteArray());
            reply.notSent = true;
            emit noAnswer(reply);
        }
        return false;
    };
    if (query.query == Query::pendingBaudrate && m_probe.running()) {
        // The probe's request at the rate it moved to; one that cannot be written ends the walk.
        if (!writeRequest(query.request, nowMs)) {
            m_probe.stop();
            m_line->setBaudRate(BaudProbe::rateForStep(BaudProbe::RatesTried + 1));
            m_pending.forget(ticket);
            emit probeGaveUp(m_line->baudRate(), false);
            return false;
        }
        m_probe.restartHold(nowMs);
    } else if (query.query == Query::pendingBaudrate) {
        // The probe starts at the highest rate; each step moves it down until the device answers.
        // A request that could not be written starts nothing and leaves the port as it was.
        const qint32 rateBefore = m_line->baudRate();
        m_line->setBaudRate(BaudProbe::StartRate);
        if (!writeRequest(query.request, nowMs)) {
            m_line->setBaudRate(rateBefore);
            return notWritten();
        }
        m_probe.start(nowMs);
    } else if (!writeRequest(query.request, nowMs)) {
        return notWritten(); // never on the line, so never answered
    }
    m_pending.markSent(ticket, nowMs);
    // From now on a reply of this size answers this query.
    m_distrust.remove(key);
    m_distrust.remove(AnyKey);
    return true;
}

void SensorSession::received(const QByteArray &bytes, qint64 nowMs)
{
    QByteArray data = bytes;
    if (data.size() > MaxBytesPerRead) {
        // What the framer kept is older still and no longer continues the bytes kept here.
        emit note(Note::Dropped, text("%1 bytes of unframed input dropped: more arrived than one poll takes")
                                     .arg(data.size() - MaxBytesPerRead + m_framer.buffered()));
        m_framer.clear();
        m_echo.flush();
        data = data.right(MaxBytesPerRead);
    } else if (m_localEchoOn) {
        data = m_echo.filter(data, nowMs);
    }
    if (!data.isEmpty())
        m_lastInputAt = nowMs;
    m_framer.append(data, nowMs);
    for (const FramerEvent &cut : m_framer.take(nowMs))
        handle(cut, nowMs);
}

void SensorSession::poll(const QByteArray &bytes, qint64 nowMs)
{
    received(bytes, nowMs);
    // Replies first, so a reply that came just before its deadline still counts.
    expire(nowMs);
    // The probe counts the polls its request has been on the line.
    const PendingReplies::Outstanding *probe = m_pending.probe();
    if (probe && probe->sent())
        runProbeStep(m_probe.poll(nowMs), nowMs);
    advance(nowMs);
}

void SensorSession::advance(qint64 nowMs)
{
    for (const FramerEvent &cut : m_framer.take(nowMs))
        handle(cut, nowMs);
    expire(nowMs);
    const PendingReplies::Outstanding *probe = m_pending.probe();
    if (probe && probe->sent())
        runProbeStep(m_probe.at(nowMs), nowMs);
    for (int i = 0; i < m_later.size();) {
        if (m_later.at(i).dueMs <= nowMs) {
            const Later due = m_later.takeAt(i);
            query(due.query, due.request, nowMs, due.unitIndex);
        } else {
            ++i;
        }
    }
    // Writes whose echo never came are no longer awaited: an echo after this is unasked.
    while (!m_writes.isEmpty() && nowMs - m_writes.first().sentAtMs >= m_answerTimeoutMs)
        m_writes.removeFirst();
    release(nowMs);
}

void SensorSession::lineClosed()
{
    m_pending.clearQueries();
    m_framer.clear();
    m_echo.flush();
    m_later.clear();
    m_writes.clear();
    m_distrust.clear();
    if (m_probe.running()) {
        m_probe.stop();
        emit probeStopped();
    }
}

void SensorSession::lineOpened(qint64 nowMs)
{
    lineClosed();
    Late before;
    before.beforeOpen = true;
    distrust(AnyKey, nowMs, before);
}

qint64 SensorSession::nextDeadline() const
{
    qint64 next = -1;
    auto consider = [&next](qint64 at) {
        if (at >= 0 && (next < 0 || at < next))
            next = at;
    };
    for (const PendingReplies::Outstanding &q : m_pending.queries) {
        if (q.sent() && q.query != Query::pendingBaudrate)
            consider(q.sentAtMs + m_answerTimeoutMs);
    }
    // A query that may go out once the line is quiet: when it will be, or when it is given up.
    // (One waiting its turn behind another of its size goes out when that one has ended.)
    for (const quint64 ticket : m_pending.releasable()) {
        const PendingReplies::Outstanding *q = m_pending.find(ticket);
        if (const Distrust *d = q ? distrustFor(q->expects) : nullptr) {
            consider(qMax(m_lastInputAt, d->sinceMs) + m_quietMs);
            consider(qMax(d->sinceMs, q->waitingSinceMs) + m_answerTimeoutMs);
        }
    }
    const PendingReplies::Outstanding *probe = m_pending.probe();
    if (probe && probe->sent())
        consider(m_probe.deadline());
    consider(m_framer.incompleteDeadline());
    for (const Later &later : m_later)
        consider(later.dueMs);
    if (!m_writes.isEmpty())
        consider(m_writes.first().sentAtMs + m_answerTimeoutMs);
    return next;
}

void SensorSession::distrust(int key, qint64 nowMs, const Late &lateFor)
{
    m_distrust.insert(key, Distrust{nowMs, lateFor});
}

const SensorSession::Distrust *SensorSession::distrustFor(int key) const
{
    auto found = m_distrust.constFind(key);
    if (found == m_distrust.cend())
        found = m_distrust.constFind(AnyKey);
    return found == m_distrust.cend() ? nullptr : &found.value();
}

bool SensorSession::quietSince(const Distrust &distrust, qint64 nowMs) const
{
    return nowMs - qMax(m_lastInputAt, distrust.sinceMs) >= m_quietMs;
}

void SensorSession::handle(const FramerEvent &cut, qint64 nowMs)
{
    if (cut.type == FramerEvent::Frame) {
        handleFrame(cut.kind, cut.bytes);
        return;
    }
    emit note(noteKind(cut.type), cut.note);
    if (cut.type == FramerEvent::BadCheck || cut.type == FramerEvent::Incomplete)
        emit damaged(cut.bytes);
    // With retries, a damaged reply is asked for again (once the line is quiet) instead of
    // after the time-out.
    if (cut.type == FramerEvent::BadCheck && m_retries > 0) {
        for (const PendingReplies::Outstanding &q : m_pending.queries) {
            if (q.sent() && q.query != Query::pendingBaudrate) {
                if (q.attempts <= m_retries)
                    retryWhenQuiet(q, nowMs);
                break;
            }
        }
    }
}

void SensorSession::handleFrame(FrameKind kind, const QByteArray &frame)
{
    switch (kind) {
    case FrameKind::ReadReply:
        handleReadReply(frame);
        return;
    case FrameKind::Exception:
        handleException(frame);
        return;
    case FrameKind::Native:
        emit nativeReply(quint8(frame.at(1)), frame);
        break;
    case FrameKind::WriteEcho:
    case FrameKind::WriteMultipleAnswer:
        break;
    }
    if (const std::optional<PendingReplies::Outstanding> query = takeMatching(frame, false)) {
        answer(*query, frame);
        return;
    }
    if (kind == FrameKind::Native)
        return; // shown above, asked for or not
    // A write's echo confirms it only where that write was sent.
    for (int i = 0; i < m_writes.size(); ++i) {
        if (matchReply(m_writes.at(i).frame, frame) == ReplyMatch::Answer) {
            m_writes.removeAt(i);
            if (kind == FrameKind::WriteEcho)
                emit writeEchoed(frame);
            return;
        }
    }
    unasked(kind, frame);
}

void SensorSession::unasked(FrameKind kind, const QByteArray &frame)
{
    // Only a read reply can be late here: a native frame is always shown, an echo is no answer.
    const int key = kind == FrameKind::ReadReply ? quint8(frame.at(2)) : -1;
    if (const Distrust *d = key >= 0 ? distrustFor(key) : nullptr)
        emit lateDropped(d->lateFor, frame);
    else
        emit ignored(frame);
}

void SensorSession::handleReadReply(const QByteArray &reply)
{
    // While the probe runs it is the only query that expects two bytes; a reply that does not
    // carry the device's own address in its address register is not its answer.
    const int byteCount = quint8(reply.at(2));
    const PendingReplies::Outstanding *oldest = m_pending.oldestFor(byteCount);
    if (oldest && oldest->query == Query::pendingBaudrate) {
        if (!BaudProbe::isAnswer(reply) || (m_address != 0 && quint8(reply.at(0)) != m_address)) {
            emit ignored(reply);
            return;
        }
        m_pending.take(byteCount);
        const quint8 step = m_probe.accept();
        emit probeAnswered(BaudProbe::rateForStep(step), step, reply);
        return;
    }
    if (const std::optional<PendingReplies::Outstanding> query = takeMatching(reply, false))
        answer(*query, reply);
    else
        unasked(FrameKind::ReadReply, reply);
}

void SensorSession::handleException(const QByteArray &reply)
{
    // A request of no known kind (zelvikctl's raw frames) takes whatever comes back.
    if (const std::optional<PendingReplies::Outstanding> raw = takeMatching(reply, false)) {
        answer(*raw, reply);
        return;
    }
    Refusal refusal;
    refusal.frame = reply;
    refusal.code = quint8(reply.at(2));
    refusal.toWrite = (quint8(reply.at(1)) & ~Modbus::ExceptionBit) != Modbus::ReadHoldingRegisters;
    if (!refusal.toWrite) {
        // The exception names the function, not the read: say which reads it may belong to.
        for (const PendingReplies::Outstanding &q : m_pending.queries) {
            if (q.sent() && q.query != Query::pendingBaudrate && matchReply(q.request, reply) == ReplyMatch::Refusal)
                refusal.readsWaiting << q.query;
        }
    }
    // An exception to a read ends the oldest read sent; one to a write ends a write only where
    // somebody waits for its echo.
    if (const std::optional<PendingReplies::Outstanding> query = takeMatching(reply, true)) {
        refusal.hasQuery = true;
        refusal.query = replyOf(*query, reply);
    } else if (refusal.toWrite) {
        for (int i = 0; i < m_writes.size(); ++i) {
            if (matchReply(m_writes.at(i).frame, reply) == ReplyMatch::Refusal) {
                m_writes.removeAt(i);
                break;
            }
        }
    }
    emit refused(refusal);
}

std::optional<PendingReplies::Outstanding> SensorSession::takeMatching(const QByteArray &frame, bool refusal)
{
    const ReplyMatch wanted = refusal ? ReplyMatch::Refusal : ReplyMatch::Answer;
    for (int i = 0; i < m_pending.queries.size(); ++i) {
        const PendingReplies::Outstanding &q = m_pending.queries.at(i);
        // The probe's walk decides for itself: an exception never ends it.
        if (!q.sent() || q.query == Query::pendingBaudrate)
            continue;
        if (matchReply(q.request, frame) == wanted)
            return m_pending.queries.takeAt(i);
    }
    return std::nullopt;
}

void SensorSession::answer(const PendingReplies::Outstanding &query, const QByteArray &frame)
{
    emit answered(replyOf(query, frame));
    if (query.query == Query::pendingSensorData)
        emit measured(query.unitIndex, Values::measurement(frame));
}

void SensorSession::runProbeStep(const BaudRateProbe::Step &step, qint64 nowMs)
{
    if (!step.changeRate && !step.again)
        return;
    const PendingReplies::Outstanding *probe = m_pending.probe();
    Late lateFor;
    lateFor.query = Query::pendingBaudrate;
    // The rate the request that may still be answered was written at.
    lateFor.probeRate = step.changeRate ? BaudProbe::rateForStep(quint8(step.debugStep - 1)) : step.rate;
    if (step.changeRate) {
        emit probeStepped(step.debugStep, step.rate);
        m_line->setBaudRate(step.rate);
    }
    if (step.ended) {
        m_pending.removeProbe();
        emit probeGaveUp(step.rate, false);
        return;
    }
    // The request at this rate waits for a quiet line: an answer still coming from the rate
    // before is dropped as late instead of being taken for an answer at this one.
    if (probe) {
        m_pending.markWaiting(probe->ticket, nowMs);
        distrust(probe->expects, nowMs, lateFor);
        release(nowMs);
    }
}

void SensorSession::retryWhenQuiet(const PendingReplies::Outstanding &query, qint64 nowMs)
{
    Late lateFor;
    lateFor.query = query.query;
    m_pending.markWaiting(query.ticket, nowMs);
    distrust(query.expects, nowMs, lateFor);
}

void SensorSession::expire(qint64 nowMs)
{
    for (const PendingReplies::Outstanding &q : m_pending.overdue(nowMs, m_answerTimeoutMs)) {
        if (q.attempts <= m_retries) {
            retryWhenQuiet(q, nowMs);
            continue;
        }
        m_pending.forget(q.ticket);
        Late lateFor;
        lateFor.query = q.query;
        distrust(q.expects, nowMs, lateFor);
        emit noAnswer(replyOf(q, QByteArray()));
    }
}

// The query is a copy: forget() erases the entry.
void SensorSession::giveUpWaiting(PendingReplies::Outstanding query)
{
    m_pending.forget(query.ticket);
    if (query.query == Query::pendingBaudrate) {
        // The probe could not ask at this rate: it ends where it would have ended.
        m_probe.stop();
        const qint32 rate = BaudProbe::rateForStep(BaudProbe::RatesTried + 1);
        m_line->setBaudRate(rate);
        emit probeGaveUp(rate, true);
        return;
    }
    Reply reply = replyOf(query, QByteArray());
    reply.neverQuiet = true;
    emit noAnswer(reply);
}

void SensorSession::release(qint64 nowMs)
{
    // A query whose write failed, or that was given up, is forgotten, so one that waited behind it
    // may go out now: it is not left for a later advance() that no deadline asks for.
    for (bool freed = true; freed;) {
        freed = false;
        for (const quint64 ticket : m_pending.releasable()) {
            const PendingReplies::Outstanding *query = m_pending.find(ticket);
            if (!query)
                continue;
            if (const Distrust *d = distrustFor(query->expects); d && !quietSince(*d, nowMs)) {
                // A line that keeps talking is no line to ask on: after a reply's time, give up.
                if (nowMs - qMax(d->sinceMs, query->waitingSinceMs) >= m_answerTimeoutMs) {
                    giveUpWaiting(*query);
                    freed = true;
                }
                continue;
            }
            freed = !writeQuery(ticket, nowMs, true) || freed;
        }
    }
    // Quiet since it was opened: nothing from before the port was opened can come any more.
    if (const auto open = m_distrust.constFind(AnyKey); open != m_distrust.cend() && quietSince(open.value(), nowMs))
        m_distrust.remove(AnyKey);
}

SensorSession::Reply SensorSession::replyOf(const PendingReplies::Outstanding &query, const QByteArray &frame)
{
    Reply reply;
    reply.query = query.query;
    reply.ticket = query.ticket;
    reply.unitIndex = query.unitIndex;
    reply.request = query.request;
    reply.frame = frame;
    reply.attempts = query.attempts;
    return reply;
}
