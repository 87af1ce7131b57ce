// The Measurements window on the real window's session: against the simulated sensor, the series
// hold exactly what the device sent for the request each reading answers, dropped or damaged
// replies are gaps and never a value, a ReadResult pressed in the main window lands in its own
// series, and Stop leaves nothing of the schedule behind; on a pseudo-terminal, a refusal is a gap
// too, and the chart and readings export. The test drives the window's clock and poll; only the
// simulator's answers are waited for.
#include <QtTest>
#include <QtWidgets>

#include "commandframes.h"
#include "envelopecurve.h"
#include "measurementswindow.h"
#include <qwt_plot.h>
#include "simprocess.h"
#include "testbytes.h"
#include "windowfixture.h"
#include "windowprobe.h"

#include <cmath>
#include <memory>

namespace {

// What the simulator did with each request, in order: the reply it sent (whole and undamaged),
// or nothing for one it dropped or damaged.
struct Outcome {
    QByteArray reply; // empty when none came undamaged
};

QList<Outcome> outcomes(const QString &log)
{
    static const QRegularExpression line(QStringLiteral(" (tx|reply dropped:) ((?:[0-9a-f]{2} )*[0-9a-f]{2})(.*)$"));
    QList<Outcome> list;
    const QStringList lines = log.left(log.lastIndexOf(QLatin1Char('\n'))).split(QLatin1Char('\n'));
    for (const QString &text : lines) {
        const QRegularExpressionMatch match = line.match(text);
        if (!match.hasMatch())
            continue;
        const bool sent = match.captured(1) == QLatin1String("tx") && !match.captured(3).contains(QLatin1String("flipped"));
        list.append({sent ? QByteArray::fromHex(match.captured(2).toLatin1()) : QByteArray()});
    }
    return list;
}

int unitOf(const QByteArray &request)
{
    for (int unit = 0; unit < ReadingStore::Targets; ++unit) {
        if (request == Commands::readSensorData(unit))
            return unit;
    }
    return -1;
}

} // namespace

class MeasurementsTest : public WindowFixture
{
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void cleanup()
    {
        closeAll();
        sim.reset();
    }

    // Every reading is the device's answer to the request it was asked by, in the series of the
    // unit asked; a reply that was dropped or damaged is a gap and counted as no answer.
    void seriesHoldWhatTheDeviceSent_data()
    {
        QTest::addColumn<QStringList>("simOptions");
        QTest::addColumn<QList<int>>("targets");
        QTest::addColumn<int>("manualUnit"); // pressed in the main window after 3 readings; -1 none
        QTest::newRow("average and four units") << QStringList{} << QList<int>{0, 1, 2, 3, 4} << -1;
        QTest::newRow("replies dropped") << QStringList{"--drop-rate", "0.3", "--seed", "5"} << QList<int>{0, 1, 2, 3, 4}
                                         << -1;
        QTest::newRow("replies damaged") << QStringList{"--corrupt-rate", "0.3", "--seed", "9"} << QList<int>{0, 2, 4} << -1;
        QTest::newRow("ReadResult pressed in between") << QStringList{} << QList<int>{1, 3} << 2;
        QTest::newRow("ReadResult of a scheduled unit") << QStringList{} << QList<int>{1, 3} << 3;
    }

