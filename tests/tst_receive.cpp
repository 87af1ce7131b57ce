// The poll tick seen from the device's end of a pseudo-terminal: replies written to the line fill
// the real window's widgets, log pane and boxes, and the requests the window writes arrive whole.
#include <QtTest>
#include <QtWidgets>

#include "mainwindow.h"
#include "modalcloser.h"
#include "pendingreplies.h"
#include "ptypair.h"
#include "windowprobe.h"

#include <memory>

namespace {

constexpr int Wait = 2000;

// Bytes are written as hex text; blanks between the pairs are skipped by fromHex.
QByteArray hex(const char *text) { return QByteArray::fromHex(QByteArray(text)); }

// CRC-16/MODBUS written out here, so that expected frames never come from the code under test.
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

QByteArray withCrc(const QByteArray &bytes)
{
    const quint16 crc = crc16(bytes);
    return bytes + char(crc & 0xFF) + char(crc >> 8);
}

// A read reply from device address 0x01 carrying these data bytes.
QByteArray readReply(const QByteArray &data)
{
    return withCrc(hex("01 03") + char(data.size()) + data);
}
QByteArray readReply(const char *data) { return readReply(hex(data)); }

// A 19-byte native reply with the given bytes at the given frame offset and a proper checksum.
QByteArray nativeReply(quint8 id, int offset, const char *data)
{
    QByteArray frame(19, '\0');
    frame[0] = char(0xAA);
    frame[1] = char(id);
    const QByteArray bytes = hex(data);
    for (int i = 0; i < bytes.size(); ++i)
        frame[offset + i] = bytes.at(i);
    quint8 sum = 0;
    for (int i = 2; i <= 16; ++i)
        sum = quint8(sum + quint8(frame.at(i)));
    frame[17] = char(sum);
    frame[18] = char(0xAB);
    return frame;
}

// A log line as the log pane shows received bytes (compared without the trailing blank).
QString hexLine(const QByteArray &bytes) { return QString::fromLatin1(bytes.toHex(' ')); }

const QByteArray ProbeRequest = hex("00 03 00 00 00 01 85 DB");
const QByteArray FirmwareRequest = hex("AA B5 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 AB");
const QByteArray DeviceInfoRequest = hex("AA A6 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 AB");

int raisedFlags()
{
    const PendingReplies &p = pendingReplies;
    return p.pendingSensorData + p.pendingCleanSetting + p.pendingHeatMode + p.pendingWorkMode
        + p.pendingModbusAddr + p.pendingSelfCheck + p.pendingGlobalSet + p.pendingTempHumi
        + p.pendingHeatTempThreshold + p.pendingHeatHumiThreshold + p.pendingCalibration
        + p.pendingTransRead + p.pendingFactor;
}

} // namespace

class ReceiveTest : public QObject
{
    Q_OBJECT

public:
    // Counts the window's poll ticks and notes when the latest one started.
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == window.get() && event->type() == QEvent::Timer
            && static_cast<QTimerEvent *>(event)->timerId() == WindowProbe::pollTimerId(*window)) {
            ++ticks;
            lastTickAt = clock.elapsed();
        }
        return false;
    }

private slots:
    void init();
    void cleanup();
    void fillsWidgets_data();
    void fillsWidgets();
    void logsFromFourBytes_data();
    void logsFromFourBytes();
    void writeEchoes_data();
    void writeEchoes();
    void nativeReplies_data();
    void nativeReplies();
    void probeWalksDownWithoutAnswer();
    void probeStopsWhereAnswered();
    void refusesBadCrc_data();
    void refusesBadCrc();
    void splitReplies_data();
    void splitReplies();
    void exceptionReplies_data();
    void exceptionReplies();
    void keepsCommandsWrittenBeforeTick();
    void ignoresOtherTimers();

