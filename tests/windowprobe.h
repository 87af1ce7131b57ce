#ifndef ZELVIK_WINDOWPROBE_H
#define ZELVIK_WINDOWPROBE_H

#include "mainwindow.h"

// The window's private state that tests check directly.
struct WindowProbe {
    static bool polling(const MainWindow &window) { return window.pollTimer.isActive(); }
    static int pollTimerId(const MainWindow &window) { return window.pollTimer.timerId(); }
    static QSerialPort &serial(MainWindow &window) { return window.link.port(); }
};

#endif
