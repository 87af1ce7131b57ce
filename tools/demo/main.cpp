// Tries the tool without a sensor: starts the simulated sensor on a pseudo-terminal and opens the
// window with that port entered. Without a display it runs a short scripted session instead,
// saves a screenshot and prints the log pane.
#include "fonts.h"
#include "mainwindow.h"
#include "screenscale.h"
#include "toolsupport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QCommandLineParser>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QProcess>
#include <QTabWidget>
#include <QPlainTextEdit>
#include <QTimer>

#include <cstdio>

namespace {

bool hasDisplay()
{
    return !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

void press(MainWindow &window, const char *objectName, int settleMs)
{
    if (auto *button = window.findChild<QAbstractButton *>(QLatin1String(objectName)))
        button->click();
    wait(settleMs);
}

void print(const QString &text)
{
    std::fputs(qPrintable(text + QLatin1Char('\n')), stdout);
    std::fflush(stdout);
}

int runScripted(MainWindow &window, const QString &screenshot)
{
    // The offscreen screen is smaller than the form, where the window would open maximized and
    // scrolled: the screenshot shows the whole form instead.
    window.setWindowState(Qt::WindowNoState);
    window.resize(1528, 823);
    window.show();
    press(window, "pushButtonOpen", 300);
    press(window, "pushButton_GetInfo", 1500); // the firmware request follows the identifier reply
    press(window, "pushButton_GetSensorData", 900);
    press(window, "pushButton_GetDeviceAddr", 900);
    press(window, "pushButton_GetTempHumi", 900);
    press(window, "pushButton_GetSelfCheck", 900);
    press(window, "pushButton_GetWorkMode", 900);
    window.findChild<QTabWidget *>(QStringLiteral("tabWidget"))->setCurrentIndex(5);
    wait(100);

    const bool saved = window.grab().save(screenshot);
    print(saved ? QStringLiteral("Screenshot: %1").arg(QFileInfo(screenshot).absoluteFilePath())
                : QStringLiteral("Could not save the screenshot to %1").arg(screenshot));
    print(QStringLiteral("DeviceID: %1   FirmwareID: %2   ModbusAddr: 0x%3   Temp: %4   Humi: %5")
              .arg(window.findChild<QLineEdit *>(QStringLiteral("Edit_DeviceID"))->text(),
                   window.findChild<QLabel *>(QStringLiteral("label_softid"))->text(),
                   window.findChild<QLineEdit *>(QStringLiteral("lineEdit_DeviceAddr"))->text(),
                   window.findChild<QLineEdit *>(QStringLiteral("lineEdit_Temp"))->text(),
                   window.findChild<QLineEdit *>(QStringLiteral("lineEdit_Humi"))->text()));
    print(QStringLiteral("Log:"));
    print(window.findChild<QPlainTextEdit *>(QStringLiteral("textEditPM"))->toPlainText());
    press(window, "pushButtonClose", 0);
    return saved ? 0 : 1;
}

} // namespace

int main(int argc, char *argv[])
{
    bool headless = !hasDisplay();
    for (int i = 1; i < argc; ++i)
        headless = headless || qstrcmp(argv[i], "--headless") == 0;
    if (headless && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // The offscreen screen reports 100 dpi; the screenshot shows the form as on an ordinary 96-dpi
    // desktop, where every caption fits.
    if (headless && qEnvironmentVariableIsEmpty("QT_FONT_DPI"))
        qputenv("QT_FONT_DPI", "96");

    if (!headless)
        scaleWithScreen(); // as zelvikconfig starts; the headless screenshot stays at the form's own size
    drawWithoutOpenGL();
    QApplication application(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Starts the simulated sensor and the ZelvikConfig window with its port entered.\n"
        "Without a display it runs a short session, saves a screenshot and prints the log."));
    parser.addHelpOption();
    parser.addOption({QStringLiteral("headless"), QStringLiteral("Run the scripted session even with a display.")});
    parser.addOption({QStringLiteral("screenshot"), QStringLiteral("Where the scripted session saves its PNG."),
                      QStringLiteral("file"), QStringLiteral("zelvik-demo.png")});
    parser.addOption({QStringLiteral("sim-args"), QStringLiteral("Extra options for the simulated sensor."),
                      QStringLiteral("options")});
    parser.process(application);
    installFormFonts();

    QProcess simulator;
    simulator.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QStringList simArgs;
    if (parser.isSet(QStringLiteral("sim-args")))
        simArgs = QProcess::splitCommand(parser.value(QStringLiteral("sim-args")));
    simulator.start(simulatorPath(), simArgs);
    if (!simulator.waitForStarted(5000) || !simulator.waitForReadyRead(5000)) {
        print(QStringLiteral("The simulated sensor did not start: %1").arg(simulator.errorString()));
        return 1;
    }
    while (!simulator.canReadLine() && simulator.waitForReadyRead(2000)) {
    }
    const QString port = QString::fromLocal8Bit(simulator.readLine()).trimmed();
    print(QStringLiteral("Simulated sensor on %1").arg(port));

    int result = 0;
    {
        MainWindow window;
        auto *portBox = window.findChild<QComboBox *>(QStringLiteral("comboBoxCOM"));
        portBox->setEditText(port);
        if (headless) {
            result = runScripted(window, parser.value(QStringLiteral("screenshot")));
        } else {
            print(QStringLiteral("Press Open, then try the buttons. Close the window to end the demo."));
            window.show();
            result = QApplication::exec();
        }
    }
    simulator.terminate();
    if (!simulator.waitForFinished(2000))
        simulator.kill();
    return result;
}
