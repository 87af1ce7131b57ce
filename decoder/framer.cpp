#include "framer.h"

#include "checks.h"
#include "frames.h"
#include "hextext.h"

#include <QCoreApplication>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("MainWindow", text);
}

// A view of the buffer from offset on, without copying: the framer looks at many offsets.
QByteArray viewFrom(const QByteArray &buffer, int offset)
{
    return QByteArray::fromRawData(buffer.constData() + offset, buffer.size() - offset);
}

QString hexNote(const char *text, const QByteArray &bytes)
{
    return tr(text).arg(logHexBytes(bytes).trimmed());
}

const char *const JunkNote = QT_TRANSLATE_NOOP("MainWindow", "Unframed bytes dropped: %1");

// Line noise makes runs of junk broken up by false frame starts; a run of anything but frames
// that holds junk is reported as one run, so noise gives one line, not one per false start. A run
// of refused frames is one line too: the first one's reason and how many more there were.
QList<FramerEvent> mergeNoise(const QList<FramerEvent> &events)
{
    QList<FramerEvent> merged;
    int moreRefused = 0;
    auto closeRefusals = [&] {
        if (moreRefused > 0)
            merged.last().note += tr(" (and %1 more refused frames)").arg(moreRefused);
        moreRefused = 0;
    };
    for (const FramerEvent &e : events) {
        const bool noise = e.type != FramerEvent::Frame;
        const bool afterNoise = !merged.isEmpty() && merged.last().type != FramerEvent::Frame;
        if (noise && afterNoise && (e.type == FramerEvent::Junk || merged.last().type == FramerEvent::Junk)) {
            closeRefusals();
            merged.last().type = FramerEvent::Junk;
            merged.last().bytes += e.bytes;
        } else if (e.type == FramerEvent::BadCheck && afterNoise && merged.last().type == FramerEvent::BadCheck) {
            merged.last().bytes += e.bytes;
            ++moreRefused;
        } else {
            closeRefusals();
            merged << e;
        }
    }
    closeRefusals();
    for (FramerEvent &e : merged) {
        if (e.type == FramerEvent::Junk)
            e.note = hexNote(JunkNote, e.bytes);
    }
    return merged;
}

FramerEvent event(FramerEvent::Type type, const QByteArray &bytes, const QString &note = QString())
{
    FramerEvent e;
    e.type = type;
    e.bytes = bytes;
    e.note = note;
    return e;
}

} // namespace

namespace Framing {

int frameLength(const QByteArray &bytes)
{
    if (bytes.size() < 2)
        return NeedMore;
    switch (quint8(bytes.at(1))) {
    case Modbus::ReadHoldingRegisters:
        if (bytes.size() < 3)
            return NeedMore;
        // Registers are two bytes each: an odd byte count is no read reply.
        return quint8(bytes.at(2)) % 2 ? NotAFrame : Modbus::ReadReplyOverhead + quint8(bytes.at(2));
    case Modbus::WriteSingleRegister:
    case Modbus::WriteMultipleRegisters:
        return Modbus::SingleWriteSize; // a write-multiple answer has the same 8 bytes
    case Modbus::ExceptionBit | Modbus::ReadHoldingRegisters:
    case Modbus::ExceptionBit | Modbus::WriteSingleRegister:
    case Modbus::ExceptionBit | Modbus::WriteMultipleRegisters:
        return Modbus::ExceptionReplySize;
    default:
        // A Modbus function above wins over the native head: a device at address 0xAA exists.
        return quint8(bytes.at(0)) == Kelvra::Head ? Kelvra::FrameSize : NotAFrame;
    }
}

FrameKind frameKind(const QByteArray &frame)
{
    switch (quint8(frame.at(1))) {
    case Modbus::ReadHoldingRegisters: return FrameKind::ReadReply;
    case Modbus::WriteSingleRegister: return FrameKind::WriteEcho;
    case Modbus::WriteMultipleRegisters: return FrameKind::WriteMultipleAnswer;
    case Modbus::ExceptionBit | Modbus::ReadHoldingRegisters:
    case Modbus::ExceptionBit | Modbus::WriteSingleRegister:
    case Modbus::ExceptionBit | Modbus::WriteMultipleRegisters: return FrameKind::Exception;
    default: return FrameKind::Native;
    }
}

QString checkFailure(const QByteArray &frame)
{
    if (frameKind(frame) == FrameKind::Native) {
        const quint8 tail = quint8(frame.at(Kelvra::TailOffset));
        if (tail != Kelvra::Tail)
            return tr("Reply refused: native frame ends in %1 instead of ab").arg(tail, 2, 16, QLatin1Char('0'));
        const quint8 expected = kelvraChecksum(frame);
        const quint8 got = quint8(frame.at(Kelvra::ChecksumOffset));
        if (expected == got)
            return QString();
        return tr("Reply refused: checksum mismatch (expected %1, got %2)")
            .arg(expected, 2, 16, QLatin1Char('0'))
            .arg(got, 2, 16, QLatin1Char('0'));
    }
    if (hasValidModbusCrc(frame))
        return QString();
    const int body = frame.size() - 2;
    const quint16 crc = crc16Modbus(frame.left(body));
    return tr("Reply refused: CRC mismatch (expected %1, got %2)")
        .arg(QString::asprintf("%02x %02x", crc & 0xFF, crc >> 8),
             QString::asprintf("%02x %02x", quint8(frame.at(body)), quint8(frame.at(body + 1))));
}

} // namespace Framing

void ReplyFramer::append(const QByteArray &bytes, qint64 nowMs)
{
    if (bytes.isEmpty())
        return;
    m_arrivals.append({m_consumed + m_buffer.size(), nowMs});
    m_buffer += bytes;
}

