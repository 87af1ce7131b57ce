// Reply decoding: classification of each tick's bytes, the read-reply rows, write echoes,
// the native identity texts and the baud-rate probe.
#include "baudprobe.h"
#include "classify.h"
#include "modbusdecode.h"
#include "nativedecode.h"
#include "pendingflags.h"
#include "testbytes.h"

#include <QtTest>

namespace {

QString kindName(ReplyKind kind)
{
    static const char *const names[] = {"Nothing", "Held",    "NativeReply", "NativePair", "WriteEcho",
                                        "ReadReply", "Refused", "Exception",   "Ignored"};
    return QString::fromLatin1(names[int(kind)]);
}

// "name=text" for a text, "name:on" / "name:off" for a check state, joined by "|".
QString describe(const QList<WidgetChange> &changes)
{
    QStringList parts;
    for (const WidgetChange &c : changes) {
        parts << (c.kind == WidgetChange::SetText ? c.objectName + "=" + c.text
                                                  : c.objectName + (c.checked ? ":on" : ":off"));
    }
    return parts.join('|');
}

const QByteArray measurementReply = hex("01 03 08 00 7B 01 C8 03 15 00 00 AF 51");

} // namespace

class TestDecoder : public QObject
{
    Q_OBJECT

private slots:
    void classify_data()
    {
        QTest::addColumn<QByteArrayList>("ticks");
        QTest::addColumn<QString>("kinds");        // the kind of each feed, blank-separated
        QTest::addColumn<QByteArray>("block");     // the block of the last feed
        QTest::addColumn<QString>("note");         // text the single note must contain; empty: no note

        const QByteArray deviceFrame = nativeFrame(0xA6, 8, hex("12 34 AB CD"));
        const QByteArray firmwareFrame = nativeFrame(0xB5, 9, hex("01 FF 03"));
        const QByteArray pair = deviceFrame + firmwareFrame;
        const QByteArray read19 = hex("01 03 0E 11 11 11 11 11 11 11 11 11 11 11 11 11 CF 19 AB");
        const QByteArray read38 = hex("01 03 21 10 11 12 13 14 15 16 17 18 19 1A 1B 1C 1D 1E AB AA 21 22 23 24 25 26"
                                      " 27 28 29 2A 2B 2C 2D 2E 2F 30 9B 7C");
        const QByteArray read69 = hex("01 03 40") + counting(64) + hex("50 CF");
        const QByteArray junk70(70, char(0x55));

        // block: the last feed's block, by default all the ticks joined.
        auto row = [](const char *name, const QByteArrayList &ticks, const char *kinds, const char *note = "",
                      const QByteArray &block = QByteArray()) {
            QTest::newRow(name) << ticks << QString(kinds) << (block.isNull() ? ticks.join() : block) << QString(note);
        };
        row("empty tick", {{}}, "Nothing");
        row("native frame", {deviceFrame}, "NativeReply");
        row("native markers wrong, id A6", {nativeFrame(0xA6, 8, hex("12 34"), 0xAC)}, "Ignored");
        row("native pair", {pair}, "NativePair");
        row("write echo", {hex("00 06 00 B1 00 03 98 3D")}, "WriteEcho");
        row("multiple-write echo", {hex("00 10 00 11 00 0A 11 DA")}, "Ignored");
        row("read reply", {measurementReply}, "ReadReply");
        row("read reply, bad CRC", {hex("01 03 08 00 7B 01 C8 03 15 00 00 AF 52")}, "Refused", "CRC");
        row("19-byte read reply ending AB", {read19}, "ReadReply");
        row("38-byte read reply", {read38}, "ReadReply");
        row("read reply from address AA", {hex("AA 03 02 00 AA 1D E3")}, "ReadReply");
        row("read reply longer than 60", {read69}, "ReadReply");
        row("read reply and trailing bytes past 60", {measurementReply + junk70}, "ReadReply", "", measurementReply);
        row("70 unknown bytes", {junk70}, "Ignored");
        row("split read reply", {measurementReply.left(5), measurementReply.mid(5)}, "Held ReadReply");
        row("split native frame", {deviceFrame.left(10), deviceFrame.mid(10)}, "Held NativeReply");
        row("split native pair", {pair.left(25), pair.mid(25)}, "Held NativePair");
        row("held, nothing follows", {measurementReply.left(5), {}}, "Held Refused", "Incomplete");
        row("held, still short", {hex("01 03 08"), hex("00 7B")}, "Held Refused", "Incomplete");
        row("held once only", {deviceFrame.left(4), deviceFrame.mid(4, 4), deviceFrame.mid(8)}, "Held Refused Ignored", "",
            deviceFrame.mid(8));
        row("01 03 alone is held", {hex("01 03"), {}}, "Held Refused", "Incomplete");
        row("lone byte", {hex("55"), {}}, "Held Refused", "Incomplete");
        row("split multiple-write answer", {hex("00 10"), hex("00 11 00 0A 11 DA")}, "Held Ignored");
        row("truncated reply, then the whole reply", {measurementReply.left(5), measurementReply}, "Held ReadReply",
            "Incomplete", measurementReply);
        row("stray byte, then a reply from address 3", {hex("55"), hex("03 03 02 00 03 81 85")}, "Held ReadReply",
            "Incomplete", hex("03 03 02 00 03 81 85"));
        row("multiple-write answer from address AA", {hex("AA 10 00 C3 00 02 A8 2F")}, "Ignored");
        row("stray byte before a reply", {hex("55"), measurementReply}, "Held ReadReply", "Incomplete", measurementReply);
        row("short write echo completed", {hex("00 06 00"), hex("B1 00 03 98 3D")}, "Held WriteEcho");
        row("exception", {hex("01 83 02 C0 F1")}, "Exception", "exception 2 (illegal data address)");
        row("write exception", {withCrc("01 86 01")}, "Exception", "exception 1 (illegal function)");
        row("multiple-write exception", {withCrc("01 90 03")}, "Exception", "exception 3 (illegal data value)");
        row("exception, unknown code", {hex("01 90"), hex("07 0D C2")}, "Held Exception", "exception 7 (unknown)");
        row("exception, bad CRC", {hex("01 83 02 C0 F2")}, "Ignored");
    }

