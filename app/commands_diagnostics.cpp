// Diagnostics and calibration: self test, global unit switches, inner temperature and humidity,
// calibration of a unit or of the average, and the self-test factors.
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "commandframes.h"
#include "pendingreplies.h"

using Query = PendingReplies::Query;

void MainWindow::on_pushButton_GetSelfCheck_clicked()
{
    emptyAndQuery({ui->checkBox_Selfcheck1, ui->checkBox_Selfcheck2, ui->checkBox_Selfcheck3, ui->checkBox_Selfcheck4},
                  Query::pendingSelfCheck, Commands::getSelfTest());
}

void MainWindow::on_pushButton_GetGlobalOnOff_clicked()
{
    emptyAndQuery({ui->checkBox_Global1, ui->checkBox_Global2, ui->checkBox_Global3, ui->checkBox_Global4},
                  Query::pendingGlobalSet, Commands::getGlobalOnOff());
}

void MainWindow::on_pushButton_SetGlobalOnOff_clicked()
{
    const quint8 mask = Commands::unitMask({ui->checkBox_Global1->isChecked(), ui->checkBox_Global2->isChecked(),
                                            ui->checkBox_Global3->isChecked(), ui->checkBox_Global4->isChecked()});
    sendAndEcho(Commands::setGlobalOnOff(mask));
}

void MainWindow::on_pushButton_GetTempHumi_clicked()
{
    emptyAndQuery({ui->lineEdit_Temp, ui->lineEdit_Humi}, Query::pendingTempHumi, Commands::getTempHumi());
}

void MainWindow::on_pushButton_Calibrate_clicked()
{
    const int unit = ui->comboBox_CalibrateObject->currentIndex();
    const int range = ui->comboBox_CalibrateRange->currentIndex();
    queryOrSet(ui->comboBox_Calibrate, Query::pendingCalibration, Commands::calibrationQuery(unit, range),
               {ui->lineEdit_CalibrZero, ui->label_27, Input::Kind::ZeroOffset},
               {ui->lineEdit_CalibrateFactor, ui->label_28, Input::Kind::RatioFactor},
               [unit, range](const QString &zero, const QString &factor) {
                   return Commands::calibrationSet(unit, range, zero, factor);
               });
}

void MainWindow::on_pushButton_GetFactor_clicked()
{
    emptyAndQuery({ui->lineEdit_1Factor, ui->lineEdit_1Factor_2, ui->lineEdit_2Factor, ui->lineEdit_2Factor_2,
                   ui->lineEdit_3Factor, ui->lineEdit_3Factor_2, ui->lineEdit_4Factor, ui->lineEdit_4Factor_2},
                  Query::pendingFactor, Commands::getSelfTestFactors());
}
