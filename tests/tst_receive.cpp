// The poll tick seen from the device's end of a pseudo-terminal: replies written to the line fill
// the real window's widgets for the query that asked for them, damaged or unasked replies fill
// nothing and say so, a query without an answer is reported, and the baud-rate probe walks,
// answers and stops. The test drives the window's clock and runs its poll ticks itself.
#include <QtTest>
#include <QtWidgets>

#include "testbytes.h"
#include "windowfixture.h"
#include "windowprobe.h"

#include <algorithm>
#include <memory>

namespace {

constexpr int Wait = 2000;
using Query = PendingReplies::Query;

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

QString noAnswer(const QString &caption)
{
    return QStringLiteral("No answer to %1 within 1 s: check the port, the baud rate and that the device is awake").arg(caption);
}

// The tool tip of a line that reports no answer.
const QString NoAnswerTip = QStringLiteral("Try \"GetBaudrate\" (tab \"ModbusAddr\") to find the device's baud rate, \"WakeUp\" "
                                           "(tab \"SetSleep\") in case it is asleep or \"ChangeToModbus\" in case it was switched "
                                           "to its native protocol.");

// The tool tip the pane shows with the mouse at y in its viewport; "none" when it shows none of
// its own.
QString toolTipAt(QPlainTextEdit *pane, int y)
{
    QToolTip::showText(pane->mapToGlobal(QPoint()), QStringLiteral("none"), pane); // stays unless the pane shows its own
    const QPoint at(20, y);
    QHelpEvent help(QEvent::ToolTip, at, pane->viewport()->mapToGlobal(at));
    QApplication::sendEvent(pane->viewport(), &help);
    return QToolTip::text();
}

const QByteArray ProbeRequest = hex("00 03 00 00 00 01 85 DB");
const QByteArray TempRequest = withCrc("00 03 00 A8 00 01");
const QByteArray TempReply = readReply("17 2D"); // 23 °C, 45 %
const QByteArray Measurement = hex("01 03 08 00 7B 01 C8 03 15 00 00 AF 51");
const QString MeasurementValues = QStringLiteral("PM2.5 = 12.3  PM10 = 45.6  PM100 = 789");
const QByteArray DeviceFrame = nativeFrame(0xA6, 8, hex("12 34 AB CD"));
const QByteArray FirmwareRequest = hex("AA B5 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 AB");

} // namespace

class ReceiveTest : public WindowFixture
{
    Q_OBJECT

private slots:
    void init()
    {
        QVERIFY(openOnPty());
        driveTime();
    }

    void cleanup() { closeAll(); }

