// Window tests of the command buttons, one for each shape of slot: a press of the real MainWindow
// must put exactly the expected request on a pseudo-terminal, echo it, empty the fields its reply
// will fill and leave its query waiting for the answer; a refused field sends nothing. Also covers
// the port's open/close/refresh/clear life cycle and speed.
#include "modalcloser.h"
#include "pendingreplies.h"
#include "testbytes.h"
#include "windowfixture.h"
#include "windowprobe.h"

#include <QSerialPortInfo>
#include <QtTest>
#include <QtWidgets>

#include <algorithm>

#include <sys/stat.h>
#include <unistd.h>

namespace {

using Query = PendingReplies::Query;

const char *const sleepPreset = "aa b4 06 01 00 00 00 00 00 00 00 00 00 00 00 ff ff 05 ab ";

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
    // The queries in the record of pending replies, in the order pressed.
    QList<int> waitingQueries() const
    {
        QList<int> waiting;
        for (const PendingReplies::Outstanding &query : WindowProbe::pending(*window).queries)
            waiting << int(query.query);
        return waiting;
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
    // No poll runs: a request is what the press wrote, and a started probe never steps on.
    void init()
    {
        QVERIFY(openOnPty());
        driveTime();
    }
    void cleanup() { closeAll(); }

    void commands_data()
    {
        QTest::addColumn<bool>("open");
        QTest::addColumn<QString>("target");
        QTest::addColumn<QStringList>("setup");   // "name=value" set before the press
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<bool>("echoes");
        QTest::addColumn<QStringList>("emptied"); // "name=value" after the press; the rest of setup is kept
        QTest::addColumn<int>("query"); // the query left waiting for its answer, or -1
        // Each press also with the port closed.
        auto row = [](const char *tag, const char *target, const QStringList &setup, const QByteArray &frame,
                      bool echoes = true, const QStringList &emptied = {}, int query = -1) {
            for (const bool open : {true, false})
                QTest::addRow("%s%s", tag, open ? "" : ", port closed")
                    << open << QString(target) << setup << frame << echoes << emptied << query;
        };
        // One row for each shape of slot; tst_protocol pins every frame's bytes.
        row("fixed write: AutoHeat", "pushButton_AutoHeat", {}, hex("000600ab0100f86b"));
        row("write of ticked boxes: SelectWork 2+4", "pushButton_ManualSet",
            {"checkBox_No1=0", "checkBox_No2=1", "checkBox_No3=0", "checkBox_No4=1"}, withCrc("000600a6030a"));
        row("measurement of the chosen unit: ReadResult 4", "pushButton_GetSensorData", {"comboBoxSendObject=4"},
            withCrc("000304b40004"), true, {}, int(Query::pendingSensorData));
        // The mode query clears the mode only; the heater choice is a pair of its own.
        row("query of an exclusive pair: GetHeatMode", "pushButton_GetHeatMode", {"radioButton_AutoHeat=1", "radioButton_StartHeat=1"},
            hex("000300ab0001f43b"), true, {"radioButton_AutoHeat=0"}, int(Query::pendingHeatMode));
        row("query of boxes: QueryWorkMode", "pushButton_GetWorkMode", {"checkBox_No1=1", "checkBox_No4=1"},
            hex("000300a6000165f8"), true, {"checkBox_No1=0", "checkBox_No4=0"}, int(Query::pendingWorkMode));
        row("Query of a Query/Set pair: Calibrate No.1 PM10", "pushButton_Calibrate", {"comboBox_Calibrate=Query",
            "comboBox_CalibrateObject=No.1", "comboBox_CalibrateRange=PM10", "lineEdit_CalibrZero=5", "lineEdit_CalibrateFactor=50"},
            hex("000301c50002d41b"), true, {"lineEdit_CalibrZero=", "lineEdit_CalibrateFactor="}, int(Query::pendingCalibration));
        row("Set of a Query/Set pair: Calibrate No.2 PM100", "pushButton_Calibrate", {"comboBox_Calibrate=Set",
            "comboBox_CalibrateObject=No.2", "comboBox_CalibrateRange=PM100", "lineEdit_CalibrZero=-20",
            "lineEdit_CalibrateFactor=100"}, hex("001002c700020400140064e26a"));
        row("native query, no echo: GetDeviceInfo", "pushButton_GetInfo", {"Edit_DeviceID=1234-abcd", "label_softid=fw"},
            hex("aaa6 000000000000000000000000000000 00ab"), false, {"Edit_DeviceID=", "label_softid="}, int(Query::pendingDeviceInfo));
        row("probe: GetBaudrate", "pushButton_GetBaudrate", {}, hex("00030000000185db"), false, {}, int(Query::pendingBaudrate));
        // Withdrawn commands, reached through their slots.
        row("native write, no echo: SetDeviceId", "on_pushButton_SetID_clicked", {"Edit_DeviceID=1234-abcd"},
            hex("aaa7 000000000000 1234abcd 0000000000 be ab"), false);
        row("query that empties nothing: TransRead unit 2", "on_pushButton_TransRead_clicked", {"comboBoxTransObject=2"},
            withCrc("000302110013"), true, {}, int(Query::pendingTransRead));
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
        QFETCH(int, query);
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
        QCOMPARE(waitingQueries(), query < 0 || !open ? QList<int>() : QList<int>{query});
        // The probe asks once the line has been quiet for a poll.
        if (open && query == int(Query::pendingBaudrate)) {
            QCOMPARE(written, QList<QByteArray>());
            tick();
        }
        if (open) {
            QCOMPARE(pty->read(frame.size()).toHex(' '), frame.toHex(' '));
            QCOMPARE(written, QList<QByteArray>{frame});
            QCOMPARE(logLines(), QStringList());
        } else {
            checkOneLogLine({"not open"});
            QCOMPARE(written, QList<QByteArray>());
        }
    }

    // Every numeric field: a good text (blanks around it) sends its value's bytes; a refused one
    // sends nothing, leaves echo and field alone and names the field, its range and what was wrong
    // in a box. tst_protocol checks each kind's range edges.
    void numericFields_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<QStringList>("setup"); // the mode and the other field of the pair, valid
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("frame"); // empty: refused
        QTest::addColumn<QString>("box");      // what the box must say
        auto byte = [](int value) { return char(quint8(value)); };
        auto write = [&](int reg, int high, int low) { return withCrc(hex("000600") + byte(reg) + byte(high) + byte(low)); };
        auto calibration = [&](int zero, int factor) {
            return withCrc(hex("00 10 00 c3 00 02 04") + byte(zero > 0) + byte(qAbs(zero)) + byte(0) + byte(factor));
        };
        // A good text and a refused one for each field.
        auto field = [](const char *target, const QStringList &setup, const char *name, const char *good, const QByteArray &frame,
                        const char *bad, const char *caption, const char *range) {
            QTest::addRow("%s \"%s\"", name, good) << target << setup << name << good << frame << QString();
            const QString typed = QString(bad).trimmed().isEmpty() ? "The field is empty." : QString("\"%1\" is not one.").arg(bad);
            QTest::addRow("%s \"%s\" refused", name, bad)
                << target << setup << name << bad << QByteArray()
                << QString("\"%1\" takes a %2. %3 Nothing was sent.").arg(caption, range, typed);
        };
        const QStringList cleanSet = {"comboBoxAutoCleanDust=Set"};
        field("pushButton_SetDeviceAddr", {}, "lineEdit_DeviceAddr", " 0A ", write(0x00, 0, 0x0A), "100", "ModbusAddr",
              "hexadecimal number from 1 to ff");
        field("pushButton_2", {}, "lineEdit_CleanDustTime", "255", write(0xA9, 0, 255), "", "DurationTime",
              "whole number from 0 to 255");
        field("pushButton_AutoCleanDust", cleanSet + QStringList{"lineEdit_AutoCleanDustJianGe=24"}, "lineEdit_AutoCleanTime", " 30",
              write(0xAA, 30, 24), "256", "DurationTime(sec)", "whole number from 0 to 255");
        field("pushButton_AutoCleanDust", cleanSet + QStringList{"lineEdit_AutoCleanTime=10"}, "lineEdit_AutoCleanDustJianGe", "0",
              write(0xAA, 10, 0), "   ", "IntervalTime(hour)", "whole number from 0 to 255");
        field("pushButton_HeatTemp", {"comboBox_HeatTemp=Set", "lineEdit_HeatTempLow=-10"}, "lineEdit_HeatTempHigh", "127",
              write(0xAC, 127, -10), "x", "HighThreshold(>0)", "whole number from -128 to 127");
        field("pushButton_HeatTemp", {"comboBox_HeatTemp=Set", "lineEdit_HeatTempHigh=40"}, "lineEdit_HeatTempLow", "-128",
              write(0xAC, 40, -128), "-129", "LowThreshold(<0)", "whole number from -128 to 127");
        field("pushButton_HeatHumi", {"comboBox_HeatHumi=Set", "lineEdit_HeatHumiLow=20"}, "lineEdit_HeatHumiHigh", "100",
              write(0xAD, 100, 20), "5%", "HighThreshold(>Low)", "whole number from 0 to 100");
        field("pushButton_HeatHumi", {"comboBox_HeatHumi=Set", "lineEdit_HeatHumiHigh=80"}, "lineEdit_HeatHumiLow", "55 ",
              write(0xAD, 80, 55), "101", "LowThreshold", "whole number from 0 to 100");
        // Each threshold in its range, but the high one not above the low one.
        QTest::addRow("lineEdit_HeatHumiHigh below the low one")
            << "pushButton_HeatHumi" << QStringList{"comboBox_HeatHumi=Set", "lineEdit_HeatHumiLow=95"} << "lineEdit_HeatHumiHigh"
            << "90" << QByteArray() << "\"HighThreshold(>Low)\" must be above \"LowThreshold\": 90 is not above 95. Nothing was sent.";
        QTest::addRow("lineEdit_HeatTempHigh equal to the low one")
            << "pushButton_HeatTemp" << QStringList{"comboBox_HeatTemp=Set", "lineEdit_HeatTempLow=10"} << "lineEdit_HeatTempHigh"
            << "10" << QByteArray() << "\"HighThreshold(>0)\" must be above \"LowThreshold(<0)\": 10 is not above 10. Nothing was sent.";
        field("pushButton_Calibrate", {"comboBox_Calibrate=Set", "lineEdit_CalibrateFactor=100"}, "lineEdit_CalibrZero", "-255",
              calibration(-255, 100), "abc", "Num Cali", "whole number from -255 to 255");
        field("pushButton_Calibrate", {"comboBox_Calibrate=Set", "lineEdit_CalibrZero=5"}, "lineEdit_CalibrateFactor", " 250 ",
              calibration(5, 250), "9", "Ratio Cali", "whole number from 10 to 250");
    }

