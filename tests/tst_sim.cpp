// The simulated sensor's request handling: framing, register model and line faults, driven without
// a terminal. Expected bytes are either fixed frames of the protocol or computed with the local
// CRC below, independent of the code under test.
#include "replyfaults.h"
#include "requestframer.h"
#include "sensormodel.h"

#include <QtTest>

namespace {

quint16 referenceCrc(const QByteArray &bytes)
{
    quint16 crc = 0xFFFF;
    for (char c : bytes) {
        crc ^= quint8(c);
        for (int i = 0; i < 8; ++i)
            crc = (crc & 1) ? quint16((crc >> 1) ^ 0xA001) : quint16(crc >> 1);
    }
    return crc;
}

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}

// Hex text followed by its CRC, low byte first.
QByteArray crced(const char *text)
{
    QByteArray bytes = hex(text);
    const quint16 crc = referenceCrc(bytes);
    bytes.append(char(crc & 0xFF));
    bytes.append(char(crc >> 8));
    return bytes;
}

struct Device {
    SensorModel model;
    RequestFramer framer;
    qint64 now = 0;

    explicit Device(const SensorSettings &settings = SensorSettings()) : model(settings)
    {
        framer.setDeviceAddress(model.address());
    }
    // Everything the device answers to the bytes, in order; the last request's new line rate
    // lands in newRate.
    QByteArray exchange(const QByteArray &bytes, int *newRate = nullptr)
    {
        QByteArray replies;
        now += 1000;
        for (const SensorRequest &request : framer.feed(bytes, now).requests) {
            const SensorOutcome outcome = model.handle(request);
            framer.setDeviceAddress(model.address());
            replies += outcome.reply;
            if (newRate)
                *newRate = outcome.newBaudRate;
        }
        return replies;
    }
    QList<int> measurement(int unit)
    {
        QByteArray request = hex("00 03 00 B4 00 04");
        request[2] = char(unit);
        const quint16 crc = referenceCrc(request);
        request.append(char(crc & 0xFF));
        request.append(char(crc >> 8));
        const QByteArray reply = exchange(request);
        QList<int> values;
        for (int i = 0; i < 4; ++i)
            values << (quint8(reply.at(3 + 2 * i)) << 8 | quint8(reply.at(4 + 2 * i)));
        return values;
    }
};

} // namespace

class TestSim : public QObject
{
    Q_OBJECT
private slots:
    void exchange_data();
    void exchange();
    void framing_data();
    void framing();
    void measurements();
    void faults();
    void startAddress();
};

// A simulator started with its own address answers from it, also after a factory reset.
void TestSim::startAddress()
{
    SensorSettings settings;
    settings.address = 0x10;
    Device device(settings);
    const QByteArray readAddress = crced("00 03 00 00 00 01");
    QCOMPARE(device.exchange(readAddress).toHex(' '), crced("10 03 02 00 10").toHex(' '));
    device.exchange(crced("00 06 00 00 00 22"));
    QCOMPARE(device.exchange(readAddress).toHex(' '), crced("22 03 02 00 22").toHex(' '));
    device.exchange(hex("00 06 00 A5 00 01 59 F8"));
    QCOMPARE(device.exchange(readAddress).toHex(' '), crced("10 03 02 00 10").toHex(' '));
}

