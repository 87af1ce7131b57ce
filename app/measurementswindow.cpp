#include "measurementswindow.h"

#include "commandframes.h"
#include "envelopecurve.h"
#include "sessionline.h"
#include "sessionrecord.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QStyle>
#include <QTableWidget>
#include <QVBoxLayout>

#include <qwt_date_scale_draw.h>
#include <qwt_date_scale_engine.h>
#include <qwt_plot.h>
#include <qwt_plot_canvas.h>
#include <qwt_plot_grid.h>
#include <qwt_plot_magnifier.h>
#include <qwt_plot_panner.h>
#include <qwt_plot_zoomer.h>

using Query = PendingReplies::Query;

namespace {

// The window's texts are translated with the main window's.
QString text(const char *source)
{
    return QCoreApplication::translate("MainWindow", source);
}

// While the port is closed, or the same reading already waits in the session, the due reading is
// tried again after this long.
constexpr qint64 RetryMs = 1000;
// A scheduled reading that the session dropped without a word (the port was closed) is noticed
// this long after it went out at the latest.
constexpr int WatchMs = 1000;
constexpr int ReplotMs = 250;

const char *const TargetNames[ReadingStore::Targets] = {"All Sensor", "No.1", "No.2", "No.3", "No.4"};
const char *const SizeNames[ReadingStore::Sizes] = {"PM2.5", "PM10", "PM100"};
// One colour per target, one line style per size.
const QColor TargetColours[ReadingStore::Targets] = {QColor(0x20, 0x20, 0x20), QColor(0x1f, 0x77, 0xb4),
                                                     QColor(0xe6, 0x6a, 0x00), QColor(0x2c, 0xa0, 0x2c),
                                                     QColor(0xd6, 0x27, 0x28)};
const Qt::PenStyle SizeStyles[ReadingStore::Sizes] = {Qt::SolidLine, Qt::DashLine, Qt::DotLine};

struct IntervalChoice {
    const char *name;
    qint64 ms;
};
const IntervalChoice Intervals[] = {
    {"As fast as the line allows", 0}, {"1 s", 1000}, {"2 s", 2000}, {"5 s", 5000}, {"10 s", 10000},
    {"30 s", 30000}, {"1 min", 60000}, {"5 min", 300000}, {"15 min", 900000}, {"30 min", 1800000},
    {"1 h", 3600000},
};

} // namespace

