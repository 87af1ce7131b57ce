#ifndef ZELVIK_WINDOWPROBE_H
#define ZELVIK_WINDOWPROBE_H

#include "mainwindow.h"

// The window's private state that tests check directly.
struct WindowProbe {
    static int pollTimerId(const MainWindow &window) { return window.pollTimerId; }
    static QSerialPort &serial(MainWindow &window) { return window.serial; }
};

#endif
