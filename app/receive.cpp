// The poll tick: read what the port has buffered, log it, classify it, decode it into the
// widgets and run one step of the baud-rate probe.
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "baudprobe.h"
#include "commandframes.h"
#include "frames.h"
#include "hextext.h"
#include "modbusdecode.h"
#include "nativedecode.h"
#include "pendingreplies.h"

#include <QAbstractButton>
#include <QDebug>
#include <QLineEdit>
#include <QMessageBox>
#include <QThread>
#include <QTimerEvent>

void MainWindow::timerEvent(QTimerEvent *event)
{
    // Only the poll timer drives the decoder; a tick while the port is closed would step the
    // probe on a dead port.
    if (event->timerId() != pollTimerId) {
        QMainWindow::timerEvent(event);
        return;
    }

    const QByteArray bytes = serial.readAll();
    record.received(bytes);
    if (bytes.size() >= 4)
        appendLog(formatHexBytes(bytes));

    const Classified reply = replyAssembler.feed(bytes);
    for (const QString &note : reply.notes)
        appendLog(note);

    switch (reply.kind) {
    case ReplyKind::NativeReply:
        handleNativeReply(reply.block.left(Kelvra::FrameSize));
        break;
    case ReplyKind::NativePair: {
        handleNativeReply(reply.block.left(Kelvra::FrameSize));
        const QByteArray second = reply.block.mid(Kelvra::FrameSize, Kelvra::FrameSize);
        if (quint8(second.at(0)) == Kelvra::Head && quint8(second.at(Kelvra::TailOffset)) == Kelvra::Tail)
            handleNativeReply(second);
        break;
    }
    case ReplyKind::WriteEcho:
        handleWriteEcho(reply.block);
        break;
    case ReplyKind::ReadReply:
        handleReadReply(reply.block);
        break;
    default:
        break;
    }

    // A message box above may have run nested ticks in which the port failed and was closed.
    if (!serial.isOpen())
        return;

    // Nothing is flushed here. Output still in the buffers is a request just written (the
    // firmware-identifier request above, or a command pressed right before this tick), and input
    // not yet read is the start of the next reply: bytes that reach the port after readAll()
    // belong to the next tick, whose classification joins or ignores them.
    runScanStep();
}

void MainWindow::handleNativeReply(const QByteArray &frame)
{
    switch (quint8(frame.at(1))) {
    case Kelvra::GetDeviceInfo:
        pendingReplies.deviceIdText = deviceIdText(frame);
        ui->Edit_DeviceID->setText(pendingReplies.deviceIdText);
        // The device needs a moment before it takes the firmware request.
        QThread::msleep(200);
        writeFrame(Commands::firmwareIdRequest());
        break;
    case Kelvra::GetFirmwareId:
        pendingReplies.firmwareIdText = firmwareIdText(frame);
        ui->label_softid->setText(pendingReplies.firmwareIdText);
        break;
    default:
        break;
    }
}

void MainWindow::handleWriteEcho(const QByteArray &echo)
{
    const char *message = writeEchoMessage(echo);
    if (!message)
        return;
    const QString text = tr(message);
    QMessageBox::information(this, tr("Information"), text);
    appendLog(text);
}

void MainWindow::handleReadReply(const QByteArray &reply)
{
    const ReadReplyOutcome outcome =
        decodeReadReply(reply, pendingReplies, ui->comboBoxSendObject->currentIndex());
    for (const WidgetChange &change : outcome.changes) {
        if (change.kind == WidgetChange::SetText) {
            if (auto *edit = findChild<QLineEdit *>(change.objectName))
                edit->setText(change.text);
            else
                qWarning("No line edit named %s", qPrintable(change.objectName));
        } else if (auto *button = findChild<QAbstractButton *>(change.objectName)) {
            button->setChecked(change.checked);
        } else {
            qWarning("No button named %s", qPrintable(change.objectName));
        }
    }
    for (const QString &line : outcome.logLines)
        appendLog(line);

    if (BaudProbe::isAnswer(reply, pendingReplies)) {
        const quint8 step = BaudProbe::acceptAnswer(pendingReplies);
        QMessageBox::information(this, tr("Information"), tr(BaudProbe::answerMessage(step)));
    }
}

void MainWindow::runScanStep()
{
    const BaudProbe::ScanStep step = BaudProbe::scanStep(pendingReplies);
    if (!step.changeRate)
        return;
    serial.setBaudRate(step.rate);
    writeFrame(Commands::getDeviceAddress());
    qDebug().noquote() << int(step.debugStep);
}
