#include "commandline.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <algorithm>

namespace {

QString text(const char *source)
{
    return QCoreApplication::translate("CommandLine", source);
}

} // namespace

bool asksForTextOnly(const QStringList &arguments)
{
    static const QStringList textOptions = {QStringLiteral("-h"), QStringLiteral("--help"),
                                            QStringLiteral("-?"), QStringLiteral("--help-all"),
                                            QStringLiteral("-v"), QStringLiteral("--version")};
    return std::any_of(arguments.begin() + (arguments.isEmpty() ? 0 : 1), arguments.end(),
                       [](const QString &argument) { return textOptions.contains(argument); });
}

CommandLine parseCommandLine(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(text("Configures and tests a particulate-matter sensor over a serial port."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption port(QStringLiteral("port"),
                                  text("Serial port to show in the COM box, e.g. /dev/ttyUSB0."),
                                  QStringLiteral("path"));
    const QCommandLineOption baud(QStringLiteral("baud"), text("Baud rate to choose: 4800, 9600 or 19200."),
                                  QStringLiteral("rate"));
    const QCommandLineOption record(QStringLiteral("record"),
                                    text("Append the session record to this file as it happens."),
                                    QStringLiteral("file"));
    parser.addOptions({port, baud, record});

    CommandLine line;
    // Help and version are answered even beside options this parser does not know, such as the
    // toolkit's own when no display was there to take them.
    const bool parsed = parser.parse(arguments);
    if (parser.isSet(help) || parser.isSet(QStringLiteral("help-all"))) {
        line.action = CommandLine::Action::Help;
        line.message = parser.helpText();
    } else if (parser.isSet(version)) {
        line.action = CommandLine::Action::Version;
        line.message = QCoreApplication::applicationName() + QLatin1Char(' ')
            + QCoreApplication::applicationVersion() + QLatin1Char('\n');
    } else if (!parsed) {
        line.action = CommandLine::Action::Error;
        line.message = parser.errorText();
    } else if (!parser.positionalArguments().isEmpty()) {
        line.action = CommandLine::Action::Error;
        line.message = text("Unexpected argument: %1").arg(parser.positionalArguments().first());
    }
    if (line.action != CommandLine::Action::Run)
        return line;

    line.port = parser.value(port);
    line.recordFile = parser.value(record);
    if (parser.isSet(baud)) {
        bool ok = false;
        line.baudRate = parser.value(baud).toInt(&ok);
        if (!ok || line.baudRate <= 0) {
            line.action = CommandLine::Action::Error;
            line.message = text("--baud takes a number, not \"%1\"").arg(parser.value(baud));
        }
    }
    if (parser.isSet(port) && line.port.isEmpty()) {
        line.action = CommandLine::Action::Error;
        line.message = text("--port takes the path of a serial port");
    }
    return line;
}
