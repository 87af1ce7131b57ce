#ifndef ZELVIK_BAUDPROBE_H
#define ZELVIK_BAUDPROBE_H

#include "pendingreplies.h"

#include <QByteArray>
#include <QtGlobal>

// The baud-rate probe: the tool asks for the address register at 19200 baud and, until the
// device answers, steps down to 9600, 4800 and 2400, ending at 9600. Each rate is held for three
// poll ticks from the moment it is set, so every rate gets the same full chance to answer.
namespace BaudProbe {

constexpr qint32 StartRate = 19200;
constexpr quint32 PollsPerRate = 3;

// The port speed of a step: 1 = 19200, 2 = 9600, 3 = 4800, 4 = 2400, 5 = 9600 (the end).
qint32 rateForStep(quint8 step);

// Sets the step to 1 and starts its count of polls; the caller sets the port to StartRate and
// writes the probe request.
void start(PendingReplies &pending);

// A read reply answers the probe when its byte count is 2 and the low byte of the address
// register equals the reply's address byte.
bool isAnswer(const QByteArray &reply);

// Ends the probe on an answer and returns the step it answered at. The probe ends before the
// operator is told, so no later tick moves the port away from the rate that answered.
quint8 acceptAnswer(PendingReplies &pending);

// The untranslated message for an answer at the given step ("Baudrate is 4800 !").
const char *answerMessage(quint8 step);

struct ScanStep {
    bool changeRate = false; // set the port to rate and write the probe request
    qint32 rate = 0;
    quint8 debugStep = 0;    // the step number for the debug output (2 to 5)
    bool ended = false;      // no rate answered; the port goes back to rate and the probe stops
};

// One tick's step: counts the tick and, on the third tick at a rate, moves to the next rate.
ScanStep scanStep(PendingReplies &pending);

} // namespace BaudProbe

#endif
