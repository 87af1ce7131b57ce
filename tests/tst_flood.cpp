// The real window under a flood of line noise at full speed, as a babbling device, a wrong adapter
// setting or a USB CDC device delivers it: memory stays bounded, the event loop keeps answering
// presses, and once the stream stops the next query is answered normally. ZELVIK_FLOOD_SECONDS
// sets the length of the flood (a few seconds in ctest, a minute in `make soak`).
#include <QtTest>
#include <QtWidgets>

#include "residentmemory.h"
#include "testbytes.h"
#include "windowfixture.h"
#include "windowprobe.h"

#include <atomic>
#include <random>
#include <thread>

class FloodTest : public WindowFixture
{
    Q_OBJECT

private slots:
    void floodThenAnswer()
    {
        const int seconds = qEnvironmentVariableIntValue("ZELVIK_FLOOD_SECONDS") > 0
            ? qEnvironmentVariableIntValue("ZELVIK_FLOOD_SECONDS") : 4;
        QVERIFY(openOnPty());
        QVERIFY(waitTicks(2));
        const qint64 rssStart = residentKb();

        std::atomic<bool> stop{false};
        std::atomic<qint64> written{0};
        std::thread writer([&] {
            std::mt19937 random(7);
            QByteArray chunk(4096, '\0');
            while (!stop) {
                for (char &byte : chunk)
                    byte = char(random());
                if (pty->write(chunk))
                    written += chunk.size();
                else
                    std::this_thread::sleep_for(std::chrono::milliseconds(1)); // the terminal is full
            }
        });

        // The longest the event loop went without running a 10 ms timer is how long a press waited.
        QElapsedTimer watch;
        watch.start();
        qint64 lastBeat = 0, worstGap = 0, peakRss = rssStart;
        QTimer heart;
        connect(&heart, &QTimer::timeout, this, [&] {
            worstGap = qMax(worstGap, watch.elapsed() - lastBeat);
            lastBeat = watch.elapsed();
        });
        heart.start(10);
        int presses = 0;
        while (watch.elapsed() < qint64(seconds) * 1000) {
            QTest::qWait(250);
            peakRss = qMax(peakRss, residentKb());
            QVERIFY(press("pushButton_GetTempHumi")); // answered by noise or reported, never stuck
            ++presses;
        }
        stop = true;
        writer.join();
        heart.stop();

        // Once the stream stops, the window catches up and the next query is answered.
        QVERIFY(waitTicks(3));
        pty->readFor(300);
        QTRY_VERIFY_WITH_TIMEOUT(WindowProbe::pending(*window).queries.isEmpty(), 3000);
        QVERIFY(press("pushButton_GetTempHumi"));
        QCOMPARE(pty->read(8, 2000), withCrc("00 03 00 A8 00 01"));
        QVERIFY(pty->write(withCrc("01 03 02 17 2D")));
        QTRY_COMPARE_WITH_TIMEOUT(values({"lineEdit_Temp=", "lineEdit_Humi="}),
                                  (QStringList{"lineEdit_Temp=23", "lineEdit_Humi=45"}), 2000);

        qInfo("flood of %d s: %lld kB written, %d presses; worst event-loop stall %lld ms; resident memory "
              "%lld kB at start, %lld kB at peak (+%lld kB)",
              seconds, written / 1024, presses, worstGap, rssStart, peakRss, peakRss - rssStart);
        QVERIFY2(written > qint64(100) * 1024 * seconds, "the flood was too thin to prove anything");
        // A minute may cost 0.5 s and 50 MB at most; a few seconds, with the same bounds at work,
        // far less.
        const bool minute = seconds >= 30;
        QVERIFY2(worstGap < (minute ? 500 : 200), qPrintable(QString::number(worstGap)));
        if (!AddressSanitizer)
            QVERIFY2(peakRss - rssStart < qint64(minute ? 50 : 8) * 1024, qPrintable(QString::number(peakRss - rssStart)));
    }
};

QTEST_MAIN(FloodTest)
#include "tst_flood.moc"