    void seriesHoldWhatTheDeviceSent()
    {
        QFETCH(QStringList, simOptions);
        QFETCH(QList<int>, targets);
        QFETCH(int, manualUnit);
        QVERIFY2(launch(simOptions), qPrintable(failure));
        start(targets);
        for (int i = 0; i < 20 && measurements->store().readings() < 3; ++i)
            QVERIFY(step());
        // The scheduled reading that went out at the last poll is on the line: the pressed one
        // goes next.
        int pressedAt = -1;
        if (manualUnit >= 0) {
            pressedAt = int(std::count_if(written.cbegin(), written.cend(), [](const QByteArray &f) { return unitOf(f) >= 0; }));
            widget<QComboBox>(QStringLiteral("comboBoxSendObject"))->setCurrentIndex(manualUnit);
            QVERIFY(press(QStringLiteral("pushButton_GetSensorData")));
        }
        for (int i = 0; i < 200 && measurements->store().readings() < 25; ++i)
            QVERIFY(step());
        press(QStringLiteral("pushButtonStop"));
        QVERIFY(settle());

        const ReadingStore &store = measurements->store();
        QVERIFY(store.readings() >= 25);
        QList<QByteArray> requests;
        for (const QByteArray &frame : written) {
            if (unitOf(frame) >= 0)
                requests << frame;
        }
        const QList<Outcome> device = outcomes(sim->logText());
        QVERIFY2(device.size() >= store.readings(), qPrintable(sim->logText()));
        int gaps = 0;
        for (int i = 0; i < store.readings(); ++i) {
            const ReadingStore::Entry entry = store.reading(i);
            const QString where = QStringLiteral("reading %1").arg(i);
            QCOMPARE(entry.target, unitOf(requests.at(i)));
            QVERIFY2(entry.gap == device.at(i).reply.isEmpty(), qPrintable(where));
            gaps += entry.gap;
            if (entry.gap)
                continue;
            const Values::Measurement sent = Values::measurement(device.at(i).reply);
            QVERIFY2(entry.value.pm25 == sent.pm25 && entry.value.pm10 == sent.pm10 && entry.value.pm100 == sent.pm100,
                     qPrintable(where));
        }
        QCOMPARE(measurements->noAnswers(), gaps);
        QCOMPARE(gaps > 0, !simOptions.isEmpty());
        // The pressed reading in its unit's series; around it the schedule kept its order.
        QList<int> scheduled;
        for (const QByteArray &request : requests)
            scheduled << unitOf(request);
        if (manualUnit >= 0) {
            QCOMPARE(store.reading(pressedAt).target, manualUnit);
            scheduled.removeAt(pressedAt);
        }
        for (int i = 0; i < scheduled.size(); ++i)
            QCOMPARE(scheduled.at(i), targets.at(i % targets.size()));
    }

    // Stop takes the reading on the line back: nothing of the schedule waits in the session, its
    // late reply lands nowhere, and the next ReadResult gets its own answer.
    void stopLeavesNothingBehind()
    {
        QVERIFY2(launch({}), qPrintable(failure));
        start({1, 2});
        for (int i = 0; i < 20 && measurements->store().readings() < 2; ++i)
            QVERIFY(step());
        QCOMPARE(WindowProbe::session(*window).outstanding(), 1); // the next reading is on the line
        const int before = measurements->store().readings();
        QVERIFY(press(QStringLiteral("pushButtonStop")));
        QCOMPARE(WindowProbe::session(*window).outstanding(), 0);
        QVERIFY(settle());
        poll(3);
        QCOMPARE(measurements->store().readings(), before);
        QVERIFY(logLines().filter(QStringLiteral("Late reply dropped")).size() == 1);
        QCOMPARE(measurements->schedule().running(), false);

        widget<QComboBox>(QStringLiteral("comboBoxSendObject"))->setCurrentIndex(4);
        QVERIFY(press(QStringLiteral("pushButton_GetSensorData")));
        for (int i = 0; i < 10 && measurements->store().readings() == before; ++i)
            QVERIFY(step());
        QCOMPARE(measurements->store().readings(), before + 1);
        const ReadingStore::Entry entry = measurements->store().reading(before);
        QCOMPARE(entry.target, 4);
        const Values::Measurement sent = Values::measurement(outcomes(sim->logText()).last().reply);
        QCOMPARE(entry.value.pm25, sent.pm25);
        QCOMPARE(entry.value.pm100, sent.pm100);
        QCOMPARE(WindowProbe::session(*window).outstanding(), 0);
    }

