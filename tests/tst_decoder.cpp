// Reply decoding without a window: the framer that cuts the received stream into checked frames,
// the reply each request expects, the value decoders, write echoes, the native identity texts and
// the probe's answer. How a session matches replies to queries over time is tst_session's.
#include "baudprobe.h"
#include "framer.h"
#include "localecho.h"
#include "nativedecode.h"
#include "pendingreplies.h"
#include "replymatch.h"
#include "testbytes.h"
#include "values.h"

#include <QtTest>

namespace {

using Chunk = QPair<int, QByteArray>; // arrival time in ms, bytes

// One line per event: "frame <kind> <hex>" for a frame, the operator's note for the rest.
QStringList describe(const QList<FramerEvent> &events)
{
    static const char *const kinds[] = {"native", "read", "echo", "multiple", "exception"};
    QStringList lines;
    for (const FramerEvent &e : events) {
        lines << (e.type == FramerEvent::Frame ? QStringLiteral("frame %1 %2").arg(kinds[int(e.kind)], hexText(e.bytes).trimmed())
                                               : e.note);
    }
    return lines;
}

QStringList feed(ReplyFramer &framer, const QList<Chunk> &chunks, int takeAt)
{
    QList<FramerEvent> events;
    for (const Chunk &chunk : chunks) {
        framer.append(chunk.second, chunk.first);
        events += framer.take(chunk.first);
    }
    events += framer.take(takeAt);
    return describe(events);
}

const QByteArray Measurement = hex("01 03 08 00 7B 01 C8 03 15 00 00 AF 51");
const QByteArray Temp = withCrc("01 03 02 17 2D");
const QByteArray Echo = hex("00 06 00 B1 00 03 98 3D");
const QByteArray MultipleAnswer = withCrc("01 10 00 C3 00 02");
const QByteArray Exception = withCrc("01 83 02");
const QByteArray Device = nativeFrame(0xA6, 8, hex("12 34 AB CD"));

QString frameLine(const char *kind, const QByteArray &bytes)
{
    return QStringLiteral("frame %1 %2").arg(kind, hexText(bytes).trimmed());
}

QByteArray flipped(QByteArray bytes, int at, quint8 mask = 0x01)
{
    bytes[at] = char(quint8(bytes.at(at)) ^ mask);
    return bytes;
}

// The refusal of a Modbus frame whose last two bytes are not its CRC.
QString crcRefusal(const QByteArray &frame)
{
    const quint16 crc = crc16Modbus(frame.chopped(2));
    return QString::asprintf("Reply refused: CRC mismatch (expected %02x %02x, got %02x %02x)", crc & 0xFF, crc >> 8,
                             quint8(frame.at(frame.size() - 2)), quint8(frame.at(frame.size() - 1)));
}

} // namespace

