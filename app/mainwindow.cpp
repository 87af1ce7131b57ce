#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "commandline.h"
#include "hextext.h"
#include "measurementswindow.h"
#include "tabpanestyle.h"

#include <memory>

#include <QAction>
#include <QButtonGroup>
#include <QComboBox>
#include <QFileInfo>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QSerialPortInfo>
#include <QSettings>
#include <QShortcut>
#include <QStandardPaths>
#include <QThread>

// Shown as the last line of the About box.
static const QString buildDate = QStringLiteral("2017.9.18");

namespace {
constexpr qint64 ReadBufferSize = qint64(64) * 1024;
const QString LocalEchoKey = QStringLiteral("localEcho");
const QString LogDetailKey = QStringLiteral("logDetail");
const QString PortKey = QStringLiteral("port");
const QString BaudRateKey = QStringLiteral("baudRate");
const QString TabKey = QStringLiteral("tab");
const QString GeometryKey = QStringLiteral("geometry");
// The window's settings take a few hundred bytes; QSettings would hold all of a larger file in memory.
constexpr qint64 MaxSettingsBytes = qint64(64) * 1024;

// A combo box makes and lays out its drop-down list as soon as its font is set, and the form sets
// the font of six of them: lists the operator may never open, an eighth of what building the form
// costs. While the form is built, their font-change events are held back: nothing a combo box
// does on that event is needed before it is first shown, and a list made when it is first opened
// takes the box's font then.
class ComboFontChangeHold : public QObject
{
public:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        return event->type() == QEvent::FontChange && qobject_cast<QComboBox *>(watched);
    }
};
}


MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
    , ui(new Ui::MainWindow)
{
    // Listing the serial ports (udev and sysfs) takes about as long as building the form, and
    // needs no widget: it runs on a second thread meanwhile.
    QList<QSerialPortInfo> ports;
    const std::unique_ptr<QThread> portScan(QThread::create([&ports] { ports = QSerialPortInfo::availablePorts(); }));
    portScan->start();
    {
        ComboFontChangeHold hold;
        QCoreApplication::instance()->installEventFilter(&hold);
        ui->setupUi(this);
    }
    formTitle = windowTitle();
    setUpScrolling();
    portScan->wait();
    fillPortList(ports);

    ui->pushButtonOpen->setEnabled(true);
    ui->pushButtonClose->setEnabled(false);

    auto *paneStyle = new TabPaneStyle(QColor(0x20, 0x5B, 0x7B));
    paneStyle->setParent(ui->tabWidget);
    ui->tabWidget->setStyle(paneStyle);
    ui->tabWidget->setCurrentIndex(0);

    QAction *aboutAction = new QAction(tr("&About"), this);
    connect(aboutAction, &QAction::triggered, this, &MainWindow::About);
    QMenu *aboutMenu = ui->menuBar->addMenu(tr("&About"));
    aboutMenu->addAction(aboutAction);

    localEchoAction = new QAction(tr("Local echo"), this);
    localEchoAction->setObjectName(QStringLiteral("actionLocalEcho"));
    localEchoAction->setCheckable(true);
    localEchoAction->setToolTip(tr("Drop the copy of each request that the adapter echoes back "
                                   "(RS-485 adapters that hear themselves, loopback plugs)"));
    connect(localEchoAction, &QAction::toggled, this, &MainWindow::setLocalEcho);
    logDetailAction = new QAction(tr("Times and sent requests in the log"), this);
    logDetailAction->setObjectName(QStringLiteral("actionLogDetail"));
    logDetailAction->setCheckable(true);
    logDetailAction->setToolTip(tr("Each line of the log pane starts with its time, and each request written "
                                   "shows as a \"→\" line (the session record keeps both either way)"));
    logDetailAction->setChecked(rememberedFlag(LogDetailKey));
    connect(logDetailAction, &QAction::toggled, this, &MainWindow::setLogDetail);
    auto *optionsMenu = new QMenu(tr("&Options"), ui->menuBar);
    optionsMenu->setToolTipsVisible(true);
    optionsMenu->addAction(localEchoAction);
    optionsMenu->addAction(logDetailAction);
    ui->menuBar->insertMenu(aboutMenu->menuAction(), optionsMenu);
    auto *measurementsAction = new QAction(tr("Measurements…"), this);
    measurementsAction->setObjectName(QStringLiteral("actionMeasurements"));
    measurementsAction->setShortcut(QKeySequence(QStringLiteral("Ctrl+M")));
    connect(measurementsAction, &QAction::triggered, this, &MainWindow::showMeasurements);
    auto *toolsMenu = new QMenu(tr("&Tools"), ui->menuBar);
    toolsMenu->addAction(measurementsAction);
    ui->menuBar->insertMenu(optionsMenu->menuAction(), toolsMenu);

    ui->pushButton_SetID->setVisible(false);

    // "Transmission" and "GetAllSelfTest" are taken off the tab bar: the operator is not offered
    // them. Their pages stay alive, hidden, so their slots still send and show as ever.
    ui->tabWidget->removeTab(ui->tabWidget->indexOf(ui->tab_TransSend));
    ui->tabWidget->removeTab(ui->tabWidget->indexOf(ui->tab_2));

    connect(&link, &SerialLink::lost, this, &MainWindow::onPortLost);
    connect(&link, &SerialLink::writeFailed, this, [this](const QString &reason) {
        appendLog(tr("Request not sent: the port refused the write (%1).").arg(reason));
    });
    // A flood must not fill memory between two polls; what does not fit waits in the system's buffer.
    link.port().setReadBufferSize(ReadBufferSize);
    clock.start();
    connectSession();
    connect(ui->comboBox_BoudRate, &QComboBox::currentTextChanged, this, &MainWindow::applyChosenRate);
    connect(ui->comboBoxCOM, &QComboBox::editTextChanged, this, &MainWindow::describeChosenPort);
    setUpStatusBar();
    setUpShortcuts();
    makeAnswersReadOnly();
    restoreChoices();
    describeChosenPort();
    setUpLogPane();
    record.onFileStopped([this](const QString &path, const QString &reason) {
        appendLog(tr("The session record stopped: %1: %2").arg(path, reason));
    });
    const QString unusable = unusableSettings(settingsPath());
    if (!unusable.isEmpty())
        appendLog(tr("The settings file %1 was ignored and the choices made now are not saved in it: %2")
                      .arg(settingsPath(), unusable));
    // The desktop's key for quitting; Ctrl+Q where it names none.
    const QKeySequence quit(QKeySequence::Quit);
    new QShortcut(quit.isEmpty() ? QKeySequence(QStringLiteral("Ctrl+Q")) : quit, this, this, &QWidget::close);
}

