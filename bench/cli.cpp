// zelvik-bench-cli: the figures of zelvikctl.
//   roundtrip ZELVIKCTL SIMULATOR COUNT
//                                 COUNT measurement reads back to back in one zelvikctl process
//                                 (`monitor --interval 0`), against the simulator at 9600 baud with
//                                 --delay 22 (the line time of request and reply, which a
//                                 pseudo-terminal lacks), each timed from one printed reading to the
//                                 next; median and spread beside the 21.9 ms floor.
//   monitor ZELVIKCTL SIMULATOR S `zelvikctl --json monitor --interval 0.1` for S seconds: readings
//                                 per second and the drift of its schedule, from the times it printed.
//   serve ZELVIKCTL SIMULATOR N S `zelvikctl serve --interval 1` over N simulators (--delay 22):
//                                 S seconds of readings alone, then S seconds with 100 scrapes of
//                                 /metrics a second, each on a fresh connection; CPU per sensor in
//                                 both, resident memory, and the scrapes' latency percentiles.
//   startup RUNS PROGRAM...       start to exit of each program (arguments after a '+' in its
//                                 text, e.g. "zelvikctl+--version"), RUNS times in turn, median.
// zelvikctl is measured from outside, as a script runs it. With ZELVIK_BENCH_SHORT set (as ctest
// runs it) at most 20 reads, 2 s of monitor, 2 sensors for 2 s of serve and 3 runs.
#include "shortrun.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QFile>
#include <QProcess>
#include <QHostAddress>
#include <QTcpSocket>
#include <QThread>

#include <algorithm>
#include <iterator>
#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

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

// A reading of `zelvikctl --json monitor`: a JSON object with its time.
bool isReading(const QByteArray &line)
{
    return QJsonDocument::fromJson(line).object().contains(QLatin1String("time"));
}

