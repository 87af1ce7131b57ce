// The real window against the simulated sensor (zelvik-sensor-sim) on a pseudo-terminal: queries
// fill the widgets with the device's values, settings survive a round trip through the device,
// the protocol switches and the baud-rate probe are confirmed, and split or corrupted replies
// never put a wrong value on screen. The simulator's path comes from the environment variable
// ZELVIK_SIM.
#include <QtTest>
#include <QtWidgets>

#include "mainwindow.h"
#include "modalcloser.h"
#include "pendingreplies.h"
#include "windowprobe.h"

#include <memory>

namespace {

constexpr int Answer = 3000; // how long a reply may take to show up in the window, in ms
constexpr int Tick = 300;    // the window's poll period

// The simulator as a child process. It always runs with --verbose: its log of every reply it put
// on the line (and of the faults it applied) is what the tests compare the window against.
class Simulator
{
public:
    struct Reply {
        QByteArray bytes;
        bool corrupted = false;
        bool complete = true; // false while only the first part of a split reply has gone out
    };

    ~Simulator() { stop(); }

    bool start(const QStringList &options)
    {
        const QString program = qEnvironmentVariable("ZELVIK_SIM");
        if (program.isEmpty()) {
            error = QStringLiteral("ZELVIK_SIM is not set to the simulator's path");
            return false;
        }
        QObject::connect(&process, &QProcess::readyReadStandardError,
                         [this] { log += QString::fromLocal8Bit(process.readAllStandardError()); });
        process.start(program, QStringList{QStringLiteral("--verbose")} + options);
        QElapsedTimer clock;
        clock.start();
        while (!process.canReadLine() && process.state() != QProcess::NotRunning && clock.elapsed() < 3000)
            process.waitForReadyRead(100);
        path = QString::fromLocal8Bit(process.readLine()).trimmed();
        if (path.isEmpty())
            error = QStringLiteral("%1 %2 printed no terminal path (%3): %4")
                        .arg(program, options.join(QLatin1Char(' ')), process.errorString(),
                             log + process.readAllStandardError());
        return !path.isEmpty();
    }

    void stop()
    {
        if (process.state() == QProcess::NotRunning)
            return;
        process.terminate();
        if (!process.waitForFinished(3000)) {
            process.kill();
            process.waitForFinished(1000);
        }
    }

    // Every reply written so far, its parts joined, in order.
    QList<Reply> replies() const
    {
        static const QRegularExpression tx(QStringLiteral(" tx ((?:[0-9a-fA-F]{2} )*[0-9a-fA-F]{2})(.*)$"));
        QList<Reply> list;
        const QStringList lines = log.left(log.lastIndexOf(QLatin1Char('\n'))).split(QLatin1Char('\n'));
        for (const QString &line : lines) {
            const QRegularExpressionMatch match = tx.match(line);
            if (!match.hasMatch())
                continue;
            const QByteArray bytes = QByteArray::fromHex(match.captured(1).toLatin1());
            const QString notes = match.captured(2);
            if (notes.contains(QLatin1String("second part")) && !list.isEmpty()) {
                list.last().bytes += bytes;
                list.last().complete = true;
                continue;
            }
            list.append({bytes, notes.contains(QLatin1String("flipped")), !notes.contains(QLatin1String("first part"))});
        }
        return list;
    }
    int completeReplies() const
    {
        const QList<Reply> list = replies();
        return int(std::count_if(list.begin(), list.end(), [](const Reply &r) { return r.complete; }));
    }

    QString path;
    QString error;

private:
    QProcess process;
    QString log;
};

// The text a hex field shows for these bytes: two lower-case digits and one blank per byte.
QString hexText(const QByteArray &bytes)
{
    QString text;
    for (const char byte : bytes)
        text += QString::asprintf("%02x ", quint8(byte));
    return text;
}

} // namespace