    // Each query's reply fills its own widgets, whole or cut by tick boundaries.
    void accepted_data()
    {
        QTest::addColumn<QString>("trigger");
        QTest::addColumn<QByteArrayList>("ticks"); // written on successive ticks
        QTest::addColumn<QStringList>("widgets");  // "objectName=value"
        QTest::addColumn<QStringList>("lines");    // log lines after the hexadecimal ones
        auto row = [](const char *name, const char *trigger, const QByteArrayList &ticks, const QStringList &widgets,
                      const QStringList &lines = {}) {
            QTest::newRow(name) << QString(trigger) << ticks << widgets << lines;
        };

        row("measurement", "pushButton_GetSensorData", {Measurement}, {}, {"All Sensor: " + MeasurementValues});
        row("address", "pushButton_GetDeviceAddr", {readReply("00 0A")}, {"lineEdit_DeviceAddr=a"});
        row("clean setting", "pushButton_AutoCleanDust", {readReply("1E 3C")},
            {"lineEdit_AutoCleanTime=30", "lineEdit_AutoCleanDustJianGe=60"});
        row("heat mode auto", "pushButton_GetHeatMode", {readReply("01 00")}, {"radioButton_AutoHeat=1", "radioButton_ManualHeat=0"});
        row("work mode", "pushButton_GetWorkMode", {readReply("03 05")},
            {"radioButton_Autoall=0", "radioButton_Autosingle=0", "radioButton_Manualset=1", "checkBox_No1=1", "checkBox_No2=0",
             "checkBox_No3=1", "checkBox_No4=0"});
        // A ticked box marks a unit in error state; the log line says it also when none is ticked.
        row("self test", "pushButton_GetSelfCheck", {readReply("00 0E")},
            {"checkBox_Selfcheck1=1", "checkBox_Selfcheck2=0", "checkBox_Selfcheck3=0", "checkBox_Selfcheck4=0"},
            {"Self test: No.1 failed; No.2, No.3, No.4 passed"});
        row("self test, two failed", "pushButton_GetSelfCheck", {readReply("00 05")},
            {"checkBox_Selfcheck1=0", "checkBox_Selfcheck2=1", "checkBox_Selfcheck3=0", "checkBox_Selfcheck4=1"},
            {"Self test: No.2, No.4 failed; No.1, No.3 passed"});
        row("self test, all passed", "pushButton_GetSelfCheck", {readReply("00 0F")},
            {"checkBox_Selfcheck1=0", "checkBox_Selfcheck2=0", "checkBox_Selfcheck3=0", "checkBox_Selfcheck4=0"},
            {"Self test: all four units passed"});
        row("self test, all failed", "pushButton_GetSelfCheck", {readReply("00 00")},
            {"checkBox_Selfcheck1=1", "checkBox_Selfcheck2=1", "checkBox_Selfcheck3=1", "checkBox_Selfcheck4=1"},
            {"Self test: all four units failed"});
        row("global", "pushButton_GetGlobalOnOff", {readReply("00 0A")},
            {"checkBox_Global1=0", "checkBox_Global2=1", "checkBox_Global3=0", "checkBox_Global4=1"});
        row("temperature and humidity", "pushButton_GetTempHumi", {readReply("F6 F6")}, {"lineEdit_Temp=-10", "lineEdit_Humi=246"});
        row("heat temperature thresholds", "pushButton_HeatTemp", {readReply("F6 05")},
            {"lineEdit_HeatTempHigh=-10", "lineEdit_HeatTempLow=5"});
        row("heat humidity thresholds", "pushButton_HeatHumi", {readReply("50 1E")},
            {"lineEdit_HeatHumiHigh=80", "lineEdit_HeatHumiLow=30"});
        row("calibration", "pushButton_Calibrate", {readReply("00 05 00 64")}, {"lineEdit_CalibrZero=-5", "lineEdit_CalibrateFactor=100"});
        const QByteArray trans = readReply(counting(38, 0xA0));
        row("transparent read over three ticks", "on_pushButton_TransRead_clicked", {trans.left(2), trans.mid(2, 20), trans.mid(22)},
            {"lineEdit_TransRead=" + hexText(counting(38, 0xA0))});
        row("factors", "on_pushButton_GetFactor_clicked", {readReply("01 02 03 04 0A 14 1E FF")},
            {"lineEdit_1Factor=1", "lineEdit_2Factor=2", "lineEdit_3Factor=3", "lineEdit_4Factor=4", "lineEdit_1Factor_2=10",
             "lineEdit_2Factor_2=20", "lineEdit_3Factor_2=30", "lineEdit_4Factor_2=255"});
        row("glitch byte before the reply", "pushButton_GetTempHumi", {hex("FF") + TempReply},
            {"lineEdit_Temp=23", "lineEdit_Humi=45"}, {"Unframed bytes dropped: ff"});
    }

    void accepted()
    {
        QFETCH(QString, trigger);
        QFETCH(QByteArrayList, ticks);
        QFETCH(QStringList, widgets);
        QFETCH(QStringList, lines);

        QVERIFY(set({"comboBoxAutoCleanDust=Query", "comboBox_HeatTemp=Query", "comboBox_HeatHumi=Query", "comboBox_Calibrate=Query"}));
        QCOMPARE(request(trigger).size(), 8);
        QVERIFY(sendOnTicks(ticks));
        QCOMPARE(values(widgets), widgets);
        QCOMPARE(logLines(), hexLines(ticks) + lines);
        QVERIFY(WindowProbe::pending(*window).queries.isEmpty());
    }

