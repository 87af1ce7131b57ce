// zelvikctl as a script runs it: the real program against the simulated sensor on a
// pseudo-terminal (every command in text and JSON, set-then-get round trips, the probe at other
// rates and addresses, a faulty line, a sensor that goes away), against replies the test writes
// itself (a refusal, an answer to something else, a damaged reply, an adapter that echoes), a
// silent line, a port that does not open or is held by another program and bad arguments; and
// the bytes each command line sends.
#include <QtTest>
#include <QSerialPort>

#include "invocation.h"
#include "ptypair.h"
#include "simprocess.h"
#include "testbytes.h"
#include "values.h"

#include <csignal>

namespace {

struct Run {
    int status = -1;
    QString out;
    QString err;
    qint64 ms = 0;
};

// Runs zelvikctl with ZELVIK_PORT set to port (unset when empty); stdout goes to outFile if given.
Run ctl(const QStringList &args, const QString &port, const QString &outFile = QString())
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("ZELVIK_PORT"));
    if (!port.isEmpty())
        env.insert(QStringLiteral("ZELVIK_PORT"), port);
    process.setProcessEnvironment(env);
    if (!outFile.isEmpty())
        process.setStandardOutputFile(outFile);
    QElapsedTimer clock;
    clock.start();
    process.start(QStringLiteral(ZELVIK_CTL), args);
    process.waitForFinished(60000);
    Run run;
    run.ms = clock.elapsed();
    run.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromUtf8(process.readAllStandardOutput()).trimmed();
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

QStringList words(const char *text)
{
    return QString::fromLatin1(text).split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

QString lit(const QString &text)
{
    return QRegularExpression::escape(text);
}

// One invocation of a row: its arguments, the whole of its stdout and its exit status.
struct Step {
    QStringList args;
    QString pattern; // a regular expression
    int status = 0;
};

// Invocations run in turn against one simulated sensor of the row's own: a set and the get that
// proves it took share a device, rows share nothing.
struct Script {
    Script &match(const QStringList &args, const QString &pattern, int status = 0)
    {
        steps.append({args, pattern, status});
        return *this;
    }
    Script &text(const char *args, const char *output, int status = 0)
    {
        return match(words(args), lit(QString::fromUtf8(output)), status);
    }
    QList<Step> steps;
};

const QString Reading = QStringLiteral("PM2\\.5 [0-9.]+ µg/m³  PM10 [0-9.]+ µg/m³  PM100 \\d+ µg/m³");
const QString Time = QStringLiteral("\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}(Z|[+-]\\d\\d:\\d\\d)");

} // namespace

Q_DECLARE_METATYPE(Script)