    void numericFields()
    {
        QFETCH(QString, target);
        QFETCH(QStringList, setup);
        QFETCH(QString, field);
        QFETCH(QString, text);
        QFETCH(QByteArray, frame);
        QFETCH(QString, box);
        QVERIFY(set(setup));
        QVERIFY(set(field + '=' + text));
        QVERIFY(set("lineEdit_TransSend_2=sentinel"));
        QVERIFY(press(target));
        QCOMPARE(value(field), text);
        QCOMPARE(waitingQueries(), QList<int>());
        if (!frame.isEmpty()) {
            QCOMPARE(closeBoxes(), QStringList());
            QCOMPARE(value("lineEdit_TransSend_2"), hexText(frame));
            QCOMPARE(pty->read(frame.size()).toHex(' '), frame.toHex(' '));
            return;
        }
        QCOMPARE(closeBoxes(), QStringList{"Information: " + box});
        QCOMPARE(value("lineEdit_TransSend_2"), QString("sentinel"));
        QCOMPARE(written, QList<QByteArray>());
    }

    void portSpeed_data()
    {
        QTest::addColumn<QString>("rate");
        QTest::addColumn<QString>("target");
        QTest::addColumn<int>("expected");
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
        tick(); // the probe's first request goes out on a quiet line
        QCOMPARE(pty->baudRate(), expected);
        // Reopening takes the combo's rate again, whatever the probe left.
        QVERIFY(press("pushButtonClose"));
        QVERIFY(openPort(pty->slavePath()));
        QCOMPARE(pty->baudRate(), rate.toInt());
    }