    // Damaged replies and refusals fill nothing; the query they belonged to either ends with the
    // device's refusal or is reported unanswered.
    void refused_data()
    {
        QTest::addColumn<QByteArrayList>("ticks");
        QTest::addColumn<QStringList>("lines"); // after the hexadecimal ones
        QByteArray badCrc = TempReply;
        badCrc[6] = char(quint8(badCrc.at(6)) ^ 0x80);
        const QString unanswered = noAnswer("QueryInnerTH");
        QTest::newRow("wrong CRC") << QByteArrayList{badCrc} << QStringList{"CRC mismatch", unanswered};
        QTest::newRow("never completed") << QByteArrayList{TempReply.left(4)} << QStringList{unanswered, "Incomplete reply dropped: 01 03 02 17"};
        QTest::newRow("answer of another size") << QByteArrayList{readReply("00 01 00 02")}
                                                << QStringList{"Reply ignored: it answers no outstanding query", unanswered};
        QTest::newRow("exception") << QByteArrayList{withCrc("01 83 02")}
                                   << QStringList{"Device refused QueryInnerTH: exception 2 (illegal data address)"};
        QTest::newRow("nothing") << QByteArrayList{} << QStringList{unanswered};
    }

    void refused()
    {
        QFETCH(QByteArrayList, ticks);
        QFETCH(QStringList, lines);
        QCOMPARE(request("pushButton_GetTempHumi"), TempRequest);
        QVERIFY(sendOnTicks(ticks));
        tick(5); // past the time-outs of the query and of a frame cut short
        QCOMPARE(values({"lineEdit_Temp="}), QStringList{"lineEdit_Temp="});
        const QStringList log = logLines();
        QCOMPARE(log.mid(0, hexLines(ticks).size()), hexLines(ticks));
        const QStringList notes = log.mid(hexLines(ticks).size());
        QCOMPARE(notes.size(), lines.size());
        for (int i = 0; i < lines.size(); ++i)
            QVERIFY2(notes.at(i).contains(lines.at(i)), qPrintable(notes.at(i)));
        QVERIFY(WindowProbe::pending(*window).queries.isEmpty());

        // A line that reports no answer says in its tool tip what to try; no other line has one.
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        auto *pane = widget<QPlainTextEdit>("textEditPM");
        int y = 0;
        for (QTextBlock block = pane->document()->begin(); block.isValid(); block = block.next()) {
            y = pane->cursorRect(QTextCursor(block)).center().y();
            QCOMPARE(toolTipAt(pane, y), block.text().startsWith("No answer") ? NoAnswerTip : QStringLiteral("none"));
        }
        QCOMPARE(toolTipAt(pane, y + pane->fontMetrics().height() * 2), QStringLiteral("none")); // below the last line

        // The next query's answer fills its own fields only.
        QCOMPARE(request("pushButton_GetDeviceAddr"), ProbeRequest);
        QVERIFY(sendOnNextTick(readReply("00 07")));
        QCOMPARE(value("lineEdit_DeviceAddr"), QStringLiteral("7"));
        QCOMPARE(values({"lineEdit_Temp=", "lineEdit_Humi="}), (QStringList{"lineEdit_Temp=", "lineEdit_Humi="}));
    }

    // Two queries pressed together, both replies in one poll: each goes to its own query, and the
    // measurement line names the unit chosen at the press.
    void twoRepliesInOnePoll()
    {
        QVERIFY(set("comboBoxSendObject=2"));
        QVERIFY(press("pushButton_GetSensorData") && press("pushButton_GetTempHumi"));
        QVERIFY(set("comboBoxSendObject=Avg"));
        QCOMPARE(pty->read(16, Wait), withCrc("00 03 02 B4 00 04") + TempRequest);
        QVERIFY(sendOnNextTick(Measurement + TempReply));
        QCOMPARE(values({"lineEdit_Temp=", "lineEdit_Humi="}), (QStringList{"lineEdit_Temp=23", "lineEdit_Humi=45"}));
        QCOMPARE(logLines(), (QStringList{hexText(Measurement + TempReply), "Sensor 2:  " + MeasurementValues}));
    }

