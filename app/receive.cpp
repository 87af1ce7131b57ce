// The poll tick: read what the port has buffered, log it, cut it into frames, match each reply to
// the query that asked for it, show its values, report queries that got no answer, and run one
// step of the baud-rate probe.
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "baudprobe.h"
#include "commandframes.h"
#include "frames.h"
#include "hextext.h"
#include "nativedecode.h"
#include "sessiontexts.h"
#include "values.h"

#include <QDebug>
#include <QMessageBox>
#include <QTimer>
#include <QTimerEvent>

using Query = PendingReplies::Query;

namespace {

// The firmware request follows a device-identifier reply after this pause: the device needs a
// moment before it takes it.
constexpr int FirmwareRequestDelayMs = 200;

} // namespace

void MainWindow::timerEvent(QTimerEvent *event)
{
    // Only the poll timer drives the session; a tick while the port is closed would step the
    // probe on a dead port.
    if (event->timerId() != pollTimer.timerId()) {
        QMainWindow::timerEvent(event);
        return;
    }
    pollTick();
}

void MainWindow::pollTick()
{
    const QByteArray bytes = link.readAll();
    record.received(bytes);
    if (bytes.size() >= 4)
        appendLog(logHexBytes(bytes));
    session.poll(bytes, now());
    showStatus();
}

void MainWindow::connectSession()
{
    connect(&session, &SensorSession::written, this, [this](const QByteArray &frame) {
        record.sent(frame);
        if (logDetailAction->isChecked())
            showInPane(QStringLiteral("→ ") + formatHexBytes(frame).trimmed());
    });
    connect(&session, &SensorSession::note, this, [this](SensorSession::Note, const QString &line) { appendLog(line); });
    connect(&session, &SensorSession::answered, this, &MainWindow::showReadReply);
    connect(&session, &SensorSession::nativeReply, this, &MainWindow::handleNativeReply);
    connect(&session, &SensorSession::writeEchoed, this, [this](const QByteArray &echo) {
        if (const char *message = Values::writeEchoMessage(echo))
            showInformation(tr(message));
    });
    connect(&session, &SensorSession::ignored, this,
            [this] { appendLog(tr("Reply ignored: it answers no outstanding query")); });
    connect(&session, &SensorSession::noAnswer, this, [this](const SensorSession::Reply &query) {
        if (query.notSent)
            return; // "Request not sent: …" said it
        if (query.neverQuiet)
            appendLog(tr("No answer to %1: the line never went quiet for it to be asked (late replies or noise kept arriving)")
                          .arg(queryCaption(query.query)));
        else
            appendLog(tr("No answer to %1 within 1 s: check the port, the baud rate and that the device is awake")
                          .arg(queryCaption(query.query)));
        tipLastLogLine(LogTip::NoAnswer);
    });
    connect(&session, &SensorSession::lateDropped, this, &MainWindow::showLateReply);
    connect(&session, &SensorSession::refused, this, &MainWindow::showRefusal);
    connect(&session, &SensorSession::probeStepped, this,
            [](quint8 step) { qDebug().noquote() << int(step); });
    connect(&session, &SensorSession::probeAnswered, this,
            [this](qint32, quint8 step) { showProbeAnswer(step); });
    connect(&session, &SensorSession::probeGaveUp, this, [this](qint32 rate, bool neverQuiet) {
        if (neverQuiet)
            appendLog(tr("GetBaudrate: the line never went quiet for the probe to ask; the port is back at %1 baud").arg(rate));
        else
            appendLog(tr("GetBaudrate: no rate answered (19200, 9600, 4800 and 2400 baud tried); the port is back at %1 baud")
                          .arg(rate));
        showRate(rate);
    });
    connect(&session, &SensorSession::probeStopped, this,
            [this] { appendLog(tr("GetBaudrate stopped: the port was closed")); });
    connect(&session, &SensorSession::wakeUpAt, this, [this](qint64 atMs) {
        QTimer::singleShot(int(qBound<qint64>(0, atMs - now(), 60000)), this, [this] {
            session.advance(now());
            showStatus();
        });
    });
}

void MainWindow::handleNativeReply(quint8 id, const QByteArray &frame)
{
    // A native reply names itself, so it is shown even when it came unasked.
    switch (id) {
    case Kelvra::GetDeviceInfo:
        ui->Edit_DeviceID->setText(deviceIdText(frame));
        if (link.isOpen())
            session.queryLater(Query::pendingFirmwareId, Commands::firmwareIdRequest(), now(), FirmwareRequestDelayMs);
        break;
    case Kelvra::GetFirmwareId:
        ui->label_softid->setText(firmwareIdText(frame));
        break;
    default:
        break;
    }
}

