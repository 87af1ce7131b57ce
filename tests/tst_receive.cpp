// The poll tick seen from the device's end of a pseudo-terminal: replies written to the line fill
// the real window's widgets, log pane and boxes, and the requests the window writes arrive whole.
#include <QtTest>
#include <QtWidgets>

#include "modalcloser.h"
#include "pendingflags.h"
#include "testbytes.h"
#include "windowfixture.h"
#include "windowprobe.h"

#include <algorithm>
#include <memory>

namespace {

constexpr int Wait = 2000;

// A read reply from device address 0x01 carrying these data bytes.
QByteArray readReply(const QByteArray &data)
{
    return withCrc(hex("01 03") + char(data.size()) + data);
}
QByteArray readReply(const char *data) { return readReply(hex(data)); }

// The log's lines for bytes received in these ticks: one for each tick of 4 bytes or more.
QStringList hexLines(const QByteArrayList &ticks)
{
    QStringList lines;
    for (const QByteArray &tick : ticks) {
        if (tick.size() >= 4)
            lines << hexText(tick);
    }
    return lines;
}

const QByteArray ProbeRequest = hex("00 03 00 00 00 01 85 DB");
const QByteArray TempReply = readReply("F6 F6");
const QByteArray TransReply = readReply(counting(38, 0xA0));
const QString TransText = hexText(counting(38, 0xA0));

} // namespace

class ReceiveTest : public WindowFixture
{
    Q_OBJECT

private slots:
    void init()
    {
        QVERIFY(openOnPty());
        closer = std::make_unique<ModalCloser>(50);
        QVERIFY(set({"comboBoxAutoCleanDust=Query", "comboBox_HeatTemp=Query", "comboBox_HeatHumi=Query", "comboBox_Calibrate=Query"}));
    }

    void cleanup()
    {
        closer.reset();
        closeAll();
    }