MainWindow::~MainWindow()
{
    delete measurements; // it takes its reading back from the session
    link.close();
    session.disconnect(this); // nothing is shown once the form has gone
    session.lineClosed();
    delete ui;
}

void MainWindow::showMeasurements()
{
    if (!measurements) {
        measurements = new MeasurementsWindow(session, link, [this] { return now(); }, this);
        // Readings pressed before it was first opened are in the chart too.
        for (const SessionRecord::Reading &reading : record.readings())
            measurements->addReading(reading.time.toMSecsSinceEpoch(), reading.unitIndex, reading.value);
    }
    measurements->show();
    measurements->raise();
    measurements->activateWindow();
}

QString MainWindow::settingsPath()
{
    // Where QSettings keeps the application's settings, named here so that the file can be
    // checked before QSettings reads it.
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QLatin1Char('/')
        + QCoreApplication::organizationName() + QLatin1Char('/') + QCoreApplication::applicationName()
        + QStringLiteral(".conf");
}

QString MainWindow::unusableSettings(const QString &path)
{
    // A pipe would block the start until someone writes to it.
    QString special = SessionRecord::notRegularFile(path);
    if (!special.isEmpty())
        return special;
    const QFileInfo file(path);
    if (file.exists() && file.size() > MaxSettingsBytes)
        return tr("it holds %1 bytes, more than the %2 a settings file may hold").arg(file.size()).arg(MaxSettingsBytes);
    return QString();
}

QVariant MainWindow::remembered(const QString &key)
{
    const QString path = settingsPath();
    if (!unusableSettings(path).isEmpty())
        return QVariant();
    return QSettings(path, QSettings::NativeFormat).value(key);
}

bool MainWindow::rememberedFlag(const QString &key)
{
    // Only what remember() writes for true turns it on: QVariant::toBool would take any other
    // text but "false" and "0", "nope" included, for true.
    const QString value = remembered(key).toString();
    return value == QLatin1String("true") || value == QLatin1String("1");
}

void MainWindow::remember(const QString &key, const QVariant &value)
{
    const QString path = settingsPath();
    if (unusableSettings(path).isEmpty())
        QSettings(path, QSettings::NativeFormat).setValue(key, value);
}

void MainWindow::setLocalEcho(bool on)
{
    localEchoAction->setChecked(on); // does nothing when it already is
    session.setLocalEcho(on, now());
    // Writing the file syncs it to disk, milliseconds that every start would pay to store the
    // choice it has just read from it: only a change is written.
    if (rememberedLocalEcho() != on)
        remember(LocalEchoKey, on);
}

