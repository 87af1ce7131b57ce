#include "localecho.h"

void LocalEcho::sent(const QByteArray &request)
{
    if (!expecting()) {
        m_expected.clear();
        m_matched = 0;
    }
    m_expected += request;
}

QByteArray LocalEcho::filter(const QByteArray &received)
{
    int at = 0;
    while (expecting() && at < received.size()) {
        if (received.at(at) != m_expected.at(m_matched))
            return flush() + received.mid(at);
        ++m_matched;
        ++at;
    }
    return received.mid(at);
}

QByteArray LocalEcho::flush()
{
    QByteArray held = expecting() ? m_expected.left(m_matched) : QByteArray();
    m_expected.clear();
    m_matched = 0;
    return held;
}