    void classify()
    {
        QFETCH(QByteArrayList, ticks);
        QFETCH(QString, kinds);
        QFETCH(QByteArray, block);
        QFETCH(QString, note);

        ReplyAssembler assembler;
        QStringList got;
        Classified last;
        for (const QByteArray &tick : ticks) {
            if (!got.isEmpty() && last.kind != ReplyKind::Refused && last.kind != ReplyKind::Exception)
                QVERIFY2(last.notes.isEmpty(), qPrintable(last.notes.join('\n')));
            last = assembler.feed(tick);
            got << kindName(last.kind);
        }
        QCOMPARE(got.join(' '), kinds);
        QCOMPARE(last.block.toHex(' '), block.toHex(' '));
        if (note.isEmpty()) {
            QVERIFY(last.notes.isEmpty());
        } else {
            QCOMPARE(last.notes.size(), 1);
            QVERIFY2(last.notes.first().contains(note), qPrintable(last.notes.first()));
        }
        QVERIFY(!assembler.isHolding() || kinds.endsWith("Held"));
    }

    void expectedLength_data()
    {
        QTest::addColumn<QByteArray>("block");
        QTest::addColumn<int>("length");
        QTest::newRow("lone byte") << hex("01") << -1;
        QTest::newRow("read, no count yet") << hex("01 03") << -1;
        QTest::newRow("read, count 8") << hex("01 03 08 00") << 13;
        QTest::newRow("native start") << hex("AA A6 00") << 19;
        QTest::newRow("write echo start") << hex("00 06 00") << 8;
        QTest::newRow("multiple-write echo start") << hex("00 10") << 8;
        QTest::newRow("exception start") << hex("01 86") << 5;
        QTest::newRow("unknown function") << hex("01 04 02") << 0;
    }

