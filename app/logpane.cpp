// The log pane's context menu: the pane's own entries (copy, select all), then saving the session
// record as text or its measurements as CSV.
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "sessiontexts.h"

#include <QAction>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QHelpEvent>
#include <QMenu>
#include <QTextBlock>
#include <QToolTip>

#include <functional>

namespace {

// Shows the tool tip of the log line under the mouse: the text that tipFor gives for the kind
// its block carries, none for a plain line or below the last one.
class LogLineTips : public QObject
{
public:
    LogLineTips(QPlainTextEdit *pane, std::function<QString(int)> tipFor)
        : QObject(pane), m_pane(pane), m_tipFor(std::move(tipFor))
    {
        pane->viewport()->installEventFilter(this);
    }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::ToolTip || watched != m_pane->viewport())
            return false;
        const auto *help = static_cast<QHelpEvent *>(event);
        const QTextBlock block = m_pane->cursorForPosition(help->pos()).block();
        QTextCursor end(block);
        end.movePosition(QTextCursor::EndOfBlock);
        const bool onLine = help->pos().y() >= m_pane->cursorRect(QTextCursor(block)).top()
            && help->pos().y() <= m_pane->cursorRect(end).bottom();
        const QString tip = onLine ? m_tipFor(block.userState()) : QString();
        if (tip.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(help->globalPos(), tip, m_pane->viewport());
        return true;
    }

private:
    QPlainTextEdit *m_pane;
    std::function<QString(int)> m_tipFor;
};

} // namespace

void MainWindow::setUpLogPane()
{
    auto *saveLogAction = new QAction(tr("Save log…"), this);
    saveLogAction->setObjectName(QStringLiteral("actionSaveLog"));
    connect(saveLogAction, &QAction::triggered, this, &MainWindow::saveLog);
    auto *saveMeasurementsAction = new QAction(tr("Save measurements…"), this);
    saveMeasurementsAction->setObjectName(QStringLiteral("actionSaveMeasurements"));
    connect(saveMeasurementsAction, &QAction::triggered, this, &MainWindow::saveMeasurements);

    new LogLineTips(ui->textEditPM, [this](int state) { return logTipText(LogTip(state)); });

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

void MainWindow::tipLastLogLine(LogTip tip)
{
    ui->textEditPM->document()->lastBlock().setUserState(int(tip));
}

QString MainWindow::logTipText(LogTip tip) const
{
    if (tip != LogTip::NoAnswer)
        return QString();
    // The buttons as the operator finds them: their captions, and the tab each is on.
    const auto onTab = [this](const QAbstractButton *button, QWidget *page) {
        return tr(R"("%1" (tab "%2"))").arg(button->text(), ui->tabWidget->tabText(ui->tabWidget->indexOf(page)));
    };
    QString hint = SessionTexts::noAnswerHint(onTab(ui->pushButton_GetBaudrate, ui->tab_DeviceAddr),
                                              onTab(ui->pushButton_WakeDevice, ui->tab),
                                              QStringLiteral("\"%1\"").arg(ui->pushButton_ChangeToModbus->text()));
    hint[0] = hint.at(0).toUpper();
    return hint + QLatin1Char('.');
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
