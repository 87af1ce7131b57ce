#include "baudprobe.h"

#include <QtGlobal>

namespace BaudProbe {

namespace {

quint8 byteAt(const QByteArray &reply, int offset)
{
    return offset < reply.size() ? quint8(reply.at(offset)) : quint8(0);
}

constexpr quint8 LastStep = 5; // back at 9600 baud, where the probe gives up

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

void start(PendingReplies &pending)
{
    pending.pendingBaudrate = 1;
    pending.baudScanTicks = 0;
}

bool isAnswer(const QByteArray &reply)
{
    // The probe reads register 0x0000, whose low byte is the device's own address.
    return byteAt(reply, 2) == 2 && byteAt(reply, 4) == byteAt(reply, 0);
}

quint8 acceptAnswer(PendingReplies &pending)
{
    const quint8 step = pending.pendingBaudrate;
    pending.pendingBaudrate = 0;
    return step;
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

ScanStep scanStep(PendingReplies &pending)
{
    ScanStep step;
    if (pending.pendingBaudrate == 0)
        return step;
    if (++pending.baudScanTicks < PollsPerRate)
        return step;
    pending.baudScanTicks = 0;
    ++pending.pendingBaudrate;
    step.changeRate = true;
    step.rate = rateForStep(pending.pendingBaudrate);
    step.debugStep = pending.pendingBaudrate;
    step.ended = pending.pendingBaudrate == LastStep;
    pending.pendingBaudrate %= LastStep;
    return step;
}

} // namespace BaudProbe
