// zelvik-bench-cli: the figures of zelvikctl.
//   roundtrip SIMULATOR COUNT     COUNT measurement reads in one process through zelvikctl's
//                                 session, against the simulator at 9600 baud with --delay 22 (the
//                                 line time of request and reply, which a pseudo-terminal lacks);
//                                 median and spread beside the 21.9 ms floor.
//   monitor ZELVIKCTL SIMULATOR S `zelvikctl --json monitor --interval 0.1` for S seconds: readings
//                                 per second and the drift of its schedule, from the times it printed.
//   startup RUNS PROGRAM...       start to exit of each program (arguments after a '+' in its
//                                 text, e.g. "zelvikctl+--version"), RUNS times in turn, median.
#include "invocation.h"
#include "seriallink.h"
#include "sessionpump.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <algorithm>
#include <iterator>
#include <cmath>
#include <cstdio>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

namespace {

// 8 request bytes and 13 reply bytes of 10 bits each at 9600 baud.
constexpr double FloorMs = (8 + 13) * 10 * 1000.0 / 9600;

double quantile(std::vector<double> values, double q)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[size_t(std::lround(q * double(values.size() - 1)))];
}

// The simulator, ended when it goes out of scope.
struct Simulator : QProcess {
    ~Simulator() override
    {
        terminate();
        waitForFinished(3000);
    }
};

// The simulator's terminal, or empty.
QString startSimulator(QProcess &sim, const QString &program, const QStringList &options)
{
    sim.start(program, options);
    if (!sim.waitForReadyRead(5000))
        return QString();
    return QString::fromLocal8Bit(sim.readLine()).trimmed();
}

int roundTrip(const QString &simulator, int count)
{
    Simulator sim;
    Cli::Options options;
    options.port = startSimulator(sim, simulator, {QStringLiteral("--delay"), QStringLiteral("22")});
    SerialLink link;
    if (options.port.isEmpty() || !link.open(options.port, options.baud)) {
        std::fprintf(stderr, "roundtrip: %s\n", options.port.isEmpty() ? "simulator did not start" : qPrintable(link.openFailure()));
        return 1;
    }
    // The reads go out one after the other from the event loop, as zelvikctl sends them; the first
    // one sets up the line and is not counted.
    SessionPump pump(link);
    pump.session().setRetries(0);
    const QByteArray request = Cli::readRequest(options, 0);
    std::vector<double> ms;
    ms.reserve(size_t(count));
    QElapsedTimer clock;
    int reads = -1;
    auto ask = [&] {
        clock.start();
        pump.query(SensorSession::Query::pendingSensorData, request);
    };
    QObject::connect(&pump.session(), &SensorSession::answered, [&] {
        const double took = double(clock.nsecsElapsed()) / 1e6;
        if (reads++ >= 0)
            ms.push_back(took);
        if (reads == count)
            QCoreApplication::exit(0);
        else
            QMetaObject::invokeMethod(&pump, ask, Qt::QueuedConnection);
    });
    QObject::connect(&pump.session(), &SensorSession::noAnswer, [&] {
        std::fprintf(stderr, "roundtrip: read %d got no answer\n", reads);
        QCoreApplication::exit(1);
    });
    ask();
    if (QCoreApplication::exec() != 0)
        return 1;
    const double median = quantile(ms, 0.5);
    std::printf("zelvikctl read round trip at 9600 baud, simulator --delay 22, %d reads in one process: "
                "median %.2f ms (min %.2f, p90 %.2f, max %.2f); floor %.1f ms; median/floor %.3f\n",
                count, median, quantile(ms, 0), quantile(ms, 0.9), quantile(ms, 1), FloorMs, median / FloorMs);
    return 0;
}

