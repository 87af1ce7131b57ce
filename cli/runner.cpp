#include "runner.h"

#include "baudprobe.h"
#include "hextext.h"
#include "seriallink.h"
#include "sessiontexts.h"

#include <QDateTime>

#include <cmath>

namespace Cli {

namespace {

// " (a; b)" from the lines that say something, or nothing.
QString why(const QStringList &notes)
{
    return notes.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(notes.join(QStringLiteral("; ")));
}

} // namespace

Runner::Runner(const Invocation &invocation, SerialLink &link, QObject *parent)
    : QObject(parent), m_inv(invocation), m_pump(link)
{
    const Options &o = m_inv.options;
    SensorSession &session = m_pump.session();
    session.setAnswerTimeout(o.timeoutMs);
    session.setRetries(o.retries);
    session.setDeviceAddress(o.address);
    session.setProbeHold(0, o.timeoutMs, o.retries + 1);
    // After a time-out the line must be quiet this long before the next request (a retry or the
    // next reading) goes out: a few character times at the slowest rate, well within a time-out.
    session.setQuietTime(qBound(20, o.timeoutMs / 5, 100));
    session.setLocalEcho(o.localEcho, m_pump.now());

    connect(&session, &SensorSession::answered, this, &Runner::onAnswered);
    connect(&session, &SensorSession::refused, this, &Runner::onRefused);
    connect(&session, &SensorSession::noAnswer, this, &Runner::onNoAnswer);
    // Frames that end no query of ours: a native frame is announced before it is matched, and
    // when it was the answer, answered() follows at once and wins.
    connect(&session, &SensorSession::ignored, this, &Runner::onOther);
    connect(&session, &SensorSession::writeEchoed, this, &Runner::onOther);
    connect(&session, &SensorSession::nativeReply, this, [this](quint8, const QByteArray &frame) { onOther(frame); });
    connect(&session, &SensorSession::note, this, [this](SensorSession::Note, const QString &line) { onNote(line); });
    connect(&session, &SensorSession::damaged, this, [this](const QByteArray &bytes) {
        if (m_waiting)
            m_damaged = bytes;
    });
    connect(&session, &SensorSession::lateDropped, this, [this](const SensorSession::Late &, const QByteArray &frame) {
        onNote(QStringLiteral("late reply dropped: %1").arg(formatHexBytes(frame).trimmed()));
    });
    connect(&session, &SensorSession::probeAnswered, this, [this](qint32 rate, quint8, const QByteArray &reply) {
        emit output(printed(probeAnswer(rate, reply), m_inv.options.json));
        finish(ExitOk);
    });
    connect(&session, &SensorSession::probeNotStarted, this, [this] {
        fail(ExitNoAnswer, QStringLiteral("no answer on %1: the probe did not start%2").arg(m_inv.options.port, why(m_notes)));
    });
    connect(&session, &SensorSession::probeGaveUp, this, [this](qint32, bool neverQuiet) {
        if (neverQuiet) {
            fail(ExitNoAnswer, QStringLiteral("no answer on %1: the line never went quiet for the probe to ask%2")
                                   .arg(m_inv.options.port, why(m_notes)));
            return;
        }
        QStringList rates;
        for (quint8 step = 1; step <= BaudProbe::RatesTried; ++step)
            rates << QString::number(BaudProbe::rateForStep(step));
        fail({ExitNoAnswer, QStringLiteral("no answer on %1 at %2 baud").arg(m_inv.options.port, rates.join(QStringLiteral(", "))),
              QByteArray(), noAnswerHint(true)});
    });
    connect(&link, &SerialLink::lost, this, &Runner::onLost);
    connect(&link, &SerialLink::writeFailed, this,
            [this](const QString &reason) { onNote(QStringLiteral("write failed: %1").arg(reason)); });

    m_schedule.setSingleShot(true);
    m_schedule.setTimerType(Qt::PreciseTimer);
    connect(&m_schedule, &QTimer::timeout, this, [this] {
        m_unitPos = 0;
        askReading();
    });
}

void Runner::start()
{
    switch (m_inv.action) {
    case Action::Exchange:
        ask(m_inv.requests.first(), m_inv.topic == Topic::Reading ? SensorSession::Query::pendingSensorData
                                                                  : SensorSession::Query::request,
            m_inv.unit);
        return;
    case Action::Monitor:
        if (m_inv.csv)
            emit output(SessionTexts::csvHeader());
        m_start = m_pump.now();
        askReading();
        return;
    case Action::Probe:
        m_notes.clear();
        m_pump.startProbe();
        // A probe whose first request could not be written never started (one that waits for a
        // quiet line has its entry).
        if (!m_pump.session().probing() && !m_pump.session().pending().probe())
            fail(ExitNoAnswer, QStringLiteral("no answer on %1: the probe did not start%2").arg(m_inv.options.port, why(m_notes)));
        return;
    }
}

void Runner::stop()
{
    if (m_inv.action == Action::Monitor)
        finish(m_status);
}

void Runner::ask(const QByteArray &request, SensorSession::Query query, int unit)
{
    m_waiting = true;
    m_notes.clear();
    m_other.clear();
    m_damaged.clear();
    m_ticket = m_pump.query(query, request, unit);
    // Nothing went out: the session's note says why, and no deadline will end the wait.
    if (m_ticket == 0 && !m_done)
        end(Outcome::NoAnswer, QByteArray(), 1);
}

void Runner::end(Outcome::Kind kind, const QByteArray &frame, int attempts)
{
    Outcome outcome;
    outcome.kind = kind;
    outcome.frame = frame;
    outcome.attempts = attempts;
    outcome.notes = m_notes;
    if (kind == Outcome::NoAnswer)
        outcome.frame = m_damaged;
    m_waiting = false;
    m_ticket = 0;
    // The next request goes out from the event loop, not from inside the session's signal.
    QMetaObject::invokeMethod(this, [this, outcome] { proceed(outcome); }, Qt::QueuedConnection);
}

void Runner::proceed(const Outcome &outcome)
{
    if (m_done)
        return;
    if (m_inv.action == Action::Monitor)
        monitored(outcome);
    else
        exchanged(outcome);
}

void Runner::exchanged(const Outcome &outcome)
{
    if (outcome.kind != Outcome::Answer) {
        fail(problem(outcome));
        return;
    }
    m_replies << outcome.frame;
    if (m_replies.size() < m_inv.requests.size()) {
        ask(m_inv.requests.at(m_replies.size()), SensorSession::Query::request, 0);
        return;
    }
    emit output(printed(describe(m_inv, m_replies, QDateTime::currentDateTime()), m_inv.options.json));
    finish(ExitOk);
}

void Runner::askReading()
{
    const int unit = m_inv.units.at(m_unitPos);
    ask(readRequest(m_inv.options, unit), SensorSession::Query::pendingSensorData, unit);
}

void Runner::monitored(const Outcome &outcome)
{
    const int unit = m_inv.units.at(m_unitPos);
    const QDateTime now = QDateTime::currentDateTime();
    if (outcome.kind != Outcome::Answer) {
        Failure p = problem(outcome);
        if (m_inv.options.json) {
            Result r = failed(m_inv.command, p);
            r.json[QStringLiteral("time")] = SessionTexts::isoTime(now);
            r.json[QStringLiteral("unit")] = SessionTexts::unitName(unit);
            emit output(printed(r, true));
        }
        if (m_hinted)
            p.hint.clear();
        m_hinted = m_hinted || !p.hint.isEmpty();
        emit complaint(QStringLiteral("%1 unit %2: %3").arg(SessionTexts::isoTime(now), SessionTexts::unitName(unit), failed(QString(), p).text));
        m_status = qMax(m_status, p.status);
    } else if (m_inv.csv) {
        emit output(SessionTexts::csvRow(now, unit, Values::measurement(outcome.frame)));
    } else {
        Result r = reading(outcome.frame, unit, now);
        r.json[QStringLiteral("command")] = m_inv.command;
        emit output(printed(r, m_inv.options.json));
    }
    if (++m_unitPos < m_inv.units.size()) {
        askReading();
        return;
    }
    ++m_round;
    if (m_inv.count != 0 && m_round >= m_inv.count) {
        finish(m_status);
        return;
    }
    scheduleRound();
}

// Rounds start on a fixed schedule (start + n × interval), so a late round does not push the
// later ones back; a round that overran skips the slots it missed.
void Runner::scheduleRound()
{
    const double intervalMs = m_inv.intervalS * 1000.0;
    const qint64 now = m_pump.now();
    const double elapsed = double(now - m_start);
    m_slot = intervalMs > 0 ? qMax(m_slot + 1, qint64(std::ceil(elapsed / intervalMs))) : m_slot + 1;
    const qint64 due = m_start + std::llround(double(m_slot) * intervalMs);
    m_schedule.start(int(qMax<qint64>(0, due - now)));
}

Failure Runner::problem(const Outcome &o) const
{
    switch (o.kind) {
    case Outcome::Refused:
        return {ExitRefused,
                QStringLiteral("the device refused the request: %1").arg(SessionTexts::exceptionText(quint8(o.frame.at(2)))),
                o.frame, QString()};
    case Outcome::Other:
        return {ExitRefused, QStringLiteral("the device answered something else: %1").arg(formatHexBytes(o.frame).trimmed()),
                o.frame, QString()};
    case Outcome::Answer:
    case Outcome::NoAnswer:
        break;
    }
    return {ExitNoAnswer,
            QStringLiteral("no answer on %1 at %2 baud after %3 attempt(s)%4")
                .arg(m_inv.options.port)
                .arg(m_inv.options.baud)
                .arg(o.attempts)
                .arg(why(o.notes)),
            o.frame, noAnswerHint(false)};
}

// The ways out of a silent device, less the one that was just tried.
QString Runner::noAnswerHint(bool probing) const
{
    return SessionTexts::noAnswerHint(probing ? QString() : QStringLiteral("'zelvikctl probe'"),
                                      m_inv.topic == Topic::Wake ? QString() : QStringLiteral("'zelvikctl wake'"),
                                      m_inv.topic == Topic::Protocol ? QString() : QStringLiteral("'zelvikctl protocol modbus'"));
}

void Runner::fail(int status, const QString &message)
{
    fail({status, message, QByteArray(), QString()});
}

void Runner::fail(const Failure &failure)
{
    const Result r = failed(m_inv.command, failure);
    if (m_inv.options.json)
        emit output(printed(r, true));
    emit complaint(r.text);
    finish(failure.status);
}

void Runner::finish(int status)
{
    if (m_done)
        return;
    m_done = true;
    m_waiting = false;
    m_schedule.stop();
    emit finished(status);
}

void Runner::onAnswered(const SensorSession::Reply &reply)
{
    if (m_waiting && reply.ticket == m_ticket)
        end(Outcome::Answer, reply.frame, reply.attempts);
}

void Runner::onRefused(const SensorSession::Refusal &refusal)
{
    if (!m_waiting)
        return;
    if (refusal.hasQuery && refusal.query.ticket == m_ticket)
        end(Outcome::Refused, refusal.frame, refusal.query.attempts);
    else
        onOther(refusal.frame);
}

void Runner::onNoAnswer(const SensorSession::Reply &reply)
{
    if (!m_waiting || reply.ticket != m_ticket)
        return;
    if (reply.neverQuiet)
        onNote(QStringLiteral("the line never went quiet"));
    end(m_other.isEmpty() ? Outcome::NoAnswer : Outcome::Other, m_other, reply.attempts);
}

void Runner::onOther(const QByteArray &frame)
{
    if (m_waiting)
        m_other = frame;
}

void Runner::onNote(const QString &line)
{
    QString text = line.trimmed();
    if (text.endsWith(QLatin1Char('.')))
        text.chop(1); // one sentence among others in brackets
    // A line that keeps failing says the same thing again and again: once is enough.
    if (!text.isEmpty() && !m_notes.contains(text))
        m_notes << text;
}

void Runner::onLost(const QString &reason)
{
    QStringList notes = m_waiting ? m_notes : QStringList();
    if (!reason.trimmed().isEmpty())
        notes << reason.trimmed();
    fail(ExitPort, QStringLiteral("lost the port %1%2").arg(m_inv.options.port, why(notes)));
}

} // namespace Cli