MeasurementsWindow::MeasurementsWindow(SensorSession &session, const SessionLine &line, std::function<qint64()> clock,
                                       QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_session(session)
    , m_line(line)
    , m_clock(std::move(clock))
    , m_wallClock([] { return QDateTime::currentMSecsSinceEpoch(); })
{
    setObjectName(QStringLiteral("MeasurementsWindow"));
    setWindowTitle(text("Measurements"));

    // What to read and how often.
    auto *controls = new QHBoxLayout;
    controls->addWidget(new QLabel(text("Read:")));
    for (int target = 0; target < ReadingStore::Targets; ++target) {
        m_targets[target] = new QCheckBox(text(TargetNames[target]));
        m_targets[target]->setObjectName(QStringLiteral("checkBoxTarget%1").arg(target));
        m_targets[target]->setChecked(true);
        controls->addWidget(m_targets[target]);
    }
    controls->addSpacing(12);
    controls->addWidget(new QLabel(text("Every:")));
    m_interval = new QComboBox;
    m_interval->setObjectName(QStringLiteral("comboBoxInterval"));
    for (const IntervalChoice &choice : Intervals)
        m_interval->addItem(text(choice.name), choice.ms);
    controls->addWidget(m_interval);
    m_start = new QPushButton(text("Start"));
    m_start->setObjectName(QStringLiteral("pushButtonStart"));
    m_stop = new QPushButton(text("Stop"));
    m_stop->setObjectName(QStringLiteral("pushButtonStop"));
    m_stop->setEnabled(false);
    controls->addWidget(m_start);
    controls->addWidget(m_stop);
    controls->addStretch();
    connect(m_start, &QPushButton::clicked, this, &MeasurementsWindow::start);
    connect(m_stop, &QPushButton::clicked, this, &MeasurementsWindow::stop);

    // The chart.
    m_plot = new QwtPlot;
    m_plot->setObjectName(QStringLiteral("plotMeasurements"));
    m_plot->setCanvasBackground(Qt::white);
    // The date scale's hint grows with its labels; the window must not grow with it.
    m_plot->setMinimumSize(400, 250);
    m_plot->setAxisTitle(QwtPlot::yLeft, text("µg/m³"));
    auto *dates = new QwtDateScaleDraw(Qt::LocalTime);
    dates->setDateFormat(QwtDate::Millisecond, QStringLiteral("hh:mm:ss.zzz"));
    dates->setDateFormat(QwtDate::Second, QStringLiteral("hh:mm:ss"));
    dates->setDateFormat(QwtDate::Minute, QStringLiteral("hh:mm"));
    dates->setDateFormat(QwtDate::Hour, QStringLiteral("hh:mm"));
    dates->setDateFormat(QwtDate::Day, QStringLiteral("ddd dd.MM"));
    m_plot->setAxisScaleDraw(QwtPlot::xBottom, dates);
    m_plot->setAxisScaleEngine(QwtPlot::xBottom, new QwtDateScaleEngine(Qt::LocalTime));
    m_plot->setAxisMaxMajor(QwtPlot::xBottom, 6);
    auto *grid = new QwtPlotGrid;
    grid->setMajorPen(QColor(0xdd, 0xdd, 0xdd), 0, Qt::SolidLine);
    grid->attach(m_plot);
    for (int target = 0; target < ReadingStore::Targets; ++target) {
        for (int size = 0; size < ReadingStore::Sizes; ++size) {
            auto *curve = new EnvelopeCurve(m_store, target, ReadingStore::Size(size),
                                            text(TargetNames[target]) + QLatin1Char(' ') + text(SizeNames[size]));
            curve->setPen(TargetColours[target], 0, SizeStyles[size]);
            curve->attach(m_plot);
            m_curves[target * ReadingStore::Sizes + size] = curve;
        }
    }
    // Left drag zooms in, right click steps back; the middle button pans; the wheel magnifies.
    m_zoomer = new QwtPlotZoomer(m_plot->canvas());
    m_zoomer->setTrackerMode(QwtPicker::AlwaysOff);
    auto *panner = new QwtPlotPanner(m_plot->canvas());
    panner->setMouseButton(Qt::MiddleButton);
    auto *magnifier = new QwtPlotMagnifier(m_plot->canvas());
    magnifier->setMouseButton(Qt::NoButton);
    // A view that the operator moved stays where it is until Autoscale.
    connect(m_zoomer, &QwtPlotZoomer::zoomed, this, [this] { m_pause->setChecked(true); });
    connect(panner, &QwtPlotPanner::panned, this, [this] { m_pause->setChecked(true); });

    // The latest value of each series; unticking a cell hides its curve.
    m_table = new QTableWidget(ReadingStore::Targets, ReadingStore::Sizes);
    m_table->setObjectName(QStringLiteral("tableLatest"));
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionMode(QAbstractItemView::NoSelection);
    QStringList sizeHeaders, targetHeaders;
    const char *const styleMarks[ReadingStore::Sizes] = {"—", "- -", "···"};
    for (int size = 0; size < ReadingStore::Sizes; ++size)
        sizeHeaders << text(SizeNames[size]) + QLatin1Char(' ') + QString::fromUtf8(styleMarks[size]);
    for (int target = 0; target < ReadingStore::Targets; ++target)
        targetHeaders << text(TargetNames[target]);
    m_table->setHorizontalHeaderLabels(sizeHeaders);
    m_table->setVerticalHeaderLabels(targetHeaders);
    for (int target = 0; target < ReadingStore::Targets; ++target) {
        for (int size = 0; size < ReadingStore::Sizes; ++size) {
            auto *item = new QTableWidgetItem(QStringLiteral("–"));
            item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
            item->setCheckState(Qt::Checked);
            item->setForeground(TargetColours[target]);
            item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            m_table->setItem(target, size, item);
        }
    }
    m_table->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_table->verticalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    m_table->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_table->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // Wide enough for the widest value the device can give (6553.5) beside the tick.
    m_table->horizontalHeader()->setMinimumSectionSize(
        m_table->fontMetrics().horizontalAdvance(QStringLiteral("6553.5")) + 4 * m_table->style()->pixelMetric(QStyle::PM_IndicatorWidth));
    connect(m_table, &QTableWidget::itemChanged, this, [this](QTableWidgetItem *item) {
        QwtPlotCurve *shown = m_curves[item->row() * ReadingStore::Sizes + item->column()];
        const bool visible = item->checkState() == Qt::Checked;
        if (shown->isVisible() != visible) {
            shown->setVisible(visible);
            replot();
        }
    });

    m_status = new QLabel;
    m_status->setObjectName(QStringLiteral("labelStatus"));
    m_status->setWordWrap(true);

    m_pause = new QPushButton(text("Pause view"));
    m_pause->setObjectName(QStringLiteral("pushButtonPause"));
    m_pause->setCheckable(true);
    m_pause->setToolTip(text("Keep the chart as it is while reading goes on"));
    connect(m_pause, &QPushButton::toggled, this, &MeasurementsWindow::setPaused);
    auto *autoscaleButton = new QPushButton(text("Autoscale"));
    autoscaleButton->setObjectName(QStringLiteral("pushButtonAutoscale"));
    connect(autoscaleButton, &QPushButton::clicked, this, &MeasurementsWindow::autoscale);
    auto *pngButton = new QPushButton(text("Export PNG…"));
    pngButton->setObjectName(QStringLiteral("pushButtonExportPng"));
    connect(pngButton, &QPushButton::clicked, this, &MeasurementsWindow::exportPng);
    auto *csvButton = new QPushButton(text("Export CSV…"));
    csvButton->setObjectName(QStringLiteral("pushButtonExportCsv"));
    connect(csvButton, &QPushButton::clicked, this, &MeasurementsWindow::exportCsv);

    auto *side = new QWidget;
    auto *sideLayout = new QVBoxLayout(side);
    sideLayout->setContentsMargins(0, 0, 0, 0);
    sideLayout->addWidget(m_table);
    sideLayout->addWidget(m_status);
    sideLayout->addStretch();
    auto *viewButtons = new QGridLayout;
    viewButtons->addWidget(m_pause, 0, 0);
    viewButtons->addWidget(autoscaleButton, 0, 1);
    viewButtons->addWidget(pngButton, 1, 0);
    viewButtons->addWidget(csvButton, 1, 1);
    sideLayout->addLayout(viewButtons);

    // The side is as wide as the table, which shows all its cells and nothing more.
    // (Header sizes are only known once shown, so they are estimated from the font.)
    const QFontMetrics metrics = m_table->fontMetrics();
    const int column = m_table->horizontalHeader()->minimumSectionSize();
    m_table->horizontalHeader()->setDefaultSectionSize(column);
    const int rows = ReadingStore::Targets * (metrics.height() + 8);
    m_table->setFixedSize(metrics.horizontalAdvance(text("All Sensor")) + 24 + ReadingStore::Sizes * column + 4,
                          metrics.height() + 12 + rows);
    side->setFixedWidth(m_table->width());
    auto *body = new QHBoxLayout;
    body->addWidget(m_plot, 1);
    body->addWidget(side);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(controls);
    layout->addLayout(body, 1);
    resize(1150, 560);

    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &MeasurementsWindow::advance);
    m_replotTimer.setSingleShot(true);
    connect(&m_replotTimer, &QTimer::timeout, this, &MeasurementsWindow::replot);
    connectSession();
    showStatus();
}

