#include "readingstore.h"

#include "sessiontexts.h"

#include <QDateTime>

#include <algorithm>
#include <limits>

ReadingStore::ReadingStore(qint64 fullDetailMs, qint64 bucketMs)
    : m_fullDetailMs(fullDetailMs), m_bucketMs(qMax<qint64>(1, bucketMs))
{
}

float ReadingStore::valueOf(const Values::Measurement &value, Size size)
{
    switch (size) {
    case Pm25: return value.pm25;
    case Pm10: return value.pm10;
    case Pm100: break;
    }
    return float(value.pm100);
}

void ReadingStore::append(qint64 timeMs, int target, const Values::Measurement &value)
{
    add(timeMs, target, &value);
}

void ReadingStore::appendGap(qint64 timeMs, int target)
{
    add(timeMs, target, nullptr);
}

void ReadingStore::clear()
{
    *this = ReadingStore(m_fullDetailMs, m_bucketMs);
}

void ReadingStore::add(qint64 timeMs, int target, const Values::Measurement *value)
{
    if (target < 0 || target >= Targets)
        return;
    const Values::Measurement shown = value ? *value : Values::Measurement();
    m_raw.append(Raw{timeMs, shown.pm25, shown.pm10, shown.pm100, quint8(target), value == nullptr});
    QVector<Point> &chart = m_chart[target];
    // The chart's points stay in time order, so that a range is found by halving.
    const qint64 at = chart.isEmpty() ? timeMs : qMax(timeMs, chart.last().timeMs);
    Point point{at, {}, value == nullptr};
    if (value) {
        for (int size = 0; size < Sizes; ++size) {
            const float v = valueOf(*value, Size(size));
            point.value[size] = v;
            Bounds &b = m_bounds[target * Sizes + size];
            if (!b.valid) {
                b = Bounds{true, at, at, v, v};
            } else {
                b.lastMs = at;
                b.min = qMin(b.min, v);
                b.max = qMax(b.max, v);
            }
        }
    } else {
        ++m_gaps;
    }
    chart.append(point);
    thin(target);
}

void ReadingStore::thin(int target)
{
    QVector<Point> &chart = m_chart[target];
    int &done = m_thinnedUpTo[target];
    const qint64 keepFrom = chart.last().timeMs - m_fullDetailMs;
    // Thinned in batches, once an hour's worth (for a day's detail) has aged, not at every reading.
    const qint64 batch = qMax(m_bucketMs, m_fullDetailMs / 24);
    if (done >= chart.size() || chart.at(done).timeMs >= keepFrom - batch)
        return;
    // Whole buckets only: the one that keepFrom falls in is thinned once it has aged entirely.
    auto bucketOf = [this](qint64 timeMs) { return timeMs / m_bucketMs - (timeMs % m_bucketMs < 0 ? 1 : 0); };
    const qint64 lastBucket = bucketOf(keepFrom) - 1;
    QVector<Point> thinned;
    int i = done;
    while (i < chart.size()) {
        const qint64 bucket = bucketOf(chart.at(i).timeMs);
        if (bucket > lastBucket)
            break;
        Point low{0, {}, false}, high{0, {}, false};
        int values = 0;
        qint64 lastAt = 0;
        bool gap = false;
        for (; i < chart.size(); ++i) {
            const Point &p = chart.at(i);
            if (bucketOf(p.timeMs) != bucket)
                break;
            lastAt = p.timeMs;
            if (p.gap) {
                gap = true;
                continue;
            }
            if (values++ == 0) {
                low = high = p;
                continue;
            }
            high.timeMs = p.timeMs;
            for (int size = 0; size < Sizes; ++size) {
                low.value[size] = qMin(low.value[size], p.value[size]);
                high.value[size] = qMax(high.value[size], p.value[size]);
            }
        }
        if (values > 0)
            thinned.append(low);
        if (values > 1)
            thinned.append(high);
        if (gap)
            thinned.append(Point{lastAt, {}, true});
    }
    QVector<Point> rebuilt;
    rebuilt.reserve(done + thinned.size() + chart.size() - i);
    rebuilt << chart.mid(0, done) << thinned << chart.mid(i);
    chart.swap(rebuilt);
    done += thinned.size();
}

ReadingStore::Entry ReadingStore::reading(int i) const
{
    const Raw &r = m_raw.at(i);
    Entry entry;
    entry.timeMs = r.timeMs;
    entry.target = r.target;
    entry.gap = r.gap;
    entry.value.pm25 = r.pm25;
    entry.value.pm10 = r.pm10;
    entry.value.pm100 = r.pm100;
    return entry;
}

ReadingStore::Bounds ReadingStore::bounds(int target, Size size) const
{
    return m_bounds[target * Sizes + size];
}

bool ReadingStore::latest(int target, Size size, float *value) const
{
    const QVector<Point> &chart = m_chart[target];
    if (chart.isEmpty() || chart.last().gap)
        return false;
    *value = chart.last().value[size];
    return true;
}

QVector<ReadingStore::Column> ReadingStore::envelope(int target, Size size, qint64 fromMs, qint64 toMs,
                                                     int columns) const
{
    QVector<Column> result(qMax(1, columns));
    if (toMs <= fromMs)
        return result;
    const QVector<Point> &chart = m_chart[target];
    auto it = std::lower_bound(chart.cbegin(), chart.cend(), fromMs,
                               [](const Point &p, qint64 t) { return p.timeMs < t; });
    const qint64 span = toMs - fromMs;
    for (; it != chart.cend() && it->timeMs <= toMs; ++it) {
        const int index = int(qMin<qint64>(result.size() - 1, (it->timeMs - fromMs) * result.size() / span));
        Column &c = result[index];
        if (it->gap) {
            c.gap = true;
            continue;
        }
        const float v = it->value[size];
        if (!c.any) {
            c.any = true;
            c.min = c.max = v;
        } else {
            c.min = qMin(c.min, v);
            c.max = qMax(c.max, v);
        }
    }
    return result;
}

QByteArray ReadingStore::csv() const
{
    QByteArray text = SessionTexts::csvHeader().toUtf8() + '\n';
    // Local time with its offset. Looking up the time zone for each of a day's 260,000 rows takes
    // seconds, so the offset is looked up once per quarter of an hour, the finest step at which
    // any zone changes it.
    constexpr qint64 QuarterMs = 15 * 60 * 1000;
    qint64 quarter = std::numeric_limits<qint64>::min();
    int offset = 0;
    for (int i = 0; i < m_raw.size(); ++i) {
        if (m_raw.at(i).gap)
            continue;
        const Entry e = reading(i);
        const qint64 q = e.timeMs / QuarterMs - (e.timeMs % QuarterMs < 0 ? 1 : 0);
        if (q != quarter) {
            quarter = q;
            offset = QDateTime::fromMSecsSinceEpoch(e.timeMs).offsetFromUtc();
        }
        const QDateTime time = QDateTime::fromMSecsSinceEpoch(e.timeMs, Qt::OffsetFromUTC, offset);
        text += SessionTexts::csvRow(time, e.target, e.value).toUtf8() + '\n';
    }
    return text;
}