class TestDecoder : public QObject
{
    Q_OBJECT

private slots:
    void framer_data()
    {
        QTest::addColumn<QList<Chunk>>("chunks");
        QTest::addColumn<int>("takeAt");
        QTest::addColumn<QStringList>("events");
        auto row = [](const char *name, const QList<Chunk> &chunks, const QStringList &events, int takeAt = 0) {
            QTest::newRow(name) << chunks << (takeAt ? takeAt : chunks.last().first) << events;
        };

        row("every kind in one tick", {{0, Device + Measurement + Echo + MultipleAnswer + Exception}},
            {frameLine("native", Device), frameLine("read", Measurement), frameLine("echo", Echo),
             frameLine("multiple", MultipleAnswer), frameLine("exception", Exception)});
        row("junk between frames, one line per run", {{0, hex("55 55") + Temp + hex("00 01 02") + Temp}},
            {"Unframed bytes dropped: 55 55", frameLine("read", Temp), "Unframed bytes dropped: 00 01 02",
             frameLine("read", Temp)});
        // Line noise: false frame starts between junk make one line, however long.
        // (A lone last byte may still start a frame, so it waits.)
        const QByteArray noise = hex("55 55") + flipped(withCrc("01 03 02 00 00"), 6) + hex("00 55");
        row("noise is one line", {{0, noise}}, {"Unframed bytes dropped: " + hexText(noise.chopped(1)).trimmed()});
        row("a long run is cut short in the log", {{0, QByteArray(300, '\x55') + Temp}},
            {"Unframed bytes dropped: " + hexText(QByteArray(256, '\x55')) + QStringLiteral("\u2026 (44 more bytes)"),
             frameLine("read", Temp)});
        row("a reply from address AA is Modbus", {{0, withCrc("AA 03 02 00 AA")}}, {frameLine("read", withCrc("AA 03 02 00 AA"))});
        row("cut over ticks with empty ticks between", {{0, Temp.left(2)}, {300, {}}, {600, Temp.mid(2)}},
            {frameLine("read", Temp)});
        row("waits up to the time-out", {{0, Measurement.left(5)}}, {}, 999);
        row("dropped after a second", {{0, Measurement.left(5)}}, {"Incomplete reply dropped: 01 03 08 00 7b"}, 1000);
        row("lone byte dropped after a second", {{0, hex("55")}}, {"Incomplete reply dropped: 55"}, 1000);
        row("time-out keeps a reply that began later", {{0, Measurement.left(5)}, {900, Temp.left(3)}},
            {"Incomplete reply dropped: 01 03 08 00 7b"}, 1000);
        row("time-out keeps a whole reply behind a false start", {{0, hex("01 03 40") + Temp}},
            {"Incomplete reply dropped: 01 03 40", frameLine("read", Temp)}, 1000);
        // A native head that cannot complete yet gives way to a whole Modbus frame inside it; a
        // read reply whose data carries a native frame does not.
        const QByteArray carrying = withCrc(hex("01 03 14") + Device + hex("00"));
        row("a native frame inside a read reply cut short", {{0, carrying.left(23)}, {300, carrying.mid(23)}},
            {frameLine("read", carrying)});
        row("stray native head before a reply", {{0, hex("AA") + Temp}}, {"Unframed bytes dropped: aa", frameLine("read", Temp)});
        const QByteArray falseStart = hex("AA 03 42 2B");
        row("stray native head, a native and a Modbus frame behind it", {{0, falseStart + Device + hex("55") + MultipleAnswer}},
            {"Unframed bytes dropped: aa 03 42 2b", frameLine("native", Device), "Unframed bytes dropped: 55",
             frameLine("multiple", MultipleAnswer)});
        row("stray native head, the reply behind it over two ticks", {{0, hex("AA") + Temp.left(3)}, {300, Temp.mid(3)}},
            {"Unframed bytes dropped: aa", frameLine("read", Temp)});

        // A damaged frame is refused whole with its check values.
        row("read reply, CRC low byte", {{0, flipped(Temp, 5)}}, {crcRefusal(flipped(Temp, 5))});
        const QByteArray longer = flipped(Temp, 2, 0x04) + hex("00 00 00 00"); // count 6
        row("read reply, byte count", {{0, longer}}, {crcRefusal(longer)});
        // (01 03 98 inside could start a reply still to come: judged at the time-out at the latest.)
        row("write echo", {{0, flipped(Echo, 4)}}, {crcRefusal(flipped(Echo, 4))}, 1000);
        row("write echo, not yet", {{0, flipped(Echo, 4)}}, {}, 999);
        // (A1 83 inside starts an exception that is already whole: nothing is left to wait for.)
        const QByteArray wholeInside = hex("01 06 00 A1 83 00 00 00");
        row("write echo whose inner start is whole", {{0, wholeInside}}, {crcRefusal(wholeInside)});
        row("write-multiple answer", {{0, flipped(MultipleAnswer, 3)}}, {crcRefusal(flipped(MultipleAnswer, 3))});
        row("exception", {{0, flipped(Exception, 2)}}, {crcRefusal(flipped(Exception, 2))}, 1000);
        row("native checksum", {{0, flipped(Device, 9)}}, {"Reply refused: checksum mismatch (expected bf, got be)"});
        row("native end byte", {{0, nativeFrame(0xA6, 8, hex("12 34"), 0xAC)}}, {"Reply refused: native frame ends in ac instead of ab"});
        row("a run of refused frames is one line", {{0, flipped(Device, 9).repeated(3) + Temp}},
            {"Reply refused: checksum mismatch (expected bf, got be) (and 2 more refused frames)", frameLine("read", Temp)});
        // A stray byte that happens to look like a frame start is dropped as such, also when the
        // reply behind it arrives later.
        row("stray byte before a reply from address 3", {{0, hex("55") + withCrc("03 03 02 00 03")}},
            {"Unframed bytes dropped: 55", frameLine("read", withCrc("03 03 02 00 03"))});
        // Here the stray byte and the reply's first byte look like a write echo whose CRC fails.
        row("stray byte before a reply from address 6", {{0, hex("55") + withCrc("06 03 02 00 06")}},
            {"Unframed bytes dropped: 55", frameLine("read", withCrc("06 03 02 00 06"))});
        const QByteArray from3 = withCrc("03 03 08 00 7B 01 C8 03 15 00 00");
        row("stray byte, the reply behind it over two ticks", {{0, hex("55") + from3.left(7)}, {300, from3.mid(7)}},
            {"Unframed bytes dropped: 55", frameLine("read", from3)});
        row("truncated reply, the next one over two ticks", {{0, Measurement.left(5)}, {300, Measurement.left(9)}, {600, Measurement.mid(9)}},
            {"Unframed bytes dropped: " + hexText(Measurement.left(5)).trimmed(), frameLine("read", Measurement)});
        row("odd byte count", {{0, hex("01 03 03 00 00 00") + Temp}}, {"Unframed bytes dropped: 01 03 03 00 00 00", frameLine("read", Temp)});
        row("refused reply, good reply after it", {{0, flipped(Temp, 6) + Temp}},
            {crcRefusal(flipped(Temp, 6)), frameLine("read", Temp)});
    }

