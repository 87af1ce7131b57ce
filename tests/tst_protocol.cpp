// Frame layer: check values, echo text and the bytes of every command.
#include <QtTest>

#include "checks.h"
#include "commandframes.h"
#include "frames.h"
#include "hextext.h"
#include "inputcheck.h"
#include "testbytes.h"

#include <climits>

namespace {

constexpr int Refused = INT_MIN;

// The "Sleep" general command as the operator finds it in the send field.
const char SleepText[] = "aa b4 06 01 00 00 00 00 00 00 00 00 00 00 00 ff ff 05 ab ";

// Space-separated hex parts 00, 01, ... for a count of parts.
QString countingParts(int count)
{
    QStringList parts;
    for (int i = 0; i < count; ++i)
        parts << QString::number(i, 16);
    return parts.join(QLatin1Char(' '));
}

} // namespace

class ProtocolTest : public QObject
{
    Q_OBJECT

private slots:
    void crc_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("expected");
        QTest::newRow("empty") << QByteArray() << 0xFFFF;
        QTest::newRow("check value of CRC-16/MODBUS") << QByteArray("123456789") << 0x4B37;
        QTest::newRow("change to modbus") << hex("00 06 00 B1 00 03") << 0x3D98;
        QTest::newRow("address read") << hex("00 03 00 00 00 01") << 0xDB85;
        QTest::newRow("calibration write") << hex("00 10 02 C7 00 02 04 00 14 00 64") << 0x6AE2;
        QTest::newRow("transparent read") << hex("00 03 01 11 00 13") << 0x2F54;
    }

    void crc()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, expected);
        QCOMPARE(int(crc16Modbus(bytes)), expected);
        QCOMPARE(int(crc16Modbus(reinterpret_cast<const quint8 *>(bytes.constData()), quint16(bytes.size()))),
                 expected);
    }

    void crcCheck()
    {
        QByteArray frame = hex("00 06 00 AE 00 0F A9 FE");
        QVERIFY(hasValidModbusCrc(frame));
        frame[5] = char(0x0E);
        QVERIFY(!hasValidModbusCrc(frame));
        QVERIFY(!hasValidModbusCrc(hex("00 06 00 AE 00 0F FE A9"))); // CRC bytes swapped
        QVERIFY(!hasValidModbusCrc(hex("FF")));
    }

    void kelvraChecksum_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<int>("expected");
        QTest::newRow("sleep preset") << hex("AA B4 06 01 00 00 00 00 00 00 00 00 00 00 00 FF FF 00 AB") << 0x05;
        QTest::newRow("all data zero") << hex("AA A6 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 AB") << 0x00;
        // Head, command, checksum and tail take no part.
        QTest::newRow("outside data ignored") << hex("FF FF 00 00 00 00 00 00 00 00 00 00 00 00 00 00 01 FF FF") << 0x01;
    }

    void kelvraChecksum()
    {
        QFETCH(QByteArray, frame);
        QFETCH(int, expected);
        QCOMPARE(int(::kelvraChecksum(frame)), expected);
        QCOMPARE(int(::kelvraChecksum(reinterpret_cast<const quint8 *>(frame.constData()))), expected);
    }

    void hexText()
    {
        const QByteArray frame = hex("00 06 00 B1 00 03 98 3D");
        const QString text = formatHexBytes(frame);
        QCOMPARE(text, QStringLiteral("00 06 00 b1 00 03 98 3d "));
        QCOMPARE(logHexBytes(frame), text);
        QCOMPARE(logHexBytes(frame, 3), QStringLiteral("00 06 00 \u2026 (5 more bytes)"));
        QCOMPARE(logHexBytes(QByteArray(300, '\x55')), QStringLiteral("55 ").repeated(256) + QStringLiteral("\u2026 (44 more bytes)"));
        const auto *bytes = reinterpret_cast<const quint8 *>(frame.constData());
        QCOMPARE(formatHexBytes(bytes, 2), QStringLiteral("00 06 "));
        QVERIFY(formatHexBytes(bytes, 0).isEmpty());
        QVERIFY(formatHexBytes(bytes, -1).isEmpty());
        QCOMPARE(Commands::sleepPresetText(), QString::fromLatin1(SleepText));
    }

    // Single values derived from operator input; those that only feed one frame are checked in frames().
    void conversions_data()
    {
        QTest::addColumn<int>("actual");
        QTest::addColumn<int>("expected");
        QTest::newRow("address 1ab") << int(Commands::deviceAddressByte(QStringLiteral("1ab"))) << 0xAB;
        QTest::newRow("mask 2 and 4") << int(Commands::unitMask({false, true, false, true})) << 0x0A;
        QTest::newRow("mask all") << int(Commands::unitMask({true, true, true, true})) << 0x0F;
    }

    void conversions()
    {
        QFETCH(int, actual);
        QFETCH(int, expected);
        QCOMPARE(actual, expected);
    }

    // The operator's numbers: each kind's range edges and the numbers just outside, blanks around
    // allowed, in the kind's base; anything else is refused.
    void inputs_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("value"); // Refused when the text is refused
        using K = Input::Kind;
        const struct {
            K kind;
            int value;
            const char *text;
        } rows[] = {
            {K::DeviceAddress, 1, "1"}, {K::DeviceAddress, 255, " FF "}, {K::DeviceAddress, Refused, "0"},
            {K::DeviceAddress, Refused, "100"}, {K::DeviceAddress, Refused, "1g"},
            {K::CleaningTime, 0, "0"}, {K::CleaningTime, 255, "255"}, {K::CleaningTime, Refused, "-1"},
            {K::CleaningTime, Refused, "256"}, {K::CleaningTime, Refused, "1.5"}, {K::CleaningTime, Refused, ""},
            {K::Temperature, -128, "-128"}, {K::Temperature, 127, "127"}, {K::Temperature, Refused, "-129"},
            {K::Temperature, Refused, "128"},
            {K::Humidity, 0, "0"}, {K::Humidity, 100, "100"}, {K::Humidity, Refused, "-1"}, {K::Humidity, Refused, "101"},
            {K::ZeroOffset, -255, "-255"}, {K::ZeroOffset, 255, " +255"}, {K::ZeroOffset, Refused, "-256"},
            {K::ZeroOffset, Refused, "256"},
            {K::RatioFactor, 10, "10"}, {K::RatioFactor, 250, "250"}, {K::RatioFactor, Refused, "9"},
            {K::RatioFactor, Refused, "251"}, {K::RatioFactor, Refused, "1e2"},
        };
        for (const auto &row : rows)
            QTest::addRow("%d \"%s\"", int(row.kind), row.text) << int(row.kind) << QString(row.text) << row.value;
    }

    void inputs()
    {
        QFETCH(int, kind);
        QFETCH(QString, text);
        QFETCH(int, value);
        QCOMPARE(Input::accepted(Input::Kind(kind), text).value_or(Refused), value);
    }

    // A threshold pair is sent only with the high one strictly above the low one: crossed or
    // equal thresholds are refused, one degree or percent apart is enough.
    void thresholdPairs()
    {
        const struct {
            int high, low;
            bool ordered;
        } rows[] = {{5, -10, true}, {1, 0, true}, {127, -128, true}, {50, 50, false}, {90, 95, false}, {-5, 10, false}, {-128, 127, false}};
        for (const auto &row : rows)
            QVERIFY2(Input::thresholdsOrdered(row.high, row.low) == row.ordered, qPrintable(QString("%1/%2").arg(row.high).arg(row.low)));
    }

    void deviceId_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("id");
        QTest::addColumn<int>("checksum");
        QTest::newRow("initial") << QStringLiteral("ffff-ffff") << hex("FF FF FF FF") << 0xFC;
        QTest::newRow("two groups") << QStringLiteral("1234-abcd") << hex("12 34 AB CD") << 0xBE;
        QTest::newRow("no dash") << QStringLiteral("1234") << hex("12 34 12 34") << 0x8C;
        QTest::newRow("three groups") << QStringLiteral("a-b-c") << hex("00 0A 00 0C") << 0x16;
        QTest::newRow("empty") << QString() << hex("00 00 00 00") << 0x00;
        QTest::newRow("wide group") << QStringLiteral("1abcd-0") << hex("AB CD 00 00") << 0x78;
        QTest::newRow("trailing dash") << QStringLiteral("12-") << hex("00 12 00 00") << 0x12;
        QTest::newRow("invalid group") << QStringLiteral("xyz-ab") << hex("00 00 00 AB") << 0xAB;
    }

    void deviceId()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, id);
        QFETCH(int, checksum);
        const std::array<quint8, 4> bytes = Commands::deviceIdBytes(text);
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(bytes.data()), 4), id);
        QByteArray expected = hex("AA A7 00 00 00 00 00 00") + id + hex("00 00 00 00 00");
        expected.append(char(checksum)).append(char(0xAB));
        QCOMPARE(Commands::setDeviceId(text).toHex(' '), expected.toHex(' '));
    }

    // Every request with its complete bytes on the wire.
    void frames_data()
    {
        using namespace Commands;
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<QByteArray>("expected");
        auto row = [](const char *name, const QByteArray &frame, const char *expected) {
            QTest::newRow(name) << frame << hex(expected);
        };
        // Identity and protocol.
        row("device info", getDeviceInfo(), "AA A6 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 AB");
        row("firmware id", firmwareIdRequest(), "AA B5 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 AB");
        row("to modbus", changeToModbus(), "00 06 00 B1 00 03 98 3D");
        row("to kelvra", changeToKelvra(), "00 06 00 B1 00 00 D8 3C");
        row("factory", setFactorySettings(), "00 06 00 A5 00 01 59 F8");
        // Modbus settings.
        row("sensor avg", readSensorData(0), "00 03 00 B4 00 04 05 FE");
        row("sensor 1", readSensorData(1), "00 03 01 B4 00 04 04 02");
        row("address read", getDeviceAddress(), "00 03 00 00 00 01 85 DB");
        row("address ff", setDeviceAddress(QStringLiteral("ff")), "00 06 00 00 00 FF C8 5B");
        row("address 0", setDeviceAddress(QStringLiteral("0")), "00 06 00 00 00 01 49 DB");
        row("address 100", setDeviceAddress(QStringLiteral("100")), "00 06 00 00 00 01 49 DB");
        row("sleep", setSleep(), "00 06 00 A2 00 00 29 F9");
        row("wake", wakeUp(), "00 06 00 A2 00 01 E8 39");
        row("baud 0", setBaudRate(0), "00 06 00 CD 00 03 59 E5");
        row("baud 1", setBaudRate(1), "00 06 00 CD 00 02 98 25");
        row("baud 2", setBaudRate(2), "00 06 00 CD 00 03 59 E5");
        row("baud 3", setBaudRate(3), "00 06 00 CD 00 04 18 27");
        // Maintenance.
        row("manual clean 10", manualClean(QStringLiteral("10")), "00 06 00 A9 00 0A D8 3C");
        row("auto clean read", getAutoClean(), "00 03 00 AA 00 01 A5 FB");
        row("auto clean 300", setAutoClean(QStringLiteral("300"), QStringLiteral("5")), "00 06 00 AA 2C 05 74 F8");
        row("heater off", manualHeat(false), "00 06 00 AB 00 00 F9 FB");
        row("heater on", manualHeat(true), "00 06 00 AB 00 01 38 3B");
        row("heater auto", autoHeat(), "00 06 00 AB 01 00 F8 6B");
        row("heat mode read", getHeatMode(), "00 03 00 AB 00 01 F4 3B");
        row("temp read", getHeatTempThresholds(), "00 03 00 AC 00 01 45 FA");
        row("temp 40 -10", setHeatTempThresholds(QStringLiteral("40"), QStringLiteral("-10")),
            "00 06 00 AC 28 F6 D6 7C");
        row("humi read", getHeatHumiThresholds(), "00 03 00 AD 00 01 14 3A");
        row("auto all", autoAllWork(), "00 06 00 A6 01 00 69 A8");
        row("auto single", autoSingleWork(), "00 06 00 A6 02 00 69 58");
        row("select 2 and 4", selectWork(0x0A), "00 06 00 A6 03 0A E8 CF");
        row("select none", selectWork(0x00), "00 06 00 A6 03 00 68 C8");
        row("work mode read", getWorkMode(), "00 03 00 A6 00 01 65 F8");
        // Diagnostics and calibration.
        row("self test", getSelfTest(), "00 03 00 A7 00 01 34 38");
        row("global read", getGlobalOnOff(), "00 03 00 AE 00 01 E4 3A");
        row("global none", setGlobalOnOff(0x00), "00 06 00 AE 00 00 E9 FA");
        row("global all", setGlobalOnOff(0x0F), "00 06 00 AE 00 0F A9 FE");
        row("temp humi", getTempHumi(), "00 03 00 A8 00 01 04 3B");
        row("factors", getSelfTestFactors(), "00 03 00 C9 00 04 95 E6");
        row("cali query 1 PM10", calibrationQuery(1, 1), "00 03 01 C5 00 02 D4 1B");
        row("cali query avg PM2.5", calibrationQuery(0, 0), "00 03 00 C3 00 02 35 E6");
        row("cali query 4 PM100", calibrationQuery(4, 2), "00 03 04 C7 00 02 75 17");
        row("cali set -20", calibrationSet(2, 2, QStringLiteral("-20"), QStringLiteral("100")),
            "00 10 02 C7 00 02 04 00 14 00 64 E2 6A");
        row("cali set 5", calibrationSet(0, 0, QStringLiteral("5"), QStringLiteral("50")),
            "00 10 00 C3 00 02 04 01 05 00 32 2B 3E");
        row("cali set 0", calibrationSet(0, 0, QStringLiteral("0"), QStringLiteral("10")),
            "00 10 00 C3 00 02 04 00 00 00 0A 3B 11");
        row("cali set -256 factor 300", calibrationSet(3, 1, QStringLiteral("-256"), QStringLiteral("300")),
            "00 10 03 C5 00 02 04 00 00 00 2C 2E 11");
        row("cali set 256 factor 300", calibrationSet(4, 2, QStringLiteral("256"), QStringLiteral("300")),
            "00 10 04 C7 00 02 04 01 00 00 2C 88 04");
        row("cali set int min", calibrationSet(0, 0, QString::number(INT_MIN), QStringLiteral("x")),
            "00 10 00 C3 00 02 04 00 00 00 00 BB 16");
        // Transparent channel.
        row("trans read 1", transparentRead(QStringLiteral("1")), "00 03 01 11 00 13 54 2F");
        row("sleep preset", sleepPresetFrame(), "AA B4 06 01 00 00 00 00 00 00 00 00 00 00 00 FF FF 05 AB");
    }

    void frames()
    {
        QFETCH(QByteArray, frame);
        QFETCH(QByteArray, expected);
        QCOMPARE(frame.toHex(' '), expected.toHex(' '));
    }

    void transparentSend_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("unit");
        QTest::addColumn<int>("parts");
        QTest::addColumn<QByteArray>("expected");
        auto row = [](const char *name, const QString &text, const char *unit, int parts, const char *expected) {
            QTest::newRow(name) << text << QString::fromLatin1(unit) << parts << hex(expected);
        };
        auto latin = [](const char *text) { return QString::fromLatin1(text); };
        // 19 frame bytes and the empty part after the trailing blank.
        row("sleep preset unit 1", latin(SleepText), "1", 20,
            "00 10 01 11 00 0A 14 AA B4 06 01 00 00 00 00 00 00 00 00 00 00 00 FF FF 05 AB 00 27 55");
        // The typed 00 in the checksum position goes out as the frame's checksum.
        row("checksum replaced", latin("aa b4 06 01 00 00 00 00 00 00 00 00 00 00 00 ff ff 00 ab"), "2", 19,
            "00 10 02 11 00 0A 13 AA B4 06 01 00 00 00 00 00 00 00 00 00 00 00 FF FF 05 AB 9D 6F");
        row("18 parts", latin("aa b4 06 01 00 00 00 00 00 00 00 00 00 00 00 ff ff 99"), "1", 18,
            "00 10 01 11 00 0A 12 AA B4 06 01 00 00 00 00 00 00 00 00 00 00 00 FF FF 05 57 44");
        // Below 18 parts the checksum position holds the CRC, or lies beyond the request.
        row("17 parts", latin("aa b4 06 01 00 00 00 00 00 00 00 00 00 00 00 ff fe"), "1", 17,
            "00 10 01 11 00 0A 11 AA B4 06 01 00 00 00 00 00 00 00 00 00 00 00 FF FE C4 D3");
        row("16 parts", latin("aa b4 06 01 00 00 00 00 00 00 00 00 00 00 00 ff"), "1", 16,
            "00 10 01 11 00 0A 10 AA B4 06 01 00 00 00 00 00 00 00 00 00 00 00 FF 94 15");
        row("empty text", QString(), "1", 1, "00 10 01 11 00 0A 01 00 8D 8A");
        row("wide and invalid parts", latin("1ff 2 zz"), "3", 3, "00 10 03 11 00 0A 03 FF 02 00 55 C6");
        row("double blank", latin("01  02"), "1", 3, "00 10 01 11 00 0A 03 01 00 02 35 4E");
        // Largest request: 0x11 at the checksum position becomes 2 + 3 + ... + 16 = 0x87.
        row("91 parts", countingParts(91), "4", 91,
            "00 10 04 11 00 0A 5B 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10 87 12 13 14 15 "
            "16 17 18 19 1A 1B 1C 1D 1E 1F 20 21 22 23 24 25 26 27 28 29 2A 2B 2C 2D 2E 2F 30 31 32 "
            "33 34 35 36 37 38 39 3A 3B 3C 3D 3E 3F 40 41 42 43 44 45 46 47 48 49 4A 4B 4C 4D 4E 4F "
            "50 51 52 53 54 55 56 57 58 59 5A 1C 5E");
        // One part more does not fit: nothing is built.
        row("92 parts", countingParts(92), "1", 92, "");
    }

    void transparentSend()
    {
        QFETCH(QString, text);
        QFETCH(QString, unit);
        QFETCH(int, parts);
        QFETCH(QByteArray, expected);
        const Commands::TransparentSend send = Commands::transparentSend(text, unit);
        QCOMPARE(send.fits, !expected.isEmpty());
        QCOMPARE(send.parts, parts);
        QCOMPARE(send.request.toHex(' '), expected.toHex(' '));
    }
    void addressed()
    {
        QCOMPARE(withModbusAddress(hex("00 03 00 00 00 01 85 DB"), 0x05), withCrc("05 03 00 00 00 01"));
        QCOMPARE(withModbusAddress(hex("00 10 02 C7 00 02 04 00 14 00 64 E2 6A"), 0xAA),
                 withCrc("AA 10 02 C7 00 02 04 00 14 00 64"));
    }
};

QTEST_APPLESS_MAIN(ProtocolTest)
#include "tst_protocol.moc"
