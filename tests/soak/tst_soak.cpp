// Soak test: the real window, offscreen, against the simulated sensor splitting, corrupting and
// dropping its replies. Scripted presses cover every query, one to three of them pressed at once
// (replies of equal and of different sizes in flight together), and nothing is reset between them.
// Every answer shown is checked against ground truth: values this soak set on the device (or started
// the simulator with), and for drifting ones the reply the simulator meant to send, taken from its
// --verbose log. Every query that shows nothing must be reported with a "No answer" line, and every
// reply the simulator dropped or damaged must be among those. A wrong value, an unreported loss, no
// correct answer at all, a crash or resident memory that keeps growing fails the run.
//
// Environment: ZELVIK_SIM (simulator), ZELVIK_SOAK_CYCLES (total presses, default 300),
// ZELVIK_SOAK_JOBS (window+simulator pairs run side by side in processes of their own, default 3),
// ZELVIK_SOAK_SEED (seed of the first pair, default 1), ZELVIK_SOAK_LOGDIR (evidence, default
// ./soak-logs), ZELVIK_SOAK_RSS_LIMIT_KB (allowed growth after warm-up, default 4096).
#include <QtTest>
#include <QtWidgets>

#include "mainwindow.h"
#include "modalcloser.h"
#include "pendingreplies.h"
#include "residentmemory.h"
#include "windowfixture.h"
#include "windowprobe.h"

#include <algorithm>
#include <memory>
#include <random>

#include <csignal>
#include <sys/prctl.h>

namespace {

int envInt(const char *name, int fallback)
{
    bool ok = false;
    const int value = qEnvironmentVariable(name).toInt(&ok);
    return ok ? value : fallback;
}

// Runs the event loop until done() holds or timeoutMs passed. QTest::qWaitFor and qWait sleep 10 ms
// at a time with the event loop stopped; a reply arriving then waits in the terminal while the
// window's poll tick may run first and discard it, a loss the window itself would not cause.
bool waitFor(const std::function<bool()> &done, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    QTimer wakeUp; // bounds each blocking wait so the time-out is seen
    wakeUp.start(5);
    while (!done() && clock.elapsed() < timeoutMs)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return done();
}

void pause(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// A child that ends with the process that started it, even when that one crashes or is killed, so
// no simulator or pair is left running.
class ChildProcess : public QProcess
{
protected:
    void setupChildProcess() override { ::prctl(PR_SET_PDEATHSIG, SIGTERM); }
};

QString hexText(const QByteArray &bytes) { return QString::fromLatin1(bytes.toHex(' ')); }

enum Kind { Measurement, Address, Clean, HeatMode, WorkMode, SelfTest, Global, TempHumi, TempThresholds,
            HumiThresholds, Calibration, Factors, TransRead, Identity, Firmware, KindCount };
const char *const KindNames[KindCount] = {"measurement", "address", "clean setting", "heat mode", "work mode",
    "self test", "global", "temp/humi", "temp thresholds", "humi thresholds", "calibration", "factors",
    "transparent read", "device id", "firmware id"};
// What became of each query: its answer shown correctly, reported with a "No answer" line, shown
// wrong, or a reply the simulator dropped or damaged that no "No answer" line accounts for.
enum Outcome { Correct, NoAnswer, Wrong, Unaccounted, OutcomeCount };
const char *const OutcomeNames[OutcomeCount] = {"correct", "no answer", "wrong", "unaccounted"};
// What the simulator did with the replies of the queries reported unanswered.
enum Detail { ReplyDropped, ReplyDamaged, ReplyIntact, DetailCount };
const char *const DetailNames[DetailCount] = {"no answer: reply dropped by the simulator",
    "no answer: reply damaged on the line", "no answer: reply sent intact, lost beside a damaged one"};

// Values the soak writes to the device before the presses, or starts the simulator with.
const char *const SimFaults[] = {"--split", "--corrupt-rate", "0.05", "--drop-rate", "0.02", "--late", "1100", "--late-rate", "0.03"};
const char *const SimState[] = {"--temp", "-7", "--humidity", "63", "--self-test", "0x6"};
struct CalibrationSetting { int unit, range; const char *zero, *factor; };
const CalibrationSetting Calibrations[] = {{0, 0, "-3", "97"}, {2, 1, "4", "105"}, {4, 2, "12", "110"}};
const char *const ChannelFrame = "AA C3 11 22 33 44 55 66 77 88 99 10 20 30 40 50 60 00 AB"; // checksum filled in
const char *const DeviceId = "5a6b-7c8d";
const char *const FirmwareId = "1-3--2"; // the simulator's fixed firmware identifier 1, 3, -2

// The native identity requests: command, fifteen zero data bytes, checksum 0, tail.
QByteArray nativeRequest(quint8 command)
{
    QByteArray frame(19, '\0');
    frame[0] = char(0xAA);
    frame[1] = char(command);
    frame[18] = char(0xAB);
    return frame;
}

// One request as the simulator logged it, with what became of its reply.
struct SimRecord {
    QByteArray request;
    QString note;      // why the request was ignored or refused; empty when taken
    QByteArray sent;   // the reply as it went out, parts joined
    int flippedByte = -1, flippedBit = -1;
    bool dropped = false, lostOnLine = false, complete = false;
    QByteArray clean() const // the reply the device meant to send
    {
        QByteArray bytes = sent;
        if (flippedByte >= 0 && flippedByte < bytes.size())
            bytes[flippedByte] = char(quint8(bytes.at(flippedByte)) ^ (1u << flippedBit));
        return bytes;
    }
};

// "All Sensor: PM2.5 = 12.3  PM10 = 45.6  PM100 = 789" from a measurement reply and the unit chosen.
QString measurementLine(const QByteArray &reply, int unit)
{
    auto word = [&reply](int at) { return quint8(reply.at(at)) * 256 + quint8(reply.at(at + 1)); };
    auto tenths = [](int value) { return QString::asprintf("%g", double(float(value) / 10.0f)); };
    return (unit == 0 ? QStringLiteral("All Sensor: PM2.5 = ") : QStringLiteral("Sensor %1:  PM2.5 = ").arg(unit))
        + tenths(word(3)) + QStringLiteral("  PM10 = ") + tenths(word(5)) + QStringLiteral("  PM100 = ")
        + QString::number(word(7));
}

using Expect = QList<QPair<QString, QString>>; // widget name -> text, or "1"/"0" for a checkable button

} // namespace

class SoakTest : public WindowFixture
{
    Q_OBJECT

private slots:
    void soak();

private:
    void runPairs();
    void runWorker();
    void startSimulator();
    void readSimulatorLog();
    void setUp();
    void setPress(const char *button);
    struct Press {
        Kind kind = Measurement;
        QByteArray request;
        int unit = 0;        // comboBoxSendObject index of a measurement
        int calibration = 0; // index into Calibrations
    };
    void group(const QVector<Kind> &kinds);
    void judge(Kind kind, const QList<Press> &presses, const QStringList &log, int from);
    Expect expected(Kind kind, const Press &press, const SimRecord *record) const;
    void settle();

