// Window tests of the command buttons: each press of the real MainWindow must put exactly the
// expected request on a pseudo-terminal, echo it, empty the fields its reply will fill and raise
// its PendingReplies flag. Also covers the port's open/close/refresh/clear life cycle and speed.
#include "modalcloser.h"
#include "pendingflags.h"
#include "testbytes.h"
#include "windowfixture.h"
#include "windowprobe.h"

#include <QSerialPortInfo>
#include <QtTest>
#include <QtWidgets>

#include <algorithm>
#include <functional>

#include <sys/stat.h>
#include <unistd.h>

namespace {

const char *const sleepPreset = "aa b4 06 01 00 00 00 00 00 00 00 00 00 00 00 ff ff 05 ab ";

// "name=value" for each name.
QStringList all(const QStringList &names, const char *value)
{
    QStringList items;
    for (const QString &name : names)
        items << name + '=' + value;
    return items;
}

} // namespace

class TstCommands : public WindowFixture
{
    Q_OBJECT

private:
    bool isClosedState() const
    {
        return widget<QAbstractButton>("pushButtonOpen")->isEnabled()
            && !widget<QAbstractButton>("pushButtonClose")->isEnabled() && !WindowProbe::polling(*window);
    }
    bool isOpenState() const
    {
        return !widget<QAbstractButton>("pushButtonOpen")->isEnabled()
            && widget<QAbstractButton>("pushButtonClose")->isEnabled() && WindowProbe::polling(*window)
            && WindowProbe::serial(*window).isOpen();
    }
    // The one log line, which must start with or contain these texts.
    void checkOneLogLine(const QStringList &parts)
    {
        const QStringList lines = logLines();
        QCOMPARE(lines.size(), 1);
        for (const QString &part : parts)
            QVERIFY2(lines.first().contains(part), qPrintable(lines.first() + " lacks " + part));
    }

private slots:
    void init() { QVERIFY(openOnPty()); }
    void cleanup()
    {
        closeAll();
        pendingReplies = PendingReplies{};
    }

