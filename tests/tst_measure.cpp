// The Measurements window's reading store and schedule, without widgets: readings and gaps,
// bounds, the per-column envelope the chart draws, thinning of what is older than the full-detail
// span, the CSV rows, and which reading the schedule sends when.
#include <QtTest>

#include "readingstore.h"
#include "schedule.h"

namespace {

Values::Measurement m(float pm25, float pm10, quint16 pm100)
{
    Values::Measurement value;
    value.pm25 = pm25;
    value.pm10 = pm10;
    value.pm100 = pm100;
    return value;
}

// "t:target:pm25" appends a reading (pm10 = 2 * pm25, pm100 = 10 * pm25), "t:target:-" a gap.
void feed(ReadingStore &store, const QStringList &script)
{
    for (const QString &step : script) {
        const QStringList f = step.split(QLatin1Char(':'));
        if (f.at(2) == QLatin1String("-"))
            store.appendGap(f.at(0).toLongLong(), f.at(1).toInt());
        else
            store.append(f.at(0).toLongLong(), f.at(1).toInt(), m(f.at(2).toFloat(), 2 * f.at(2).toFloat(), quint16(10 * f.at(2).toFloat())));
    }
}

// Columns as "min..max", "gap", "gap min..max" or "." for an empty one.
QString columnsText(const QVector<ReadingStore::Column> &columns)
{
    QStringList out;
    for (const ReadingStore::Column &c : columns) {
        QString text = c.gap ? QStringLiteral("gap") : QString();
        if (c.any)
            text += (text.isEmpty() ? QString() : QStringLiteral(" ")) + QStringLiteral("%1..%2").arg(c.min).arg(c.max);
        out << (text.isEmpty() ? QStringLiteral(".") : text);
    }
    return out.join(QLatin1Char('|'));
}

} // namespace

class MeasureTest : public QObject
{
    Q_OBJECT

private slots:
    // Readings and gaps: counts, the latest value of a series (none after a gap) and its bounds.
    void readingsAndGaps_data()
    {
        QTest::addColumn<QStringList>("script");
        QTest::addColumn<int>("target");
        QTest::addColumn<QString>("expected"); // "readings gaps latest min max first last"
        QTest::newRow("empty") << QStringList{} << 0 << "0 0 none none";
        QTest::newRow("one reading") << QStringList{"100:2:5"} << 2 << "1 0 5 5..5 100..100";
        QTest::newRow("min and max over time") << QStringList{"100:0:5", "200:0:1.5", "300:0:9", "400:0:4"} << 0
                                               << "4 0 4 1.5..9 100..400";
        // A gap is no zero: the bounds keep the values and the latest value is unknown.
        QTest::newRow("gap last") << QStringList{"100:3:5", "200:3:7", "300:3:-"} << 3 << "3 1 none 5..7 100..200";
        QTest::newRow("gap then reading") << QStringList{"100:4:-", "200:4:8"} << 4 << "2 1 8 8..8 200..200";
        // A clock that stepped back: the chart keeps time order.
        QTest::newRow("time steps back") << QStringList{"500:0:5", "400:0:6"} << 0 << "2 0 6 5..6 500..500";
        QTest::newRow("unknown target ignored") << QStringList{"100:7:5"} << 0 << "0 0 none none";
    }

    void readingsAndGaps()
    {
        QFETCH(QStringList, script);
        QFETCH(int, target);
        QFETCH(QString, expected);
        ReadingStore store;
        feed(store, script);
        float latest = 0;
        const bool known = store.latest(target, ReadingStore::Pm25, &latest);
        const ReadingStore::Bounds b = store.bounds(target, ReadingStore::Pm25);
        const QString bounds = b.valid ? QStringLiteral("%1..%2 %3..%4").arg(b.min).arg(b.max).arg(b.firstMs).arg(b.lastMs)
                                       : QStringLiteral("none");
        const QString actual = QStringLiteral("%1 %2 %3 %4").arg(store.readings()).arg(store.gaps())
                                   .arg(known ? QString::number(latest) : QStringLiteral("none"), bounds);
        QCOMPARE(actual, expected);
        // The other sizes follow the same readings.
        if (known) {
            float pm100 = 0;
            QVERIFY(store.latest(target, ReadingStore::Pm100, &pm100));
            QCOMPARE(pm100, float(quint16(10 * latest)));
        }
    }