    void setText(const char *name, const char *text) { widget<QLineEdit>(name)->setText(QLatin1String(text)); }
    void setIndex(const char *name, int index) { widget<QComboBox>(name)->setCurrentIndex(index); }
    void setChecked(const char *name, bool on) { widget<QAbstractButton>(name)->setChecked(on); }
    QString logText() const { return widget<QPlainTextEdit>("textEditPM")->toPlainText(); }

    quint32 seed = 1;
    std::mt19937 random;
    ChildProcess simulator;
    QByteArray simPending;
    QFile simLog;
    QList<SimRecord> records;
    std::unique_ptr<ModalCloser> closer;
    int answering = 0; // the first request whose reply has not been seen in full
    int tally[KindCount][OutcomeCount] = {};
    int details[DetailCount] = {};
};

void SoakTest::soak()
{
    if (qEnvironmentVariableIsSet("ZELVIK_SOAK_WORKER"))
        runWorker();
    else
        runPairs();
}

// Parent: one process per window+simulator pair, then the sum of their counts.
void SoakTest::runPairs()
{
    const int total = qMax(1, envInt("ZELVIK_SOAK_CYCLES", 300));
    const int jobs = qBound(1, envInt("ZELVIK_SOAK_JOBS", 3), total);
    const int firstSeed = envInt("ZELVIK_SOAK_SEED", 1);
    const qint64 rssLimit = envInt("ZELVIK_SOAK_RSS_LIMIT_KB", 4096);
    const QString logDir = qEnvironmentVariable("ZELVIK_SOAK_LOGDIR", QDir::current().filePath(QStringLiteral("soak-logs")));
    QVERIFY2(QFileInfo(qEnvironmentVariable("ZELVIK_SIM")).isExecutable(), "ZELVIK_SIM must name the simulator");
    QVERIFY(QDir().mkpath(logDir));

    QElapsedTimer clock;
    clock.start();
    std::vector<std::unique_ptr<ChildProcess>> workers;
    for (int i = 0; i < jobs; ++i) {
        const int seedOfPair = firstSeed + i;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("ZELVIK_SOAK_WORKER"), QString::number(i));
        env.insert(QStringLiteral("ZELVIK_SOAK_SEED"), QString::number(seedOfPair));
        env.insert(QStringLiteral("ZELVIK_SOAK_CYCLES"), QString::number(total / jobs + (i < total % jobs ? 1 : 0)));
        env.insert(QStringLiteral("ZELVIK_SOAK_LOGDIR"), logDir);
        auto process = std::make_unique<ChildProcess>();
        process->setProcessEnvironment(env);
        process->setProcessChannelMode(QProcess::MergedChannels);
        process->setStandardOutputFile(QStringLiteral("%1/worker-%2.log").arg(logDir).arg(seedOfPair));
        process->start(QCoreApplication::applicationFilePath(), {QStringLiteral("soak")});
        QVERIFY(process->waitForStarted());
        workers.push_back(std::move(process));
    }

