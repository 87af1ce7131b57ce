// The main window as the operator first sees it: the withdrawn tabs and button, the start-up
// state of every combo box and field, the auto-connections, the menus, the About box, the
// embedded catalogue, captions that fit, the read-only log pane, the command line, the settings
// file read at start and tear-down with an open port.
#include "captionfit.h"
#include "commandline.h"
#include "fonts.h"
#include "mainwindow.h"
#include "modalcloser.h"
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
        QStandardPaths::setTestModeEnabled(true); // settings of this run only
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

        // Nothing is read-only, limited, ticked or disabled by the form; the window disables Close.
        for (QLineEdit *edit : window.findChildren<QLineEdit *>()) {
            if (edit->parent() == com)
                continue;
            QCOMPARE(edit->text(), kFilledFields.value(edit->objectName()));
            QVERIFY2(!edit->isReadOnly() && !edit->validator() && edit->maxLength() == 32767,
                     qPrintable(edit->objectName()));
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
        QCOMPARE(menus, (QStringList{"&Tools > Measurements…", "&Options > Local echo", "&About > &About"}));
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
    void everyCaptionTranslated()
    {
        MainWindow window;
        QStringList sources = kVisibleTabs + QStringList {QStringLiteral("Transmission"), QStringLiteral("GetAllSelfTest")};
        for (QWidget *widget : window.findChildren<QWidget *>()) {
            if (widget->objectName().isEmpty() || widget->objectName().startsWith(QLatin1String("qt_"))
                || widget->objectName() == QLatin1String("comboBoxCOM"))
                continue;
            if (auto *combo = qobject_cast<QComboBox *>(widget))
                sources << comboItems(combo);
            else if (auto *group = qobject_cast<QGroupBox *>(widget))
                sources << group->title();
            else if (qobject_cast<QLabel *>(widget) || qobject_cast<QAbstractButton *>(widget))
                sources << widget->property("text").toString();
            sources << widget->toolTip();
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

    void commandLine_data()
    {
        QTest::addColumn<QStringList>("arguments"); // after the program's name
        QTest::addColumn<int>("action");
        QTest::addColumn<bool>("textOnly");
        QTest::addColumn<QStringList>("chosen"); // port, baud rate, record file, local echo
        QTest::addColumn<QString>("message");    // a part of it
        using A = CommandLine::Action;
        auto row = [](const char *tag, const QStringList &arguments, A action, const QStringList &chosen, const QString &message) {
            QTest::newRow(tag) << arguments << int(action) << (action == A::Help || action == A::Version) << chosen << message;
        };
        row("nothing", {}, A::Run, {"", "0", "", "remembered"}, "");
        row("all choices", {"--port", "/dev/serial/by-id/usb-FTDI-if00-port0", "--baud", "4800", "--record", "/tmp/bench.log", "--local-echo"},
            A::Run, {"/dev/serial/by-id/usb-FTDI-if00-port0", "4800", "/tmp/bench.log", "on"}, "");
        row("local echo off", {"--no-local-echo"}, A::Run, {"", "0", "", "off"}, "");
        row("local echo on and off", {"--local-echo", "--no-local-echo"}, A::Error, {}, "exclude");
        row("help", {"--help"}, A::Help, {"", "0", ""}, "--record <file>");
        row("help beside the toolkit's options", {"-platform", "xcb", "-h"}, A::Help, {"", "0", ""}, "--port <path>");
        row("help with the toolkit's options", {"--help-all"}, A::HelpAll, {"", "0", ""}, "");
        row("version", {"--port", "x", "--version"}, A::Version, {"", "0", ""}, QCoreApplication::applicationName() + ' ');
        row("unknown option", {"--bogus"}, A::Error, {"", "0", ""}, "bogus");
        row("baud not a number", {"--baud", "fast"}, A::Error, {"", "0", ""}, "\"fast\"");
        row("port without a path", {"--port"}, A::Error, {"", "0", ""}, "port");
        row("stray argument", {"/dev/ttyUSB0"}, A::Error, {"", "0", ""}, "/dev/ttyUSB0");
    }

    void commandLine()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, action);
        QFETCH(bool, textOnly);
        QFETCH(QStringList, chosen);
        QFETCH(QString, message);
        const QStringList line = QStringList{"zelvikconfig"} + arguments;
        QCOMPARE(asksForTextOnly(line), textOnly);
        const CommandLine parsed = parseCommandLine(line);
        QCOMPARE(int(parsed.action), action);
        QVERIFY2(parsed.message.contains(message), qPrintable(parsed.message));
        if (parsed.action == CommandLine::Action::Run)
            QCOMPARE((QStringList{parsed.port, QString::number(parsed.baudRate), parsed.recordFile,
                                  !parsed.localEcho ? "remembered" : *parsed.localEcho ? "on" : "off"}),
                     chosen);
    }

    // The port and speed from the command line are shown, not opened; a speed the window does not
    // offer is refused and changes nothing. Ctrl+Q closes the window.
    void preselectAndQuit()
    {
        MainWindow window;
        QString error;
        QVERIFY(window.preselect("/dev/ttyUSB7", 0, &error)); // no speed asked for: the window's own
        QCOMPARE(window.findChild<QComboBox *>("comboBoxCOM")->currentText(), QString("/dev/ttyUSB7"));
        QVERIFY(!window.preselect("/dev/ttyUSB7", 1234, &error));
        QVERIFY2(error.contains("(4800, 9600, 19200)"), qPrintable(error));
        QCOMPARE(window.findChild<QComboBox *>("comboBox_BoudRate")->currentIndex(), 0);
        QVERIFY(window.preselect("/dev/serial/by-id/usb-FTDI-if00-port0", 19200, &error));
        QCOMPARE(window.findChild<QComboBox *>("comboBoxCOM")->currentText(), QString("/dev/serial/by-id/usb-FTDI-if00-port0"));
        QCOMPARE(window.findChild<QComboBox *>("comboBox_BoudRate")->currentText(), QString("19200"));
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
        QCOMPARE(logLines(), ignoredBecause.isEmpty() ? QStringList()
                                                      : QStringList{"The settings file " + path
                                                                    + " was ignored and the choices made now are not saved in it: "
                                                                    + ignoredBecause});
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

    // Every caption fits its widget at 96 dpi with the fonts the window is run with. The rows that
    // move a widget back to its old geometry, or narrow it, show that the measurement sees the cuts.
    void captionsFit_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QRect>("geometry");
        QTest::addColumn<QStringList>("clipped");
        QTest::newRow("form as built") << QString() << QRect() << QStringList();
        QTest::newRow("label cut") << "label_DeviceAddr" << QRect(170, 30, 111, 31) << QStringList{"label_DeviceAddr"};
        QTest::newRow("label into its field") << "label_20" << QRect(600, 32, 131, 16) << QStringList{"label_20"};
        QTest::newRow("push button") << "pushButton_GetHeatMode" << QRect(40, 46, 100, 31) << QStringList{"pushButton_GetHeatMode"};
        QTest::newRow("radio button") << "radioButton_StartHeat" << QRect(459, 52, 70, 21) << QStringList{"radioButton_StartHeat"};
        QTest::newRow("check box") << "checkBox_No1" << QRect(350, 125, 50, 16) << QStringList{"checkBox_No1"};
        QTest::newRow("too short") << "label_13" << QRect(220, 40, 61, 12) << QStringList{"label_13"};
        // A hidden widget cuts no caption of its siblings (its own, too narrow here, is still measured).
        QTest::newRow("hidden button over a label") << "pushButton_SetID" << QRect(790, 30, 40, 31)
                                                    << QStringList{"pushButton_SetID"};
        QTest::newRow("tab titles") << "tabWidget" << QRect(600, 340, 500, 331)
                                    << QStringList{"tabWidget#5", "tabWidget#6", "tabWidget#7", "tabWidget#8"};
    }

    void captionsFit()
    {
        QFETCH(QString, name);
        QFETCH(QRect, geometry);
        QFETCH(QStringList, clipped);
        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(window.logicalDpiY(), 96);
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
        QVERIFY2(found == clipped, qPrintable(detail.join("; ")));
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

private:
    QTranslator translator;
};

int main(int argc, char *argv[])
{
    // The captions are measured at the resolution of a usual desktop; the offscreen platform
    // would otherwise take 100 dpi.
    qputenv("QT_FONT_DPI", "96");
    QApplication application(argc, argv);
    installFormFonts();
    TestForm test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_form.moc"
