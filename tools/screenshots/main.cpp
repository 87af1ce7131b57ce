// zelvik-screenshots: takes the operator guide's pictures of the real window. It starts the
// simulated sensor on a pseudo-terminal, opens the window on it, presses the buttons of the top
// area and of each tab so that the fields show the sensor's answers, and saves the window as the
// X server shows it (xcb platform, normally under xvfb-run), cropped to the part each picture is
// about.
#include "captionfit.h"
#include "fonts.h"
#include "mainwindow.h"
#include "toolsupport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPixmap>
#include <QProcess>
#include <QScreen>
#include <QSet>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QPlainTextEdit>
#include <QTimer>
#include <QWindow>

#include <cstdio>
#include <initializer_list>

namespace {

void print(const QString &text)
{
    std::fputs(qPrintable(text + QLatin1Char('\n')), stdout);
    std::fflush(stdout);
}

// One simulated sensor, reachable through a symbolic link of our choosing.
class Simulator
{
public:
    bool start(const QString &program, const QString &link, const QStringList &extraArgs)
    {
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(program, QStringList{QStringLiteral("--link"), link} + extraArgs);
        if (!process.waitForStarted(5000))
            return false;
        // The first line of its output is the terminal's path; once it is there the link exists.
        while (!process.canReadLine()) {
            if (!process.waitForReadyRead(5000))
                return false;
        }
        ptyPath = QString::fromLocal8Bit(process.readLine()).trimmed();
        return QFileInfo::exists(link);
    }

    void stop()
    {
        if (process.state() == QProcess::NotRunning)
            return;
        process.terminate();
        if (!process.waitForFinished(3000))
            process.kill();
        process.waitForFinished(1000);
    }

    ~Simulator() { stop(); }

    QString ptyPath;

private:
    QProcess process;
};

class Shooter
{
public:
    Shooter(MainWindow &window, const QDir &images, int settleMs)
        : window(window), images(images), settleMs(settleMs)
    {
    }

    template <typename T> T *widget(const QString &name)
    {
        T *found = window.findChild<T *>(name);
        if (!found)
            qFatal("The window has no widget named %s", qPrintable(name));
        return found;
    }

    void press(const QString &name, int ms = -1)
    {
        widget<QAbstractButton>(name)->click();
        wait(ms < 0 ? settleMs : ms);
    }

    void setText(const QString &name, const QString &text) { widget<QLineEdit>(name)->setText(text); }
    void setIndex(const QString &name, int index) { widget<QComboBox>(name)->setCurrentIndex(index); }
    void setChecked(const QString &name, bool checked) { widget<QAbstractButton>(name)->setChecked(checked); }

    void showTab(const QString &title)
    {
        auto *tabs = widget<QTabWidget>(QStringLiteral("tabWidget"));
        for (int i = 0; i < tabs->count(); ++i) {
            if (tabs->tabText(i) == title) {
                tabs->setCurrentIndex(i);
                wait(150);
                reportTextsThatDoNotFit();
                return;
            }
        }
        problem(QStringLiteral("no tab titled %1").arg(title));
    }

    // The window's own native window as the X server shows it.
    QPixmap grabWindow()
    {
        window.repaint();
        wait(250);
        return window.windowHandle()->screen()->grabWindow(window.winId());
    }

    // The rectangle, in window coordinates, that covers the named widgets plus a margin.
    QRect area(std::initializer_list<const char *> names, int margin = 8)
    {
        QRect united;
        for (const char *name : names) {
            QWidget *w = widget<QWidget>(QLatin1String(name));
            united = united.united(QRect(w->mapTo(&window, QPoint(0, 0)), w->size()));
        }
        return united.adjusted(-margin, -margin, margin, margin).intersected(window.rect());
    }

    void save(const QPixmap &pixmap, const QString &path)
    {
        if (pixmap.isNull() || !pixmap.save(path, "PNG"))
            problem(QStringLiteral("could not save %1").arg(path));
        else
            print(QStringLiteral("Saved %1 (%2 x %3)").arg(path).arg(pixmap.width()).arg(pixmap.height()));
    }

    void saveArea(const QString &file, const QRect &rect) { save(grabWindow().copy(rect), images.filePath(file)); }

