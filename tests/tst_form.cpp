// The main window as the operator first sees it: widget tree, names, geometry, fonts, texts,
// the withdrawn tabs, the About box, the embedded catalogue and tear-down with an open port.
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

#include <iterator>

namespace {

const char *const kS12 = "font: 75 12pt \"微软雅黑\";";
const char *const kS10 = "font: 75 10pt \"微软雅黑\";";
const char *const kBlue = "border-color: rgb(0, 0, 255);";
const char *const kPane = "QTabWidget:pane {border:1px solid #205B7B;background:  transparent; }";
const char *const kTipK = "<html><head/><body><p><span style=\" font-size:10pt;\">Use in Kelvra Protocol</span></p></body></html>";
const char *const kTipM = "<html><head/><body><p><span style=\" font-size:10pt;\">Use in Modbus Protocol</span></p></body></html>";

// One widget of the form, in creation order within each parent. x < 0: the geometry is managed
// by the container. font: 'A' (12 pt), 'B' (10 pt) or 0 (the form sets no font). style: the exact
// style sheet ("" for none). text: the initial caption, title or contents (a combo's entries
// joined by '|'); extra: a button's tool tip or a combo's current text. nullptr: not checked.
struct FormWidget {
    const char *name;
    const char *className;
    const char *parent;
    int x, y, w, h;
    char font;
    const char *style;
    const char *text;
    const char *extra;
};

// In creation order within each parent.
const FormWidget kForm[] = {
    {"centralWidget", "QWidget", "MainWindow", -1, 0, 0, 0, 0, "", nullptr, nullptr},
    {"textEditPM", "QPlainTextEdit", "centralWidget", 10, 90, 571, 591, 'A', kS12, "", nullptr},
    {"label_2", "QLabel", "centralWidget", 760, 30, 71, 31, 'A', kS12, "DeviceID：", nullptr},
    {"label_3", "QLabel", "centralWidget", 996, 30, 121, 31, 'A', kS12, "FirmwareID:", nullptr},
    {"label_softid", "QLabel", "centralWidget", 1116, 34, 121, 21, 'A', kS12, "Firmware ID", nullptr},
    {"pushButton_GetInfo", "QPushButton", "centralWidget", 620, 90, 121, 31, 'A', kS12, "GetDeviceInfo", kTipK},
    {"pushButton_SetID", "QPushButton", "centralWidget", 790, 90, 131, 31, 'A', kS12, "SetDeviceId", kTipK},
    {"Edit_DeviceID", "QLineEdit", "centralWidget", 842, 30, 121, 31, 'A', kS12, "ffff-ffff", nullptr},
    {"pushButton_ChangeToModbus", "QPushButton", "centralWidget", 790, 150, 191, 41, 'A', kS12, "ChangeToModbus", nullptr},
    {"pushButton_ChangeToModbus_2", "QPushButton", "centralWidget", 1000, 150, 201, 41, 'A', kS12, "ChangeToKelvraProtocol", nullptr},
    {"pushButton_SetFactoryConfig", "QPushButton", "centralWidget", 620, 150, 151, 41, 'A', kS12, "SetFactorySetting", kTipM},
    {"lineEdit_TransSend_2", "QLineEdit", "centralWidget", 710, 290, 641, 31, 0, "", "", nullptr},
    {"label_5", "QLabel", "centralWidget", 620, 280, 111, 41, 'A', kS12, "SendOrder:", nullptr},
    {"pushButton_GetSensorData", "QPushButton", "centralWidget", 620, 220, 151, 41, 'A', kS12, "ReadResult", kTipM},
    {"label_7", "QLabel", "centralWidget", 794, 220, 111, 41, 'A', kS12, "ReadTarget：", nullptr},
    {"comboBoxSendObject", "QComboBox", "centralWidget", 890, 220, 91, 31, 'A', kS12, "Avg|1|2|3|4", "Avg"},
    {"groupBox_Com", "QGroupBox", "centralWidget", 10, 10, 691, 61, 0, kS12, "COM", nullptr},
    {"comboBoxCOM", "QComboBox", "groupBox_Com", 82, 22, 81, 22, 'A', "", nullptr, nullptr},
    {"pushButtonClose", "QPushButton", "groupBox_Com", 398, 20, 75, 31, 'A', "", "Close", nullptr},
    {"label", "QLabel", "groupBox_Com", 24, 24, 61, 21, 'A', "", "COM:", nullptr},
    {"comboBox_BoudRate", "QComboBox", "groupBox_Com", 190, 22, 81, 22, 0, "", "9600|4800|9600|19200", "9600"},
    {"pushButtonOpen", "QPushButton", "groupBox_Com", 308, 20, 75, 31, 'A', "", "Open", nullptr},
    {"pushButton_3", "QPushButton", "groupBox_Com", 490, 20, 81, 31, 'A', "", "Rearesh", nullptr},
    {"pushButton", "QPushButton", "groupBox_Com", 589, 20, 75, 31, 'A', "", "Clear", nullptr},
    {"tabWidget", "QTabWidget", "centralWidget", 600, 340, 921, 331, 0, kPane, nullptr, nullptr},
    {"tab_DeviceAddr", "QWidget", "tabWidget", -1, 0, 0, 0, 0, "", nullptr, nullptr},
    {"pushButton_GetDeviceAddr", "QPushButton", "tab_DeviceAddr", 30, 30, 131, 31, 0, "", "GetModbusAddr", nullptr},
    {"pushButton_SetDeviceAddr", "QPushButton", "tab_DeviceAddr", 30, 90, 131, 31, 0, "", "SetModbusAddr", nullptr},
    {"label_DeviceAddr", "QLabel", "tab_DeviceAddr", 166, 30, 135, 31, 0, kS12, "ModbusAddr： 0x", nullptr},
    {"lineEdit_DeviceAddr", "QLineEdit", "tab_DeviceAddr", 303, 30, 51, 31, 0, kS12, "", nullptr},
    {"pushButton_SetBaudrate", "QPushButton", "tab_DeviceAddr", 390, 90, 91, 31, 0, "", "SetBaudrate", nullptr},
    {"comboBox_SetBoudRate", "QComboBox", "tab_DeviceAddr", 514, 90, 91, 31, 0, "", "9600|4800|9600|19200", "9600"},
    {"pushButton_GetBaudrate", "QPushButton", "tab_DeviceAddr", 390, 30, 91, 31, 0, "", "GetBaudrate", nullptr},
    {"tab", "QWidget", "tabWidget", -1, 0, 0, 0, 0, "", nullptr, nullptr},
    {"pushButton_SetSleep", "QPushButton", "tab", 50, 40, 121, 41, 0, "", "SetSleep", nullptr},
    {"pushButton_WakeDevice", "QPushButton", "tab", 50, 140, 121, 41, 0, "", "WakeUp", nullptr},
    {"tab_cleandust", "QWidget", "tabWidget", -1, 0, 0, 0, 0, "", nullptr, nullptr},
    {"pushButton_2", "QPushButton", "tab_cleandust", 30, 194, 111, 31, 'B', kS10, "ManualClean", nullptr},
    {"label_8", "QLabel", "tab_cleandust", 171, 187, 171, 41, 'B', "", "DurationTime:", nullptr},
    {"lineEdit_CleanDustTime", "QLineEdit", "tab_cleandust", 270, 190, 41, 31, 0, kBlue, "10", nullptr},
    {"pushButton_AutoCleanDust", "QPushButton", "tab_cleandust", 30, 46, 111, 31, 'B', "", "AutoCleanSet", nullptr},
    {"comboBoxAutoCleanDust", "QComboBox", "tab_cleandust", 171, 51, 81, 22, 'B', "", "Query|Set", "Query"},
    {"label_9", "QLabel", "tab_cleandust", 31, 99, 161, 41, 'B', "", "DurationTime(sec):", nullptr},
    {"lineEdit_AutoCleanTime", "QLineEdit", "tab_cleandust", 168, 100, 41, 31, 0, "", "", nullptr},
    {"label_10", "QLabel", "tab_cleandust", 230, 96, 151, 41, 'B', "", "IntervalTime(hour):", nullptr},
    {"lineEdit_AutoCleanDustJianGe", "QLineEdit", "tab_cleandust", 390, 100, 41, 31, 0, "", "", nullptr},
    {"tab_heat", "QWidget", "tabWidget", -1, 0, 0, 0, 0, "", nullptr, nullptr},
    {"pushButton_ManualHeat", "QPushButton", "tab_heat", 350, 46, 81, 31, 0, "", "ManualSet", nullptr},
    {"pushButton_AutoHeat", "QPushButton", "tab_heat", 350, 126, 81, 31, 0, "", "AutoSet", nullptr},
    {"pushButton_GetHeatMode", "QPushButton", "tab_heat", 40, 46, 131, 31, 0, "", "GetCurrentSetting", nullptr},
    {"radioButton_ManualHeat", "QRadioButton", "tab_heat", 204, 52, 121, 16, 0, "", "ManualControl", nullptr},
    {"radioButton_AutoHeat", "QRadioButton", "tab_heat", 204, 110, 111, 16, 0, "", "AutoControl", nullptr},
    {"radioButton_StartHeat", "QRadioButton", "tab_heat", 459, 52, 101, 21, 0, "", "StartHeating", nullptr},
    {"radioButton_StopHeat", "QRadioButton", "tab_heat", 459, 96, 101, 21, 0, "", "StopHeating", nullptr},
    {"groupBox", "QGroupBox", "tab_heat", 9, 170, 861, 111, 0, "", "AutoHeatingThreshold", nullptr},
    {"pushButton_HeatTemp", "QPushButton", "groupBox", 30, 30, 75, 23, 0, "", "Temp", nullptr},
    {"pushButton_HeatHumi", "QPushButton", "groupBox", 30, 70, 75, 23, 0, "", "Humi", nullptr},
    {"comboBox_HeatTemp", "QComboBox", "groupBox", 130, 30, 69, 22, 0, "", "Query|Set", "Query"},
    {"comboBox_HeatHumi", "QComboBox", "groupBox", 130, 70, 69, 22, 0, "", "Query|Set", "Query"},
    {"label_17", "QLabel", "groupBox", 240, 32, 141, 16, 0, "", "HighThreshold(>0)：", nullptr},
    {"label_18", "QLabel", "groupBox", 240, 70, 141, 16, 0, "", "HighThreshold(>Low)：", nullptr},
    {"lineEdit_HeatTempHigh", "QLineEdit", "groupBox", 400, 30, 61, 20, 0, "", "", nullptr},
    {"lineEdit_HeatHumiHigh", "QLineEdit", "groupBox", 401, 67, 61, 20, 0, "", "", nullptr},
    {"label_19", "QLabel", "groupBox", 470, 32, 21, 16, 0, "", "℃", nullptr},
    {"lineEdit_HeatTempLow", "QLineEdit", "groupBox", 670, 30, 61, 20, 0, "", "", nullptr},
    {"lineEdit_HeatHumiLow", "QLineEdit", "groupBox", 674, 70, 61, 20, 0, "", "", nullptr},
    {"label_20", "QLabel", "groupBox", 540, 32, 131, 16, 0, "", "LowThreshold(<0)：", nullptr},
    {"label_21", "QLabel", "groupBox", 740, 32, 21, 16, 0, "", "℃", nullptr},
    {"label_22", "QLabel", "groupBox", 470, 70, 21, 16, 0, "", "%", nullptr},
    {"label_23", "QLabel", "groupBox", 744, 70, 21, 16, 0, "", "%", nullptr},
    {"label_24", "QLabel", "groupBox", 540, 69, 111, 16, 0, "", "LowThreshold：", nullptr},
    {"tab_workmode", "QWidget", "tabWidget", -1, 0, 0, 0, 0, "", nullptr, nullptr},
    {"pushButton_AutoAll", "QPushButton", "tab_workmode", 30, 120, 131, 31, 0, "", "AutoAllWork", nullptr},
    {"pushButton_AutoSingle", "QPushButton", "tab_workmode", 30, 190, 131, 31, 0, "", "AutoSingleWork", nullptr},
    {"pushButton_ManualSet", "QPushButton", "tab_workmode", 210, 120, 121, 31, 0, "", "SelectWork", nullptr},
    {"pushButton_GetWorkMode", "QPushButton", "tab_workmode", 30, 40, 131, 31, 0, "", "QueryWorkMode", nullptr},
    {"radioButton_Autoall", "QRadioButton", "tab_workmode", 230, 50, 101, 16, 0, "", "AutoAllWork", nullptr},
    {"radioButton_Autosingle", "QRadioButton", "tab_workmode", 385, 50, 121, 16, 0, "", "AutoSingleWork", nullptr},
    {"radioButton_Manualset", "QRadioButton", "tab_workmode", 540, 50, 101, 16, 0, "", "SelectWork", nullptr},
    {"checkBox_No1", "QCheckBox", "tab_workmode", 350, 125, 101, 16, 0, "", "No.1Unit", nullptr},
    {"checkBox_No2", "QCheckBox", "tab_workmode", 350, 163, 101, 16, 0, "", "No.2Unit", nullptr},
    {"checkBox_No3", "QCheckBox", "tab_workmode", 350, 200, 101, 16, 0, "", "No.3Unit", nullptr},
    {"checkBox_No4", "QCheckBox", "tab_workmode", 350, 240, 101, 16, 0, "", "No.4Unit", nullptr},
    {"tab_GetTempHumi", "QWidget", "tabWidget", -1, 0, 0, 0, 0, "", nullptr, nullptr},
    {"pushButton_GetTempHumi", "QPushButton", "tab_GetTempHumi", 30, 40, 151, 31, 0, "", "QueryInnerTH", nullptr},
    {"label_13", "QLabel", "tab_GetTempHumi", 220, 40, 61, 21, 0, kS12, "Temp：", nullptr},
    {"label_14", "QLabel", "tab_GetTempHumi", 220, 90, 61, 21, 0, kS12, "Humi：", nullptr},
    {"lineEdit_Temp", "QLineEdit", "tab_GetTempHumi", 280, 34, 51, 31, 0, kS12, "", nullptr},
    {"lineEdit_Humi", "QLineEdit", "tab_GetTempHumi", 280, 88, 51, 31, 0, kS12, "", nullptr},
    {"label_15", "QLabel", "tab_GetTempHumi", 340, 43, 54, 12, 0, "", "℃", nullptr},
    {"label_16", "QLabel", "tab_GetTempHumi", 342, 96, 54, 12, 0, "", "%", nullptr},
    {"tab_GetSelfCheck", "QWidget", "tabWidget", -1, 0, 0, 0, 0, "", nullptr, nullptr},
    {"pushButton_GetSelfCheck", "QPushButton", "tab_GetSelfCheck", 30, 40, 131, 31, 0, "", "QuerySelfTest", nullptr},
    {"label_11", "QLabel", "tab_GetSelfCheck", 215, 40, 501, 31, 0, "", "Please query after starting on 5 minutes,the following is the unit in error state.", nullptr},
    {"checkBox_Selfcheck1", "QCheckBox", "tab_GetSelfCheck", 220, 80, 121, 16, 0, "", "No.1Unit", nullptr},
    {"checkBox_Selfcheck2", "QCheckBox", "tab_GetSelfCheck", 220, 130, 121, 16, 0, "", "No.2Unit", nullptr},
    {"checkBox_Selfcheck3", "QCheckBox", "tab_GetSelfCheck", 350, 80, 121, 16, 0, "", "No.3Unit", nullptr},
    {"checkBox_Selfcheck4", "QCheckBox", "tab_GetSelfCheck", 350, 130, 121, 16, 0, "", "No.4Unit", nullptr},
    {"tab_GlobalSet", "QWidget", "tabWidget", -1, 0, 0, 0, 0, "", nullptr, nullptr},
    {"pushButton_GetGlobalOnOff", "QPushButton", "tab_GlobalSet", 30, 90, 121, 31, 0, "", "QueryGlobalSet", nullptr},
    {"pushButton_SetGlobalOnOff", "QPushButton", "tab_GlobalSet", 30, 170, 121, 31, 0, "", "SetGlobalSet", nullptr},
    {"checkBox_Global1", "QCheckBox", "tab_GlobalSet", 180, 110, 121, 16, 0, "", "No.1Unit", nullptr},
    {"checkBox_Global2", "QCheckBox", "tab_GlobalSet", 180, 160, 121, 16, 0, "", "No.2Unit", nullptr},
    {"checkBox_Global3", "QCheckBox", "tab_GlobalSet", 310, 110, 121, 16, 0, "", "No.3Unit", nullptr},
    {"checkBox_Global4", "QCheckBox", "tab_GlobalSet", 310, 160, 121, 16, 0, "", "No.4Unit", nullptr},
    {"label_12", "QLabel", "tab_GlobalSet", 30, 20, 851, 21, 0, kS12, "Please use it carefully,global set is effective even in AutoMode;In ManualMode,the latter setting is effective.", nullptr},
    {"label_25", "QLabel", "tab_GlobalSet", 180, 60, 291, 21, 0, kS12, "Checked is open,unchecked is close", nullptr},
    {"tab_Calibrate", "QWidget", "tabWidget", -1, 0, 0, 0, 0, "", nullptr, nullptr},
    {"pushButton_Calibrate", "QPushButton", "tab_Calibrate", 10, 30, 111, 31, 0, kS12, "Calibration", nullptr},
    {"comboBox_Calibrate", "QComboBox", "tab_Calibrate", 140, 34, 69, 22, 0, "", "Query|Set", "Query"},
    {"label_26", "QLabel", "tab_Calibrate", 235, 23, 61, 41, 'A', kS12, "Target:", nullptr},
    {"comboBox_CalibrateObject", "QComboBox", "tab_Calibrate", 310, 30, 69, 22, 0, "", "Avg|No.1|No.2|No.3|No.4", "Avg"},
    {"lineEdit_CalibrZero", "QLineEdit", "tab_Calibrate", 104, 98, 71, 31, 0, "", "", nullptr},
    {"lineEdit_CalibrateFactor", "QLineEdit", "tab_Calibrate", 420, 100, 71, 31, 0, "", "", nullptr},
    {"label_27", "QLabel", "tab_Calibrate", 20, 90, 81, 41, 'A', kS12, "Num Cali:", nullptr},
    {"label_28", "QLabel", "tab_Calibrate", 330, 90, 81, 41, 'A', kS12, "Ratio Cali:", nullptr},
    {"comboBox_CalibrateRange", "QComboBox", "tab_Calibrate", 570, 30, 91, 22, 0, "", "PM2.5|PM10|PM100", "PM2.5"},
    {"label_29", "QLabel", "tab_Calibrate", 410, 20, 141, 41, 'A', kS12, "Calibration Range:", nullptr},
    {"label_33", "QLabel", "tab_Calibrate", 190, 90, 91, 41, 'A', kS12, "(-255~255)", nullptr},
    {"label_34", "QLabel", "tab_Calibrate", 508, 92, 81, 41, 'A', kS12, "(10~250)", nullptr},
    {"tab_TransSend", "QWidget", "tabWidget", -1, 0, 0, 0, 0, "", nullptr, nullptr},
    {"label_4", "QLabel", "tab_TransSend", 20, 20, 111, 41, 'B', "", "TransTarget:", nullptr},
    {"comboBoxTransObject", "QComboBox", "tab_TransSend", 110, 30, 81, 22, 'B', "", "1|2|3|4", "1"},
    {"label_6", "QLabel", "tab_TransSend", 220, 20, 131, 41, 'B', "", "General Commands：", nullptr},
    {"comboBoxCommonCMD", "QComboBox", "tab_TransSend", 356, 30, 81, 22, 'B', "", "None|Sleep", "None"},
    {"pushButton_TransSend", "QPushButton", "tab_TransSend", 10, 80, 151, 31, 'B', "", "TransSend：", nullptr},
    {"pushButton_TransRead", "QPushButton", "tab_TransSend", 10, 140, 151, 31, 'B', "", "TransRead：", nullptr},
    {"lineEdit_TransSend", "QLineEdit", "tab_TransSend", 180, 80, 641, 31, 0, "", "", nullptr},
    {"lineEdit_TransRead", "QLineEdit", "tab_TransSend", 180, 140, 641, 31, 0, "", "", nullptr},
    {"tab_2", "QWidget", "tabWidget", -1, 0, 0, 0, 0, "", nullptr, nullptr},
    {"pushButton_GetFactor", "QPushButton", "tab_2", 50, 40, 141, 31, 0, "", "QueryAllSelfTest", nullptr},
    {"label_30", "QLabel", "tab_2", 250, 40, 311, 31, 0, "", "Please query after starting on 5 minutes.", nullptr},
    {"lineEdit_1Factor", "QLineEdit", "tab_2", 150, 110, 81, 41, 0, "", "", nullptr},
    {"lineEdit_2Factor", "QLineEdit", "tab_2", 270, 110, 81, 41, 0, "", "", nullptr},
    {"lineEdit_3Factor", "QLineEdit", "tab_2", 390, 110, 81, 41, 0, "", "", nullptr},
    {"lineEdit_4Factor", "QLineEdit", "tab_2", 500, 110, 81, 41, 0, "", "", nullptr},
    {"label_31", "QLabel", "tab_2", 14, 115, 121, 31, 'A', kS12, "SelfTestFactor:", nullptr},
    {"lineEdit_1Factor_2", "QLineEdit", "tab_2", 150, 180, 81, 41, 0, "", "", nullptr},
    {"lineEdit_2Factor_2", "QLineEdit", "tab_2", 270, 180, 81, 41, 0, "", "", nullptr},
    {"lineEdit_3Factor_2", "QLineEdit", "tab_2", 390, 180, 81, 41, 0, "", "", nullptr},
    {"label_32", "QLabel", "tab_2", 14, 185, 131, 31, 'A', kS12, "Suspectedactor:", nullptr},
    {"lineEdit_4Factor_2", "QLineEdit", "tab_2", 500, 180, 81, 41, 0, "", "", nullptr},
    {"menuBar", "QMenuBar", "MainWindow", 0, 0, 1528, 23, 0, "", nullptr, nullptr},
    {"mainToolBar", "QToolBar", "MainWindow", -1, 0, 0, 0, 0, "", nullptr, nullptr},
    {"statusBar", "QStatusBar", "MainWindow", -1, 0, 0, 0, 0, "", nullptr, nullptr},
};

const QStringList kVisibleTabs = {"ModbusAddr", "SetSleep", "CleanDust", "SetHeater", "SetWorkMode",
                                    "TempAndHumi", "GetSelfTest", "GlobalSet", "Calibration"};

// Texts the catalogue leaves untranslated: the title, numbers, units and unit-less placeholders.
const QSet<QString> kUntranslated = {
    "ZelvikConfig", "COM:", "Firmware ID", "ffff-ffff", "10", "1", "2", "3", "4", "9600", "4800",
    "19200", "PM2.5", "PM10", "PM100", "(-255~255)", "(10~250)", "℃", "%", ""};

// The tab widget keeps its pages in an internal stacked widget; report the tab widget instead.
QString ownerName(const QObject *object)
{
    const QObject *parent = object->parent();
    if (parent && parent->objectName() == QLatin1String("qt_tabwidget_stackedwidget"))
        parent = parent->parent();
    return parent ? parent->objectName() : QString();
}

QStringList comboItems(const QComboBox *combo)
{
    QStringList items;
    for (int i = 0; i < combo->count(); ++i)
        items << combo->itemText(i);
    return items;
}

QString mainText(const QWidget *widget)
{
    if (auto *combo = qobject_cast<const QComboBox *>(widget))
        return comboItems(combo).join(QLatin1Char('|'));
    if (auto *edit = qobject_cast<const QPlainTextEdit *>(widget))
        return edit->toPlainText();
    return widget->property(qobject_cast<const QGroupBox *>(widget) ? "title" : "text").toString();
}

QString extraText(const QWidget *widget)
{
    if (auto *combo = qobject_cast<const QComboBox *>(widget))
        return combo->currentText();
    return widget->toolTip();
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
    void initTestCase() { previousHandler = qInstallMessageHandler(collectUnmatchedSlots); }
    void cleanupTestCase() { qInstallMessageHandler(previousHandler); }

    void formContract_data()
    {
        QTest::addColumn<int>("row");
        for (int i = 0; i < int(std::size(kForm)); ++i)
            QTest::newRow(kForm[i].name) << i;
    }

    void formContract()
    {
        QFETCH(int, row);
        const FormWidget &expected = kForm[row];
        MainWindow window;

        const QList<QWidget *> found = window.findChildren<QWidget *>(QLatin1String(expected.name));
        QCOMPARE(found.size(), 1);
        QWidget *widget = found.first();
        QCOMPARE(widget->metaObject()->className(), expected.className);
        QCOMPARE(ownerName(widget), QString::fromUtf8(expected.parent));
        if (expected.x >= 0)
            QCOMPARE(widget->geometry(), QRect(expected.x, expected.y, expected.w, expected.h));
        QCOMPARE(widget->styleSheet(), QString::fromUtf8(expected.style));
        if (expected.text)
            QCOMPARE(mainText(widget), QString::fromUtf8(expected.text));
        if (expected.extra)
            QCOMPARE(extraText(widget), QString::fromUtf8(expected.extra));

        if (expected.font == 0) {
            QVERIFY2(!widget->testAttribute(Qt::WA_SetFont), "the form sets no font on this widget");
        } else {
            // The font the widget ends up with. Where its own or an ancestor's style sheet names a
            // font, that one wins ("font: 75 12pt" is weight 75/8 = 9, the same as the form's font).
            QVERIFY(widget->testAttribute(Qt::WA_SetFont));
            const QFont font = widget->font();
            QCOMPARE(font.family(), QStringLiteral("微软雅黑"));
            QCOMPARE(font.pointSize(), expected.font == 'A' ? 12 : 10);
            QCOMPARE(font.weight(), 9);
            QVERIFY(!font.italic());
        }
    }

    // Creation order is also the keyboard focus order: each container's named children must appear
    // in the order of the table.
    void creationOrder()
    {
        MainWindow window;
        QMap<QString, QStringList> expected;
        QSet<QString> names;
        for (const FormWidget &w : kForm) {
            expected[QString::fromUtf8(w.parent)] << QString::fromUtf8(w.name);
            names.insert(QString::fromUtf8(w.name));
        }
        for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
            if (it.key() == QLatin1String("tabWidget")) {
                // Switching pages reorders the stack's children; the tab order tells the page order.
                // The last two pages are withdrawn from the bar.
                auto *tabs = window.findChild<QTabWidget *>(it.key());
                QStringList pages;
                for (int i = 0; i < tabs->count(); ++i)
                    pages << tabs->widget(i)->objectName();
                QCOMPARE(pages, it.value().mid(0, it.value().size() - 2));
                QCOMPARE(it.value().mid(it.value().size() - 2), (QStringList {"tab_TransSend", "tab_2"}));
                continue;
            }
            const QObject *parent = it.key() == QLatin1String("MainWindow")
                ? static_cast<QObject *>(&window) : window.findChild<QObject *>(it.key());
            QVERIFY2(parent, qPrintable(it.key()));
            QStringList actual;
            for (const QObject *child : parent->children())
                if (names.contains(child->objectName()))
                    actual << child->objectName();
            QCOMPARE(actual, it.value());
        }
    }