    // Replies, whole or cut by a tick boundary, that fill their widgets.
    void accepted_data()
    {
        QTest::addColumn<QString>("trigger");
        QTest::addColumn<QString>("sendObject");
        QTest::addColumn<QByteArrayList>("ticks"); // written on successive ticks
        QTest::addColumn<QStringList>("widgets");  // "objectName=value"
        QTest::addColumn<QStringList>("lines");    // log lines after the hexadecimal ones
        auto row = [](const char *name, const char *trigger, const QByteArrayList &ticks, const QStringList &widgets,
                      const QStringList &lines = {}, const char *sendObject = "Avg") {
            QTest::newRow(name) << QString(trigger) << QString(sendObject) << ticks << widgets << lines;
        };

        const QByteArray measurement = hex("01 03 08 00 7B 01 C8 03 15 00 00 AF 51");
        row("measurement, average", "pushButton_GetSensorData", {measurement}, {},
            {"All Sensor: PM2.5 = 12.3  PM10 = 45.6  PM100 = 789"});
        row("measurement, unit 2", "pushButton_GetSensorData", {measurement}, {},
            {"Sensor 2:  PM2.5 = 12.3  PM10 = 45.6  PM100 = 789"}, "2");
        row("address", "pushButton_GetDeviceAddr", {readReply("00 0A")}, {"lineEdit_DeviceAddr=a"});
        row("clean setting", "pushButton_AutoCleanDust", {readReply("1E 3C")},
            {"lineEdit_AutoCleanTime=30", "lineEdit_AutoCleanDustJianGe=60"});
        row("heat mode auto", "pushButton_GetHeatMode", {readReply("01 00")}, {"radioButton_AutoHeat=1", "radioButton_ManualHeat=0"});
        row("work mode", "pushButton_GetWorkMode", {readReply("01 05")},
            {"radioButton_Autoall=1", "radioButton_Autosingle=0", "radioButton_Manualset=0", "checkBox_No1=1", "checkBox_No2=0",
             "checkBox_No3=1", "checkBox_No4=0"});
        row("self test", "pushButton_GetSelfCheck", {readReply("00 0E")},
            {"checkBox_Selfcheck1=1", "checkBox_Selfcheck2=0", "checkBox_Selfcheck3=0", "checkBox_Selfcheck4=0"});
        row("global", "pushButton_GetGlobalOnOff", {readReply("00 0A")},
            {"checkBox_Global1=0", "checkBox_Global2=1", "checkBox_Global3=0", "checkBox_Global4=1"});
        row("temperature and humidity", "pushButton_GetTempHumi", {TempReply}, {"lineEdit_Temp=-10", "lineEdit_Humi=246"});
        row("heat temperature thresholds", "pushButton_HeatTemp", {readReply("F6 05")},
            {"lineEdit_HeatTempHigh=-10", "lineEdit_HeatTempLow=5"});
        row("heat humidity thresholds", "pushButton_HeatHumi", {readReply("50 1E")},
            {"lineEdit_HeatHumiHigh=80", "lineEdit_HeatHumiLow=30"});
        row("calibration", "pushButton_Calibrate", {readReply("00 05 00 64")}, {"lineEdit_CalibrZero=-5", "lineEdit_CalibrateFactor=100"});
        row("transparent read", "on_pushButton_TransRead_clicked", {readReply("AA B5 00 01 02 AB")},
            {"lineEdit_TransRead=aa b5 00 01 02 ab "});
        row("factors", "on_pushButton_GetFactor_clicked", {readReply("01 02 03 04 0A 14 1E FF")},
            {"lineEdit_1Factor=1", "lineEdit_2Factor=2", "lineEdit_3Factor=3", "lineEdit_4Factor=4", "lineEdit_1Factor_2=10",
             "lineEdit_2Factor_2=20", "lineEdit_3Factor_2=30", "lineEdit_4Factor_2=255"});
        // More than 60 bytes in one tick.
        row("transparent read of 133 bytes", "on_pushButton_TransRead_clicked", {readReply(counting(128))},
            {"lineEdit_TransRead=" + hexText(counting(128))});
        // Bytes after the first complete reply are ignored, also a start of another reply.
        row("reply followed by 70 stray bytes", "pushButton_GetTempHumi", {TempReply + QByteArray(70, '\x55')},
            {"lineEdit_Temp=-10", "lineEdit_Humi=246"});
        row("reply followed by a reply start", "pushButton_GetTempHumi", {TempReply + hex("01 03 02 05 05")},
            {"lineEdit_Temp=-10", "lineEdit_Humi=246"});
        // A reply cut by a tick boundary is joined with the next tick's bytes.
        row("cut after the function", "pushButton_GetTempHumi", {TempReply.left(2), TempReply.mid(2)}, {"lineEdit_Humi=246"});
        row("cut inside the CRC", "pushButton_GetTempHumi", {TempReply.left(6), TempReply.mid(6)}, {"lineEdit_Humi=246"});
        row("transparent read cut", "on_pushButton_TransRead_clicked", {TransReply.left(20), TransReply.mid(20)},
            {"lineEdit_TransRead=" + TransText});
    }

    void accepted()
    {
        QFETCH(QString, trigger);
        QFETCH(QString, sendObject);
        QFETCH(QByteArrayList, ticks);
        QFETCH(QStringList, widgets);
        QFETCH(QStringList, lines);

        QVERIFY(set("comboBoxSendObject=" + sendObject));
        const QByteArray sent = request(trigger);
        QCOMPARE(sent.size(), 8);
        QCOMPARE(quint8(sent.at(1)), quint8(0x03));
        QCOMPARE(raisedFlags().size(), 1);

        QVERIFY(sendOnTicks(ticks));
        QTRY_COMPARE_WITH_TIMEOUT(values(widgets), widgets, Wait);
        QTRY_COMPARE_WITH_TIMEOUT(logLines(), hexLines(ticks) + lines, Wait);
        QCOMPARE(raisedFlags(), QStringList());
    }