    // Waits for the next modal message box, saves it (when file is not empty), records its text
    // and closes it with OK. The box runs a nested event loop, so the watching is done by a timer.
    QString handleBox(const QString &file, int timeoutMs)
    {
        QString boxText;
        QEventLoop loop;
        QTimer poll;
        QElapsedTimer clock;
        clock.start();
        int shownTicks = 0;
        QObject::connect(&poll, &QTimer::timeout, [&]() {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box || !box->isVisible() || !box->windowHandle() || !box->windowHandle()->isExposed()) {
                if (clock.elapsed() > timeoutMs) {
                    poll.stop();
                    loop.quit();
                }
                return;
            }
            if (++shownTicks < 6) // let it paint
                return;
            poll.stop();
            boxText = box->text();
            if (!file.isEmpty())
                save(box->windowHandle()->screen()->grabWindow(box->winId()), images.filePath(file));
            if (QAbstractButton *ok = box->button(QMessageBox::Ok))
                ok->click();
            else
                box->reject();
            loop.quit();
        });
        poll.start(50);
        loop.exec();
        if (boxText.isEmpty())
            problem(QStringLiteral("no message box appeared within %1 ms").arg(timeoutMs));
        else
            print(QStringLiteral("Message box: %1").arg(boxText));
        wait(300);
        return boxText;
    }

    QString text(const QString &name)
    {
        if (auto *edit = window.findChild<QLineEdit *>(name))
            return edit->text();
        return widget<QLabel>(name)->text();
    }

    void expectFilled(std::initializer_list<const char *> names)
    {
        for (const char *name : names) {
            const QString value = text(QLatin1String(name));
            if (value.isEmpty())
                problem(QStringLiteral("%1 is empty").arg(QLatin1String(name)));
            else
                print(QStringLiteral("  %1 = %2").arg(QLatin1String(name), value));
        }
    }

    void expectChecked(const QString &name, bool checked)
    {
        if (widget<QAbstractButton>(name)->isChecked() != checked)
            problem(QStringLiteral("%1 should be %2").arg(name, checked ? QStringLiteral("checked") : QStringLiteral("unchecked")));
    }

    void expectLog(const QString &part)
    {
        if (!widget<QPlainTextEdit>(QStringLiteral("textEditPM"))->toPlainText().contains(part))
            problem(QStringLiteral("the log has no line with \"%1\"").arg(part));
    }

    // Lists the captions of the visible widgets that do not fit the room their fixed geometry
    // leaves with the fonts in use, once each.
    void reportTextsThatDoNotFit()
    {
        for (const ClippedCaption &clipped : clippedCaptions(&window)) {
            const QWidget *w = window.findChild<QWidget *>(clipped.objectName.section(QLatin1Char('#'), 0, 0));
            if (!w || !w->isVisible() || reported.contains(clipped.objectName))
                continue;
            reported.insert(clipped.objectName);
            print(QStringLiteral("Text cut off: %1 \"%2\" by %3 px")
                      .arg(clipped.objectName, clipped.caption).arg(clipped.overflow));
        }
    }

    // Opens the log pane's context menu and saves the pane with the menu over it, as the X server
    // shows them (the menu is a window of its own).
    void shootLogMenu(const QString &file)
    {
        auto *pane = widget<QPlainTextEdit>(QStringLiteral("textEditPM"));
        const QPoint at(pane->viewport()->width() / 2, 40);
        bool shown = false;
        QTimer::singleShot(600, [&] {
            auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
            if (!menu)
                return;
            shown = true;
            const QRect area = QRect(pane->mapToGlobal(QPoint(0, 0)), pane->size()).united(menu->geometry());
            save(window.windowHandle()->screen()->grabWindow(0, area.x(), area.y(), area.width(), 260), images.filePath(file));
            menu->close();
        });
        QContextMenuEvent event(QContextMenuEvent::Mouse, at, pane->viewport()->mapToGlobal(at));
        QApplication::sendEvent(pane->viewport(), &event);
        if (!shown)
            problem(QStringLiteral("the log pane's context menu did not open"));
    }

    void problem(const QString &what)
    {
        problems << what;
        print(QStringLiteral("PROBLEM: %1").arg(what));
    }

    QStringList problems;

private:
    MainWindow &window;
    QSet<QString> reported;
    QDir images;
    int settleMs;
};

