#include "ptysensor.h"

#include "hextext.h"

#include <QCoreApplication>
#include <QFile>
#include <QSocketNotifier>
#include <QTime>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr int SplitGapMs = 250;
constexpr int DriftPeriodMs = 1000;

// NOLINTNEXTLINE(cppcoreguidelines-avoid-non-const-global-variables): the signal handler can reach nothing else
int s_signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    const ssize_t written = ::write(s_signalPipe[0], &byte, 1);
    (void)written;
}

int rateOfSpeed(speed_t speed)
{
    switch (speed) {
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

QString hexText(const QByteArray &bytes)
{
    return formatHexBytes(bytes).trimmed();
}

QString systemError(const char *what)
{
    return QStringLiteral("%1: %2").arg(QString::fromLatin1(what), QString::fromLocal8Bit(std::strerror(errno)));
}

} // namespace

PtySensor::PtySensor(const SensorSettings &sensor, const FaultSettings &faults, const LinkOptions &options,
                     QObject *parent)
    : QObject(parent), m_model(sensor), m_faults(faults, sensor.seed), m_options(options)
{
    m_framer.setDeviceAddress(m_model.address());
    m_clock.start();

    m_silenceTimer.setSingleShot(true);
    m_silenceTimer.setInterval(int(RequestFramer::SilenceMs));
    connect(&m_silenceTimer, &QTimer::timeout, this, &PtySensor::dropStalePartial);

    m_sendTimer.setSingleShot(true);
    m_sendTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_sendTimer, &QTimer::timeout, this, &PtySensor::sendDueReplies);

    m_driftTimer.setInterval(DriftPeriodMs);
    connect(&m_driftTimer, &QTimer::timeout, this, &PtySensor::drift);
}

PtySensor::~PtySensor()
{
    removeLink();
    if (m_slave >= 0)
        ::close(m_slave);
    if (m_master >= 0)
        ::close(m_master);
}

bool PtySensor::installSignalHandlers(QString *error)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, s_signalPipe) != 0) {
        *error = systemError("socketpair");
        return false;
    }
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int sig : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(sig, &action, nullptr);

    auto *notifier = new QSocketNotifier(s_signalPipe[1], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, QCoreApplication::instance(), [] {
        char byte = 0;
        const ssize_t got = ::read(s_signalPipe[1], &byte, 1);
        (void)got;
        QCoreApplication::quit();
    });
    return true;
}

bool PtySensor::open(QString *error)
{
    m_master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (m_master < 0) {
        *error = systemError("posix_openpt");
        return false;
    }
    if (::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0) {
        *error = systemError("grantpt/unlockpt");
        return false;
    }
    const char *name = ::ptsname(m_master);
    if (!name) {
        *error = systemError("ptsname");
        return false;
    }
    m_slavePath = QString::fromLocal8Bit(name);
    ::fcntl(m_master, F_SETFD, FD_CLOEXEC);
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);

    // Holding the slave open ourselves keeps the master free of hang-ups while the tool closes
    // and reopens the port. This descriptor is never read.
    m_slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_slave < 0) {
        *error = systemError("open slave");
        return false;
    }
    // Raw 8N1 at 9600 baud, like a serial port that nobody has configured yet. On Linux the line
    // settings live with the slave; the master only passes bytes.
    struct termios settings = {};
    if (::tcgetattr(m_slave, &settings) != 0) {
        *error = systemError("tcgetattr");
        return false;
    }
    ::cfmakeraw(&settings);
    settings.c_cflag |= CLOCAL | CREAD;
    ::cfsetispeed(&settings, B9600);
    ::cfsetospeed(&settings, B9600);
    if (::tcsetattr(m_slave, TCSANOW, &settings) != 0) {
        *error = systemError("tcsetattr");
        return false;
    }

    if (!m_options.linkPath.isEmpty()) {
        const QByteArray link = QFile::encodeName(m_options.linkPath);
        struct stat info = {};
        if (::lstat(link.constData(), &info) == 0) {
            if (!S_ISLNK(info.st_mode)) {
                *error = QStringLiteral("%1 exists and is not a symbolic link").arg(m_options.linkPath);
                return false;
            }
            ::unlink(link.constData());
        }
        if (::symlink(name, link.constData()) != 0) {
            *error = systemError("symlink");
            return false;
        }
        m_linkMade = true;
    }

    m_readNotifier = new QSocketNotifier(m_master, QSocketNotifier::Read, this);
    connect(m_readNotifier, &QSocketNotifier::activated, this, &PtySensor::readRequests);
    m_driftTimer.start();
    log(QStringLiteral("sensor on %1, address %2, %3 baud")
            .arg(m_slavePath).arg(m_model.address()).arg(m_model.baudRate()));
    return true;
}

void PtySensor::removeLink()
{
    if (!m_linkMade)
        return;
    m_linkMade = false;
    // Only remove the link while it still points at this sensor's terminal.
    const QByteArray link = QFile::encodeName(m_options.linkPath);
    char target[4096];
    const ssize_t length = ::readlink(link.constData(), target, sizeof target - 1);
    if (length > 0 && QByteArray(target, int(length)) == QFile::encodeName(m_slavePath))
        ::unlink(link.constData());
}

int PtySensor::lineRate() const
{
    struct termios settings = {};
    if (::tcgetattr(m_master, &settings) != 0)
        return 0;
    return rateOfSpeed(::cfgetospeed(&settings));
}