    void framer()
    {
        QFETCH(QList<Chunk>, chunks);
        QFETCH(int, takeAt);
        QFETCH(QStringList, events);
        ReplyFramer framer;
        QCOMPARE(feed(framer, chunks, takeAt), events);
    }

    // Every frame kind, in a stream cut at every offset, with an empty tick between the parts.
    void framerCutAnywhere()
    {
        const QByteArray stream = Device + Measurement + Echo + MultipleAnswer + Exception + Temp;
        ReplyFramer once;
        const QStringList whole = feed(once, {{0, stream}}, 0);
        QCOMPARE(whole.size(), 6);
        for (int cut = 1; cut < stream.size(); ++cut) {
            ReplyFramer framer;
            QCOMPARE(feed(framer, {{0, stream.left(cut)}, {300, {}}, {600, stream.mid(cut)}}, 600), whole);
            QCOMPARE(framer.buffered(), 0);
        }
    }

    void frameLength_data()
    {
        QTest::addColumn<QByteArray>("start");
        QTest::addColumn<int>("length");
        QTest::newRow("lone byte") << hex("01") << Framing::NeedMore;
        QTest::newRow("read, no count yet") << hex("01 03") << Framing::NeedMore;
        QTest::newRow("read, count 8") << hex("01 03 08") << 13;
        QTest::newRow("native") << hex("AA A6") << 19;
        QTest::newRow("write echo") << hex("00 06") << 8;
        QTest::newRow("write-multiple answer") << hex("00 10") << 8;
        QTest::newRow("exceptions") << hex("01 86") << 5;
        QTest::newRow("exception from address AA") << hex("AA 90") << 5;
        QTest::newRow("unknown function") << hex("01 04 02") << Framing::NotAFrame;
    }