private:
    bool waitTicks(int count)
    {
        const int target = ticks + count;
        return QTest::qWaitFor([&] { return ticks >= target; }, 400 * count + 600);
    }
    // Writes right after a tick, so the bytes are all in the port well before the next one.
    bool sendOnNextTick(const QByteArray &bytes) { return waitTicks(1) && pair->write(bytes); }
    // Presses a button by object name, or invokes a slot named on_..., and returns its request.
    QByteArray press(const QString &trigger, int requestSize = 8)
    {
        if (trigger.startsWith(QLatin1String("on_"))) {
            if (!QMetaObject::invokeMethod(window.get(), trigger.toLatin1().constData()))
                return QByteArray();
        } else if (auto *button = window->findChild<QAbstractButton *>(trigger)) {
            button->click();
        } else {
            return QByteArray();
        }
        return pair->read(requestSize, Wait);
    }
    QStringList logLines() const
    {
        QStringList lines;
        const QString text = window->findChild<QTextEdit *>(QStringLiteral("textEditPM"))->toPlainText();
        for (const QString &line : text.split(QLatin1Char('\n'))) {
            if (!line.trimmed().isEmpty())
                lines << line.trimmed();
        }
        return lines;
    }
    // A line edit's or label's text, or "1"/"0" for a check box or radio button.
    QString valueOf(const QString &name) const
    {
        QObject *object = window->findChild<QObject *>(name);
        if (auto *edit = qobject_cast<QLineEdit *>(object))
            return edit->text();
        if (auto *label = qobject_cast<QLabel *>(object))
            return label->text();
        if (auto *button = qobject_cast<QAbstractButton *>(object))
            return button->isChecked() ? QStringLiteral("1") : QStringLiteral("0");
        return QStringLiteral("<no widget %1>").arg(name);
    }

    std::unique_ptr<PtyPair> pair;
    std::unique_ptr<MainWindow> window;
    std::unique_ptr<ModalCloser> closer;
    QElapsedTimer clock;
    int ticks = 0;
    qint64 lastTickAt = 0;
    qint64 decodedAtTick = -1;
};

void ReceiveTest::init()
{
    pendingReplies = PendingReplies{};
    clock.start();
    ticks = 0;
    decodedAtTick = -1;
    pair = std::make_unique<PtyPair>();
    QVERIFY(pair->isValid());
    window = std::make_unique<MainWindow>();
    window->installEventFilter(this);
    closer = std::make_unique<ModalCloser>(50);

    for (const char *queryMode : {"comboBoxAutoCleanDust", "comboBox_HeatTemp", "comboBox_HeatHumi", "comboBox_Calibrate"})
        window->findChild<QComboBox *>(QLatin1String(queryMode))->setCurrentIndex(0);
    auto *ports = window->findChild<QComboBox *>(QStringLiteral("comboBoxCOM"));
    ports->addItem(pair->slavePath());
    ports->setCurrentIndex(ports->count() - 1);
    window->findChild<QAbstractButton *>(QStringLiteral("pushButtonOpen"))->click();
    QVERIFY(WindowProbe::serial(*window).isOpen());
    QVERIFY(WindowProbe::pollTimerId(*window) != -1);
}

void ReceiveTest::cleanup()
{
    closer.reset();
    window.reset();
    pair.reset();
}

