// The simulated sensor's request handling: framing, register model and line faults, driven without
// a terminal. Expected bytes are fixed frames of the protocol, or frames completed with the CRC
// that tst_protocol pins to known values.
#include "replyfaults.h"
#include "requestframer.h"
#include "sensormodel.h"
#include "testbytes.h"

#include <QtTest>

namespace {

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
        const QByteArray reply = exchange(withCrc(request));
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
    void exchange_data()
    {
        QTest::addColumn<int>("address"); // the address the simulator is started with
        QTest::addColumn<QByteArrayList>("setup");
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("newRate");
        auto row = [](const char *name, const QByteArrayList &setup, const QByteArray &request, const QByteArray &reply,
                      int newRate = 0, int address = 1) {
            QTest::newRow(name) << address << setup << request << reply << newRate;
        };

        const QByteArray toKelvra = hex("00 06 00 B1 00 00 D8 3C");
        const QByteArray toModbus = hex("00 06 00 B1 00 03 98 3D");
        const QByteArray factory = hex("00 06 00 A5 00 01 59 F8");
        const QByteArray sleep = hex("00 06 00 A2 00 00 29 F9");
        const QByteArray readAddress = hex("00 03 00 00 00 01 85 DB");
        const QByteArray deviceInfo = hex("AA A6 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 AB");
        const QByteArray sleepPreset = hex("00 10 01 11 00 0A 14 AA B4 06 01 00 00 00 00 00 00 00 00 00 00 00 "
                                           "FF FF 05 AB 00 27 55");
        const QByteArray calibration = hex("00 10 02 C7 00 02 04 00 14 00 64 E2 6A");

        row("address read", {}, readAddress, withCrc("01 03 02 00 01"));
        row("address read after change", {withCrc("00 06 00 00 00 05")}, readAddress, hex("05 03 02 00 05 89 87"));
        row("request to own address", {withCrc("00 06 00 00 00 05")}, withCrc("05 03 00 00 00 01"),
            hex("05 03 02 00 05 89 87"));
        // A simulator started with its own address answers from it, also after a factory reset.
        row("started at 10", {}, readAddress, withCrc("10 03 02 00 10"), 0, 0x10);
        row("started at 10, reset", {withCrc("00 06 00 00 00 22"), factory}, readAddress, withCrc("10 03 02 00 10"), 0, 0x10);
        row("request to another address", {}, hex("01 06 00 B1 00 03 99 EC"), hex("01 06 00 B1 00 03 99 EC"));
        row("foreign address ignored", {}, withCrc("07 03 00 00 00 01"), QByteArray());
        row("protocol echo", {}, toModbus, toModbus);
        row("native mode echoes the switch", {toKelvra}, toKelvra, toKelvra);
        row("native mode ignores reads", {toKelvra}, readAddress, QByteArray());
        row("native mode ignores factory", {toKelvra}, factory, QByteArray());
        row("back to Modbus", {toKelvra, toModbus}, readAddress, withCrc("01 03 02 00 01"));
        row("device info in native mode", {toKelvra}, deviceInfo, hex("AA A6 00 00 00 00 00 00 12 34 AB CD 00 00 00 00 00 BE AB"));
        row("firmware id", {}, hex("AA B5 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 AB"),
            hex("AA B5 00 00 00 00 00 00 00 01 03 FE 00 00 00 00 00 02 AB"));
        row("set id then info", {hex("AA A7 00 00 00 00 00 00 FF FF FF FF 00 00 00 00 00 FC AB")}, deviceInfo,
            hex("AA A6 00 00 00 00 00 00 FF FF FF FF 00 00 00 00 00 FC AB"));
        row("factory restores", {withCrc("00 06 00 00 00 05"), withCrc("00 06 00 AC 1E 00"), factory},
            withCrc("00 03 00 AC 00 01"), withCrc("01 03 02 05 F6"));
        row("factory echo", {}, factory, factory);
        row("thresholds read back", {withCrc("00 06 00 AC 28 F6")}, withCrc("00 03 00 AC 00 01"), withCrc("01 03 02 28 F6"));
        row("work mode read back", {withCrc("00 06 00 A6 03 05")}, hex("00 03 00 A6 00 01 65 F8"), withCrc("01 03 02 03 05"));
        row("asleep: no measurement", {sleep}, hex("00 03 00 B4 00 04 05 FE"), QByteArray());
        row("asleep: temperature", {sleep}, hex("00 03 00 A8 00 01 04 3B"), withCrc("01 03 02 17 2D"));
        row("wake echo", {sleep}, hex("00 06 00 A2 00 01 E8 39"), hex("00 06 00 A2 00 01 E8 39"));
        row("calibration write", {}, calibration, withCrc("01 10 02 C7 00 02"));
        row("calibration read back", {calibration}, withCrc("00 03 02 C7 00 02"), withCrc("01 03 04 00 14 00 64"));
        row("transparent write", {}, sleepPreset, withCrc("01 10 01 11 00 0A"));
        row("transparent read", {sleepPreset}, hex("00 03 01 11 00 13 54 2F"),
            withCrc("01 03 26 AA B4 06 01 00 00 00 00 00 00 00 00 00 00 00 FF FF 05 AB "
                    "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"));
        row("baud write", {}, hex("00 06 00 CD 00 03 59 E5"), hex("00 06 00 CD 00 03 59 E5"), 9600);
        row("baud write 19200", {}, withCrc("00 06 00 CD 00 04"), withCrc("00 06 00 CD 00 04"), 19200);
        row("unknown register", {}, withCrc("00 03 00 50 00 01"), withCrc("01 83 02"));
        row("unsupported count", {}, withCrc("00 03 00 B4 00 01"), withCrc("01 83 02"));
        row("read-only register", {}, withCrc("00 06 00 A7 00 01"), withCrc("01 86 02"));
        row("bad baud code", {}, withCrc("00 06 00 CD 00 09"), withCrc("01 86 03"));
        row("bad CRC", {}, hex("00 03 00 00 00 01 85 DC"), QByteArray());
    }

