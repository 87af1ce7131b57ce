#include "ptypair.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

PtyPair::PtyPair()
{
    m_master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (m_master < 0)
        return;
    if (grantpt(m_master) != 0 || unlockpt(m_master) != 0) {
        ::close(m_master);
        m_master = -1;
        return;
    }
    m_slavePath = QString::fromLocal8Bit(ptsname(m_master));
    termios tio {};
    if (tcgetattr(m_master, &tio) == 0) {
        cfmakeraw(&tio);
        tcsetattr(m_master, TCSANOW, &tio);
    }
}

PtyPair::~PtyPair()
{
    if (m_master >= 0)
        ::close(m_master);
}

QByteArray PtyPair::read(int count, int timeoutMs)
{
    QByteArray out;
    QElapsedTimer clock;
    clock.start();
    while (out.size() < count && clock.elapsed() < timeoutMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        pollfd pfd {m_master, POLLIN, 0};
        if (::poll(&pfd, 1, 5) > 0 && (pfd.revents & POLLIN)) {
            char buffer[256];
            const ssize_t got = ::read(m_master, buffer, sizeof buffer);
            if (got > 0)
                out.append(buffer, int(got));
        }
    }
    return out;
}

QByteArray PtyPair::readFor(int ms)
{
    return read(1 << 20, ms);
}

bool PtyPair::write(const QByteArray &bytes)
{
    return ::write(m_master, bytes.constData(), size_t(bytes.size())) == bytes.size();
}

int PtyPair::baudRate() const
{
    termios tio {};
    if (tcgetattr(m_master, &tio) != 0)
        return 0;
    switch (cfgetospeed(&tio)) {
    case B1200: return 1200;
    case B2400: return 2400;
    case B4800: return 4800;
    case B9600: return 9600;
    case B19200: return 19200;
    case B38400: return 38400;
    case B57600: return 57600;
    case B115200: return 115200;
    default: return 0;
    }
}

bool PtyPair::slaveClosed() const
{
    pollfd pfd {m_master, POLLIN, 0};
    if (::poll(&pfd, 1, 0) < 0)
        return false;
    return (pfd.revents & POLLHUP) != 0;
}