    // The lowest and highest value per column, gaps marked, edges placed.
    void envelope_data()
    {
        QTest::addColumn<QStringList>("script");
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("to");
        QTest::addColumn<int>("columns");
        QTest::addColumn<QString>("expected");
        const QStringList series{"0:0:1", "10:0:3", "20:0:2", "30:0:-", "40:0:5", "50:0:4", "99:0:7", "100:0:6"};
        QTest::newRow("two columns") << series << 0 << 100 << 2 << "gap 1..5|4..7";
        QTest::newRow("one per reading") << QStringList(series.mid(0, 6)) << 0 << 60 << 6 << "1..1|3..3|2..2|gap|5..5|4..4";
        QTest::newRow("empty columns") << QStringList{"0:0:1", "90:0:2"} << 0 << 100 << 5 << "1..1|.|.|.|2..2";
        QTest::newRow("outside the range left out") << series << 15 << 45 << 3 << "2..2|gap|5..5";
        QTest::newRow("the end falls in the last column") << series << 0 << 100 << 4 << "1..3|gap 5..5|4..4|6..7";
        QTest::newRow("another target's readings") << QStringList{"0:1:9", "50:0:1"} << 0 << 100 << 2 << ".|1..1";
    }

    void envelope()
    {
        QFETCH(QStringList, script);
        QFETCH(int, from);
        QFETCH(int, to);
        QFETCH(int, columns);
        QFETCH(QString, expected);
        ReadingStore store;
        feed(store, script);
        QCOMPARE(columnsText(store.envelope(0, ReadingStore::Pm25, from, to, columns)), expected);
    }

    // Older than the full-detail span, the chart keeps the lowest and highest value per bucket and
    // the gaps; the newest span keeps every reading, and the CSV every reading of the session.
    void thinning_data()
    {
        QTest::addColumn<int>("hours");
        QTest::addColumn<int>("everyMs");
        QTest::newRow("26 h, a reading a second") << 26 << 1000;
        QTest::newRow("27 h, two readings a second") << 27 << 500;
    }

    void thinning()
    {
        QFETCH(int, hours);
        QFETCH(int, everyMs);
        const qint64 hour = 3600 * 1000;
        const qint64 start = qint64(1700000000) * 1000;
        const qint64 end = start + hours * hour;
        ReadingStore store; // a day of full detail, buckets of a minute
        const qint64 spikeAt = start + hour / 2, gapAt = start + hour;
        int count = 0, gaps = 0;
        for (qint64 t = start; t < end; t += everyMs, ++count) {
            if (t >= gapAt && t < gapAt + everyMs) {
                store.appendGap(t, 2);
                ++gaps;
                continue;
            }
            float v = 10 + float((t / everyMs) % 7);
            if (t >= spikeAt && t < spikeAt + everyMs)
                v = 500;
            store.append(t, 2, m(v, v, quint16(v)));
        }
        QCOMPARE(store.readings(), count);
        QCOMPARE(store.gaps(), gaps);
        QCOMPARE(store.csv().count('\n'), count - gaps + 1);
        // Thinned: well under all readings, but every reading of the newest day is still there.
        const int newestDay = int((24 * hour + everyMs - 1) / everyMs);
        QVERIFY2(store.chartPoints(2) < count - (count - newestDay) / 4, qPrintable(QString::number(store.chartPoints(2))));
        QVERIFY(store.chartPoints(2) >= newestDay);
        // The spike, the lowest value and the gap survive in the thinned hour.
        const QVector<ReadingStore::Column> old = store.envelope(2, ReadingStore::Pm25, start, start + 2 * hour, 120);
        float highest = 0, lowest = 1000;
        bool gap = false;
        for (const ReadingStore::Column &c : old) {
            highest = c.any ? qMax(highest, c.max) : highest;
            lowest = c.any ? qMin(lowest, c.min) : lowest;
            gap = gap || c.gap;
        }
        QCOMPARE(highest, 500.0f);
        QCOMPARE(lowest, 10.0f);
        QVERIFY(gap);
        QCOMPARE(store.bounds(2, ReadingStore::Pm25).max, 500.0f);
    }