MeasurementsWindow::~MeasurementsWindow()
{
    m_session.disconnect(this);
    stop();
}

void MeasurementsWindow::connectSession()
{
    connect(&m_session, &SensorSession::answered, this, [this](const SensorSession::Reply &reply) {
        if (reply.query == Query::pendingSensorData)
            readingEnded(reply.ticket);
    });
    // Pressed in the main window or scheduled here: every reading lands in the chart.
    connect(&m_session, &SensorSession::measured, this, [this](int unit, const Values::Measurement &value) {
        addReading(m_wallClock(), unit, value);
    });
    connect(&m_session, &SensorSession::noAnswer, this, [this](const SensorSession::Reply &reply) {
        if (reply.query != Query::pendingSensorData)
            return;
        ++m_noAnswers;
        addGap(m_wallClock(), reply.unitIndex);
        readingEnded(reply.ticket);
    });
    connect(&m_session, &SensorSession::refused, this, [this](const SensorSession::Refusal &refusal) {
        if (!refusal.hasQuery || refusal.query.query != Query::pendingSensorData)
            return;
        ++m_refusals;
        addGap(m_wallClock(), refusal.query.unitIndex);
        readingEnded(refusal.query.ticket);
    });
}

void MeasurementsWindow::addReading(qint64 timeMs, int target, const Values::Measurement &value)
{
    m_store.append(timeMs, target, value);
    showLatest(target);
    showStatus();
    requestReplot();
}