    // The rate box shows the rate the open port uses: a choice made while open is applied to it.
    void rateChosenWhileOpen()
    {
        QCOMPARE(pty->baudRate(), 9600);
        QVERIFY(set("comboBox_BoudRate=4800"));
        QCOMPARE(pty->baudRate(), 4800);
        QVERIFY(press("pushButtonClose") && set("comboBox_BoudRate=19200") && press("pushButtonOpen"));
        QCOMPARE(pty->baudRate(), 19200);
    }

    void preset()
    {
        auto *preset = widget<QComboBox>("comboBoxCommonCMD");
        QVERIFY(set("lineEdit_TransSend=x"));
        preset->setCurrentIndex(1);
        QCOMPARE(value("lineEdit_TransSend"), QString(sleepPreset));
        preset->setCurrentIndex(0);
        QCOMPARE(value("lineEdit_TransSend"), QString(sleepPreset));
        QCOMPARE(written, QList<QByteArray>()); // choosing a preset sends nothing
    }

    // SetFactorySetting asks first and says what is lost; only Yes sends, Enter and Escape answer
    // No. The question does not stop the poll, and a second press asks no second one.
    void factorySettingAsksFirst_data()
    {
        QTest::addColumn<int>("key"); // 0: click the button
        QTest::addColumn<int>("button");
        QTest::newRow("Yes") << 0 << int(QMessageBox::Yes);
        QTest::newRow("No") << 0 << int(QMessageBox::No);
        QTest::newRow("Enter") << int(Qt::Key_Return) << 0;
        QTest::newRow("Escape") << int(Qt::Key_Escape) << 0;
    }
    void factorySettingAsksFirst()
    {
        QFETCH(int, key);
        QFETCH(int, button);
        const QByteArray factory = hex("000600a5000159f8");
        QVERIFY(press("pushButton_SetFactoryConfig") && press("pushButton_SetFactoryConfig"));
        const QList<QMessageBox *> boxes = window->findChildren<QMessageBox *>();
        QVERIFY(boxes.size() == 1 && boxes.first()->isVisible() && written.isEmpty());
        QVERIFY(QRegularExpression("Modbus address.*heating thresholds.*calibration").match(boxes.first()->text()).hasMatch());
        QVERIFY(press("pushButton_GetTempHumi") && deliver(withCrc("01 03 02 17 2d")));
        tick();
        QCOMPARE(value("lineEdit_Temp"), QString("23"));
        if (key)
            QTest::keyClick(boxes.first(), Qt::Key(key));
        else
            boxes.first()->button(QMessageBox::StandardButton(button))->click();
        QCOMPARE(written.size(), button == QMessageBox::Yes ? 2 : 1);
        QCOMPARE(value("lineEdit_TransSend_2") == hexText(factory), button == QMessageBox::Yes);
    }