    // Replies refused with one log line (corrupted, never completed, exceptions): nothing is filled,
    // the query's flag stays raised and the next whole reply is decoded by itself.
    void refused_data()
    {
        QTest::addColumn<QString>("trigger");
        QTest::addColumn<QByteArrayList>("ticks");
        QTest::addColumn<QString>("note"); // the last log line contains it
        QTest::addColumn<QByteArray>("good");
        QTest::addColumn<QString>("filled"); // "objectName=value" once the good reply came
        auto temp = [](const char *name, const QByteArrayList &ticks, const char *note) {
            QTest::newRow(name) << "pushButton_GetTempHumi" << ticks << QString(note) << TempReply << "lineEdit_Humi=246";
        };
        auto trans = [](const char *name, const QByteArrayList &ticks, const char *note) {
            QTest::newRow(name) << "on_pushButton_TransRead_clicked" << ticks << QString(note) << TransReply
                                << "lineEdit_TransRead=" + TransText;
        };
        QByteArray badLow = TempReply;
        badLow[5] = char(quint8(badLow.at(5)) ^ 0x01);
        QByteArray badHigh = TempReply;
        badHigh[6] = char(quint8(badHigh.at(6)) ^ 0x80);
        temp("low CRC byte wrong", {badLow}, "CRC");
        temp("high CRC byte wrong", {badHigh}, "CRC");
        temp("wrong CRC, good reply after it", {badLow + TempReply}, "CRC");
        // The CRC sits after the bytes the count announces, not at the end of the block.
        temp("CRC placed after a wrong count", {withCrc("01 03 01 F6 F6")}, "CRC");
        temp("never completed", {TempReply.left(4)}, "Incomplete");
        temp("function alone, never completed", {TempReply.left(2)}, "Incomplete");
        // Ticks of fewer than 4 bytes get no hexadecimal line.
        temp("three bytes, never completed", {TempReply.left(3)}, "Incomplete");
        trans("byte count beyond the bytes received", {TransReply.left(11)}, "Incomplete");
        temp("exception, read", {withCrc("01 83 02")}, "Device refused the request: exception 2 (illegal data address)");
    }

    void refused()
    {
        QFETCH(QString, trigger);
        QFETCH(QByteArrayList, ticks);
        QFETCH(QString, note);
        QFETCH(QByteArray, good);
        QFETCH(QString, filled);

        QCOMPARE(request(trigger).size(), 8);
        const QStringList flags = raisedFlags();
        QCOMPARE(flags.size(), 1);
        QVERIFY(sendOnTicks(ticks));
        QVERIFY(waitTicks(4)); // more than a second: a kept start has been dropped by now
        QCOMPARE(values({filled}), QStringList{filled.section('=', 0, 0) + '='});
        QCOMPARE(raisedFlags(), flags);
        const QStringList lines = logLines();
        QCOMPARE(lines.size(), hexLines(ticks).size() + 1);
        QCOMPARE(lines.mid(0, lines.size() - 1), hexLines(ticks));
        QVERIFY2(lines.last().contains(note), qPrintable(lines.last()));

        QVERIFY(sendOnNextTick(good));
        QTRY_COMPARE_WITH_TIMEOUT(values({filled}), QStringList{filled}, Wait);
        QCOMPARE(raisedFlags(), QStringList());
        QCOMPARE(logLines(), lines + QStringList{hexText(good)});
    }

    // A write echo the window knows opens a box, and its text follows the hexadecimal line in the
    // log once the box is closed; one from another address is only logged.
    void writeEchoes()
    {
        closer = std::make_unique<ModalCloser>(300);
        // The box runs a nested event loop, so its moment is observed from a timer inside it.
        QStringList logWhileOpen;
        QTimer sampler;
        connect(&sampler, &QTimer::timeout, this, [&] {
            if (closer->isBoxOpen())
                logWhileOpen = logLines();
        });
        sampler.start(10);

        const QByteArray other = hex("01 06 00 B1 00 03 99 EC");
        QVERIFY(sendOnNextTick(other));
        QVERIFY(waitTicks(2));
        QCOMPARE(closer->count(), 0);
        QCOMPARE(logLines(), QStringList{hexText(other)});

        const QByteArray echo = hex("00 06 00 B1 00 03 98 3D");
        QVERIFY(sendOnNextTick(echo));
        QTRY_COMPARE_WITH_TIMEOUT(closer->count(), 1, Wait);
        QTRY_COMPARE_WITH_TIMEOUT(logLines(), (QStringList{hexText(other), hexText(echo), "Device change to MODBUS!"}), Wait);
        QCOMPARE(logWhileOpen, (QStringList{hexText(other), hexText(echo)}));
        const ModalCloser::Box box = closer->boxes().first();
        QCOMPARE(box.title, QStringLiteral("Information"));
        QCOMPARE(box.text, QStringLiteral("Device change to MODBUS!"));
        QCOMPARE(box.buttons, QStringList{"Ok"});
    }