void TestSim::exchange_data()
{
    QTest::addColumn<QByteArrayList>("setup");
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("newRate");

    const QByteArray toKelvra = hex("00 06 00 B1 00 00 D8 3C");
    const QByteArray toModbus = hex("00 06 00 B1 00 03 98 3D");
    const QByteArray factory = hex("00 06 00 A5 00 01 59 F8");
    const QByteArray sleep = hex("00 06 00 A2 00 00 29 F9");
    const QByteArray readAddress = hex("00 03 00 00 00 01 85 DB");
    const QByteArray deviceInfo = hex("AA A6 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 AB");
    const QByteArray sleepPreset = hex("00 10 01 11 00 0A 14 AA B4 06 01 00 00 00 00 00 00 00 00 00 00 00 "
                                       "FF FF 05 AB 00 27 55");

    QTest::newRow("address read") << QByteArrayList() << readAddress << crced("01 03 02 00 01") << 0;
    QTest::newRow("address read after change")
        << QByteArrayList{crced("00 06 00 00 00 05")} << readAddress << hex("05 03 02 00 05 89 87") << 0;
    QTest::newRow("request to own address")
        << QByteArrayList{crced("00 06 00 00 00 05")} << crced("05 03 00 00 00 01") << hex("05 03 02 00 05 89 87") << 0;
    QTest::newRow("request to another address") << QByteArrayList() << hex("01 06 00 B1 00 03 99 EC")
                                                 << hex("01 06 00 B1 00 03 99 EC") << 0;
    QTest::newRow("foreign address ignored") << QByteArrayList() << crced("07 03 00 00 00 01") << QByteArray() << 0;
    QTest::newRow("protocol echo") << QByteArrayList() << toModbus << toModbus << 0;
    QTest::newRow("native mode echoes the switch") << QByteArrayList{toKelvra} << toKelvra << toKelvra << 0;
    QTest::newRow("native mode ignores reads") << QByteArrayList{toKelvra} << readAddress << QByteArray() << 0;
    QTest::newRow("native mode ignores factory") << QByteArrayList{toKelvra} << factory << QByteArray() << 0;
    QTest::newRow("back to Modbus") << QByteArrayList{toKelvra, toModbus} << readAddress << crced("01 03 02 00 01") << 0;
    QTest::newRow("device info in native mode")
        << QByteArrayList{toKelvra} << deviceInfo
        << hex("AA A6 00 00 00 00 00 00 12 34 AB CD 00 00 00 00 00 BE AB") << 0;
    QTest::newRow("firmware id") << QByteArrayList() << hex("AA B5 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 AB")
                                 << hex("AA B5 00 00 00 00 00 00 00 01 03 FE 00 00 00 00 00 02 AB") << 0;
    QTest::newRow("set id then info")
        << QByteArrayList{hex("AA A7 00 00 00 00 00 00 FF FF FF FF 00 00 00 00 00 FC AB")} << deviceInfo
        << hex("AA A6 00 00 00 00 00 00 FF FF FF FF 00 00 00 00 00 FC AB") << 0;
    QTest::newRow("factory restores")
        << QByteArrayList{crced("00 06 00 00 00 05"), crced("00 06 00 AC 1E 00"), factory}
        << crced("00 03 00 AC 00 01") << crced("01 03 02 05 F6") << 0;
    QTest::newRow("factory echo") << QByteArrayList() << factory << factory << 0;
    QTest::newRow("thresholds read back") << QByteArrayList{crced("00 06 00 AC 28 F6")}
                                          << crced("00 03 00 AC 00 01") << crced("01 03 02 28 F6") << 0;
    QTest::newRow("work mode read back") << QByteArrayList{crced("00 06 00 A6 03 05")}
                                         << hex("00 03 00 A6 00 01 65 F8") << crced("01 03 02 03 05") << 0;
    QTest::newRow("asleep: no measurement") << QByteArrayList{sleep} << hex("00 03 00 B4 00 04 05 FE") << QByteArray() << 0;
    QTest::newRow("asleep: temperature")
        << QByteArrayList{sleep} << hex("00 03 00 A8 00 01 04 3B") << crced("01 03 02 17 2D") << 0;
    QTest::newRow("wake echo") << QByteArrayList{sleep} << hex("00 06 00 A2 00 01 E8 39")
                               << hex("00 06 00 A2 00 01 E8 39") << 0;
    QTest::newRow("calibration write")
        << QByteArrayList() << hex("00 10 02 C7 00 02 04 00 14 00 64 E2 6A") << crced("01 10 02 C7 00 02") << 0;
    QTest::newRow("calibration read back") << QByteArrayList{hex("00 10 02 C7 00 02 04 00 14 00 64 E2 6A")}
                                           << crced("00 03 02 C7 00 02") << crced("01 03 04 00 14 00 64") << 0;
    QTest::newRow("transparent write") << QByteArrayList() << sleepPreset << crced("01 10 01 11 00 0A") << 0;
    QTest::newRow("transparent read")
        << QByteArrayList{sleepPreset} << hex("00 03 01 11 00 13 54 2F")
        << crced("01 03 26 AA B4 06 01 00 00 00 00 00 00 00 00 00 00 00 FF FF 05 AB "
                 "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00") << 0;
    QTest::newRow("baud write") << QByteArrayList() << hex("00 06 00 CD 00 03 59 E5") << hex("00 06 00 CD 00 03 59 E5") << 9600;
    QTest::newRow("baud write 19200") << QByteArrayList() << crced("00 06 00 CD 00 04") << crced("00 06 00 CD 00 04") << 19200;
    QTest::newRow("unknown register") << QByteArrayList() << crced("00 03 00 50 00 01") << crced("01 83 02") << 0;
    QTest::newRow("unsupported count") << QByteArrayList() << crced("00 03 00 B4 00 01") << crced("01 83 02") << 0;
    QTest::newRow("read-only register") << QByteArrayList() << crced("00 06 00 A7 00 01") << crced("01 86 02") << 0;
    QTest::newRow("bad baud code") << QByteArrayList() << crced("00 06 00 CD 00 09") << crced("01 86 03") << 0;
    QTest::newRow("bad CRC") << QByteArrayList() << hex("00 03 00 00 00 01 85 DC") << QByteArray() << 0;
}

