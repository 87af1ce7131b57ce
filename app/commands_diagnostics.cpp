// Diagnostics and calibration: self test, global unit switches, inner temperature and humidity,
// calibration of a unit or of the average, and the self-test factors.
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "commandframes.h"
#include "pendingreplies.h"

using Query = PendingReplies::Query;

void MainWindow::on_pushButton_GetSelfCheck_clicked()
{
    ui->checkBox_Selfcheck1->setChecked(false);
    ui->checkBox_Selfcheck2->setChecked(false);
    ui->checkBox_Selfcheck3->setChecked(false);
    ui->checkBox_Selfcheck4->setChecked(false);
    queryAndEcho(Query::pendingSelfCheck, Commands::getSelfTest());
}

void MainWindow::on_pushButton_GetGlobalOnOff_clicked()
{
    ui->checkBox_Global1->setChecked(false);
    ui->checkBox_Global2->setChecked(false);
    ui->checkBox_Global3->setChecked(false);
    ui->checkBox_Global4->setChecked(false);
    queryAndEcho(Query::pendingGlobalSet, Commands::getGlobalOnOff());
}

void MainWindow::on_pushButton_SetGlobalOnOff_clicked()
{
    const quint8 mask = Commands::unitMask({ui->checkBox_Global1->isChecked(), ui->checkBox_Global2->isChecked(),
                                            ui->checkBox_Global3->isChecked(), ui->checkBox_Global4->isChecked()});
    sendAndEcho(Commands::setGlobalOnOff(mask));
}

void MainWindow::on_pushButton_GetTempHumi_clicked()
{
    ui->lineEdit_Temp->setText(QString());
    ui->lineEdit_Humi->setText(QString());
    queryAndEcho(Query::pendingTempHumi, Commands::getTempHumi());
}

void MainWindow::on_pushButton_Calibrate_clicked()
{
    const QString zero = ui->lineEdit_CalibrZero->text();
    const QString factor = ui->lineEdit_CalibrateFactor->text();
    const int unit = ui->comboBox_CalibrateObject->currentIndex();
    const int range = ui->comboBox_CalibrateRange->currentIndex();
    if (ui->comboBox_Calibrate->currentIndex() == 0) { // "Query"
        ui->lineEdit_CalibrZero->setText(QString());
        ui->lineEdit_CalibrateFactor->setText(QString());
        queryAndEcho(Query::pendingCalibration, Commands::calibrationQuery(unit, range));
    } else {
        if (!inputAccepted(ui->lineEdit_CalibrZero, ui->label_27, Input::Kind::ZeroOffset)
            || !inputAccepted(ui->lineEdit_CalibrateFactor, ui->label_28, Input::Kind::RatioFactor))
            return;
        sendAndEcho(Commands::calibrationSet(unit, range, zero, factor));
    }
}

void MainWindow::on_pushButton_GetFactor_clicked()
{
    ui->lineEdit_1Factor->setText(QString());
    ui->lineEdit_1Factor_2->setText(QString());
    ui->lineEdit_2Factor->setText(QString());
    ui->lineEdit_2Factor_2->setText(QString());
    ui->lineEdit_3Factor->setText(QString());
    ui->lineEdit_3Factor_2->setText(QString());
    ui->lineEdit_4Factor->setText(QString());
    ui->lineEdit_4Factor_2->setText(QString());
    queryAndEcho(Query::pendingFactor, Commands::getSelfTestFactors());
}
