// Maintenance: dust cleaning, the heater and its thresholds, and the work mode of the four units.
// A query empties or unchecks the widgets its reply fills, so they show only what the device says.
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "commandframes.h"
#include "pendingreplies.h"

using Query = PendingReplies::Query;

namespace {
constexpr int QueryIndex = 0; // the "Query" / "Set" combo boxes: 0 reads, 1 writes
}

void MainWindow::on_pushButton_2_clicked()
{
    if (!inputAccepted(ui->lineEdit_CleanDustTime, ui->label_8, Input::Kind::CleaningTime))
        return;
    sendAndEcho(Commands::manualClean(ui->lineEdit_CleanDustTime->text()));
}

void MainWindow::on_pushButton_AutoCleanDust_clicked()
{
    const QString duration = ui->lineEdit_AutoCleanTime->text();
    const QString interval = ui->lineEdit_AutoCleanDustJianGe->text();
    if (ui->comboBoxAutoCleanDust->currentIndex() == QueryIndex) {
        ui->lineEdit_AutoCleanTime->setText(QString());
        ui->lineEdit_AutoCleanDustJianGe->setText(QString());
        queryAndEcho(Query::pendingCleanSetting, Commands::getAutoClean());
    } else {
        if (!inputAccepted(ui->lineEdit_AutoCleanTime, ui->label_9, Input::Kind::CleaningTime)
            || !inputAccepted(ui->lineEdit_AutoCleanDustJianGe, ui->label_10, Input::Kind::CleaningTime))
            return;
        sendAndEcho(Commands::setAutoClean(duration, interval));
    }
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
    // Only the reply marks a mode; an exclusive group keeps its checked button, so lift that first.
    // The heater choice is a group of its own and stays as the operator left it.
    ui->buttonGroup_HeatMode->setExclusive(false);
    ui->radioButton_AutoHeat->setChecked(false);
    ui->radioButton_ManualHeat->setChecked(false);
    ui->buttonGroup_HeatMode->setExclusive(true);
    queryAndEcho(Query::pendingHeatMode, Commands::getHeatMode());
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
    const QString high = ui->lineEdit_HeatTempHigh->text();
    const QString low = ui->lineEdit_HeatTempLow->text();
    if (ui->comboBox_HeatTemp->currentIndex() == QueryIndex) {
        ui->lineEdit_HeatTempHigh->setText(QString());
        ui->lineEdit_HeatTempLow->setText(QString());
        queryAndEcho(Query::pendingHeatTempThreshold, Commands::getHeatTempThresholds());
    } else {
        if (!inputAccepted(ui->lineEdit_HeatTempHigh, ui->label_17, Input::Kind::Temperature)
            || !inputAccepted(ui->lineEdit_HeatTempLow, ui->label_20, Input::Kind::Temperature))
            return;
        sendAndEcho(Commands::setHeatTempThresholds(high, low));
    }
}

void MainWindow::on_pushButton_HeatHumi_clicked()
{
    const QString high = ui->lineEdit_HeatHumiHigh->text();
    const QString low = ui->lineEdit_HeatHumiLow->text();
    if (ui->comboBox_HeatHumi->currentIndex() == QueryIndex) {
        ui->lineEdit_HeatHumiHigh->setText(QString());
        ui->lineEdit_HeatHumiLow->setText(QString());
        queryAndEcho(Query::pendingHeatHumiThreshold, Commands::getHeatHumiThresholds());
    } else {
        if (!inputAccepted(ui->lineEdit_HeatHumiHigh, ui->label_18, Input::Kind::Humidity)
            || !inputAccepted(ui->lineEdit_HeatHumiLow, ui->label_24, Input::Kind::Humidity))
            return;
        sendAndEcho(Commands::setHeatHumiThresholds(high, low));
    }
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
    ui->checkBox_No1->setChecked(false);
    ui->checkBox_No2->setChecked(false);
    ui->checkBox_No3->setChecked(false);
    ui->checkBox_No4->setChecked(false);
    queryAndEcho(Query::pendingWorkMode, Commands::getWorkMode());
}
