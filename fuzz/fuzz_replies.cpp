// Replies as the window sees them: arbitrary bytes, cut into the blocks of several poll ticks in a
// row, go through the same path as MainWindow::timerEvent: ReplyAssembler::feed, then by kind the
// native texts, the write-echo table, the read-reply decoder with every pending flag raised, the
// baud-rate probe's answer and scan step. Cheap invariants check each step.
//
// Input: control byte (bits 0-2: ticks - 1; bit 3: restart the probe whenever it is idle),
// measurement target (signed byte), start of the probe's tick counter, then per tick one length
// byte (bits 0-6: block length; bit 7: overwrite the block's last two bytes with its CRC, so that
// complete Modbus replies are reachable) and the block. The last tick takes everything left.

#include "fuzzcheck.h"

#include "baudprobe.h"
#include "classify.h"
#include "frames.h"
#include "modbusdecode.h"
#include "nativedecode.h"
#include "pendingreplies.h"

#include <QRegularExpression>
#include <algorithm>
#include <QSet>
#include <QStringList>

namespace {

void withCrc(QByteArray &block)
{
    if (block.size() < 3)
        return;
    const quint16 crc = referenceCrc16(block, block.size() - 2);
    block[block.size() - 2] = char(crc & 0xFF);
    block[block.size() - 1] = char(crc >> 8);
}

quint8 at(const QByteArray &bytes, int offset)
{
    return offset >= 0 && offset < bytes.size() ? quint8(bytes.at(offset)) : quint8(0);
}

void raiseAll(PendingReplies &p)
{
    for (quint8 *flag : {&p.pendingSensorData, &p.pendingCleanSetting, &p.pendingHeatMode, &p.pendingWorkMode,
                         &p.pendingModbusAddr, &p.pendingSelfCheck, &p.pendingGlobalSet, &p.pendingTempHumi,
                         &p.pendingHeatTempThreshold, &p.pendingHeatHumiThreshold, &p.pendingCalibration,
                         &p.pendingTransRead, &p.pendingFactor})
        *flag = 1;
}

bool flagsAreBytes(const PendingReplies &p, quint8 allowed)
{
    const std::initializer_list<quint8> flags = {
        p.pendingSensorData, p.pendingCleanSetting, p.pendingHeatMode, p.pendingWorkMode,
        p.pendingModbusAddr, p.pendingSelfCheck, p.pendingGlobalSet, p.pendingTempHumi,
        p.pendingHeatTempThreshold, p.pendingHeatHumiThreshold, p.pendingCalibration,
        p.pendingTransRead, p.pendingFactor};
    return std::all_of(flags.begin(), flags.end(), [allowed](quint8 flag) { return flag <= allowed; });
}

// Exactly one complete Modbus reply with a valid CRC: a read reply, an exception, or the 8-byte
// answer to a single or multiple write.
bool isOneCompleteModbusReply(const QByteArray &b)
{
    const quint8 function = at(b, 1);
    if (function == 0x03)
        return b.size() == 5 + at(b, 2) && crcTrailerValid(b);
    if (function == 0x83 || function == 0x86 || function == 0x90)
        return b.size() == 5 && crcTrailerValid(b);
    if (function == 0x06 || function == 0x10)
        return b.size() == 8 && crcTrailerValid(b);
    return false;
}

bool nativeMarkersAt(const QByteArray &b, int offset)
{
    return at(b, offset) == Kelvra::Head && at(b, offset + Kelvra::TailOffset) == Kelvra::Tail;
}

void checkNativeTexts(const QByteArray &frame)
{
    static const QRegularExpression idPattern(QStringLiteral("\\A[0-9a-f]{4}-[0-9a-f]{4}\\z"));
    static const QRegularExpression firmwarePattern(QStringLiteral("\\A-?\\d{1,3}--?\\d{1,3}--?\\d{1,3}\\z"));
    const QString id = deviceIdText(frame);
    FUZZ_CHECK(idPattern.match(id).hasMatch(), frame);
    FUZZ_CHECK(id == QString::asprintf("%02x%02x-%02x%02x", at(frame, 8), at(frame, 9), at(frame, 10), at(frame, 11)),
               frame);
    const QString firmware = firmwareIdText(frame);
    FUZZ_CHECK(firmwarePattern.match(firmware).hasMatch(), frame);
    FUZZ_CHECK(firmware.startsWith(QString::number(qint8(at(frame, 9)))), frame);
    FUZZ_CHECK(firmware.endsWith(QString::number(qint8(at(frame, 11)))), frame);
}

void checkEcho(const QByteArray &echo)
{
    const char *message = writeEchoMessage(echo);
    if (!message)
        return;
    FUZZ_CHECK(at(echo, 1) == 0x06, echo);
    FUZZ_CHECK(at(echo, 3) == 0xB1 || at(echo, 3) == 0xA5, echo);
    // The table's CRC bytes are those of the echo from address 0 with zero high bytes.
    QByteArray fromZero(8, '\0');
    fromZero[1] = char(0x06);
    fromZero[3] = echo.at(3);
    fromZero[5] = echo.at(5);
    fromZero[6] = echo.at(6);
    fromZero[7] = echo.at(7);
    FUZZ_CHECK(crcTrailerValid(fromZero), echo);
}

// Every change names a widget of the form and carries a short text; flags end up cleared.
void checkDecoded(const QByteArray &reply, int sendObjectIndex, PendingReplies pending)
{
    static const QRegularExpression numberPattern(QStringLiteral("\\A-?[0-9a-f]{1,3}\\z"));
    static const QSet<QString> buttons = [] {
        QSet<QString> names{QStringLiteral("radioButton_AutoHeat"), QStringLiteral("radioButton_ManualHeat"),
                            QStringLiteral("radioButton_Autoall"), QStringLiteral("radioButton_Autosingle"),
                            QStringLiteral("radioButton_Manualset")};
        for (int i = 1; i <= 4; ++i) {
            names << QStringLiteral("checkBox_No%1").arg(i) << QStringLiteral("checkBox_Selfcheck%1").arg(i)
                  << QStringLiteral("checkBox_Global%1").arg(i);
        }
        return names;
    }();
    static const QSet<QString> edits = [] {
        QSet<QString> names;
        for (const char *name : {"lineEdit_AutoCleanTime", "lineEdit_AutoCleanDustJianGe", "lineEdit_DeviceAddr",
                                 "lineEdit_Temp", "lineEdit_Humi", "lineEdit_HeatTempHigh", "lineEdit_HeatTempLow",
                                 "lineEdit_HeatHumiHigh", "lineEdit_HeatHumiLow", "lineEdit_CalibrZero",
                                 "lineEdit_CalibrateFactor", "lineEdit_TransRead"})
            names << QLatin1String(name);
        for (int i = 1; i <= 4; ++i)
            names << QStringLiteral("lineEdit_%1Factor").arg(i) << QStringLiteral("lineEdit_%1Factor_2").arg(i);
        return names;
    }();

    raiseAll(pending);
    const ReadReplyOutcome out = decodeReadReply(reply, pending, sendObjectIndex);
    FUZZ_CHECK(flagsAreBytes(pending, 0), reply);

    const int available = qMax(0, reply.size() - 3);
    int transReads = 0;
    for (const WidgetChange &change : out.changes) {
        if (change.kind == WidgetChange::SetChecked) {
            FUZZ_CHECK(buttons.contains(change.objectName), change.objectName.toUtf8());
            continue;
        }
        FUZZ_CHECK(edits.contains(change.objectName), change.objectName.toUtf8());
        if (change.objectName == QLatin1String("lineEdit_TransRead")) {
            ++transReads;
            FUZZ_CHECK(change.text.size() % 3 == 0, reply);
            FUZZ_CHECK(change.text.size() <= 3 * available, reply);
            FUZZ_CHECK(change.text.size() == 3 * qMin(int(at(reply, 2)), available), reply);
        } else {
            FUZZ_CHECK(change.text.isEmpty() || numberPattern.match(change.text).hasMatch(), change.text.toUtf8());
        }
    }
    FUZZ_CHECK(transReads == 1, reply);

    FUZZ_CHECK(out.logLines.size() == 1, reply);
    const QString &line = out.logLines.first();
    const quint8 target = quint8(sendObjectIndex);
    FUZZ_CHECK(line.startsWith(target == 0 ? QStringLiteral("All Sensor: PM2.5 = ")
                                           : QStringLiteral("Sensor %1:  PM2.5 = ").arg(target)),
               line.toUtf8());
    FUZZ_CHECK(line.contains(QLatin1String("  PM10 = ")), line.toUtf8());
    FUZZ_CHECK(line.endsWith(QStringLiteral("  PM100 = %1").arg(at(reply, 7) * 256 + at(reply, 8))), line.toUtf8());
    FUZZ_CHECK(line.size() <= 80, line.toUtf8());
}

bool tookWholeTick(const Classified &r, const QByteArray &tick)
{
    return r.kind == ReplyKind::ReadReply && r.block == tick;
}

// The kept bytes were completed by this tick into a reply whose check value or markers hold.
bool completedValidly(const Classified &r, const QByteArray &held, bool wasHolding)
{
    if (!wasHolding || r.block.size() <= held.size() || !r.block.startsWith(held))
        return false;
    switch (r.kind) {
    case ReplyKind::ReadReply:
    case ReplyKind::Exception:
    case ReplyKind::NativeReply:
    case ReplyKind::NativePair:
        return true;
    case ReplyKind::WriteEcho:
        return crcTrailerValid(r.block);
    default:
        return false;
    }
}

void checkClassified(const Classified &r, const QByteArray &tick, const QByteArray &held, bool wasHolding,
                     const ReplyAssembler &assembler)
{
    const QByteArray joined = held + tick;
    FUZZ_CHECK((r.kind == ReplyKind::Held) == assembler.isHolding(), joined);
    if (r.kind == ReplyKind::Nothing) {
        FUZZ_CHECK(tick.isEmpty() && !wasHolding, joined);
        FUZZ_CHECK(r.block.isEmpty() && r.notes.isEmpty(), joined);
        return;
    }
    FUZZ_CHECK(!r.block.isEmpty(), joined);
    FUZZ_CHECK(joined.startsWith(r.block) || tick.startsWith(r.block), joined);
    FUZZ_CHECK(r.notes.size() <= 2, joined);
    for (const QString &note : r.notes)
        FUZZ_CHECK(!note.isEmpty() && note.size() <= 120 + 3 * joined.size(), joined);

    switch (r.kind) {
    case ReplyKind::Held:
        FUZZ_CHECK(r.block == tick, joined);
        break;
    case ReplyKind::NativeReply:
        FUZZ_CHECK(r.block.size() == Kelvra::FrameSize && nativeMarkersAt(r.block, 0), r.block);
        break;
    case ReplyKind::NativePair:
        FUZZ_CHECK(r.block.size() == Kelvra::PairSize && nativeMarkersAt(r.block, 0), r.block);
        break;
    case ReplyKind::WriteEcho:
        FUZZ_CHECK(r.block.size() == Modbus::SingleWriteSize && at(r.block, 1) == 0x06, r.block);
        break;
    case ReplyKind::ReadReply:
        FUZZ_CHECK(at(r.block, 1) == 0x03, r.block);
        FUZZ_CHECK(r.block.size() == Modbus::ReadReplyOverhead + at(r.block, 2), r.block);
        FUZZ_CHECK(crcTrailerValid(r.block), r.block);
        break;
    case ReplyKind::Exception:
        FUZZ_CHECK(r.block.size() == Modbus::ExceptionReplySize && (at(r.block, 1) & 0x80), r.block);
        FUZZ_CHECK(crcTrailerValid(r.block) && !r.notes.isEmpty(), r.block);
        break;
    default:
        break;
    }

    // A tick that holds exactly one complete, valid Modbus reply is never taken for the start of
    // another one, unless it is a 19- or 38-byte block with native markers (native frames win).
    const bool nativeShaped = (tick.size() == Kelvra::FrameSize || tick.size() == Kelvra::PairSize)
                              && nativeMarkersAt(tick, 0);
    if (isOneCompleteModbusReply(tick) && !nativeShaped) {
        FUZZ_CHECK(r.kind != ReplyKind::Held, tick);
        // A good read reply is decoded, unless the kept bytes and this tick together make a valid reply.
        if (at(tick, 1) == 0x03)
            FUZZ_CHECK(tookWholeTick(r, tick) || completedValidly(r, held, wasHolding), joined);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    InputReader in(data, size);
    const quint8 control = in.byte();
    const int ticks = (control & 0x07) + 1;
    const bool restartProbe = control & 0x08;
    const int sendObjectIndex = qint8(in.byte());
    const quint8 tickSeed = in.byte();

    PendingReplies pending;
    pending.baudScanTicks = (tickSeed & 0x80) ? (0xFFFFFF00u | tickSeed) : tickSeed;
    ReplyAssembler assembler;
    QByteArray held;

    for (int t = 0; t < ticks; ++t) {
        const quint8 lengthByte = in.byte();
        QByteArray tick = (t == ticks - 1) ? in.rest() : in.take(lengthByte & 0x7F);
        if (lengthByte & 0x80)
            withCrc(tick);

        raiseAll(pending);
        if (restartProbe && pending.pendingBaudrate == 0)
            BaudProbe::start(pending);
        FUZZ_CHECK(pending.pendingBaudrate <= 4, tick);

        // Robustness on the raw bytes, whatever they are: every reader treats missing bytes as 0.
        checkNativeTexts(tick);
        checkEcho(tick);
        checkDecoded(tick, sendObjectIndex, pending);
        FUZZ_CHECK(!exceptionLine(tick).isEmpty(), tick);
        const int expected = expectedReplyLength(tick);
        FUZZ_CHECK(expected >= -1 && expected <= Modbus::ReadReplyOverhead + 255, tick);

        const bool wasHolding = assembler.isHolding();
        const Classified reply = assembler.feed(tick);
        checkClassified(reply, tick, held, wasHolding, assembler);
        held = reply.kind == ReplyKind::Held ? reply.block : QByteArray();

        switch (reply.kind) {
        case ReplyKind::NativeReply:
            checkNativeTexts(reply.block.left(Kelvra::FrameSize));
            break;
        case ReplyKind::NativePair: {
            checkNativeTexts(reply.block.left(Kelvra::FrameSize));
            const QByteArray second = reply.block.mid(Kelvra::FrameSize, Kelvra::FrameSize);
            if (nativeMarkersAt(second, 0))
                checkNativeTexts(second);
            break;
        }
        case ReplyKind::WriteEcho:
            checkEcho(reply.block);
            break;
        case ReplyKind::ReadReply: {
            checkDecoded(reply.block, sendObjectIndex, pending);
            const ReadReplyOutcome out = decodeReadReply(reply.block, pending, sendObjectIndex);
            FUZZ_CHECK(flagsAreBytes(pending, 0) && out.logLines.size() == 1, reply.block);
            const bool answer = BaudProbe::isAnswer(reply.block, pending);
            FUZZ_CHECK(answer == (pending.pendingBaudrate != 0 && at(reply.block, 2) == 2
                                  && at(reply.block, 4) == at(reply.block, 0)),
                       reply.block);
            if (answer) {
                const quint8 step = BaudProbe::acceptAnswer(pending);
                FUZZ_CHECK(step >= 1 && step <= 4 && pending.pendingBaudrate == 0, reply.block);
                FUZZ_CHECK(BaudProbe::answerMessage(step) != nullptr, reply.block);
            }
            break;
        }
        case ReplyKind::Exception:
            FUZZ_CHECK(reply.notes.contains(exceptionLine(reply.block)), reply.block);
            break;
        default:
            break;
        }
        FUZZ_CHECK(flagsAreBytes(pending, 1), tick);

        const quint8 stepBefore = pending.pendingBaudrate;
        const quint32 ticksBefore = pending.baudScanTicks;
        const BaudProbe::ScanStep step = BaudProbe::scanStep(pending);
        FUZZ_CHECK(pending.pendingBaudrate <= 4, tick);
        if (stepBefore == 0) {
            FUZZ_CHECK(!step.changeRate && pending.baudScanTicks == ticksBefore && pending.pendingBaudrate == 0, tick);
        } else {
            FUZZ_CHECK(pending.baudScanTicks == ticksBefore + 1, tick);
            FUZZ_CHECK(step.changeRate == (pending.baudScanTicks % 3 == 1), tick);
        }
        if (step.changeRate) {
            FUZZ_CHECK(step.debugStep == stepBefore + 1 && step.debugStep >= 2 && step.debugStep <= 5, tick);
            FUZZ_CHECK(step.rate == BaudProbe::rateForStep(step.debugStep), tick);
            FUZZ_CHECK(step.rate == 19200 || step.rate == 9600 || step.rate == 4800 || step.rate == 2400, tick);
            FUZZ_CHECK(pending.pendingBaudrate == step.debugStep % 5, tick);
        } else {
            FUZZ_CHECK(pending.pendingBaudrate == stepBefore, tick);
        }
    }
    return 0;
}
