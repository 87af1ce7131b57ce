// Identity and protocol commands: the two native identity frames (no echo) and the three fixed
// Modbus writes that switch the protocol or restore the factory settings.
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "commandframes.h"

#include <QDebug>

void MainWindow::on_pushButton_GetInfo_clicked()
{
    // Native frames carry no echo.
    emptyFields({ui->Edit_DeviceID, ui->label_softid});
    sendQuery(PendingReplies::Query::pendingDeviceInfo, Commands::getDeviceInfo());
}

void MainWindow::on_pushButton_SetID_clicked()
{
    const auto id = Commands::deviceIdBytes(ui->Edit_DeviceID->text());
    qDebug("%x %x %x %x", id[0], id[1], id[2], id[3]);
    writeFrame(Commands::setDeviceId(ui->Edit_DeviceID->text()));
}

void MainWindow::on_pushButton_ChangeToModbus_clicked()
{
    sendAndEcho(Commands::changeToModbus());
}

void MainWindow::on_pushButton_ChangeToModbus_2_clicked()
{
    sendAndEcho(Commands::changeToKelvra());
}

void MainWindow::on_pushButton_SetFactoryConfig_clicked()
{
    sendAndEcho(Commands::setFactorySettings());
}
