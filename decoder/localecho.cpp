#include "localecho.h"

void LocalEcho::sent(const QByteArray &request, qint64 nowMs)
{
    if (!request.isEmpty())
        m_copies.append(Copy{request, nowMs});
}

QByteArray LocalEcho::filter(const QByteArray &received, qint64 nowMs)
{
    QByteArray passed;
    // Copies overdue are given up, except one whose bytes are arriving now.
    while (!m_copies.isEmpty() && m_matched == 0 && nowMs - m_copies.first().sentAtMs > CopyWindowMs)
        m_copies.removeFirst();
    for (const char byte : received) {
        if (m_copies.isEmpty()) {
            passed += byte;
            continue;
        }
        const QByteArray &copy = m_copies.first().bytes;
        if (byte != copy.at(m_matched) && m_matched > 0) {
            // Not the copy after all: what was held goes on, and this byte may start the copy.
            passed += copy.left(m_matched);
            m_matched = 0;
        }
        if (byte != copy.at(m_matched)) {
            passed += byte;
            continue;
        }
        if (++m_matched == copy.size()) {
            m_copies.removeFirst();
            m_matched = 0;
        }
    }
    return passed;
}

QByteArray LocalEcho::flush()
{
    const QByteArray held = m_copies.isEmpty() ? QByteArray() : m_copies.first().bytes.left(m_matched);
    m_copies.clear();
    m_matched = 0;
    return held;
}