class EndToEndTest : public QObject
{
    Q_OBJECT

public:
    // Counts the window's poll ticks.
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (window && watched == window.get() && event->type() == QEvent::Timer
            && static_cast<QTimerEvent *>(event)->timerId() == WindowProbe::pollTimerId(*window))
            ++ticks;
        return false;
    }

private slots:
    void init();
    void cleanup();
    void queries_data();
    void queries();
    void measurement_data();
    void measurement();
    void roundTrips_data();
    void roundTrips();
    void protocolEchoes_data();
    void protocolEchoes();
    void probeFindsDeviceRate();
    void corruptedRepliesNeverShown();

private:
    bool launch(const QStringList &simOptions)
    {
        sim = std::make_unique<Simulator>();
        if (!sim->start(simOptions)) {
            failure = sim->error;
            return false;
        }
        window = std::make_unique<MainWindow>();
        window->installEventFilter(this);
        window->findChild<QComboBox *>(QStringLiteral("comboBoxCOM"))->setEditText(sim->path);
        window->findChild<QAbstractButton *>(QStringLiteral("pushButtonOpen"))->click();
        failure = QStringLiteral("the window did not open %1: %2").arg(sim->path, logLines().join(QLatin1Char('|')));
        return WindowProbe::serial(*window).isOpen();
    }
    // Clicks a button by object name, or invokes a slot named on_... (for the withdrawn tabs).
    // The press comes 100 ms after a poll tick, so the two parts of a split reply (250 ms apart)
    // reach the window in two different ticks.
    bool press(const QString &action)
    {
        const int target = ticks + 1;
        if (WindowProbe::pollTimerId(*window) != -1 && QTest::qWaitFor([&] { return ticks >= target; }, 2 * Tick))
            QTest::qWait(100);
        if (action.startsWith(QLatin1String("on_")))
            return QMetaObject::invokeMethod(window.get(), action.toLatin1().constData());
        auto *button = window->findChild<QAbstractButton *>(action);
        if (button)
            button->click();
        return button != nullptr;
    }
    // "name=value" sets a widget; "~name" presses without waiting; "name" presses and waits until
    // the device's whole reply is out and a poll tick has taken it.
    bool step(const QString &what)
    {
        if (what.contains(QLatin1Char('=')))
            return set(what.section(QLatin1Char('='), 0, 0), what.section(QLatin1Char('='), 1));
        if (what.startsWith(QLatin1Char('~')))
            return press(what.mid(1));
        const int before = sim->completeReplies();
        if (!press(what) || !QTest::qWaitFor([&] { return sim->completeReplies() > before; }, Answer))
            return false;
        QTest::qWait(2 * Tick);
        return true;
    }
    bool set(const QString &name, const QString &value)
    {
        QObject *object = window->findChild<QObject *>(name);
        if (auto *edit = qobject_cast<QLineEdit *>(object)) {
            edit->setText(value);
        } else if (auto *combo = qobject_cast<QComboBox *>(object)) {
            const int index = combo->findText(value);
            if (index < 0)
                return false;
            combo->setCurrentIndex(index);
        } else if (auto *button = qobject_cast<QAbstractButton *>(object)) {
            button->setChecked(value == QLatin1String("1"));
        } else {
            return false;
        }
        return true;
    }
    // The current "name=value" of each widget named in expected (check boxes and radio buttons as 1/0).
    QStringList values(const QStringList &expected) const
    {
        QStringList actual;
        for (const QString &entry : expected) {
            const QString name = entry.section(QLatin1Char('='), 0, 0);
            QObject *object = window->findChild<QObject *>(name);
            QString value = QStringLiteral("<no widget>");
            if (auto *edit = qobject_cast<QLineEdit *>(object))
                value = edit->text();
            else if (auto *label = qobject_cast<QLabel *>(object))
                value = label->text();
            else if (auto *button = qobject_cast<QAbstractButton *>(object))
                value = button->isChecked() ? QStringLiteral("1") : QStringLiteral("0");
            actual << name + QLatin1Char('=') + value;
        }
        return actual;
    }
    QStringList logLines() const
    {
        const QString text = window->findChild<QTextEdit *>(QStringLiteral("textEditPM"))->toPlainText();
        return text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

    std::unique_ptr<Simulator> sim;
    std::unique_ptr<MainWindow> window;
    std::unique_ptr<ModalCloser> closer;
    QString failure;
    int ticks = 0;
};