void PtySensor::log(const QString &text) const
{
    if (!m_options.verbose)
        return;
    const QByteArray line = (QTime::currentTime().toString(QStringLiteral("hh:mm:ss.zzz")) + QLatin1Char(' ')
                             + text + QLatin1Char('\n')).toLocal8Bit();
    std::fputs(line.constData(), stderr);
    std::fflush(stderr);
}

void PtySensor::readRequests()
{
    QByteArray chunk;
    char buffer[512];
    for (;;) {
        const ssize_t got = ::read(m_master, buffer, sizeof buffer);
        if (got > 0) {
            chunk.append(buffer, int(got));
            continue;
        }
        if (got < 0 && errno == EINTR)
            continue;
        break;
    }
    if (chunk.isEmpty())
        return;

    const int rate = lineRate();
    if (rate != m_model.baudRate()) {
        // At a different speed the device would only see noise.
        m_framer.clear();
        m_silenceTimer.stop();
        log(QStringLiteral("rx %1 (line at %2 baud, device at %3: discarded)")
                .arg(hexText(chunk)).arg(rate).arg(m_model.baudRate()));
        return;
    }

    const RequestFramer::Result result = m_framer.feed(chunk, m_clock.elapsed());
    if (result.discarded > 0)
        log(QStringLiteral("skipped %1 byte(s) that start no valid request").arg(result.discarded));
    for (const SensorRequest &request : result.requests) {
        const SensorOutcome outcome = m_model.handle(request);
        m_framer.setDeviceAddress(m_model.address());
        log(QStringLiteral("rx %1%2").arg(hexText(request.bytes),
                                          outcome.note.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(outcome.note)));
        schedule(outcome);
    }
    if (m_framer.hasPartial())
        m_silenceTimer.start();
    else
        m_silenceTimer.stop();
}

void PtySensor::dropStalePartial()
{
    const int dropped = m_framer.expire(m_clock.elapsed());
    if (dropped > 0)
        log(QStringLiteral("dropped %1 byte(s) of an unfinished request after silence").arg(dropped));
    else if (m_framer.hasPartial())
        m_silenceTimer.start();
}

void PtySensor::schedule(const SensorOutcome &outcome)
{
    if (outcome.reply.isEmpty() && outcome.newBaudRate == 0)
        return;
    const qint64 now = m_clock.elapsed();
    const FaultedReply faulted = m_faults.apply(outcome.reply);
    // The device answers in order: a late reply holds back the ones after it.
    const qint64 due = std::max(now + m_options.delayMs + faulted.lateMs, m_lastDueMs);

    Outgoing first;
    first.dueMs = due;
    if (faulted.dropped) {
        first.label = QStringLiteral("reply dropped: %1").arg(hexText(outcome.reply));
    } else {
        first.bytes = faulted.cut > 0 ? faulted.bytes.left(faulted.cut) : faulted.bytes;
        first.label = QStringLiteral("tx %1").arg(hexText(first.bytes));
        if (faulted.corruptedByte >= 0)
            first.label += QStringLiteral(" (bit %1 of byte %2 flipped)").arg(faulted.corruptedBit).arg(faulted.corruptedByte);
        if (faulted.cut > 0)
            first.label += QStringLiteral(" (first part)");
        if (faulted.lateMs > 0)
            first.label += QStringLiteral(" (%1 ms late)").arg(faulted.lateMs);
    }
    m_lastDueMs = due;
    if (!faulted.dropped && faulted.cut > 0) {
        Outgoing second;
        second.dueMs = due + SplitGapMs;
        second.bytes = faulted.bytes.mid(faulted.cut);
        second.label = QStringLiteral("tx %1 (second part)").arg(hexText(second.bytes));
        second.newBaudRate = outcome.newBaudRate;
        m_queue.append(first);
        m_queue.append(second);
        m_lastDueMs = second.dueMs;
    } else {
        first.newBaudRate = outcome.newBaudRate;
        m_queue.append(first);
    }
    armSendTimer();
}

void PtySensor::armSendTimer()
{
    if (m_queue.isEmpty())
        return;
    const qint64 wait = m_queue.first().dueMs - m_clock.elapsed();
    m_sendTimer.start(int(std::max<qint64>(0, wait)));
}

void PtySensor::sendDueReplies()
{
    while (!m_queue.isEmpty() && m_queue.first().dueMs <= m_clock.elapsed()) {
        const Outgoing piece = m_queue.takeFirst();
        if (!piece.bytes.isEmpty()) {
            const int rate = lineRate();
            if (rate != m_model.baudRate())
                log(QStringLiteral("%1 (lost: line at %2 baud, device at %3)").arg(piece.label).arg(rate).arg(m_model.baudRate()));
            else if (writeToLine(piece.bytes))
                log(piece.label);
            else
                log(QStringLiteral("%1 (write failed)").arg(piece.label));
        } else {
            log(piece.label);
        }
        if (piece.newBaudRate != 0) {
            m_model.setBaudRate(piece.newBaudRate);
            log(QStringLiteral("device now at %1 baud").arg(piece.newBaudRate));
        }
    }
    armSendTimer();
}

bool PtySensor::writeToLine(const QByteArray &bytes)
{
    int done = 0;
    while (done < bytes.size()) {
        const ssize_t written = ::write(m_master, bytes.constData() + done, size_t(bytes.size() - done));
        if (written > 0) {
            done += int(written);
            continue;
        }
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0 && errno == EAGAIN) {
            struct pollfd wait = {m_master, POLLOUT, 0};
            if (::poll(&wait, 1, 200) <= 0)
                return false;
            continue;
        }
        return false;
    }
    return true;
}

void PtySensor::drift()
{
    m_model.step();
}