    void nativeReplies_data()
    {
        QTest::addColumn<QByteArrayList>("ticks");
        QTest::addColumn<QString>("deviceId");
        QTest::addColumn<QString>("softId");
        QTest::addColumn<bool>("request"); // a firmware-identifier request follows
        QTest::addColumn<int>("logCount");

        const QByteArray device = nativeFrame(0xA6, 8, hex("12 34 AB CD"));
        const QByteArray firmware = nativeFrame(0xB5, 9, hex("01 FF 03"));
        QByteArray badChecksum = device;
        badChecksum[17] = char(quint8(badChecksum.at(17)) ^ 0xFF);
        QTest::newRow("device id") << QByteArrayList{device} << "1234-abcd" << "" << true << 1;
        QTest::newRow("device id, checksum not examined") << QByteArrayList{badChecksum} << "1234-abcd" << "" << true << 1;
        QTest::newRow("firmware id") << QByteArrayList{firmware} << "" << "1--1-3" << false << 1;
        QTest::newRow("pair") << QByteArrayList{device + firmware} << "1234-abcd" << "1--1-3" << true << 1;
        QTest::newRow("device id in two ticks") << QByteArrayList{device.left(10), device.mid(10)} << "1234-abcd" << "" << true << 2;
        QTest::newRow("other id") << QByteArrayList{nativeFrame(0xA7, 8, hex("12 34 AB CD"))} << "" << "" << false << 1;
        QTest::newRow("device id never completed") << QByteArrayList{device.left(10)} << "" << "" << false << 2;
    }

    void nativeReplies()
    {
        QFETCH(QByteArrayList, ticks);
        QFETCH(QString, deviceId);
        QFETCH(QString, softId);
        QFETCH(bool, request);
        QFETCH(int, logCount);

        QCOMPARE(this->request("pushButton_GetInfo", 19), hex("AA A6 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 AB"));
        auto *edit = widget<QLineEdit>("Edit_DeviceID");
        QCOMPARE(edit->text(), QString());
        qint64 decodedAtTick = -1;
        QObject scope; // ends the connection with this function
        connect(edit, &QLineEdit::textChanged, &scope, [&](const QString &text) {
            if (!text.isEmpty())
                decodedAtTick = lastTickAt;
        });

        QVERIFY(sendOnTicks(ticks));
        if (request) {
            // Read before anything else, so the arrival time is taken when the bytes arrive.
            QCOMPARE(pty->read(19, Wait), hex("AA B5 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 AB"));
            const qint64 delay = clock.elapsed() - decodedAtTick;
            QVERIFY2(decodedAtTick >= 0 && delay >= 200 && delay < 600, qPrintable(QString::number(delay)));
        }
        QTRY_COMPARE_WITH_TIMEOUT(edit->text(), deviceId, Wait);
        QTRY_COMPARE_WITH_TIMEOUT(value("label_softid"), softId, Wait);
        QCOMPARE(pty->readFor(900), QByteArray()); // no further request
        QCOMPARE(edit->text(), deviceId);
        QCOMPARE(logLines().size(), logCount);
    }

    void probeWalksDownWithoutAnswer()
    {
        QVERIFY(waitTicks(1));
        QVERIFY(press("pushButton_GetBaudrate"));
        QList<int> rates{pty->baudRate()};
        QByteArray requests;
        QElapsedTimer watch;
        watch.start();
        while (watch.elapsed() < 4500) {
            requests += pty->readFor(10);
            if (pty->baudRate() != rates.last())
                rates << pty->baudRate();
        }
        QCOMPARE(rates, (QList<int>{19200, 9600, 4800, 2400, 9600}));
        QCOMPARE(requests, ProbeRequest.repeated(5));
        QCOMPARE(int(pendingReplies.pendingBaudrate), 0);
    }