bool MainWindow::rememberedLocalEcho()
{
    return rememberedFlag(LocalEchoKey);
}

void MainWindow::restoreChoices()
{
    const QString port = remembered(PortKey).toString();
    if (!port.isEmpty())
        showPort(port);
    bool ok = false;
    const int rate = remembered(BaudRateKey).toInt(&ok);
    if (ok && baudRatesOffered().contains(rate))
        showRate(rate);
    const int tab = remembered(TabKey).toInt(&ok);
    if (ok && tab >= 0 && tab < ui->tabWidget->count())
        ui->tabWidget->setCurrentIndex(tab);
    // Put back on the screen, and no larger than it, if that has changed since.
    restoreGeometry(remembered(GeometryKey).toByteArray());
}

void MainWindow::saveChoices()
{
    remember(TabKey, ui->tabWidget->currentIndex());
    remember(GeometryKey, saveGeometry());
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    saveChoices();
    QMainWindow::closeEvent(event);
}

void MainWindow::setLogDetail(bool on)
{
    logDetailAction->setChecked(on);
    remember(LogDetailKey, on);
}

void MainWindow::About()
{
    const QString text = QStringLiteral("<html>") + tr("V1.3") + QStringLiteral("</html><html>")
        + QStringLiteral("<br>") + tr("Zelvik Config and Test ") + QStringLiteral("</html><html>")
        + QStringLiteral("<br>") + tr("https://zelvik.example/ ") + QStringLiteral("</html><html>")
        + QStringLiteral("<br>") + buildDate + QStringLiteral("</html>");
    openBox(tr("About"), text);
}

// The port's full path, what it is and who made it, as far as the system says.
static QString portToolTip(const QSerialPortInfo &port)
{
    QString tip = port.systemLocation();
    if (!port.description().isEmpty())
        tip += QStringLiteral(" — ") + port.description();
    if (!port.manufacturer().isEmpty())
        tip += QStringLiteral(" (") + port.manufacturer() + QLatin1Char(')');
    return tip;
}

void MainWindow::fillPortList(const QList<QSerialPortInfo> &ports)
{
    for (const QSerialPortInfo &port : ports) {
        ui->comboBoxCOM->addItem(port.portName(), port.systemLocation());
        ui->comboBoxCOM->setItemData(ui->comboBoxCOM->count() - 1, portToolTip(port), Qt::ToolTipRole);
    }
}

// Selects the listed port of that name, or shows the path as typed when the system lists none.
void MainWindow::showPort(const QString &port)
{
    const int index = ui->comboBoxCOM->findText(port);
    if (index >= 0 || port.isEmpty()) {
        ui->comboBoxCOM->setCurrentIndex(index);
    } else {
        ui->comboBoxCOM->setCurrentIndex(-1);
        ui->comboBoxCOM->setEditText(port);
    }
}

// The box is too narrow for a long path: its tool tip names the chosen port in full.
void MainWindow::describeChosenPort()
{
    const QString chosen = ui->comboBoxCOM->currentText();
    // A listed port, by its name or by the full path typed instead.
    int index = ui->comboBoxCOM->findText(chosen);
    if (index < 0)
        index = ui->comboBoxCOM->findData(chosen);
    if (chosen.isEmpty())
        ui->comboBoxCOM->setToolTip(tr("No port chosen: pick one or type its path."));
    else if (index >= 0)
        ui->comboBoxCOM->setToolTip(ui->comboBoxCOM->itemData(index, Qt::ToolTipRole).toString());
    else
        ui->comboBoxCOM->setToolTip(chosen + tr(" (typed; not listed by the system)"));
}

bool MainWindow::preselect(const QString &port, int baudRate, QString *error)
{
    if (baudRate != 0) {
        if (!baudRatesOffered().contains(baudRate)) {
            *error = baudRateRefusal(baudRate);
            return false;
        }
        showRate(baudRate); // 2400 is added, as when the probe finds it
    }
    if (!port.isEmpty())
        showPort(port);
    return true;
}

void MainWindow::appendLog(const QString &line)
{
    record.shown(line);
    showInPane(line);
}

void MainWindow::showInPane(const QString &line)
{
    if (!logDetailAction->isChecked() || record.entries().isEmpty()) {
        ui->textEditPM->appendPlainText(line);
        return;
    }
    // The record's time, so that the pane and a saved record agree to the millisecond.
    ui->textEditPM->appendPlainText(record.entries().last().time.toString(QStringLiteral("HH:mm:ss.zzz "))
                                    + line);
}

void MainWindow::enterClosedState()
{
    ui->pushButtonOpen->setEnabled(true);
    ui->pushButtonClose->setEnabled(false);
    pollTimer.stop();
    session.lineClosed();
    showStatus();
}