    // The identity frame fills its field and 200 ms later, without a pause of the window, the
    // firmware request goes out; a frame with a wrong checksum fills nothing.
    void nativeReplies()
    {
        QCOMPARE(request("pushButton_GetInfo", 19), hex("AA A6 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 AB"));
        QByteArray damaged = DeviceFrame;
        damaged[9] = char(0x35);
        QVERIFY(sendOnNextTick(damaged + DeviceFrame.left(5)));
        QVERIFY(sendOnNextTick(DeviceFrame.mid(5)));
        QCOMPARE(value("Edit_DeviceID"), QStringLiteral("1234-abcd"));
        const qint64 idAt = now;
        advanceTo(idAt + 199);
        QCOMPARE(written.size(), 1);
        advanceTo(idAt + 200);
        QCOMPARE(written.size(), 2);
        QCOMPARE(pty->read(19, Wait), FirmwareRequest);
        QVERIFY(sendOnNextTick(nativeFrame(0xB5, 9, hex("01 FF 03"))));
        QCOMPARE(value("label_softid"), QStringLiteral("1--1-3"));
        QCOMPARE(value("Edit_DeviceID"), QStringLiteral("1234-abcd"));
        QVERIFY(logLines().contains("Reply refused: checksum mismatch (expected bf, got be)"));
        QCOMPARE(logLines().filter("No answer").size(), 0);
    }

    // Known write echoes open a box that does not stop the poll; a damaged echo opens none, and
    // neither does the echo of a write that was never sent.
    void writeEchoes()
    {
        const QByteArray echo = hex("00 06 00 B1 00 03 98 3D");
        QByteArray damaged = echo;
        damaged[5] = char(0x02);
        QVERIFY(sendOnNextTick(echo));
        QCOMPARE(closeBoxes(), QStringList());
        QVERIFY(logLines().contains("Reply ignored: it answers no outstanding query"));
        QCOMPARE(request("pushButton_ChangeToModbus"), echo);
        QVERIFY(sendOnNextTick(damaged));
        QCOMPARE(closeBoxes(), QStringList());

        QVERIFY(press("pushButton_SetFactoryConfig"));
        QCOMPARE(closeBoxes(QMessageBox::Yes).size(), 1); // asked first
        QCOMPARE(pty->read(8, Wait), hex("00 06 00 A5 00 01 59 F8"));
        QVERIFY(sendOnNextTick(echo));
        // While the box is open the poll goes on; a second echo only logs its line.
        QVERIFY(sendOnNextTick(hex("00 06 00 A5 00 01 59 F8")));
        QVERIFY(logLines().contains("Device change to FactoryConfig!"));
        QCOMPARE(closeBoxes(), QStringList{"Information: Device change to MODBUS!"});
        QCOMPARE(logLines().filter(QRegularExpression("^Device change")),
                 (QStringList{"Device change to MODBUS!", "Device change to FactoryConfig!"}));
        QCOMPARE(logLines().filter("CRC mismatch").size(), 1);
        QCOMPARE(logLines().filter("Reply ignored").size(), 1);
    }

    // An adapter that echoes every request: with local echo on, queries and writes work and no
    // confirmation appears that no device sent; off, the copy of a write passes for one.
    void localEcho()
    {
        const QByteArray change = hex("00 06 00 B1 00 03 98 3D");
        QCOMPARE(request("pushButton_ChangeToModbus"), change);
        QVERIFY(sendOnNextTick(change)); // the adapter's copy, no device
        QCOMPARE(closeBoxes().size(), 1);

        auto *option = window->findChild<QAction *>("actionLocalEcho");
        option->trigger();
        QVERIFY(MainWindow::rememberedLocalEcho());
        QCOMPARE(request("pushButton_ChangeToModbus"), change);
        QVERIFY(sendOnNextTick(change));
        tick(2);
        QCOMPARE(closeBoxes(), QStringList());
        QCOMPARE(request("pushButton_ChangeToModbus"), change);
        QVERIFY(sendOnNextTick(change + change)); // the copy, then the device's own echo
        QCOMPARE(closeBoxes().size(), 1);

        // Two queries written back to back: both copies come back before both replies.
        QVERIFY(press("pushButton_GetSensorData") && press("pushButton_GetTempHumi"));
        const QByteArray requests = pty->read(16, Wait);
        QVERIFY(sendOnNextTick(requests + Measurement + TempReply));
        QCOMPARE(values({"lineEdit_Temp=", "lineEdit_Humi="}), (QStringList{"lineEdit_Temp=23", "lineEdit_Humi=45"}));
        QVERIFY(logLines().contains("All Sensor: " + MeasurementValues));
        QCOMPARE(logLines().filter(QRegularExpression("^(Unframed|Reply refused|No answer)")), QStringList());
        option->trigger();
        QVERIFY(!MainWindow::rememberedLocalEcho());
    }

