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

} // namespace

SensorSession::SensorSession(SessionLine *line, QObject *parent)
    : QObject(parent), m_line(line)
{
    qRegisterMetaType<SensorSession::Reply>();
    qRegisterMetaType<SensorSession::Refusal>();
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
        writeRequest(request);
        return 0;
    }
    quint64 ticket = 0;
    if (!m_pending.add(query, request, unitIndex, &ticket))
        return ticket; // goes out when the query ahead of it has ended (or is already waiting)
    return writeQuery(ticket, nowMs) ? ticket : 0;
}

void SensorSession::queryLater(Query query, const QByteArray &request, qint64 nowMs, qint64 delayMs)
{
    m_later.append(Later{query, request, nowMs + delayMs});
    emit wakeUpAt(nowMs + delayMs);
}

bool SensorSession::send(const QByteArray &frame)
{
    return writeRequest(frame);
}

void SensorSession::startProbe(qint64 nowMs)
{
    // Pressed again, the probe starts over.
    m_probe.stop();
    m_pending.removeProbe();
    query(Query::pendingBaudrate, BaudProbe::request(), nowMs);
}

bool SensorSession::writeRequest(const QByteArray &frame)
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
        m_echo.sent(frame);
    emit written(frame);
    return true;
}

bool SensorSession::writeQuery(quint64 ticket, qint64 nowMs)
{
    const PendingReplies::Outstanding *query = m_pending.find(ticket);
    if (!query)
        return false;
    if (query->query == Query::pendingBaudrate) {
        // The probe starts at the highest rate; each step moves it down until the device answers.
        // A request that could not be written starts nothing and leaves the port as it was.
        m_rateBeforeProbe = m_line->baudRate();
        m_line->setBaudRate(BaudProbe::StartRate);
        if (!writeRequest(query->request)) {
            m_line->setBaudRate(m_rateBeforeProbe);
            m_pending.forget(ticket);
            return false;
        }
        m_probe.start(nowMs);
    } else if (!writeRequest(query->request)) {
        m_pending.forget(ticket); // never on the line, so never answered
        return false;
    }
    m_pending.markSent(ticket, nowMs);
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
        data = m_echo.filter(data);
    }
    m_framer.append(data, nowMs);
    for (const FramerEvent &cut : m_framer.take(nowMs))
        handle(cut, nowMs);
}

void SensorSession::poll(const QByteArray &bytes, qint64 nowMs)
{
    received(bytes, nowMs);
    // Replies first, so a reply that came just before its deadline still counts.
    expire(nowMs);
    runProbeStep(m_probe.poll(nowMs), nowMs);
    advance(nowMs);
}

void SensorSession::advance(qint64 nowMs)
{
    for (const FramerEvent &cut : m_framer.take(nowMs))
        handle(cut, nowMs);
    expire(nowMs);
    runProbeStep(m_probe.at(nowMs), nowMs);
    for (int i = 0; i < m_later.size();) {
        if (m_later.at(i).dueMs <= nowMs) {
            const Later due = m_later.takeAt(i);
            query(due.query, due.request, nowMs);
        } else {
            ++i;
        }
    }
    release(nowMs);
}

void SensorSession::lineClosed()
{
    m_pending.clearQueries();
    m_framer.clear();
    m_echo.flush();
    m_later.clear();
    if (m_probe.running()) {
        m_probe.stop();
        emit probeStopped();
    }
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
    consider(m_probe.deadline());
    consider(m_framer.incompleteDeadline());
    for (const Later &later : m_later)
        consider(later.dueMs);
    return next;
}

void SensorSession::handle(const FramerEvent &cut, qint64 nowMs)
{
    if (cut.type == FramerEvent::Frame) {
        handleFrame(cut.kind, cut.bytes);
        return;
    }
    emit note(noteKind(cut.type), cut.note);
    // With retries, a damaged reply is asked for again at once instead of after the time-out.
    if (cut.type == FramerEvent::BadCheck && m_retries > 0) {
        for (const PendingReplies::Outstanding &q : m_pending.queries) {
            if (q.sent() && q.query != Query::pendingBaudrate) {
                if (q.attempts <= m_retries && writeRequest(q.request))
                    m_pending.markSent(q.ticket, nowMs);
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
    // A native reply was shown above; a multiple write's answer is only logged in hexadecimal.
    if (kind == FrameKind::WriteEcho)
        emit writeEchoed(frame);
}

void SensorSession::handleReadReply(const QByteArray &reply)
{
    // While the probe runs it is the only query that expects two bytes; a reply that does not
    // carry the device's own address in its address register is not its answer.
    const int byteCount = quint8(reply.at(2));
    const PendingReplies::Outstanding *oldest = m_pending.oldestFor(byteCount);
    if (oldest && oldest->query == Query::pendingBaudrate) {
        if (!BaudProbe::isAnswer(reply)) {
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
        emit ignored(reply);
}

void SensorSession::handleException(const QByteArray &reply)
{
    // A request of no known kind (zelvikctl's raw frames) takes whatever comes back.
    if (const std::optional<PendingReplies::Outstanding> raw = takeMatching(reply, false)) {
        answer(*raw, reply);
        return;
    }
    Refusal refusal;
    refusal.code = quint8(reply.at(2));
    refusal.toWrite = (quint8(reply.at(1)) & ~Modbus::ExceptionBit) != Modbus::ReadHoldingRegisters;
    // An exception to a read ends the oldest read sent; one to a write ends a write only where
    // somebody waits for its echo.
    if (const std::optional<PendingReplies::Outstanding> query = takeMatching(reply, true)) {
        refusal.hasQuery = true;
        refusal.query = replyOf(*query, reply);
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
    if (step.changeRate) {
        emit probeStepped(step.debugStep, step.rate);
        m_line->setBaudRate(step.rate);
    }
    if (step.ended) {
        m_pending.removeProbe();
        emit probeGaveUp(step.rate);
        return;
    }
    m_pending.restartProbe(nowMs);
    writeRequest(BaudProbe::request());
}

void SensorSession::expire(qint64 nowMs)
{
    for (const PendingReplies::Outstanding &q : m_pending.overdue(nowMs, m_answerTimeoutMs)) {
        if (q.attempts <= m_retries && writeRequest(q.request)) {
            m_pending.markSent(q.ticket, nowMs);
            continue;
        }
        m_pending.forget(q.ticket);
        emit noAnswer(replyOf(q, QByteArray()));
    }
}

void SensorSession::release(qint64 nowMs)
{
    // A query whose write failed is forgotten, so one that waited behind it may go out now: it is
    // not left for a later advance() that no deadline asks for.
    for (bool freed = true; freed;) {
        freed = false;
        for (const quint64 ticket : m_pending.releasable())
            freed = !writeQuery(ticket, nowMs) || freed;
    }
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