void ReceiveTest::fillsWidgets_data()
{
    QTest::addColumn<QString>("trigger");
    QTest::addColumn<int>("sendObject");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QStringList>("widgets"); // "objectName=value"
    QTest::addColumn<QStringList>("lines");   // log lines after the hexadecimal one

    const QByteArray measurement = hex("01 03 08 00 7B 01 C8 03 15 00 00 AF 51");
    QTest::newRow("measurement, average") << "pushButton_GetSensorData" << 0 << measurement << QStringList()
        << QStringList{"All Sensor: PM2.5 = 12.3  PM10 = 45.6  PM100 = 789"};
    QTest::newRow("measurement, unit 2") << "pushButton_GetSensorData" << 2 << measurement << QStringList()
        << QStringList{"Sensor 2:  PM2.5 = 12.3  PM10 = 45.6  PM100 = 789"};
    QTest::newRow("measurement, extremes") << "pushButton_GetSensorData" << 0 << readReply("FF FF 00 0A 00 00 00 00")
        << QStringList() << QStringList{"All Sensor: PM2.5 = 6553.5  PM10 = 1  PM100 = 0"};
    QTest::newRow("address") << "pushButton_GetDeviceAddr" << 0 << readReply("00 0A")
        << QStringList{"lineEdit_DeviceAddr=a"} << QStringList();
    QTest::newRow("clean setting") << "pushButton_AutoCleanDust" << 0 << readReply("1E 3C")
        << QStringList{"lineEdit_AutoCleanTime=30", "lineEdit_AutoCleanDustJianGe=60"} << QStringList();
    QTest::newRow("heat mode auto") << "pushButton_GetHeatMode" << 0 << readReply("01 00")
        << QStringList{"radioButton_AutoHeat=1", "radioButton_ManualHeat=0"} << QStringList();
    QTest::newRow("heat mode manual") << "pushButton_GetHeatMode" << 0 << readReply("00 00")
        << QStringList{"radioButton_AutoHeat=0", "radioButton_ManualHeat=1"} << QStringList();
    QTest::newRow("work mode") << "pushButton_GetWorkMode" << 0 << readReply("01 05")
        << QStringList{"radioButton_Autoall=1", "radioButton_Autosingle=0", "radioButton_Manualset=0",
                       "checkBox_No1=1", "checkBox_No2=0", "checkBox_No3=1", "checkBox_No4=0"}
        << QStringList();
    QTest::newRow("self test") << "pushButton_GetSelfCheck" << 0 << readReply("00 0E")
        << QStringList{"checkBox_Selfcheck1=1", "checkBox_Selfcheck2=0", "checkBox_Selfcheck3=0", "checkBox_Selfcheck4=0"}
        << QStringList();
    QTest::newRow("global") << "pushButton_GetGlobalOnOff" << 0 << readReply("00 0A")
        << QStringList{"checkBox_Global1=0", "checkBox_Global2=1", "checkBox_Global3=0", "checkBox_Global4=1"}
        << QStringList();
    QTest::newRow("temperature and humidity") << "pushButton_GetTempHumi" << 0 << readReply("F6 F6")
        << QStringList{"lineEdit_Temp=-10", "lineEdit_Humi=246"} << QStringList();
    QTest::newRow("heat temperature thresholds") << "pushButton_HeatTemp" << 0 << readReply("F6 05")
        << QStringList{"lineEdit_HeatTempHigh=-10", "lineEdit_HeatTempLow=5"} << QStringList();
    QTest::newRow("heat humidity thresholds") << "pushButton_HeatHumi" << 0 << readReply("50 1E")
        << QStringList{"lineEdit_HeatHumiHigh=80", "lineEdit_HeatHumiLow=30"} << QStringList();
    QTest::newRow("calibration") << "pushButton_Calibrate" << 0 << readReply("00 05 00 64")
        << QStringList{"lineEdit_CalibrZero=-5", "lineEdit_CalibrateFactor=100"} << QStringList();
    QTest::newRow("transparent read") << "on_pushButton_TransRead_clicked" << 0 << readReply("AA B5 00 01 02 AB")
        << QStringList{"lineEdit_TransRead=aa b5 00 01 02 ab "} << QStringList();
    QTest::newRow("factors") << "on_pushButton_GetFactor_clicked" << 0 << readReply("01 02 03 04 0A 14 1E FF")
        << QStringList{"lineEdit_1Factor=1", "lineEdit_2Factor=2", "lineEdit_3Factor=3", "lineEdit_4Factor=4",
                       "lineEdit_1Factor_2=10", "lineEdit_2Factor_2=20", "lineEdit_3Factor_2=30", "lineEdit_4Factor_2=255"}
        << QStringList();

    // More than 60 bytes in one tick.
    QByteArray counting;
    for (int i = 0; i < 128; ++i)
        counting += char(i);
    QTest::newRow("transparent read of 133 bytes") << "on_pushButton_TransRead_clicked" << 0 << readReply(counting)
        << QStringList{"lineEdit_TransRead=" + hexLine(counting) + ' '} << QStringList();
    QTest::newRow("reply followed by 70 stray bytes") << "pushButton_GetTempHumi" << 0
        << readReply("F6 F6") + QByteArray(70, '\x55')
        << QStringList{"lineEdit_Temp=-10", "lineEdit_Humi=246"} << QStringList();
}

void ReceiveTest::fillsWidgets()
{
    QFETCH(QString, trigger);
    QFETCH(int, sendObject);
    QFETCH(QByteArray, reply);
    QFETCH(QStringList, widgets);
    QFETCH(QStringList, lines);

    window->findChild<QComboBox *>(QStringLiteral("comboBoxSendObject"))->setCurrentIndex(sendObject);
    const QByteArray request = press(trigger);
    QCOMPARE(request.size(), 8);
    QCOMPARE(quint8(request.at(1)), quint8(0x03));
    QCOMPARE(raisedFlags(), 1);

    QVERIFY(sendOnNextTick(reply));
    for (const QString &expectation : widgets) {
        const QString name = expectation.section(QLatin1Char('='), 0, 0);
        QTRY_COMPARE_WITH_TIMEOUT(valueOf(name), expectation.section(QLatin1Char('='), 1), Wait);
    }
    QTRY_COMPARE_WITH_TIMEOUT(logLines(), QStringList{hexLine(reply)} + lines, Wait);
    QCOMPARE(raisedFlags(), 0);
}