    void expectedLength()
    {
        QFETCH(QByteArray, block);
        QFETCH(int, length);
        QCOMPARE(expectedReplyLength(block), length);
    }

    void readReply_data()
    {
        QTest::addColumn<QString>("flags");    // "name" raises to 1, "name=v" sets v
        QTest::addColumn<QByteArray>("reply"); // bytes past the end read as 0
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("changes");
        QTest::addColumn<QStringList>("log");

        auto row = [](const char *name, const char *flags, const QByteArray &reply, const char *changes,
                      const QStringList &log = {}, int index = 0) {
            QTest::newRow(name) << QString(flags) << reply << index << QString(changes) << log;
        };
        const QString line = "PM2.5 = 12.3  PM10 = 45.6  PM100 = 789";
        row("measurement, Avg", "pendingSensorData", measurementReply, "", {"All Sensor: " + line});
        row("measurement, unit 2", "pendingSensorData", measurementReply, "", {"Sensor 2:  " + line}, 2);
        row("measurement, index 258", "pendingSensorData", measurementReply, "", {"Sensor 2:  " + line}, 258);
        row("measurement, 0 / 000A / 0064", "pendingSensorData", hex("01 03 08 00 00 00 0A 00 64"), "",
            {"All Sensor: PM2.5 = 0  PM10 = 1  PM100 = 100"});
        row("measurement, FFFF / 0064", "pendingSensorData", hex("01 03 08 FF FF 00 64 FF FF"), "",
            {"Sensor 1:  PM2.5 = 6553.5  PM10 = 10  PM100 = 65535"}, 1);
        row("clean setting", "pendingCleanSetting", hex("01 03 02 1E 3C"),
            "lineEdit_AutoCleanTime=|lineEdit_AutoCleanDustJianGe=|lineEdit_AutoCleanTime=30|lineEdit_AutoCleanDustJianGe=60");
        row("heat mode auto", "pendingHeatMode", hex("01 03 02 01 00"), "radioButton_AutoHeat:on|radioButton_ManualHeat:off");
        row("heat mode manual", "pendingHeatMode", hex("01 03 02 00 01"), "radioButton_AutoHeat:off|radioButton_ManualHeat:on");
        row("heat mode 02", "pendingHeatMode", hex("01 03 02 02 00"), "");
        row("work mode 01, mask 05", "pendingWorkMode", hex("01 03 02 01 05"),
            "radioButton_Autoall:on|radioButton_Autosingle:off|radioButton_Manualset:off|checkBox_No1:on|checkBox_No3:on");
        row("work mode 03, mask FA", "pendingWorkMode", hex("01 03 02 03 FA"),
            "radioButton_Autoall:off|radioButton_Autosingle:off|radioButton_Manualset:on|checkBox_No2:on|checkBox_No4:on");
        row("work mode 04", "pendingWorkMode", hex("01 03 02 04 0F"), "");
        row("address 0A", "pendingModbusAddr", hex("01 03 02 07 0A"), "lineEdit_DeviceAddr=a");
        row("address FF", "pendingModbusAddr", hex("01 03 02 00 FF"), "lineEdit_DeviceAddr=ff");
        row("self test 0E", "pendingSelfCheck", hex("01 03 02 00 0E"), "checkBox_Selfcheck1:on");
        row("self test 0F", "pendingSelfCheck", hex("01 03 02 00 0F"), "");
        row("self test F5", "pendingSelfCheck", hex("01 03 02 00 F5"), "checkBox_Selfcheck2:on|checkBox_Selfcheck4:on");
        row("global 05", "pendingGlobalSet", hex("01 03 02 00 05"), "checkBox_Global1:on|checkBox_Global3:on");
        row("temperature and humidity", "pendingTempHumi", hex("01 03 02 F6 F6"), "lineEdit_Temp=-10|lineEdit_Humi=246");
        row("heat temperature thresholds", "pendingHeatTempThreshold", hex("01 03 02 F6 80"),
            "lineEdit_HeatTempHigh=-10|lineEdit_HeatTempLow=-128");
        row("heat humidity thresholds", "pendingHeatHumiThreshold", hex("01 03 02 C8 0A"),
            "lineEdit_HeatHumiHigh=200|lineEdit_HeatHumiLow=10");
        row("calibration 00 05 64", "pendingCalibration", hex("01 03 04 00 05 07 64"),
            "lineEdit_CalibrZero=-5|lineEdit_CalibrateFactor=100");
        row("calibration 01 05 64", "pendingCalibration", hex("01 03 04 01 05 07 64"),
            "lineEdit_CalibrZero=5|lineEdit_CalibrateFactor=100");
        row("calibration 00 00", "pendingCalibration", hex("01 03 04 00 00 00 64"),
            "lineEdit_CalibrZero=0|lineEdit_CalibrateFactor=100");
        row("transparent read", "pendingTransRead", hex("01 03 04 11 22 A3 44 00 00"), "lineEdit_TransRead=11 22 a3 44 ");
        row("transparent read, count beyond data", "pendingTransRead", hex("01 03 26 11 22 33"),
            "lineEdit_TransRead=11 22 33 ");
        row("factors", "pendingFactor", hex("01 03 08 01 02 03 04 05 06 07 FF"),
            "lineEdit_1Factor=1|lineEdit_2Factor=2|lineEdit_3Factor=3|lineEdit_4Factor=4|"
            "lineEdit_1Factor_2=5|lineEdit_2Factor_2=6|lineEdit_3Factor_2=7|lineEdit_4Factor_2=255");
        row("two flags, one reply", "pendingTempHumi,pendingSensorData", measurementReply,
            "lineEdit_Temp=0|lineEdit_Humi=123", {"All Sensor: " + line});
        row("flags not 1 are left alone", "pendingSensorData=2,pendingHeatMode=255,pendingTempHumi", measurementReply,
            "lineEdit_Temp=0|lineEdit_Humi=123");
        row("no flag raised", "", measurementReply, "");
    }

