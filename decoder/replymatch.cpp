#include "replymatch.h"

#include "framer.h"
#include "frames.h"
#include "pendingreplies.h"

ReplyMatch matchReply(const QByteArray &request, const QByteArray &frame)
{
    const int key = PendingReplies::replyKey(request);
    const FrameKind kind = Framing::frameKind(frame);
    if (key >= PendingReplies::NativeKey)
        return kind == FrameKind::Native && PendingReplies::NativeKey + quint8(frame.at(1)) == key ? ReplyMatch::Answer
                                                                                                 : ReplyMatch::Other;
    if (request.size() < 2)
        return ReplyMatch::Answer;
    const quint8 address = quint8(request.at(0));
    const quint8 function = quint8(request.at(1));
    if (function != Modbus::ReadHoldingRegisters && function != Modbus::WriteSingleRegister
        && function != Modbus::WriteMultipleRegisters)
        return ReplyMatch::Answer;
    if (kind == FrameKind::Native || (address != 0 && quint8(frame.at(0)) != address))
        return ReplyMatch::Other;
    if (kind == FrameKind::Exception)
        return quint8(frame.at(1)) == (function | Modbus::ExceptionBit) ? ReplyMatch::Refusal : ReplyMatch::Other;
    // The function code, register and value or count: offsets 1 to 5 of both.
    const bool sameHead = frame.mid(1, 5) == request.mid(1, 5);
    switch (function) {
    case Modbus::ReadHoldingRegisters:
        return kind == FrameKind::ReadReply && quint8(frame.at(2)) == key ? ReplyMatch::Answer : ReplyMatch::Other;
    case Modbus::WriteSingleRegister:
        return kind == FrameKind::WriteEcho && sameHead ? ReplyMatch::Answer : ReplyMatch::Other;
    default:
        return kind == FrameKind::WriteMultipleAnswer && sameHead ? ReplyMatch::Answer : ReplyMatch::Other;
    }
}
