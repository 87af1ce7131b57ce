#include "link.h"

#include "hextext.h"
#include "replymatch.h"

#include <QEventLoop>

namespace {

// After a reply whose check value failed, the line must stay quiet this long before the request
// goes out again, so that the rest of a damaged reply is not taken for the start of the next.
constexpr int QuietMs = 20;

} // namespace

Link::Link(const Cli::Options &options, QObject *parent)
    : QObject(parent), m_options(options)
{
    m_clock.start();
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        if (m_settling)
            finish(End::BadCheck);
        else
            finish(End::TimedOut);
    });
    connect(&m_port, &QSerialPort::readyRead, this, &Link::onReadyRead);
    connect(&m_port, &QSerialPort::errorOccurred, this, &Link::onError);
}

bool Link::open(QString *message)
{
    m_port.setPortName(m_options.port);
    if (!m_port.open(QIODevice::ReadWrite)) {
        *message = Cli::openFailure(m_options.port, m_port.errorString(),
                                    m_port.error() == QSerialPort::PermissionError);
        return false;
    }
    const bool set = m_port.setBaudRate(m_options.baud) && m_port.setDataBits(QSerialPort::Data8)
        && m_port.setParity(QSerialPort::NoParity) && m_port.setStopBits(QSerialPort::OneStop)
        && m_port.setFlowControl(QSerialPort::NoFlowControl);
    if (!set) {
        *message = Cli::openFailure(m_options.port, m_port.errorString(), false);
        m_port.close();
        return false;
    }
    return true;
}

bool Link::setBaudRate(qint32 rate)
{
    return m_port.setBaudRate(rate);
}

void Link::stop()
{
    m_stopped = true;
    finish(End::Stopped);
}

void Link::finish(End end)
{
    if (m_end != End::Pending && end != End::Stopped)
        return;
    m_end = end;
    m_timer.stop();
    if (m_loop)
        m_loop->quit();
}

bool Link::waitUntil(qint64 ms)
{
    if (m_stopped)
        return false;
    const qint64 left = ms - m_clock.elapsed();
    if (left <= 0)
        return true;
    QEventLoop loop;
    m_loop = &loop;
    m_end = End::Pending;
    m_timer.start(int(left));
    loop.exec();
    m_loop = nullptr;
    // stop() may have run inside the loop: SIGINT and SIGTERM reach it through a socket notifier.
    // cppcheck-suppress knownConditionTrueFalse
    return !m_stopped;
}

Link::Outcome Link::exchange(const QByteArray &request)
{
    Outcome outcome; // its frame, when no answer came, is the last reply to something else
    for (int tries = 0; tries <= m_options.retries; ++tries) {
        if (m_stopped) {
            outcome.kind = Outcome::Stopped;
            return outcome;
        }
        ++outcome.attempts;
        const End end = attempt(request, outcome);
        switch (end) {
        case End::Answer:
            outcome.kind = Outcome::Answer;
            return outcome;
        case End::Refused:
            outcome.kind = Outcome::Refused;
            return outcome;
        case End::PortLost:
            outcome.kind = Outcome::PortLost;
            return outcome;
        case End::Stopped:
            outcome.kind = Outcome::Stopped;
            return outcome;
        case End::BadCheck:
            if (tries < m_options.retries)
                settle();
            break;
        case End::TimedOut:
        case End::Pending:
            break;
        }
    }
    outcome.kind = outcome.frame.isEmpty() ? Outcome::NoAnswer : Outcome::Other;
    return outcome;
}

Link::End Link::attempt(const QByteArray &request, Outcome &outcome)
{
    // Bytes from before this request (a late reply, the tail of a damaged one) are no answer to it.
    m_port.clear(QSerialPort::Input);
    m_port.readAll();
    m_framer.clear();
    if (m_options.localEcho) {
        m_echo.flush(); // the copy of an earlier attempt that never came is no longer expected
        m_echo.sent(request, m_clock.elapsed());
    }
    m_request = request;
    m_outcome = &outcome;
    m_end = End::Pending;
    m_settling = false;
    if (m_port.write(request) != request.size() || !m_port.flush()) {
        if (m_port.error() != QSerialPort::NoError)
            outcome.notes << QStringLiteral("write failed: %1").arg(m_port.errorString());
        if (!m_port.isOpen() || m_port.error() == QSerialPort::ResourceError)
            return End::PortLost;
    }
    QEventLoop loop;
    m_loop = &loop;
    m_timer.start(m_options.timeoutMs);
    if (m_port.bytesAvailable() > 0)
        onReadyRead();
    if (m_end == End::Pending)
        loop.exec();
    m_loop = nullptr;
    m_outcome = nullptr;
    if (m_end == End::TimedOut && m_framer.buffered() > 0) {
        // A reply that started but did not complete in time.
        for (const FramerEvent &event : m_framer.take(m_clock.elapsed() + Framing::IncompleteTimeoutMs))
            outcome.notes << event.note;
    }
    return m_end;
}

void Link::settle()
{
    QEventLoop loop;
    m_loop = &loop;
    m_end = End::Pending;
    m_settling = true;
    m_timer.start(QuietMs);
    loop.exec();
    m_settling = false;
    m_loop = nullptr;
}

void Link::onReadyRead()
{
    QByteArray bytes = m_port.readAll();
    if (m_settling) {
        m_timer.start(QuietMs); // still talking: wait on
        return;
    }
    if (m_end != End::Pending || !m_outcome)
        return; // nobody is waiting: the next attempt clears it
    if (m_options.localEcho)
        bytes = m_echo.filter(bytes, m_clock.elapsed());
    const qint64 now = m_clock.elapsed();
    m_framer.append(bytes, now);
    bool damaged = false;
    for (const FramerEvent &event : m_framer.take(now)) {
        if (event.type != FramerEvent::Frame) {
            m_outcome->notes << event.note;
            damaged = damaged || event.type != FramerEvent::Junk;
            continue;
        }
        switch (matchReply(m_request, event.bytes)) {
        case ReplyMatch::Answer:
            m_outcome->frame = event.bytes;
            finish(End::Answer);
            return;
        case ReplyMatch::Refusal:
            m_outcome->frame = event.bytes;
            finish(End::Refused);
            return;
        case ReplyMatch::Other:
            m_outcome->frame = event.bytes;
            m_outcome->notes << QStringLiteral("reply to something else: %1").arg(formatHexBytes(event.bytes).trimmed());
            break;
        }
    }
    if (damaged)
        finish(End::BadCheck);
}

void Link::onError(QSerialPort::SerialPortError error)
{
    if (error != QSerialPort::ResourceError)
        return;
    if (m_outcome)
        m_outcome->notes << m_port.errorString();
    finish(End::PortLost);
}