void MainWindow::showReadReply(const SensorSession::Reply &query)
{
    const QByteArray &reply = query.frame;
    switch (query.query) {
    case Query::pendingSensorData: {
        const Values::Measurement value = Values::measurement(reply);
        record.measured(query.unitIndex, value);
        appendLog(Values::measurementLine(value, query.unitIndex));
        break;
    }
    case Query::pendingCleanSetting: {
        const Values::CleanSetting clean = Values::cleanSetting(reply);
        ui->lineEdit_AutoCleanTime->setText(QString::number(clean.durationSeconds));
        ui->lineEdit_AutoCleanDustJianGe->setText(QString::number(clean.intervalHours));
        break;
    }
    case Query::pendingHeatMode: {
        const Values::HeatMode heat = Values::heatMode(reply);
        if (heat.mode != Values::HeatMode::Unknown) {
            ui->radioButton_AutoHeat->setChecked(heat.mode == Values::HeatMode::Automatic);
            ui->radioButton_ManualHeat->setChecked(heat.mode == Values::HeatMode::Manual);
        }
        break;
    }
    case Query::pendingWorkMode: {
        const Values::WorkMode work = Values::workMode(reply);
        if (!work.known())
            break;
        ui->radioButton_Autoall->setChecked(work.mode == 1);
        ui->radioButton_Autosingle->setChecked(work.mode == 2);
        ui->radioButton_Manualset->setChecked(work.mode == 3);
        const QList<QCheckBox *> units{ui->checkBox_No1, ui->checkBox_No2, ui->checkBox_No3, ui->checkBox_No4};
        for (int unit = 0; unit < units.size(); ++unit)
            units[unit]->setChecked(work.unitMask & (1 << unit));
        break;
    }
    case Query::pendingModbusAddr:
        ui->lineEdit_DeviceAddr->setText(QString::number(Values::modbusAddress(reply), 16));
        break;
    case Query::pendingSelfCheck: {
        // A checked box marks a unit in error state.
        const quint8 passed = Values::selfTestPassed(reply);
        const QList<QCheckBox *> units{ui->checkBox_Selfcheck1, ui->checkBox_Selfcheck2, ui->checkBox_Selfcheck3,
                                       ui->checkBox_Selfcheck4};
        for (int unit = 0; unit < units.size(); ++unit)
            units[unit]->setChecked(!(passed & (1 << unit)));
        // Unticked boxes alone look the same as never having asked.
        appendLog(selfTestLine(passed));
        break;
    }
    case Query::pendingGlobalSet: {
        const quint8 on = Values::globalSwitches(reply);
        const QList<QCheckBox *> units{ui->checkBox_Global1, ui->checkBox_Global2, ui->checkBox_Global3,
                                       ui->checkBox_Global4};
        for (int unit = 0; unit < units.size(); ++unit)
            units[unit]->setChecked(on & (1 << unit));
        break;
    }
    case Query::pendingTempHumi: {
        const Values::TempHumi inner = Values::tempHumi(reply);
        ui->lineEdit_Temp->setText(QString::number(inner.temperature));
        ui->lineEdit_Humi->setText(QString::number(inner.humidity));
        break;
    }
    case Query::pendingHeatTempThreshold: {
        const Values::Thresholds temp = Values::heatTempThresholds(reply);
        ui->lineEdit_HeatTempHigh->setText(QString::number(temp.high));
        ui->lineEdit_HeatTempLow->setText(QString::number(temp.low));
        break;
    }
    case Query::pendingHeatHumiThreshold: {
        const Values::Thresholds humi = Values::heatHumiThresholds(reply);
        ui->lineEdit_HeatHumiHigh->setText(QString::number(humi.high));
        ui->lineEdit_HeatHumiLow->setText(QString::number(humi.low));
        break;
    }
    case Query::pendingCalibration: {
        const Values::Calibration calibration = Values::calibration(reply);
        ui->lineEdit_CalibrZero->setText(QString::number(calibration.zeroOffset));
        ui->lineEdit_CalibrateFactor->setText(QString::number(calibration.factor));
        break;
    }
    case Query::pendingTransRead:
        ui->lineEdit_TransRead->setText(formatHexBytes(Values::transparentData(reply)));
        break;
    case Query::pendingFactor: {
        const Values::SelfTestFactors factors = Values::selfTestFactors(reply);
        const QList<QLineEdit *> factor{ui->lineEdit_1Factor, ui->lineEdit_2Factor, ui->lineEdit_3Factor,
                                        ui->lineEdit_4Factor};
        const QList<QLineEdit *> suspected{ui->lineEdit_1Factor_2, ui->lineEdit_2Factor_2, ui->lineEdit_3Factor_2,
                                           ui->lineEdit_4Factor_2};
        for (int unit = 0; unit < 4; ++unit) {
            factor[unit]->setText(QString::number(factors.factor[unit]));
            suspected[unit]->setText(QString::number(factors.suspected[unit]));
        }
        break;
    }
    case Query::pendingBaudrate:   // the probe's answer comes as probeAnswered
    case Query::pendingDeviceInfo: // native replies are shown as they come
    case Query::pendingFirmwareId:
    case Query::request:
        break;
    }
}