void ReplyFramer::clear()
{
    m_consumed += m_buffer.size();
    m_buffer.clear();
    m_arrivals.clear();
}

qint64 ReplyFramer::arrivalOf(int offset) const
{
    const qint64 position = m_consumed + offset;
    for (int i = int(m_arrivals.size()) - 1; i > 0; --i) {
        if (m_arrivals.at(i).position <= position)
            return m_arrivals.at(i).atMs;
    }
    return m_arrivals.isEmpty() ? 0 : m_arrivals.first().atMs;
}

void ReplyFramer::dropFront(int count)
{
    m_buffer.remove(0, count);
    m_consumed += count;
    while (m_arrivals.size() > 1 && m_arrivals.at(1).position <= m_consumed)
        m_arrivals.removeFirst();
    if (m_buffer.isEmpty())
        m_arrivals.clear();
}

// The first offset from 1 on, before searchEnd, at which a whole frame with a good check value
// starts, or (acceptRecentStart) the start of a frame whose first byte is still within its
// time-out. searchEnd when there is none.
int ReplyFramer::resyncPoint(int searchEnd, qint64 nowMs, bool acceptRecentStart) const
{
    for (int k = 1; k < searchEnd; ++k) {
        const QByteArray rest = viewFrom(m_buffer, k);
        const int length = Framing::frameLength(rest);
        if (length == Framing::NotAFrame)
            continue;
        if (length > 0 && length <= rest.size()) {
            if (Framing::checkFailure(rest.left(length)).isEmpty())
                return k;
        } else if (acceptRecentStart && nowMs - arrivalOf(k) < Framing::IncompleteTimeoutMs) {
            return k;
        }
    }
    return searchEnd;
}

// A frame failed its check, but a frame of known length starts inside it that has not fully
// arrived: a reply whose start a stray byte or a damaged length made part of the failed frame.
// Nothing good follows the failed frame yet, which would show that the start inside is false.
bool ReplyFramer::frameMayBeginInside(int length) const
{
    const int size = int(m_buffer.size());
    bool startInside = false;
    for (int k = 1; k < length && !startInside; ++k) {
        const int inner = Framing::frameLength(viewFrom(m_buffer, k));
        startInside = inner > 0 && k + inner > size;
    }
    if (!startInside)
        return false;
    for (int j = length; j < size; ++j) {
        const QByteArray rest = viewFrom(m_buffer, j);
        const int next = Framing::frameLength(rest);
        if (next > 0 && next <= rest.size() && Framing::checkFailure(rest.left(next)).isEmpty())
            return false;
    }
    return true;
}

QList<FramerEvent> ReplyFramer::take(qint64 nowMs)
{
    QList<FramerEvent> events;
    int junk = 0; // bytes at the front that start no frame
    auto flushJunk = [&] {
        if (junk == 0)
            return;
        events << event(FramerEvent::Junk, m_buffer.left(junk)); // its note is written by mergeNoise()
        dropFront(junk);
        junk = 0;
    };

    while (junk < m_buffer.size()) {
        const int length = Framing::frameLength(viewFrom(m_buffer, junk));
        if (length == Framing::NotAFrame) {
            ++junk;
            continue;
        }
        flushJunk();

        if (length == Framing::NeedMore || length > m_buffer.size()) {
            // A native head is one byte and cheap to fake (a glitch on power-up), a CRC is not:
            // a whole Modbus frame with a good CRC inside an unfinished native frame shows that
            // its head was a stray byte. A Modbus start is not given up so: its data may well
            // carry whole frames (the transparent channel does). Dropping the head, the bytes up
            // to the first whole good frame go, which may come before the Modbus one.
            const int inside = quint8(m_buffer.at(0)) == Kelvra::Head ? modbusFrameInside() : -1;
            if (inside > 0) {
                junk = resyncPoint(inside, nowMs, false);
                continue;
            }
            if (nowMs - arrivalOf(0) < Framing::IncompleteTimeoutMs)
                break; // wait for the rest
            // A frame start that never completed; keep whatever frame began behind it.
            const int cut = resyncPoint(int(m_buffer.size()), nowMs, true);
            events << event(FramerEvent::Incomplete, m_buffer.left(cut),
                            hexNote("Incomplete reply dropped: %1", m_buffer.left(cut)));
            dropFront(cut);
            continue;
        }

        const QByteArray frame = m_buffer.left(length);
        const QString failure = Framing::checkFailure(frame);
        if (failure.isEmpty()) {
            FramerEvent whole = event(FramerEvent::Frame, frame);
            whole.kind = Framing::frameKind(frame);
            events << whole;
            dropFront(length);
            continue;
        }
        // A good frame that starts inside a failed one means the failed start was a stray byte
        // (line noise before a reply), not a damaged reply.
        const int resync = resyncPoint(length, nowMs, false);
        if (resync < length) {
            junk = resync;
            continue;
        }
        if (frameMayBeginInside(length) && nowMs - arrivalOf(0) < Framing::IncompleteTimeoutMs)
            break; // judge it once the frame inside has arrived, or at the time-out
        events << event(FramerEvent::BadCheck, frame, failure);
        dropFront(length);
    }
    flushJunk();
    return mergeNoise(events);
}

int ReplyFramer::modbusFrameInside() const
{
    for (int k = 1; k < m_buffer.size(); ++k) {
        const QByteArray rest = viewFrom(m_buffer, k);
        const int length = Framing::frameLength(rest);
        if (length > 0 && length <= rest.size() && Framing::frameKind(rest) != FrameKind::Native
            && Framing::checkFailure(rest.left(length)).isEmpty())
            return k;
    }
    return -1;
}

qint64 ReplyFramer::incompleteDeadline() const
{
    return m_buffer.isEmpty() ? -1 : arrivalOf(0) + Framing::IncompleteTimeoutMs;
}
