#ifndef ZELVIK_CLASSIFY_H
#define ZELVIK_CLASSIFY_H

#include <QByteArray>
#include <QStringList>

enum class ReplyKind {
    Nothing,     // no bytes this tick
    Held,        // the start of a reply; kept for the next tick
    NativeReply, // one 19-byte native frame
    NativePair,  // two native frames back to back (38 bytes)
    WriteEcho,   // 8 bytes answering a single-register write
    ReadReply,   // a complete read reply whose CRC matched
    Refused,     // a reply that cannot be trusted (bad CRC, incomplete); see notes
    Exception,   // a Modbus exception reply with a valid CRC; see notes
    Ignored      // anything else
};

struct Classified {
    ReplyKind kind = ReplyKind::Nothing;
    QByteArray block;  // the bytes to decode (joined with what an earlier tick kept)
    QStringList notes; // log lines for the operator, in order
};

// Turns each poll tick's bytes into one reply to decode. A block that is only the start of a
// reply (a native frame shorter than 19 bytes, a read reply shorter than 5 + its byte count,
// a write echo or exception cut short) is kept and joined with the next tick's bytes; if that
// tick does not complete it, it is dropped with a note. Read replies are decoded only when their
// CRC matches; bytes after the first complete read reply are ignored.
class ReplyAssembler
{
public:
    Classified feed(const QByteArray &tickBytes);
    bool isHolding() const { return !m_held.isEmpty(); }
    void reset() { m_held.clear(); }

private:
    QByteArray m_held;
};

// How many bytes a reply that starts with these bytes needs, or 0 when the block is no known
// start of a reply. -1 when more bytes are needed to tell (a lone byte, or 2 bytes of a read reply).
int expectedReplyLength(const QByteArray &block);

#endif