    void commands_data()
    {
        QTest::addColumn<bool>("open");
        QTest::addColumn<QString>("target");
        QTest::addColumn<QStringList>("setup");   // "name=value" set before the press
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<bool>("echoes");
        QTest::addColumn<QStringList>("emptied"); // "name=value" after the press; the rest of setup is kept
        QTest::addColumn<QString>("flag");
        // Each press also with the port closed.
        auto row = [](const char *tag, const char *target, const QStringList &setup, const QByteArray &frame,
                      bool echoes = true, const QStringList &emptied = {}, const char *flag = "") {
            for (const bool open : {true, false})
                QTest::addRow("%s%s", tag, open ? "" : ", port closed")
                    << open << QString(target) << setup << frame << echoes << emptied << QString(flag);
        };
        const QStringList factors = {"lineEdit_1Factor", "lineEdit_1Factor_2", "lineEdit_2Factor", "lineEdit_2Factor_2",
                                     "lineEdit_3Factor", "lineEdit_3Factor_2", "lineEdit_4Factor", "lineEdit_4Factor_2"};
        const QStringList units = {"checkBox_No1", "checkBox_No2", "checkBox_No3", "checkBox_No4"};
        const QStringList selfTest = {"checkBox_Selfcheck1", "checkBox_Selfcheck2", "checkBox_Selfcheck3", "checkBox_Selfcheck4"};
        const QStringList global = {"checkBox_Global1", "checkBox_Global2", "checkBox_Global3", "checkBox_Global4"};
        const char *sleepFrame = "aab40601 0000000000000000000000 ffff05ab";

        // Top area: identity, protocol, factory setting, measurement query.
        row("GetDeviceInfo", "pushButton_GetInfo", {"Edit_DeviceID=1234-abcd", "label_softid=fw"},
            hex("aaa6 000000000000000000000000000000 00ab"), false, {"Edit_DeviceID=", "label_softid="}, "pendingDeviceInfo");
        row("ChangeToModbus", "pushButton_ChangeToModbus", {}, hex("000600b10003983d"));
        row("ChangeToKelvra", "pushButton_ChangeToModbus_2", {}, hex("000600b10000d83c"));
        row("SetFactorySetting", "pushButton_SetFactoryConfig", {}, hex("000600a5000159f8"));
        row("ReadResult Avg", "pushButton_GetSensorData", {"comboBoxSendObject=Avg"}, hex("000300b4000405fe"), true, {}, "pendingSensorData");
        row("ReadResult 1", "pushButton_GetSensorData", {"comboBoxSendObject=1"}, hex("000301b400040402"), true, {}, "pendingSensorData");
        row("ReadResult 4", "pushButton_GetSensorData", {"comboBoxSendObject=4"}, withCrc("000304b40004"), true, {}, "pendingSensorData");
        // ModbusAddr tab.
        row("GetModbusAddr", "pushButton_GetDeviceAddr", {"lineEdit_DeviceAddr=1f"}, hex("00030000000185db"), true,
            {"lineEdit_DeviceAddr="}, "pendingModbusAddr");
        row("SetModbusAddr ff", "pushButton_SetDeviceAddr", {"lineEdit_DeviceAddr=ff"}, hex("0006000000ffc85b"));
        row("SetBaudrate 9600", "pushButton_SetBaudrate", {"comboBox_SetBoudRate=9600"}, hex("000600cd000359e5"));
        row("SetBaudrate 4800", "pushButton_SetBaudrate", {"comboBox_SetBoudRate=4800"}, withCrc("000600cd0002"));
        row("SetBaudrate 19200", "pushButton_SetBaudrate", {"comboBox_SetBoudRate=19200"}, withCrc("000600cd0004"));
        row("GetBaudrate", "pushButton_GetBaudrate", {}, hex("00030000000185db"), false, {}, "pendingBaudrate");
        row("TestBoudrate", "on_pushButtonTestBoudrate_clicked", {}, hex("00030000000185db"), false, {}, "pendingBaudrate");
        // SetSleep tab.
        row("SetSleep", "pushButton_SetSleep", {}, hex("000600a2000029f9"));
        row("WakeUp", "pushButton_WakeDevice", {}, hex("000600a20001e839"));
        // CleanDust tab.
        row("ManualClean initial", "pushButton_2", {}, hex("000600a9000ad83c"));
        row("AutoClean query", "pushButton_AutoCleanDust", {"comboBoxAutoCleanDust=Query", "lineEdit_AutoCleanTime=30",
            "lineEdit_AutoCleanDustJianGe=2"}, hex("000300aa0001a5fb"), true,
            {"lineEdit_AutoCleanTime=", "lineEdit_AutoCleanDustJianGe="}, "pendingCleanSetting");
        // SetHeater tab.
        row("ManualHeat at start-up", "pushButton_ManualHeat", {}, hex("000600ab0000f9fb"));
        row("ManualHeat started", "pushButton_ManualHeat", {"radioButton_StartHeat=1"}, withCrc("000600ab0001"));
        row("AutoHeat", "pushButton_AutoHeat", {}, hex("000600ab0100f86b"));
        // The mode query clears the mode only; the heater choice is a pair of its own.
        row("GetHeatMode", "pushButton_GetHeatMode", {"radioButton_AutoHeat=1", "radioButton_StartHeat=1"},
            hex("000300ab0001f43b"), true, {"radioButton_AutoHeat=0"}, "pendingHeatMode");
        row("HeatTemp query", "pushButton_HeatTemp", {"comboBox_HeatTemp=Query", "lineEdit_HeatTempHigh=40", "lineEdit_HeatTempLow=-10"},
            hex("000300ac000145fa"), true, {"lineEdit_HeatTempHigh=", "lineEdit_HeatTempLow="}, "pendingHeatTempThreshold");
        row("HeatTemp set", "pushButton_HeatTemp", {"comboBox_HeatTemp=Set", "lineEdit_HeatTempHigh=40", "lineEdit_HeatTempLow=-10"},
            withCrc("000600ac28f6"));
        row("HeatHumi query", "pushButton_HeatHumi", {"comboBox_HeatHumi=Query", "lineEdit_HeatHumiHigh=80", "lineEdit_HeatHumiLow=20"},
            hex("000300ad0001143a"), true, {"lineEdit_HeatHumiHigh=", "lineEdit_HeatHumiLow="}, "pendingHeatHumiThreshold");
        row("HeatHumi set", "pushButton_HeatHumi", {"comboBox_HeatHumi=Set", "lineEdit_HeatHumiHigh=80", "lineEdit_HeatHumiLow=20"},
            withCrc("000600ad5014"));
        // SetWorkMode tab. Masks of two units show the boxes' bit order (two masks pin it down).
        row("AutoAllWork", "pushButton_AutoAll", {}, hex("000600a6010069a8"));
        row("AutoSingleWork", "pushButton_AutoSingle", {}, hex("000600a602006958"));
        row("SelectWork 2+4", "pushButton_ManualSet", {"checkBox_No1=0", "checkBox_No2=1", "checkBox_No3=0", "checkBox_No4=1"},
            withCrc("000600a6030a"));
        row("QueryWorkMode", "pushButton_GetWorkMode", all(units, "1"), hex("000300a6000165f8"), true, all(units, "0"), "pendingWorkMode");
        // TempAndHumi, GetSelfTest, GlobalSet tabs.
        row("QueryInnerTH", "pushButton_GetTempHumi", {"lineEdit_Temp=25", "lineEdit_Humi=40"}, hex("000300a80001043b"), true,
            {"lineEdit_Temp=", "lineEdit_Humi="}, "pendingTempHumi");
        row("QuerySelfTest", "pushButton_GetSelfCheck", all(selfTest, "1"), hex("000300a700013438"), true, all(selfTest, "0"),
            "pendingSelfCheck");
        row("QueryGlobalSet", "pushButton_GetGlobalOnOff", all(global, "1"), hex("000300ae0001e43a"), true, all(global, "0"),
            "pendingGlobalSet");
        row("SetGlobalSet 1+2", "pushButton_SetGlobalOnOff", {"checkBox_Global1=1", "checkBox_Global2=1"}, withCrc("000600ae0003"));
        row("SetGlobalSet 1+3", "pushButton_SetGlobalOnOff", {"checkBox_Global1=1", "checkBox_Global3=1"}, withCrc("000600ae0005"));
        // Calibration tab.
        row("Calibrate query No.1 PM10", "pushButton_Calibrate", {"comboBox_Calibrate=Query", "comboBox_CalibrateObject=No.1",
            "comboBox_CalibrateRange=PM10", "lineEdit_CalibrZero=5", "lineEdit_CalibrateFactor=50"}, hex("000301c50002d41b"), true,
            {"lineEdit_CalibrZero=", "lineEdit_CalibrateFactor="}, "pendingCalibration");
        row("Calibrate set No.2 PM100", "pushButton_Calibrate", {"comboBox_Calibrate=Set", "comboBox_CalibrateObject=No.2",
            "comboBox_CalibrateRange=PM100", "lineEdit_CalibrZero=-20", "lineEdit_CalibrateFactor=100"}, hex("001002c700020400140064e26a"));
        // Withdrawn commands, reached through their slots.
        row("SetDeviceId 1234-abcd", "on_pushButton_SetID_clicked", {"Edit_DeviceID=1234-abcd"},
            hex("aaa7 000000000000 1234abcd 0000000000 be ab"), false);
        row("TransSend preset unit 1", "on_pushButton_TransSend_clicked", {"comboBoxTransObject=1", QString("lineEdit_TransSend=") + sleepPreset},
            hex("00100111000a14") + hex(sleepFrame) + hex("00 2755"));
        row("TransSend checksum unit 2", "on_pushButton_TransSend_clicked",
            {"comboBoxTransObject=2", "lineEdit_TransSend=aa b4 06 01 00 00 00 00 00 00 00 00 00 00 00 ff ff 00 ab"},
            hex("00100211000a13") + hex(sleepFrame) + hex("9d6f"));
        row("TransRead unit 1", "on_pushButton_TransRead_clicked", {"comboBoxTransObject=1"}, hex("000301110013542f"), true, {}, "pendingTransRead");
        row("QueryAllSelfTest", "on_pushButton_GetFactor_clicked", all(factors, "9"), hex("000300c9000495e6"), true, all(factors, ""),
            "pendingFactor");
    }

