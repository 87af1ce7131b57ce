// Window tests of the command buttons: each press of the real MainWindow must put exactly the
// expected request on a pseudo-terminal, echo it, empty the fields its reply will fill and raise
// its PendingReplies flag. Also covers the port's open/close/refresh/clear life cycle and speed.
#include "mainwindow.h"
#include "modalcloser.h"
#include "pendingreplies.h"
#include "ptypair.h"
#include "windowprobe.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QSerialPortInfo>
#include <QTemporaryFile>
#include <QTextEdit>
#include <QtTest>

#include <memory>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// CRC-16/MODBUS, written here independently of the code under test.
quint16 crc16(const QByteArray &bytes)
{
    quint16 crc = 0xFFFF;
    for (const char byte : bytes) {
        crc ^= quint8(byte);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? quint16((crc >> 1) ^ 0xA001) : quint16(crc >> 1);
    }
    return crc;
}

QByteArray hex(const char *text) { return QByteArray::fromHex(text); }

QByteArray withCrc(const QByteArray &head)
{
    const quint16 crc = crc16(head);
    return head + char(crc & 0xFF) + char(crc >> 8);
}
QByteArray withCrc(const char *text) { return withCrc(hex(text)); }

// The echo form: two lower-case digits and one blank per byte.
QString echoText(const QByteArray &bytes)
{
    QString text;
    for (const char byte : bytes)
        text += QString::asprintf("%02x ", quint8(byte));
    return text;
}

QMap<QString, int> flags()
{
    const PendingReplies &p = pendingReplies;
    return {{"pendingSensorData", p.pendingSensorData}, {"pendingCleanSetting", p.pendingCleanSetting},
            {"pendingHeatMode", p.pendingHeatMode}, {"pendingWorkMode", p.pendingWorkMode},
            {"pendingModbusAddr", p.pendingModbusAddr}, {"pendingSelfCheck", p.pendingSelfCheck},
            {"pendingGlobalSet", p.pendingGlobalSet}, {"pendingTempHumi", p.pendingTempHumi},
            {"pendingHeatTempThreshold", p.pendingHeatTempThreshold},
            {"pendingHeatHumiThreshold", p.pendingHeatHumiThreshold},
            {"pendingCalibration", p.pendingCalibration}, {"pendingTransRead", p.pendingTransRead},
            {"pendingFactor", p.pendingFactor}, {"pendingBaudrate", p.pendingBaudrate}};
}

const char *const sleepPreset = "aa b4 06 01 00 00 00 00 00 00 00 00 00 00 00 ff ff 05 ab ";

} // namespace

