#ifndef ZELVIK_MAINWINDOW_H
#define ZELVIK_MAINWINDOW_H

#include "inputcheck.h"
#include "sensorsession.h"
#include "seriallink.h"
#include "sessionrecord.h"

#include <QBasicTimer>
#include <QElapsedTimer>
#include <QMainWindow>
#include <QPointer>
#include <QVariant>

#include <functional>
#include <initializer_list>

namespace Ui {
class MainWindow;
}

class MeasurementsWindow;
class QAction;
class QComboBox;
class QLabel;
class QLineEdit;
class QMessageBox;
class QCloseEvent;
class QSerialPortInfo;
class QTimerEvent;

// The one window of the tool: the form, the serial link, the sensor session and the 300 ms poll
// that hands the session what the port received. Commands live in the commands_*.cpp units, the
// poll tick and the placing of the session's results in receive.cpp.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // Start-up choices from the command line. The port and speed are only shown: the operator
    // still presses Open. False, with the reason, for a speed the window does not offer.
    bool preselect(const QString &port, int baudRate, QString *error);
    // Appends the session record to the file at path as it happens.
    bool recordTo(const QString &path, QString *error);
    // For adapters that echo what they send: the copy of each request that comes back right after
    // it was written is dropped before the reply is read. The choice is remembered in the settings
    // file, unless that file is ignored (see unusableSettings).
    void setLocalEcho(bool on);
    // "true" or "1" in the settings file; anything else, or a file that is ignored, is off.
    static bool rememberedLocalEcho();
    // The log pane prefixes each line with its time and shows each request written as a "→"
    // line. Off, the pane reads as the plain log; the session record keeps both either way. The
    // choice is remembered as local echo is.
    void setLogDetail(bool on);
    // The settings file: organization/application.conf in the user's configuration folder.
    static QString settingsPath();
    // Why the settings file at path is neither read nor written (the window logs it when it
    // starts): it is not a regular file, or it is larger than any the window writes. Empty when
    // it is fine or does not exist yet.
    static QString unusableSettings(const QString &path);