    void probeStopsWhereAnswered()
    {
        closer = std::make_unique<ModalCloser>(2000);
        QVERIFY(waitTicks(1));
        QCOMPARE(request("pushButton_GetBaudrate"), ProbeRequest);
        QTRY_COMPARE_WITH_TIMEOUT(pty->baudRate(), 4800, 3000);

        // The box runs a nested event loop; the line speed is sampled from a timer inside it. Qt does
        // not re-enter the handler of the timer that opened the box, so the ticks that would run in
        // it are delivered here, every 300 ms.
        int samplesOpen = 0;
        QList<int> ratesSeen;
        QTimer sampler;
        connect(&sampler, &QTimer::timeout, this, [&] {
            if (closer->isBoxOpen() && ++samplesOpen % 30 == 0) {
                QTimerEvent tick(WindowProbe::pollTimerId(*window));
                QCoreApplication::sendEvent(window.get(), &tick);
            }
            if (!ratesSeen.contains(pty->baudRate()))
                ratesSeen << pty->baudRate();
        });
        sampler.start(10);
        QVERIFY(pty->write(hex("05 03 02 00 05 89 87")));
        QTRY_COMPARE_WITH_TIMEOUT(closer->count(), 1, Wait);
        QTRY_VERIFY_WITH_TIMEOUT(!closer->isBoxOpen(), 4000);
        QTest::qWait(1000);
        sampler.stop();

        QCOMPARE(closer->boxes().first().title, QStringLiteral("Information"));
        QCOMPARE(closer->boxes().first().text, QStringLiteral("Baudrate is 4800 !"));
        QVERIFY2(samplesOpen >= 100, qPrintable(QString::number(samplesOpen)));
        QCOMPARE(ratesSeen, QList<int>{4800});
        QCOMPARE(pty->baudRate(), 4800);
        QCOMPARE(int(pendingReplies.pendingBaudrate), 0);
    }

    void keepsCommandsWrittenBeforeTick()
    {
        QVERIFY(waitTicks(1));
        QVERIFY(press("pushButton_GetTempHumi") && press("pushButton_GetDeviceAddr"));
        // A tick that runs before the event loop has passed the requests to the line.
        QTimerEvent tick(WindowProbe::pollTimerId(*window));
        QCoreApplication::sendEvent(window.get(), &tick);
        QCOMPARE(pty->read(16, Wait), withCrc("00 03 00 A8 00 01") + withCrc("00 03 00 00 00 01"));
    }

    // A reply that reaches the port while a tick runs belongs to the next tick: the tick flushes
    // no input, so none of it is lost.
    void keepsRepliesArrivingAtTick()
    {
        QVERIFY(waitTicks(1));
        QVERIFY(press("pushButton_GetDeviceAddr"));
        QCOMPARE(pty->read(8, Wait), withCrc("00 03 00 00 00 01"));
        QVERIFY(pty->write(withCrc("01 03 02 00 2A")));
        QThread::msleep(50); // in the port, not yet taken in by the event loop
        QTimerEvent tick(WindowProbe::pollTimerId(*window));
        QCoreApplication::sendEvent(window.get(), &tick);
        QTRY_COMPARE_WITH_TIMEOUT(value("lineEdit_DeviceAddr"), QStringLiteral("2a"), Wait);
    }

    void ignoresOtherTimers()
    {
        pendingReplies.pendingBaudrate = 1;
        QTimerEvent foreign(WindowProbe::pollTimerId(*window) + 1000);
        QCoreApplication::sendEvent(window.get(), &foreign);
        QCOMPARE(pendingReplies.baudScanTicks, 0u);

        QVERIFY(press("pushButtonClose"));
        QCOMPARE(WindowProbe::pollTimerId(*window), -1);
        QCoreApplication::sendEvent(window.get(), &foreign);
        QTest::qWait(700);
        QCOMPARE(pendingReplies.baudScanTicks, 0u);
        QCOMPARE(int(pendingReplies.pendingBaudrate), 1);
        QCOMPARE(logLines(), QStringList());
    }

private:
    // Writes right after a tick, so the bytes are all in the port well before the next one.
    bool sendOnNextTick(const QByteArray &bytes) { return waitTicks(1) && pty->write(bytes); }
    bool sendOnTicks(const QByteArrayList &ticks)
    {
        return std::all_of(ticks.begin(), ticks.end(), [this](const QByteArray &tick) { return sendOnNextTick(tick); });
    }
    // Presses the trigger and returns the request that reaches the device.
    QByteArray request(const QString &trigger, int size = 8) { return press(trigger) ? pty->read(size, Wait) : QByteArray(); }

    std::unique_ptr<ModalCloser> closer;
};

QTEST_MAIN(ReceiveTest)
#include "tst_receive.moc"
