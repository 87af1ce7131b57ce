#ifndef ZELVIK_WINDOWPROBE_H
#define ZELVIK_WINDOWPROBE_H

#include "mainwindow.h"

#include <functional>

// The window's private state that tests check directly, and the hooks that let a test drive the
// window's time: its clock and its poll tick.
struct WindowProbe {
    static bool polling(const MainWindow &window) { return window.pollTimer.isActive(); }
    static int pollTimerId(const MainWindow &window) { return window.pollTimer.timerId(); }
    static QSerialPort &serial(MainWindow &window) { return window.link.port(); }
    static SensorSession &session(MainWindow &window) { return window.session; }
    static const PendingReplies &pending(const MainWindow &window) { return window.session.pending(); }
    static qint64 elapsed(const MainWindow &window) { return window.now(); }
    static const SessionRecord &record(const MainWindow &window) { return window.record; }
    // The window reads this clock instead of its own from now on.
    static void setClock(MainWindow &window, std::function<qint64()> clock) { window.clockOverride = std::move(clock); }
    // One poll tick, as the 300 ms timer runs it.
    static void tick(MainWindow &window) { window.pollTick(); }
    // What the session has to do at the window's time, between ticks (a request due later).
    static void advance(MainWindow &window) { window.session.advance(window.now()); }
};

#endif
