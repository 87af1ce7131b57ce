#include "envelopecurve.h"

#include <qwt_scale_map.h>

#include <cmath>
#include <limits>

// The envelope of the last redraw as the curve's samples; the bounds for autoscaling come from
// the whole series.
class EnvelopeCurve::Data : public QwtSeriesData<QPointF>
{
public:
    static constexpr double MinimumSpanMs = 60 * 1000;

    Data(const ReadingStore &store, int target, ReadingStore::Size size)
        : store(store), target(target), series(size)
    {
    }
    size_t size() const override { return size_t(points.size()); }
    QPointF sample(size_t i) const override { return points.at(int(i)); }
    QRectF boundingRect() const override
    {
        const ReadingStore::Bounds b = store.bounds(target, series);
        if (!b.valid)
            return QRectF(1.0, 1.0, -2.0, -2.0); // Qwt's "no bounds"
        // Qwt widens an interval of no width by half its value, which for a time in milliseconds
        // since 1970 is decades: the first readings are shown in a minute around them instead.
        double first = double(b.firstMs);
        double last = double(b.lastMs);
        if (last - first < MinimumSpanMs) {
            const double middle = (first + last) / 2;
            first = middle - MinimumSpanMs / 2;
            last = middle + MinimumSpanMs / 2;
        }
        return QRectF(QPointF(first, double(b.min)), QPointF(last, double(b.max)));
    }

    void rebuild(double fromMs, double toMs, int columns)
    {
        points.clear();
        if (!(toMs > fromMs) || columns < 1)
            return;
        // One column more on each side, so that the line runs on to the edge of the canvas.
        const double width = (toMs - fromMs) / columns;
        const qint64 from = qint64(std::floor(fromMs - width));
        const qint64 to = qint64(std::ceil(toMs + width));
        const int count = columns + 2;
        const QVector<ReadingStore::Column> envelope = store.envelope(target, series, from, to, count);
        const double step = double(to - from) / count;
        const double nan = std::numeric_limits<double>::quiet_NaN();
        for (int c = 0; c < envelope.size(); ++c) {
            const ReadingStore::Column &column = envelope.at(c);
            if (column.gap && !points.isEmpty() && !std::isnan(points.last().y()))
                points.append(QPointF(nan, nan));
            if (!column.any)
                continue;
            const double x = from + (c + 0.5) * step;
            points.append(QPointF(x, double(column.min)));
            if (column.max != column.min)
                points.append(QPointF(x, double(column.max)));
        }
    }

    const ReadingStore &store;
    const int target;
    const ReadingStore::Size series;
    QVector<QPointF> points;
};

EnvelopeCurve::EnvelopeCurve(const ReadingStore &store, int target, ReadingStore::Size size, const QString &title)
    : QwtPlotCurve(title), m_data(new Data(store, target, size))
{
    setData(m_data);
    setRenderHint(QwtPlotItem::RenderAntialiased, false);
}

const QVector<QPointF> &EnvelopeCurve::drawnPoints() const
{
    return m_data->points;
}

void EnvelopeCurve::drawSeries(QPainter *painter, const QwtScaleMap &xMap, const QwtScaleMap &yMap,
                               const QRectF &canvasRect, int, int) const
{
    m_data->rebuild(xMap.s1(), xMap.s2(), qMax(1, int(std::abs(xMap.p2() - xMap.p1()))));
    const QVector<QPointF> &points = m_data->points;
    // Each run between two gaps is drawn as one line; a lone point as a dot.
    int start = 0;
    for (int i = 0; i <= points.size(); ++i) {
        if (i < points.size() && !std::isnan(points.at(i).x()))
            continue;
        if (i - start == 1) {
            const QPointF p(xMap.transform(points.at(start).x()), yMap.transform(points.at(start).y()));
            painter->setPen(pen());
            painter->drawLine(p - QPointF(1, 0), p + QPointF(1, 0));
        } else if (i - start > 1) {
            QwtPlotCurve::drawSeries(painter, xMap, yMap, canvasRect, start, i - 1);
        }
        start = i + 1;
    }
}
