// The log pane's context menu: the pane's own entries (copy, select all), then saving the session
// record as text or its measurements as CSV.
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include <QAction>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QMenu>

void MainWindow::setUpLogPane()
{
    auto *saveLogAction = new QAction(tr("Save log…"), this);
    saveLogAction->setObjectName(QStringLiteral("actionSaveLog"));
    connect(saveLogAction, &QAction::triggered, this, &MainWindow::saveLog);
    auto *saveMeasurementsAction = new QAction(tr("Save measurements…"), this);
    saveMeasurementsAction->setObjectName(QStringLiteral("actionSaveMeasurements"));
    connect(saveMeasurementsAction, &QAction::triggered, this, &MainWindow::saveMeasurements);

    ui->textEditPM->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ui->textEditPM, &QWidget::customContextMenuRequested, this,
            [this, saveLogAction, saveMeasurementsAction](const QPoint &position) {
                QMenu *menu = ui->textEditPM->createStandardContextMenu();
                menu->addSeparator();
                menu->addAction(saveLogAction);
                menu->addAction(saveMeasurementsAction);
                menu->exec(ui->textEditPM->viewport()->mapToGlobal(position));
                delete menu;
            });
}

// A file name in the home folder that says what the file holds and when it was saved.
static QString suggestedFile(const QString &what, const QString &suffix)
{
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    return QDir::home().filePath(QStringLiteral("zelvik-%1-%2.%3").arg(what, stamp, suffix));
}

void MainWindow::saveLog()
{
    const QString path = QFileDialog::getSaveFileName(this, tr("Save log"),
                                                      suggestedFile(QStringLiteral("log"), QStringLiteral("txt")),
                                                      tr("Text files (*.txt);;All files (*)"));
    QString error;
    if (!path.isEmpty() && !record.saveLog(path, &error))
        openBox(tr("Information"), tr("The log was not saved in %1: %2").arg(path, error));
}

void MainWindow::saveMeasurements()
{
    const QString path =
        QFileDialog::getSaveFileName(this, tr("Save measurements"),
                                     suggestedFile(QStringLiteral("measurements"), QStringLiteral("csv")),
                                     tr("CSV files (*.csv);;All files (*)"));
    QString error;
    if (!path.isEmpty() && !record.saveMeasurements(path, &error)) {
        openBox(tr("Information"), tr("The measurements were not saved in %1: %2").arg(path, error));
    }
}

bool MainWindow::recordTo(const QString &path, QString *error)
{
    return record.appendTo(path, error);
}