void ReceiveTest::logsFromFourBytes_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("three bytes") << hex("12 34 56") << QStringList();
    QTest::newRow("four bytes") << hex("12 34 56 78") << QStringList{"12 34 56 78"};
}

void ReceiveTest::logsFromFourBytes()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, lines);
    QVERIFY(sendOnNextTick(bytes));
    QVERIFY(waitTicks(2));
    QCOMPARE(logLines(), lines);
}

void ReceiveTest::writeEchoes_data()
{
    QTest::addColumn<QByteArray>("echo");
    QTest::addColumn<QString>("message");
    QTest::newRow("modbus") << hex("00 06 00 B1 00 03 98 3D") << "Device change to MODBUS!";
    QTest::newRow("native") << hex("00 06 00 B1 00 00 D8 3C") << "Device change to Kelvra!";
    QTest::newRow("factory") << hex("00 06 00 A5 00 01 59 F8") << "Device change to FactoryConfig!";
    QTest::newRow("from address 1") << hex("01 06 00 B1 00 03 99 EC") << QString();
}

void ReceiveTest::writeEchoes()
{
    QFETCH(QByteArray, echo);
    QFETCH(QString, message);
    closer = std::make_unique<ModalCloser>(300);
    // The box runs a nested event loop, so its moment is observed from a timer inside it.
    QStringList logWhileOpen;
    QTimer sampler;
    connect(&sampler, &QTimer::timeout, this, [&] {
        if (closer->isBoxOpen())
            logWhileOpen = logLines();
    });
    sampler.start(10);

    QVERIFY(sendOnNextTick(echo));
    if (message.isEmpty()) {
        QVERIFY(waitTicks(2));
        QCOMPARE(closer->count(), 0);
        QCOMPARE(logLines(), QStringList{hexLine(echo)});
        return;
    }
    QTRY_COMPARE_WITH_TIMEOUT(closer->count(), 1, Wait);
    QTRY_COMPARE_WITH_TIMEOUT(logLines(), (QStringList{hexLine(echo), message}), Wait);
    QCOMPARE(logWhileOpen, QStringList{hexLine(echo)});
    const ModalCloser::Box box = closer->boxes().first();
    QCOMPARE(box.title, QStringLiteral("Information"));
    QCOMPARE(box.text, message);
    QCOMPARE(box.buttons, QStringList{"Ok"});
}

void ReceiveTest::nativeReplies_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("cut");          // > 0: the reply arrives in two ticks, cut there
    QTest::addColumn<QString>("deviceId");
    QTest::addColumn<QString>("softId");
    QTest::addColumn<bool>("request");     // a firmware-identifier request follows
    QTest::addColumn<int>("logCount");

    const QByteArray device = nativeReply(0xA6, 8, "12 34 AB CD");
    const QByteArray firmware = nativeReply(0xB5, 9, "01 FF 03");
    QByteArray badChecksum = device;
    badChecksum[17] = char(quint8(badChecksum.at(17)) ^ 0xFF);
    QTest::newRow("device id") << device << 0 << "1234-abcd" << "" << true << 1;
    QTest::newRow("device id, checksum not examined") << badChecksum << 0 << "1234-abcd" << "" << true << 1;
    QTest::newRow("firmware id") << firmware << 0 << "" << "1--1-3" << false << 1;
    QTest::newRow("pair") << device + firmware << 0 << "1234-abcd" << "1--1-3" << true << 1;
    QTest::newRow("device id in two ticks") << device << 10 << "1234-abcd" << "" << true << 2;
    QTest::newRow("firmware id in two ticks") << firmware << 4 << "" << "1--1-3" << false << 2;
    QTest::newRow("other id") << nativeReply(0xA7, 8, "12 34 AB CD") << 0 << "" << "" << false << 1;
    QTest::newRow("device id never completed") << device.left(10) << 0 << "" << "" << false << 2;
}

