#ifndef ZELVIK_MEASUREMENTSWINDOW_H
#define ZELVIK_MEASUREMENTSWINDOW_H

#include "readingstore.h"
#include "schedule.h"
#include "sensorsession.h"

#include <QTimer>
#include <QWidget>

#include <array>
#include <functional>

class EnvelopeCurve;
class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QTableWidget;
class QwtPlot;
class QwtPlotZoomer;
class SessionLine;

// Watching the sensor: readings of the chosen targets on a schedule, and a live chart of PM2.5,
// PM10 and PM100 of each target. Every reading goes through the window's one sensor session, so
// scheduled readings and a ReadResult pressed in the main window never cross, and the pressed
// ones land in the chart as well. A reading that got no answer or was refused is a gap.
class MeasurementsWindow : public QWidget
{
    Q_OBJECT
public:
    // clock: the session's time in ms (the main window's steady clock).
    MeasurementsWindow(SensorSession &session, const SessionLine &line, std::function<qint64()> clock,
                       QWidget *parent = nullptr);
    ~MeasurementsWindow() override;

    const ReadingStore &store() const { return m_store; }
    const MeasureSchedule &schedule() const { return m_schedule; }
    int noAnswers() const { return m_noAnswers; }
    int refusals() const { return m_refusals; }
    QwtPlot *plot() const { return m_plot; }
    EnvelopeCurve *curve(int target, ReadingStore::Size size) const { return m_curves[target * ReadingStore::Sizes + size]; }

    // Readings as the session reports them, at wall-clock time timeMs (ms since the epoch).
    void addReading(qint64 timeMs, int target, const Values::Measurement &value);
    void addGap(qint64 timeMs, int target);
    // Sends the reading that is due at the session's time, if any (the window's timer calls it).
    void advance();
    // The wall clock that stamps the readings (the benchmark sets its own).
    void setWallClock(std::function<qint64()> clock) { m_wallClock = std::move(clock); }

    bool savePng(const QString &path, QString *error);
    bool saveCsv(const QString &path, QString *error) const;

public slots:
    void start();
    void stop();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void connectSession();
    void readingEnded(quint64 ticket);
    void sendDue();
    void armTimer();
    void showStatus();
    void showLatest(int target);
    void requestReplot();
    void replot();
    void setPaused(bool paused);
    void autoscale();
    void exportPng();
    void exportCsv();

    SensorSession &m_session;
    const SessionLine &m_line;
    std::function<qint64()> m_clock;
    std::function<qint64()> m_wallClock;
    ReadingStore m_store;
    MeasureSchedule m_schedule;
    quint64 m_ticket = 0; // the scheduled reading on the line, 0 when none
    int m_noAnswers = 0;
    int m_refusals = 0;
    bool m_waitingForPort = false;
    QTimer m_timer;       // the next reading due, or a look at one that is overdue
    QTimer m_replotTimer; // redraws at most a few times a second

    std::array<QCheckBox *, ReadingStore::Targets> m_targets{};
    QComboBox *m_interval = nullptr;
    QPushButton *m_start = nullptr;
    QPushButton *m_stop = nullptr;
    QPushButton *m_pause = nullptr;
    QTableWidget *m_table = nullptr;
    QLabel *m_status = nullptr;
    QwtPlot *m_plot = nullptr;
    QwtPlotZoomer *m_zoomer = nullptr;
    std::array<EnvelopeCurve *, ReadingStore::Targets * ReadingStore::Sizes> m_curves{};
};

#endif
