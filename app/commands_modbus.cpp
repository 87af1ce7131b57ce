// Modbus settings: the measurement query, the device address, sleep and wake, the device's baud
// rate and the baud-rate probe.
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "commandframes.h"
#include "pendingreplies.h"

using Query = PendingReplies::Query;

void MainWindow::on_pushButton_GetSensorData_clicked()
{
    // The measurement line names the unit asked for, whatever the combo box shows by then.
    const int unit = ui->comboBoxSendObject->currentIndex();
    const QByteArray frame = Commands::readSensorData(unit);
    sendQuery(Query::pendingSensorData, frame, unit);
    echoFrame(frame);
}

void MainWindow::on_pushButton_GetDeviceAddr_clicked()
{
    emptyAndQuery({ui->lineEdit_DeviceAddr}, Query::pendingModbusAddr, Commands::getDeviceAddress());
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
    // Pressed again, the probe starts over.
    session.startProbe(now());
    showStatus();
}

// The form has no button of this name, so only a call by name reaches this slot; it runs the
// probe as GetBaudrate does.
void MainWindow::on_pushButtonTestBoudrate_clicked()
{
    on_pushButton_GetBaudrate_clicked();
}
