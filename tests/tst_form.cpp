// The main window as the operator first sees it: the withdrawn tabs and button, the start-up
// state of every combo box and field, the auto-connections, the menus, the About box, the
// embedded catalogue, captions that fit, the read-only log pane, the frame of the command tabs,
// the command line, the settings file read at start and tear-down with an open port.
#include "captionfit.h"
#include "commandline.h"
#include "fonts.h"
#include "mainwindow.h"
#include "modalcloser.h"
#include "screenscale.h"
#include "testbytes.h"
#include "windowfixture.h"
#include "windowprobe.h"

#include <QSerialPortInfo>
#include <QtTest>
#include <QtWidgets>

#include <sys/stat.h>

namespace {

const QStringList kVisibleTabs = {"ModbusAddr", "SetSleep", "CleanDust", "SetHeater", "SetWorkMode",
                                  "TempAndHumi", "GetSelfTest", "GlobalSet", "Calibration"};

// The entries of each combo box but the port box; each starts at its first entry. The commands
// take the rate, unit and range from the index, so the order is part of what they send.
const QMap<QString, QStringList> kComboItems = {
    {"comboBoxSendObject", {"Avg", "1", "2", "3", "4"}},
    {"comboBox_BoudRate", {"9600", "4800", "9600", "19200"}},
    {"comboBox_SetBoudRate", {"9600", "4800", "9600", "19200"}},
    {"comboBoxAutoCleanDust", {"Query", "Set"}},
    {"comboBox_HeatTemp", {"Query", "Set"}},
    {"comboBox_HeatHumi", {"Query", "Set"}},
    {"comboBox_Calibrate", {"Query", "Set"}},
    {"comboBox_CalibrateObject", {"Avg", "No.1", "No.2", "No.3", "No.4"}},
    {"comboBox_CalibrateRange", {"PM2.5", "PM10", "PM100"}},
    {"comboBoxTransObject", {"1", "2", "3", "4"}},
    {"comboBoxCommonCMD", {"None", "Sleep"}},
};

// The fields the form fills; every other one starts empty.
const QMap<QString, QString> kFilledFields = {{"Edit_DeviceID", "ffff-ffff"}, {"lineEdit_CleanDustTime", "10"}};


// Texts the catalogue leaves untranslated: the title, numbers, units and unit-less placeholders.
const QSet<QString> kUntranslated = {
    "ZelvikConfig", "COM:", "Firmware ID", "1", "2", "3", "4", "9600", "4800",
    "19200", "PM2.5", "PM10", "PM100", "(-255~255)", "(10~250)", "℃", "%", ""};

QStringList comboItems(const QComboBox *combo)
{
    QStringList items;
    for (int i = 0; i < combo->count(); ++i)
        items << combo->itemText(i);
    return items;
}

// Slots that connectSlotsByName could not bind, collected instead of printed for every window.
// A message handler is a plain function, so what it collects has to be global.
QStringList unmatchedSlots; // NOLINT(cppcoreguidelines-avoid-non-const-global-variables)
QtMessageHandler previousHandler = nullptr; // NOLINT(cppcoreguidelines-avoid-non-const-global-variables)

void collectUnmatchedSlots(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    static const QString prefix = QStringLiteral("QMetaObject::connectSlotsByName: No matching signal for ");
    if (type == QtWarningMsg && message.startsWith(prefix))
        unmatchedSlots << message.mid(prefix.size());
    else
        previousHandler(type, context, message);
}

} // namespace

