// Transparent transmission: raw bytes wrapped in a Modbus write to one unit's channel register,
// the read of that unit's answer, and the preset of general commands.
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "commandframes.h"
#include "pendingreplies.h"

using Query = PendingReplies::Query;

#include <QDebug>

void MainWindow::on_pushButton_TransSend_clicked()
{
    const Commands::TransparentSend send =
        Commands::transparentSend(ui->lineEdit_TransSend->text(), ui->comboBoxTransObject->currentText());
    if (!send.fits) {
        // The request holds at most 91 data bytes; cutting the operator's frame would send
        // something they did not type.
        openBox(tr("Information"), tr("At most %1 bytes can be sent through the channel; the text has %2.")
                                       .arg(Commands::MaxTransparentBytes)
                                       .arg(send.parts));
        return;
    }
    for (const char byte : send.request)
        qDebug("%x", static_cast<quint8>(byte));
    echoFrame(send.request);
    writeFrame(send.request);
}

void MainWindow::on_pushButton_TransRead_clicked()
{
    queryAndEcho(Query::pendingTransRead, Commands::transparentRead(ui->comboBoxTransObject->currentText()));
}

void MainWindow::on_comboBoxCommonCMD_currentIndexChanged(const QString &arg1)
{
    Q_UNUSED(arg1)
    if (ui->comboBoxCommonCMD->currentIndex() == 1) // "Sleep"
        ui->lineEdit_TransSend->setText(Commands::sleepPresetText());
}