protected:
    void timerEvent(QTimerEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private slots:
    void on_pushButtonOpen_clicked();
    void on_pushButtonClose_clicked();
    void on_pushButton_clicked();
    void on_pushButton_GetInfo_clicked();
    void on_pushButton_SetID_clicked();
    void on_pushButton_3_clicked();
    void on_pushButton_ChangeToModbus_clicked();
    void on_pushButton_ChangeToModbus_2_clicked();
    void on_pushButton_SetFactoryConfig_clicked();
    void on_pushButton_TransSend_clicked();
    void on_pushButton_TransRead_clicked();
    void on_comboBoxCommonCMD_currentIndexChanged(const QString &arg1);
    void on_pushButton_GetSensorData_clicked();
    void on_pushButton_2_clicked();
    void on_pushButton_AutoCleanDust_clicked();
    void on_pushButton_ManualHeat_clicked();
    void on_pushButton_AutoHeat_clicked();
    void on_pushButton_GetHeatMode_clicked();
    void on_radioButton_StartHeat_clicked();
    void on_radioButton_StopHeat_clicked();
    void on_pushButton_AutoAll_clicked();
    void on_pushButton_AutoSingle_clicked();
    void on_pushButton_ManualSet_clicked();
    void on_pushButton_GetWorkMode_clicked();
    void on_pushButton_GetDeviceAddr_clicked();
    void on_pushButton_SetDeviceAddr_clicked();
    void on_pushButton_SetSleep_clicked();
    void on_pushButton_WakeDevice_clicked();
    void About();
    void on_pushButton_GetSelfCheck_clicked();
    void on_pushButton_GetGlobalOnOff_clicked();
    void on_pushButton_SetGlobalOnOff_clicked();
    void on_pushButton_GetTempHumi_clicked();
    void on_pushButton_HeatTemp_clicked();
    void on_pushButton_HeatHumi_clicked();
    void on_pushButton_Calibrate_clicked();
    void on_pushButton_GetFactor_clicked();
    void on_pushButtonTestBoudrate_clicked();
    void on_pushButton_GetBaudrate_clicked();
    void on_pushButton_SetBaudrate_clicked();

private:
    friend struct WindowProbe; // lets the tests look at the port and the poll timer

    // The serial link.
    void fillPortList(const QList<QSerialPortInfo> &ports);
    void showPort(const QString &port);
    void describeChosenPort();
    void enterClosedState();
    void onPortLost(const QString &reason);
    void appendLog(const QString &line);
    // A line in the pane only, with the time of the record's newest entry when the log shows times.
    void showInPane(const QString &line);

    // What the window remembers between runs, in the settings file; nothing is read from or
    // written to a file that unusableSettings refuses.
    static QVariant remembered(const QString &key);
    static bool rememberedFlag(const QString &key);
    static void remember(const QString &key, const QVariant &value);
    // The port and rate last opened, the tab and the window's place, as the last run left them.
    // The port and rate are remembered when the port opens, the tab and place when the window
    // is closed.
    void restoreChoices();
    void saveChoices();

    // The form keeps its fixed geometry: on a screen smaller than it the central area scrolls,
    // and the window opens no larger than the screen's free area.
    void setUpScrolling();
    // The status bar (port and rate, open or closed, the protocol last chosen, the queries
    // waiting) and the title, which names the open port.
    void setUpStatusBar();
    void showStatus();
    // Ctrl+O opens or closes the port, F5 reads the measurement, Enter in a numeric field sends it
    // with its Set button; each named in the tool tips.
    void setUpShortcuts();
    // Fields and marks that only show the device's answers take no clicks or typing.
    void makeAnswersReadOnly();
    // A protocol switch: written, it is the protocol last chosen.
    void chooseProtocol(const QByteArray &frame, const QString &protocol);
    // The log line for a self-test answer: all four units passed, or which failed.
    QString selfTestLine(quint8 passed) const;
    // The log pane's context menu and the session record behind it.
    void setUpLogPane();
    // Log lines that say more in a tool tip; the line's text block carries the kind.
    enum class LogTip { None = -1, NoAnswer = 1 };
    void tipLastLogLine(LogTip tip);
    QString logTipText(LogTip tip) const;
    void saveLog();
    void saveMeasurements();

    // Inputs: true when the number in edit is one its field (named by caption) accepts; else
    // an information box says what the field takes.
    bool inputAccepted(const QLineEdit *edit, const QLabel *caption, Input::Kind kind);
    // A caption as it reads inside a sentence: without the colon (plain or full-width) that ends
    // most captions.
    static QString captionInSentence(const QString &caption);

    // Commands: write one whole frame through the session (which reports a port that is not
    // open or refuses it), and show a frame in the echo field.
    bool writeFrame(const QByteArray &frame);
    void echoFrame(const QByteArray &frame);
    void sendAndEcho(const QByteArray &frame);
    // A query: the session writes its request now, or after the query ahead of it that expects
    // the same reply has ended, and matches the reply to it.
    void sendQuery(PendingReplies::Query query, const QByteArray &frame, int unitIndex = 0);
    void queryAndEcho(PendingReplies::Query query, const QByteArray &frame);
    // The widgets a query's reply fills are emptied or unticked first, so that they show only
    // what the device says.
    void emptyFields(std::initializer_list<QWidget *> shown);
    void emptyAndQuery(std::initializer_list<QWidget *> shown, PendingReplies::Query query, const QByteArray &frame);
    // A pair of fields behind a "Query" / "Set" box: "Query" empties both and sends queryFrame;
    // "Set" checks both and sends setFrame of their texts.
    struct CheckedField {
        QLineEdit *edit;
        const QLabel *caption;
        Input::Kind kind;
    };
    // A pair of heating thresholds, both accepted one by one: true when the high one (first) lies
    // above the low one; else an information box says so.
    bool thresholdsAccepted(const CheckedField &high, const CheckedField &low);
    void queryOrSet(const QComboBox *mode, PendingReplies::Query query, const QByteArray &queryFrame,
                    const CheckedField &first, const CheckedField &second,
                    const std::function<QByteArray(const QString &, const QString &)> &setFrame);

    // Replies: one poll tick hands the session what arrived; its results land here.
    void pollTick();
    void connectSession();
    void handleNativeReply(quint8 id, const QByteArray &frame);
    void showReadReply(const SensorSession::Reply &query);
    void showRefusal(const SensorSession::Refusal &refusal);
    void showProbeAnswer(quint8 step);
    void showLateReply(const SensorSession::Late &lateFor);
    // The rate box shows the port's rate (2400 added when the probe found it).
    void showRate(qint32 baudRate);
    // A rate chosen while the port is open applies to the port at once.
    void applyChosenRate();
    QString queryCaption(PendingReplies::Query query) const;
    // Milliseconds on the window's steady clock (the tests may drive it instead).
    qint64 now() const { return clockOverride ? clockOverride() : clock.elapsed(); }
    // An information box that does not block the poll; while one is open, others only log.
    void showInformation(const QString &text);
    // A box with one OK button that does not block the poll either.
    QMessageBox *openBox(const QString &title, const QString &text);

    Ui::MainWindow *ui;
    SerialLink link;
    SensorSession session{&link};
    QBasicTimer pollTimer;
    QElapsedTimer clock; // times the framer's and the queries' time-outs
    std::function<qint64()> clockOverride;
    QPointer<QMessageBox> infoBox;
    QString openedPort; // as the operator chose it, for the messages about it
    SessionRecord record;
    QAction *localEchoAction = nullptr;
    // Readings on a schedule and their chart (menu "Measurements…", Ctrl+M), made when first opened.
    void showMeasurements();
    MeasurementsWindow *measurements = nullptr;
    QAction *logDetailAction = nullptr;
    QLabel *statusPort = nullptr;
    QLabel *statusProtocol = nullptr;
    QLabel *statusWaiting = nullptr;
    QString formTitle;      // the window's title while no port is open
    QString protocolChosen; // by the last protocol switch written; empty before any
    QPointer<QMessageBox> factoryQuestion;
};

#endif