    int sum[KindCount][OutcomeCount] = {};
    int detailSum[DetailCount] = {};
    QStringList failures, memory;
    for (int i = 0; i < jobs; ++i) {
        const int seedOfPair = firstSeed + i;
        QProcess &process = *workers[size_t(i)];
        // Each press costs well under 5 s even when its answer is lost.
        process.waitForFinished(total / jobs * 5000 + 120000);
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished();
            failures << QStringLiteral("seed %1: time-out").arg(seedOfPair);
        } else if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
            failures << QStringLiteral("seed %1: %2 %3").arg(seedOfPair)
                            .arg(process.exitStatus() == QProcess::CrashExit ? "crashed, signal" : "failed, exit code")
                            .arg(process.exitCode());
        }
        QFile resultFile(QStringLiteral("%1/result-%2.json").arg(logDir).arg(seedOfPair));
        if (!resultFile.open(QIODevice::ReadOnly)) {
            failures << QStringLiteral("seed %1: no result").arg(seedOfPair);
            continue;
        }
        const QJsonObject result = QJsonDocument::fromJson(resultFile.readAll()).object();
        const QJsonArray kinds = result.value(QLatin1String("tally")).toArray();
        for (int k = 0; k < KindCount; ++k)
            for (int o = 0; o < OutcomeCount; ++o)
                sum[k][o] += kinds.at(k).toArray().at(o).toInt();
        const QJsonArray why = result.value(QLatin1String("details")).toArray();
        for (int d = 0; d < DetailCount; ++d)
            detailSum[d] += why.at(d).toInt();
        const QJsonObject rss = result.value(QLatin1String("rssKb")).toObject();
        const qint64 growth = rss.value(QLatin1String("end")).toInt() - rss.value(QLatin1String("warm")).toInt();
        memory << QStringLiteral("  seed %1: window %2 / %3 / %4 kB (start / after warm-up / end), simulator %5 / %6 kB")
                      .arg(seedOfPair).arg(rss.value(QLatin1String("start")).toInt()).arg(rss.value(QLatin1String("warm")).toInt())
                      .arg(rss.value(QLatin1String("end")).toInt()).arg(rss.value(QLatin1String("simStart")).toInt())
                      .arg(rss.value(QLatin1String("simEnd")).toInt());
        if (growth > rssLimit && !AddressSanitizer)
            failures << QStringLiteral("seed %1: resident memory grew by %2 kB after warm-up").arg(seedOfPair).arg(growth);
    }

    const double minutes = clock.elapsed() / 60000.0;
    int totals[OutcomeCount] = {};
    QStringList report;
    report << QStringLiteral("Soak: %1 presses in %2 window+simulator pairs (seeds %3 to %4), %5 min, %6 presses/min")
                  .arg(total).arg(jobs).arg(firstSeed).arg(firstSeed + jobs - 1)
                  .arg(minutes, 0, 'f', 1).arg(total / qMax(minutes, 0.01), 0, 'f', 0);
    auto row = [](const QString &name, const int *counts) {
        return QStringLiteral("  %1 %2 %3 %4 %5").arg(name, -18).arg(counts[Correct], 8).arg(counts[NoAnswer], 10)
            .arg(counts[Wrong], 8).arg(counts[Unaccounted], 12);
    };
    report << QStringLiteral("  %1 %2 %3 %4 %5").arg(QStringLiteral("answer"), -18).arg("correct", 8).arg("no answer", 10)
                  .arg("wrong", 8).arg("unaccounted", 12);
    for (int k = 0; k < KindCount; ++k) {
        report << row(QLatin1String(KindNames[k]), sum[k]);
        for (int o = 0; o < OutcomeCount; ++o)
            totals[o] += sum[k][o];
    }
    const int answers = totals[Correct] + totals[NoAnswer] + totals[Wrong] + totals[Unaccounted];
    report << row(QStringLiteral("total"), totals);
    QStringList rates;
    for (int o = 0; o < OutcomeCount; ++o)
        rates << QStringLiteral("%1 %2%").arg(QLatin1String(OutcomeNames[o])).arg(100.0 * totals[o] / qMax(answers, 1), 0, 'f', 2);
    report << QStringLiteral("  of %1 answers expected: %2").arg(answers).arg(rates.join(QStringLiteral(", ")));
    for (int d = 0; d < DetailCount; ++d)
        report << QStringLiteral("  %1: %2").arg(QLatin1String(DetailNames[d])).arg(detailSum[d]);
    report << QStringLiteral("  resident memory%1:").arg(AddressSanitizer ? " (not bounded under AddressSanitizer)" : "") << memory;
    report << QStringLiteral("  evidence (simulator logs, worker logs): %1").arg(logDir);
    std::fprintf(stdout, "%s\n", qPrintable(report.join(QLatin1Char('\n'))));
    std::fflush(stdout);

    if (totals[Wrong] > 0)
        failures << QStringLiteral("%1 wrong value(s) shown; see the worker logs").arg(totals[Wrong]);
    if (totals[Unaccounted] > 0)
        failures << QStringLiteral("%1 lost repl(ies) with no \"No answer\" line; see the worker logs").arg(totals[Unaccounted]);
    if (totals[Correct] == 0)
        failures << QStringLiteral("no answer was shown correctly");
    QVERIFY2(failures.isEmpty(), qPrintable(failures.join(QStringLiteral("; "))));
}