class CliTest : public QObject
{
    Q_OBJECT

private slots:
    void plan_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("sent");
        auto row = [](const char *args, const QByteArray &sent) { QTest::newRow(args) << words(args) << sent; };
        row("read", withCrc("00 03 00 B4 00 04"));
        row("read 3", withCrc("00 03 03 B4 00 04"));
        row("--address 5 get address", withCrc("05 03 00 00 00 01"));
        row("--address 0xaa set address 1", withCrc("AA 06 00 00 00 01"));
        row("set address 0x1f", withCrc("00 06 00 00 00 1F"));
        row("set address 255", withCrc("00 06 00 00 00 FF"));
        row("set clean 17 40", withCrc("00 06 00 AA 11 28"));
        row("set heat-mode auto", withCrc("00 06 00 AB 01 00"));
        row("set heat-mode on", withCrc("00 06 00 AB 00 01"));
        row("set heat-mode off", withCrc("00 06 00 AB 00 00"));
        row("set temp-thresholds 127 -128", withCrc("00 06 00 AC 7F 80"));
        row("set humi-thresholds 100 0", withCrc("00 06 00 AD 64 00"));
        row("set work-mode select 2,4", withCrc("00 06 00 A6 03 0A"));
        row("set work-mode single", withCrc("00 06 00 A6 02 00"));
        row("set global none", withCrc("00 06 00 AE 00 00"));
        row("set global 1,2,3,4", withCrc("00 06 00 AE 00 0F"));
        row("set calibration 2 pm100 -20 100", hex("00 10 02 C7 00 02 04 00 14 00 64 E2 6A"));
        row("set calibration avg pm2.5 255 10", withCrc("00 10 00 C3 00 02 04 01 FF 00 0A"));
        row("get calibration 1 pm10", hex("00 03 01 C5 00 02 D4 1B"));
        row("set baud 4800", withCrc("00 06 00 CD 00 02"));
        row("set baud 19200", withCrc("00 06 00 CD 00 04"));
        row("clean-now 10", hex("00 06 00 A9 00 0A D8 3C"));
        row("sleep", hex("00 06 00 A2 00 00 29 F9"));
        row("protocol native", hex("00 06 00 B1 00 00 D8 3C"));
        row("factory-reset --yes", hex("00 06 00 A5 00 01 59 F8"));
        row("info", nativeFrame(0xA6, 2, QByteArray()) + nativeFrame(0xB5, 2, QByteArray()));
        row("raw 01 0300 0a", hex("01 03 00 0A"));
        // Blanks around a number are allowed, as in the window's fields.
        QTest::newRow("set address ' 0x1f '") << QStringList{"set", "address", " 0x1f "} << withCrc("00 06 00 00 00 1F");
        QTest::newRow("set clean ' 17' 40") << QStringList{"set", "clean", " 17", "40"} << withCrc("00 06 00 AA 11 28");
        const QByteArray largestRead = withCrc("00 03 00 00 00 7D");
        QTest::newRow("raw read of 125 registers") << QStringList{QStringLiteral("raw"), hexText(largestRead)} << largestRead;
    }

    void plan()
    {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, sent);
        const Cli::Parsed parsed = Cli::parse(args, QStringLiteral("/dev/null"));
        QCOMPARE(parsed.text, QString());
        QCOMPARE(parsed.invocation.requests.join(), sent);
    }

    // Every refusal of the arguments is exit 2 with the reason and the usage line, and nothing
    // reaches the line. Each kind of argument lists the choices it takes, the same whatever was
    // given, and takes every choice it lists.
    void usage_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("reason");
        auto row = [](const char *args, const char *reason) { QTest::newRow(args) << words(args) << QString::fromUtf8(reason); };
        row("set address 256", "invalid address '256' (expected 1 to 255)");
        // Nothing but digits after 0x, and no sign or blank inside a number.
        row("set address 0x+1", "invalid address '0x+1'");
        row("set address 0x-1", "invalid address '0x-1'");
        row("set address 0x", "invalid address '0x'");
        row("set clean +5 1", "invalid cleaning duration '+5'");
        QTest::newRow("set address '0x 1'") << QStringList{"set", "address", "0x 1"} << QStringLiteral("invalid address '0x 1'");
        row("set temp-thresholds 128 0", "invalid high threshold '128' (expected -128 to 127)");
        row("set temp-thresholds 0 -129", "invalid low threshold '-129' (expected -128 to 127)");
        row("set humi-thresholds 101 0", "(expected 0 to 100)");
        row("set humi-thresholds 50 -1", "invalid low threshold '-1' (expected 0 to 100)");
        row("set humi-thresholds 90 95", "invalid high threshold '90' (expected above the low threshold 95)");
        row("set clean 256 1", "invalid cleaning duration '256' (expected 0 to 255)");
        row("set clean 1 256", "invalid cleaning interval '256' (expected 0 to 255)");
        row("clean-now -1", "invalid cleaning duration '-1' (expected 0 to 255)");
        row("set calibration avg pm2.5 -256 100", "invalid zero offset '-256' (expected -255 to 255)");
        row("set calibration avg pm2.5 0 9", "invalid calibration factor '9' (expected 10 to 250)");
        row("get calibration 5 pm10", "invalid unit '5'");
        row("get calibration avg pm1", "invalid range 'pm1'");
        row("set work-mode select 0", "invalid unit");
        row("set baud 2400", "invalid baud rate '2400' (expected 4800, 9600 or 19200)");
        row("--baud 1200 read", "invalid baud rate '1200'");
        row("--address 256 read", "invalid address '256' (expected 0 to 255)");
        row("--timeout 0 read", "invalid time-out '0'");
        row("read 5", "invalid unit '5'");
        row("factory-reset", "confirm with --yes");
        row("frobnicate", "unknown command 'frobnicate'");
        row("get", "get needs a setting (expected address, clean, heat-mode, temp-thresholds, humi-thresholds, work-mode, "
                   "global, calibration, temp-humi, self-test or factors)");
        row("get address 1", "get address expects no arguments");
        row("raw 0", "raw expects bytes in hexadecimal");
        row("--json monitor --csv", "monitor takes --csv or --json, not both");
        row("monitor --interval -1", "invalid interval '-1'");
        row("--bogus read", "Unknown option 'bogus'");
        row("set global 0", "invalid unit list '0' (expected 1, 2, 3 or 4 separated by commas, or none)");
        row("set global avg", "invalid unit list 'avg' (expected 1, 2, 3 or 4 separated by commas, or none)");
        row("set work-mode select 1,,2", "invalid unit list '1,,2' (expected 1, 2, 3 or 4 separated by commas, or none)");
        row("monitor --units avg,0", "invalid unit list 'avg,0' (expected avg, 1, 2, 3 or 4 separated by commas)");
        row("read avg,1", "invalid unit 'avg,1' (expected avg, 1, 2, 3 or 4)");
        row("--baud 1234 read", "invalid baud rate '1234' (expected 2400, 4800, 9600 or 19200)");
        row("--baud 3000 read", "invalid baud rate '3000' (expected 2400, 4800, 9600 or 19200)");
        row("--baud 0x2580 read", "invalid baud rate '0x2580' (expected 2400, 4800, 9600 or 19200)");
        row("set baud 3000", "invalid baud rate '3000' (expected 4800, 9600 or 19200)");
        row("set heat-mode manual", "invalid heat mode 'manual' (expected auto, on or off)");
        row("protocol kelvra", "invalid protocol 'kelvra' (expected modbus or native)");
        row("get calibration 1 pm25", "invalid range 'pm25' (expected pm2.5, pm10 or pm100)");
        row("get baud", "unknown setting 'baud' for get (expected address, clean, heat-mode, temp-thresholds, humi-thresholds, "
                        "work-mode, global, calibration, temp-humi, self-test or factors)");
        row("set factors 1", "unknown setting 'factors' for set (expected address, clean, heat-mode, temp-thresholds, "
                             "humi-thresholds, work-mode, global, calibration or baud)");
        row("help frobnicate", "unknown command 'frobnicate' (expected info, read, monitor, get, set, clean-now, sleep, wake, "
                               "protocol, factory-reset, probe or raw)");
        QTest::newRow("raw read of 126 registers")
            << QStringList{QStringLiteral("raw"), hexText(withCrc("01 03 00 00 00 7E"))}
            << QStringLiteral("Modbus reads at most 125 registers (0x7d) at once; this read asks for 126");
    }

    void usage()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, reason);
        PtyPair line;
        QVERIFY(line.isValid());
        const Run run = ctl(args, line.slavePath());
        QCOMPARE(run.status, 2);
        QVERIFY2(run.err.startsWith(QStringLiteral("zelvikctl: ")) && run.err.contains(reason), qPrintable(run.err));
        QVERIFY2(run.err.contains(Cli::usageLine()), qPrintable(run.err));
        QCOMPARE(run.out.isEmpty(), !args.contains(QStringLiteral("--json"))); // JSON: the refusal as an object
        QCOMPARE(line.readFor(50), QByteArray());
    }

    void noPort()
    {
        const Run run = ctl({QStringLiteral("read")}, QString());
        QCOMPARE(run.status, 2);
        QVERIFY2(run.err.contains(QLatin1String("no serial port: give --port PATH or set ZELVIK_PORT")), qPrintable(run.err));
    }

    // A port that does not open names the port and the reason; a port that another program holds
    // is said to be in use, not blamed on the dialout group.
    void openFailure_data()
    {
        QTest::addColumn<bool>("held");
        QTest::newRow("missing") << false;
        QTest::newRow("in use") << true;
    }

    void openFailure()
    {
        QFETCH(bool, held);
        PtyPair line;
        QVERIFY(line.isValid());
        const QString port = held ? line.slavePath() : QStringLiteral("/nonexistent/zelvik");
        QSerialPort holder(port);
        if (held)
            QVERIFY2(holder.open(QIODevice::ReadWrite), qPrintable(holder.errorString()));
        const Run run = ctl(words("read"), port);
        QCOMPARE(run.status, 4);
        QVERIFY2(run.err.startsWith(QStringLiteral("zelvikctl: cannot open %1: ").arg(port)), qPrintable(run.err));
        QVERIFY2(run.err.contains(QLatin1String("the port is in use by another program")) == held, qPrintable(run.err));
        QVERIFY2(!run.err.contains(QLatin1String("dialout")), qPrintable(run.err));
        QCOMPARE(run.out, QString());
    }

    // Nobody answers: every attempt goes out and the program gives up after timeout × attempts.
    void silentLine()
    {
        PtyPair line;
        QVERIFY(line.isValid());
        QProcess process;
        QElapsedTimer clock;
        qint64 endedAt = -1;
        connect(&process, qOverload<int, QProcess::ExitStatus>(&QProcess::finished), [&] { endedAt = clock.elapsed(); });
        clock.start();
        process.start(QStringLiteral(ZELVIK_CTL), {QStringLiteral("--port"), line.slavePath(), QStringLiteral("--timeout"),
                                                   QStringLiteral("200"), QStringLiteral("get"), QStringLiteral("temp-humi")});
        const QByteArray heard = line.read(3 * 8 + 1, 1500); // one byte more than it should send
        QVERIFY(QTest::qWaitFor([&] { return endedAt >= 0; }, 3000));
        QCOMPARE(process.exitCode(), 3);
        QVERIFY2(endedAt >= 600 && endedAt < 600 + 500, qPrintable(QString::number(endedAt)));
        QCOMPARE(heard, withCrc("00 03 00 A8 00 01").repeated(3));
        QVERIFY(process.readAllStandardError().contains("no answer on " + line.slavePath().toUtf8() + " at 9600 baud after 3 attempt(s)"));
    }

    // A line that never stops talking is no answer: every wait ends within its time-out and
    // retries, and the report says the line never went quiet.
    void babblingLine_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("complaints"); // lines on stderr
        QTest::newRow("get") << words("--timeout 100 --retries 1 get address") << 1;
        QTest::newRow("probe") << words("--timeout 100 --retries 0 probe") << 1;
        QTest::newRow("monitor") << words("--timeout 100 --retries 0 monitor --csv --count 2 --units 1") << 2;
    }

    void babblingLine()
    {
        QFETCH(QStringList, args);
        QFETCH(int, complaints);
        PtyPair line;
        QVERIFY(line.isValid());
        QTimer babble;
        connect(&babble, &QTimer::timeout, this, [&line] { line.write(QByteArray(64, '\xAA')); });
        babble.start(5);
        QProcess process;
        QElapsedTimer clock;
        clock.start();
        process.start(QStringLiteral(ZELVIK_CTL), QStringList{QStringLiteral("--port"), line.slavePath()} + args);
        QVERIFY(QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, 5000));
        babble.stop();
        QCOMPARE(process.exitCode(), 3);
        const QString errors = QString::fromUtf8(process.readAllStandardError());
        QCOMPARE(errors.count(QLatin1Char('\n')), complaints);
        QVERIFY2(errors.contains(QStringLiteral("never went quiet")), qPrintable(errors));
        QVERIFY2(errors.size() < 2000 * complaints, qPrintable(QString::number(errors.size()))); // no note per false start
        QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
    }

    // An RS-485 adapter that hears itself: the copy of the request comes before the reply, and
    // only that copy is dropped.
    void localEcho_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("printed");
        QTest::newRow("read") << words("--local-echo get temp-humi") << withCrc("01 03 02 F6 3F") << 0
                              << QStringLiteral("Inner temperature -10 °C, humidity 63 %");
        // The device's echo of a write is the request itself: the second copy is the answer.
        QTest::newRow("write") << words("--local-echo --retries 0 sleep") << hex("00 06 00 A2 00 00 29 F9") << 0
                               << QStringLiteral("Device asleep");
        QTest::newRow("write refused") << words("--local-echo --retries 0 sleep") << withCrc("00 86 04") << 1 << QString();
    }

    void localEcho()
    {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, reply);
        QFETCH(int, status);
        QFETCH(QString, printed);
        PtyPair line;
        QVERIFY(line.isValid());
        QProcess process;
        process.start(QStringLiteral(ZELVIK_CTL), QStringList{QStringLiteral("--port"), line.slavePath()} + args);
        const QByteArray request = line.read(8);
        QCOMPARE(request.size(), 8);
        line.write(request.left(3)); // the copy may come in pieces
        line.write(request.mid(3) + reply);
        QVERIFY(process.waitForFinished(3000));
        QCOMPARE(process.exitCode(), status);
        QCOMPARE(QString::fromUtf8(process.readAllStandardOutput()).trimmed(), printed);
    }

    // Against the simulated sensor, each row on a device of its own.
    void commands_data()
    {
        QTest::addColumn<Script>("script");
        auto row = [](const char *name, const Script &script) { QTest::newRow(name) << script; };
        row("info", Script()
                        .text("info", "Device identifier: 1234-abcd\nFirmware identifier: 1-3--2")
                        .text("--json info", R"({"command":"info","device_id":"1234-abcd","firmware_id":"1-3--2"})"));
        row("read", Script()
                        .match(words("read"), QStringLiteral("%1  avg  %2").arg(Time, Reading))
                        .match(words("--json read 4"), QStringLiteral("\\{\"command\":\"read\",\"pm100_ug_m3\":\\d+,\"pm10_ug_m3\":[0-9.]+,"
                                                                      "\"pm2_5_ug_m3\":[0-9.]+,\"time\":\"%1\",\"unit\":\"4\"\\}").arg(Time)));
        row("monitor", Script()
                           .match(words("monitor --count 2 --interval 0.05 --units avg,2"),
                                  QStringLiteral("(%1  avg  %2\n%1  2  %2\n?){2}").arg(Time, Reading))
                           .match(words("monitor --count 2 --interval 0 --csv"),
                                  QStringLiteral("time,unit,pm2_5_ug_m3,pm10_ug_m3,pm100_ug_m3(\n%1,avg,[0-9.]+,[0-9.]+,\\d+){2}").arg(Time))
                           .match(words("--json monitor --count 1 --units 1"), QStringLiteral("\\{\"command\":\"monitor\",[^\n]*\"unit\":\"1\"\\}")));
        row("address", Script()
                           .text("get address", "Modbus address: 0x01 (1)")
                           .text("set address 0x2a", "Modbus address set: 0x2a (42)")
                           .text("--address 42 --json get address", R"({"address":42,"command":"get address"})")
                           .text("--address 7 --timeout 50 --retries 0 get address", "", 3)
                           .text("--address 42 --json set address 1", R"({"address":1,"command":"set address","ok":true})"));
        row("clean", Script()
                         .text("get clean", "Automatic cleaning: 10 s every 24 h")
                         .text("set clean 17 40", "Automatic cleaning set: 17 s every 40 h")
                         .text("--json get clean", R"({"command":"get clean","duration_s":17,"interval_h":40})"));
        row("heat-mode", Script()
                             .text("get heat-mode", "Heater: automatic")
                             .text("set heat-mode on", "Heater set: manual, on")
                             .text("--json get heat-mode", R"({"command":"get heat-mode","heater_on":true,"mode":"manual"})")
                             .text("--json set heat-mode auto", R"({"command":"set heat-mode","mode":"auto","ok":true})"));
        row("thresholds", Script()
                              .text("get temp-thresholds", "Heating temperature thresholds: high 5 °C, low -10 °C")
                              .text("set temp-thresholds 127 -128", "Heating temperature thresholds set: high 127 °C, low -128 °C")
                              .text("--json get temp-thresholds", R"({"command":"get temp-thresholds","high_c":127,"low_c":-128})")
                              .text("--json set humi-thresholds 100 0",
                                    R"({"command":"set humi-thresholds","high_percent":100,"low_percent":0,"ok":true})")
                              .text("get humi-thresholds", "Heating humidity thresholds: high 100 %, low 0 %"));
        row("work-mode", Script()
                             .text("set work-mode select 2,4", "Work mode set: selected units 2, 4")
                             .text("--json get work-mode", R"({"command":"get work-mode","mode":"select","units":[2,4]})")
                             .text("set work-mode single", "Work mode set: one unit at a time, automatic")
                             .text("get work-mode", "Work mode: one unit at a time, automatic"));
        row("global", Script()
                          .text("set global none", "Unit switches set: on none")
                          .text("get global", "Unit switches: on none")
                          .text("--json set global 1,2,3,4", R"({"command":"set global","ok":true,"on":[1,2,3,4]})")
                          .text("--json get global", R"({"command":"get global","on":[1,2,3,4]})"));
        row("calibration", Script()
                               .text("set calibration 3 pm10 -255 250", "Calibration of unit 3, PM10 set: zero offset -255, factor 250")
                               .text("--json get calibration 3 pm10",
                                     R"({"command":"get calibration","factor":250,"range":"pm10","unit":"3","zero_offset":-255})")
                               .text("get calibration avg pm100", "Calibration of avg, PM100: zero offset 0, factor 100"));
        row("diagnostics", Script()
                               .text("get temp-humi", "Inner temperature -7 °C, humidity 63 %")
                               .text("--json get temp-humi", R"({"command":"get temp-humi","humidity_percent":63,"temperature_c":-7})")
                               .text("get self-test", "Self test: unit 1 error, unit 2 ok, unit 3 ok, unit 4 error")
                               .text("--json get self-test", R"({"command":"get self-test","failed":[1,4],"passed":[2,3]})")
                               .text("get factors", "Self-test factors of units 1 to 4: 38 97 102 38; suspected factors: 62 0 0 62")
                               .text("--json get factors",
                                     R"({"command":"get factors","factors":[38,97,102,38],"suspected":[62,0,0,62]})"));
        row("clean-now", Script()
                             .text("clean-now 0", "Dust cleaning started for 0 s")
                             .text("--json clean-now 255", R"({"command":"clean-now","duration_s":255,"ok":true})"));
        row("sleep and wake", Script()
                                  .text("sleep", "Device asleep")
                                  .text("--timeout 50 --retries 0 read", "", 3) // asleep: measurements go unanswered
                                  .text("--json wake", R"({"command":"wake","ok":true})")
                                  .text("--json sleep", R"({"command":"sleep","ok":true})")
                                  .text("wake", "Device awake"));
        row("protocol", Script()
                            .text("protocol native", "Protocol: native")
                            .text("--timeout 50 --retries 0 get address", "", 3) // native protocol: Modbus reads go unanswered
                            .text("--json protocol modbus", R"({"command":"protocol","ok":true,"protocol":"modbus"})"));
        const QString tempHumi = hexText(withCrc("01 03 00 A8 00 01")).trimmed();
        const QString tempHumiReply = hexText(withCrc("01 03 02 F9 3F")).trimmed();
        row("raw", Script()
                       .match(QStringList{QStringLiteral("raw")} + tempHumi.split(QLatin1Char(' ')), lit(tempHumiReply))
                       .match({QStringLiteral("--json"), QStringLiteral("raw"), tempHumi},
                              lit(QStringLiteral(R"({"command":"raw","reply":"%1","request":"%2"})").arg(tempHumiReply, tempHumi)))
                       .match({QStringLiteral("raw"), hexText(withCrc("01 03 00 99 00 01"))}, QString(), 1)); // exception 2
        row("baud", Script()
                        .text("set baud 19200", "Baud rate set to 19200: the device answers at 19200 baud from now on")
                        .text("--timeout 50 --retries 0 get address", "", 3)
                        .text("--baud 19200 --json set baud 9600", R"({"baud":9600,"command":"set baud","ok":true})")
                        .text("--timeout 100 probe", "Baud rate: 9600 (Modbus address 0x01)")
                        .text("--json --timeout 100 probe", R"({"address":1,"baud":9600,"command":"probe"})"));
        row("factory-reset", Script()
                                 .text("set temp-thresholds 127 -128", "Heating temperature thresholds set: high 127 °C, low -128 °C")
                                 .text("factory-reset --yes", "Factory settings restored")
                                 .text("get temp-thresholds", "Heating temperature thresholds: high 5 °C, low -10 °C")
                                 .text("--json factory-reset --yes", R"({"command":"factory-reset","ok":true})"));
        row("help and version",
            Script()
                .match(words("--help"), QStringLiteral("Usage: zelvikctl .*Commands:.*factory-reset --yes.*Exit status: .*"))
                .match(words("set --help"), QStringLiteral("Usage: zelvikctl \\[OPTIONS\\] set SETTING VALUE.*set calibration UNIT RANGE OFFSET FACTOR.*"))
                .match(words("--version"), QStringLiteral("zelvikctl \\d+\\.\\d+")));
    }

    void commands()
    {
        QFETCH(Script, script);
        Simulator device;
        QVERIFY2(device.start(words("--temp -7 --humidity 63 --self-test 0x6")), qPrintable(device.error));
        for (const Step &step : script.steps) {
            const Run run = ctl(step.args, device.path);
            const QString what = QStringLiteral("%1: exit %2, stdout \"%3\", stderr \"%4\"")
                                     .arg(step.args.join(QLatin1Char(' ')))
                                     .arg(run.status)
                                     .arg(run.out, run.err.trimmed());
            QVERIFY2(run.status == step.status, qPrintable(what));
            const QRegularExpression expected(QStringLiteral("^%1$").arg(step.pattern), QRegularExpression::DotMatchesEverythingOption);
            QVERIFY2(expected.match(run.out).hasMatch(), qPrintable(what));
        }
    }

    // The probe walks the rates down from 19200 baud; with --address it asks that device only.
    void probe_data()
    {
        QTest::addColumn<int>("rate");
        QTest::addColumn<QString>("address"); // zelvikctl's --address, none when empty
        QTest::addColumn<bool>("found");
        QTest::newRow("2400") << 2400 << QString() << true;
        QTest::newRow("4800") << 4800 << QString() << true;
        QTest::newRow("19200") << 19200 << QString() << true;
        QTest::newRow("4800, its address") << 4800 << QStringLiteral("9") << true;
        QTest::newRow("4800, another address") << 4800 << QStringLiteral("7") << false;
    }

    void probe()
    {
        QFETCH(int, rate);
        QFETCH(QString, address);
        QFETCH(bool, found);
        Simulator device;
        QVERIFY2(device.start({QStringLiteral("--baud"), QString::number(rate), QStringLiteral("--address"), QStringLiteral("9")}),
                 qPrintable(device.error));
        QStringList args = words("--timeout 150 --retries 0");
        if (!address.isEmpty())
            args << QStringLiteral("--address") << address;
        const Run run = ctl(args << QStringLiteral("probe"), device.path);
        if (found) {
            QCOMPARE(run.status, 0);
            QCOMPARE(run.out, QStringLiteral("Baud rate: %1 (Modbus address 0x09)").arg(rate));
        } else {
            QCOMPARE(run.status, 3);
            QCOMPARE(run.err.trimmed(), QStringLiteral("zelvikctl: no answer on %1 at 19200, 9600, 4800, 2400 baud; try 'zelvikctl wake' in "
                                                       "case it is asleep or 'zelvikctl protocol modbus' in case it was switched "
                                                       "to its native protocol")
                                            .arg(device.path));
        }
    }

    // A run that brings no result, against replies the test writes itself: the reason on standard
    // error and nothing on standard output; with --json the same reason on standard error and one
    // object on standard output with the exit status, the bytes the device sent instead of an
    // answer and, when nothing answered, what to try.
    void failures_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("request"); // empty: refused before anything is sent
        QTest::addColumn<QByteArray>("reply");   // written after the request, shown in the JSON when any
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message"); // stderr's first line after the program's name; PORT for the port
        QTest::addColumn<QString>("command");
        QTest::addColumn<bool>("hinted");
        QTest::addColumn<QString>("unit"); // a monitor's reading: its unit
        const QStringList get = words("--timeout 300 --retries 0 get temp-humi");
        const QByteArray request = withCrc("00 03 00 A8 00 01");
        QTest::newRow("usage") << words("set global 0") << QByteArray() << QByteArray() << 2
                               << QStringLiteral("invalid unit list '0' (expected 1, 2, 3 or 4 separated by commas, or none)")
                               << QStringLiteral("set global") << false << QString();
        QTest::newRow("no answer") << get << request << QByteArray() << 3
                                   << QStringLiteral("no answer on PORT at 9600 baud after 1 attempt(s)") << QStringLiteral("get temp-humi")
                                   << true << QString();
        QTest::newRow("refused") << get << request << withCrc("01 83 02") << 1
                                 << QStringLiteral("the device refused the request: exception 2 (illegal data address)")
                                 << QStringLiteral("get temp-humi") << false << QString();
        const QByteArray other = withCrc("01 03 04 00 01 00 02");
        QTest::newRow("answer to something else") << get << request << other << 1
                                                  << QStringLiteral("the device answered something else: ") + hexText(other).trimmed()
                                                  << QStringLiteral("get temp-humi") << false << QString();
        QTest::newRow("bad check value") << get << request << hex("01 03 02 F9 3F 00 00") << 3
                                         << QStringLiteral("no answer on PORT at 9600 baud after 1 attempt(s) (Reply refused: CRC mismatch "
                                                           "(expected %1, got 00 00))")
                                                .arg(hexText(withCrc("01 03 02 F9 3F").right(2)).trimmed())
                                         << QStringLiteral("get temp-humi") << true << QString();
        QTest::newRow("monitor, no answer") << words("--timeout 100 --retries 0 monitor --count 1 --units 2")
                                            << withCrc("00 03 02 B4 00 04") << QByteArray() << 3
                                            << QStringLiteral("no answer on PORT at 9600 baud after 1 attempt(s)")
                                            << QStringLiteral("monitor") << true << QStringLiteral("2");
    }

    void failures()
    {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, reply);
        QFETCH(int, status);
        QFETCH(QString, message);
        QFETCH(QString, command);
        QFETCH(bool, hinted);
        QFETCH(QString, unit);
        const QString hint = QStringLiteral("try 'zelvikctl probe' to find the device's baud rate, 'zelvikctl wake' in case it is asleep "
                                            "or 'zelvikctl protocol modbus' in case it was switched to its native protocol");
        for (const bool json : {false, true}) {
            PtyPair line;
            QVERIFY(line.isValid());
            const QString error = QString(message).replace(QLatin1String("PORT"), line.slavePath());
            QProcess process;
            process.start(QStringLiteral(ZELVIK_CTL), QStringList{QStringLiteral("--port"), line.slavePath()}
                                                          + (json ? QStringList{QStringLiteral("--json")} : QStringList()) + args);
            QCOMPARE(line.read(request.size()), request);
            line.write(reply);
            QVERIFY(process.waitForFinished(3000));
            QCOMPARE(process.exitCode(), status);
            const QString err = QString::fromUtf8(process.readAllStandardError());
            QString complaint = err.section(QLatin1Char('\n'), 0, 0);
            if (!unit.isEmpty()) // a monitor's complaint names the time and the unit first
                complaint.remove(QRegularExpression(QStringLiteral("^zelvikctl: %1 unit %2: ").arg(Time, unit)));
            else
                complaint.remove(QRegularExpression(QStringLiteral("^zelvikctl: ")));
            QCOMPARE(complaint, hinted ? error + QStringLiteral("; ") + hint : error);
            QCOMPARE(err.count(QLatin1Char('\n')), status == 2 ? 3 : 1);
            const QByteArray out = process.readAllStandardOutput();
            if (!json) {
                QCOMPARE(out, QByteArray());
                continue;
            }
            QVERIFY2(out.endsWith('\n') && out.count('\n') == 1, out.constData());
            QJsonObject printed = QJsonDocument::fromJson(out).object();
            if (!unit.isEmpty()) {
                QCOMPARE(printed.take(QStringLiteral("unit")).toString(), unit);
                const QString time = printed.take(QStringLiteral("time")).toString();
                QVERIFY2(QRegularExpression(QStringLiteral("^%1$").arg(Time)).match(time).hasMatch(), qPrintable(time));
            }
            QJsonObject expected{{QStringLiteral("command"), command}, {QStringLiteral("error"), error},
                                 {QStringLiteral("exit_status"), status}};
            if (!reply.isEmpty())
                expected[QStringLiteral("reply")] = hexText(reply).trimmed();
            if (hinted)
                expected[QStringLiteral("hint")] = hint;
            QCOMPARE(printed, expected);
        }
    }

    // Drops and flipped bits: retries bring every answer in, and only intact replies are shown.
    void faultyLine()
    {
        Simulator device;
        QVERIFY2(device.start(words("--drop-rate 0.3 --corrupt-rate 0.2 --seed 11 --temp -7 --humidity 63")), qPrintable(device.error));
        const QStringList options = words("--timeout 150 --retries 12");
        for (int i = 0; i < 8; ++i) {
            const Run th = ctl(options + words("get temp-humi"), device.path);
            QCOMPARE(th.out, QStringLiteral("Inner temperature -7 °C, humidity 63 %"));
            const Run info = ctl(options + words("info"), device.path);
            QCOMPARE(info.out, QStringLiteral("Device identifier: 1234-abcd\nFirmware identifier: 1-3--2"));
        }
        const Run monitor = ctl(options + words("--json monitor --count 15 --interval 0"), device.path);
        QCOMPARE(monitor.status, 0);
        QTest::qWait(200); // the simulator's last log lines
        QSet<QString> intact; // the readings the device sent undamaged, as printed
        int corrupted = 0;
        for (const Simulator::Reply &reply : device.replies()) {
            corrupted += reply.corrupted;
            if (!reply.corrupted && reply.bytes.size() == 13) {
                const Values::Measurement m = Values::measurement(reply.bytes);
                intact << QStringLiteral("%1/%2/%3").arg(Values::pmText(m.pm25), Values::pmText(m.pm10)).arg(m.pm100);
            }
        }
        const QStringList lines = monitor.out.split(QLatin1Char('\n'));
        QCOMPARE(lines.size(), 15);
        for (const QString &line : lines) {
            const QJsonObject o = QJsonDocument::fromJson(line.toUtf8()).object();
            const QString seen = QStringLiteral("%1/%2/%3").arg(o.value(QLatin1String("pm2_5_ug_m3")).toDouble())
                                     .arg(o.value(QLatin1String("pm10_ug_m3")).toDouble())
                                     .arg(o.value(QLatin1String("pm100_ug_m3")).toInt());
            QVERIFY2(intact.contains(seen), qPrintable(line));
        }
        QVERIFY2(corrupted > 3, "the line was not faulty enough to prove anything");
        QVERIFY(device.logText().count(QLatin1String("reply dropped")) > 3);
    }

    // A device that answers just after the time-out: each reply is dropped as late instead of
    // being printed in the next unit's row, and every missed reading is reported.
    void lateDevice()
    {
        Simulator device;
        QVERIFY2(device.start(words("--late 1010")), qPrintable(device.error));
        const Run run = ctl(words("--timeout 1000 --retries 0 monitor --csv --count 1 --units 1,2,3"), device.path);
        QCOMPARE(run.status, 3);
        QCOMPARE(run.out, QStringLiteral("time,unit,pm2_5_ug_m3,pm10_ug_m3,pm100_ug_m3"));
        QCOMPARE(run.err.count(QStringLiteral(" unit ")), 3);
        QVERIFY2(run.err.contains(QStringLiteral("late reply dropped")), qPrintable(run.err));
    }

    // SIGTERM in the middle of a monitor writing CSV to a file: it ends cleanly, every row whole.
    void monitorStopped()
    {
        Simulator device;
        QVERIFY2(device.start({}), qPrintable(device.error));
        QTemporaryDir dir;
        const QString csv = dir.filePath(QStringLiteral("log.csv"));
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("ZELVIK_PORT"), device.path);
        process.setProcessEnvironment(env);
        process.setStandardOutputFile(csv);
        process.start(QStringLiteral(ZELVIK_CTL), words("monitor --csv --interval 0.02 --units avg,1,2,3,4"));
        QFile file(csv);
        QVERIFY(QTest::qWaitFor([&] { return file.size() > 1000; }, 5000));
        // Each row goes out whole as it is printed: the file never ends inside a row.
        for (int look = 0; look < 5; ++look) {
            QVERIFY(file.open(QIODevice::ReadOnly));
            QVERIFY(file.readAll().endsWith('\n'));
            file.close();
            QTest::qWait(30);
        }
        ::kill(pid_t(process.processId()), SIGTERM);
        QVERIFY(process.waitForFinished(3000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 0);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray content = file.readAll();
        QVERIFY(content.endsWith('\n'));
        const QList<QByteArray> rows = content.trimmed().split('\n');
        QCOMPARE(rows.first(), QByteArray("time,unit,pm2_5_ug_m3,pm10_ug_m3,pm100_ug_m3"));
        const QRegularExpression row(QStringLiteral("^%1,(avg|[1-4]),\\d+(\\.\\d)?,\\d+(\\.\\d)?,\\d+$").arg(Time));
        for (const QByteArray &r : rows.mid(1))
            QVERIFY2(row.match(QString::fromUtf8(r)).hasMatch(), r.constData());
        QVERIFY(rows.size() > 10);
    }

    // The sensor goes away while a monitor runs: the port is lost and said so, exit 4.
    void portLost()
    {
        Simulator device;
        QVERIFY2(device.start({}), qPrintable(device.error));
        QProcess process;
        process.start(QStringLiteral(ZELVIK_CTL), QStringList{QStringLiteral("--port"), device.path} + words("monitor --interval 0.05"));
        QVERIFY(QTest::qWaitFor([&] { return process.canReadLine(); }, 3000));
        device.stop();
        QVERIFY(process.waitForFinished(3000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 4);
        const QString err = QString::fromUtf8(process.readAllStandardError());
        QVERIFY2(err.startsWith(QStringLiteral("zelvikctl: lost the port %1 (").arg(device.path)), qPrintable(err));
    }
};

QTEST_GUILESS_MAIN(CliTest)
#include "tst_cli.moc"