void MeasurementsWindow::addGap(qint64 timeMs, int target)
{
    m_store.appendGap(timeMs, target);
    showLatest(target);
    showStatus();
    requestReplot();
}

void MeasurementsWindow::readingEnded(quint64 ticket)
{
    if (ticket == 0 || ticket != m_ticket)
        return;
    m_ticket = 0;
    m_schedule.ended(m_clock());
    sendDue();
}

void MeasurementsWindow::start()
{
    QList<int> targets;
    for (int target = 0; target < ReadingStore::Targets; ++target) {
        if (m_targets[target]->isChecked())
            targets << target;
    }
    if (targets.isEmpty()) {
        m_status->setText(text("Tick at least one target to read."));
        return;
    }
    stop();
    m_schedule.start(targets, m_interval->currentData().toLongLong(), m_clock());
    for (QWidget *choice : {static_cast<QWidget *>(m_interval), static_cast<QWidget *>(m_start)})
        choice->setEnabled(false);
    for (QCheckBox *target : m_targets)
        target->setEnabled(false);
    m_stop->setEnabled(true);
    sendDue();
    showStatus();
}

void MeasurementsWindow::stop()
{
    // The reading on the line is taken back: nothing of the schedule stays in the session's queue.
    if (m_ticket != 0)
        m_session.cancel(m_ticket, m_clock());
    m_ticket = 0;
    m_schedule.stop();
    m_timer.stop();
    m_waitingForPort = false;
    m_interval->setEnabled(true);
    m_start->setEnabled(true);
    for (QCheckBox *target : m_targets)
        target->setEnabled(true);
    m_stop->setEnabled(false);
    showStatus();
}

void MeasurementsWindow::advance()
{
    // The session forgets its queries without a word when the port closes.
    if (m_ticket != 0 && !m_session.pending().find(m_ticket)) {
        m_ticket = 0;
        m_schedule.ended(m_clock());
    }
    sendDue();
}

void MeasurementsWindow::sendDue()
{
    const qint64 now = m_clock();
    const int target = m_schedule.due(now);
    if (target >= 0) {
        const bool open = m_line.isOpen();
        const quint64 ticket = open ? m_session.query(Query::pendingSensorData, Commands::readSensorData(target), now, target) : 0;
        m_waitingForPort = !open;
        if (ticket != 0) {
            m_ticket = ticket;
            m_schedule.sent(target, now);
        } else {
            // The port is closed, or the same reading already waits (pressed in the main window).
            m_schedule.deferred(now + RetryMs);
        }
        showStatus();
    }
    armTimer();
}