void EndToEndTest::init()
{
    pendingReplies = PendingReplies{};
    closer = std::make_unique<ModalCloser>(50);
}

void EndToEndTest::cleanup()
{
    window.reset(); // closes the port before the device goes away
    sim.reset();
    closer.reset();
}

void EndToEndTest::queries_data()
{
    QTest::addColumn<QStringList>("simOptions");
    QTest::addColumn<QStringList>("steps");    // see step()
    QTest::addColumn<QString>("query");        // pressed once, not waited for
    QTest::addColumn<QStringList>("expected"); // "name=value"

    struct Row {
        const char *name;
        QStringList options, steps;
        QString query;
        QStringList expected;
    };
    // Values not set by an option are the simulated device's factory settings.
    const QList<Row> rows = {
        {"identity", {}, {}, "pushButton_GetInfo", {"Edit_DeviceID=1234-abcd", "label_softid=1-3--2"}},
        {"address", {"--address", "0x0A"}, {}, "pushButton_GetDeviceAddr", {"lineEdit_DeviceAddr=a"}},
        {"work mode", {}, {}, "pushButton_GetWorkMode",
         {"radioButton_Autoall=1", "radioButton_Autosingle=0", "radioButton_Manualset=0", "checkBox_No1=0",
          "checkBox_No2=0", "checkBox_No3=0", "checkBox_No4=0"}},
        {"heat mode", {}, {}, "pushButton_GetHeatMode", {"radioButton_AutoHeat=1", "radioButton_ManualHeat=0"}},
        {"self test", {"--self-test", "0x5"}, {}, "pushButton_GetSelfCheck",
         {"checkBox_Selfcheck1=0", "checkBox_Selfcheck2=1", "checkBox_Selfcheck3=0", "checkBox_Selfcheck4=1"}},
        {"global switches", {}, {}, "pushButton_GetGlobalOnOff",
         {"checkBox_Global1=1", "checkBox_Global2=1", "checkBox_Global3=1", "checkBox_Global4=1"}},
        {"temperature and humidity", {"--temp", "-5", "--humidity", "61"}, {}, "pushButton_GetTempHumi",
         {"lineEdit_Temp=-5", "lineEdit_Humi=61"}},
        {"heat temperature thresholds", {}, {"comboBox_HeatTemp=Query"}, "pushButton_HeatTemp",
         {"lineEdit_HeatTempHigh=5", "lineEdit_HeatTempLow=-10"}},
        {"heat humidity thresholds", {}, {"comboBox_HeatHumi=Query"}, "pushButton_HeatHumi",
         {"lineEdit_HeatHumiHigh=90", "lineEdit_HeatHumiLow=70"}},
        {"cleaning", {}, {"comboBoxAutoCleanDust=Query"}, "pushButton_AutoCleanDust",
         {"lineEdit_AutoCleanTime=10", "lineEdit_AutoCleanDustJianGe=24"}},
        {"calibration", {}, {"comboBox_Calibrate=Query", "comboBox_CalibrateObject=No.3", "comboBox_CalibrateRange=PM10"},
         "pushButton_Calibrate", {"lineEdit_CalibrZero=0", "lineEdit_CalibrateFactor=100"}},
        // Units 1 and 3 passed their self test (factor near 100), 2 and 4 failed (38, suspected 62).
        {"factors", {"--self-test", "0x5"}, {}, "on_pushButton_GetFactor_clicked",
         {"lineEdit_1Factor=100", "lineEdit_2Factor=38", "lineEdit_3Factor=102", "lineEdit_4Factor=38",
          "lineEdit_1Factor_2=0", "lineEdit_2Factor_2=62", "lineEdit_3Factor_2=0", "lineEdit_4Factor_2=62"}},
        // The unit answers the "Sleep" frame written to its channel with the frame itself; the
        // read returns it padded with zeros to 19 registers.
        {"transparent read", {}, {"comboBoxTransObject=2", "comboBoxCommonCMD=Sleep", "on_pushButton_TransSend_clicked"},
         "on_pushButton_TransRead_clicked",
         {"lineEdit_TransRead=" + hexText(QByteArray::fromHex("AAB40601") + QByteArray(11, '\0')
                                          + QByteArray::fromHex("FFFF05AB") + QByteArray(19, '\0'))}},
    };
    for (const Row &row : rows) {
        QTest::newRow(row.name) << row.options << row.steps << row.query << row.expected;
        QTest::addRow("%s, split", row.name) << row.options + QStringList{"--split", "--seed", "11"} << row.steps
                                             << row.query << row.expected;
    }
}