    // The project's measurement CSV: header, one row per reading in arrival order, gaps left out.
    void csvRows()
    {
        ReadingStore store;
        const qint64 at = QDateTime(QDate(2024, 5, 1), QTime(12, 0, 0, 123), Qt::OffsetFromUTC, 7200).toMSecsSinceEpoch();
        store.append(at, 0, m(12.3f, 45.6f, 789));
        store.appendGap(at + 1000, 1);
        store.append(at + 2000, 4, m(10, 6553.5f, 0));
        const QStringList lines = QString::fromUtf8(store.csv()).split(QLatin1Char('\n'));
        QCOMPARE(lines.size(), 4);
        QCOMPARE(lines.at(0), QStringLiteral("time,unit,pm2_5_ug_m3,pm10_ug_m3,pm100_ug_m3"));
        QCOMPARE(lines.at(1).section(QLatin1Char(','), 1), QStringLiteral("avg,12.3,45.6,789"));
        QCOMPARE(lines.at(2).section(QLatin1Char(','), 1), QStringLiteral("4,10,6553.5,0"));
        QCOMPARE(QDateTime::fromString(lines.at(2).section(QLatin1Char(','), 0, 0), Qt::ISODateWithMs).toMSecsSinceEpoch(),
                 at + 2000);
        QCOMPARE(lines.at(3), QString());
    }

    // Which target is due when: "send T@ms" (the due target must be T at ms), "end@ms", and
    // "none@ms" (nothing due then).
    void schedule_data()
    {
        QTest::addColumn<QList<int>>("targets");
        QTest::addColumn<int>("intervalMs");
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<bool>("lineLimited");
        QTest::addColumn<double>("rate");
        // A round reads the targets back to back, one on the line at a time.
        QTest::newRow("fast, all five")
            << QList<int>{0, 1, 2, 3, 4} << 0
            << QStringList{"send 0@0", "none@100", "end@300", "send 1@300", "end@600", "send 2@600", "end@900",
                           "send 3@900", "end@1200", "send 4@1200", "end@1500", "send 0@1500", "end@1800"}
            << true << 10.0 / 3;
        // Rounds start an interval apart; the round in between waits.
        QTest::newRow("every 5 s, two targets")
            << QList<int>{1, 3} << 5000
            << QStringList{"send 1@0", "end@300", "send 3@300", "end@600", "none@4999", "send 1@5000", "end@5300",
                           "send 3@5300", "end@5600", "send 1@10000"}
            << false << 3000.0 / 5300;
        // A round longer than the interval: the next starts at once, the missed one is not made up.
        QTest::newRow("every 1 s, the line slower")
            << QList<int>{0, 2} << 1000
            << QStringList{"send 0@0", "end@900", "send 2@900", "end@1800", "send 0@1800", "end@2700", "send 2@2700",
                           "end@3600", "send 0@3600"}
            << true << 1000.0 / 900;
        QTest::newRow("one target, every 2 s")
            << QList<int>{4} << 2000 << QStringList{"send 4@0", "end@300", "none@1999", "send 4@2000", "end@2300"} << false
            << 1000.0 / 2000;
    }

    void schedule()
    {
        QFETCH(QList<int>, targets);
        QFETCH(int, intervalMs);
        QFETCH(QStringList, steps);
        QFETCH(bool, lineLimited);
        QFETCH(double, rate);
        MeasureSchedule schedule;
        schedule.start(targets, intervalMs, 0);
        for (const QString &step : steps) {
            const qint64 at = step.section(QLatin1Char('@'), 1).toLongLong();
            if (step.startsWith(QLatin1String("send"))) {
                QCOMPARE(schedule.due(at), step.section(QLatin1Char(' '), 1).section(QLatin1Char('@'), 0, 0).toInt());
                schedule.sent(schedule.due(at), at);
                QCOMPARE(schedule.due(at), -1); // one on the line at a time
                QCOMPARE(schedule.nextDueMs(), qint64(-1));
            } else if (step.startsWith(QLatin1String("end"))) {
                schedule.ended(at);
            } else {
                QVERIFY2(schedule.due(at) == -1, qPrintable(step));
                QVERIFY(schedule.nextDueMs() == -1 || schedule.nextDueMs() > at);
            }
        }
        QCOMPARE(schedule.lineLimited(), lineLimited);
        QVERIFY2(qAbs(schedule.achievedRate() - rate) < 1e-9, qPrintable(QString::number(schedule.achievedRate())));
        schedule.stop();
        QCOMPARE(schedule.due(1000000), -1);
    }
};

QTEST_APPLESS_MAIN(MeasureTest)
#include "tst_measure.moc"