    void frameLength()
    {
        QFETCH(QByteArray, start);
        QFETCH(int, length);
        QCOMPARE(Framing::frameLength(start), length);
    }

    void replyKey()
    {
        QCOMPARE(PendingReplies::replyKey(withCrc("00 03 00 C9 00 04")), 8);
        QCOMPARE(PendingReplies::replyKey(withCrc("AA 03 00 C9 00 04")), 8); // a read from address AA is no native frame
        QCOMPARE(PendingReplies::replyKey(Device), PendingReplies::NativeKey + 0xA6);
        QCOMPARE(PendingReplies::replyKey(withCrc("00 06 00 A2 00 00")), -1);
        QCOMPARE(PendingReplies::replyKey(withCrc("00 03 00 00 00 7D")), 250);
        QCOMPARE(PendingReplies::replyKey(withCrc("00 03 00 00 00 7E")), -1); // more than one reply can carry
    }

    void values()
    {
        const Values::Measurement m = Values::measurement(Measurement);
        QCOMPARE(Values::measurementLine(m, 0), QStringLiteral("All Sensor: PM2.5 = 12.3  PM10 = 45.6  PM100 = 789"));
        QCOMPARE(Values::measurementLine(m, 2), QStringLiteral("Sensor 2:  PM2.5 = 12.3  PM10 = 45.6  PM100 = 789"));
        QCOMPARE(Values::measurementLine(Values::measurement(hex("01 03 08 00 00 00 0A FF FF")), 1),
                 QStringLiteral("Sensor 1:  PM2.5 = 0  PM10 = 1  PM100 = 65535"));
        QCOMPARE(Values::pmText(Values::measurement(hex("01 03 08 FF FF")).pm25), QStringLiteral("6553.5"));

        const QByteArray two = hex("01 03 02 F6 80");
        QCOMPARE(Values::cleanSetting(two).durationSeconds, quint8(246));
        QCOMPARE(Values::cleanSetting(two).intervalHours, quint8(128));
        QCOMPARE(Values::tempHumi(two).temperature, qint8(-10));
        QCOMPARE(Values::tempHumi(two).humidity, quint8(128));
        QCOMPARE(Values::heatTempThresholds(two).high, -10);
        QCOMPARE(Values::heatTempThresholds(two).low, -128);
        QCOMPARE(Values::heatHumiThresholds(two).high, 246);
        QCOMPARE(Values::heatHumiThresholds(two).low, 128);
        QCOMPARE(Values::modbusAddress(hex("01 03 02 07 0A")), quint8(0x0A));
        QCOMPARE(Values::selfTestPassed(hex("01 03 02 00 0E")), quint8(0x0E));
        QCOMPARE(Values::globalSwitches(hex("01 03 02 00 05")), quint8(0x05));

        QCOMPARE(Values::heatMode(hex("01 03 02 01 00")).mode, Values::HeatMode::Automatic);
        QCOMPARE(Values::heatMode(hex("01 03 02 00 01")).mode, Values::HeatMode::Manual);
        QVERIFY(Values::heatMode(hex("01 03 02 00 01")).heaterOn);
        QCOMPARE(Values::heatMode(hex("01 03 02 02 00")).mode, Values::HeatMode::Unknown);
        QVERIFY(Values::workMode(hex("01 03 02 03 0A")).known());
        QCOMPARE(Values::workMode(hex("01 03 02 03 0A")).unitMask, quint8(0x0A));
        QVERIFY(!Values::workMode(hex("01 03 02 04 0F")).known());
        QVERIFY(!Values::workMode(hex("01 03 02 00 0F")).known());

        QCOMPARE(Values::calibration(hex("01 03 04 00 05 07 64")).zeroOffset, -5);
        QCOMPARE(Values::calibration(hex("01 03 04 01 05 07 64")).zeroOffset, 5);
        QCOMPARE(Values::calibration(hex("01 03 04 01 05 07 64")).factor, quint8(100));
        QCOMPARE(Values::transparentData(hex("01 03 04 11 22 A3 44 00 00")), hex("11 22 A3 44"));
        const Values::SelfTestFactors factors = Values::selfTestFactors(hex("01 03 08 01 02 03 04 05 06 07 FF"));
        QCOMPARE(factors.factor[3], quint8(4));
        QCOMPARE(factors.suspected[0], quint8(5));
        QCOMPARE(factors.suspected[3], quint8(255));
    }