void TestSim::exchange()
{
    QFETCH(QByteArrayList, setup);
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, reply);
    QFETCH(int, newRate);

    Device device;
    for (const QByteArray &bytes : setup)
        QVERIFY(!device.exchange(bytes).isEmpty());
    int rate = 0;
    QCOMPARE(device.exchange(request, &rate).toHex(' '), reply.toHex(' '));
    QCOMPARE(rate, newRate);
}

void TestSim::framing_data()
{
    QTest::addColumn<QByteArrayList>("chunks");
    QTest::addColumn<QList<int>>("gaps"); // milliseconds before each chunk
    QTest::addColumn<QByteArrayList>("requests");

    const QByteArray read = hex("00 03 00 00 00 01 85 DB");
    const QByteArray info = hex("AA A6 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 AB");
    QTest::newRow("garbage first") << QByteArrayList{hex("55 FF 13") + read} << QList<int>{0} << QByteArrayList{read};
    QTest::newRow("in pieces") << QByteArrayList{read.left(1), read.mid(1, 4), read.mid(5)} << QList<int>{0, 40, 40}
                               << QByteArrayList{read};
    QTest::newRow("two at once") << QByteArrayList{read + info} << QList<int>{0} << QByteArrayList{read, info};
    QTest::newRow("bad CRC skipped")
        << QByteArrayList{hex("00 03 00 00 00 01 85 DC") + read} << QList<int>{0} << QByteArrayList{read};
    QTest::newRow("partial dropped after silence")
        << QByteArrayList{read.left(5), read} << QList<int>{0, 150} << QByteArrayList{read};
    QTest::newRow("truncated request resyncs") << QByteArrayList{hex("00 03") + read} << QList<int>{0} << QByteArrayList{read};
    QTest::newRow("long write cut by its byte count")
        << QByteArrayList{hex("00 10 00 C3 00 02 04 01 05 00 32 2B 3E")} << QList<int>{0}
        << QByteArrayList{hex("00 10 00 C3 00 02 04 01 05 00 32 2B 3E")};
    QTest::newRow("native bad checksum")
        << QByteArrayList{hex("AA A6 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 01 AB")} << QList<int>{0}
        << QByteArrayList();
    QTest::newRow("native in pieces") << QByteArrayList{info.left(10), info.mid(10)} << QList<int>{0, 60}
                                      << QByteArrayList{info};
}