void ReceiveTest::nativeReplies()
{
    QFETCH(QByteArray, reply);
    QFETCH(int, cut);
    QFETCH(QString, deviceId);
    QFETCH(QString, softId);
    QFETCH(bool, request);
    QFETCH(int, logCount);

    QCOMPARE(press(QStringLiteral("pushButton_GetInfo"), 19), DeviceInfoRequest);
    auto *edit = window->findChild<QLineEdit *>(QStringLiteral("Edit_DeviceID"));
    QCOMPARE(edit->text(), QString());
    connect(edit, &QLineEdit::textChanged, this, [this](const QString &text) {
        if (!text.isEmpty())
            decodedAtTick = lastTickAt;
    });

    if (cut > 0) {
        QVERIFY(sendOnNextTick(reply.left(cut)));
        QVERIFY(sendOnNextTick(reply.mid(cut)));
    } else {
        QVERIFY(sendOnNextTick(reply));
    }
    if (request) {
        // Read before anything else, so the arrival time is taken when the bytes arrive.
        QCOMPARE(pair->read(19, Wait), FirmwareRequest);
        const qint64 delay = clock.elapsed() - decodedAtTick;
        QVERIFY2(decodedAtTick >= 0 && delay >= 200 && delay < 600, qPrintable(QString::number(delay)));
    }
    QTRY_COMPARE_WITH_TIMEOUT(edit->text(), deviceId, Wait);
    QTRY_COMPARE_WITH_TIMEOUT(valueOf(QStringLiteral("label_softid")), softId, Wait);
    QCOMPARE(pair->readFor(900), QByteArray()); // no further request
    QCOMPARE(edit->text(), deviceId);
    QCOMPARE(logLines().size(), logCount);
}

void ReceiveTest::probeWalksDownWithoutAnswer()
{
    QVERIFY(waitTicks(1));
    QVERIFY(window->findChild<QAbstractButton *>(QStringLiteral("pushButton_GetBaudrate")));
    window->findChild<QAbstractButton *>(QStringLiteral("pushButton_GetBaudrate"))->click();
    QList<int> rates{pair->baudRate()};
    QByteArray requests;
    QElapsedTimer watch;
    watch.start();
    while (watch.elapsed() < 4500) {
        requests += pair->readFor(10);
        if (pair->baudRate() != rates.last())
            rates << pair->baudRate();
    }
    QCOMPARE(rates, (QList<int>{19200, 9600, 4800, 2400, 9600}));
    QCOMPARE(requests, ProbeRequest.repeated(5));
    QCOMPARE(int(pendingReplies.pendingBaudrate), 0);
}

void ReceiveTest::probeStopsWhereAnswered()
{
    closer = std::make_unique<ModalCloser>(2000);
    QVERIFY(waitTicks(1));
    window->findChild<QAbstractButton *>(QStringLiteral("pushButton_GetBaudrate"))->click();
    QCOMPARE(pair->read(8, Wait), ProbeRequest);
    QTRY_COMPARE_WITH_TIMEOUT(pair->baudRate(), 4800, 3000);

    // The box runs a nested event loop; the line speed is sampled from a timer inside it. Qt does
    // not re-enter the handler of the timer that opened the box, so the ticks that would run in
    // it are delivered here, every 300 ms.
    int samplesOpen = 0;
    QList<int> ratesSeen;
    QTimer sampler;
    connect(&sampler, &QTimer::timeout, this, [&] {
        if (closer->isBoxOpen() && ++samplesOpen % 30 == 0) {
            QTimerEvent tick(WindowProbe::pollTimerId(*window));
            QCoreApplication::sendEvent(window.get(), &tick);
        }
        if (!ratesSeen.contains(pair->baudRate()))
            ratesSeen << pair->baudRate();
    });
    sampler.start(10);
    QVERIFY(pair->write(hex("05 03 02 00 05 89 87")));
    QTRY_COMPARE_WITH_TIMEOUT(closer->count(), 1, Wait);
    QTRY_VERIFY_WITH_TIMEOUT(!closer->isBoxOpen(), 4000);
    QTest::qWait(1000);
    sampler.stop();

    QCOMPARE(closer->boxes().first().title, QStringLiteral("Information"));
    QCOMPARE(closer->boxes().first().text, QStringLiteral("Baudrate is 4800 !"));
    QVERIFY2(samplesOpen >= 100, qPrintable(QString::number(samplesOpen)));
    QCOMPARE(ratesSeen, QList<int>{4800});
    QCOMPARE(pair->baudRate(), 4800);
    QCOMPARE(int(pendingReplies.pendingBaudrate), 0);
}