void SoakTest::startSimulator()
{
    QStringList arguments{QStringLiteral("--seed"), QString::number(seed), QStringLiteral("--verbose")};
    for (const char *argument : SimFaults)
        arguments << QLatin1String(argument);
    for (const char *argument : SimState)
        arguments << QLatin1String(argument);
    connect(&simulator, &QProcess::readyReadStandardError, this, &SoakTest::readSimulatorLog);
    simulator.start(qEnvironmentVariable("ZELVIK_SIM"), arguments);
    QVERIFY2(simulator.waitForStarted(), "the simulator did not start");
    QVERIFY(waitFor([this] { return simulator.canReadLine(); }, 5000));
    const QString port = QString::fromLocal8Bit(simulator.readLine()).trimmed();

    newWindow().show();
    closer = std::make_unique<ModalCloser>(50);
    auto *ports = widget<QComboBox>("comboBoxCOM");
    ports->addItem(port);
    ports->setCurrentIndex(ports->count() - 1);
    press("pushButtonOpen");
    QVERIFY(WindowProbe::serial(*window).isOpen());
}

// The simulator's --verbose lines: "hh:mm:ss.zzz rx <hex>[ (note)]", "... tx <hex>[ (bit b of byte n
// flipped)][ (first part)|(second part)]" and "... reply dropped: <hex>". The simulator answers the
// requests it takes in order, so each reply belongs to the oldest taken request still unanswered.
void SoakTest::readSimulatorLog()
{
    static const QRegularExpression line(QStringLiteral("^\\S+ (rx|tx|reply dropped:) ([0-9a-f ]*[0-9a-f])(.*)$"));
    static const QRegularExpression flip(QStringLiteral("bit (\\d) of byte (\\d+) flipped"));
    simPending += simulator.readAllStandardError();
    simLog.write(simPending.left(simPending.lastIndexOf('\n') + 1));
    while (simPending.contains('\n')) {
        const int end = simPending.indexOf('\n');
        const QString text = QString::fromLocal8Bit(simPending.left(end));
        simPending.remove(0, end + 1);
        const QRegularExpressionMatch m = line.match(text);
        if (!m.hasMatch())
            continue;
        const QByteArray bytes = QByteArray::fromHex(m.captured(2).toLatin1());
        const QString rest = m.captured(3).trimmed();
        if (m.captured(1) == QLatin1String("rx")) {
            SimRecord record;
            record.request = bytes;
            record.note = rest.mid(1, rest.size() - 2);
            record.complete = !record.note.isEmpty(); // a request not taken gets no reply
            records << record;
            continue;
        }
        while (answering < records.size() && records.at(answering).complete)
            ++answering;
        if (answering >= records.size())
            continue;
        SimRecord &record = records[answering];
        record.sent += bytes;
        if (m.captured(1) == QLatin1String("reply dropped:")) {
            record.dropped = true;
        } else {
            const QRegularExpressionMatch f = flip.match(rest);
            if (f.hasMatch()) {
                record.flippedBit = f.captured(1).toInt();
                record.flippedByte = f.captured(2).toInt();
            }
            record.lostOnLine = rest.contains(QLatin1String("(lost:")) || rest.contains(QLatin1String("write failed"));
        }
        record.complete = !rest.contains(QLatin1String("(first part)"));
    }
}