class TestForm : public WindowFixture
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        previousHandler = qInstallMessageHandler(collectUnmatchedSlots);
        // The catalogue is embedded uncompressed at :/ts/zh_CN.qm.
        QCOMPARE(QResource(QStringLiteral(":/ts/zh_CN.qm")).compressionAlgorithm(), QResource::NoCompression);
        QVERIFY(translator.load(QStringLiteral(":/ts/zh_CN.qm")));
    }
    void cleanupTestCase() { qInstallMessageHandler(previousHandler); }

    void startupState()
    {
        unmatchedSlots.clear();
        MainWindow window;
        // Every slot found its widget by name, except the one whose widget does not exist.
        QCOMPARE(unmatchedSlots, QStringList {QStringLiteral("on_pushButtonTestBoudrate_clicked()")});
        QCOMPARE(window.windowTitle(), QStringLiteral("ZelvikConfig"));

        auto *tabs = window.findChild<QTabWidget *>(QStringLiteral("tabWidget"));
        QStringList titles;
        for (int i = 0; i < tabs->count(); ++i)
            titles << tabs->tabText(i);
        QCOMPARE(titles, kVisibleTabs);
        QCOMPARE(tabs->currentIndex(), 0);
        // Withdrawn from the bar, but alive: their slots still reach their widgets.
        for (const char *page : {"tab_TransSend", "tab_2"}) {
            QVERIFY(window.findChild<QWidget *>(QLatin1String(page)));
            QCOMPARE(tabs->indexOf(window.findChild<QWidget *>(QLatin1String(page))), -1);
        }
        QVERIFY(window.findChild<QWidget *>(QStringLiteral("pushButton_SetID"))->isHidden());
        QVERIFY(!WindowProbe::polling(window));
        QVERIFY(!WindowProbe::serial(window).isOpen());

        // The port list is what the system reported, in its order; only the port combo is editable.
        auto *com = window.findChild<QComboBox *>(QStringLiteral("comboBoxCOM"));
        QStringList ports;
        for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts())
            ports << info.portName();
        QCOMPARE(comboItems(com), ports);
        QStringList combos;
        for (QComboBox *combo : window.findChildren<QComboBox *>()) {
            QCOMPARE(combo->isEditable(), combo == com);
            if (combo == com)
                continue;
            combos << combo->objectName();
            QCOMPARE(comboItems(combo), kComboItems.value(combo->objectName()));
            QCOMPARE(combo->currentIndex(), 0);
        }
        combos.sort();
        QCOMPARE(combos, QStringList(kComboItems.keys()));

        // Nothing is limited, ticked or disabled by the form; the window disables Close (and makes
        // the fields that show answers read-only: tst_commands).
        for (QLineEdit *edit : window.findChildren<QLineEdit *>()) {
            if (edit->parent() == com)
                continue;
            QCOMPARE(edit->text(), kFilledFields.value(edit->objectName()));
            QVERIFY2(!edit->validator() && edit->maxLength() == 32767, qPrintable(edit->objectName()));
        }
        QCOMPARE(window.findChild<QLabel *>(QStringLiteral("label_softid"))->text(), QStringLiteral("Firmware ID"));
        for (QAbstractButton *button : window.findChildren<QAbstractButton *>()) {
            QVERIFY2(!button->isChecked(), qPrintable(button->objectName()));
            if (!button->objectName().isEmpty())
                QCOMPARE(button->isEnabled(), button->objectName() != QLatin1String("pushButtonClose"));
        }

        // Menu bar: "&Tools" with "Measurements…", "&Options" with the unticked "Local echo", then
        // "&About" with one entry "&About".
        QStringList menus;
        for (QAction *menu : window.menuBar()->actions()) {
            for (QAction *entry : menu->menu()->actions())
                menus << menu->text() + " > " + entry->text() + (entry->isChecked() ? " (ticked)" : "");
        }
        QCOMPARE(menus, (QStringList{"&Tools > Measurements…", "&Options > Local echo",
                                     "&Options > Times and sent requests in the log", "&About > &About"}));
    }

    void aboutBox()
    {
        MainWindow window;
        window.show();
        QAction *entry = window.menuBar()->actions().last()->menu()->actions().first();
        ModalCloser closer(50);
        entry->trigger(); // returns at once: the box does not stop the poll
        QTRY_COMPARE(closer.count(), 1);
        const ModalCloser::Box box = closer.boxes().first();
        QCOMPARE(box.title, QStringLiteral("About"));
        QVERIFY2(box.text.contains(QStringLiteral("V1.3")) && box.text.contains(QStringLiteral("2017.9.18")), qPrintable(box.text));
        QCOMPARE(box.buttons, QStringList {QStringLiteral("Ok")});
        QTRY_VERIFY(!closer.isBoxOpen());
        QVERIFY(window.isVisible());
    }

    void catalogue_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("chinese");
        QTest::newRow("Open") << "Open" << "打开";
        QTest::newRow("Rearesh") << "Rearesh" << "刷新";
        QTest::newRow("ModbusAddr： 0x") << "ModbusAddr： 0x" << "Modbus地址： 0x";
        QTest::newRow("No.3Unit") << "No.3Unit" << "3号单元";
        QTest::newRow("tip K") << "<html><head/><body><p><span style=\" font-size:10pt;\">Use in Kelvra Protocol</span></p></body></html>"
            << "<html><head/><body><p><span style=\" font-size:10pt;\">用于Kelvra协议</span></p></body></html>";
        QTest::newRow("modbus switch") << "Device change to MODBUS!" << "设备已切换到MODBUS协议！";
        QTest::newRow("factory") << "Device change to FactoryConfig!" << "设备已恢复出厂设置！";
        QTest::newRow("kelvra switch") << "Device change to Kelvra!" << "设备已切换到Kelvra协议！";
        for (const char *kept : {"ZelvikConfig", "COM:", "9600", "PM2.5", "℃", "(10~250)"})
            QTest::newRow(kept) << QString::fromUtf8(kept) << QString();
    }

    void catalogue()
    {
        QFETCH(QString, source);
        QFETCH(QString, chinese);
        QCOMPARE(translator.translate("MainWindow", source.toUtf8().constData()), chinese);
    }

    // Every caption, entry, tool tip and tab title of the form outside the untranslated set has a
    // Chinese counterpart; the program itself installs no translator, so it still speaks English.
    // The status bar and the shortcut notes the window adds to tool tips are not the form's.
    void everyCaptionTranslated()
    {
        MainWindow window;
        static const QRegularExpression shortcutNote("(<p>|\\n)?Shortcut: [^<\\n]*(</p>)?");
        QStringList sources = kVisibleTabs + QStringList {QStringLiteral("Transmission"), QStringLiteral("GetAllSelfTest")};
        for (QWidget *widget : window.findChildren<QWidget *>()) {
            if (widget->objectName().isEmpty() || widget->objectName().startsWith(QLatin1String("qt_"))
                || widget->objectName() == QLatin1String("comboBoxCOM") || window.statusBar()->isAncestorOf(widget))
                continue;
            if (auto *combo = qobject_cast<QComboBox *>(widget))
                sources << comboItems(combo);
            else if (auto *group = qobject_cast<QGroupBox *>(widget))
                sources << group->title();
            else if (qobject_cast<QLabel *>(widget) || qobject_cast<QAbstractButton *>(widget))
                sources << widget->property("text").toString();
            sources << widget->toolTip().remove(shortcutNote);
        }
        QVERIFY(sources.contains(QStringLiteral("ChangeToKelvraProtocol")));
        for (const QString &part : qAsConst(sources)) {
            if (!kUntranslated.contains(part)) {
                const QString translated = translator.translate("MainWindow", part.toUtf8().constData());
                QVERIFY2(!translated.isEmpty() && translated != part, qPrintable(part));
            }
        }
        QCOMPARE(window.findChild<QPushButton *>(QStringLiteral("pushButtonOpen"))->text(), QStringLiteral("Open"));
    }

    // Wrong arguments are found before the window's application object is made, except when they
    // may hold an option of the toolkit, which only that object knows ("deferred").
    void commandLine_data()
    {
        QTest::addColumn<QStringList>("arguments"); // after the program's name
        QTest::addColumn<int>("action");
        QTest::addColumn<bool>("textOnly");
        QTest::addColumn<bool>("deferred");
        QTest::addColumn<QStringList>("chosen"); // port, baud rate, record file, local echo
        QTest::addColumn<QString>("message");    // a part of it
        using A = CommandLine::Action;
        auto row = [](const char *tag, const QStringList &arguments, A action, const QStringList &chosen,
                      const QString &message, bool deferred = false) {
            QTest::newRow(tag) << arguments << int(action) << (action == A::Help || action == A::Version) << deferred
                               << chosen << message;
        };
        row("nothing", {}, A::Run, {"", "0", "", "remembered"}, "");
        row("all choices", {"--port", "/dev/serial/by-id/usb-FTDI-if00-port0", "--baud", "4800", "--record", "/tmp/bench.log", "--local-echo"},
            A::Run, {"/dev/serial/by-id/usb-FTDI-if00-port0", "4800", "/tmp/bench.log", "on"}, "");
        // The probe finds and offers 2400, so the command line takes it too.
        row("baud 2400", {"--baud", "2400"}, A::Run, {"", "2400", "", "remembered"}, "");
        row("baud not offered", {"--baud", "1234"}, A::Error, {}, "--baud: the baud rate 1234 is not one the window offers (2400, 4800, 9600, 19200)");
        row("local echo off", {"--no-local-echo"}, A::Run, {"", "0", "", "off"}, "");
        row("local echo on and off", {"--local-echo", "--no-local-echo"}, A::Error, {}, "exclude");
        row("help", {"--help"}, A::Help, {"", "0", ""}, "--record <file>");
        row("help beside the toolkit's options", {"-platform", "xcb", "-h"}, A::Help, {"", "0", ""}, "--port <path>");
        row("help with the toolkit's options", {"--help-all"}, A::HelpAll, {"", "0", ""}, "");
        row("version", {"--port", "x", "--version"}, A::Version, {"", "0", ""}, QCoreApplication::applicationName() + ' ');
        row("unknown option", {"--bogus"}, A::Error, {"", "0", ""}, "bogus");
        row("unknown option beside a toolkit option", {"-style", "fusion", "--bogus"}, A::Error, {}, "bogus", true);
        row("baud not a number", {"--baud", "fast"}, A::Error, {"", "0", ""}, "\"fast\"");
        row("port without a path", {"--port"}, A::Error, {"", "0", ""}, "port");
        row("stray argument", {"/dev/ttyUSB0"}, A::Error, {"", "0", ""}, "/dev/ttyUSB0");
    }

    void commandLine()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, action);
        QFETCH(bool, textOnly);
        QFETCH(bool, deferred);
        QFETCH(QStringList, chosen);
        QFETCH(QString, message);
        const QStringList line = QStringList{"zelvikconfig"} + arguments;
        QCOMPARE(asksForTextOnly(line), textOnly);
        const bool early = action == int(CommandLine::Action::Error) && !deferred;
        QCOMPARE(int(checkBeforeApplication(line).action), int(early ? CommandLine::Action::Error : CommandLine::Action::Run));
        const CommandLine parsed = parseCommandLine(line);
        QCOMPARE(int(parsed.action), action);
        QVERIFY2(parsed.message.contains(message), qPrintable(parsed.message));
        if (parsed.action == CommandLine::Action::Run)
            QCOMPARE((QStringList{parsed.port, QString::number(parsed.baudRate), parsed.recordFile,
                                  !parsed.localEcho ? "remembered" : *parsed.localEcho ? "on" : "off"}),
                     chosen);
    }

    // Without a display the window cannot be made: wrong arguments still get the usage error and
    // status 1, instead of the window system ending the process.
    void argumentsWithoutDisplay()
    {
        QProcess program;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            environment.remove(name);
        program.setProcessEnvironment(environment);
        program.start(ZELVIK_CONFIG, {"--bogus"});
        QVERIFY(program.waitForFinished(20000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 1);
        QCOMPARE(program.readAllStandardError(), QByteArray("zelvikconfig: Unknown option 'bogus'.\n"));
    }

    // The port and speed from the command line are shown, not opened; a speed the window does not
    // offer is refused and changes nothing, and 2400 is added as the probe adds it. Ctrl+Q closes
    // the window.
    void preselectAndQuit()
    {
        MainWindow window;
        QString error;
        QVERIFY(window.preselect("/dev/ttyUSB7", 0, &error)); // no speed asked for: the window's own
        QCOMPARE(window.findChild<QComboBox *>("comboBoxCOM")->currentText(), QString("/dev/ttyUSB7"));
        QVERIFY(!window.preselect("/dev/ttyUSB7", 1234, &error));
        QVERIFY2(error.contains("(2400, 4800, 9600, 19200)"), qPrintable(error));
        QCOMPARE(window.findChild<QComboBox *>("comboBox_BoudRate")->currentIndex(), 0);
        QVERIFY(window.preselect("/dev/serial/by-id/usb-FTDI-if00-port0", 19200, &error));
        QCOMPARE(window.findChild<QComboBox *>("comboBoxCOM")->currentText(), QString("/dev/serial/by-id/usb-FTDI-if00-port0"));
        QCOMPARE(window.findChild<QComboBox *>("comboBox_BoudRate")->currentText(), QString("19200"));
        QVERIFY(window.preselect(QString(), 2400, &error));
        QCOMPARE(comboItems(window.findChild<QComboBox *>("comboBox_BoudRate")), (QStringList{"9600", "4800", "9600", "19200", "2400"}));
        QCOMPARE(window.findChild<QComboBox *>("comboBox_BoudRate")->currentText(), QString("2400"));
        QVERIFY(!WindowProbe::serial(window).isOpen() && !WindowProbe::polling(window));

        window.show();
        QApplication::setActiveWindow(&window);
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QTest::keyClick(&window, Qt::Key_Q, Qt::ControlModifier);
        QVERIFY(!window.isVisible());
    }

    // Local echo starts on only for what the window writes for it; a settings file it cannot
    // have written (larger than 64 KiB, or a pipe that would block the start) is neither read nor
    // written, and the log pane says so.
    void rememberedSettings_data()
    {
        QTest::addColumn<QByteArray>("contents"); // of the settings file; "<pipe>" makes it a pipe
        QTest::addColumn<bool>("localEcho");
        QTest::addColumn<QString>("ignoredBecause"); // empty when the file is read
        const QByteArray on = "[General]\nlocalEcho=true\n;";
        QTest::newRow("true") << on << true << "";
        QTest::newRow("false") << QByteArray("[General]\nlocalEcho=false\n") << false << "";
        QTest::newRow("1") << QByteArray("localEcho=1\n") << true << "";
        QTest::newRow("0") << QByteArray("localEcho=0\n") << false << "";
        QTest::newRow("not a truth value") << QByteArray("[General]\nlocalEcho=nope\n") << false << "";
        QTest::newRow("empty") << QByteArray("[General]\nlocalEcho=\n") << false << "";
        QTest::newRow("no such key") << QByteArray("[General]\nother=true\n") << false << "";
        QTest::newRow("64 KiB") << on + QByteArray(65536 - on.size(), 'x') << true << "";
        QTest::newRow("64 KiB and a byte") << on + QByteArray(65537 - on.size(), 'x') << false
                                           << "it holds 65537 bytes, more than the 65536 a settings file may hold";
        QTest::newRow("pipe") << QByteArray("<pipe>") << false << "it is a pipe (FIFO), not a regular file";
    }
    void rememberedSettings()
    {
        QFETCH(QByteArray, contents);
        QFETCH(bool, localEcho);
        QFETCH(QString, ignoredBecause);
        const QString path = MainWindow::settingsPath();
        QFile::remove(path);
        QVERIFY(QDir().mkpath(QFileInfo(path).path()));
        if (contents == "<pipe>") {
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        } else {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size());
        }
        QCOMPARE(MainWindow::rememberedLocalEcho(), localEcho);
        newWindow();
        const QStringList expected = ignoredBecause.isEmpty()
            ? QStringList()
            : QStringList{"The settings file " + path + " was ignored and the choices made now are not saved in it: " + ignoredBecause};
        QVERIFY2(logLines() == expected, qPrintable(logLines().join('\n')));
        // Choosing what the file already says leaves the file as it is: nothing is written.
        window->setLocalEcho(localEcho);
        if (contents != "<pipe>") {
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(file.readAll(), contents);
        }
        window->setLocalEcho(!localEcho);
        if (ignoredBecause.isEmpty()) {
            QCOMPARE(MainWindow::rememberedLocalEcho(), !localEcho); // the file read is the one written
        } else {
            QCOMPARE(MainWindow::rememberedLocalEcho(), false);
            QCOMPARE(QFileInfo(path).size(), contents == "<pipe>" ? 0 : contents.size());
        }
        closeAll();
        QFile::remove(path);
    }

    // The operator can select and copy the log, but not type into it.
    void logPaneReadOnly()
    {
        MainWindow window;
        auto *pane = window.findChild<QPlainTextEdit *>(QStringLiteral("textEditPM"));
        pane->setPlainText(QStringLiteral("01 03 02 00 0a "));
        QTest::keyClicks(pane, QStringLiteral("hello typed"));
        QTest::keyClick(pane, Qt::Key_Backspace);
        QCOMPARE(pane->toPlainText(), QStringLiteral("01 03 02 00 0a "));
        QTest::keySequence(pane, QKeySequence::SelectAll);
        QTest::keySequence(pane, QKeySequence::Copy);
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("01 03 02 00 0a "));
    }

    // The command tabs' frame looks on every page as the form's designer drew it with a style
    // sheet on the tab widget: the line, the pane left unfilled, where the tabs end and the page
    // begins.
    void tabFrameAsDesigned()
    {
        MainWindow window;
        MainWindow designed;
        auto *tabs = window.findChild<QTabWidget *>(QStringLiteral("tabWidget"));
        auto *designedTabs = designed.findChild<QTabWidget *>(QStringLiteral("tabWidget"));
        designedTabs->setStyle(QApplication::style());
        designedTabs->setStyleSheet(
            QStringLiteral("QTabWidget:pane {border:1px solid #205B7B;background:  transparent; }"));
        window.show();
        designed.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window) && QTest::qWaitForWindowExposed(&designed));
        for (int i = 0; i < tabs->count(); ++i) {
            tabs->setCurrentIndex(i);
            designedTabs->setCurrentIndex(i);
            QCOMPARE(tabs->grab().toImage(), designedTabs->grab().toImage());
        }
    }

    // Every caption fits its widget with the fonts the window is run with, at the resolutions of
    // usual desktops and laptops, and the window keeps the form's proportions there: it is scaled
    // as a whole. The resolution is fixed when the application object is made, so a row at another
    // resolution than this run's runs in a copy of this program started at it, as a desktop's
    // font setting starts the window (QT_FONT_DPI). The rows that move a widget back to its old
    // geometry, or narrow it, show that the measurement sees the cuts.
    void captionsFit_data()
    {
        QTest::addColumn<int>("dpi");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QRect>("geometry");
        QTest::addColumn<QStringList>("clipped");
        for (const int dpi : {96, 120, 144, 192})
            QTest::addRow("form as built, %d dpi", dpi) << dpi << QString() << QRect() << QStringList();
        QTest::newRow("label cut") << 96 << "label_DeviceAddr" << QRect(170, 30, 111, 31) << QStringList{"label_DeviceAddr"};
        QTest::newRow("label cut, 144 dpi") << 144 << "label_DeviceAddr" << QRect(170, 30, 111, 31) << QStringList{"label_DeviceAddr"};
        QTest::newRow("label into its field") << 96 << "label_20" << QRect(600, 32, 131, 16) << QStringList{"label_20"};
        QTest::newRow("push button") << 96 << "pushButton_GetHeatMode" << QRect(40, 46, 100, 31) << QStringList{"pushButton_GetHeatMode"};
        QTest::newRow("radio button") << 96 << "radioButton_StartHeat" << QRect(459, 52, 70, 21) << QStringList{"radioButton_StartHeat"};
        QTest::newRow("check box") << 96 << "checkBox_No1" << QRect(350, 125, 50, 16) << QStringList{"checkBox_No1"};
        QTest::newRow("too short") << 96 << "label_13" << QRect(220, 40, 61, 12) << QStringList{"label_13"};
        // A hidden widget cuts no caption of its siblings (its own, too narrow here, is still measured).
        QTest::newRow("hidden button over a label") << 96 << "pushButton_SetID" << QRect(790, 30, 40, 31)
                                                    << QStringList{"pushButton_SetID"};
        QTest::newRow("tab titles") << 96 << "tabWidget" << QRect(600, 340, 500, 331)
                                    << QStringList{"tabWidget#5", "tabWidget#6", "tabWidget#7", "tabWidget#8"};
    }

    void captionsFit()
    {
        QFETCH(int, dpi);
        QFETCH(QString, name);
        QFETCH(QRect, geometry);
        QFETCH(QStringList, clipped);
        if (dpi != qEnvironmentVariableIntValue("QT_FONT_DPI")) {
            QProcess copy;
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert("QT_FONT_DPI", QString::number(dpi));
            copy.setProcessEnvironment(environment);
            copy.setProcessChannelMode(QProcess::MergedChannels);
            copy.start(QCoreApplication::applicationFilePath(),
                       {"-o", "-,txt", QString("captionsFit:") + QTest::currentDataTag()});
            QVERIFY(copy.waitForFinished(60000));
            const QString output = QString::fromLocal8Bit(copy.readAll());
            QVERIFY2(copy.exitStatus() == QProcess::NormalExit && copy.exitCode() == 0
                         && output.contains(QString("PASS   : TestForm::captionsFit(%1)").arg(QTest::currentDataTag())),
                     qPrintable(output));
            return;
        }
        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        // The captions the form gives no font take the application's, which the window installs.
        const QFont font = window.findChild<QLabel *>("label_11")->font();
        QCOMPARE(QFontInfo(font).family(), QFontInfo(QFont("微软雅黑")).family());
        QCOMPARE(font.pointSize(), 9);
        if (!name.isEmpty())
            window.findChild<QWidget *>(name)->setGeometry(geometry);
        QStringList found;
        QStringList detail;
        for (const ClippedCaption &caption : clippedCaptions(&window)) {
            found << caption.objectName;
            detail << QString("%1 \"%2\" by %3 px").arg(caption.objectName, caption.caption).arg(caption.overflow);
        }
        found.sort();
        QVERIFY2(found == clipped, qPrintable(QString("at %1 dpi: %2").arg(dpi).arg(detail.join("; "))));
        // Drawn at the form's own 96 dpi and scaled as a whole to the screen's.
        QCOMPARE(window.logicalDpiY(), 96);
        QCOMPARE(window.devicePixelRatioF(), dpi / 96.0);
    }

    // Destroying the window while the port is open must release the port (the device side sees the
    // line hang up).
    void destroyWithOpenPort()
    {
        QVERIFY(openOnPty());
        QVERIFY(WindowProbe::polling(*window));
        QVERIFY(!widget("pushButtonOpen")->isEnabled() && widget("pushButtonClose")->isEnabled());
        QVERIFY(!pty->slaveClosed());

        window.reset();
        QTRY_VERIFY_WITH_TIMEOUT(pty->slaveClosed(), 2000);
    }

    // The status bar and the title say where the port stands; keys reach Open/Close, ReadResult
    // and the Set buttons. The port and rate last opened, the tab and the window's place come back
    // at the next start, where the command line's choice still wins.
    void statusRememberedAndKeys()
    {
        QVERIFY(openOnPty());
        driveTime();
        const QString port = pty->slavePath();
        auto status = [this] {
            return QStringList{widget<QLabel>("statusPort")->text(), widget<QLabel>("statusProtocol")->text(),
                               widget<QLabel>("statusWaiting")->text(), window->windowTitle()};
        };
        QVERIFY(press("pushButton_GetTempHumi") && press("pushButton_GetDeviceAddr") && press("pushButton_ChangeToModbus"));
        QCOMPARE(status(), (QStringList{"Port " + port + ", 9600 baud: open", "Protocol last chosen: Modbus RTU",
                                        "Queries waiting for an answer: 2", "ZelvikConfig — " + port}));
        QVERIFY(tickUntil([&] { return status().at(2).endsWith(": 0"); }, 20));

        window->show();
        QApplication::setActiveWindow(window.get());
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        QTest::keyClick(window.get(), Qt::Key_O, Qt::ControlModifier);
        QCOMPARE(status().at(0) + status().at(3), "Port " + port + ", 9600 baud: closedZelvikConfig");
        QTest::keyClick(window.get(), Qt::Key_O, Qt::ControlModifier);
        QVERIFY(set({"comboBoxSendObject=3", "comboBox_HeatTemp=Query", "lineEdit_HeatTempHigh=40", "lineEdit_HeatTempLow=-10",
                     "lineEdit_DeviceAddr=1F"}));
        written.clear();
        QTest::keyClick(window.get(), Qt::Key_F5);
        QVERIFY(tickUntil([&] { return !written.isEmpty(); })); // the line was just opened: it waits for quiet
        QTest::keyClick(widget("lineEdit_HeatTempLow"), Qt::Key_Return); // a Query/Set pair turns to Set
        QTest::keyClick(widget("lineEdit_DeviceAddr"), Qt::Key_Enter);
        QCOMPARE(written, (QList<QByteArray>{withCrc("000303b40004"), withCrc("000600ac28f6"), withCrc("00060000001f")}));
        QCOMPARE(value("comboBox_HeatTemp"), QString("Set"));
        for (const char *tip : {"pushButtonOpen=Ctrl+O", "pushButtonClose=Ctrl+O", "pushButton_GetSensorData=F5",
                                "lineEdit_HeatTempLow=Enter presses Temp with \"Set\"", "lineEdit_DeviceAddr=Enter presses SetModbusAddr"})
            QVERIFY(widget(QString(tip).section('=', 0, 0))->toolTip().contains("Shortcut: " + QString(tip).section('=', 1)));

        QVERIFY(set("comboBox_BoudRate=4800")); // applied to the open port, and remembered
        widget<QTabWidget>("tabWidget")->setCurrentIndex(3);
        window->setWindowState(Qt::WindowNoState);
        window->setGeometry(40, 50, 700, 500);
        QVERIFY(window->close());
        newWindow();
        QCOMPARE(values({"comboBoxCOM", "comboBox_BoudRate"}), (QStringList{"comboBoxCOM=" + port, "comboBox_BoudRate=4800"}));
        QCOMPARE(widget<QTabWidget>("tabWidget")->currentIndex(), 3);
        QCOMPARE(window->geometry(), QRect(40, 50, 700, 500));
        QString error;
        QVERIFY(window->preselect("/dev/ttyUSB9", 19200, &error));
        QCOMPARE(values({"comboBoxCOM", "comboBox_BoudRate"}), (QStringList{"comboBoxCOM=/dev/ttyUSB9", "comboBox_BoudRate=19200"}));
    }

    // On a screen smaller than the form (the offscreen one is 800 × 600) the window opens no larger
    // than the screen's free area and the central area scrolls to the form's far corner; at the
    // form's own size nothing scrolls.
    void smallScreen()
    {
        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QVERIFY(window.screen()->availableGeometry().contains(window.frameGeometry()));
        auto *scroll = window.findChild<QScrollArea *>("centralScrollArea");
        auto *tabs = window.findChild<QTabWidget *>("tabWidget");
        QCOMPARE(tabs->geometry(), QRect(600, 340, 921, 331));
        scroll->horizontalScrollBar()->setValue(scroll->horizontalScrollBar()->maximum());
        scroll->verticalScrollBar()->setValue(scroll->verticalScrollBar()->maximum());
        QVERIFY(scroll->viewport()->rect().contains(tabs->mapTo(scroll->viewport(), tabs->rect().bottomRight())));
        window.setWindowState(Qt::WindowNoState);
        window.resize(1528, 823);
        QTRY_COMPARE(scroll->horizontalScrollBar()->maximum() + scroll->verticalScrollBar()->maximum(), 0);
    }

private:
    QTranslator translator;
};

int main(int argc, char *argv[])
{
    // The captions are measured at the resolution of a usual desktop unless a copy started for
    // another is running; the offscreen platform would otherwise take 100 dpi.
    if (qEnvironmentVariableIntValue("QT_FONT_DPI") <= 0)
        qputenv("QT_FONT_DPI", "96");
    scaleWithScreen(); // as the window is started
    drawWithoutOpenGL();
    startReadingFontConfiguration(); // likewise: the font configuration is read beside the application's start
    QApplication application(argc, argv);
    installFormFonts();
    TestForm test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_form.moc"
