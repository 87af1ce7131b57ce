#ifndef ZELVIK_BAUDPROBE_H
#define ZELVIK_BAUDPROBE_H

#include <QByteArray>
#include <QtGlobal>

// The baud-rate probe: the tool asks for the address register at 19200 baud and, until the
// device answers, steps down to 9600, 4800 and 2400, ending at 9600. The window holds each rate
// for three poll ticks from the moment it is set, so every rate gets the same full chance to
// answer; zelvikctl, which has no poll, holds each rate for its reply time-out instead.
namespace BaudProbe {

constexpr qint32 StartRate = 19200;
constexpr quint32 PollsPerRate = 3;
constexpr quint8 RatesTried = 4; // 19200, 9600, 4800, 2400

// The port speed of a step: 1 = 19200, 2 = 9600, 3 = 4800, 4 = 2400, 5 = 9600 (the end).
qint32 rateForStep(quint8 step);

// A read reply answers the probe when its byte count is 2 and the low byte of the address
// register equals the reply's address byte.
bool isAnswer(const QByteArray &reply);

// The untranslated message for an answer at the given step ("Baudrate is 4800 !").
const char *answerMessage(quint8 step);

// The request the probe writes at each rate: a read of the address register.
QByteArray request();

} // namespace BaudProbe

// One walk of the probe. It keeps its own step and its count of polls; the session sets the port
// to each rate it names and writes request() there.
class BaudRateProbe
{
public:
    struct Step {
        bool changeRate = false; // set the port to rate and write the probe request
        qint32 rate = 0;
        quint8 debugStep = 0;    // the step number for the debug output (2 to 5)
        bool ended = false;      // no rate answered; the port goes back to rate and the probe stops
        bool again = false;      // write the request once more at the same rate (zelvikctl's retries)
    };

    // How long each rate is held: polls counted by poll(), or, with polls 0, holdMs of time; a
    // rate gets attemptsPerRate requests, each held that long.
    void setHold(quint32 polls, qint64 holdMs, int attemptsPerRate);

    // Step 1 from nowMs; the caller has set the port to StartRate and written the request.
    void start(qint64 nowMs);
    // The request was written again at the current rate at nowMs: its hold starts over.
    void restartHold(qint64 nowMs);
    void stop() { m_step = 0; }
    bool running() const { return m_step != 0; }
    quint8 step() const { return m_step; }
    quint32 pollsAtRate() const { return m_polls; }

    // Ends the probe on an answer and returns the step it answered at. The probe ends before the
    // operator is told, so no later tick moves the port away from the rate that answered.
    quint8 accept();

    // One poll tick counted, then what to do at nowMs: nothing, move to the next rate, or end.
    Step poll(qint64 nowMs);
    // What to do at nowMs without counting a poll.
    Step at(qint64 nowMs);
    // When the current rate's hold ends by time; -1 when the hold is counted in polls or idle.
    qint64 deadline() const;

private:
    quint8 m_step = 0; // 0 idle, 1 = 19200, 2 = 9600, 3 = 4800, 4 = 2400
    quint32 m_polls = 0;
    qint64 m_rateSetAt = 0;
    int m_attempt = 1;
    quint32 m_pollsPerRate = BaudProbe::PollsPerRate;
    qint64 m_holdMs = 0;
    int m_attemptsPerRate = 1;
};

#endif