// A setting press: the simulator must log the request as taken before the soak goes on.
void SoakTest::setPress(const char *button)
{
    if (QTest::currentTestFailed())
        return;
    const int from = records.size();
    press(button);
    QVERIFY2(waitFor([&] { return records.size() > from && records.at(from).complete; }, 3000),
             qPrintable(QStringLiteral("%1: no request seen by the simulator").arg(button)));
    QVERIFY2(records.at(from).note.isEmpty(), qPrintable(QStringLiteral("%1: %2").arg(button, records.at(from).note)));
    settle();
}

// Two poll ticks: whatever reached the window by now has been read and judged.
void SoakTest::settle()
{
    const int target = ticks + 2;
    waitFor([&] { return ticks >= target; }, 2000);
}

void SoakTest::setUp()
{
    setText("lineEdit_DeviceAddr", "2a");
    setPress("pushButton_SetDeviceAddr");
    setIndex("comboBoxAutoCleanDust", 1);
    setText("lineEdit_AutoCleanTime", "17");
    setText("lineEdit_AutoCleanDustJianGe", "40");
    setPress("pushButton_AutoCleanDust");
    setChecked("radioButton_StartHeat", true);
    setPress("pushButton_ManualHeat");
    setIndex("comboBox_HeatTemp", 1);
    setText("lineEdit_HeatTempHigh", "31");
    setText("lineEdit_HeatTempLow", "-6");
    setPress("pushButton_HeatTemp");
    setIndex("comboBox_HeatHumi", 1);
    setText("lineEdit_HeatHumiHigh", "88");
    setText("lineEdit_HeatHumiLow", "55");
    setPress("pushButton_HeatHumi");
    for (const char *box : {"checkBox_No1", "checkBox_No2", "checkBox_No4"})
        setChecked(box, true);
    setPress("pushButton_ManualSet");
    for (const char *box : {"checkBox_Global2", "checkBox_Global3", "checkBox_Global4"})
        setChecked(box, true);
    setPress("pushButton_SetGlobalOnOff");
    setIndex("comboBox_Calibrate", 1);
    for (const CalibrationSetting &c : Calibrations) {
        setIndex("comboBox_CalibrateObject", c.unit);
        setIndex("comboBox_CalibrateRange", c.range);
        setText("lineEdit_CalibrZero", c.zero);
        setText("lineEdit_CalibrateFactor", c.factor);
        setPress("pushButton_Calibrate");
    }
    setIndex("comboBoxTransObject", 2); // unit "3"
    setText("lineEdit_TransSend", ChannelFrame);
    setPress("pushButton_TransSend");
    setText("Edit_DeviceID", DeviceId);
    setPress("pushButton_SetID");
    for (const char *mode : {"comboBoxAutoCleanDust", "comboBox_HeatTemp", "comboBox_HeatHumi", "comboBox_Calibrate"})
        setIndex(mode, 0);
}