    void startupState()
    {
        unmatchedSlots.clear();
        MainWindow window;
        // Every slot found its widget by name, except the one whose widget does not exist.
        QCOMPARE(unmatchedSlots, QStringList {QStringLiteral("on_pushButtonTestBoudrate_clicked()")});
        QCOMPARE(window.size(), QSize(1528, 823));
        QCOMPARE(window.windowTitle(), QStringLiteral("ZelvikConfig"));
        // "9600" is listed twice; the first one is current.
        QCOMPARE(window.findChild<QComboBox *>(QStringLiteral("comboBox_BoudRate"))->currentIndex(), 0);
        QCOMPARE(window.findChild<QComboBox *>(QStringLiteral("comboBox_SetBoudRate"))->currentIndex(), 0);

        auto *tabs = window.findChild<QTabWidget *>(QStringLiteral("tabWidget"));
        QVERIFY(tabs);
        QStringList titles;
        for (int i = 0; i < tabs->count(); ++i)
            titles << tabs->tabText(i);
        QCOMPARE(titles, kVisibleTabs);
        QCOMPARE(tabs->currentIndex(), 0); // "ModbusAddr": creationOrder() checks the page order
        // Withdrawn from the bar; formContract() finds the pages and their widgets still alive.
        for (const char *page : {"tab_TransSend", "tab_2"})
            QCOMPARE(tabs->indexOf(window.findChild<QWidget *>(QLatin1String(page))), -1);

        QVERIFY(window.findChild<QWidget *>(QStringLiteral("pushButton_SetID"))->isHidden());
        QVERIFY(!WindowProbe::polling(window));
        QVERIFY(!WindowProbe::serial(window).isOpen());

        // The port list is what the system reported, in its order; only the port combo is editable.
        auto *com = window.findChild<QComboBox *>(QStringLiteral("comboBoxCOM"));
        QStringList ports;
        for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts())
            ports << info.portName();
        QCOMPARE(comboItems(com), ports);
        for (QComboBox *combo : window.findChildren<QComboBox *>())
            QCOMPARE(combo->isEditable(), combo == com);