void TestSim::framing()
{
    QFETCH(QByteArrayList, chunks);
    QFETCH(QList<int>, gaps);
    QFETCH(QByteArrayList, requests);

    RequestFramer framer;
    QByteArrayList cut;
    qint64 now = 0;
    for (int i = 0; i < chunks.size(); ++i) {
        now += gaps.at(i);
        for (const SensorRequest &request : framer.feed(chunks.at(i), now).requests)
            cut << request.bytes;
    }
    QCOMPARE(cut, requests);
    QVERIFY(!framer.hasPartial());
}

void TestSim::measurements()
{
    Device device;
    QList<QList<int>> first;
    for (int step = 0; step < 200; ++step) {
        QList<QList<int>> units;
        QList<int> sum{0, 0, 0};
        for (int unit = 1; unit <= 4; ++unit) {
            const QList<int> v = device.measurement(unit);
            QVERIFY2(v[0] >= 100 && v[0] <= 800 && v[0] <= v[1] && v[1] <= v[2] * 10 + 5 && v[3] == 0,
                     qPrintable(QStringLiteral("unit %1 step %2").arg(unit).arg(step)));
            for (int i = 0; i < 3; ++i)
                sum[i] += v[i];
            units << v;
        }
        const QList<int> average = device.measurement(0);
        for (int i = 0; i < 3; ++i)
            QCOMPARE(average[i], (sum[i] + 2) / 4);
        if (first.isEmpty())
            first = units;
        device.model.step();
    }
    QVERIFY(device.measurement(1) != first[0]);

    // A unit switched off reads zero and leaves the average.
    device.exchange(crced("00 06 00 AE 00 0D"));
    QCOMPARE(device.measurement(2), (QList<int>{0, 0, 0, 0}));
    int sum = 0;
    for (int unit : {1, 3, 4})
        sum += device.measurement(unit)[0];
    QCOMPARE(device.measurement(0)[0], (sum + 1) / 3);

    // Calibration: factor 200 doubles, a positive offset of 5 adds 5.0 ug/m3.
    const int raw = device.measurement(1)[0];
    device.exchange(crced("00 10 01 C3 00 02 04 01 05 00 C8"));
    QCOMPARE(device.measurement(1)[0], 2 * raw + 50);
}

void TestSim::faults()
{
    const QByteArray reply = crced("01 03 02 00 01");

    ReplyFaults corrupt({false, 1.0, 0.0}, 5);
    for (int i = 0; i < 20; ++i) {
        const FaultedReply out = corrupt.apply(reply);
        int flipped = 0;
        for (int b = 0; b < reply.size(); ++b)
            flipped += int(qPopulationCount(quint8(reply.at(b) ^ out.bytes.at(b))));
        QCOMPARE(flipped, 1);
        QVERIFY(!out.dropped);
        QCOMPARE(out.cut, 0);
    }

    ReplyFaults split({true, 0.0, 0.0}, 5);
    QSet<int> cuts;
    for (int i = 0; i < 50; ++i) {
        const FaultedReply out = split.apply(reply);
        QCOMPARE(out.bytes, reply);
        QVERIFY(out.cut >= 1 && out.cut < reply.size());
        cuts << out.cut;
    }
    QVERIFY(cuts.size() > 2);

    // The same seed gives the same faults; about the requested share is dropped.
    ReplyFaults a({true, 0.3, 0.5}, 42), b({true, 0.3, 0.5}, 42);
    int dropped = 0;
    for (int i = 0; i < 400; ++i) {
        const FaultedReply x = a.apply(reply), y = b.apply(reply);
        QCOMPARE(x.dropped, y.dropped);
        QCOMPARE(x.bytes, y.bytes);
        QCOMPARE(x.cut, y.cut);
        dropped += x.dropped;
    }
    QVERIFY2(dropped > 150 && dropped < 250, qPrintable(QString::number(dropped)));
}

QTEST_GUILESS_MAIN(TestSim)
#include "tst_sim.moc"
