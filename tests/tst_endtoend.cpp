// The real window against the simulated sensor (zelvik-sensor-sim) on a pseudo-terminal: queries
// fill the widgets with the device's values, whole or split in two, settings survive a round trip
// through the device, the protocol switches and the baud-rate probe are confirmed, and presses
// close together each get their own answer. Measurements and corrupted or dropped replies are the
// soak's (tests/soak). The simulator's path comes from the environment variable ZELVIK_SIM.
#include <QtTest>
#include <QtWidgets>

#include "modalcloser.h"
#include "pendingreplies.h"
#include "simprocess.h"
#include "testbytes.h"
#include "windowfixture.h"
#include "windowprobe.h"

#include <memory>

namespace {

constexpr int Answer = 3000; // how long a reply may take to show up in the window, in ms
constexpr int Tick = 300;    // the window's poll period

} // namespace

class EndToEndTest : public WindowFixture
{
    Q_OBJECT

private slots:
    void init() { closer = std::make_unique<ModalCloser>(50); }

    void cleanup()
    {
        closeAll(); // closes the port before the device goes away
        sim.reset();
        closer.reset();
    }

    void queries_data()
    {
        QTest::addColumn<QStringList>("simOptions");
        QTest::addColumn<QStringList>("steps");    // see step()
        QTest::addColumn<QString>("query");        // pressed once, not waited for
        QTest::addColumn<QStringList>("expected"); // "name=value"

        struct Row {
            const char *name;
            QStringList options, steps;
            QString query;
            QStringList expected;
            bool alsoSplit = true; // run once more with every reply split in two
        };
        // Values not set by an option are the simulated device's factory settings.
        const QList<Row> rows = {
            {"identity", {}, {}, "pushButton_GetInfo", {"Edit_DeviceID=1234-abcd", "label_softid=1-3--2"}},
            {"self test", {"--self-test", "0x5"}, {}, "pushButton_GetSelfCheck",
             {"checkBox_Selfcheck1=0", "checkBox_Selfcheck2=1", "checkBox_Selfcheck3=0", "checkBox_Selfcheck4=1"}},
            {"temperature and humidity", {"--temp", "-5", "--humidity", "61"}, {}, "pushButton_GetTempHumi",
             {"lineEdit_Temp=-5", "lineEdit_Humi=61"}},
            // Units 1 and 3 passed their self test (factor near 100), 2 and 4 failed (38, suspected 62).
            {"factors", {"--self-test", "0x5"}, {}, "on_pushButton_GetFactor_clicked",
             {"lineEdit_1Factor=100", "lineEdit_2Factor=38", "lineEdit_3Factor=102", "lineEdit_4Factor=38",
              "lineEdit_1Factor_2=0", "lineEdit_2Factor_2=62", "lineEdit_3Factor_2=0", "lineEdit_4Factor_2=62"}},
            // The unit answers the "Sleep" frame written to its channel with the frame itself; the
            // read returns it padded with zeros to 19 registers.
            {"transparent read", {}, {"comboBoxTransObject=2", "comboBoxCommonCMD=Sleep", "on_pushButton_TransSend_clicked"},
             "on_pushButton_TransRead_clicked",
             {"lineEdit_TransRead=" + hexText(QByteArray::fromHex("AAB40601") + QByteArray(11, '\0')
                                              + QByteArray::fromHex("FFFF05AB") + QByteArray(19, '\0'))}},
            // Set, then query: the device keeps what was set. The tool sends every request to address 0,
            // so it still reaches the device after the address change.
            {"set address", {}, {"lineEdit_DeviceAddr=a", "pushButton_SetDeviceAddr"}, "pushButton_GetDeviceAddr",
             {"lineEdit_DeviceAddr=a"}, false},
            // The device answers only at its own rate: the query works only if the device really moved.
            {"set baud rate", {}, {"comboBox_SetBoudRate=19200", "pushButton_SetBaudrate", "~pushButtonClose",
                                   "comboBox_BoudRate=19200", "~pushButtonOpen"},
             "pushButton_GetDeviceAddr", {"lineEdit_DeviceAddr=1"}, false},
            {"set heat temperature thresholds", {}, {"comboBox_HeatTemp=Set", "lineEdit_HeatTempHigh=40", "lineEdit_HeatTempLow=-10",
                                                      "pushButton_HeatTemp", "comboBox_HeatTemp=Query"},
             "pushButton_HeatTemp", {"lineEdit_HeatTempHigh=40", "lineEdit_HeatTempLow=-10"}, false},
            {"set heat humidity thresholds", {}, {"comboBox_HeatHumi=Set", "lineEdit_HeatHumiHigh=80", "lineEdit_HeatHumiLow=30",
                                                   "pushButton_HeatHumi", "comboBox_HeatHumi=Query"},
             "pushButton_HeatHumi", {"lineEdit_HeatHumiHigh=80", "lineEdit_HeatHumiLow=30"}, false},
            {"set heat mode", {}, {"radioButton_StartHeat=1", "pushButton_ManualHeat"}, "pushButton_GetHeatMode",
             {"radioButton_AutoHeat=0", "radioButton_ManualHeat=1"}, false},
            {"set calibration, No.2 PM100", {}, {"comboBox_Calibrate=Set", "comboBox_CalibrateObject=No.2",
                "comboBox_CalibrateRange=PM100", "lineEdit_CalibrZero=-20", "lineEdit_CalibrateFactor=100", "pushButton_Calibrate",
                "comboBox_Calibrate=Query"},
             "pushButton_Calibrate", {"lineEdit_CalibrZero=-20", "lineEdit_CalibrateFactor=100"}, false},
            {"set calibration, Avg PM2.5", {}, {"comboBox_Calibrate=Set", "lineEdit_CalibrZero=5", "lineEdit_CalibrateFactor=50",
                                                "pushButton_Calibrate", "comboBox_Calibrate=Query"},
             "pushButton_Calibrate", {"lineEdit_CalibrZero=5", "lineEdit_CalibrateFactor=50"}, false},
            {"set selected units", {}, {"checkBox_No2=1", "checkBox_No4=1", "pushButton_ManualSet"}, "pushButton_GetWorkMode",
             {"radioButton_Autoall=0", "radioButton_Autosingle=0", "radioButton_Manualset=1", "checkBox_No1=0", "checkBox_No2=1",
              "checkBox_No3=0", "checkBox_No4=1"}, false},
            {"set single unit", {}, {"pushButton_AutoSingle"}, "pushButton_GetWorkMode",
             {"radioButton_Autoall=0", "radioButton_Autosingle=1", "radioButton_Manualset=0"}, false},
            {"set global switches", {}, {"checkBox_Global1=1", "checkBox_Global3=1", "pushButton_SetGlobalOnOff"},
             "pushButton_GetGlobalOnOff", {"checkBox_Global1=1", "checkBox_Global2=0", "checkBox_Global3=1", "checkBox_Global4=0"}, false},
            {"set cleaning", {}, {"comboBoxAutoCleanDust=Set", "lineEdit_AutoCleanTime=30", "lineEdit_AutoCleanDustJianGe=12",
                                  "pushButton_AutoCleanDust", "comboBoxAutoCleanDust=Query"},
             "pushButton_AutoCleanDust", {"lineEdit_AutoCleanTime=30", "lineEdit_AutoCleanDustJianGe=12"}, false},
            {"factory reset", {}, {"comboBox_HeatTemp=Set", "lineEdit_HeatTempHigh=40", "lineEdit_HeatTempLow=-20",
                                   "pushButton_HeatTemp", "pushButton_SetFactoryConfig", "comboBox_HeatTemp=Query"},
             "pushButton_HeatTemp", {"lineEdit_HeatTempHigh=5", "lineEdit_HeatTempLow=-10"}, false},
        };
        for (const Row &row : rows) {
            QTest::newRow(row.name) << row.options << row.steps << row.query << row.expected;
            if (row.alsoSplit)
                QTest::addRow("%s, split", row.name) << row.options + QStringList{"--split", "--seed", "11"} << row.steps
                                                     << row.query << row.expected;
        }
    }

