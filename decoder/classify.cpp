#include "classify.h"

#include "checks.h"
#include "frames.h"
#include "hextext.h"
#include "modbusdecode.h"

#include <QCoreApplication>

namespace {

quint8 byteAt(const QByteArray &block, int offset)
{
    return offset < block.size() ? quint8(block.at(offset)) : quint8(0);
}

bool isExceptionFunction(quint8 function)
{
    return function == (Modbus::ExceptionBit | Modbus::ReadHoldingRegisters)
        || function == (Modbus::ExceptionBit | Modbus::WriteSingleRegister)
        || function == (Modbus::ExceptionBit | Modbus::WriteMultipleRegisters);
}

// The length of a read reply announced by its byte count (address, function, count, data, CRC).
int readReplyLength(const QByteArray &block)
{
    return Modbus::ReadReplyOverhead + byteAt(block, 2);
}

// A Modbus read or exception reply that is already complete and carries a valid CRC. Used to
// tell a reply from a device at address 0xAA apart from the start of a native frame.
bool isCompleteModbusReply(const QByteArray &block)
{
    const quint8 function = byteAt(block, 1);
    int length = 0;
    if (function == Modbus::ReadHoldingRegisters && block.size() >= 3)
        length = readReplyLength(block);
    else if (isExceptionFunction(function))
        length = Modbus::ExceptionReplySize;
    else if (function == Modbus::WriteSingleRegister || function == Modbus::WriteMultipleRegisters)
        length = Modbus::SingleWriteSize;
    return length > 0 && block.size() >= length && hasValidModbusCrc(block.left(length));
}

QString hexForNote(const QByteArray &bytes)
{
    return formatHexBytes(bytes).trimmed();
}

QString droppedNote(const QByteArray &block)
{
    return QCoreApplication::translate("MainWindow", "Incomplete reply dropped: %1").arg(hexForNote(block));
}

} // namespace

int expectedReplyLength(const QByteArray &block)
{
    const int size = block.size();
    if (size == 0)
        return 0;
    if (size == 1)
        return -1;

    if (byteAt(block, 0) == Kelvra::Head) {
        if (size < Kelvra::FrameSize) {
            if (!isCompleteModbusReply(block))
                return Kelvra::FrameSize;
        } else if (byteAt(block, Kelvra::TailOffset) == Kelvra::Tail) {
            if (size > Kelvra::FrameSize && byteAt(block, Kelvra::FrameSize) == Kelvra::Head)
                return Kelvra::PairSize;
            return Kelvra::FrameSize;
        }
    }

    const quint8 function = byteAt(block, 1);
    if (function == Modbus::ReadHoldingRegisters)
        return size == 2 ? -1 : readReplyLength(block);
    if (function == Modbus::WriteSingleRegister || function == Modbus::WriteMultipleRegisters)
        return Modbus::SingleWriteSize;
    if (isExceptionFunction(function))
        return Modbus::ExceptionReplySize;
    return 0;
}

namespace {

// Judges one block. A block that is only the start of a reply is kept in held when mayHold is
// true; otherwise it is reported through incomplete and classified as Refused.
Classified classifyBlock(const QByteArray &block, bool mayHold, QByteArray &held, bool &incomplete)
{
    Classified result;
    incomplete = false;
    if (block.isEmpty())
        return result;

    const int expected = expectedReplyLength(block);
    const int size = block.size();
    const quint8 function = byteAt(block, 1);
    const bool tooShort = expected == -1 || size < expected
        || (function == Modbus::ReadHoldingRegisters && size >= 3 && size < readReplyLength(block));
    if (tooShort) {
        result.block = block;
        if (mayHold) {
            held = block;
            result.kind = ReplyKind::Held;
        } else {
            incomplete = true;
            result.kind = ReplyKind::Refused;
        }
        return result;
    }

    const bool nativeMarkers = byteAt(block, 0) == Kelvra::Head
        && byteAt(block, Kelvra::TailOffset) == Kelvra::Tail;

    if (size == Kelvra::FrameSize && nativeMarkers) {
        result.kind = ReplyKind::NativeReply;
        result.block = block;
    } else if (size == Kelvra::PairSize && nativeMarkers) {
        result.kind = ReplyKind::NativePair;
        result.block = block;
    } else if (size == Modbus::SingleWriteSize && function == Modbus::WriteSingleRegister) {
        result.kind = ReplyKind::WriteEcho;
        result.block = block;
    } else if (function == Modbus::ReadHoldingRegisters) {
        // Bytes after the first complete reply are ignored.
        const int length = readReplyLength(block);
        result.block = block.left(length);
        const quint16 crc = crc16Modbus(result.block.left(length - 2));
        const quint8 gotLow = byteAt(result.block, length - 2);
        const quint8 gotHigh = byteAt(result.block, length - 1);
        if (gotLow == (crc & 0xFF) && gotHigh == (crc >> 8)) {
            result.kind = ReplyKind::ReadReply;
        } else {
            result.kind = ReplyKind::Refused;
            result.notes << QCoreApplication::translate("MainWindow", "Reply refused: CRC mismatch (expected %1, got %2)")
                                .arg(QString::asprintf("%02x %02x", crc & 0xFF, crc >> 8),
                                     QString::asprintf("%02x %02x", gotLow, gotHigh));
        }
    } else if (isExceptionFunction(function) && size >= Modbus::ExceptionReplySize
               && hasValidModbusCrc(block.left(Modbus::ExceptionReplySize))) {
        result.kind = ReplyKind::Exception;
        result.block = block.left(Modbus::ExceptionReplySize);
        result.notes << exceptionLine(result.block);
    } else {
        result.kind = ReplyKind::Ignored;
        result.block = block;
    }
    return result;
}

} // namespace

namespace {

// A block that is a whole reply whose check value holds (native frames carry no checked value).
bool isValidReply(const Classified &classified, const QByteArray &block)
{
    switch (classified.kind) {
    case ReplyKind::ReadReply:
    case ReplyKind::Exception:
    case ReplyKind::NativeReply:
    case ReplyKind::NativePair:
        return true;
    case ReplyKind::WriteEcho:
        return hasValidModbusCrc(classified.block);
    case ReplyKind::Ignored: {
        // A reply nothing decodes, such as the answer to a multiple write.
        const int expected = expectedReplyLength(block);
        return expected > 0 && hasValidModbusCrc(block.left(expected));
    }
    default:
        return false;
    }
}

} // namespace

Classified ReplyAssembler::feed(const QByteArray &tickBytes)
{
    bool incomplete = false;
    if (m_held.isEmpty())
        return classifyBlock(tickBytes, true, m_held, incomplete);

    const QByteArray held = m_held;
    m_held.clear();
    const QByteArray block = held + tickBytes;
    Classified joined = classifyBlock(block, false, m_held, incomplete);
    if (!incomplete && isValidReply(joined, block))
        return joined;

    // The kept start did not become a valid reply. If this tick's bytes are one (or the start of
    // one) by themselves, the kept bytes were a stray fragment: drop them, so they cannot swallow
    // the good reply that follows.
    QByteArray heldAgain;
    bool ownIncomplete = false;
    Classified own = classifyBlock(tickBytes, true, heldAgain, ownIncomplete);
    if (own.kind == ReplyKind::Held || isValidReply(own, tickBytes)) {
        m_held = heldAgain;
        own.notes.prepend(droppedNote(held));
        return own;
    }
    if (incomplete) {
        joined.notes << droppedNote(block);
        return joined;
    }
    // A whole reply that failed its check: refused with its CRC note, or ignored.
    return joined;
}