    // On a pseudo-terminal: a ReadResult pressed before the window was first opened is in its
    // chart, a refused reading is a gap and the next goes out; the readings export as the
    // project's CSV and the chart as a PNG of the plot's size.
    void refusalAndExport()
    {
        QVERIFY(openOnPty());
        driveTime();
        const QByteArray reply = hex("01 03 08 00 7B 01 C8 03 15 00 00 AF 51");
        widget<QComboBox>(QStringLiteral("comboBoxSendObject"))->setCurrentIndex(3);
        QVERIFY(WindowFixture::press(QStringLiteral("pushButton_GetSensorData")));
        QVERIFY(deliver(reply));
        tick();
        openMeasurements();
        QCOMPARE(measurements->store().readings(), 1);
        QCOMPARE(measurements->store().reading(0).target, 3);
        start({0});
        QCOMPARE(written.last(), Commands::readSensorData(0));
        QVERIFY(deliver(reply));
        tick();
        QCOMPARE(written.last(), Commands::readSensorData(0)); // the next reading went out at once
        const int sent = written.size();
        QVERIFY(deliver(withCrc("01 83 02")));
        tick();
        QCOMPARE(measurements->refusals(), 1);
        QCOMPARE(measurements->store().readings(), 3);
        QVERIFY(measurements->store().reading(2).gap);
        QCOMPARE(written.size(), sent + 1);
        QVERIFY(press(QStringLiteral("pushButtonStop")));

        QTemporaryDir dir;
        QString error;
        QVERIFY2(measurements->saveCsv(dir.filePath("m.csv"), &error), qPrintable(error));
        QFile csv(dir.filePath("m.csv"));
        QVERIFY(csv.open(QIODevice::ReadOnly));
        const QList<QByteArray> rows = csv.readAll().split('\n');
        QCOMPARE(rows.size(), 4);
        QVERIFY(rows.at(1).endsWith(",3,12.3,45.6,789"));
        QVERIFY(rows.at(2).endsWith(",avg,12.3,45.6,789"));
        measurements->resize(900, 500);
        QVERIFY2(measurements->savePng(dir.filePath("c.png"), &error), qPrintable(error));
        QImage image(dir.filePath("c.png"));
        QCOMPARE(image.size(), measurements->plot()->size() * measurements->plot()->devicePixelRatioF());
        QVERIFY(!measurements->saveCsv(dir.path(), &error)); // a folder is no file to write
    }