Expect SoakTest::expected(Kind kind, const Press &press, const SimRecord *record) const
{
    const QByteArray reply = record ? record->clean() : QByteArray();
    switch (kind) {
    case Measurement:
        if (reply.size() != 13)
            return {{QStringLiteral("textEditPM"), QStringLiteral("<no measurement reply logged>")}};
        return {{QStringLiteral("textEditPM"), measurementLine(reply, press.unit)}};
    case Address: return {{"lineEdit_DeviceAddr", "2a"}};
    case Clean: return {{"lineEdit_AutoCleanTime", "17"}, {"lineEdit_AutoCleanDustJianGe", "40"}};
    case HeatMode: return {{"radioButton_ManualHeat", "1"}, {"radioButton_AutoHeat", "0"}};
    case WorkMode:
        return {{"radioButton_Manualset", "1"}, {"radioButton_Autoall", "0"}, {"radioButton_Autosingle", "0"},
                {"checkBox_No1", "1"}, {"checkBox_No2", "1"}, {"checkBox_No3", "0"}, {"checkBox_No4", "1"}};
    case SelfTest: // --self-test 0x6: units 1 and 4 failed, their boxes are checked
        return {{"checkBox_Selfcheck1", "1"}, {"checkBox_Selfcheck2", "0"}, {"checkBox_Selfcheck3", "0"},
                {"checkBox_Selfcheck4", "1"}};
    case Global:
        return {{"checkBox_Global1", "0"}, {"checkBox_Global2", "1"}, {"checkBox_Global3", "1"}, {"checkBox_Global4", "1"}};
    case TempHumi: return {{"lineEdit_Temp", "-7"}, {"lineEdit_Humi", "63"}};
    case TempThresholds: return {{"lineEdit_HeatTempHigh", "31"}, {"lineEdit_HeatTempLow", "-6"}};
    case HumiThresholds: return {{"lineEdit_HeatHumiHigh", "88"}, {"lineEdit_HeatHumiLow", "55"}};
    case Calibration: {
        const CalibrationSetting &c = Calibrations[press.calibration];
        return {{"lineEdit_CalibrZero", c.zero}, {"lineEdit_CalibrateFactor", c.factor}};
    }
    case Factors: {
        Expect out;
        auto byte = [&reply](int at) { return QString::number(at < reply.size() ? quint8(reply.at(at)) : 0); };
        for (int unit = 1; unit <= 4; ++unit) {
            out << qMakePair(QStringLiteral("lineEdit_%1Factor").arg(unit), byte(2 + unit))
                << qMakePair(QStringLiteral("lineEdit_%1Factor_2").arg(unit), byte(6 + unit));
        }
        if (reply.size() != 13)
            out << qMakePair(QStringLiteral("lineEdit_1Factor"), QStringLiteral("<no factor reply logged>"));
        return out;
    }
    case TransRead: {
        // The unit answers the stored frame with its checksum (sum of offsets 2 to 16), padded to 38 bytes.
        QByteArray frame = QByteArray::fromHex(ChannelFrame);
        quint8 sum = 0;
        for (int i = 2; i <= 16; ++i)
            sum = quint8(sum + quint8(frame.at(i)));
        frame[17] = char(sum);
        return {{"lineEdit_TransRead", hexText(frame + QByteArray(19, '\0'))}};
    }
    case Identity: return {{"Edit_DeviceID", DeviceId}};
    case Firmware: return {{"label_softid", FirmwareId}};
    default: return {};
    }
}

// Presses the queries at once, at a random point of the 300 ms poll (so split replies straddle
// ticks in every way), waits until every one of them has ended, then judges each kind.
void SoakTest::group(const QVector<Kind> &kinds)
{
    static const char *const Buttons[KindCount] = {"pushButton_GetSensorData", "pushButton_GetDeviceAddr",
        "pushButton_AutoCleanDust", "pushButton_GetHeatMode", "pushButton_GetWorkMode", "pushButton_GetSelfCheck",
        "pushButton_GetGlobalOnOff", "pushButton_GetTempHumi", "pushButton_HeatTemp", "pushButton_HeatHumi",
        "pushButton_Calibrate", "pushButton_GetFactor", "pushButton_TransRead", "pushButton_GetInfo", nullptr};

    pause(std::uniform_int_distribution<int>(0, 299)(random));
    press("pushButton"); // "Clear": the log pane holds only this group's lines
    const int from = records.size();
    QList<Press> presses;
    for (const Kind kind : kinds) {
        Press pressed;
        pressed.kind = kind;
        // Put the widgets that the query does not empty itself into a state the answer must change.
        if (kind == Measurement)
            setIndex("comboBoxSendObject", pressed.unit = std::uniform_int_distribution<int>(0, 4)(random));
        if (kind == HeatMode)
            setChecked("radioButton_StartHeat", true);
        if (kind == WorkMode)
            setChecked("radioButton_Autoall", true);
        if (kind == Calibration) {
            pressed.calibration = std::uniform_int_distribution<int>(0, 2)(random);
            setIndex("comboBox_CalibrateObject", Calibrations[pressed.calibration].unit);
            setIndex("comboBox_CalibrateRange", Calibrations[pressed.calibration].range);
        }
        press(Buttons[kind]);
        pressed.request = kind == Identity ? nativeRequest(0xA6)
            : QByteArray::fromHex(widget<QLineEdit>("lineEdit_TransSend_2")->text().toLatin1());
        presses << pressed;
    }

    // Every query has ended, answered or reported, once none is outstanding at a tick and the one
    // after it (the firmware request follows an identifier 200 ms later, before the next tick).
    int quietSince = -1;
    waitFor([&] {
        if (WindowProbe::session(*window).outstanding() > 0) // the firmware request due later included
            quietSince = -1;
        else if (quietSince < 0)
            quietSince = ticks;
        return quietSince >= 0 && ticks >= quietSince + 1;
    }, 15000);
    // The simulator's account of the last reply may still be in the pipe.
    waitFor([&] { readSimulatorLog(); return answering >= records.size(); }, 1000);

    const QStringList log = logText().split(QLatin1Char('\n'));
    QList<Kind> judged;
    for (const Press &press : presses) {
        if (judged.contains(press.kind))
            continue;
        judged << press.kind;
        QList<Press> same;
        for (const Press &other : presses) {
            if (other.kind == press.kind)
                same << other;
        }
        judge(press.kind, same, log, from);
    }
    if (kinds.contains(Identity) && !value(QStringLiteral("Edit_DeviceID")).isEmpty()) {
        Press firmware;
        firmware.kind = Firmware;
        firmware.request = nativeRequest(0xB5);
        judge(Firmware, {firmware}, log, from);
    }
}