int roundTrip(const QString &ctl, const QString &simulator, int count)
{
    count = Bench::sized(count, 20);
    if (Bench::shortRun())
        std::printf("short run: %d reads; too few for figures\n", count);
    Simulator sim;
    const QString port = startSimulator(sim, simulator, {QStringLiteral("--delay"), QStringLiteral("22")});
    if (port.isEmpty()) {
        std::fprintf(stderr, "roundtrip: simulator did not start\n");
        return 1;
    }
    // The first reading also opens the port and sets up the line, and the last one may be seen only
    // as the process ends: count + 2 readings give count round trips between them.
    QProcess run;
    run.start(ctl, {QStringLiteral("--port"), port, QStringLiteral("--retries"), QStringLiteral("0"),
                    QStringLiteral("--json"), QStringLiteral("monitor"), QStringLiteral("--interval"),
                    QStringLiteral("0"), QStringLiteral("--count"), QString::number(count + 2)});
    QElapsedTimer clock;
    clock.start();
    std::vector<double> arrivedMs; // each reading, when it came out of the pipe
    // waitForReadyRead blocks without an event loop in between, so a line is stamped as it arrives.
    while (run.waitForReadyRead(5000)) {
        const double now = double(clock.nsecsElapsed()) / 1e6;
        while (run.canReadLine()) {
            if (isReading(run.readLine()))
                arrivedMs.push_back(now);
        }
    }
    // waitForFinished is false for a process that has already ended.
    const bool finished = run.state() == QProcess::NotRunning || run.waitForFinished(5000);
    while (run.canReadLine()) {
        if (isReading(run.readLine()))
            arrivedMs.push_back(double(clock.nsecsElapsed()) / 1e6);
    }
    if (!finished || run.exitStatus() != QProcess::NormalExit || run.exitCode() != 0
        || arrivedMs.size() != size_t(count) + 2) {
        std::fprintf(stderr, "roundtrip: zelvikctl gave %zu readings of %d (exit %d): %s\n", arrivedMs.size(), count + 2,
                     run.exitCode(), run.readAllStandardError().constData());
        return 1;
    }
    std::vector<double> ms;
    ms.reserve(size_t(count));
    for (size_t i = 1; i <= size_t(count); ++i)
        ms.push_back(arrivedMs[i] - arrivedMs[i - 1]);
    const double median = quantile(ms, 0.5);
    std::printf("zelvikctl read round trip at 9600 baud, simulator --delay 22, %d reads back to back in one process: "
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
    seconds = Bench::sized(seconds, 2);
    if (Bench::shortRun())
        std::printf("short run: %d s of monitor; too short for figures\n", seconds);
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

// CPU time (user + system) of a process so far, in milliseconds.
double cpuMs(qint64 pid)
{
    QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray stat = file.readAll();
    // The fields after the command name, which is in brackets and may hold blanks.
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    const double ticks = fields.value(11).toDouble() + fields.value(12).toDouble(); // utime, stime
    return ticks * 1000.0 / double(sysconf(_SC_CLK_TCK));
}

qint64 statusKb(qint64 pid, const char *field)
{
    QFile file(QStringLiteral("/proc/%1/status").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : file.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(int(qstrlen(field))).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

// One GET /metrics on a fresh connection: milliseconds from connect to the whole answer, or -1.
double scrape(quint16 port, QByteArray *answer)
{
    QElapsedTimer clock;
    clock.start();
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(2000))
        return -1;
    socket.write("GET /metrics HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n\r\n");
    answer->clear();
    while (socket.waitForReadyRead(2000))
        *answer += socket.readAll();
    *answer += socket.readAll();
    return answer->startsWith("HTTP/1.1 200") ? double(clock.nsecsElapsed()) / 1e6 : -1;
}

int serve(const QString &ctl, const QString &simulator, int sensors, int seconds)
{
    sensors = Bench::sized(sensors, 2);
    seconds = Bench::sized(seconds, 2);
    if (Bench::shortRun())
        std::printf("short run: %d sensors, %d s each phase; too short for figures\n", sensors, seconds);
    std::vector<std::unique_ptr<Simulator>> sims;
    QStringList args{QStringLiteral("serve"), QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0"),
                     QStringLiteral("--interval"), QStringLiteral("1")};
    for (int i = 0; i < sensors; ++i) {
        sims.push_back(std::make_unique<Simulator>());
        const QString port = startSimulator(*sims.back(), simulator, {QStringLiteral("--delay"), QStringLiteral("22"),
                                                                     QStringLiteral("--seed"), QString::number(i + 1)});
        if (port.isEmpty()) {
            std::fprintf(stderr, "serve: simulator %d did not start\n", i);
            return 1;
        }
        args << QStringLiteral("--port") << port;
    }
    Simulator run; // ended by SIGTERM like a simulator
    run.start(ctl, args);
    QByteArray said;
    QElapsedTimer wait;
    wait.start();
    while (!said.contains("/metrics") && wait.elapsed() < 10000 && run.waitForReadyRead(100))
        said += run.readAllStandardError();
    said += run.readAllStandardError();
    const int at = said.indexOf("127.0.0.1:");
    const quint16 port = at < 0 ? 0 : quint16(said.mid(at + 10, said.indexOf('/', at) - at - 10).toUInt());
    if (port == 0) {
        std::fprintf(stderr, "serve: zelvikctl serve did not start: %s\n", said.constData());
        return 1;
    }
    // Every sensor read at least once before the clock starts.
    QByteArray answer;
    while (wait.elapsed() < 20000) {
        scrape(port, &answer);
        const QList<QByteArray> lines = answer.split('\n');
        if (std::count_if(lines.begin(), lines.end(), [](const QByteArray &l) {
                return l.startsWith("zelvik_up{") && l.endsWith(" 1");
            }) == sensors)
            break;
        QThread::msleep(100);
    }
    const qint64 pid = run.processId();
    const double cpu0 = cpuMs(pid);
    QThread::msleep(ulong(seconds) * 1000);
    const double cpu1 = cpuMs(pid);
    std::vector<double> ms;
    QElapsedTimer clock;
    clock.start();
    int failed = 0;
    for (int i = 0; i < seconds * 100; ++i) {
        const qint64 due = qint64(i) * 10;
        if (clock.elapsed() < due)
            QThread::msleep(ulong(due - clock.elapsed()));
        const double took = scrape(port, &answer);
        if (took < 0)
            ++failed;
        else
            ms.push_back(took);
    }
    const double rate = 1000.0 * double(seconds * 100) / double(clock.elapsed());
    const double cpu2 = cpuMs(pid);
    const int readings = answer.count("zelvik_particulate_matter_micrograms_per_cubic_meter{");
    const qint64 rss = statusKb(pid, "VmRSS:");
    const qint64 peak = statusKb(pid, "VmHWM:");
    const double idleShare = (cpu1 - cpu0) / (10.0 * seconds) / sensors; // % of a core per sensor
    const double loadShare = (cpu2 - cpu1) / (10.0 * seconds * (double(clock.elapsed()) / 1000.0 / seconds)) / sensors;
    std::printf("zelvikctl serve, %d sensors at --interval 1 (5 targets each, simulator --delay 22), %d s: "
                "CPU %.3f %% of a core per sensor; resident memory %lld kB (peak %lld kB)\n",
                sensors, seconds, idleShare, rss, peak);
    std::printf("zelvikctl serve with %.1f scrapes/s of /metrics (%d series of readings), %zu scrapes, %d failed: "
                "median %.2f ms, p99 %.2f ms, max %.2f ms; CPU %.3f %% of a core per sensor\n",
                rate, readings, ms.size(), failed, quantile(ms, 0.5), quantile(ms, 0.99), quantile(ms, 1), loadShare);
    return failed == 0 && readings > 0 ? 0 : 1;
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
    runs = Bench::sized(runs, 3);
    if (Bench::shortRun())
        std::printf("short run: %d runs of each; too few for figures\n", runs);
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
    // Each size is at least 1 (the monitor needs two readings for a rate).
    if (mode == QLatin1String("roundtrip") && args.size() == 5 && args.at(4).toInt() >= 1)
        return roundTrip(args.at(2), args.at(3), args.at(4).toInt());
    if (mode == QLatin1String("monitor") && args.size() == 5 && args.at(4).toInt() >= 1)
        return monitor(args.at(2), args.at(3), args.at(4).toInt());
    if (mode == QLatin1String("serve") && args.size() == 6 && args.at(4).toInt() >= 1 && args.at(5).toInt() >= 1)
        return serve(args.at(2), args.at(3), args.at(4).toInt(), args.at(5).toInt());
    if (mode == QLatin1String("startup") && args.size() >= 4 && args.at(2).toInt() >= 1)
        return startup(args.at(2).toInt(), args.mid(3));
    std::fprintf(stderr, "usage: %s roundtrip ZELVIKCTL SIMULATOR COUNT | monitor ZELVIKCTL SIMULATOR SECONDS | "
                         "serve ZELVIKCTL SIMULATOR SENSORS SECONDS | startup RUNS PROGRAM[+ARG...]...\n", argv[0]);
    return 2;
}