    void readReply()
    {
        QFETCH(QString, flags);
        QFETCH(QByteArray, reply);
        QFETCH(int, index);
        QFETCH(QString, changes);
        QFETCH(QStringList, log);

        PendingReplies pending;
        QMap<QString, int> before;
        for (const QString &item : flags.split(',', Qt::SkipEmptyParts)) {
            const QStringList nameValue = item.split('=');
            before[nameValue[0]] = nameValue.size() > 1 ? nameValue[1].toInt() : 1;
        }
        for (const auto &flag : pendingFlags())
            pending.*flag.second = quint8(before.value(flag.first, 0));

        const ReadReplyOutcome out = decodeReadReply(reply, pending, index);
        QCOMPARE(describe(out.changes), changes);
        QCOMPARE(out.logLines, log);
        for (const auto &flag : pendingFlags()) {
            const int was = before.value(flag.first, 0);
            QCOMPARE(int(pending.*flag.second), was == 1 ? 0 : was);
        }
    }

    void writeEcho_data()
    {
        QTest::addColumn<QByteArray>("echo");
        QTest::addColumn<QString>("message");
        QTest::newRow("to Modbus") << hex("00 06 00 B1 00 03 98 3D") << "Device change to MODBUS!";
        QTest::newRow("to Kelvra") << hex("00 06 00 B1 00 00 D8 3C") << "Device change to Kelvra!";
        QTest::newRow("factory") << hex("00 06 00 A5 00 01 59 F8") << "Device change to FactoryConfig!";
        QTest::newRow("offsets 0, 2, 4 not examined") << hex("7F 06 55 B1 66 03 98 3D") << "Device change to MODBUS!";
        QTest::newRow("from address 01") << hex("01 06 00 B1 00 03 99 EC") << "";
        QTest::newRow("sleep echo") << hex("00 06 00 A2 00 00 29 F9") << "";
    }