    void writeEcho_data()
    {
        QTest::addColumn<QByteArray>("echo");
        QTest::addColumn<QString>("message");
        QTest::newRow("to Modbus") << hex("00 06 00 B1 00 03 98 3D") << "Device change to MODBUS!";
        QTest::newRow("to Kelvra") << hex("00 06 00 B1 00 00 D8 3C") << "Device change to Kelvra!";
        QTest::newRow("factory") << hex("00 06 00 A5 00 01 59 F8") << "Device change to FactoryConfig!";
        QTest::newRow("from address 01") << hex("01 06 00 B1 00 03 99 EC") << "";
        QTest::newRow("sleep echo") << hex("00 06 00 A2 00 00 29 F9") << "";
    }

    void writeEcho()
    {
        QFETCH(QByteArray, echo);
        QFETCH(QString, message);
        const char *text = Values::writeEchoMessage(echo);
        QCOMPARE(text ? QString::fromLatin1(text) : QString(), message);
    }

    void nativeTexts()
    {
        QCOMPARE(deviceIdText(Device), QStringLiteral("1234-abcd"));
        QCOMPARE(deviceIdText(nativeFrame(0xA6, 8, hex("00 0F 00 00"))), QStringLiteral("000f-0000"));
        QCOMPARE(firmwareIdText(nativeFrame(0xB5, 9, hex("01 FF 03"))), QStringLiteral("1--1-3"));
        QCOMPARE(firmwareIdText(nativeFrame(0xB5, 9, hex("01 02 0A"))), QStringLiteral("1-2-10"));
        QCOMPARE(deviceIdText(Device.left(10)), QStringLiteral("1234-0000")); // what a frame lacks reads as 0
    }

    void probeAnswer()
    {
        QVERIFY(BaudProbe::isAnswer(hex("05 03 02 00 05 89 87")));
        QVERIFY(BaudProbe::isAnswer(hex("AA 03 02 00 AA 1D E3")));
        QVERIFY(!BaudProbe::isAnswer(hex("05 03 02 00 01")));       // address differs
        QVERIFY(!BaudProbe::isAnswer(hex("05 03 04 00 05 00 00"))); // byte count 4
        QVERIFY(!BaudProbe::isAnswer(hex("01 03 02")));             // cut short before its data

        QCOMPARE(QString::fromLatin1(BaudProbe::answerMessage(3)), QStringLiteral("Baudrate is 4800 !"));
        QCOMPARE(QString::fromLatin1(BaudProbe::answerMessage(4)), QStringLiteral("Baudrate is 2400 !"));
        QVERIFY(!BaudProbe::answerMessage(5)); // back at 9600 after no answer: nothing to announce
    }

