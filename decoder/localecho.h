#ifndef ZELVIK_LOCALECHO_H
#define ZELVIK_LOCALECHO_H

#include <QByteArray>
#include <QList>
#include <QtGlobal>

// Some RS-485 adapters hear their own transmitter: every request written comes back on the receive
// side right after it went out. This drops that copy so that only the device's bytes reach the
// framer. Copies are expected in the order the requests were written, but a reply to an earlier
// request may come between two of them. A copy is recognised byte by byte; the bytes that match
// so far are held back until the whole copy has arrived (then they are dropped) or a byte differs
// (then they are handed on, since they were not the copy after all, and the copy is still awaited).
// A copy that has not come within CopyWindowMs of its request is no longer expected.
class LocalEcho
{
public:
    static constexpr qint64 CopyWindowMs = 1000;

    // A request was written at nowMs: its copy is expected after the copies still expected.
    void sent(const QByteArray &request, qint64 nowMs);
    // What was received at nowMs, less the copies of the requests written.
    QByteArray filter(const QByteArray &received, qint64 nowMs);
    // Forgets the expected copies and hands back the bytes held for them.
    QByteArray flush();
    bool expecting() const { return !m_copies.isEmpty(); }

private:
    struct Copy {
        QByteArray bytes;
        qint64 sentAtMs;
    };
    QList<Copy> m_copies;
    int m_matched = 0; // bytes of the first copy matched and held back
};

#endif