    // An exception names the function that failed, not the read: with two reads waiting it says
    // so, ends the oldest, and the other one's answer still fills its fields.
    void refusalWithTwoReadsWaiting()
    {
        QVERIFY(set("comboBox_Calibrate=Query"));
        QVERIFY(press("pushButton_GetTempHumi") && press("pushButton_Calibrate"));
        QVERIFY(sendOnNextTick(withCrc("01 83 02")));
        QCOMPARE(logLines().last(), QStringLiteral("Device refused a read while QueryInnerTH, Calibration were waiting: "
                                                   "exception 2 (illegal data address); taken as the answer to QueryInnerTH"));
        QVERIFY(sendOnNextTick(readReply("00 05 00 64")));
        QCOMPARE(values({"lineEdit_CalibrZero=", "lineEdit_CalibrateFactor="}),
                 (QStringList{"lineEdit_CalibrZero=-5", "lineEdit_CalibrateFactor=100"}));
    }

    // A caption loses its closing colon inside a sentence, a full-width one too.
    void captionInSentence()
    {
        QCOMPARE(request("on_pushButton_TransRead_clicked"), withCrc("00 03 01 11 00 13"));
        QVERIFY(sendOnNextTick(withCrc("01 83 02")));
        QVERIFY(logLines().contains("Device refused TransRead: exception 2 (illegal data address)"));
    }

    // Each rate's request goes out on a quiet line and is held three polls; at the end the port
    // and the rate box are back at 9600, whatever the box showed before.
    void probeWalksDownWithoutAnswer()
    {
        QVERIFY(set("comboBox_BoudRate=4800"));
        QVERIFY(press("pushButton_GetBaudrate"));
        QList<int> rates{pty->baudRate()};
        for (int i = 0; i < 20; ++i) {
            tick();
            if (pty->baudRate() != rates.last())
                rates << pty->baudRate();
        }
        QCOMPARE(rates, (QList<int>{4800, 19200, 9600, 4800, 2400, 9600}));
        QCOMPARE(value("comboBox_BoudRate"), QStringLiteral("9600"));
        QCOMPARE(written, (QList<QByteArray>{ProbeRequest, ProbeRequest, ProbeRequest, ProbeRequest}));
        QCOMPARE(pty->read(32, Wait), ProbeRequest.repeated(4));
        QCOMPARE(logLines(), QStringList{"GetBaudrate: no rate answered (19200, 9600, 4800 and 2400 baud tried); the port is back at 9600 baud"});
        QVERIFY(WindowProbe::pending(*window).queries.isEmpty());
    }

    // The answer stops the walk, the port-speed box shows the rate (2400 added when found), and a
    // measurement that was not answered is never taken for the probe's answer.
    void probeStopsWhereAnswered()
    {
        QVERIFY(press("pushButton_GetSensorData") && press("pushButton_GetBaudrate"));
        tick();
        QCOMPARE(pty->read(16, Wait), withCrc("00 03 00 B4 00 04") + ProbeRequest);
        QVERIFY(tickUntil([this] { return pty->baudRate() == 2400; }, 16));
        tick(); // the request at 2400 goes out once the line has been quiet
        QVERIFY(sendOnNextTick(hex("05 03 02 00 05 89 87")));
        QCOMPARE(closeBoxes(), QStringList{"Information: Baudrate is 2400 !"});
        QCOMPARE(value("comboBox_BoudRate"), QStringLiteral("2400"));
        tick(4);
        QCOMPARE(pty->baudRate(), 2400);
        QCOMPARE(logLines().filter("Sensor").size(), 0);
        QVERIFY(logLines().contains(noAnswer("ReadResult")));

        // Close and Open keep the rate found.
        QVERIFY(press("pushButtonClose") && press("pushButtonOpen"));
        QCOMPARE(pty->baudRate(), 2400);
    }