    void exchange()
    {
        QFETCH(int, address);
        QFETCH(QByteArrayList, setup);
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, reply);
        QFETCH(int, newRate);

        SensorSettings settings;
        settings.address = quint8(address);
        Device device(settings);
        for (const QByteArray &bytes : setup)
            QVERIFY(!device.exchange(bytes).isEmpty());
        int rate = 0;
        QCOMPARE(device.exchange(request, &rate).toHex(' '), reply.toHex(' '));
        QCOMPARE(rate, newRate);
    }

    void framing_data()
    {
        QTest::addColumn<QByteArrayList>("chunks");
        QTest::addColumn<QList<int>>("gaps"); // milliseconds before each chunk
        QTest::addColumn<QByteArrayList>("requests");

        const QByteArray read = hex("00 03 00 00 00 01 85 DB");
        const QByteArray info = hex("AA A6 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 AB");
        auto row = [](const char *name, const QByteArrayList &chunks, const QList<int> &gaps, const QByteArrayList &requests) {
            QTest::newRow(name) << chunks << gaps << requests;
        };
        const QByteArray calibration = hex("00 10 00 C3 00 02 04 01 05 00 32 2B 3E");
        row("garbage first", {hex("55 FF 13") + read}, {0}, {read});
        row("in pieces", {read.left(1), read.mid(1, 4), read.mid(5)}, {0, 40, 40}, {read});
        row("two at once", {read + info}, {0}, {read, info});
        row("bad CRC skipped", {hex("00 03 00 00 00 01 85 DC") + read}, {0}, {read});
        row("partial dropped after silence", {read.left(5), read}, {0, 150}, {read});
        row("truncated request resyncs", {hex("00 03") + read}, {0}, {read});
        row("long write cut by its byte count", {calibration}, {0}, {calibration});
        row("native bad checksum", {hex("AA A6 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 01 AB")}, {0}, {});
        row("native in pieces", {info.left(10), info.mid(10)}, {0, 60}, {info});
    }

    void framing()
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

    void measurements()
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
        device.exchange(withCrc("00 06 00 AE 00 0D"));
        QCOMPARE(device.measurement(2), (QList<int>{0, 0, 0, 0}));
        int sum = 0;
        for (int unit : {1, 3, 4})
            sum += device.measurement(unit)[0];
        QCOMPARE(device.measurement(0)[0], (sum + 1) / 3);

        // Calibration: factor 200 doubles, a positive offset of 5 adds 5.0 ug/m3.
        const int raw = device.measurement(1)[0];
        device.exchange(withCrc("00 10 01 C3 00 02 04 01 05 00 C8"));
        QCOMPARE(device.measurement(1)[0], 2 * raw + 50);
    }

    void faults()
    {
        const QByteArray reply = withCrc("01 03 02 00 01");

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
};

QTEST_GUILESS_MAIN(TestSim)
#include "tst_sim.moc"