class TstCommands : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<PtyPair> pair;
    std::unique_ptr<MainWindow> window;

    template <class T> T *widget(const QString &name)
    {
        T *found = window->findChild<T *>(name);
        if (!found)
            qFatal("no widget %s", qPrintable(name));
        return found;
    }
    QAbstractButton *button(const char *name) { return widget<QAbstractButton>(name); }
    QStringList logLines() { return widget<QTextEdit>("textEditPM")->toPlainText().split('\n', Qt::SkipEmptyParts); }
    QString echo() { return widget<QLineEdit>("lineEdit_TransSend_2")->text(); }
    int pollTimerId() { return WindowProbe::pollTimerId(*window); }
    bool isClosedState()
    {
        return button("pushButtonOpen")->isEnabled() && !button("pushButtonClose")->isEnabled() && pollTimerId() == -1;
    }

    void openPort(const QString &path)
    {
        widget<QComboBox>("comboBoxCOM")->setEditText(path);
        button("pushButtonOpen")->click();
    }
    // A name starting with "on_" is a slot that no visible widget reaches; anything else is a button.
    bool press(const QString &target)
    {
        if (target.startsWith("on_"))
            return QMetaObject::invokeMethod(window.get(), target.toLatin1().constData());
        button(target.toLatin1().constData())->click();
        return true;
    }
    // "name=value": text for line edits and labels, index for combo boxes, 1/0 for check and radio buttons.
    void apply(const QStringList &setup)
    {
        for (const QString &item : setup) {
            const QString name = item.section('=', 0, 0), value = item.section('=', 1);
            QObject *object = window->findChild<QObject *>(name);
            if (auto *edit = qobject_cast<QLineEdit *>(object))
                edit->setText(value);
            else if (auto *label = qobject_cast<QLabel *>(object))
                label->setText(value);
            else if (auto *combo = qobject_cast<QComboBox *>(object))
                combo->setCurrentIndex(value.toInt());
            else if (auto *check = qobject_cast<QAbstractButton *>(object))
                check->setChecked(value == "1");
            else
                qFatal("cannot set %s", qPrintable(name));
        }
    }
    QString stateOf(const QString &name)
    {
        QObject *object = window->findChild<QObject *>(name);
        if (auto *edit = qobject_cast<QLineEdit *>(object))
            return edit->text();
        if (auto *label = qobject_cast<QLabel *>(object))
            return label->text();
        if (auto *combo = qobject_cast<QComboBox *>(object))
            return QString::number(combo->currentIndex());
        if (auto *check = qobject_cast<QAbstractButton *>(object))
            return check->isChecked() ? "1" : "0";
        qFatal("no widget %s", qPrintable(name));
    }
    // Everything a command must do besides writing: echo, emptied fields, kept inputs, flags.
    void checkEffects(const QStringList &setup, const QByteArray &frame, bool echoes, const QStringList &emptied,
                      const QString &flag)
    {
        QCOMPARE(echo(), echoes ? echoText(frame) : QString("sentinel"));
        for (const QString &name : emptied)
            QCOMPARE(stateOf(name), window->findChild<QAbstractButton *>(name) ? QString("0") : QString());
        for (const QString &item : setup) {
            const QString name = item.section('=', 0, 0);
            if (!emptied.contains(name))
                QCOMPARE(stateOf(name), item.section('=', 1));
        }
        QMap<QString, int> expected = flags();
        for (int &value : expected)
            value = 0;
        if (!flag.isEmpty())
            expected[flag] = 1;
        QCOMPARE(flags(), expected);
    }