int monitor(const QString &ctl, const QString &simulator, int seconds)
{
    Simulator sim;
    const QString port = startSimulator(sim, simulator, {QStringLiteral("--delay"), QStringLiteral("22")});
    if (port.isEmpty()) {
        std::fprintf(stderr, "monitor: simulator did not start\n");
        return 1;
    }
    const int count = seconds * 10;
    QProcess run;
    run.start(ctl, {QStringLiteral("--port"), port, QStringLiteral("--json"), QStringLiteral("monitor"),
                    QStringLiteral("--interval"), QStringLiteral("0.1"), QStringLiteral("--count"), QString::number(count)});
    if (!run.waitForFinished((seconds + 30) * 1000) || run.exitCode() != 0) {
        std::fprintf(stderr, "monitor: zelvikctl failed: %s\n", run.readAllStandardError().constData());
        return 1;
    }
    std::vector<qint64> times;
    for (const QByteArray &line : run.readAllStandardOutput().split('\n')) {
        const QJsonObject o = QJsonDocument::fromJson(line).object();
        if (!o.isEmpty())
            times.push_back(QDateTime::fromString(o.value(QLatin1String("time")).toString(), Qt::ISODateWithMs).toMSecsSinceEpoch());
    }
    if (times.size() != size_t(count)) {
        std::fprintf(stderr, "monitor: %zu readings instead of %d\n", times.size(), count);
        return 1;
    }
    const double span = double(times.back() - times.front());
    const double planned = 100.0 * (count - 1);
    double worst = 0; // the latest reading behind its slot, beyond the first one's lateness
    for (size_t k = 0; k < times.size(); ++k)
        worst = std::max(worst, double(times[k] - times.front()) - 100.0 * double(k));
    std::printf("zelvikctl monitor --interval 0.1 for %d s (simulator --delay 22): %zu readings, %.3f readings/s; "
                "first to last %.0f ms against %.0f ms planned, drift %+.3f %%; latest reading %.0f ms behind its slot\n",
                seconds, times.size(), 1000.0 * double(count - 1) / span, span, planned, 100.0 * (span - planned) / planned,
                worst);
    return 0;
}

double runOnce(const QStringList &command)
{
    std::vector<QByteArray> storage;
    std::vector<char *> argv;
    storage.reserve(size_t(command.size()));
    argv.reserve(size_t(command.size()) + 1);
    std::transform(command.begin(), command.end(), std::back_inserter(storage),
                   [](const QString &part) { return part.toLocal8Bit(); });
    std::transform(storage.begin(), storage.end(), std::back_inserter(argv), [](QByteArray &part) { return part.data(); });
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    QElapsedTimer clock;
    clock.start();
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
        return -1;
    int status = 0;
    waitpid(pid, &status, 0);
    const double ms = double(clock.nsecsElapsed()) / 1e6;
    posix_spawn_file_actions_destroy(&actions);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? ms : -1;
}

int startup(int runs, const QStringList &programs)
{
    std::vector<std::vector<double>> ms(size_t(programs.size()));
    for (int i = 0; i <= runs; ++i) { // run 0 fills the file caches and is not counted
        for (int p = 0; p < programs.size(); ++p) {
            const double took = runOnce(programs.at(p).split(QLatin1Char('+')));
            if (took < 0) {
                std::fprintf(stderr, "startup: %s failed\n", qPrintable(programs.at(p)));
                return 1;
            }
            if (i > 0)
                ms[size_t(p)].push_back(took);
        }
    }
    for (int p = 0; p < programs.size(); ++p) {
        std::printf("start to exit of %s: median %.2f ms (min %.2f, max %.2f) over %d runs\n",
                    qPrintable(programs.at(p).split(QLatin1Char('+')).join(QLatin1Char(' '))), quantile(ms[size_t(p)], 0.5),
                    quantile(ms[size_t(p)], 0), quantile(ms[size_t(p)], 1), runs);
    }
    if (programs.size() == 2)
        std::printf("start to exit ratio (first/second): %.2f\n", quantile(ms[0], 0.5) / quantile(ms[1], 0.5));
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    const QString mode = args.value(1);
    if (mode == QLatin1String("roundtrip") && args.size() == 4)
        return roundTrip(args.at(2), args.at(3).toInt());
    if (mode == QLatin1String("monitor") && args.size() == 5)
        return monitor(args.at(2), args.at(3), args.at(4).toInt());
    if (mode == QLatin1String("startup") && args.size() >= 4)
        return startup(args.at(2).toInt(), args.mid(3));
    std::fprintf(stderr, "usage: %s roundtrip SIMULATOR COUNT | monitor ZELVIKCTL SIMULATOR SECONDS | "
                         "startup RUNS PROGRAM[+ARG...]...\n", argv[0]);
    return 2;
}