void EndToEndTest::queries()
{
    QFETCH(QStringList, simOptions);
    QFETCH(QStringList, steps);
    QFETCH(QString, query);
    QFETCH(QStringList, expected);
    QVERIFY2(launch(simOptions), qPrintable(failure));
    for (const QString &what : steps)
        QVERIFY2(step(what), qPrintable(what));
    QVERIFY(press(query));
    QTRY_COMPARE_WITH_TIMEOUT(values(expected), expected, Answer);
}

void EndToEndTest::measurement_data()
{
    QTest::addColumn<QStringList>("simOptions");
    QTest::addColumn<QString>("object");
    QTest::addColumn<QString>("prefix");
    QTest::newRow("average") << QStringList() << "Avg" << "All Sensor: PM2.5 = ";
    QTest::newRow("unit 3") << QStringList() << "3" << "Sensor 3:  PM2.5 = ";
    QTest::newRow("average, split") << QStringList{"--split"} << "Avg" << "All Sensor: PM2.5 = ";
}

void EndToEndTest::measurement()
{
    QFETCH(QStringList, simOptions);
    QFETCH(QString, object);
    QFETCH(QString, prefix);
    QVERIFY2(launch(simOptions), qPrintable(failure));
    QVERIFY(set(QStringLiteral("comboBoxSendObject"), object));
    QVERIFY(press(QStringLiteral("pushButton_GetSensorData")));

    QString line;
    QTRY_VERIFY_WITH_TIMEOUT(!(line = logLines().filter(QRegularExpression("^(All )?Sensor")).value(0)).isEmpty(), Answer);
    QVERIFY2(line.startsWith(prefix), qPrintable(line));

    // Plausible numbers: PM2.5 is part of PM10.
    static const QRegularExpression numbers(QStringLiteral("PM2\\.5 = ([0-9.]+)  PM10 = ([0-9.]+)  PM100 = ([0-9]+)$"));
    const QRegularExpressionMatch match = numbers.match(line);
    QVERIFY2(match.hasMatch(), qPrintable(line));
    const double pm25 = match.captured(1).toDouble(), pm10 = match.captured(2).toDouble();
    QVERIFY2(pm25 > 0 && pm25 <= pm10 && match.captured(3).toInt() > 0, qPrintable(line));

    // The very values the device sent: registers in tenths (PM2.5, PM10) and whole units (PM100).
    QTRY_VERIFY_WITH_TIMEOUT(sim->completeReplies() == 1, Answer);
    const QByteArray reply = sim->replies().first().bytes;
    QCOMPARE(reply.left(3), QByteArray::fromHex("010308"));
    auto reg = [&reply](int r) { return quint8(reply.at(3 + 2 * r)) * 256 + quint8(reply.at(4 + 2 * r)); };
    QCOMPARE(line, prefix + QString::asprintf("%g  PM10 = %g  PM100 = %d", reg(0) / 10.0, reg(1) / 10.0, reg(2)));
}

