// zelvik-bench-chart: the Measurements window fed with a synthetic session at the fastest
// schedule, about three readings a second spread over the average and the four units (15 series).
//   zelvik-bench-chart HOURS WIDTH
// Prints the window's resident memory before and after the readings, the time of a full redraw
// of the whole session on a canvas WIDTH pixels wide (per-column envelope), the same drawing with
// every point as a plain curve for comparison, and the time of the CSV export.
// With ZELVIK_BENCH_SHORT set (as ctest runs it) at most 1 hour and 3 redraws.
#include "envelopecurve.h"
#include "measurementswindow.h"
#include "residentmemory.h"
#include "sensorsession.h"
#include "sessionline.h"
#include "shortrun.h"

#include <QApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>

#include <qwt_plot.h>
#include <qwt_plot_canvas.h>
#include <qwt_plot_curve.h>
#include <qwt_plot_renderer.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <vector>

namespace {

// A line that is never open: the benchmark feeds readings, it sends nothing.
class ClosedLine : public SessionLine
{
public:
    bool isOpen() const override { return false; }
    bool write(const QByteArray &, QString *) override { return false; }
    bool setBaudRate(qint32) override { return true; }
    qint32 baudRate() const override { return 9600; }
};

// Lets the window be shown, laid out and painted.
void settle()
{
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

// Median and highest time of count full redraws of the plot's canvas: every item drawn into an
// image of the canvas's size, as the canvas paints its backing store, whatever the platform.
std::pair<double, double> redraws(QwtPlot *plot, int count)
{
    plot->updateAxes();
    QImage image(plot->canvas()->size(), QImage::Format_ARGB32_Premultiplied);
    std::vector<double> times;
    for (int i = 0; i < count; ++i) {
        image.fill(Qt::white);
        QPainter painter(&image);
        QElapsedTimer clock;
        clock.start();
        plot->drawCanvas(&painter);
        times.push_back(clock.nsecsElapsed() / 1e6);
    }
    return {median(times), *std::max_element(times.begin(), times.end())};
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: zelvik-bench-chart HOURS WIDTH\n");
        return 2;
    }
    const int hours = Bench::sized(QByteArray(argv[1]).toInt(), 1);
    const int width = QByteArray(argv[2]).toInt();
    const int redrawCount = Bench::sized(20, 3);

    ClosedLine line;
    SensorSession session(&line);
    qint64 clock = 0;
    MeasurementsWindow window(session, line, [&clock] { return clock; });
    window.show();
    // The canvas gets the width asked for; the rest of the window comes on top.
    for (int i = 0; i < 3 && window.plot()->canvas()->width() != width; ++i) {
        window.resize(width + (window.width() - window.plot()->canvas()->width()), 700);
        settle();
    }
    window.plot()->replot(); // the canvas's backing store is part of the empty window
    settle();
    const qint64 emptyKb = residentKb();

    // Three readings a second, one target after the other; one in a hundred gets no answer.
    std::mt19937 random(20240501);
    std::normal_distribution<float> step(0.0f, 0.3f);
    float level[ReadingStore::Targets] = {35, 25, 42, 46, 30};
    const qint64 start = QDateTime::currentMSecsSinceEpoch() - qint64(hours) * 3600 * 1000;
    const int count = hours * 3600 * 3;
    QElapsedTimer feeding;
    feeding.start();
    for (int i = 0; i < count; ++i) {
        const qint64 t = start + qint64(i) * 1000 / 3;
        const int target = i % ReadingStore::Targets;
        if (random() % 100 == 0) {
            window.addGap(t, target);
            continue;
        }
        level[target] = std::clamp(level[target] + step(random), 1.0f, 900.0f);
        Values::Measurement value;
        value.pm25 = qRound(level[target] * 10) / 10.0f;
        value.pm10 = qRound(level[target] * 14) / 10.0f;
        value.pm100 = quint16(level[target] * 1.8f);
        window.addReading(t, target, value);
    }
    const double feedMs = feeding.nsecsElapsed() / 1e6;
    QCoreApplication::processEvents();
    window.plot()->setAxisAutoScale(QwtPlot::xBottom, true);
    window.plot()->replot();
    QCoreApplication::processEvents();
    const qint64 fullKb = residentKb();
    const ReadingStore &store = window.store();
    std::printf("chart: %d h at 3 readings/s over 5 targets (15 series): %d readings, %d gaps, fed in %.1f s "
                "(%.1f µs a reading)\n",
                hours, store.readings(), store.gaps(), feedMs / 1000, feedMs * 1000 / count);
    std::printf("chart memory: empty window %lld kB, after %d h %lld kB: growth %.1f MB\n", emptyKb, hours, fullKb,
                (fullKb - emptyKb) / 1024.0);

    const int canvas = window.plot()->canvas()->width();
    const auto envelope = redraws(window.plot(), redrawCount);
    int drawn = 0;
    for (int target = 0; target < ReadingStore::Targets; ++target)
        for (int size = 0; size < ReadingStore::Sizes; ++size)
            drawn += window.curve(target, ReadingStore::Size(size))->drawnPoints().size();
    std::printf("chart redraw of %d h on a %d-pixel canvas (min/max per column, %d points drawn): median %.1f ms, "
                "max %.1f ms over %d\n",
                hours, canvas, drawn, envelope.first, envelope.second, redrawCount);

    // The same chart with every reading as a point of a plain curve.
    QwtPlot plain;
    plain.resize(window.plot()->size());
    for (int target = 0; target < ReadingStore::Targets; ++target) {
        for (int size = 0; size < ReadingStore::Sizes; ++size) {
            QVector<QPointF> points;
            for (int i = 0; i < store.readings(); ++i) {
                const ReadingStore::Entry e = store.reading(i);
                if (e.target == target && !e.gap)
                    points.append(QPointF(e.timeMs, ReadingStore::valueOf(e.value, ReadingStore::Size(size))));
            }
            auto *curve = new QwtPlotCurve;
            curve->setSamples(points);
            curve->setPen(QColor(Qt::darkBlue), 0, size == 0 ? Qt::SolidLine : size == 1 ? Qt::DashLine : Qt::DotLine);
            curve->attach(&plain);
        }
    }
    plain.show();
    settle();
    if (!plain.canvas()->isVisible() || plain.canvas()->width() < width / 2)
        std::printf("chart: the plain plot was not shown\n");
    const qint64 plainKb = residentKb();
    const auto every = redraws(&plain, redrawCount);
    std::printf("chart redraw of %d h, every point as a plain Qwt curve (%d points): median %.1f ms, max %.1f ms "
                "over %d; its points take %.1f MB more\n",
                hours, ReadingStore::Sizes * (store.readings() - store.gaps()), every.first, every.second, redrawCount,
                (plainKb - fullKb) / 1024.0);

    QElapsedTimer exporting;
    exporting.start();
    const QByteArray csv = store.csv();
    std::printf("chart CSV of %d h: %d rows, %.1f MB in %.0f ms\n", hours, int(csv.count('\n')) - 1,
                csv.size() / 1048576.0, exporting.nsecsElapsed() / 1e6);
    return 0;
}
