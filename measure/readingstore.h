#ifndef ZELVIK_READINGSTORE_H
#define ZELVIK_READINGSTORE_H

#include "values.h"

#include <QByteArray>
#include <QVector>
#include <QtGlobal>

#include <array>

// Every reading of a session, compactly, for the chart and the CSV. A target is 0 for the average
// of the units (All Sensor) or 1 to 4 for a unit; each target has three series, one per size. A
// reading that got no answer or was refused is a gap in its target's series: the chart breaks the
// line there, and the CSV leaves it out rather than writing a zero or the previous value.
//
// The CSV keeps every reading of the session. The chart's copy keeps full detail for the newest
// fullDetailMs of each target and thins what is older to its lowest and highest value per
// bucketMs, which is all a pixel column of a day-long view shows anyway.
class ReadingStore
{
public:
    static constexpr int Targets = 5;
    static constexpr int Sizes = 3;
    enum Size { Pm25, Pm10, Pm100 };

    static constexpr qint64 DayMs = qint64(24) * 3600 * 1000;
    explicit ReadingStore(qint64 fullDetailMs = DayMs, qint64 bucketMs = 60 * 1000);

    // timeMs in milliseconds since the epoch; readings are expected in time order (an earlier
    // time is drawn at the latest time seen).
    void append(qint64 timeMs, int target, const Values::Measurement &value);
    void appendGap(qint64 timeMs, int target);
    void clear();

    // Readings and gaps of the session, in arrival order, thinned for the chart or not.
    int readings() const { return m_raw.size(); }
    int gaps() const { return m_gaps; }
    struct Entry {
        qint64 timeMs = 0;
        int target = 0;
        bool gap = false;
        Values::Measurement value; // zero for a gap
    };
    // Reading i of the session, in arrival order, as it was appended.
    Entry reading(int i) const;
    // Points the chart keeps for a target (readings and gaps, after thinning).
    int chartPoints(int target) const { return m_chart[target].size(); }

    struct Bounds {
        bool valid = false; // false while the series has no value
        qint64 firstMs = 0, lastMs = 0;
        float min = 0, max = 0;
    };
    Bounds bounds(int target, Size size) const;
    // The newest value of a series; false when it has none or its newest reading is a gap.
    bool latest(int target, Size size, float *value) const;

    // What one pixel column of the chart shows: the lowest and highest value in it, and whether
    // a gap falls in it.
    struct Column {
        bool any = false;
        bool gap = false;
        float min = 0, max = 0;
    };
    // Columns of equal width from fromMs up to toMs (columns >= 1, toMs > fromMs); a point at
    // exactly toMs falls into the last column.
    QVector<Column> envelope(int target, Size size, qint64 fromMs, qint64 toMs, int columns) const;

    // The project's measurement CSV: its header, then one row per reading in arrival order, times
    // in local time with their offset.
    QByteArray csv() const;

    static float valueOf(const Values::Measurement &value, Size size);

private:
    // 24 bytes a reading: 24 h at three readings a second is about 6 MB.
    struct Raw {
        qint64 timeMs;
        float pm25, pm10;
        quint16 pm100;
        quint8 target;
        bool gap;
    };
    struct Point {
        qint64 timeMs;
        std::array<float, Sizes> value;
        bool gap;
    };
    void add(qint64 timeMs, int target, const Values::Measurement *value);
    void thin(int target);

    qint64 m_fullDetailMs;
    qint64 m_bucketMs;
    QVector<Raw> m_raw;
    std::array<QVector<Point>, Targets> m_chart;
    std::array<int, Targets> m_thinnedUpTo{}; // chart points before this index are thinned already
    std::array<Bounds, Targets * Sizes> m_bounds{};
    int m_gaps = 0;
};

#endif
