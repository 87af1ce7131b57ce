#ifndef ZELVIK_COMMANDLINE_H
#define ZELVIK_COMMANDLINE_H

#include <QString>
#include <QStringList>

#include <optional>

// What the command line asks for: help, the version, or the window with a port and speed chosen
// in advance (the operator still presses Open) and a file the session record is appended to.
struct CommandLine {
    enum class Action { Run, Help, HelpAll, Version, Error };
    Action action = Action::Run;
    QString message; // the help or version text, or what is wrong with the arguments
    QString port;
    int baudRate = 0; // 0: the window's own choice
    QString recordFile;
    std::optional<bool> localEcho; // unset: as remembered from the last run
};

// True when the arguments ask for help or the version: these need no display, so they are
// answered before the window's application object, which needs one, is created.
bool asksForTextOnly(const QStringList &arguments);
// The arguments as the application object left them (the toolkit's own options removed).
CommandLine parseCommandLine(const QStringList &arguments);
// The arguments as given, checked before the window's application object is made: without a
// display, making it ends the process at once, and a mistyped option would never be reported.
// Only that object knows the toolkit's own options (single-dash words such as -platform or
// -style), so arguments that may hold one are left for parseCommandLine. The result is the error,
// or Run for anything else.
CommandLine checkBeforeApplication(const QStringList &arguments);
// The rates --baud takes: those the window's rate box offers and 2400, which it offers once the
// baud-rate probe has found it. In ascending order.
QList<int> baudRatesOffered();
// Why a rate is refused: "the baud rate 1234 is not one the window offers (2400, …)".
QString baudRateRefusal(int baudRate);
// --help-all: the help with the toolkit's own options, which only the parser itself prints; it
// then ends the process.
[[noreturn]] void showHelpWithToolkitOptions(const QStringList &arguments);

#endif
