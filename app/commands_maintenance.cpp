// Maintenance: dust cleaning, the heater and its thresholds, and the work mode of the four units.
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "commandframes.h"
#include "pendingreplies.h"

using Query = PendingReplies::Query;

void MainWindow::on_pushButton_2_clicked()
{
    if (!inputAccepted(ui->lineEdit_CleanDustTime, ui->label_8, Input::Kind::CleaningTime))
        return;
    sendAndEcho(Commands::manualClean(ui->lineEdit_CleanDustTime->text()));
}

void MainWindow::on_pushButton_AutoCleanDust_clicked()
{
    queryOrSet(ui->comboBoxAutoCleanDust, Query::pendingCleanSetting, Commands::getAutoClean(),
               {ui->lineEdit_AutoCleanTime, ui->label_9, Input::Kind::CleaningTime},
               {ui->lineEdit_AutoCleanDustJianGe, ui->label_10, Input::Kind::CleaningTime}, Commands::setAutoClean);
}

void MainWindow::on_pushButton_ManualHeat_clicked()
{
    sendAndEcho(Commands::manualHeat(ui->radioButton_StartHeat->isChecked()));
}

void MainWindow::on_pushButton_AutoHeat_clicked()
{
    sendAndEcho(Commands::autoHeat());
}

void MainWindow::on_pushButton_GetHeatMode_clicked()
{
    // The heater choice is a group of its own and stays as the operator left it.
    emptyAndQuery({ui->radioButton_AutoHeat, ui->radioButton_ManualHeat}, Query::pendingHeatMode,
                  Commands::getHeatMode());
}

void MainWindow::on_radioButton_StartHeat_clicked()
{
    ui->radioButton_StopHeat->setChecked(false);
}

void MainWindow::on_radioButton_StopHeat_clicked()
{
    ui->radioButton_StartHeat->setChecked(false);
}

void MainWindow::on_pushButton_HeatTemp_clicked()
{
    queryOrSet(ui->comboBox_HeatTemp, Query::pendingHeatTempThreshold, Commands::getHeatTempThresholds(),
               {ui->lineEdit_HeatTempHigh, ui->label_17, Input::Kind::Temperature},
               {ui->lineEdit_HeatTempLow, ui->label_20, Input::Kind::Temperature}, Commands::setHeatTempThresholds);
}

void MainWindow::on_pushButton_HeatHumi_clicked()
{
    queryOrSet(ui->comboBox_HeatHumi, Query::pendingHeatHumiThreshold, Commands::getHeatHumiThresholds(),
               {ui->lineEdit_HeatHumiHigh, ui->label_18, Input::Kind::Humidity},
               {ui->lineEdit_HeatHumiLow, ui->label_24, Input::Kind::Humidity}, Commands::setHeatHumiThresholds);
}

void MainWindow::on_pushButton_AutoAll_clicked()
{
    sendAndEcho(Commands::autoAllWork());
}

void MainWindow::on_pushButton_AutoSingle_clicked()
{
    sendAndEcho(Commands::autoSingleWork());
}

void MainWindow::on_pushButton_ManualSet_clicked()
{
    const quint8 mask = Commands::unitMask({ui->checkBox_No1->isChecked(), ui->checkBox_No2->isChecked(),
                                            ui->checkBox_No3->isChecked(), ui->checkBox_No4->isChecked()});
    sendAndEcho(Commands::selectWork(mask));
}

void MainWindow::on_pushButton_GetWorkMode_clicked()
{
    emptyAndQuery({ui->checkBox_No1, ui->checkBox_No2, ui->checkBox_No3, ui->checkBox_No4}, Query::pendingWorkMode,
                  Commands::getWorkMode());
}