void ReceiveTest::refusesBadCrc_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("decoded");
    const QByteArray good = readReply("F6 F6");
    QByteArray badLow = good;
    badLow[5] = char(quint8(badLow.at(5)) ^ 0x01);
    QByteArray badHigh = good;
    badHigh[6] = char(quint8(badHigh.at(6)) ^ 0x80);
    QTest::newRow("good") << good << true;
    QTest::newRow("good, stray bytes after it") << good + hex("01 03 02 05 05") << true;
    QTest::newRow("low CRC byte wrong") << badLow << false;
    QTest::newRow("high CRC byte wrong") << badHigh << false;
    QTest::newRow("wrong CRC, good reply after it") << badLow + good << false;
    // The CRC sits after the bytes the count announces, not at the end of the block.
    QTest::newRow("CRC placed after a wrong count") << withCrc(hex("01 03 01 F6 F6")) << false;
}

void ReceiveTest::refusesBadCrc()
{
    QFETCH(QByteArray, reply);
    QFETCH(bool, decoded);
    QCOMPARE(press(QStringLiteral("pushButton_GetTempHumi")).size(), 8);
    QVERIFY(sendOnNextTick(reply));
    if (decoded) {
        QTRY_COMPARE_WITH_TIMEOUT(valueOf(QStringLiteral("lineEdit_Humi")), QStringLiteral("246"), Wait);
        QCOMPARE(valueOf(QStringLiteral("lineEdit_Temp")), QStringLiteral("-10"));
        QCOMPARE(logLines(), QStringList{hexLine(reply)});
        QCOMPARE(raisedFlags(), 0);
        return;
    }
    QVERIFY(waitTicks(2));
    QCOMPARE(valueOf(QStringLiteral("lineEdit_Temp")), QString());
    QCOMPARE(int(pendingReplies.pendingTempHumi), 1);
    const QStringList lines = logLines();
    QCOMPARE(lines.size(), 2);
    QCOMPARE(lines.at(0), hexLine(reply));
    QVERIFY2(lines.at(1).contains(QLatin1String("CRC")), qPrintable(lines.at(1)));

    // The flag is still raised for the reply that comes intact.
    QVERIFY(sendOnNextTick(readReply("F6 F6")));
    QTRY_COMPARE_WITH_TIMEOUT(valueOf(QStringLiteral("lineEdit_Humi")), QStringLiteral("246"), Wait);
    QCOMPARE(raisedFlags(), 0);
}

void ReceiveTest::splitReplies_data()
{
    QTest::addColumn<QString>("trigger");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("cut");         // the first tick gets reply.left(cut)
    QTest::addColumn<bool>("completed");  // the next tick brings the rest, or nothing for a second
    QTest::addColumn<QString>("widget");
    QTest::addColumn<QString>("value");   // once the whole reply has been decoded

    const QByteArray temp = readReply("F6 F6");
    QByteArray thirtyEight;
    for (int i = 0; i < 38; ++i)
        thirtyEight += char(0xA0 + i);
    const QByteArray trans = readReply(thirtyEight);
    const QString transText = hexLine(thirtyEight) + ' ';
    QTest::newRow("cut after a data byte") << "pushButton_GetTempHumi" << temp << 4 << true << "lineEdit_Humi" << "246";
    QTest::newRow("cut after the function") << "pushButton_GetTempHumi" << temp << 2 << true << "lineEdit_Humi" << "246";
    QTest::newRow("cut inside the CRC") << "pushButton_GetTempHumi" << temp << 6 << true << "lineEdit_Humi" << "246";
    QTest::newRow("transparent read cut") << "on_pushButton_TransRead_clicked" << trans << 20 << true
                                          << "lineEdit_TransRead" << transText;
    QTest::newRow("never completed") << "pushButton_GetTempHumi" << temp << 4 << false << "lineEdit_Humi" << "246";
    QTest::newRow("function alone, never completed") << "pushButton_GetTempHumi" << temp << 2 << false
                                                      << "lineEdit_Humi" << "246";
    QTest::newRow("byte count beyond the bytes received") << "on_pushButton_TransRead_clicked" << trans << 11 << false
                                                          << "lineEdit_TransRead" << transText;
}