void EndToEndTest::roundTrips_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QString>("query");
    QTest::addColumn<QStringList>("expected");

    // The tool sends every request to address 0, so it still reaches the device after the change.
    QTest::newRow("address") << QStringList{"lineEdit_DeviceAddr=a", "pushButton_SetDeviceAddr"}
                             << "pushButton_GetDeviceAddr" << QStringList{"lineEdit_DeviceAddr=a"};
    // The device answers only at its own rate: the query works only if the device really moved.
    QTest::newRow("baud rate") << QStringList{"comboBox_SetBoudRate=19200", "pushButton_SetBaudrate", "~pushButtonClose",
                                              "comboBox_BoudRate=19200", "~pushButtonOpen"}
                               << "pushButton_GetDeviceAddr" << QStringList{"lineEdit_DeviceAddr=1"};
    QTest::newRow("heat temperature thresholds")
        << QStringList{"comboBox_HeatTemp=Set", "lineEdit_HeatTempHigh=40", "lineEdit_HeatTempLow=-10",
                       "pushButton_HeatTemp", "comboBox_HeatTemp=Query"}
        << "pushButton_HeatTemp" << QStringList{"lineEdit_HeatTempHigh=40", "lineEdit_HeatTempLow=-10"};
    QTest::newRow("heat humidity thresholds")
        << QStringList{"comboBox_HeatHumi=Set", "lineEdit_HeatHumiHigh=80", "lineEdit_HeatHumiLow=30",
                       "pushButton_HeatHumi", "comboBox_HeatHumi=Query"}
        << "pushButton_HeatHumi" << QStringList{"lineEdit_HeatHumiHigh=80", "lineEdit_HeatHumiLow=30"};
    QTest::newRow("heat mode") << QStringList{"radioButton_StartHeat=1", "pushButton_ManualHeat"} << "pushButton_GetHeatMode"
                               << QStringList{"radioButton_AutoHeat=0", "radioButton_ManualHeat=1"};
    QTest::newRow("calibration, No.2 PM100")
        << QStringList{"comboBox_Calibrate=Set", "comboBox_CalibrateObject=No.2", "comboBox_CalibrateRange=PM100",
                       "lineEdit_CalibrZero=-20", "lineEdit_CalibrateFactor=100", "pushButton_Calibrate",
                       "comboBox_Calibrate=Query"}
        << "pushButton_Calibrate" << QStringList{"lineEdit_CalibrZero=-20", "lineEdit_CalibrateFactor=100"};
    QTest::newRow("calibration, Avg PM2.5")
        << QStringList{"comboBox_Calibrate=Set", "lineEdit_CalibrZero=5", "lineEdit_CalibrateFactor=50",
                       "pushButton_Calibrate", "comboBox_Calibrate=Query"}
        << "pushButton_Calibrate" << QStringList{"lineEdit_CalibrZero=5", "lineEdit_CalibrateFactor=50"};
    QTest::newRow("selected units")
        << QStringList{"checkBox_No2=1", "checkBox_No4=1", "pushButton_ManualSet"} << "pushButton_GetWorkMode"
        << QStringList{"radioButton_Autoall=0", "radioButton_Autosingle=0", "radioButton_Manualset=1",
                       "checkBox_No1=0", "checkBox_No2=1", "checkBox_No3=0", "checkBox_No4=1"};
    QTest::newRow("single unit") << QStringList{"pushButton_AutoSingle"} << "pushButton_GetWorkMode"
                                 << QStringList{"radioButton_Autoall=0", "radioButton_Autosingle=1", "radioButton_Manualset=0"};
    QTest::newRow("global switches")
        << QStringList{"checkBox_Global1=1", "checkBox_Global3=1", "pushButton_SetGlobalOnOff"}
        << "pushButton_GetGlobalOnOff"
        << QStringList{"checkBox_Global1=1", "checkBox_Global2=0", "checkBox_Global3=1", "checkBox_Global4=0"};
    QTest::newRow("cleaning")
        << QStringList{"comboBoxAutoCleanDust=Set", "lineEdit_AutoCleanTime=30", "lineEdit_AutoCleanDustJianGe=12",
                       "pushButton_AutoCleanDust", "comboBoxAutoCleanDust=Query"}
        << "pushButton_AutoCleanDust" << QStringList{"lineEdit_AutoCleanTime=30", "lineEdit_AutoCleanDustJianGe=12"};
    QTest::newRow("factory reset")
        << QStringList{"comboBox_HeatTemp=Set", "lineEdit_HeatTempHigh=40", "lineEdit_HeatTempLow=-20",
                       "pushButton_HeatTemp", "pushButton_SetFactoryConfig", "comboBox_HeatTemp=Query"}
        << "pushButton_HeatTemp" << QStringList{"lineEdit_HeatTempHigh=5", "lineEdit_HeatTempLow=-10"};
}