QString MainWindow::selfTestLine(quint8 passed) const
{
    QStringList failed;
    QStringList good;
    for (int unit = 1; unit <= 4; ++unit)
        ((passed & (1 << (unit - 1))) ? good : failed) << QStringLiteral("No.%1").arg(unit);
    if (failed.isEmpty())
        return tr("Self test: all four units passed");
    if (good.isEmpty())
        return tr("Self test: all four units failed");
    return tr("Self test: %1 failed; %2 passed").arg(failed.join(QStringLiteral(", ")), good.join(QStringLiteral(", ")));
}

void MainWindow::showProbeAnswer(quint8 step)
{
    // Select the rate that answered, so Close and Open keep it.
    showRate(BaudProbe::rateForStep(step));
    showInformation(tr(BaudProbe::answerMessage(step)));
}

void MainWindow::showRate(qint32 baudRate)
{
    const QString rate = QString::number(baudRate);
    if (ui->comboBox_BoudRate->findText(rate) < 0)
        ui->comboBox_BoudRate->addItem(rate);
    ui->comboBox_BoudRate->setCurrentIndex(ui->comboBox_BoudRate->findText(rate));
}

void MainWindow::showRefusal(const SensorSession::Refusal &refusal)
{
    const QString reason = SessionTexts::exceptionText(refusal.code);
    if (refusal.toWrite) {
        appendLog(tr("Device refused the write: %1").arg(reason));
    } else if (refusal.hasQuery && refusal.readsWaiting.size() <= 1) {
        appendLog(tr("Device refused %1: %2").arg(queryCaption(refusal.query.query), reason));
    } else if (refusal.hasQuery) {
        // The exception names the function, not the read: the oldest is ended, as the device
        // answers in order, but the operator is told it may have been another.
        QStringList waiting;
        for (const Query query : refusal.readsWaiting)
            waiting << queryCaption(query);
        appendLog(tr("Device refused a read while %1 were waiting: %2; taken as the answer to %3")
                      .arg(waiting.join(QStringLiteral(", ")), reason, queryCaption(refusal.query.query)));
    } else {
        appendLog(tr("Device refused the request: %1").arg(reason));
    }
}

void MainWindow::showLateReply(const SensorSession::Late &lateFor)
{
    if (lateFor.beforeOpen)
        appendLog(tr("Late reply dropped: it answers a request from before the port was opened"));
    else if (lateFor.beforeProbe)
        appendLog(tr("Late reply dropped: it answers a request from before GetBaudrate was pressed"));
    else if (lateFor.probeRate != 0)
        appendLog(tr("Late reply dropped: it came after GetBaudrate had moved on from %1 baud").arg(lateFor.probeRate));
    else
        appendLog(tr("Late reply dropped: it came after %1 had been given up").arg(queryCaption(lateFor.query)));
}

QString MainWindow::queryCaption(Query query) const
{
    const QAbstractButton *button = nullptr;
    switch (query) {
    case Query::pendingSensorData: button = ui->pushButton_GetSensorData; break;
    case Query::pendingCleanSetting: button = ui->pushButton_AutoCleanDust; break;
    case Query::pendingHeatMode: button = ui->pushButton_GetHeatMode; break;
    case Query::pendingWorkMode: button = ui->pushButton_GetWorkMode; break;
    case Query::pendingModbusAddr: button = ui->pushButton_GetDeviceAddr; break;
    case Query::pendingSelfCheck: button = ui->pushButton_GetSelfCheck; break;
    case Query::pendingGlobalSet: button = ui->pushButton_GetGlobalOnOff; break;
    case Query::pendingTempHumi: button = ui->pushButton_GetTempHumi; break;
    case Query::pendingHeatTempThreshold: button = ui->pushButton_HeatTemp; break;
    case Query::pendingHeatHumiThreshold: button = ui->pushButton_HeatHumi; break;
    case Query::pendingCalibration: button = ui->pushButton_Calibrate; break;
    case Query::pendingTransRead: button = ui->pushButton_TransRead; break;
    case Query::pendingFactor: button = ui->pushButton_GetFactor; break;
    case Query::pendingBaudrate: button = ui->pushButton_GetBaudrate; break;
    case Query::pendingDeviceInfo: button = ui->pushButton_GetInfo; break;
    case Query::pendingFirmwareId: return tr("the firmware request");
    case Query::request: return tr("the request");
    }
    return captionInSentence(button->text()); // "TransRead：" ends in a full-width colon
}

void MainWindow::showInformation(const QString &text)
{
    appendLog(text);
    if (!infoBox)
        infoBox = openBox(tr("Information"), text);
}

QMessageBox *MainWindow::openBox(const QString &title, const QString &text)
{
    // open(), not exec(): the poll goes on while the operator reads it.
    auto *box = new QMessageBox(QMessageBox::Information, title, text, QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
    return box;
}
