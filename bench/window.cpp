// zelvik-bench: the tool's own window, set up the way main() sets it up, measured against the
// simulated sensor.
//   zelvik-bench response SIM PRESSES  time from a press of "ReadResult" to the measurement line shown
//   zelvik-bench idle SIM SECONDS BARE CPU time with the port open and nothing happening, beside
//                                      the bare program (BARE --idle SECONDS) run at the same time
// With ZELVIK_BENCH_SHORT set (as ctest runs it) at most 4 presses after 1 unmeasured one, or 1 s idle.
#include "fonts.h"
#include "mainwindow.h"
#include "shortrun.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPlainTextEdit>
#include <QProcess>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <sys/resource.h>

namespace {

// Line time of one byte at 9600 baud, 8N1 (start bit, 8 data bits, stop bit), in ms.
constexpr double ByteMs = 10.0 * 1000.0 / 9600.0;
constexpr int PollMs = 300;
constexpr int RequestBytes = 8, ReplyBytes = 13; // the measurement query and its reply

double cpuMs()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

void wait(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Runs the event loop until done() holds or timeoutMs passed.
bool waitFor(const std::function<bool()> &done, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    QTimer wakeUp; // bounds each blocking wait so the time-out is seen
    wakeUp.start(5);
    while (!done() && clock.elapsed() < timeoutMs)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return done();
}

double percentile(std::vector<double> values, double p)
{
    std::sort(values.begin(), values.end());
    const double rank = p * double(values.size() - 1);
    const size_t low = size_t(rank);
    const size_t high = std::min(low + 1, values.size() - 1);
    return values[low] + (values[high] - values[low]) * (rank - double(low));
}

// The simulated sensor on a pseudo-terminal, faultless; delayMs stands in for the line time that a
// pseudo-terminal does not impose.
QString startSimulator(QProcess &simulator, const QString &program, int delayMs)
{
    simulator.start(program, {QStringLiteral("--delay"), QString::number(delayMs)});
    if (!simulator.waitForStarted() || !waitFor([&] { return simulator.canReadLine(); }, 5000))
        return QString();
    return QString::fromLocal8Bit(simulator.readLine()).trimmed();
}

// As `zelvikconfig --port PORT --baud 9600` shows the port, then a press of Open.
bool openPort(MainWindow &window, const QString &port)
{
    QString error;
    if (!window.preselect(port, 9600, &error)) {
        std::fprintf(stderr, "cannot choose %s: %s\n", qPrintable(port), qPrintable(error));
        return false;
    }
    window.findChild<QAbstractButton *>(QStringLiteral("pushButtonOpen"))->click();
    return window.findChild<QAbstractButton *>(QStringLiteral("pushButtonClose"))->isEnabled();
}

int response(MainWindow &window, const QString &simulatorProgram, int presses)
{
    const double lineMs = (RequestBytes + ReplyBytes) * ByteMs;
    QProcess simulator;
    const QString port = startSimulator(simulator, simulatorProgram, int(std::lround(lineMs)));
    if (port.isEmpty() || !openPort(window, port)) {
        std::fprintf(stderr, "cannot start the simulator or open its port\n");
        return 1;
    }
    auto *log = window.findChild<QPlainTextEdit *>(QStringLiteral("textEditPM"));
    auto *clear = window.findChild<QAbstractButton *>(QStringLiteral("pushButton"));
    auto *query = window.findChild<QAbstractButton *>(QStringLiteral("pushButton_GetSensorData"));
    if (log == nullptr || clear == nullptr || query == nullptr) {
        std::fprintf(stderr, "the window has no log pane textEditPM (a QPlainTextEdit), button pushButton or "
                             "button pushButton_GetSensorData\n");
        return 1;
    }
    QElapsedTimer clock;
    qint64 shownAt = -1;
    // The line is appended inside the poll tick; this records the moment it is there to be painted.
    QObject::connect(log, &QPlainTextEdit::textChanged, [&] {
        if (shownAt < 0 && log->toPlainText().contains(QLatin1String("All Sensor")))
            shownAt = clock.nsecsElapsed();
    });

    const int unmeasured = Bench::shortRun() ? 1 : 5;
    presses = Bench::sized(presses, 4);
    if (Bench::shortRun())
        std::printf("short run: %d presses after %d unmeasured; too few for figures\n", presses, unmeasured);
    std::mt19937 random(1);
    std::vector<double> times;
    int lost = 0;
    for (int i = -unmeasured; i < presses; ++i) { // unmeasured presses first
        wait(std::uniform_int_distribution<int>(0, PollMs - 1)(random)); // any phase of the poll
        clear->click();
        shownAt = -1;
        clock.start();
        query->click();
        // shownAt is set by the log's change handler while waitFor runs the event loop.
        // cppcheck-suppress knownConditionTrueFalse
        if (!waitFor([&] { return shownAt >= 0; }, 3000)) {
            ++lost;
            continue;
        }
        if (i >= 0)
            times.push_back(shownAt / 1e6);
    }
    simulator.terminate();
    simulator.waitForFinished(3000);
    if (times.empty())
        return 1;

    // Floor: the reply is complete after the line time; the poll then reads it after a wait that is
    // uniform over one period, so median = line + period/2 and 95th percentile = line + 0.95 period.
    const double floorMedian = lineMs + PollMs * 0.5, floor95 = lineMs + PollMs * 0.95;
    const double median = percentile(times, 0.5), p95 = percentile(times, 0.95);
    std::printf("response over %zu presses (%d lost): median %.1f ms, 95th percentile %.1f ms, min %.1f, max %.1f\n",
                times.size(), lost, median, p95, percentile(times, 0), percentile(times, 1));
    std::printf("response floor (300 ms poll + %.1f ms line time of %d+%d bytes at 9600 baud): median %.1f ms, "
                "95th percentile %.1f ms\n", lineMs, RequestBytes, ReplyBytes, floorMedian, floor95);
    std::printf("response ratio (measured/floor): median %.3f, 95th percentile %.3f\n", median / floorMedian, p95 / floor95);
    return 0;
}

int idle(MainWindow &window, const QString &simulatorProgram, int seconds, const QString &bareProgram)
{
    QProcess simulator, bare;
    const QString port = startSimulator(simulator, simulatorProgram, 0);
    if (port.isEmpty() || !openPort(window, port)) {
        std::fprintf(stderr, "cannot start the simulator or open its port\n");
        return 1;
    }
    seconds = Bench::sized(seconds, 1);
    if (Bench::shortRun())
        std::printf("short run: %d s idle; too short for figures\n", seconds);
    bare.start(bareProgram, {QStringLiteral("--idle"), QString::number(seconds)});
    // Both settle for one second, then count the same stretch of time.
    wait(1000);
    const double start = cpuMs();
    wait(seconds * 1000);
    const double used = cpuMs() - start;
    const bool portOpen = window.findChild<QAbstractButton *>(QStringLiteral("pushButtonClose"))->isEnabled();
    bare.waitForFinished(10000);
    const QByteArray bareOutput = bare.readAllStandardOutput();
    const double bareUsed = bareOutput.startsWith("cpu_ms=") ? bareOutput.mid(7).trimmed().toDouble() : -1;
    simulator.terminate();
    simulator.waitForFinished(3000);
    if (!portOpen || bareUsed < 0) {
        std::fprintf(stderr, "the port closed during the run, or the bare program gave no figure\n");
        return 1;
    }
    std::printf("idle over %d s: window with the port open %.1f ms CPU (%.3f%% of one core, %.3f ms per poll tick); "
                "bare window %.1f ms CPU\n", seconds, used, used / (seconds * 10.0), used / (seconds * 1000.0 / PollMs), bareUsed);
    std::printf("idle ratio (window/bare): %.2f\n", used / std::max(bareUsed, 0.1));
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    installFormFonts();
    const QStringList args = QApplication::arguments();
    const QString mode = args.value(1);
    const bool known = (mode == QLatin1String("response") && args.size() == 4) || (mode == QLatin1String("idle") && args.size() == 5);
    if (!known || args.at(3).toInt() < 1) { // at least one press or second
        std::fprintf(stderr, "usage: zelvik-bench response SIM PRESSES | idle SIM SECONDS BARE\n");
        return 2;
    }
    MainWindow window;
    window.show();
    return mode == QLatin1String("response") ? response(window, args.at(2), args.at(3).toInt())
                                             : idle(window, args.at(2), args.at(3).toInt(), args.at(4));
}