    // Port open: one frame per press reaches the device, and nothing is logged. Port closed: the
    // frame is still built, echoed and flagged, and the log says it was not sent.
    void commands()
    {
        QFETCH(bool, open);
        QFETCH(QString, target);
        QFETCH(QStringList, setup);
        QFETCH(QByteArray, frame);
        QFETCH(bool, echoes);
        QFETCH(QStringList, emptied);
        QFETCH(QString, flag);
        if (!open)
            QVERIFY(press("pushButtonClose"));
        QVERIFY(set(setup));
        QVERIFY(set("lineEdit_TransSend_2=sentinel"));
        QVERIFY(press(target));

        QCOMPARE(value("lineEdit_TransSend_2"), echoes ? hexText(frame) : QString("sentinel"));
        QStringList after = emptied;
        for (const QString &item : setup) {
            const QString name = item.section('=', 0, 0) + '=';
            if (std::none_of(emptied.begin(), emptied.end(), [&](const QString &e) { return e.startsWith(name); }))
                after << item;
        }
        QCOMPARE(values(after), after);
        // A query whose request could not go out waits for nothing.
        QCOMPARE(raisedFlags(), flag.isEmpty() || !open ? QStringList() : QStringList{flag + "=1"});
        pendingReplies = PendingReplies{}; // keeps a started baud-rate probe from sending more
        if (open) {
            QCOMPARE(pty->read(frame.size()).toHex(' '), frame.toHex(' '));
            QCOMPARE(pty->readFor(100).toHex(' '), QByteArray());
            QCOMPARE(logLines(), QStringList());
        } else {
            checkOneLogLine({"not open"});
            QCOMPARE(pty->readFor(50), QByteArray());
        }
    }

