// What the window tells about itself and how the operator reaches it: the central area scrolls
// on a screen smaller than the form, the status bar and title say where the port stands, keys
// reach the busiest buttons, and the fields that only show answers take no input.
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include <QAbstractButton>
#include <QEvent>
#include <QKeySequence>
#include <QLabel>
#include <QScreen>
#include <QScrollArea>
#include <QShortcut>
#include <QStatusBar>

namespace {

// Swallows what the operator does to a mark that only shows an answer. The window still sets it
// with setChecked(), and it keeps its normal look instead of the greyed one of a disabled box.
class AnswerMarkFilter : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
            return true;
        default:
            return QObject::eventFilter(watched, event);
        }
    }
};

// The note a tool tip gets for a key: a paragraph of its own in a rich-text tip, a line of its
// own in a plain one.
void addShortcutNote(QWidget *widget, const QString &what)
{
    const QString note = MainWindow::tr("Shortcut: %1").arg(what);
    QString tip = widget->toolTip();
    const int body = tip.lastIndexOf(QLatin1String("</body>"));
    if (tip.isEmpty())
        tip = note;
    else if (Qt::mightBeRichText(tip) && body >= 0)
        tip.insert(body, QStringLiteral("<p>") + note.toHtmlEscaped() + QStringLiteral("</p>"));
    else
        tip += QLatin1Char('\n') + note;
    widget->setToolTip(tip);
}

QString keyText(const QKeySequence &key)
{
    return key.toString(QKeySequence::NativeText);
}

} // namespace

void MainWindow::setUpScrolling()
{
    QWidget *form = takeCentralWidget();
    // The form's own extent: as wide as the window it was drawn in, and as high as its lowest
    // widget and the margin it keeps above its highest.
    const QRect used = form->childrenRect();
    form->setMinimumSize(qMax(width(), used.right() + 1), used.bottom() + 1 + used.top());
    auto *scroll = new QScrollArea(this);
    scroll->setObjectName(QStringLiteral("centralScrollArea"));
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true); // the form grows with a larger window, as it always did
    scroll->setWidget(form);
    setCentralWidget(scroll);

    // No larger than the screen's free area; there the window manager fits it, frame included.
    const QSize available = screen()->availableGeometry().size();
    if (width() > available.width() || height() > available.height()) {
        resize(size().boundedTo(available));
        setWindowState(windowState() | Qt::WindowMaximized);
    }
}

void MainWindow::setUpStatusBar()
{
    statusPort = new QLabel(ui->statusBar);
    statusPort->setObjectName(QStringLiteral("statusPort"));
    statusProtocol = new QLabel(ui->statusBar);
    statusProtocol->setObjectName(QStringLiteral("statusProtocol"));
    statusWaiting = new QLabel(ui->statusBar);
    statusWaiting->setObjectName(QStringLiteral("statusWaiting"));
    for (QLabel *part : {statusPort, statusProtocol, statusWaiting}) {
        part->setContentsMargins(4, 0, 16, 0); // the three read as three
        ui->statusBar->addWidget(part);
    }
    connect(ui->comboBoxCOM, &QComboBox::editTextChanged, this, &MainWindow::showStatus);
    // A query's request that waited goes out, or one ends, between two polls.
    connect(&session, &SensorSession::written, this, &MainWindow::showStatus);
    showStatus();
}

void MainWindow::showStatus()
{
    const bool open = link.isOpen();
    const QString port = open ? openedPort : ui->comboBoxCOM->currentText().trimmed();
    const int rate = open ? link.baudRate() : ui->comboBox_BoudRate->currentText().toInt();
    if (port.isEmpty())
        statusPort->setText(tr("No port chosen, %1 baud: closed").arg(rate));
    else if (open)
        statusPort->setText(tr("Port %1, %2 baud: open").arg(port).arg(rate));
    else
        statusPort->setText(tr("Port %1, %2 baud: closed").arg(port).arg(rate));
    statusProtocol->setText(tr("Protocol last chosen: %1").arg(protocolChosen.isEmpty() ? tr("none yet") : protocolChosen));
    statusWaiting->setText(tr("Queries waiting for an answer: %1").arg(session.outstanding()));
    setWindowTitle(open ? tr("%1 — %2").arg(formTitle, openedPort) : formTitle);
}

