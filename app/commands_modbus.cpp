// Modbus settings: the measurement query, the device address, sleep and wake, the device's baud
// rate and the baud-rate probe.
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "baudprobe.h"
#include "commandframes.h"
#include "pendingreplies.h"

void MainWindow::on_pushButton_GetSensorData_clicked()
{
    const QByteArray frame = Commands::readSensorData(ui->comboBoxSendObject->currentIndex());
    writeFrame(frame);
    pendingReplies.pendingSensorData = 1;
    echoFrame(frame);
}

void MainWindow::on_pushButton_GetDeviceAddr_clicked()
{
    ui->lineEdit_DeviceAddr->setText(QString());
    const QByteArray frame = Commands::getDeviceAddress();
    pendingReplies.pendingModbusAddr = 1;
    sendAndEcho(frame);
}

void MainWindow::on_pushButton_SetDeviceAddr_clicked()
{
    if (!inputAccepted(ui->lineEdit_DeviceAddr, ui->label_DeviceAddr, Input::Kind::DeviceAddress))
        return;
    sendAndEcho(Commands::setDeviceAddress(ui->lineEdit_DeviceAddr->text()));
}

void MainWindow::on_pushButton_SetSleep_clicked()
{
    sendAndEcho(Commands::setSleep());
}

void MainWindow::on_pushButton_WakeDevice_clicked()
{
    sendAndEcho(Commands::wakeUp());
}

void MainWindow::on_pushButton_SetBaudrate_clicked()
{
    // Changes the device's rate only; the tool's own port keeps its speed.
    sendAndEcho(Commands::setBaudRate(ui->comboBox_SetBoudRate->currentIndex()));
}

void MainWindow::on_pushButton_GetBaudrate_clicked()
{
    // The probe starts at the highest rate; the poll steps it down until the device answers.
    serial.setBaudRate(BaudProbe::StartRate);
    const QByteArray frame = Commands::getDeviceAddress();
    BaudProbe::start(pendingReplies);
    writeFrame(frame);
}

void MainWindow::on_pushButtonTestBoudrate_clicked()
{
    on_pushButton_GetBaudrate_clicked();
}
