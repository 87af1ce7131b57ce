#ifndef ZELVIK_WINDOWFIXTURE_H
#define ZELVIK_WINDOWFIXTURE_H

#include "mainwindow.h"
#include "ptypair.h"

#include <QElapsedTimer>
#include <QMessageBox>
#include <QObject>
#include <QTemporaryDir>
#include <QStringList>

#include <functional>
#include <memory>

// The real window driven the way the operator drives it, by object names, with its poll ticks
// counted. Window suites derive from it. With driveTime() the test owns the window's time: the
// 300 ms timer's ticks are held back, the window's clock reads `now`, and tick() runs a poll.
//
// The window remembers choices in its settings file: the fixture keeps that file in a folder of
// its own, removed with it, so that nothing is read from or left in the user's settings and runs
// side by side do not meet, and it removes the file with closeAll(), so each test's first window
// starts from the defaults.
class WindowFixture : public QObject
{
public:
    WindowFixture();
    ~WindowFixture() override;
    // Removes the window's settings file.
    static void forgetSettings();
    // A new window (the old one is destroyed first) whose ticks are counted from zero.
    MainWindow &newWindow();
    // Types the path into the COM box and presses Open; true when the port is open.
    bool openPort(const QString &path);
    // A new pseudo-terminal pair and a new window open on it, the record of pending replies cleared.
    bool openOnPty();
    // Destroys the window (closing its port) before the pair, and forgets the settings.
    void closeAll();

    // The widget of that name and class; a missing one stops the run.
    template <class T = QWidget> T *widget(const QString &name) const
    {
        T *found = window->findChild<T *>(name);
        if (!found)
            qFatal("no widget %s of the class asked for", qPrintable(name));
        return found;
    }
    // Clicks the button of that name, or invokes the slot when the name starts with "on_" (the
    // withdrawn tabs and the probe slot no widget reaches).
    bool press(const QString &target);
    // "name=value": a line edit's or label's text, a combo's entry by its text, a check box or
    // radio button 1 or 0.
    bool set(const QString &nameValue);
    bool set(const QStringList &nameValues);
    // The same forms as set(); "<no widget>" when there is none.
    QString value(const QString &name) const;
    // "name=current value" for the name of each "name=value".
    QStringList values(const QStringList &nameValues) const;
    // The log pane's lines, empty ones left out.
    QStringList logLines() const;
    // Runs the event loop until count more poll ticks have started; with driven time, runs count
    // ticks at once, each 300 ms after the last.
    bool waitTicks(int count);

    // From now on the test drives the window's clock and poll (for the current window), and runs
    // one poll to begin with.
    void driveTime();
    // Driven time: writes bytes from the device's end and waits until the port holds them, so
    // that the next tick reads them all.
    bool deliver(const QByteArray &bytes);
    // Driven time: count poll ticks, the clock moved 300 ms before each.
    void tick(int count = 1);
    // Driven time: ticks until done() holds, at most maxTicks; true when it held.
    bool tickUntil(const std::function<bool()> &done, int maxTicks = 10);
    // "Title: text" of each message box open now; each is closed with the answer's button, or
    // with the one Escape presses when it has none.
    QStringList closeBoxes(QMessageBox::StandardButton answer = QMessageBox::Ok);
    // Driven time: moves the clock and lets the window do what is due by then between ticks.
    void advanceTo(qint64 ms);

    std::unique_ptr<MainWindow> window;
    std::unique_ptr<PtyPair> pty;
    QElapsedTimer clock;  // started by newWindow()
    int ticks = 0;
    qint64 lastTickAt = -1; // clock time at which the latest tick started
    bool driven = false;
    qint64 now = 0; // the window's time while driven
    QList<QByteArray> written; // every frame the window's session wrote, in order
    QTemporaryDir configFolder; // the configuration folder of this run

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
};

#endif
