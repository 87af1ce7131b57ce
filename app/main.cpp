#include "commandline.h"
#include "fonts.h"
#include "mainwindow.h"
#include "screenscale.h"

#include <QApplication>

#include <cstdio>
#include <memory>

int main(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    QCoreApplication::setOrganizationName(QStringLiteral("Zelvik"));
    QCoreApplication::setApplicationName(QStringLiteral("zelvikconfig"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ZELVIK_VERSION));
    // Wrong arguments are reported before the window system is needed: without a display,
    // making the window's application object would end the process first.
    const CommandLine early = checkBeforeApplication(arguments);
    if (early.action == CommandLine::Action::Error) {
        std::fprintf(stderr, "zelvikconfig: %s\n", qPrintable(early.message));
        return 1;
    }
    // Help and the version are printed without a display, so without the window's application.
    std::unique_ptr<QCoreApplication> application;
    if (asksForTextOnly(arguments)) {
        application = std::make_unique<QCoreApplication>(argc, argv);
    } else {
        scaleWithScreen();
        drawWithoutOpenGL();
        startReadingFontConfiguration();
        application = std::make_unique<QApplication>(argc, argv);
    }

    const CommandLine line = parseCommandLine(QCoreApplication::arguments());
    switch (line.action) {
    case CommandLine::Action::HelpAll:
        showHelpWithToolkitOptions(QCoreApplication::arguments());
    case CommandLine::Action::Help:
    case CommandLine::Action::Version:
        std::fputs(qPrintable(line.message), stdout);
        return 0;
    case CommandLine::Action::Error:
        std::fprintf(stderr, "zelvikconfig: %s\n", qPrintable(line.message));
        return 1;
    case CommandLine::Action::Run:
        break;
    }

    installFormFonts();
    MainWindow window;
    QString error;
    if (!window.preselect(line.port, line.baudRate, &error)) {
        std::fprintf(stderr, "zelvikconfig: --baud: %s\n", qPrintable(error)); // parseCommandLine refused it already
        return 1;
    }
    if (!line.recordFile.isEmpty() && !window.recordTo(line.recordFile, &error)) {
        std::fprintf(stderr, "zelvikconfig: --record %s: %s\n", qPrintable(line.recordFile), qPrintable(error));
        return 1;
    }
    window.setLocalEcho(line.localEcho.value_or(MainWindow::rememberedLocalEcho()));
    window.show();
    return QApplication::exec();
}
