// Identity and protocol commands: the two native identity frames (no echo) and the three fixed
// Modbus writes that switch the protocol or restore the factory settings.
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "commandframes.h"

#include <QDebug>
#include <QMessageBox>

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
    chooseProtocol(Commands::changeToModbus(), tr("Modbus RTU"));
}

void MainWindow::on_pushButton_ChangeToModbus_2_clicked()
{
    chooseProtocol(Commands::changeToKelvra(), tr("Kelvra"));
}

void MainWindow::on_pushButton_SetFactoryConfig_clicked()
{
    // One click next to the protocol buttons would erase the device's set-up: the operator is
    // asked first, No being the answer Enter and Escape give. open(), not exec(): the poll goes on.
    if (factoryQuestion) {
        factoryQuestion->raise();
        return;
    }
    auto *box = new QMessageBox(QMessageBox::Question, ui->pushButton_SetFactoryConfig->text(),
                                tr("Restore the device's factory settings? Its Modbus address, its heating "
                                   "thresholds and its calibration are lost."),
                                QMessageBox::Yes | QMessageBox::No, this);
    box->setDefaultButton(QMessageBox::No);
    box->setEscapeButton(QMessageBox::No);
    box->setAttribute(Qt::WA_DeleteOnClose);
    connect(box, &QMessageBox::finished, this, [this](int answer) {
        if (answer == QMessageBox::Yes)
            sendAndEcho(Commands::setFactorySettings());
    });
    factoryQuestion = box;
    box->open();
}