void MainWindow::on_pushButtonOpen_clicked()
{
    const QString portName = ui->comboBoxCOM->currentText();
    // Messages name the port by its full path: the typed one, or the listed port's.
    const int listed = ui->comboBoxCOM->findText(portName);
    openedPort = listed >= 0 ? ui->comboBoxCOM->itemData(listed).toString() : portName;
    if (!link.open(portName, ui->comboBox_BoudRate->currentText().toInt(nullptr, 10))) {
        // Say so instead of pretending the port is open: the window stays Closed.
        appendLog(link.openFailure());
        enterClosedState();
        return;
    }
    ui->pushButtonOpen->setEnabled(false);
    ui->pushButtonClose->setEnabled(true);
    session.lineOpened(now()); // nothing from before this Open is awaited
    pollTimer.start(300, Qt::CoarseTimer, this);
    remember(PortKey, portName);
    remember(BaudRateKey, link.baudRate());
    showStatus();
}

void MainWindow::on_pushButtonClose_clicked()
{
    link.close();
    enterClosedState();
}

void MainWindow::applyChosenRate()
{
    // The box shows the rate the port uses: a choice made while the port is open is applied.
    const int rate = ui->comboBox_BoudRate->currentText().toInt();
    if (link.isOpen() && rate > 0 && rate != link.baudRate()) {
        link.setBaudRate(rate);
        remember(BaudRateKey, rate);
    }
    showStatus();
}

void MainWindow::onPortLost(const QString &reason)
{
    // The adapter was unplugged or the device went away: stop polling a dead port.
    enterClosedState();
    appendLog(tr("Port %1 was closed: the device or its adapter went away (the system said: %2).")
                  .arg(openedPort, reason));
}

void MainWindow::on_pushButton_3_clicked()
{
    // A path the operator typed, or a port they picked, stays chosen across the new list.
    const QString chosen = ui->comboBoxCOM->currentText();
    ui->comboBoxCOM->clear();
    fillPortList(QSerialPortInfo::availablePorts());
    showPort(chosen);
}

void MainWindow::on_pushButton_clicked()
{
    ui->textEditPM->clear();
}

bool MainWindow::writeFrame(const QByteArray &frame)
{
    return session.send(frame, now());
}

void MainWindow::echoFrame(const QByteArray &frame)
{
    ui->lineEdit_TransSend_2->setText(formatHexBytes(frame));
}

void MainWindow::sendAndEcho(const QByteArray &frame)
{
    writeFrame(frame);
    echoFrame(frame);
}

void MainWindow::sendQuery(PendingReplies::Query query, const QByteArray &frame, int unitIndex)
{
    session.query(query, frame, now(), unitIndex);
    showStatus();
}

void MainWindow::queryAndEcho(PendingReplies::Query query, const QByteArray &frame)
{
    sendQuery(query, frame);
    echoFrame(frame);
}

void MainWindow::emptyFields(std::initializer_list<QWidget *> shown)
{
    for (QWidget *widget : shown) {
        if (auto *edit = qobject_cast<QLineEdit *>(widget)) {
            edit->setText(QString());
        } else if (auto *label = qobject_cast<QLabel *>(widget)) {
            label->setText(QString());
        } else if (auto *button = qobject_cast<QAbstractButton *>(widget)) {
            // An exclusive group keeps its checked button, so the group is lifted for the moment.
            QButtonGroup *group = button->group();
            const bool exclusive = group && group->exclusive();
            if (exclusive)
                group->setExclusive(false);
            button->setChecked(false);
            if (exclusive)
                group->setExclusive(true);
        }
    }
}

void MainWindow::emptyAndQuery(std::initializer_list<QWidget *> shown, PendingReplies::Query query,
                               const QByteArray &frame)
{
    emptyFields(shown);
    queryAndEcho(query, frame);
}

void MainWindow::queryOrSet(const QComboBox *mode, PendingReplies::Query query, const QByteArray &queryFrame,
                            const CheckedField &first, const CheckedField &second,
                            const std::function<QByteArray(const QString &, const QString &)> &setFrame)
{
    if (mode->currentIndex() == 0) { // "Query"
        emptyAndQuery({first.edit, second.edit}, query, queryFrame);
        return;
    }
    if (!inputAccepted(first.edit, first.caption, first.kind) || !inputAccepted(second.edit, second.caption, second.kind))
        return;
    if (Input::isThreshold(first.kind) && !thresholdsAccepted(first, second))
        return;
    sendAndEcho(setFrame(first.edit->text(), second.edit->text()));
}