    // Every numeric field, by kind: good texts (the range's edges, blanks around) send the value's
    // bytes; a text that is not a number of the field's base, one outside its range or a blank
    // field sends nothing, leaves echo and field alone and names the field and its range in a box.
    void numericFields_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<QStringList>("setup"); // the mode and the other field of the pair, valid
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("frame"); // empty: refused
        QTest::addColumn<QString>("box");      // what the box must say
        struct Field {
            const char *target;
            QStringList setup;
            const char *field;
            const char *caption;
            std::function<QByteArray(int)> frame;
        };
        struct Kind {
            const char *name;
            QList<Field> fields;
            QStringList good; // decimal texts unless the kind is hexadecimal
            QStringList bad;
            const char *range;
        };
        auto byte = [](int value) { return char(quint8(value)); };
        auto write = [&](int reg, int high, int low) { return withCrc(hex("000600") + byte(reg) + byte(high) + byte(low)); };
        auto calibration = [&](int zero, int factor) {
            return withCrc(hex("00 10 00 c3 00 02 04") + byte(zero > 0) + byte(qAbs(zero)) + byte(0) + byte(factor));
        };
        const QStringList cleanSet = {"comboBoxAutoCleanDust=Set"};
        const QList<Kind> kinds = {
            {"address", {{"pushButton_SetDeviceAddr", {}, "lineEdit_DeviceAddr", "ModbusAddr： 0x",
                          [&](int v) { return write(0x00, 0, v); }}},
             {"1", "ff", "1f", " 0A ", "FF"}, {"0", "100", "-1", "zz", "1g", "", "   "}, "hexadecimal number from 1 to ff"},
            {"cleaning time", {{"pushButton_2", {}, "lineEdit_CleanDustTime", "DurationTime", [&](int v) { return write(0xA9, 0, v); }},
                               {"pushButton_AutoCleanDust", cleanSet + QStringList{"lineEdit_AutoCleanDustJianGe=24"}, "lineEdit_AutoCleanTime",
                                "DurationTime(sec)", [&](int v) { return write(0xAA, v, 24); }},
                               {"pushButton_AutoCleanDust", cleanSet + QStringList{"lineEdit_AutoCleanTime=10"}, "lineEdit_AutoCleanDustJianGe",
                                "IntervalTime(hour)", [&](int v) { return write(0xAA, 10, v); }}},
             {"0", "255", " 30 "}, {"256", "-1", "abc", "1.5", ""}, "whole number from 0 to 255"},
            {"temperature", {{"pushButton_HeatTemp", {"comboBox_HeatTemp=Set", "lineEdit_HeatTempLow=-10"}, "lineEdit_HeatTempHigh",
                              "HighThreshold(>0)", [&](int v) { return write(0xAC, v, -10); }},
                             {"pushButton_HeatTemp", {"comboBox_HeatTemp=Set", "lineEdit_HeatTempHigh=40"}, "lineEdit_HeatTempLow",
                              "LowThreshold(<0)", [&](int v) { return write(0xAC, 40, v); }}},
             {"-128", "127", " -10"}, {"-129", "128", "300", "x", ""}, "whole number from -128 to 127"},
            {"humidity", {{"pushButton_HeatHumi", {"comboBox_HeatHumi=Set", "lineEdit_HeatHumiLow=20"}, "lineEdit_HeatHumiHigh",
                           "HighThreshold(>Low)", [&](int v) { return write(0xAD, v, 20); }},
                          {"pushButton_HeatHumi", {"comboBox_HeatHumi=Set", "lineEdit_HeatHumiHigh=80"}, "lineEdit_HeatHumiLow",
                           "LowThreshold", [&](int v) { return write(0xAD, 80, v); }}},
             {"0", "100", "55 "}, {"-1", "101", "5%", ""}, "whole number from 0 to 100"},
            {"zero offset", {{"pushButton_Calibrate", {"comboBox_Calibrate=Set", "lineEdit_CalibrateFactor=100"}, "lineEdit_CalibrZero",
                              "Num Cali", [&](int v) { return calibration(v, 100); }}},
             {"-255", "255", "0", " +7 "}, {"-256", "256", "abc", ""}, "whole number from -255 to 255"},
            {"ratio factor", {{"pushButton_Calibrate", {"comboBox_Calibrate=Set", "lineEdit_CalibrZero=5"}, "lineEdit_CalibrateFactor",
                               "Ratio Cali", [&](int v) { return calibration(5, v); }}},
             {"10", "250", " 100 "}, {"9", "251", "300", "1e2", ""}, "whole number from 10 to 250"},
        };
        for (const Kind &kind : kinds) {
            for (const Field &field : kind.fields) {
                const int base = QString(kind.range).startsWith("hex") ? 16 : 10;
                for (const QString &text : kind.good)
                    QTest::addRow("%s, %s \"%s\"", kind.name, field.field, qPrintable(text))
                        << field.target << field.setup << field.field << text << field.frame(text.trimmed().toInt(nullptr, base)) << QString();
                for (const QString &text : kind.bad)
                    QTest::addRow("%s, %s \"%s\" refused", kind.name, field.field, qPrintable(text))
                        << field.target << field.setup << field.field << text << QByteArray()
                        << QString("\"%1\" takes a %2.").arg(field.caption, kind.range);
            }
        }
    }

    void numericFields()
    {
        QFETCH(QString, target);
        QFETCH(QStringList, setup);
        QFETCH(QString, field);
        QFETCH(QString, text);
        QFETCH(QByteArray, frame);
        QFETCH(QString, box);
        ModalCloser closer;
        QVERIFY(set(setup));
        QVERIFY(set(field + '=' + text));
        QVERIFY(set("lineEdit_TransSend_2=sentinel"));
        QVERIFY(press(target));
        QCOMPARE(value(field), text);
        QCOMPARE(raisedFlags(), QStringList());
        if (!frame.isEmpty()) {
            QCOMPARE(closer.count(), 0);
            QCOMPARE(value("lineEdit_TransSend_2"), hexText(frame));
            QCOMPARE(pty->read(frame.size()).toHex(' '), frame.toHex(' '));
            return;
        }
        QCOMPARE(closer.count(), 1);
        QCOMPARE(closer.boxes().first().title, QString("Information"));
        QVERIFY2(closer.boxes().first().text.startsWith(box), qPrintable(closer.boxes().first().text));
        QCOMPARE(value("lineEdit_TransSend_2"), QString("sentinel"));
        QCOMPARE(pty->readFor(100), QByteArray());
    }

    void portSpeed_data()
    {
        QTest::addColumn<QString>("rate");
        QTest::addColumn<QString>("target");
        QTest::addColumn<int>("expected");
        QTest::newRow("open 9600") << "9600" << QString() << 9600;
        QTest::newRow("open 4800") << "4800" << QString() << 4800;
        QTest::newRow("open 19200") << "19200" << QString() << 19200;
        QTest::newRow("SetBaudrate keeps 4800") << "4800" << "pushButton_SetBaudrate" << 4800;
        QTest::newRow("GetBaudrate") << "4800" << "pushButton_GetBaudrate" << 19200;
        QTest::newRow("TestBoudrate") << "9600" << "on_pushButtonTestBoudrate_clicked" << 19200;
    }
    void portSpeed()
    {
        QFETCH(QString, rate);
        QFETCH(QString, target);
        QFETCH(int, expected);
        QVERIFY(press("pushButtonClose"));
        QVERIFY(set("comboBox_BoudRate=" + rate));
        QVERIFY(openPort(pty->slavePath()));
        QCOMPARE(pty->baudRate(), rate.toInt());
        if (!target.isEmpty())
            QVERIFY(press(target));
        QCOMPARE(pty->baudRate(), expected);
        pendingReplies = PendingReplies{};
        // Reopening takes the combo's rate again, whatever the probe left.
        QVERIFY(press("pushButtonClose"));
        QVERIFY(openPort(pty->slavePath()));
        QCOMPARE(pty->baudRate(), rate.toInt());
    }

    void preset()
    {
        auto *preset = widget<QComboBox>("comboBoxCommonCMD");
        QVERIFY(set("lineEdit_TransSend=x"));
        preset->setCurrentIndex(1);
        QCOMPARE(value("lineEdit_TransSend"), QString(sleepPreset));
        preset->setCurrentIndex(0);
        QCOMPARE(value("lineEdit_TransSend"), QString(sleepPreset));
        QCOMPARE(pty->readFor(100), QByteArray()); // choosing a preset sends nothing
    }

    // StartHeating/StopHeating and ManualControl/AutoControl are two exclusive pairs: the mode the
    // device reports leaves the heater choice, and so what ManualSet sends, as the operator set it.
    void heaterChoiceSurvivesModeReply_data()
    {
        QTest::addColumn<QString>("choice");
        QTest::addColumn<QByteArray>("modeReply");
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QByteArray>("manualSet");
        QTest::newRow("start, auto mode") << "radioButton_StartHeat" << hex("01 00") << "radioButton_AutoHeat" << withCrc("000600ab0001");
        QTest::newRow("start, manual mode") << "radioButton_StartHeat" << hex("00 01") << "radioButton_ManualHeat" << withCrc("000600ab0001");
        QTest::newRow("stop, auto mode") << "radioButton_StopHeat" << hex("01 00") << "radioButton_AutoHeat" << hex("000600ab0000f9fb");
    }
    void heaterChoiceSurvivesModeReply()
    {
        QFETCH(QString, choice);
        QFETCH(QByteArray, modeReply);
        QFETCH(QString, mode);
        QFETCH(QByteArray, manualSet);
        QVERIFY(press(choice == "radioButton_StartHeat" ? "radioButton_StopHeat" : "radioButton_StartHeat"));
        QVERIFY(press(choice));
        QVERIFY(press("pushButton_GetHeatMode"));
        QCOMPARE(pty->read(8).toHex(' '), hex("000300ab0001f43b").toHex(' '));
        QVERIFY(pty->write(withCrc(hex("01 03 02") + modeReply)));
        QTRY_COMPARE_WITH_TIMEOUT(value(mode), QString("1"), 2000);
        QCOMPARE(value(choice), QString("1"));
        QVERIFY(press("pushButton_ManualHeat"));
        QCOMPARE(pty->read(8).toHex(' '), manualSet.toHex(' '));
    }

    void openCloseRefreshClear()
    {
        QVERIFY(isOpenState());
        widget<QPlainTextEdit>("textEditPM")->setPlainText("one\ntwo");
        QVERIFY(set("lineEdit_TransSend_2=keep"));
        QVERIFY(press("pushButton"));
        QCOMPARE(widget<QPlainTextEdit>("textEditPM")->toPlainText(), QString());
        QCOMPARE(value("lineEdit_TransSend_2"), QString("keep"));
        QVERIFY(isOpenState());

        QVERIFY(press("pushButton_SetSleep"));
        QCOMPARE(pty->read(8).toHex(' '), hex("000600a2000029f9").toHex(' '));

        QVERIFY(press("pushButtonClose"));
        QVERIFY(isClosedState());
        QVERIFY(!WindowProbe::serial(*window).isOpen());
        QVERIFY(press("pushButton_SetSleep"));
        QCOMPARE(pty->readFor(200), QByteArray());
        QVERIFY(press("pushButtonClose")); // closing twice is harmless
        QVERIFY(isClosedState());

        QVERIFY(openPort(pty->slavePath()));
        QVERIFY(isOpenState());
        QVERIFY(press("pushButton_WakeDevice"));
        QCOMPARE(pty->read(8).toHex(' '), hex("000600a20001e839").toHex(' '));
    }

    // The box lists the system's ports with their full paths and descriptions as tool tips; a
    // typed path, or a listed port picked, stays chosen when Rearesh rebuilds the list, and the
    // open port is not touched.
    void portBoxKeepsChoice()
    {
        auto *box = widget<QComboBox>("comboBoxCOM");
        const QString typed = pty->slavePath();
        QCOMPARE(box->currentText(), typed);
        QCOMPARE(box->toolTip(), typed + " (typed; not listed by the system)");
        QVERIFY(press("pushButton_3"));
        QCOMPARE(box->currentText(), typed);
        QCOMPARE(box->toolTip(), typed + " (typed; not listed by the system)");
        QVERIFY(isOpenState());

        const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
        QCOMPARE(box->count(), ports.size());
        for (int i = 0; i < ports.size(); ++i) {
            QCOMPARE(box->itemText(i), ports.at(i).portName());
            QVERIFY(box->itemData(i, Qt::ToolTipRole).toString().startsWith(ports.at(i).systemLocation()));
        }
        if (ports.isEmpty())
            QSKIP("the system lists no serial port to pick");
        box->setCurrentIndex(ports.size() - 1);
        QCOMPARE(box->toolTip(), box->itemData(ports.size() - 1, Qt::ToolTipRole).toString());
        QVERIFY(press("pushButton_3"));
        QCOMPARE(box->currentIndex(), ports.size() - 1);
        // The same port typed by its full path is still known to the system.
        box->setEditText(ports.last().systemLocation());
        QCOMPARE(box->toolTip(), box->itemData(ports.size() - 1, Qt::ToolTipRole).toString());
    }

    void openFailureStaysClosed()
    {
        QVERIFY(press("pushButtonClose"));
        QVERIFY(!openPort("/dev/does-not-exist"));
        QVERIFY(isClosedState());
        const QString reason = WindowProbe::serial(*window).errorString();
        QVERIFY(!reason.isEmpty());
        checkOneLogLine({"/dev/does-not-exist", reason});
        QVERIFY(logLines().first().startsWith("Cannot open"));
    }

    // A port the operator may not open names the usual cause: not being in the dialout group.
    void openWithoutPermissionNamesDialout()
    {
        QVERIFY(press("pushButtonClose"));
        QTemporaryFile file;
        QVERIFY(file.open());
        QVERIFY(::chmod(qPrintable(file.fileName()), 0) == 0);
        // Root opens anything; act as an unprivileged user for the one open call.
        const bool root = ::geteuid() == 0;
        if (root)
            QVERIFY(::seteuid(65534) == 0);
        const bool opened = openPort(file.fileName());
        if (root)
            QVERIFY(::seteuid(0) == 0);
        QVERIFY(!opened && isClosedState());
        QCOMPARE(WindowProbe::serial(*window).error(), QSerialPort::PermissionError);
        checkOneLogLine({"dialout"});
        QVERIFY(logLines().first().startsWith("Cannot open"));
    }

    // The device side disappears while the port is open (the pty master closes, hanging up the slave).
    void portFailureClosesWindowPort()
    {
        const QString path = pty->slavePath();
        pty.reset();
        QTRY_VERIFY_WITH_TIMEOUT(isClosedState(), 3000);
        QVERIFY(!WindowProbe::serial(*window).isOpen());
        QTest::qWait(700); // later ticks and notifications must not add more lines
        // The port as the operator chose it, in full, and what happened in plain words.
        checkOneLogLine({path + " was closed", "went away", "(the system said: "});

        pty = std::make_unique<PtyPair>();
        QVERIFY(openPort(pty->slavePath()));
        QVERIFY(isOpenState());
        QVERIFY(press("pushButton_SetSleep"));
        QCOMPARE(pty->read(8).toHex(' '), hex("000600a2000029f9").toHex(' '));
    }

    // The request holds at most 91 data bytes: a longer text is refused with a message, not cut.
    void transparentSendLimit()
    {
        ModalCloser closer;
        QVERIFY(set("lineEdit_TransSend=" + QString("11 ").repeated(91) + "11"));
        QVERIFY(press("on_pushButton_TransSend_clicked"));
        QCOMPARE(closer.count(), 1);
        QCOMPARE(closer.boxes().first().title, QString("Information"));
        QVERIFY2(closer.boxes().first().text.contains("91"), qPrintable(closer.boxes().first().text));
        QCOMPARE(closer.boxes().first().buttons, QStringList{"Ok"});
        QCOMPARE(pty->readFor(500), QByteArray());

        closer.clear();
        QVERIFY(set("lineEdit_TransSend=" + QString("11 ").repeated(90) + "11"));
        QVERIFY(press("on_pushButton_TransSend_clicked"));
        // Offset 24 carries the sum of offsets 9 to 23 (fifteen 0x11 = 0xff).
        const QByteArray expected = withCrc(hex("00100111000a5b") + QByteArray(17, 0x11) + char(0xFF) + QByteArray(73, 0x11));
        QCOMPARE(expected.size(), 100);
        QCOMPARE(pty->read(100).toHex(' '), expected.toHex(' '));
        QCOMPARE(closer.count(), 0);
    }
};

QTEST_MAIN(TstCommands)
#include "tst_commands.moc"
