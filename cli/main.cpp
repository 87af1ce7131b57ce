// zelvikctl: every command of ZelvikConfig from the command line, for scripts, logging and
// production lines.

#include "invocation.h"
#include "results.h"
#include "runner.h"
#include "seriallink.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>

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

void complain(const QString &message)
{
    std::fprintf(stderr, "zelvikctl: %s\n", message.toUtf8().constData());
}

// A failure before the run starts; with --json it is printed as JSON on standard output too.
int fail(const Invocation &inv, int status, const QString &message)
{
    const Result r = failed(inv.command, {status, message, QByteArray(), QString()});
    if (inv.options.json)
        out(printed(r, true));
    complain(r.text);
    return status;
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

bool catchStopSignals(Runner &runner)
{
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    auto *notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &runner);
    QObject::connect(notifier, &QSocketNotifier::activated, &runner, [&runner] {
        char byte = 0;
        while (::read(signalPipe[0], &byte, 1) > 0) {
        }
        runner.stop();
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
        if (parsed.invocation.options.json)
            out(printed(failed(parsed.invocation.command, {ExitUsage, parsed.text, QByteArray(), QString()}), true));
        std::fprintf(stderr, "zelvikctl: %s\n%s\nTry 'zelvikctl --help' for more information.\n",
                     parsed.text.toUtf8().constData(), usageLine().toUtf8().constData());
        return ExitUsage;
    case Parsed::Run:
        break;
    }

    const Invocation &inv = parsed.invocation;
    SerialLink link;
    if (!link.open(inv.options.port, inv.options.baud)) {
        // The window's sentence, begun in lower case like every other message of the program.
        QString message = link.openFailure();
        message[0] = message.at(0).toLower();
        return fail(inv, ExitPort, message);
    }
    Runner runner(inv, link);
    QObject::connect(&runner, &Runner::output, &out);
    QObject::connect(&runner, &Runner::complaint, &complain);
    QObject::connect(&runner, &Runner::finished, &QCoreApplication::exit);
    if (inv.action == Action::Monitor && !catchStopSignals(runner))
        return fail(inv, ExitPort, QStringLiteral("cannot catch SIGINT and SIGTERM"));
    // From inside the event loop, so that a run that ends at once still ends it.
    QTimer::singleShot(0, &runner, &Runner::start);
    return QCoreApplication::exec();
}
