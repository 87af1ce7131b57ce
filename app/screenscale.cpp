#include "screenscale.h"

#include <QGuiApplication>

void scaleWithScreen()
{
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
    // Rounding 1.25 down to 1 would leave 120 dpi fonts in 96 dpi boxes; 1.5 up to 2 would make
    // the 1528-pixel form wider than a 1920-pixel screen.
    QGuiApplication::setHighDpiScaleFactorRoundingPolicy(Qt::HighDpiScaleFactorRoundingPolicy::PassThrough);
}

void drawWithoutOpenGL()
{
    QCoreApplication::setAttribute(Qt::AA_ForceRasterWidgets);
}
