// The baseline of the benchmarks: an empty QMainWindow, shown the way the tool shows its window.
// With "--idle SECONDS" it reports the CPU time it used over that many seconds after settling.
#include <QApplication>
#include <QMainWindow>
#include <QTimer>

#include <cstdio>
#include <sys/resource.h>

static double cpuMs()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

int main(int argc, char *argv[])
{
    // As the tool does: no OpenGL-capable visual for a window that draws none.
    QCoreApplication::setAttribute(Qt::AA_ForceRasterWidgets);
    QApplication application(argc, argv);
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("bare"));
    window.show();
    const QStringList arguments = QApplication::arguments();
    if (arguments.size() == 3 && arguments.at(1) == QLatin1String("--idle")) {
        const int seconds = arguments.at(2).toInt();
        static double start = 0;
        QTimer::singleShot(1000, [] { start = cpuMs(); });
        QTimer::singleShot(1000 + seconds * 1000, [] {
            std::printf("cpu_ms=%.1f\n", cpuMs() - start);
            QApplication::quit();
        });
    }
    return QApplication::exec();
}