void shootTabs(Shooter &s)
{
    const auto tabArea = [&s]() { return s.area({"label_5", "lineEdit_TransSend_2", "tabWidget"}); };

    s.showTab(QStringLiteral("ModbusAddr"));
    s.press(QStringLiteral("pushButton_GetDeviceAddr"));
    s.expectFilled({"lineEdit_DeviceAddr"});
    // The probe shows its finding in a box; the sensor runs at 9600 baud.
    s.press(QStringLiteral("pushButton_GetBaudrate"), 0);
    s.handleBox(QStringLiteral("box-baudrate.png"), 10000);
    s.saveArea(QStringLiteral("tab-ModbusAddr.png"), tabArea());

    s.showTab(QStringLiteral("SetSleep"));
    s.press(QStringLiteral("pushButton_SetSleep"));
    s.press(QStringLiteral("pushButton_WakeDevice"));
    s.saveArea(QStringLiteral("tab-SetSleep.png"), tabArea());

    s.showTab(QStringLiteral("CleanDust"));
    s.setIndex(QStringLiteral("comboBoxAutoCleanDust"), 0);
    s.press(QStringLiteral("pushButton_AutoCleanDust"));
    s.expectFilled({"lineEdit_AutoCleanTime", "lineEdit_AutoCleanDustJianGe"});
    s.saveArea(QStringLiteral("tab-CleanDust.png"), tabArea());

    s.showTab(QStringLiteral("SetHeater"));
    s.press(QStringLiteral("pushButton_GetHeatMode"));
    s.setIndex(QStringLiteral("comboBox_HeatTemp"), 0);
    s.press(QStringLiteral("pushButton_HeatTemp"));
    s.setIndex(QStringLiteral("comboBox_HeatHumi"), 0);
    s.press(QStringLiteral("pushButton_HeatHumi"));
    s.expectChecked(QStringLiteral("radioButton_AutoHeat"), true);
    s.expectFilled({"lineEdit_HeatTempHigh", "lineEdit_HeatTempLow", "lineEdit_HeatHumiHigh", "lineEdit_HeatHumiLow"});
    s.saveArea(QStringLiteral("tab-SetHeater.png"), tabArea());
    // A threshold outside what the field takes is refused with a box, and nothing is sent.
    s.setIndex(QStringLiteral("comboBox_HeatTemp"), 1);
    s.setText(QStringLiteral("lineEdit_HeatTempHigh"), QStringLiteral("300"));
    // The box opens inside the click, so the click must come from the event loop handleBox runs.
    QTimer::singleShot(0, s.widget<QAbstractButton>(QStringLiteral("pushButton_HeatTemp")), &QAbstractButton::click);
    s.handleBox(QStringLiteral("box-refused-input.png"), 5000);
    s.setIndex(QStringLiteral("comboBox_HeatTemp"), 0);

    // Select units No.1 and No.3, then read the mode back.
    s.showTab(QStringLiteral("SetWorkMode"));
    s.setChecked(QStringLiteral("checkBox_No1"), true);
    s.setChecked(QStringLiteral("checkBox_No3"), true);
    s.press(QStringLiteral("pushButton_ManualSet"));
    s.press(QStringLiteral("pushButton_GetWorkMode"));
    s.expectChecked(QStringLiteral("radioButton_Manualset"), true);
    s.expectChecked(QStringLiteral("checkBox_No1"), true);
    s.expectChecked(QStringLiteral("checkBox_No2"), false);
    s.expectChecked(QStringLiteral("checkBox_No3"), true);
    s.saveArea(QStringLiteral("tab-SetWorkMode.png"), tabArea());

    s.showTab(QStringLiteral("TempAndHumi"));
    s.press(QStringLiteral("pushButton_GetTempHumi"));
    s.expectFilled({"lineEdit_Temp", "lineEdit_Humi"});
    s.saveArea(QStringLiteral("tab-TempAndHumi.png"), tabArea());

    // The simulated sensor was started with unit No.2 failing its self test.
    s.showTab(QStringLiteral("GetSelfTest"));
    s.press(QStringLiteral("pushButton_GetSelfCheck"));
    s.expectChecked(QStringLiteral("checkBox_Selfcheck1"), false);
    s.expectChecked(QStringLiteral("checkBox_Selfcheck2"), true);
    s.saveArea(QStringLiteral("tab-GetSelfTest.png"), tabArea());

    s.showTab(QStringLiteral("GlobalSet"));
    s.press(QStringLiteral("pushButton_GetGlobalOnOff"));
    s.expectChecked(QStringLiteral("checkBox_Global1"), true);
    s.saveArea(QStringLiteral("tab-GlobalSet.png"), tabArea());

    // Write a calibration of unit No.1, PM2.5, then read it back.
    s.showTab(QStringLiteral("Calibration"));
    s.setIndex(QStringLiteral("comboBox_Calibrate"), 1);
    s.setIndex(QStringLiteral("comboBox_CalibrateObject"), 1);
    s.setIndex(QStringLiteral("comboBox_CalibrateRange"), 0);
    s.setText(QStringLiteral("lineEdit_CalibrZero"), QStringLiteral("5"));
    s.setText(QStringLiteral("lineEdit_CalibrateFactor"), QStringLiteral("105"));
    s.press(QStringLiteral("pushButton_Calibrate"));
    s.setIndex(QStringLiteral("comboBox_Calibrate"), 0);
    s.press(QStringLiteral("pushButton_Calibrate"));
    s.expectFilled({"lineEdit_CalibrZero", "lineEdit_CalibrateFactor"});
    if (s.text(QStringLiteral("lineEdit_CalibrZero")) != QLatin1String("5")
        || s.text(QStringLiteral("lineEdit_CalibrateFactor")) != QLatin1String("105"))
        s.problem(QStringLiteral("the calibration read back is not the one written"));
    s.saveArea(QStringLiteral("tab-Calibration.png"), tabArea());
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Takes the operator guide's screenshots of the ZelvikConfig window against the simulated\n"
        "sensor. Needs an X display and the xcb platform; run it under xvfb-run."));
    parser.addHelpOption();
    const QCommandLineOption imagesOption(QStringLiteral("images"), QStringLiteral("Folder for the pictures."),
                                          QStringLiteral("dir"), QStringLiteral("docs/images"));
    const QCommandLineOption mainOption(QStringLiteral("main"), QStringLiteral("Where the whole-window picture goes."),
                                        QStringLiteral("file"), QStringLiteral("docs/screenshot.png"));
    const QCommandLineOption simOption(QStringLiteral("sim"), QStringLiteral("The simulated sensor program."),
                                       QStringLiteral("path"), simulatorPath());
    const QCommandLineOption settleOption(QStringLiteral("settle"),
                                          QStringLiteral("Milliseconds to wait after each query (default 900)."),
                                          QStringLiteral("ms"), QStringLiteral("900"));
    parser.addOptions({imagesOption, mainOption, simOption, settleOption});
    parser.process(application);

    if (QGuiApplication::platformName() != QLatin1String("xcb")) {
        print(QStringLiteral("The pictures must show the window as X draws it: run under xvfb-run with "
                             "the xcb platform (this is \"%1\").").arg(QGuiApplication::platformName()));
        return 2;
    }
    installFormFonts();

    const QDir images(parser.value(imagesOption));
    if (!QDir().mkpath(images.path()) || !QDir().mkpath(QFileInfo(parser.value(mainOption)).absolutePath())) {
        print(QStringLiteral("Cannot create the output folders."));
        return 1;
    }
    QTemporaryDir scratch(QDir::tempPath() + QStringLiteral("/zelvik-shots-XXXXXX"));
    if (!scratch.isValid()) {
        print(QStringLiteral("Cannot create a temporary folder."));
        return 1;
    }
    const QString simProgram = parser.value(simOption);
    const QString sensorLink = scratch.filePath(QStringLiteral("zelvik-sim"));
    const QString faultyLink = scratch.filePath(QStringLiteral("zelvik-sim-faulty"));

    // Unit No.2 fails its self test, so that the self-test tab has something to show.
    Simulator sensor;
    if (!sensor.start(simProgram, sensorLink, {QStringLiteral("--self-test"), QStringLiteral("0xd")})) {
        print(QStringLiteral("The simulated sensor did not start (%1).").arg(simProgram));
        return 1;
    }
    print(QStringLiteral("Simulated sensor on %1 (%2)").arg(sensorLink, sensor.ptyPath));

    QStringList problems;
    {
        MainWindow window;
        window.resize(1528, 823);
        window.move(0, 0);
        window.show();
        wait(800);
        Shooter s(window, images, parser.value(settleOption).toInt());
        auto *portBox = s.widget<QComboBox>(QStringLiteral("comboBoxCOM"));

        // Getting started: a port that does not exist, a command with the port closed, then the
        // simulated sensor.
        portBox->setEditText(QStringLiteral("/dev/ttyUSB0"));
        s.press(QStringLiteral("pushButtonOpen"), 300);
        s.expectLog(QStringLiteral("Cannot open"));
        s.press(QStringLiteral("pushButton_GetSensorData"), 300);
        s.expectLog(QStringLiteral("not open"));
        portBox->setEditText(sensorLink);
        s.press(QStringLiteral("pushButtonOpen"), 300);
        if (!s.widget<QAbstractButton>(QStringLiteral("pushButtonClose"))->isEnabled())
            s.problem(QStringLiteral("the simulated sensor's port did not open"));
        s.press(QStringLiteral("pushButton_GetInfo"), 1500);
        s.press(QStringLiteral("pushButton_GetSensorData"));
        s.expectLog(QStringLiteral("All Sensor: PM2.5 = "));
        s.save(s.grabWindow(), images.filePath(QStringLiteral("getting-started.png")));

        // The top area, with a fresh log short enough not to be cut by the picture's edge.
        s.press(QStringLiteral("pushButton"), 200);
        s.press(QStringLiteral("pushButton_GetInfo"), 1500);
        s.expectFilled({"Edit_DeviceID", "label_softid"});
        s.press(QStringLiteral("pushButton_ChangeToModbus"), 0);
        s.handleBox(QStringLiteral("box-change-to-modbus.png"), 5000);
        s.expectLog(QStringLiteral("Device change to MODBUS!"));
        s.setIndex(QStringLiteral("comboBoxSendObject"), 0);
        s.press(QStringLiteral("pushButton_GetSensorData"));
        s.expectLog(QStringLiteral("All Sensor: PM2.5 = "));
        s.shootLogMenu(QStringLiteral("log-menu.png"));
        s.saveArea(QStringLiteral("top-area.png"),
                   s.area({"groupBox_Com", "label_2", "label_softid", "pushButton_GetInfo", "pushButton_ChangeToModbus_2",
                           "pushButton_SetFactoryConfig", "pushButton_GetSensorData", "comboBoxSendObject",
                           "label_5", "lineEdit_TransSend_2"}));

        // The whole window: measurements of single units, then the average again.
        for (int target : {1, 2, 0}) {
            s.setIndex(QStringLiteral("comboBoxSendObject"), target);
            s.press(QStringLiteral("pushButton_GetSensorData"));
        }
        s.expectLog(QStringLiteral("Sensor 2:  PM2.5 = "));
        s.showTab(QStringLiteral("TempAndHumi"));
        s.press(QStringLiteral("pushButton_GetTempHumi"));
        s.reportTextsThatDoNotFit();
        s.save(s.grabWindow(), parser.value(mainOption));

        shootTabs(s);

        // A faulty line: replies cut in two and some with a flipped bit.
        s.press(QStringLiteral("pushButtonClose"), 200);
        Simulator faulty;
        if (faulty.start(simProgram, faultyLink,
                         {QStringLiteral("--split"), QStringLiteral("--corrupt-rate"), QStringLiteral("0.4"),
                          QStringLiteral("--seed"), QStringLiteral("7")})) {
            portBox->setEditText(faultyLink);
            s.press(QStringLiteral("pushButton"), 200);
            s.press(QStringLiteral("pushButtonOpen"), 300);
            s.setIndex(QStringLiteral("comboBoxSendObject"), 0);
            const auto *log = s.widget<QPlainTextEdit>(QStringLiteral("textEditPM"));
            for (int i = 0; i < 12; ++i) {
                s.press(QStringLiteral("pushButton_GetSensorData"), 1100);
                const QString text = log->toPlainText();
                if (i >= 4 && text.contains(QLatin1String("CRC")) && text.contains(QLatin1String("All Sensor")))
                    break;
            }
            s.expectLog(QStringLiteral("Reply refused: CRC mismatch"));
            s.saveArea(QStringLiteral("log-faults.png"), s.area({"textEditPM"}));
            s.press(QStringLiteral("pushButtonClose"), 200);
        } else {
            s.problem(QStringLiteral("the faulty simulated sensor did not start"));
        }
        faulty.stop();
        problems = s.problems;
    }
    sensor.stop();

    if (!problems.isEmpty()) {
        print(QStringLiteral("%1 problem(s); check the pictures.").arg(problems.size()));
        return 1;
    }
    print(QStringLiteral("All pictures taken."));
    return 0;
}
