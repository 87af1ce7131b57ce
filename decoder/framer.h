#ifndef ZELVIK_FRAMER_H
#define ZELVIK_FRAMER_H

#include <QByteArray>
#include <QList>
#include <QString>
#include <QtGlobal>

// The kinds of frame the device sends, told apart by their first two bytes.
enum class FrameKind {
    Native,              // 19 bytes: 0xAA, reply id, 15 data bytes, checksum, 0xAB
    ReadReply,           // address, 0x03, byte count k, k data bytes, CRC
    WriteEcho,           // the 8 bytes of a single-register write, echoed
    WriteMultipleAnswer, // address, 0x10, start register, register count, CRC
    Exception            // address, function | 0x80, exception code, CRC
};

namespace Framing {
constexpr int NeedMore = -1;  // more bytes are needed to tell the length
constexpr int NotAFrame = 0;  // the first byte starts no frame this device sends
constexpr qint64 IncompleteTimeoutMs = 1000;

// The one place for the length rules: the length of the frame that starts at the front of bytes.
int frameLength(const QByteArray &bytes);
// The kind of a frame whose length frameLength() could tell.
FrameKind frameKind(const QByteArray &frame);
// The one place where check values are tested: the Modbus CRC, or the native checksum and end
// byte. Returns an empty text when the frame holds, else the operator's line saying why not.
QString checkFailure(const QByteArray &frame);
} // namespace Framing

// What the framer cut from the front of its buffer.
struct FramerEvent {
    enum Type {
        Frame,      // a whole frame whose check value holds
        Junk,       // a run of bytes that start no frame
        Incomplete, // the start of a frame that did not complete within the time-out
        BadCheck    // a whole frame whose check value does not hold
    };
    Type type = Frame;
    FrameKind kind = FrameKind::Native; // for Frame
    QByteArray bytes;
    QString note; // the operator's log line; empty for Frame
};

// A receive buffer that lives across poll ticks. Each tick appends what it read; take() cuts every
// complete frame from the front, in order. A frame cut short waits until it completes or until
// IncompleteTimeoutMs has passed since its first byte came.
class ReplyFramer
{
public:
    void append(const QByteArray &bytes, qint64 nowMs);
    QList<FramerEvent> take(qint64 nowMs);
    void clear();
    int buffered() const { return int(m_buffer.size()); }
    // When the bytes held now are given up on, if nothing completes them; -1 when none are held.
    qint64 incompleteDeadline() const;

private:
    struct Arrival {
        qint64 position; // stream position of the first byte of a chunk
        qint64 atMs;
    };
    qint64 arrivalOf(int offset) const;
    void dropFront(int count);
    int resyncPoint(int searchEnd, qint64 nowMs, bool acceptRecentStart) const;
    bool frameMayBeginInside(int length) const;
    // The offset of the first whole Modbus frame with a good CRC after the front; -1 for none.
    int modbusFrameInside() const;

    QByteArray m_buffer;
    qint64 m_consumed = 0; // stream position of m_buffer's first byte
    QList<Arrival> m_arrivals;
};

#endif