void SoakTest::judge(Kind kind, const QList<Press> &presses, const QStringList &log, int from)
{
    // The k-th press of a request is answered by the simulator's k-th record of it.
    QList<const SimRecord *> recordOf;
    int damaged = 0;
    for (int i = from, k = 0; i < records.size() && k < presses.size(); ++i) {
        if (records.at(i).request != presses.at(k).request)
            continue;
        const SimRecord &r = records.at(i);
        recordOf << &r;
        ++k;
        if (r.dropped || r.lostOnLine || r.flippedByte >= 0)
            ++damaged;
    }
    while (recordOf.size() < presses.size())
        recordOf << nullptr;

    QString caption = kind == Firmware ? QStringLiteral("the firmware request")
                                       : QString(KindNames[kind]);
    static const QHash<int, QString> Captions = {{Measurement, "ReadResult"}, {Address, "GetModbusAddr"},
        {Clean, "AutoCleanSet"}, {HeatMode, "GetCurrentSetting"}, {WorkMode, "QueryWorkMode"}, {SelfTest, "QuerySelfTest"},
        {Global, "QueryGlobalSet"}, {TempHumi, "QueryInnerTH"}, {TempThresholds, "Temp"}, {HumiThresholds, "Humi"},
        {Calibration, "Calibration"}, {Factors, "QueryAllSelfTest"}, {TransRead, "TransRead"}, {Identity, "GetDeviceInfo"}};
    caption = Captions.value(kind, caption);
    const int unanswered = log.filter(QRegularExpression(QStringLiteral("^No answer to %1 within ")
                                                             .arg(QRegularExpression::escape(caption)))).size();
    const int answered = presses.size() - unanswered;

    QStringList mismatches;
    if (kind == Measurement) {
        // Each line shown must be the line of one of the replies sent, with the unit of its press.
        QStringList possible;
        for (int k = 0; k < presses.size(); ++k)
            possible << expected(kind, presses.at(k), recordOf.at(k)).first().second;
        const QStringList shown = log.filter(QRegularExpression(QStringLiteral("^(All )?Sensor")));
        for (const QString &line : shown) {
            if (!possible.contains(line))
                mismatches << QStringLiteral("measurement line \"%1\" is none of \"%2\"").arg(line, possible.join("\", \""));
        }
        if (shown.size() != answered)
            mismatches << QStringLiteral("%1 measurement lines for %2 answers").arg(shown.size()).arg(answered);
    } else if (answered > 0) {
        // Every answer of the same query shows the same truth; drifting values may match any reply.
        for (int k = 0; k < presses.size(); ++k) {
            QStringList wrong;
            for (const auto &e : expected(kind, presses.at(k), recordOf.at(k))) {
                if (value(e.first).trimmed() != e.second)
                    wrong << QStringLiteral("%1 shows \"%2\", expected \"%3\"").arg(e.first, value(e.first), e.second);
            }
            if (wrong.isEmpty()) {
                mismatches.clear();
                break;
            }
            mismatches << wrong;
        }
    }

    if (!mismatches.isEmpty()) {
        tally[kind][Wrong] += qMax(answered, 1);
        qWarning("WRONG %s, seed %u, at %s: %s; the log pane shows: %s", KindNames[kind], seed,
                 qPrintable(QTime::currentTime().toString("hh:mm:ss.zzz")), qPrintable(mismatches.join("; ")),
                 qPrintable(log.join(" | ")));
    } else {
        tally[kind][Correct] += answered;
    }
    tally[kind][NoAnswer] += unanswered;
    if (damaged > unanswered) {
        tally[kind][Unaccounted] += damaged - unanswered;
        qWarning("UNACCOUNTED %s, seed %u: %d replies dropped or damaged, %d \"No answer\" lines; the log pane shows: %s",
                 KindNames[kind], seed, damaged, unanswered, qPrintable(log.join(" | ")));
    }
    for (const SimRecord *r : recordOf) {
        if (r && (r->dropped || r->lostOnLine))
            ++details[ReplyDropped];
        else if (r && r->flippedByte >= 0)
            ++details[ReplyDamaged];
    }
    details[ReplyIntact] += qMax(0, unanswered - damaged);
}