    // Controls that only show an answer take no clicks or typing, keep their enabled look, and
    // the replies still set them.
    void answersReadOnly_data()
    {
        QTest::addColumn<QString>("control");
        QTest::addColumn<QString>("query");
        QTest::addColumn<QByteArray>("reply"); // none: the press itself sets the control
        QTest::addColumn<QString>("shown");
        const auto read = [](const char *data) { return withCrc(hex("01 03 02") + hex(data)); };
        QTest::newRow("work-mode mark") << "radioButton_Autosingle" << "pushButton_GetWorkMode" << read("02 00") << "1";
        QTest::newRow("self-test box") << "checkBox_Selfcheck2" << "pushButton_GetSelfCheck" << read("00 0D") << "1";
        QTest::newRow("heater mode mark") << "radioButton_AutoHeat" << "pushButton_GetHeatMode" << read("01 00") << "1";
        QTest::newRow("temperature") << "lineEdit_Temp" << "pushButton_GetTempHumi" << read("17 2D") << "23";
        QTest::newRow("device identifier") << "Edit_DeviceID" << "pushButton_GetInfo" << nativeFrame(0xA6, 8, hex("12 34 AB CD"))
                                           << "1234-abcd";
        QTest::newRow("SendOrder echo") << "lineEdit_TransSend_2" << "pushButton_SetSleep" << QByteArray()
                                        << hexText(hex("000600a2000029f9"));
    }
    void answersReadOnly()
    {
        QFETCH(QString, control);
        QFETCH(QString, query);
        QFETCH(QByteArray, reply);
        QFETCH(QString, shown);
        QWidget *shownIn = widget(control);
        const QString before = value(control);
        QTest::mouseClick(shownIn, Qt::LeftButton);
        QCOMPARE(value(control), before);
        QTest::keyClicks(shownIn, "7 ");
        QCOMPARE(value(control), before);
        QVERIFY(shownIn->isEnabled() && written.isEmpty());
        QVERIFY(press(query) && (reply.isEmpty() || deliver(reply)));
        tick();
        QCOMPARE(value(control), shown);
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
        QVERIFY(deliver(withCrc(hex("01 03 02") + modeReply)));
        tick();
        QCOMPARE(value(mode), QString("1"));
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
        const int writtenBefore = written.size();
        QVERIFY(press("pushButton_SetSleep"));
        QCOMPARE(written.size(), writtenBefore);
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
        tick(3); // later ticks must not add more lines
        // The port as the operator chose it, in full, and what happened in plain words.
        checkOneLogLine({path + " was closed", "went away", "(the system said: "});

        pty = std::make_unique<PtyPair>();
        QVERIFY(openPort(pty->slavePath()));
        QVERIFY(isOpenState());
        QVERIFY(press("pushButton_SetSleep"));
        QCOMPARE(pty->read(8).toHex(' '), hex("000600a2000029f9").toHex(' '));
    }

    // A write the port refuses is reported and the port stays open; an error reported by a port
    // already closed changes nothing.
    void portErrors()
    {
        QSerialPort &port = WindowProbe::serial(*window);
        emit port.errorOccurred(QSerialPort::WriteError);
        QVERIFY(isOpenState());
        checkOneLogLine({"Request not sent: the port refused the write"});
        QVERIFY(press("pushButtonClose"));
        emit port.errorOccurred(QSerialPort::ResourceError);
        QCOMPARE(logLines().size(), 1);
    }

    // The request holds at most 91 data bytes: a longer text is refused with a message, not cut
    // (tst_protocol shows 91 parts fit).
    void transparentSendLimit()
    {
        QVERIFY(set("lineEdit_TransSend=" + QString("11 ").repeated(91) + "11"));
        QVERIFY(press("on_pushButton_TransSend_clicked"));
        const QStringList boxes = closeBoxes();
        QCOMPARE(boxes.size(), 1);
        QVERIFY2(boxes.first().startsWith("Information: ") && boxes.first().contains("91"), qPrintable(boxes.first()));
        QCOMPARE(written, QList<QByteArray>());
    }
};

QTEST_MAIN(TstCommands)
#include "tst_commands.moc"