void EndToEndTest::roundTrips()
{
    QFETCH(QStringList, steps);
    QFETCH(QString, query);
    QFETCH(QStringList, expected);
    QVERIFY2(launch({}), qPrintable(failure));
    for (const QString &what : steps)
        QVERIFY2(step(what), qPrintable(what));
    QVERIFY(press(query));
    QTRY_COMPARE_WITH_TIMEOUT(values(expected), expected, Answer);
}

void EndToEndTest::protocolEchoes_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("message");
    QTest::newRow("native") << "pushButton_ChangeToModbus_2" << "Device change to Kelvra!";
    QTest::newRow("modbus") << "pushButton_ChangeToModbus" << "Device change to MODBUS!";
    QTest::newRow("factory") << "pushButton_SetFactoryConfig" << "Device change to FactoryConfig!";
}

void EndToEndTest::protocolEchoes()
{
    QFETCH(QString, button);
    QFETCH(QString, message);
    QVERIFY2(launch({}), qPrintable(failure));
    QVERIFY(press(button));
    QTRY_COMPARE_WITH_TIMEOUT(closer->count(), 1, Answer);
    QCOMPARE(closer->boxes().first().title, QStringLiteral("Information"));
    QCOMPARE(closer->boxes().first().text, message);
    QTRY_COMPARE_WITH_TIMEOUT(logLines().value(logLines().size() - 1), message, Answer);
    QCOMPARE(logLines().count(message), 1);
}

void EndToEndTest::probeFindsDeviceRate()
{
    QVERIFY2(launch({"--baud", "4800"}), qPrintable(failure));
    QSerialPort &port = WindowProbe::serial(*window);
    QCOMPARE(port.baudRate(), 9600);
    pendingReplies.baudScanTicks = 0; // the rate steps at ticks 1 (9600), 4 (4800), 7 (2400)
    QVERIFY(press(QStringLiteral("pushButton_GetBaudrate")));
    QTRY_COMPARE_WITH_TIMEOUT(closer->count(), 1, 4 * Answer);
    QCOMPARE(closer->boxes().first().text, QStringLiteral("Baudrate is 4800 !"));
    QTRY_COMPARE_WITH_TIMEOUT(int(pendingReplies.pendingBaudrate), 0, Answer);
    QCOMPARE(port.baudRate(), 4800);

    QTest::qWait(4 * Tick); // later ticks leave the rate that answered alone
    QCOMPARE(port.baudRate(), 4800);
    QCOMPARE(closer->count(), 1);
    QVERIFY(press(QStringLiteral("pushButton_GetDeviceAddr")));
    QTRY_COMPARE_WITH_TIMEOUT(values({"lineEdit_DeviceAddr="}), QStringList{"lineEdit_DeviceAddr=1"}, Answer);
}

