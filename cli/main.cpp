// zelvikctl: every command of ZelvikConfig from the command line, for scripts, logging and
// production lines.

#include "baudprobe.h"
#include "hextext.h"
#include "invocation.h"
#include "link.h"
#include "results.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QSocketNotifier>

#include <cmath>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

using namespace Cli;

namespace {

void out(const QString &line)
{
    const QByteArray bytes = line.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout); // every row on its way at once: a monitor stopped by a signal loses none
}

int fail(int status, const QString &message)
{
    std::fprintf(stderr, "zelvikctl: %s\n", message.toUtf8().constData());
    return status;
}

QString why(const Link::Outcome &o)
{
    return o.notes.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(o.notes.join(QStringLiteral("; ")));
}

struct Problem {
    int status;
    QString message;
};

// The exit status and message of an exchange that brought no answer.
Problem problem(const Options &options, const Link::Outcome &o)
{
    switch (o.kind) {
    case Link::Outcome::Refused:
        return {ExitRefused, QStringLiteral("the device refused the request: %1").arg(exceptionText(o.frame))};
    case Link::Outcome::Other:
        return {ExitRefused,
                QStringLiteral("the device answered something else: %1").arg(formatHexBytes(o.frame).trimmed())};
    case Link::Outcome::PortLost:
        return {ExitPort, QStringLiteral("lost the port %1%2").arg(options.port, why(o))};
    default:
        return {ExitNoAnswer, QStringLiteral("no answer on %1 at %2 baud after %3 attempt(s)%4")
                                  .arg(options.port)
                                  .arg(options.baud)
                                  .arg(o.attempts)
                                  .arg(why(o))};
    }
}

int report(const Options &options, const Link::Outcome &o)
{
    const Problem p = problem(options, o);
    return fail(p.status, p.message);
}

int runExchange(Link &link, const Invocation &inv)
{
    QList<QByteArray> replies;
    for (const QByteArray &request : inv.requests) {
        const Link::Outcome o = link.exchange(request);
        if (o.kind != Link::Outcome::Answer)
            return report(inv.options, o);
        replies << o.frame;
    }
    out(printed(describe(inv, replies, QDateTime::currentDateTime()), inv.options.json));
    return ExitOk;
}

// Rounds of readings on a fixed schedule (start + n × interval), so late rounds do not push the
// later ones back; a round that overran skips the slots it missed.
int runMonitor(Link &link, const Invocation &inv)
{
    const Options &o = inv.options;
    if (inv.csv)
        out(csvHeader());
    const qint64 start = link.clock().elapsed();
    const double intervalMs = inv.intervalS * 1000.0;
    qint64 slot = 0;
    int status = ExitOk;
    for (qint64 round = 0; inv.count == 0 || round < inv.count; ++round) {
        for (int unit : inv.units) {
            const Link::Outcome reply = link.exchange(readRequest(o, unit));
            if (reply.kind == Link::Outcome::Stopped)
                return status;
            if (reply.kind == Link::Outcome::PortLost)
                return report(o, reply);
            const QDateTime now = QDateTime::currentDateTime();
            if (reply.kind != Link::Outcome::Answer) {
                const Problem p = problem(o, reply);
                fail(p.status, QStringLiteral("%1 unit %2: %3")
                                   .arg(isoTime(now), unit == 0 ? QStringLiteral("avg") : QString::number(unit), p.message));
                status = qMax(status, p.status);
                continue;
            }
            if (inv.csv) {
                out(csvRow(reply.frame, unit, now));
            } else {
                Result r = reading(reply.frame, unit, now);
                r.json[QStringLiteral("command")] = inv.command;
                out(printed(r, o.json));
            }
        }
        if (inv.count != 0 && round + 1 >= inv.count)
            break;
        const double elapsed = double(link.clock().elapsed() - start);
        slot = intervalMs > 0 ? qMax(slot + 1, qint64(std::ceil(elapsed / intervalMs))) : slot + 1;
        if (!link.waitUntil(start + std::llround(double(slot) * intervalMs)))
            break;
    }
    return status;
}

int runProbe(Link &link, const Invocation &inv)
{
    QStringList tried;
    for (quint8 step = 1; step <= 4; ++step) {
        const qint32 rate = BaudProbe::rateForStep(step);
        tried << QString::number(rate);
        if (!link.setBaudRate(rate))
            return fail(ExitPort, QStringLiteral("cannot set %1 to %2 baud").arg(inv.options.port).arg(rate));
        const Link::Outcome o = link.exchange(probeRequest(inv.options));
        if (o.kind == Link::Outcome::PortLost || o.kind == Link::Outcome::Stopped)
            return report(inv.options, o);
        if (o.kind == Link::Outcome::Answer && BaudProbe::isAnswer(o.frame)) {
            out(printed(probeAnswer(rate, o.frame), inv.options.json));
            return ExitOk;
        }
    }
    return fail(ExitNoAnswer, QStringLiteral("no answer on %1 at %2 baud").arg(inv.options.port, tried.join(QStringLiteral(", "))));
}

// SIGINT and SIGTERM end a monitor between two readings: the handler only writes to a pipe that
// the event loop watches.
// NOLINTNEXTLINE(cppcoreguidelines-avoid-non-const-global-variables): the signal handler can reach nothing else
int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
}

bool catchStopSignals(Link &link)
{
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    auto *notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &link);
    QObject::connect(notifier, &QSocketNotifier::activated, &link, [&link] {
        char byte = 0;
        while (::read(signalPipe[0], &byte, 1) > 0) {
        }
        link.stop();
    });
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    return ::sigaction(SIGINT, &action, nullptr) == 0 && ::sigaction(SIGTERM, &action, nullptr) == 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("zelvikctl"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ZELVIK_VERSION));

    const Parsed parsed = parse(QCoreApplication::arguments().mid(1), qEnvironmentVariable("ZELVIK_PORT"));
    switch (parsed.kind) {
    case Parsed::Help:
        std::fputs(parsed.text.toUtf8().constData(), stdout);
        return ExitOk;
    case Parsed::Version:
        out(QStringLiteral("zelvikctl " ZELVIK_VERSION));
        return ExitOk;
    case Parsed::Usage:
        std::fprintf(stderr, "zelvikctl: %s\n%s\nTry 'zelvikctl --help' for more information.\n",
                     parsed.text.toUtf8().constData(), usageLine().toUtf8().constData());
        return ExitUsage;
    case Parsed::Run:
        break;
    }

    const Invocation &inv = parsed.invocation;
    Link link(inv.options);
    QString message;
    if (!link.open(&message))
        return fail(ExitPort, message);
    switch (inv.action) {
    case Action::Monitor:
        if (!catchStopSignals(link))
            return fail(ExitPort, QStringLiteral("cannot catch SIGINT and SIGTERM"));
        return runMonitor(link, inv);
    case Action::Probe:
        return runProbe(link, inv);
    case Action::Exchange:
        break;
    }
    return runExchange(link, inv);
}