void ReceiveTest::splitReplies()
{
    QFETCH(QString, trigger);
    QFETCH(QByteArray, reply);
    QFETCH(int, cut);
    QFETCH(bool, completed);
    QFETCH(QString, widget);
    QFETCH(QString, value);

    QCOMPARE(press(trigger).size(), 8);
    const QByteArray first = reply.left(cut);
    const QByteArray rest = reply.mid(cut);
    QStringList expectedLog;
    if (first.size() >= 4)
        expectedLog << hexLine(first);
    QVERIFY(sendOnNextTick(first));

    if (completed) {
        QVERIFY(sendOnNextTick(rest));
        if (rest.size() >= 4)
            expectedLog << hexLine(rest);
        QTRY_COMPARE_WITH_TIMEOUT(valueOf(widget), value, Wait);
        QCOMPARE(raisedFlags(), 0);
        QCOMPARE(logLines(), expectedLog);
        return;
    }

    QVERIFY(waitTicks(4)); // more than a second without the rest
    QCOMPARE(valueOf(widget), QString());
    QCOMPARE(raisedFlags(), 1);
    const QStringList lines = logLines();
    QCOMPARE(lines.size(), expectedLog.size() + 1); // one line about the dropped start
    QCOMPARE(lines.mid(0, expectedLog.size()), expectedLog);

    // The dropped start leaves nothing behind: the next whole reply is decoded by itself.
    QVERIFY(sendOnNextTick(reply));
    QTRY_COMPARE_WITH_TIMEOUT(valueOf(widget), value, Wait);
    QCOMPARE(raisedFlags(), 0);
    QCOMPARE(logLines().size(), lines.size() + 1);
}

void ReceiveTest::exceptionReplies_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("line");
    QTest::newRow("read, code 2") << withCrc(hex("01 83 02"))
                                  << "Device refused the request: exception 2 (illegal data address)";
    QTest::newRow("write, code 1") << withCrc(hex("01 86 01")) << "exception 1 (illegal function)";
    QTest::newRow("write multiple, code 3") << withCrc(hex("01 90 03")) << "exception 3 (illegal data value)";
}

void ReceiveTest::exceptionReplies()
{
    QFETCH(QByteArray, reply);
    QFETCH(QString, line);
    QCOMPARE(press(QStringLiteral("pushButton_GetTempHumi")).size(), 8);
    QVERIFY(sendOnNextTick(reply));
    QTRY_COMPARE_WITH_TIMEOUT(logLines().size(), 2, Wait);
    QCOMPARE(logLines().at(0), hexLine(reply));
    QVERIFY2(logLines().at(1).contains(line), qPrintable(logLines().at(1)));
    QVERIFY(waitTicks(1));
    QCOMPARE(logLines().size(), 2);
    QCOMPARE(int(pendingReplies.pendingTempHumi), 1);
    QCOMPARE(valueOf(QStringLiteral("lineEdit_Temp")), QString());
}

void ReceiveTest::keepsCommandsWrittenBeforeTick()
{
    QVERIFY(waitTicks(1));
    window->findChild<QAbstractButton *>(QStringLiteral("pushButton_GetTempHumi"))->click();
    window->findChild<QAbstractButton *>(QStringLiteral("pushButton_GetDeviceAddr"))->click();
    // A tick that runs before the event loop has passed the requests to the line.
    QTimerEvent tick(WindowProbe::pollTimerId(*window));
    QCoreApplication::sendEvent(window.get(), &tick);
    QCOMPARE(pair->read(16, Wait), withCrc(hex("00 03 00 A8 00 01")) + withCrc(hex("00 03 00 00 00 01")));
}

void ReceiveTest::ignoresOtherTimers()
{
    pendingReplies.pendingBaudrate = 1;
    QTimerEvent foreign(WindowProbe::pollTimerId(*window) + 1000);
    QCoreApplication::sendEvent(window.get(), &foreign);
    QCOMPARE(pendingReplies.baudScanTicks, 0u);

    window->findChild<QAbstractButton *>(QStringLiteral("pushButtonClose"))->click();
    QCOMPARE(WindowProbe::pollTimerId(*window), -1);
    QCoreApplication::sendEvent(window.get(), &foreign);
    QTest::qWait(700);
    QCOMPARE(pendingReplies.baudScanTicks, 0u);
    QCOMPARE(int(pendingReplies.pendingBaudrate), 1);
    QCOMPARE(logLines(), QStringList());
}

QTEST_MAIN(ReceiveTest)
#include "tst_receive.moc"