void EndToEndTest::corruptedRepliesNeverShown()
{
    QVERIFY2(launch({"--corrupt-rate", "0.2", "--seed", "7", "--temp", "-5", "--humidity", "61"}), qPrintable(failure));
    for (const char *what : {"comboBox_HeatTemp=Set", "lineEdit_HeatTempHigh=40", "lineEdit_HeatTempLow=-10",
                             "pushButton_HeatTemp", "comboBox_HeatTemp=Query", "comboBox_Calibrate=Set",
                             "lineEdit_CalibrZero=7", "lineEdit_CalibrateFactor=90", "pushButton_Calibrate",
                             "comboBox_Calibrate=Query"})
        QVERIFY2(step(QLatin1String(what)), what);

    const QList<QPair<QString, QStringList>> queries = {
        {"pushButton_GetTempHumi", {"lineEdit_Temp=-5", "lineEdit_Humi=61"}},
        {"pushButton_GetDeviceAddr", {"lineEdit_DeviceAddr=1"}},
        {"pushButton_HeatTemp", {"lineEdit_HeatTempHigh=40", "lineEdit_HeatTempLow=-10"}},
        {"pushButton_Calibrate", {"lineEdit_CalibrZero=7", "lineEdit_CalibrateFactor=90"}},
    };
    // Every text these fields ever show, to catch a wrong value even if it is replaced at once.
    QStringList allowed, shown;
    for (const auto &query : queries) {
        for (const QString &entry : query.second) {
            allowed << entry;
            const QString name = entry.section(QLatin1Char('='), 0, 0);
            connect(window->findChild<QLineEdit *>(name), &QLineEdit::textChanged, this, [&shown, name](const QString &text) {
                if (!text.isEmpty())
                    shown << name + QLatin1Char('=') + text;
            });
        }
    }

    const int presses = 40;
    int fills = 0, refused = 0, lost = 0, corrupted = 0;
    for (int i = 0; i < presses; ++i) {
        const auto &query = queries.at(i % queries.size());
        // A refused or lost answer leaves its flag raised, and the decoder serves every raised flag
        // from the next read reply of any kind. One query at a time from a clean record keeps each
        // fill tied to the answer of its own query.
        pendingReplies = PendingReplies{};
        const int repliesBefore = sim->completeReplies();
        const int linesBefore = logLines().size();
        QVERIFY(press(query.first));
        QTRY_VERIFY_WITH_TIMEOUT(sim->completeReplies() > repliesBefore, Answer);
        if (!sim->replies().at(repliesBefore).corrupted) {
            QTRY_COMPARE_WITH_TIMEOUT(values(query.second), query.second, Answer);
            ++fills;
            continue;
        }
        ++corrupted;
        QTest::qWait(3 * Tick); // long enough for a kept start to be joined or dropped
        QStringList empty;
        for (const QString &entry : query.second)
            empty << entry.section(QLatin1Char('='), 0, 0) + QLatin1Char('=');
        QCOMPARE(values(query.second), empty);
        const QStringList news = logLines().mid(linesBefore);
        const bool noted = !news.filter(QStringLiteral("CRC")).isEmpty()
            || !news.filter(QStringLiteral("Incomplete reply dropped")).isEmpty();
        ++(noted ? refused : lost);
    }

    for (const QString &entry : shown)
        QVERIFY2(allowed.contains(entry), qPrintable(QStringLiteral("wrong value shown: ") + entry));
    QVERIFY2(corrupted > 0, "the seed gave no corrupted reply; the test proves nothing");
    QCOMPARE(fills, presses - corrupted);
    QCOMPARE(fills + refused + lost, presses);
    QVERIFY(refused > 0);
    QVERIFY(!logLines().filter(QStringLiteral("CRC")).isEmpty());
    qInfo("%d presses: %d filled, %d corrupted (%d refused in the log, %d dropped silently)", presses, fills,
          corrupted, refused, lost);
}

QTEST_MAIN(EndToEndTest)
#include "tst_endtoend.moc"