private slots:
    void init()
    {
        pendingReplies = PendingReplies{};
        pair = std::make_unique<PtyPair>();
        QVERIFY(pair->isValid());
        window = std::make_unique<MainWindow>();
        openPort(pair->slavePath());
        QVERIFY(WindowProbe::serial(*window).isOpen());
        widget<QTextEdit>("textEditPM")->clear();
    }
    void cleanup()
    {
        window.reset();
        pair.reset();
        pendingReplies = PendingReplies{};
    }

    void commands_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<QStringList>("setup");
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<bool>("echoes");
        QTest::addColumn<QStringList>("emptied");
        QTest::addColumn<QString>("flag");
        auto row = [](const char *tag, const char *target, const QStringList &setup, const QByteArray &frame,
                      bool echoes = true, const QStringList &emptied = {}, const char *flag = "") {
            QTest::newRow(tag) << QString(target) << setup << frame << echoes << emptied << QString(flag);
        };
        const QStringList factors = {"lineEdit_1Factor", "lineEdit_1Factor_2", "lineEdit_2Factor", "lineEdit_2Factor_2",
                                     "lineEdit_3Factor", "lineEdit_3Factor_2", "lineEdit_4Factor", "lineEdit_4Factor_2"};
        QStringList filledFactors;
        for (const QString &name : factors)
            filledFactors << name + "=9";
        const char *sleepFrame = "aab40601 0000000000000000000000 ffff05ab";

        // Top area: identity, protocol, factory setting, measurement query.
        row("GetDeviceInfo", "pushButton_GetInfo", {"Edit_DeviceID=1234-abcd", "label_softid=fw"},
            hex("aaa6 000000000000000000000000000000 00ab"), false, {"Edit_DeviceID", "label_softid"});
        row("ChangeToModbus", "pushButton_ChangeToModbus", {}, hex("000600b10003983d"));
        row("ChangeToKelvra", "pushButton_ChangeToModbus_2", {}, hex("000600b10000d83c"));
        row("SetFactorySetting", "pushButton_SetFactoryConfig", {}, hex("000600a5000159f8"));
        row("ReadResult Avg", "pushButton_GetSensorData", {"comboBoxSendObject=0"}, hex("000300b4000405fe"), true, {}, "pendingSensorData");
        row("ReadResult 1", "pushButton_GetSensorData", {"comboBoxSendObject=1"}, hex("000301b400040402"), true, {}, "pendingSensorData");
        row("ReadResult 2", "pushButton_GetSensorData", {"comboBoxSendObject=2"}, withCrc("000302b40004"), true, {}, "pendingSensorData");
        row("ReadResult 3", "pushButton_GetSensorData", {"comboBoxSendObject=3"}, withCrc("000303b40004"), true, {}, "pendingSensorData");
        row("ReadResult 4", "pushButton_GetSensorData", {"comboBoxSendObject=4"}, withCrc("000304b40004"), true, {}, "pendingSensorData");
        // ModbusAddr tab.
        row("GetModbusAddr", "pushButton_GetDeviceAddr", {"lineEdit_DeviceAddr=1f"}, hex("00030000000185db"), true, {"lineEdit_DeviceAddr"}, "pendingModbusAddr");
        row("SetModbusAddr ff", "pushButton_SetDeviceAddr", {"lineEdit_DeviceAddr=ff"}, hex("0006000000ffc85b"));
        row("SetModbusAddr 1f", "pushButton_SetDeviceAddr", {"lineEdit_DeviceAddr=1f"}, hex("00060000001fc9d3"));
        row("SetModbusAddr 0", "pushButton_SetDeviceAddr", {"lineEdit_DeviceAddr=0"}, withCrc("000600000001"));
        row("SetModbusAddr 100", "pushButton_SetDeviceAddr", {"lineEdit_DeviceAddr=100"}, withCrc("000600000001"));
        row("SetBaudrate 0", "pushButton_SetBaudrate", {"comboBox_SetBoudRate=0"}, hex("000600cd000359e5"));
        row("SetBaudrate 1", "pushButton_SetBaudrate", {"comboBox_SetBoudRate=1"}, withCrc("000600cd0002"));
        row("SetBaudrate 2", "pushButton_SetBaudrate", {"comboBox_SetBoudRate=2"}, hex("000600cd000359e5"));
        row("SetBaudrate 3", "pushButton_SetBaudrate", {"comboBox_SetBoudRate=3"}, withCrc("000600cd0004"));
        row("GetBaudrate", "pushButton_GetBaudrate", {}, hex("00030000000185db"), false, {}, "pendingBaudrate");
        row("TestBoudrate", "on_pushButtonTestBoudrate_clicked", {}, hex("00030000000185db"), false, {}, "pendingBaudrate");
        // SetSleep tab.
        row("SetSleep", "pushButton_SetSleep", {}, hex("000600a2000029f9"));
        row("WakeUp", "pushButton_WakeDevice", {}, hex("000600a20001e839"));
        // CleanDust tab.
        row("ManualClean initial", "pushButton_2", {}, hex("000600a9000ad83c"));
        row("AutoClean query", "pushButton_AutoCleanDust", {"comboBoxAutoCleanDust=0", "lineEdit_AutoCleanTime=30", "lineEdit_AutoCleanDustJianGe=2"},
            hex("000300aa0001a5fb"), true, {"lineEdit_AutoCleanTime", "lineEdit_AutoCleanDustJianGe"}, "pendingCleanSetting");
        row("AutoClean set", "pushButton_AutoCleanDust", {"comboBoxAutoCleanDust=1", "lineEdit_AutoCleanTime=300", "lineEdit_AutoCleanDustJianGe=abc"},
            withCrc("000600aa2c00"));
        // SetHeater tab.
        row("ManualHeat at start-up", "pushButton_ManualHeat", {}, hex("000600ab0000f9fb"));
        row("ManualHeat started", "pushButton_ManualHeat", {"radioButton_StartHeat=1"}, withCrc("000600ab0001"));
        row("AutoHeat", "pushButton_AutoHeat", {}, hex("000600ab0100f86b"));
        // The four heating radio buttons are one exclusive group: the checked one stays checked.
        row("GetHeatMode", "pushButton_GetHeatMode", {"radioButton_AutoHeat=1"}, hex("000300ab0001f43b"), true, {}, "pendingHeatMode");
        row("HeatTemp query", "pushButton_HeatTemp", {"comboBox_HeatTemp=0", "lineEdit_HeatTempHigh=40", "lineEdit_HeatTempLow=-10"},
            hex("000300ac000145fa"), true, {"lineEdit_HeatTempHigh", "lineEdit_HeatTempLow"}, "pendingHeatTempThreshold");
        row("HeatTemp set", "pushButton_HeatTemp", {"comboBox_HeatTemp=1", "lineEdit_HeatTempHigh=40", "lineEdit_HeatTempLow=-10"},
            withCrc("000600ac28f6"));
        row("HeatHumi query", "pushButton_HeatHumi", {"comboBox_HeatHumi=0", "lineEdit_HeatHumiHigh=80", "lineEdit_HeatHumiLow=20"},
            hex("000300ad0001143a"), true, {"lineEdit_HeatHumiHigh", "lineEdit_HeatHumiLow"}, "pendingHeatHumiThreshold");
        row("HeatHumi set", "pushButton_HeatHumi", {"comboBox_HeatHumi=1", "lineEdit_HeatHumiHigh=80", "lineEdit_HeatHumiLow=20"},
            withCrc("000600ad5014"));
        // SetWorkMode tab.
        row("AutoAllWork", "pushButton_AutoAll", {}, hex("000600a6010069a8"));
        row("AutoSingleWork", "pushButton_AutoSingle", {}, hex("000600a602006958"));
        row("SelectWork 2+4", "pushButton_ManualSet", {"checkBox_No1=0", "checkBox_No2=1", "checkBox_No3=0", "checkBox_No4=1"}, withCrc("000600a6030a"));
        row("SelectWork none", "pushButton_ManualSet", {}, withCrc("000600a60300"));
        row("QueryWorkMode", "pushButton_GetWorkMode", {"checkBox_No1=1", "checkBox_No2=1", "checkBox_No3=1", "checkBox_No4=1"},
            hex("000300a6000165f8"), true, {"checkBox_No1", "checkBox_No2", "checkBox_No3", "checkBox_No4"}, "pendingWorkMode");
        // TempAndHumi, GetSelfTest, GlobalSet tabs.
        row("QueryInnerTH", "pushButton_GetTempHumi", {"lineEdit_Temp=25", "lineEdit_Humi=40"}, hex("000300a80001043b"), true,
            {"lineEdit_Temp", "lineEdit_Humi"}, "pendingTempHumi");
        row("QuerySelfTest", "pushButton_GetSelfCheck", {"checkBox_Selfcheck1=1", "checkBox_Selfcheck2=1", "checkBox_Selfcheck3=1", "checkBox_Selfcheck4=1"},
            hex("000300a700013438"), true, {"checkBox_Selfcheck1", "checkBox_Selfcheck2", "checkBox_Selfcheck3", "checkBox_Selfcheck4"}, "pendingSelfCheck");
        row("QueryGlobalSet", "pushButton_GetGlobalOnOff", {"checkBox_Global1=1", "checkBox_Global2=1", "checkBox_Global3=1", "checkBox_Global4=1"},
            hex("000300ae0001e43a"), true, {"checkBox_Global1", "checkBox_Global2", "checkBox_Global3", "checkBox_Global4"}, "pendingGlobalSet");
        row("SetGlobalSet none", "pushButton_SetGlobalOnOff", {}, hex("000600ae0000e9fa"));
        row("SetGlobalSet all", "pushButton_SetGlobalOnOff", {"checkBox_Global1=1", "checkBox_Global2=1", "checkBox_Global3=1", "checkBox_Global4=1"},
            hex("000600ae000fa9fe"));
        // Calibration tab.
        row("Calibrate query No.1 PM10", "pushButton_Calibrate", {"comboBox_Calibrate=0", "comboBox_CalibrateObject=1", "comboBox_CalibrateRange=1",
            "lineEdit_CalibrZero=5", "lineEdit_CalibrateFactor=50"}, hex("000301c50002d41b"), true,
            {"lineEdit_CalibrZero", "lineEdit_CalibrateFactor"}, "pendingCalibration");
        row("Calibrate set No.2 PM100", "pushButton_Calibrate", {"comboBox_Calibrate=1", "comboBox_CalibrateObject=2", "comboBox_CalibrateRange=2",
            "lineEdit_CalibrZero=-20", "lineEdit_CalibrateFactor=100"}, hex("001002c700020400140064e26a"));
        row("Calibrate set Avg PM2.5", "pushButton_Calibrate", {"comboBox_Calibrate=1", "comboBox_CalibrateObject=0", "comboBox_CalibrateRange=0",
            "lineEdit_CalibrZero=5", "lineEdit_CalibrateFactor=50"}, hex("001000c3000204010500322b3e"));
        // Withdrawn commands, reached through their slots.
        row("SetDeviceId 1234-abcd", "on_pushButton_SetID_clicked", {"Edit_DeviceID=1234-abcd"},
            hex("aaa7 000000000000 1234abcd 0000000000 be ab"), false);
        row("SetDeviceId ffff-ffff", "on_pushButton_SetID_clicked", {"Edit_DeviceID=ffff-ffff"},
            hex("aaa7 000000000000 ffffffff 0000000000 fc ab"), false);
        row("TransSend preset unit 1", "on_pushButton_TransSend_clicked", {"comboBoxTransObject=0", QString("lineEdit_TransSend=") + sleepPreset},
            hex("00100111000a14") + hex(sleepFrame) + hex("00 2755"));
        row("TransSend checksum unit 2", "on_pushButton_TransSend_clicked",
            {"comboBoxTransObject=1", "lineEdit_TransSend=aa b4 06 01 00 00 00 00 00 00 00 00 00 00 00 ff ff 00 ab"},
            hex("00100211000a13") + hex(sleepFrame) + hex("9d6f"));
        row("TransSend empty", "on_pushButton_TransSend_clicked", {"comboBoxTransObject=0", "lineEdit_TransSend="}, hex("00100111000a01008d8a"));
        row("TransSend long part", "on_pushButton_TransSend_clicked", {"comboBoxTransObject=3", "lineEdit_TransSend=1ff 2"}, withCrc("00100411000a02ff02"));
        row("TransRead unit 1", "on_pushButton_TransRead_clicked", {"comboBoxTransObject=0"}, hex("000301110013542f"), true, {}, "pendingTransRead");
        row("QueryAllSelfTest", "on_pushButton_GetFactor_clicked", filledFactors, hex("000300c9000495e6"), true, factors, "pendingFactor");
    }

    // Port open: one frame per press reaches the device, and nothing is logged.
    void commands()
    {
        QFETCH(QString, target);
        QFETCH(QStringList, setup);
        QFETCH(QByteArray, frame);
        QFETCH(bool, echoes);
        QFETCH(QStringList, emptied);
        QFETCH(QString, flag);
        apply(setup);
        widget<QLineEdit>("lineEdit_TransSend_2")->setText("sentinel");
        QVERIFY(press(target));
        checkEffects(setup, frame, echoes, emptied, flag);
        pendingReplies = PendingReplies{}; // keeps a started baud-rate probe from sending more
        QCOMPARE(pair->read(frame.size()).toHex(' '), frame.toHex(' '));
        QCOMPARE(pair->readFor(100).toHex(' '), QByteArray());
        QCOMPARE(logLines(), QStringList());
    }

    // Port not open: the frame is still built, echoed and flagged, and the log says it was not sent.
    void commandsWhileClosed_data() { commands_data(); }
    void commandsWhileClosed()
    {
        QFETCH(QString, target);
        QFETCH(QStringList, setup);
        QFETCH(QByteArray, frame);
        QFETCH(bool, echoes);
        QFETCH(QStringList, emptied);
        QFETCH(QString, flag);
        button("pushButtonClose")->click();
        apply(setup);
        widget<QLineEdit>("lineEdit_TransSend_2")->setText("sentinel");
        QVERIFY(press(target));
        checkEffects(setup, frame, echoes, emptied, flag);
        const QStringList lines = logLines();
        QCOMPARE(lines.size(), 1);
        QVERIFY2(lines.first().contains("not open"), qPrintable(lines.first()));
        QCOMPARE(pair->readFor(50), QByteArray());
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
        auto *combo = widget<QComboBox>("comboBox_BoudRate");
        QVERIFY(combo->findText(rate) >= 0);
        button("pushButtonClose")->click();
        combo->setCurrentIndex(combo->findText(rate));
        openPort(pair->slavePath());
        QCOMPARE(pair->baudRate(), rate.toInt());
        if (!target.isEmpty())
            QVERIFY(press(target));
        QCOMPARE(pair->baudRate(), expected);
        pendingReplies = PendingReplies{};
        // Reopening takes the combo's rate again, whatever the probe left.
        button("pushButtonClose")->click();
        openPort(pair->slavePath());
        QCOMPARE(pair->baudRate(), rate.toInt());
    }

    void presetAndHeaterRadios()
    {
        auto *send = widget<QLineEdit>("lineEdit_TransSend");
        auto *preset = widget<QComboBox>("comboBoxCommonCMD");
        send->setText("x");
        preset->setCurrentIndex(1);
        QCOMPARE(send->text(), QString(sleepPreset));
        preset->setCurrentIndex(0);
        QCOMPARE(send->text(), QString(sleepPreset));
        QCOMPARE(pair->readFor(100), QByteArray()); // choosing a preset sends nothing

        QAbstractButton *start = button("radioButton_StartHeat"), *stop = button("radioButton_StopHeat");
        start->click();
        QVERIFY(start->isChecked() && !stop->isChecked());
        button("pushButton_ManualHeat")->click();
        QCOMPARE(pair->read(8).toHex(' '), withCrc("000600ab0001").toHex(' '));
        stop->click();
        QVERIFY(stop->isChecked() && !start->isChecked());
        button("pushButton_ManualHeat")->click();
        QCOMPARE(pair->read(8).toHex(' '), hex("000600ab0000f9fb").toHex(' '));
    }

    void openCloseRefreshClear()
    {
        QSerialPort &serial = WindowProbe::serial(*window);
        QVERIFY(!button("pushButtonOpen")->isEnabled());
        QVERIFY(button("pushButtonClose")->isEnabled());
        QVERIFY(pollTimerId() != -1);

        widget<QTextEdit>("textEditPM")->setPlainText("one\ntwo");
        widget<QLineEdit>("lineEdit_TransSend_2")->setText("keep");
        button("pushButton")->click();
        QCOMPARE(widget<QTextEdit>("textEditPM")->toPlainText(), QString());
        QCOMPARE(echo(), QString("keep"));
        QVERIFY(serial.isOpen() && pollTimerId() != -1);

        button("pushButton_3")->click();
        QCOMPARE(widget<QComboBox>("comboBoxCOM")->count(), QSerialPortInfo::availablePorts().size());
        QVERIFY(serial.isOpen() && !button("pushButtonOpen")->isEnabled() && pollTimerId() != -1);
        button("pushButton_SetSleep")->click();
        QCOMPARE(pair->read(8).toHex(' '), hex("000600a2000029f9").toHex(' '));

        button("pushButtonClose")->click();
        QVERIFY(isClosedState());
        QVERIFY(!serial.isOpen());
        button("pushButton_SetSleep")->click();
        QCOMPARE(pair->readFor(200), QByteArray());
        button("pushButtonClose")->click(); // closing twice is harmless
        QVERIFY(isClosedState());

        openPort(pair->slavePath());
        QVERIFY(!button("pushButtonOpen")->isEnabled() && button("pushButtonClose")->isEnabled() && pollTimerId() != -1);
        button("pushButton_WakeDevice")->click();
        QCOMPARE(pair->read(8).toHex(' '), hex("000600a20001e839").toHex(' '));
    }

    void openFailureStaysClosed()
    {
        button("pushButtonClose")->click();
        widget<QTextEdit>("textEditPM")->clear();
        openPort("/dev/does-not-exist");
        QVERIFY(isClosedState());
        const QString reason = WindowProbe::serial(*window).errorString();
        QVERIFY(!reason.isEmpty());
        const QStringList lines = logLines();
        QCOMPARE(lines.size(), 1);
        QVERIFY2(lines.first().startsWith("Cannot open"), qPrintable(lines.first()));
        QVERIFY2(lines.first().contains("/dev/does-not-exist"), qPrintable(lines.first()));
        QVERIFY2(lines.first().contains(reason), qPrintable(lines.first() + " / " + reason));
    }

    // A port the operator may not open names the usual cause: not being in the dialout group.
    void openWithoutPermissionNamesDialout()
    {
        button("pushButtonClose")->click();
        widget<QTextEdit>("textEditPM")->clear();
        QTemporaryFile file;
        QVERIFY(file.open());
        QVERIFY(::chmod(qPrintable(file.fileName()), 0) == 0);
        // Root opens anything; act as an unprivileged user for the one open call.
        const bool root = ::geteuid() == 0;
        if (root)
            QVERIFY(::seteuid(65534) == 0);
        openPort(file.fileName());
        if (root)
            QVERIFY(::seteuid(0) == 0);
        QVERIFY(isClosedState());
        QCOMPARE(WindowProbe::serial(*window).error(), QSerialPort::PermissionError);
        const QStringList lines = logLines();
        QCOMPARE(lines.size(), 1);
        QVERIFY2(lines.first().startsWith("Cannot open") && lines.first().contains("dialout"),
                 qPrintable(lines.first()));
    }

    // The device side disappears while the port is open (the pty master closes, hanging up the slave).
    void portFailureClosesWindowPort()
    {
        const QString path = pair->slavePath();
        pair.reset();
        QTRY_VERIFY_WITH_TIMEOUT(isClosedState(), 3000);
        QVERIFY(!WindowProbe::serial(*window).isOpen());
        QTest::qWait(700); // later ticks and notifications must not add more lines
        const QStringList lines = logLines();
        QCOMPARE(lines.size(), 1);
        QVERIFY2(lines.first().contains(QString(path).remove("/dev/")), qPrintable(lines.first()));

        pair = std::make_unique<PtyPair>();
        openPort(pair->slavePath());
        QVERIFY(!button("pushButtonOpen")->isEnabled() && pollTimerId() != -1);
        button("pushButton_SetSleep")->click();
        QCOMPARE(pair->read(8).toHex(' '), hex("000600a2000029f9").toHex(' '));
    }

    // The request holds at most 91 data bytes: a longer text is refused with a message, not cut.
    void transparentSendLimit()
    {
        ModalCloser closer;
        auto *send = widget<QLineEdit>("lineEdit_TransSend");
        send->setText(QString("11 ").repeated(91) + "11");
        QVERIFY(press("on_pushButton_TransSend_clicked"));
        QCOMPARE(closer.count(), 1);
        QCOMPARE(closer.boxes().first().title, QString("Information"));
        QVERIFY2(closer.boxes().first().text.contains("91"), qPrintable(closer.boxes().first().text));
        QCOMPARE(closer.boxes().first().buttons, QStringList{"Ok"});
        QCOMPARE(pair->readFor(500), QByteArray());

        closer.clear();
        send->setText(QString("11 ").repeated(90) + "11");
        QVERIFY(press("on_pushButton_TransSend_clicked"));
        // Offset 24 carries the sum of offsets 9 to 23 (fifteen 0x11 = 0xff).
        const QByteArray expected = withCrc(hex("00100111000a5b") + QByteArray(17, 0x11) + char(0xFF) + QByteArray(73, 0x11));
        QCOMPARE(expected.size(), 100);
        QCOMPARE(pair->read(100).toHex(' '), expected.toHex(' '));
        QCOMPARE(closer.count(), 0);
    }
};

QTEST_MAIN(TstCommands)
#include "tst_commands.moc"