    // The answer to the request at 19200 comes after the walk moved on to 9600: it is late, not
    // the device's answer at 9600, and the request at 9600 waits for a quiet poll.
    void probeAnswerAfterTheRateMovedOn()
    {
        QVERIFY(press("pushButton_GetBaudrate"));
        QVERIFY(tickUntil([this] { return pty->baudRate() == 19200; }));
        QVERIFY(tickUntil([this] { return pty->baudRate() == 9600; }));
        const int written19200 = written.size();
        QVERIFY(sendOnNextTick(hex("05 03 02 00 05 89 87")));
        QCOMPARE(closeBoxes(), QStringList());
        QVERIFY2(logLines().contains("Late reply dropped: it came after GetBaudrate had moved on from 19200 baud"), qPrintable(logLines().join(" | ")));
        QCOMPARE(written.size(), written19200); // not quiet yet
        tick();
        QCOMPARE(written.size(), written19200 + 1);
        QVERIFY(sendOnNextTick(hex("05 03 02 00 05 89 87")));
        QCOMPARE(closeBoxes(), QStringList{"Information: Baudrate is 9600 !"});
    }

    // Closing the port, or unplugging its adapter, stops the probe; one pressed while the port is
    // closed never starts.
    void probeEndsWithThePort_data()
    {
        QTest::addColumn<bool>("unplug");
        QTest::newRow("closed") << false;
        QTest::newRow("unplugged") << true;
    }

    void probeEndsWithThePort()
    {
        QFETCH(bool, unplug);
        QVERIFY(press("pushButton_GetBaudrate"));
        QVERIFY(tickUntil([this] { return pty->baudRate() == 9600; }));
        tick(); // the request at 9600 is on the line
        if (unplug) {
            pty = std::make_unique<PtyPair>(); // the old terminal's device end is gone
            QTRY_VERIFY_WITH_TIMEOUT(!WindowProbe::serial(*window).isOpen(), Wait);
            widget<QComboBox>("comboBoxCOM")->setEditText(pty->slavePath());
        } else {
            QVERIFY(press("pushButtonClose"));
        }
        QVERIFY(logLines().contains(QStringLiteral("GetBaudrate stopped: the port was closed")));
        // Opened again, the port keeps its speed and the device hears nothing more.
        QVERIFY(press("pushButtonOpen"));
        QVERIFY(WindowProbe::serial(*window).isOpen());
        const int writtenBefore = written.size();
        tick(5);
        QCOMPARE(pty->baudRate(), 9600);
        QCOMPARE(written.size(), writtenBefore);
        QVERIFY(press("pushButtonClose") && press("pushButton_GetBaudrate"));
        QCOMPARE(logLines().last(), QStringLiteral("Request not sent: the port is not open."));
        QVERIFY(WindowProbe::pending(*window).queries.isEmpty() && !WindowProbe::session(*window).probing());
    }

    void ignoresOtherTimers()
    {
        QVERIFY(press("pushButton_GetBaudrate"));
        tick(2);
        const quint32 ticksCounted = WindowProbe::session(*window).probe().pollsAtRate();
        driven = false; // the window's own timer handling decides
        QTimerEvent foreign(WindowProbe::pollTimerId(*window) + 1000);
        QCoreApplication::sendEvent(window.get(), &foreign);
        QCOMPARE(WindowProbe::session(*window).probe().pollsAtRate(), ticksCounted);
        QTimerEvent poll(WindowProbe::pollTimerId(*window));
        QCoreApplication::sendEvent(window.get(), &poll);
        QCOMPARE(WindowProbe::session(*window).probe().pollsAtRate(), ticksCounted + 1);
    }

private:
    // Puts the bytes in the port, then runs the tick that reads them.
    bool sendOnNextTick(const QByteArray &bytes)
    {
        if (!deliver(bytes))
            return false;
        tick();
        return true;
    }
    bool sendOnTicks(const QByteArrayList &ticks)
    {
        return std::all_of(ticks.begin(), ticks.end(), [this](const QByteArray &tick) { return sendOnNextTick(tick); });
    }
    // Presses the trigger and returns the requests that reach the device.
    QByteArray request(const QString &trigger, int size = 8)
    {
        return press(trigger) ? pty->read(size, Wait) : QByteArray();
    }
};

QTEST_MAIN(ReceiveTest)
#include "tst_receive.moc"
