#ifndef ZELVIK_TOOLSUPPORT_H
#define ZELVIK_TOOLSUPPORT_H

// Small pieces shared by the programs that drive the window against the simulated sensor
// (the demo and the screenshot taker).

#include <QCoreApplication>
#include <QEventLoop>
#include <QFileInfo>
#include <QString>
#include <QTimer>

// The simulator beside the program (an installed tree), else the one this build made, else PATH.
inline QString simulatorPath()
{
    const QString beside = QCoreApplication::applicationDirPath() + QStringLiteral("/zelvik-sensor-sim");
    if (QFileInfo(beside).isExecutable())
        return beside;
    const QString built = QStringLiteral(ZELVIK_SIM_PATH);
    if (QFileInfo(built).isExecutable())
        return built;
    return QStringLiteral("zelvik-sensor-sim");
}

// Lets the event loop run for ms, so the window's poll ticks and the serial port keep working.
inline void wait(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

#endif