        // Nothing is read-only, limited, ticked or disabled by the form; the window disables Close.
        for (QLineEdit *edit : window.findChildren<QLineEdit *>()) {
            QVERIFY2(!edit->isReadOnly() && !edit->validator() && edit->maxLength() == 32767,
                     qPrintable(edit->objectName()));
        }
        for (QAbstractButton *button : window.findChildren<QAbstractButton *>()) {
            QVERIFY2(!button->isChecked(), qPrintable(button->objectName()));
            if (!button->objectName().isEmpty())
                QCOMPARE(button->isEnabled(), button->objectName() != QLatin1String("pushButtonClose"));
        }

        // Menu bar: "&Options" with the unticked "Local echo", then "&About" with one entry "&About";
        // tool bar: a single separator.
        QCOMPARE(window.menuBar(), window.findChild<QMenuBar *>(QStringLiteral("menuBar")));
        const QList<QAction *> menus = window.menuBar()->actions();
        QCOMPARE(menus.size(), 2);
        QCOMPARE(menus.at(0)->text(), QStringLiteral("&Options"));
        QCOMPARE(menus.at(0)->menu()->actions().size(), 1);
        QCOMPARE(menus.at(0)->menu()->actions().first()->text(), QStringLiteral("Local echo"));
        QVERIFY(!menus.at(0)->menu()->actions().first()->isChecked());
        QCOMPARE(menus.at(1)->text(), QStringLiteral("&About"));
        const QList<QAction *> entries = menus.at(1)->menu()->actions();
        QCOMPARE(entries.size(), 1);
        QCOMPARE(entries.first()->text(), QStringLiteral("&About"));
        auto *toolBar = window.findChild<QToolBar *>(QStringLiteral("mainToolBar"));
        QCOMPARE(window.toolBarArea(toolBar), Qt::TopToolBarArea);
        QCOMPARE(toolBar->actions().size(), 1);
        QVERIFY(toolBar->actions().first()->isSeparator());
        QCOMPARE(window.statusBar(), window.findChild<QStatusBar *>(QStringLiteral("statusBar")));
        QVERIFY(window.statusBar()->currentMessage().isEmpty());
    }

    void aboutBox()
    {
        MainWindow window;
        window.show();
        QAction *entry = window.menuBar()->actions().last()->menu()->actions().first();
        ModalCloser closer(50);
        entry->trigger(); // returns once the closer has dismissed the box
        QCOMPARE(closer.count(), 1);
        const ModalCloser::Box box = closer.boxes().first();
        QCOMPARE(box.title, QStringLiteral("About"));
        QCOMPARE(box.text, QStringLiteral("<html>V1.3</html><html><br>Zelvik Config and Test </html><html>"
                                          "<br>https://zelvik.example/ </html><html><br>2017.9.18</html>"));
        QCOMPARE(box.buttons, QStringList {QStringLiteral("Ok")});
        QVERIFY(!closer.isBoxOpen());
        QVERIFY(window.isVisible());
    }

    void catalogue_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("chinese");
        QTest::newRow("Open") << "Open" << "打开";
        QTest::newRow("Rearesh") << "Rearesh" << "刷新";
        QTest::newRow("Query") << "Query" << "查询";
        QTest::newRow("ModbusAddr") << "ModbusAddr" << "Modbus地址";
        QTest::newRow("ModbusAddr： 0x") << "ModbusAddr： 0x" << "Modbus地址： 0x";
        QTest::newRow("No.3Unit") << "No.3Unit" << "3号单元";
        QTest::newRow("tip K") << kTipK
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

        QResource resource(QStringLiteral(":/ts/zh_CN.qm"));
        QVERIFY(resource.isValid());
        QCOMPARE(resource.compressionAlgorithm(), QResource::NoCompression);
        QTranslator translator;
        QVERIFY(translator.load(QStringLiteral(":/ts/zh_CN.qm")));
        QCOMPARE(translator.translate("MainWindow", source.toUtf8().constData()), chinese);

        // Every caption and tab title of the form outside the untranslated set has a Chinese counterpart.
        QStringList sources = kVisibleTabs + QStringList {QStringLiteral("Transmission"), QStringLiteral("GetAllSelfTest")};
        for (const FormWidget &w : kForm) {
            if (w.text)
                sources << QString::fromUtf8(w.text).split(QLatin1Char('|'));
            if (w.extra)
                sources << QString::fromUtf8(w.extra);
        }
        for (const QString &part : qAsConst(sources)) {
            if (!kUntranslated.contains(part)) {
                const QString translated = translator.translate("MainWindow", part.toUtf8().constData());
                QVERIFY2(!translated.isEmpty() && translated != part, qPrintable(part));
            }
        }

        // The program itself installs no translator: a fresh window still speaks English.
        MainWindow window;
        QCOMPARE(window.findChild<QPushButton *>(QStringLiteral("pushButtonOpen"))->text(), QStringLiteral("Open"));
        QCOMPARE(QCoreApplication::translate("MainWindow", "Rearesh"), QStringLiteral("Rearesh"));
    }

    void commandLine_data()
    {
        QTest::addColumn<QStringList>("arguments"); // after the program's name
        QTest::addColumn<int>("action");
        QTest::addColumn<bool>("textOnly");
        QTest::addColumn<QStringList>("chosen"); // port, baud rate, record file
        QTest::addColumn<QString>("message");    // a part of it
        using A = CommandLine::Action;
        auto row = [](const char *tag, const QStringList &arguments, A action, const QStringList &chosen, const QString &message) {
            QTest::newRow(tag) << arguments << int(action) << (action == A::Help || action == A::Version) << chosen << message;
        };
        row("nothing", {}, A::Run, {"", "0", ""}, "");
        row("all choices", {"--port", "/dev/serial/by-id/usb-FTDI-if00-port0", "--baud", "4800", "--record", "/tmp/bench.log"}, A::Run,
            {"/dev/serial/by-id/usb-FTDI-if00-port0", "4800", "/tmp/bench.log"}, "");
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
            QCOMPARE((QStringList{parsed.port, QString::number(parsed.baudRate), parsed.recordFile}), chosen);
    }

    // The port and speed from the command line are shown, not opened; a speed the window does not
    // offer is refused and changes nothing. Ctrl+Q closes the window.
    void preselectAndQuit()
    {
        MainWindow window;
        QString error;
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
        QCOMPARE(QFontInfo(window.findChild<QLabel *>("label_11")->font()).family(), QFontInfo(QFont("微软雅黑")).family());
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
    // line hang up) and leave no poll tick behind.
    void destroyWithOpenPort()
    {
        QVERIFY(openOnPty());
        QVERIFY(WindowProbe::polling(*window));
        QVERIFY(!widget("pushButtonOpen")->isEnabled() && widget("pushButtonClose")->isEnabled());
        QVERIFY(!pty->slaveClosed());

        window.reset();
        QTRY_VERIFY_WITH_TIMEOUT(pty->slaveClosed(), 2000);
        QTest::qWait(400); // a stray poll tick would hit a destroyed window here
    }
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