    // What reaches the framer when the request went out and these chunks came back.
    void localEcho_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QList<QByteArray>>("chunks");
        QTest::addColumn<QByteArray>("passed");
        const QByteArray read = hex("00 03 00 A8 00 01 04 3B");
        const QByteArray write = hex("00 06 00 A2 00 00 29 F9");
        QTest::newRow("copy then reply") << read << QList<QByteArray>{read + Temp} << Temp;
        QTest::newRow("copy in pieces") << read << QList<QByteArray>{read.left(1), read.mid(1, 5), read.mid(6) + Temp.left(2), Temp.mid(2)} << Temp;
        QTest::newRow("no copy") << read << QList<QByteArray>{Temp} << Temp;
        QTest::newRow("copy cut short") << read << QList<QByteArray>{read.left(3), Temp} << read.left(3) + Temp;
        QTest::newRow("write echoed twice") << write << QList<QByteArray>{write, write} << write;
        // Two requests written back to back: both copies come before the replies.
        QTest::newRow("two copies") << read + write << QList<QByteArray>{read + write.left(3), write.mid(3) + Temp + write} << Temp + write;
        // The second request went out after the first one's reply had begun to arrive.
        QTest::newRow("reply between two copies") << read + write << QList<QByteArray>{read + Temp, write} << Temp;
        QTest::newRow("copy half there when the reply comes") << read + write
            << QList<QByteArray>{read + write.left(2) + Temp, write.mid(2)} << write.left(2) + Temp + write.mid(2);
    }

    void localEcho()
    {
        QFETCH(QByteArray, request);
        QFETCH(QList<QByteArray>, chunks);
        QFETCH(QByteArray, passed);
        LocalEcho echo;
        for (int at = 0; at < request.size(); at += 8)
            echo.sent(request.mid(at, 8), 0);
        QByteArray out;
        for (const QByteArray &chunk : chunks)
            out += echo.filter(chunk, 100);
        QCOMPARE(out + echo.flush(), passed);
    }

    // A copy that never came is not awaited for ever: a reply that begins like the request it
    // answers is kept once the copy's second has passed.
    void localEchoGivesUpACopy()
    {
        const QByteArray read = hex("00 03 00 A8 00 01 04 3B");
        LocalEcho echo;
        echo.sent(read, 0);
        QCOMPARE(echo.filter(read, LocalEcho::CopyWindowMs), QByteArray());
        echo.sent(read, 2000);
        QCOMPARE(echo.filter(QByteArray(), 2000 + LocalEcho::CopyWindowMs + 1) + echo.filter(read, 3100), read);
        QVERIFY(!echo.expecting());
    }

    void replyMatch_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<int>("match");
        const int answer = int(ReplyMatch::Answer), refusal = int(ReplyMatch::Refusal), other = int(ReplyMatch::Other);
        const QByteArray readOne = withCrc("00 03 00 A8 00 01");
        QTest::newRow("read, any address") << readOne << Temp << answer;
        QTest::newRow("read, other byte count") << readOne << Measurement << other;
        QTest::newRow("read, exception") << readOne << Exception << refusal;
        QTest::newRow("read, exception to a write") << readOne << withCrc("01 86 02") << other;
        QTest::newRow("read at 5, reply from 1") << withCrc("05 03 00 A8 00 01") << Temp << other;
        QTest::newRow("read at 1, reply from 1") << withCrc("01 03 00 A8 00 01") << Temp << answer;
        QTest::newRow("write echo") << Echo << Echo << answer;
        QTest::newRow("write, other register echoed") << Echo << hex("00 06 00 A5 00 01 59 F8") << other;
        QTest::newRow("write multiple") << withCrc("00 10 00 C3 00 02 04 01 05 00 32") << MultipleAnswer << answer;
        QTest::newRow("write multiple, other register") << withCrc("00 10 00 C5 00 02 04 01 05 00 32") << MultipleAnswer << other;
        QTest::newRow("native") << nativeFrame(0xA6, 2, QByteArray()) << Device << answer;
        QTest::newRow("native, other id") << nativeFrame(0xB5, 2, QByteArray()) << Device << other;
        QTest::newRow("read, native frame") << readOne << Device << other;
        QTest::newRow("raw bytes") << hex("01 2B 0E") << Temp << answer;
    }

    void replyMatch()
    {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, frame);
        QFETCH(int, match);
        QCOMPARE(int(matchReply(request, frame)), match);
    }
};

QTEST_GUILESS_MAIN(TestDecoder)
#include "tst_decoder.moc"