    // Unticking a cell hides its line; a paused view stays where it is while readings come;
    // Autoscale shows them all again. The chart breaks the line at a gap.
    void viewControls()
    {
        newWindow();
        openMeasurements();
        const qint64 t0 = QDateTime::currentMSecsSinceEpoch();
        Values::Measurement value;
        QwtPlot *plot = measurements->plot();
        // A first reading alone is shown within minutes of its time, not on an axis of decades.
        measurements->addReading(t0 - 1000, 3, value);
        QVERIFY(QTest::qWaitForWindowExposed(measurements));
        measurements->findChild<QPushButton *>(QStringLiteral("pushButtonAutoscale"))->click();
        QVERIFY(plot->axisInterval(QwtPlot::xBottom).contains(double(t0 - 1000)));
        QVERIFY(plot->axisInterval(QwtPlot::xBottom).width() < 10 * 60 * 1000);
        for (int i = 0; i < 10; ++i) {
            value.pm25 = float(10 + i);
            i == 5 ? measurements->addGap(t0 + i * 1000, 2) : measurements->addReading(t0 + i * 1000, 2, value);
        }
        measurements->findChild<QPushButton *>(QStringLiteral("pushButtonAutoscale"))->click();
        QVERIFY(plot->axisInterval(QwtPlot::xBottom).minValue() <= double(t0));
        QVERIFY(plot->axisInterval(QwtPlot::yLeft).maxValue() >= 19.0);
        QImage canvas(plot->canvas()->size(), QImage::Format_ARGB32_Premultiplied);
        QPainter painter(&canvas);
        plot->drawCanvas(&painter);
        const QVector<QPointF> &drawn = measurements->curve(2, ReadingStore::Pm25)->drawnPoints();
        QCOMPARE(std::count_if(drawn.cbegin(), drawn.cend(), [](const QPointF &p) { return std::isnan(p.y()); }), 1);

        auto *table = measurements->findChild<QTableWidget *>(QStringLiteral("tableLatest"));
        QCOMPARE(table->item(2, 0)->text(), QStringLiteral("19"));
        table->item(2, 0)->setCheckState(Qt::Unchecked);
        QVERIFY(!measurements->curve(2, ReadingStore::Pm25)->isVisible());
        QVERIFY(measurements->curve(2, ReadingStore::Pm10)->isVisible());

        measurements->findChild<QPushButton *>(QStringLiteral("pushButtonPause"))->click();
        const QwtInterval held = plot->axisInterval(QwtPlot::xBottom);
        value.pm25 = 500;
        measurements->addReading(t0 + 3600 * 1000, 1, value);
        QTest::qWait(400); // longer than the chart waits to redraw
        QCOMPARE(plot->axisInterval(QwtPlot::xBottom), held);
        measurements->findChild<QPushButton *>(QStringLiteral("pushButtonAutoscale"))->click();
        QVERIFY(plot->axisInterval(QwtPlot::xBottom).maxValue() >= double(t0 + 3600 * 1000));
        QVERIFY(plot->axisInterval(QwtPlot::yLeft).maxValue() >= 500.0);
    }

private:
    bool launch(const QStringList &simOptions)
    {
        sim = std::make_unique<Simulator>();
        if (!sim->start(simOptions)) {
            failure = sim->error;
            return false;
        }
        newWindow();
        if (!openPort(sim->path)) {
            failure = QStringLiteral("the window did not open %1").arg(sim->path);
            return false;
        }
        driveTime();
        openMeasurements();
        return true;
    }

    void openMeasurements()
    {
        consumed = 0;
        window->findChild<QAction *>(QStringLiteral("actionMeasurements"))->trigger();
        measurements = window->findChild<MeasurementsWindow *>();
        QVERIFY(measurements);
    }

    // Ticks the targets, fastest interval, then Start.
    void start(const QList<int> &targets)
    {
        for (int target = 0; target < ReadingStore::Targets; ++target)
            measurements->findChild<QCheckBox *>(QStringLiteral("checkBoxTarget%1").arg(target))->setChecked(targets.contains(target));
        measurements->findChild<QComboBox *>(QStringLiteral("comboBoxInterval"))->setCurrentIndex(0);
        measurements->findChild<QPushButton *>(QStringLiteral("pushButtonStart"))->click();
    }

    bool press(const QString &name)
    {
        if (auto *button = measurements ? measurements->findChild<QPushButton *>(name) : nullptr) {
            button->click();
            return true;
        }
        return WindowFixture::press(name);
    }

    // Waits until the simulator has dealt with every request written and its replies have reached
    // the port, then runs a poll.
    bool step()
    {
        if (!settle())
            return false;
        poll(1);
        return true;
    }

    void poll(int count)
    {
        for (int i = 0; i < count; ++i) {
            consumed += WindowProbe::serial(*window).bytesAvailable();
            tick();
        }
    }

    bool settle()
    {
        const int asked = int(std::count_if(written.cbegin(), written.cend(), [](const QByteArray &f) { return unitOf(f) >= 0; }));
        if (!QTest::qWaitFor([&] { return outcomes(sim->logText()).size() >= asked; }, 3000))
            return false;
        qint64 sent = 0;
        for (const Simulator::Reply &reply : sim->replies())
            sent += reply.bytes.size();
        QSerialPort &port = WindowProbe::serial(*window);
        return QTest::qWaitFor([&] { return consumed + port.bytesAvailable() >= sent; }, 3000);
    }

    std::unique_ptr<Simulator> sim;
    MeasurementsWindow *measurements = nullptr;
    qint64 consumed = 0; // bytes the window's polls took from the port
    QString failure;
};

QTEST_MAIN(MeasurementsTest)
#include "tst_measurements.moc"
