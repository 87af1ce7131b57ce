#include "baudprobe.h"

#include "commandframes.h"

namespace BaudProbe {

namespace {

quint8 byteAt(const QByteArray &reply, int offset)
{
    return offset < reply.size() ? quint8(reply.at(offset)) : quint8(0);
}

} // namespace

qint32 rateForStep(quint8 step)
{
    switch (step) {
    case 1: return 19200;
    case 2: return 9600;
    case 3: return 4800;
    case 4: return 2400;
    case 5: return 9600;
    default: return 0;
    }
}

bool isAnswer(const QByteArray &reply)
{
    // The probe reads register 0x0000, whose low byte is the device's own address.
    return byteAt(reply, 2) == 2 && byteAt(reply, 4) == byteAt(reply, 0);
}

const char *answerMessage(quint8 step)
{
    switch (step) {
    case 1: return QT_TRANSLATE_NOOP("MainWindow", "Baudrate is 19200 !");
    case 2: return QT_TRANSLATE_NOOP("MainWindow", "Baudrate is 9600 !");
    case 3: return QT_TRANSLATE_NOOP("MainWindow", "Baudrate is 4800 !");
    case 4: return QT_TRANSLATE_NOOP("MainWindow", "Baudrate is 2400 !");
    default: return nullptr;
    }
}

QByteArray request()
{
    return Commands::getDeviceAddress();
}

} // namespace BaudProbe

void BaudRateProbe::setHold(quint32 polls, qint64 holdMs, int attemptsPerRate)
{
    m_pollsPerRate = polls;
    m_holdMs = holdMs;
    m_attemptsPerRate = qMax(1, attemptsPerRate);
}

void BaudRateProbe::start(qint64 nowMs)
{
    m_step = 1;
    m_polls = 0;
    m_rateSetAt = nowMs;
    m_attempt = 1;
}

void BaudRateProbe::restartHold(qint64 nowMs)
{
    m_polls = 0;
    m_rateSetAt = nowMs;
}

quint8 BaudRateProbe::accept()
{
    const quint8 answered = m_step;
    m_step = 0;
    return answered;
}

BaudRateProbe::Step BaudRateProbe::poll(qint64 nowMs)
{
    if (m_step != 0)
        ++m_polls;
    return at(nowMs);
}

BaudRateProbe::Step BaudRateProbe::at(qint64 nowMs)
{
    constexpr quint8 LastStep = BaudProbe::RatesTried + 1; // back at 9600 baud, where the probe gives up
    Step step;
    if (m_step == 0 || m_polls < m_pollsPerRate || nowMs - m_rateSetAt < m_holdMs)
        return step;
    m_polls = 0;
    m_rateSetAt = nowMs;
    if (m_attempt < m_attemptsPerRate) {
        ++m_attempt;
        step.again = true;
        step.rate = BaudProbe::rateForStep(m_step);
        return step;
    }
    m_attempt = 1;
    ++m_step;
    step.changeRate = true;
    step.rate = BaudProbe::rateForStep(m_step);
    step.debugStep = m_step;
    step.ended = m_step == LastStep;
    if (step.ended)
        m_step = 0;
    return step;
}

qint64 BaudRateProbe::deadline() const
{
    return m_step != 0 && m_pollsPerRate == 0 ? m_rateSetAt + m_holdMs : -1;
}