    void queries()
    {
        QFETCH(QStringList, simOptions);
        QFETCH(QStringList, steps);
        QFETCH(QString, query);
        QFETCH(QStringList, expected);
        QVERIFY2(launch(simOptions), qPrintable(failure));
        for (const QString &what : steps)
            QVERIFY2(step(what), qPrintable(what));
        QVERIFY(pressAfterTick(query));
        QTRY_COMPARE_WITH_TIMEOUT(values(expected), expected, Answer);
    }

    // SetFactorySetting asks first; the closer answers with the question's first button, Yes.
    void protocolEchoes_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("asked");
        QTest::newRow("native") << "pushButton_ChangeToModbus_2" << "Device change to Kelvra!" << false;
        QTest::newRow("modbus") << "pushButton_ChangeToModbus" << "Device change to MODBUS!" << false;
        QTest::newRow("factory") << "pushButton_SetFactoryConfig" << "Device change to FactoryConfig!" << true;
    }

    void protocolEchoes()
    {
        QFETCH(QString, button);
        QFETCH(QString, message);
        QFETCH(bool, asked);
        QVERIFY2(launch({}), qPrintable(failure));
        QVERIFY(pressAfterTick(button));
        QTRY_COMPARE_WITH_TIMEOUT(closer->count(), asked ? 2 : 1, Answer);
        if (asked) {
            QCOMPARE(closer->boxes().first().title, QStringLiteral("SetFactorySetting"));
            QCOMPARE(closer->boxes().first().buttons, (QStringList{"&Yes", "&No"}));
        }
        QCOMPARE(closer->boxes().last().title, QStringLiteral("Information"));
        QCOMPARE(closer->boxes().last().text, message);
        QTRY_COMPARE_WITH_TIMEOUT(logLines().value(logLines().size() - 1), message, Answer);
        QCOMPARE(logLines().count(message), 1);
    }

    // Pressed at any point of the poll, the probe finds the device's rate, stays there, and the
    // port-speed box shows it.
    void probeFindsDeviceRate_data()
    {
        QTest::addColumn<QStringList>("simOptions");
        QTest::addColumn<int>("presses"); // spread over one poll period
        QTest::addColumn<int>("rate");
        QTest::newRow("19200, answering after 50 ms") << QStringList{"--baud", "19200", "--delay", "50"} << 6 << 19200;
        QTest::newRow("4800") << QStringList{"--baud", "4800"} << 1 << 4800;
        QTest::newRow("2400") << QStringList{"--baud", "2400"} << 1 << 2400;
    }

    void probeFindsDeviceRate()
    {
        QFETCH(QStringList, simOptions);
        QFETCH(int, presses);
        QFETCH(int, rate);
        QVERIFY2(launch(simOptions), qPrintable(failure));
        QSerialPort &port = WindowProbe::serial(*window);
        int found = 0;
        for (int i = 0; i < presses; ++i) {
            QVERIFY(press("pushButtonClose") && set("comboBox_BoudRate=9600") && press("pushButtonOpen"));
            closer->clear();
            QVERIFY(waitTicks(1));
            QTest::qWait(i * Tick / presses);
            QVERIFY(press("pushButton_GetBaudrate"));
            QTRY_VERIFY_WITH_TIMEOUT(closer->count() == 1 || !logLines().filter("no rate answered").isEmpty(), 4 * Answer);
            if (closer->count() == 1 && closer->boxes().first().text == QStringLiteral("Baudrate is %1 !").arg(rate))
                ++found;
        }
        QCOMPARE(found, presses);
        QCOMPARE(port.baudRate(), rate);
        QCOMPARE(value("comboBox_BoudRate"), QString::number(rate));
        QTest::qWait(4 * Tick); // later ticks leave the rate that answered alone
        QCOMPARE(port.baudRate(), rate);
        QVERIFY(pressAfterTick(QStringLiteral("pushButton_GetDeviceAddr")));
        QTRY_COMPARE_WITH_TIMEOUT(values({"lineEdit_DeviceAddr="}), QStringList{"lineEdit_DeviceAddr=1"}, Answer);
    }

    // Everyday sequences that used to show one query's answer in another's fields or lose a reply:
    // each press waits for nothing, and every answer lands where it belongs or is reported missing.
    void sequences_data()
    {
        QTest::addColumn<QStringList>("simOptions");
        QTest::addColumn<QStringList>("presses");  // pressed 40 ms apart
        QTest::addColumn<QStringList>("expected"); // "name=value"
        QTest::addColumn<QStringList>("lines");    // log lines that must appear, in this order
        QTest::addColumn<QString>("forbidden");    // a pattern no log line may match
        QTest::newRow("protocol switch and temperature")
            << QStringList{"--split"} << QStringList{"pushButton_ChangeToModbus", "pushButton_GetTempHumi"}
            << QStringList{"lineEdit_Temp=23", "lineEdit_Humi=45"} << QStringList{"^Device change to MODBUS!$"} << "^No answer";
        QTest::newRow("asleep: the measurement goes unanswered")
            << QStringList() << QStringList{"pushButton_SetSleep", "pushButton_GetSensorData", "pushButton_GetTempHumi"}
            << QStringList{"lineEdit_Temp=23", "lineEdit_Humi=45"}
            << QStringList{"^No answer to ReadResult within 1 s: check the port, the baud rate and that the device is awake$"}
            << "Sensor";
        // Every reply 1.35 s late: the temperature reply must not fill the address field. The delay
        // falls between two 300 ms ticks, so the tick that gives the query up (at 1.2 s) has not read
        // the reply even on a busy machine whose ticks come a little late.
        QTest::newRow("late device: a late reply is no answer to the next query of its size")
            << QStringList{"--late", "1350"} << QStringList{"pushButton_GetTempHumi", "pushButton_GetDeviceAddr"}
            << QStringList{"lineEdit_DeviceAddr=", "lineEdit_Temp=", "lineEdit_Humi="}
            << QStringList{"^No answer to QueryInnerTH within 1 s", "^Late reply dropped: it came after QueryInnerTH had been given up$",
                           "^No answer to GetModbusAddr within 1 s"}
            << "^Reply ignored";
        QTest::newRow("device at 4800: the probe's answer is no measurement")
            << QStringList{"--baud", "4800"} << QStringList{"pushButton_GetSensorData", "pushButton_GetBaudrate"}
            << QStringList{"comboBox_BoudRate=4800"} << QStringList{"^No answer to ReadResult within 1 s", "^Baudrate is 4800 !$"}
            << "Sensor";
    }

    void sequences()
    {
        QFETCH(QStringList, simOptions);
        QFETCH(QStringList, presses);
        QFETCH(QStringList, expected);
        QFETCH(QStringList, lines);
        QFETCH(QString, forbidden);
        QVERIFY2(launch(simOptions), qPrintable(failure));
        QVERIFY(pressAfterTick(presses.first()));
        for (const QString &button : presses.mid(1)) {
            QTest::qWait(40);
            QVERIFY(press(button));
        }
        QTRY_COMPARE_WITH_TIMEOUT(values(expected), expected, 3 * Answer);
        QTRY_VERIFY_WITH_TIMEOUT(WindowProbe::session(*window).outstanding() == 0, 4 * Answer);
        QTest::qWait(2 * Tick);
        const QStringList log = logLines();
        int at = 0;
        for (const QString &line : lines) {
            const QRegularExpression pattern(line);
            while (at < log.size() && !pattern.match(log.at(at)).hasMatch())
                ++at;
            QVERIFY2(at < log.size(), qPrintable(line + " missing from: " + log.join(" | ")));
        }
        if (!forbidden.isEmpty())
            QVERIFY2(log.filter(QRegularExpression(forbidden)).isEmpty(), qPrintable(log.join(" | ")));
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
        const bool opened = openPort(sim->path);
        failure = QStringLiteral("the window did not open %1: %2").arg(sim->path, logLines().join(QLatin1Char('|')));
        return opened;
    }
    // Presses 100 ms after a poll tick, so the two parts of a split reply (250 ms apart) reach the
    // window in two different ticks.
    bool pressAfterTick(const QString &action)
    {
        if (WindowProbe::polling(*window) && waitTicks(1))
            QTest::qWait(100);
        return press(action);
    }
    // "name=value" sets a widget; "~name" presses without waiting; "name" presses and waits until
    // the device's whole reply is out and a poll tick has taken it.
    bool step(const QString &what)
    {
        if (what.contains(QLatin1Char('=')))
            return set(what);
        if (what.startsWith(QLatin1Char('~')))
            return pressAfterTick(what.mid(1));
        const int before = sim->completeReplies();
        if (!pressAfterTick(what) || !QTest::qWaitFor([&] { return sim->completeReplies() > before; }, Answer))
            return false;
        QTest::qWait(2 * Tick);
        return true;
    }

    std::unique_ptr<Simulator> sim;
    std::unique_ptr<ModalCloser> closer;
    QString failure;
};

QTEST_MAIN(EndToEndTest)
#include "tst_endtoend.moc"