void MeasurementsWindow::armTimer()
{
    if (!m_schedule.running()) {
        m_timer.stop();
        return;
    }
    const qint64 due = m_schedule.nextDueMs();
    m_timer.start(due < 0 ? WatchMs : int(qBound<qint64>(0, due - m_clock(), 3600 * 1000)));
}

void MeasurementsWindow::showStatus()
{
    QStringList parts;
    if (m_schedule.running()) {
        const double rate = m_schedule.achievedRate();
        if (m_waitingForPort)
            parts << text("Waiting for the port to be opened");
        else if (rate > 0 && m_schedule.lineLimited())
            parts << text("%1 readings/s (as fast as the line allows)").arg(rate, 0, 'f', 2);
        else if (rate > 0)
            parts << text("%1 readings/s").arg(rate, 0, 'f', 2);
        else
            parts << text("Reading");
    } else {
        parts << text("Stopped");
    }
    parts << text("%1 readings").arg(m_store.readings() - m_store.gaps())
          << text("%1 without answer").arg(m_noAnswers) << text("%1 refused").arg(m_refusals);
    m_status->setText(parts.join(QStringLiteral(" · ")));
}

void MeasurementsWindow::showLatest(int target)
{
    if (target < 0 || target >= ReadingStore::Targets)
        return;
    const QSignalBlocker quiet(m_table); // a new value is no click on the cell
    for (int size = 0; size < ReadingStore::Sizes; ++size) {
        float value = 0;
        const bool known = m_store.latest(target, ReadingStore::Size(size), &value);
        m_table->item(target, size)->setText(known ? Values::pmText(value) : QStringLiteral("–"));
    }
}

void MeasurementsWindow::requestReplot()
{
    if (!m_pause->isChecked() && !m_replotTimer.isActive())
        m_replotTimer.start(ReplotMs);
}

void MeasurementsWindow::replot()
{
    m_plot->replot();
}

void MeasurementsWindow::setPaused(bool paused)
{
    if (!paused)
        requestReplot();
    else
        m_replotTimer.stop();
}

void MeasurementsWindow::autoscale()
{
    m_plot->setAxisAutoScale(QwtPlot::xBottom, true);
    m_plot->setAxisAutoScale(QwtPlot::yLeft, true);
    m_pause->setChecked(false);
    replot();
    m_zoomer->setZoomBase(true);
}

void MeasurementsWindow::closeEvent(QCloseEvent *event)
{
    // A schedule nobody watches would keep the line busy: closing stops it; the readings stay.
    stop();
    QWidget::closeEvent(event);
}

bool MeasurementsWindow::savePng(const QString &path, QString *error)
{
    const QString special = SessionRecord::notRegularFile(path);
    if (!special.isEmpty()) {
        *error = special;
        return false;
    }
    m_plot->replot();
    if (m_plot->grab().save(path, "PNG"))
        return true;
    *error = text("the image could not be written");
    return false;
}

bool MeasurementsWindow::saveCsv(const QString &path, QString *error) const
{
    return SessionRecord::saveFile(path, m_store.csv(), error);
}

namespace {
QString suggestedFile(const QString &suffix)
{
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    return QDir::home().filePath(QStringLiteral("zelvik-chart-%1.%2").arg(stamp, suffix));
}
} // namespace

void MeasurementsWindow::exportPng()
{
    const QString path = QFileDialog::getSaveFileName(this, text("Export chart"), suggestedFile(QStringLiteral("png")),
                                                      text("PNG images (*.png);;All files (*)"));
    QString error;
    if (!path.isEmpty() && !savePng(path, &error))
        QMessageBox::information(this, text("Information"), text("The chart was not saved in %1: %2").arg(path, error));
}

void MeasurementsWindow::exportCsv()
{
    const QString path = QFileDialog::getSaveFileName(this, text("Save measurements"), suggestedFile(QStringLiteral("csv")),
                                                      text("CSV files (*.csv);;All files (*)"));
    QString error;
    if (!path.isEmpty() && !saveCsv(path, &error))
        QMessageBox::information(this, text("Information"),
                                 text("The measurements were not saved in %1: %2").arg(path, error));
}
