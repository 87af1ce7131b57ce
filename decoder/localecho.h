#ifndef ZELVIK_LOCALECHO_H
#define ZELVIK_LOCALECHO_H

#include <QByteArray>

// Some RS-485 adapters hear their own transmitter: every request written comes back on the receive
// side right after it went out, before the device's reply. This drops that copy so that only the
// device's bytes reach the framer. The copy is recognised byte by byte; the bytes that match so
// far are held back until the whole copy has arrived (then they are dropped) or a byte differs
// (then they are handed on with the rest, since they were not the copy after all).
class LocalEcho
{
public:
    // A request was written: its copy is expected after the copies still expected (the window
    // writes requests back to back, and the adapter echoes them in that order).
    void sent(const QByteArray &request);
    // What was received, less the leading copy of the last request.
    QByteArray filter(const QByteArray &received);
    // Forgets the expected copies and hands back the bytes held for them.
    QByteArray flush();
    bool expecting() const { return m_matched < m_expected.size(); }

private:
    QByteArray m_expected;
    int m_matched = 0;
};

#endif
