#include "commandline.h"

#include "baudprobe.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <algorithm>
#include <cstdlib>

namespace {

QString text(const char *source)
{
    return QCoreApplication::translate("CommandLine", source);
}

QStringList rateTexts()
{
    QStringList rates;
    for (const int rate : baudRatesOffered())
        rates << QString::number(rate);
    return rates;
}

struct Options {
    QCommandLineOption help;
    QCommandLineOption version;
    QCommandLineOption port;
    QCommandLineOption baud;
    QCommandLineOption record;
    QCommandLineOption localEcho;
    QCommandLineOption noLocalEcho;
};

Options describeOptions(QCommandLineParser &parser)
{
    parser.setApplicationDescription(text("Configures and tests a particulate-matter sensor over a serial port."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption port(QStringLiteral("port"),
                                  text("Serial port to show in the COM box, e.g. /dev/ttyUSB0."),
                                  QStringLiteral("path"));
    const QStringList rates = rateTexts();
    const QCommandLineOption baud(QStringLiteral("baud"),
                                  text("Baud rate to choose: %1 or %2.")
                                      .arg(rates.mid(0, rates.size() - 1).join(QStringLiteral(", ")), rates.last()),
                                  QStringLiteral("rate"));
    const QCommandLineOption record(QStringLiteral("record"),
                                    text("Append the session record to this file as it happens."),
                                    QStringLiteral("file"));
    const QCommandLineOption localEcho(QStringLiteral("local-echo"),
                                       text("The adapter echoes what it sends: drop that copy of each request "
                                            "(remembered for the next start)."));
    const QCommandLineOption noLocalEcho(QStringLiteral("no-local-echo"),
                                         text("The adapter does not echo: keep every byte received "
                                              "(remembered for the next start)."));
    parser.addOptions({port, baud, record, localEcho, noLocalEcho});
    return {help, version, port, baud, record, localEcho, noLocalEcho};
}

// A single-dash word: how the toolkit spells its own options (-platform, -style, -reverse).
bool mayBeToolkitOption(const QString &argument)
{
    return argument.size() > 2 && argument.startsWith(QLatin1Char('-')) && !argument.startsWith(QLatin1String("--"));
}

} // namespace

QList<int> baudRatesOffered()
{
    QList<int> rates;
    for (quint8 step = 1; step <= BaudProbe::RatesTried; ++step)
        rates << BaudProbe::rateForStep(step);
    std::sort(rates.begin(), rates.end());
    return rates;
}

QString baudRateRefusal(int baudRate)
{
    return text("the baud rate %1 is not one the window offers (%2)").arg(baudRate).arg(rateTexts().join(QStringLiteral(", ")));
}

bool asksForTextOnly(const QStringList &arguments)
{
    // Not --help-all: the toolkit lists its own options only once the window's application exists.
    static const QStringList textOptions = {QStringLiteral("-h"), QStringLiteral("--help"), QStringLiteral("-?"),
                                            QStringLiteral("-v"), QStringLiteral("--version")};
    const QStringList options = arguments.mid(1); // after the program's name
    return std::any_of(options.begin(), options.end(),
                       [](const QString &argument) { return textOptions.contains(argument); });
}

CommandLine parseCommandLine(const QStringList &arguments)
{
    QCommandLineParser parser;
    const Options options = describeOptions(parser);
    CommandLine line;
    // Help and version are answered even beside options this parser does not know, such as the
    // toolkit's own when no display was there to take them.
    const bool parsed = parser.parse(arguments);
    if (parser.isSet(QStringLiteral("help-all"))) {
        line.action = CommandLine::Action::HelpAll;
    } else if (parser.isSet(options.help)) {
        line.action = CommandLine::Action::Help;
        line.message = parser.helpText();
    } else if (parser.isSet(options.version)) {
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

    line.port = parser.value(options.port);
    line.recordFile = parser.value(options.record);
    if (parser.isSet(options.localEcho) && parser.isSet(options.noLocalEcho)) {
        line.action = CommandLine::Action::Error;
        line.message = text("--local-echo and --no-local-echo exclude each other");
    } else if (parser.isSet(options.localEcho) || parser.isSet(options.noLocalEcho)) {
        line.localEcho = parser.isSet(options.localEcho);
    }
    if (parser.isSet(options.baud)) {
        bool ok = false;
        line.baudRate = parser.value(options.baud).toInt(&ok);
        if (!ok || line.baudRate <= 0) {
            line.action = CommandLine::Action::Error;
            line.message = text("--baud takes a number, not \"%1\"").arg(parser.value(options.baud));
        } else if (!baudRatesOffered().contains(line.baudRate)) {
            line.action = CommandLine::Action::Error;
            line.message = QStringLiteral("--baud: ") + baudRateRefusal(line.baudRate);
        }
    }
    if (parser.isSet(options.port) && line.port.isEmpty()) {
        line.action = CommandLine::Action::Error;
        line.message = text("--port takes the path of a serial port");
    }
    return line;
}

CommandLine checkBeforeApplication(const QStringList &arguments)
{
    // Help and the version need no display; their texts need the application object.
    if (asksForTextOnly(arguments))
        return CommandLine{};
    CommandLine line = parseCommandLine(arguments);
    const QStringList options = arguments.mid(1);
    if (line.action != CommandLine::Action::Error || std::any_of(options.begin(), options.end(), mayBeToolkitOption))
        return CommandLine{};
    return line;
}

void showHelpWithToolkitOptions(const QStringList &arguments)
{
    QCommandLineParser parser;
    describeOptions(parser);
    parser.process(arguments); // prints the help and ends the process
    std::exit(EXIT_SUCCESS);
}