void MainWindow::chooseProtocol(const QByteArray &frame, const QString &protocol)
{
    if (writeFrame(frame))
        protocolChosen = protocol;
    echoFrame(frame);
    showStatus();
}

void MainWindow::setUpShortcuts()
{
    const QKeySequence openClose(QStringLiteral("Ctrl+O"));
    new QShortcut(openClose, this, this, [this] {
        if (link.isOpen())
            ui->pushButtonClose->click();
        else
            ui->pushButtonOpen->click();
    });
    addShortcutNote(ui->pushButtonOpen, keyText(openClose));
    addShortcutNote(ui->pushButtonClose, keyText(openClose));

    const QKeySequence read(Qt::Key_F5);
    new QShortcut(read, this, ui->pushButton_GetSensorData, &QAbstractButton::click);
    addShortcutNote(ui->pushButton_GetSensorData, keyText(read));

    // Enter in a numeric field sends it. A field of a "Query" / "Set" pair is typed to be set, so
    // its box turns to "Set" first: a query would empty what was just typed.
    struct Sender {
        QLineEdit *field;
        QAbstractButton *button;
        QComboBox *mode;
    };
    const Sender senders[] = {
        {ui->lineEdit_DeviceAddr, ui->pushButton_SetDeviceAddr, nullptr},
        {ui->lineEdit_CleanDustTime, ui->pushButton_2, nullptr},
        {ui->lineEdit_AutoCleanTime, ui->pushButton_AutoCleanDust, ui->comboBoxAutoCleanDust},
        {ui->lineEdit_AutoCleanDustJianGe, ui->pushButton_AutoCleanDust, ui->comboBoxAutoCleanDust},
        {ui->lineEdit_HeatTempHigh, ui->pushButton_HeatTemp, ui->comboBox_HeatTemp},
        {ui->lineEdit_HeatTempLow, ui->pushButton_HeatTemp, ui->comboBox_HeatTemp},
        {ui->lineEdit_HeatHumiHigh, ui->pushButton_HeatHumi, ui->comboBox_HeatHumi},
        {ui->lineEdit_HeatHumiLow, ui->pushButton_HeatHumi, ui->comboBox_HeatHumi},
        {ui->lineEdit_CalibrZero, ui->pushButton_Calibrate, ui->comboBox_Calibrate},
        {ui->lineEdit_CalibrateFactor, ui->pushButton_Calibrate, ui->comboBox_Calibrate},
    };
    for (const Sender &sender : senders) {
        connect(sender.field, &QLineEdit::returnPressed, sender.button, [sender] {
            if (sender.mode)
                sender.mode->setCurrentIndex(1); // "Set"
            sender.button->click();
        });
        const QString action = sender.mode ? tr("Enter presses %1 with \"%2\"").arg(sender.button->text(), sender.mode->itemText(1))
                                           : tr("Enter presses %1").arg(sender.button->text());
        addShortcutNote(sender.field, action);
    }
}

void MainWindow::makeAnswersReadOnly()
{
    for (QLineEdit *field : {ui->Edit_DeviceID, ui->lineEdit_TransSend_2, ui->lineEdit_Temp, ui->lineEdit_Humi,
                             ui->lineEdit_TransRead, ui->lineEdit_1Factor, ui->lineEdit_2Factor, ui->lineEdit_3Factor,
                             ui->lineEdit_4Factor, ui->lineEdit_1Factor_2, ui->lineEdit_2Factor_2, ui->lineEdit_3Factor_2,
                             ui->lineEdit_4Factor_2})
        field->setReadOnly(true); // still selectable and copied from
    auto *filter = new AnswerMarkFilter(this);
    const QList<QAbstractButton *> marks{ui->radioButton_Autoall,  ui->radioButton_Autosingle, ui->radioButton_Manualset,
                                         ui->radioButton_ManualHeat, ui->radioButton_AutoHeat,    ui->checkBox_Selfcheck1,
                                         ui->checkBox_Selfcheck2,    ui->checkBox_Selfcheck3,     ui->checkBox_Selfcheck4};
    for (QAbstractButton *mark : marks) {
        mark->setFocusPolicy(Qt::NoFocus);
        mark->installEventFilter(filter);
    }
}