// One window+simulator pair; writes its counts for the parent and fails on its own findings too.
void SoakTest::runWorker()
{
    seed = quint32(envInt("ZELVIK_SOAK_SEED", 1));
    random.seed(seed);
    const int cycles = envInt("ZELVIK_SOAK_CYCLES", 100);
    const QString logDir = qEnvironmentVariable("ZELVIK_SOAK_LOGDIR", QStringLiteral("."));
    simLog.setFileName(QStringLiteral("%1/sim-%2.log").arg(logDir).arg(seed));
    QVERIFY(simLog.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered));
    startSimulator();
    if (QTest::currentTestFailed())
        return;
    setUp();
    if (QTest::currentTestFailed())
        return;

    const qint64 simPid = simulator.processId();
    const QString simStatus = QStringLiteral("/proc/%1/status").arg(simPid);
    const qint64 rssStart = residentKb(), simStart = residentKb(simStatus);
    qint64 rssWarm = rssStart;
    const int warmUp = qMin(cycles / 10, 100);
    // Every query kind once per round, in a new order each round, measurements three times; pressed
    // alone or two or three at once.
    QVector<Kind> round;
    for (int k = 0; k < Firmware; ++k)
        round << Kind(k);
    round << Measurement << Measurement;
    for (int done = 0; done < cycles && !QTest::currentTestFailed();) {
        std::shuffle(round.begin(), round.end(), random);
        for (int i = 0; i < round.size() && done < cycles;) {
            const int size = std::min({std::discrete_distribution<int>({0, 5, 3, 2})(random), int(round.size()) - i, cycles - done});
            if (done <= warmUp && done + size > warmUp)
                rssWarm = residentKb();
            group(round.mid(i, size));
            i += size;
            done += size;
        }
    }
    const qint64 rssEnd = residentKb(), simEnd = residentKb(simStatus);

    press("pushButtonClose");
    closer.reset();
    window.reset();
    simulator.terminate();
    simulator.waitForFinished(5000);
    readSimulatorLog();

    QJsonArray kinds, why;
    int correct = 0, wrong = 0;
    for (int k = 0; k < KindCount; ++k) {
        kinds.append(QJsonArray{tally[k][Correct], tally[k][NoAnswer], tally[k][Wrong], tally[k][Unaccounted]});
        correct += tally[k][Correct];
        wrong += tally[k][Wrong] + tally[k][Unaccounted];
        qInfo("%-18s correct %5d no answer %5d wrong %5d unaccounted %5d", KindNames[k], tally[k][Correct],
              tally[k][NoAnswer], tally[k][Wrong], tally[k][Unaccounted]);
    }
    for (int d : details)
        why.append(d);
    qInfo("resident memory: %lld kB at start, %lld after warm-up, %lld at end; simulator %lld -> %lld kB",
          rssStart, rssWarm, rssEnd, simStart, simEnd);
    const QJsonObject rss{{"start", rssStart}, {"warm", rssWarm}, {"end", rssEnd}, {"simStart", simStart}, {"simEnd", simEnd}};
    QFile result(QStringLiteral("%1/result-%2.json").arg(logDir).arg(seed));
    QVERIFY(result.open(QIODevice::WriteOnly | QIODevice::Truncate));
    result.write(QJsonDocument(QJsonObject{{"seed", qint64(seed)}, {"tally", kinds}, {"details", why}, {"rssKb", rss}}).toJson());
    result.close();
    QCOMPARE(wrong, 0);
    QVERIFY(correct > 0);
}

int main(int argc, char *argv[])
{
    // The long soak runs far past QtTest's five-minute limit for one test function; the parent
    // bounds the time of each pair itself, and ctest the whole run.
    if (!qEnvironmentVariableIsSet("QTEST_FUNCTION_TIMEOUT"))
        qputenv("QTEST_FUNCTION_TIMEOUT", "86400000");
    QApplication application(argc, argv);
    SoakTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_soak.moc"