    void writeEcho()
    {
        QFETCH(QByteArray, echo);
        QFETCH(QString, message);
        const char *text = writeEchoMessage(echo);
        QCOMPARE(text ? QString::fromLatin1(text) : QString(), message);
    }

    void nativeTexts_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<QString>("deviceId");
        QTest::addColumn<QString>("firmwareId");
        QTest::newRow("1234-abcd") << nativeFrame(0xA6, 8, hex("12 34 AB CD")) << "1234-abcd" << "52--85--51";
        QTest::newRow("leading zeros") << nativeFrame(0xA6, 8, hex("00 0F 00 00")) << "000f-0000" << "15-0-0";
        QTest::newRow("1-2-10") << nativeFrame(0xB5, 9, hex("01 02 0A")) << "0001-020a" << "1-2-10";
        QTest::newRow("negative firmware number") << nativeFrame(0xB5, 9, hex("01 FF 03")) << "0001-ff03" << "1--1-3";
    }

    void nativeTexts()
    {
        QFETCH(QByteArray, frame);
        QFETCH(QString, deviceId);
        QFETCH(QString, firmwareId);
        QCOMPARE(deviceIdText(frame), deviceId);
        QCOMPARE(firmwareIdText(frame), firmwareId);
    }

    void probeScan()
    {
        PendingReplies pending;
        BaudProbe::start(pending);
        QCOMPARE(BaudProbe::rateForStep(pending.pendingBaudrate), BaudProbe::StartRate);

        QStringList steps; // "tick:rate:debug" for each change of rate
        for (int tick = 1; tick <= 15; ++tick) {
            const BaudProbe::ScanStep step = BaudProbe::scanStep(pending);
            if (step.changeRate)
                steps << QString("%1:%2:%3").arg(tick).arg(step.rate).arg(step.debugStep);
        }
        QCOMPARE(steps, QStringList({"1:9600:2", "4:4800:3", "7:2400:4", "10:9600:5"}));
        QCOMPARE(int(pending.pendingBaudrate), 0);
        QCOMPARE(pending.baudScanTicks, quint32(10)); // an idle probe counts no ticks
    }

    void probeAnswer_data()
    {
        QTest::addColumn<int>("step");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("message"); // empty: not an answer
        QTest::newRow("answer at 4800") << 3 << hex("05 03 02 00 05 89 87") << "Baudrate is 4800 !";
        QTest::newRow("answer at 19200") << 1 << hex("05 03 02 00 05 89 87") << "Baudrate is 19200 !";
        QTest::newRow("answer at 2400") << 4 << hex("AA 03 02 00 AA 1D E3") << "Baudrate is 2400 !";
        QTest::newRow("address differs") << 3 << hex("05 03 02 00 01") << "";
        QTest::newRow("byte count 4") << 2 << hex("05 03 04 00 05 00 00") << "";
        QTest::newRow("no probe running") << 0 << hex("05 03 02 00 05 89 87") << "";
    }

    void probeAnswer()
    {
        QFETCH(int, step);
        QFETCH(QByteArray, reply);
        QFETCH(QString, message);

        PendingReplies pending;
        pending.pendingBaudrate = quint8(step);
        pending.baudScanTicks = 2; // the next scan step would change the rate
        QCOMPARE(BaudProbe::isAnswer(reply, pending), !message.isEmpty());
        if (message.isEmpty())
            return;
        const quint8 answered = BaudProbe::acceptAnswer(pending);
        QCOMPARE(int(answered), step);
        QCOMPARE(QString::fromLatin1(BaudProbe::answerMessage(answered)), message);
        QCOMPARE(int(pending.pendingBaudrate), 0);
        for (int tick = 0; tick < 6; ++tick)
            QVERIFY(!BaudProbe::scanStep(pending).changeRate);
    }
};

QTEST_GUILESS_MAIN(TestDecoder)
#include "tst_decoder.moc"
