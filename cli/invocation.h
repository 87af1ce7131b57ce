#ifndef ZELVIK_INVOCATION_H
#define ZELVIK_INVOCATION_H

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// zelvikctl's command line turned into a plan: the options of the line and the requests to send,
// in order, each already addressed. Nothing here touches a port, so every refusal of a bad
// argument happens before anything is sent.
namespace Cli {

enum ExitCode {
    ExitOk = 0,
    ExitRefused = 1,  // an exception reply, or a reply to something else
    ExitUsage = 2,
    ExitNoAnswer = 3,
    ExitPort = 4
};

struct Options {
    QString port;
    qint32 baud = 9600;
    quint8 address = 0; // 0: the request is taken by whichever device is on the line
    int timeoutMs = 1000;
    int retries = 2;
    bool json = false;
    bool localEcho = false;
};

// What the replies are read as.
enum class Topic {
    Info,
    Reading,
    Address,
    Clean,
    HeatMode,
    TempThresholds,
    HumiThresholds,
    WorkMode,
    Global,
    Calibration,
    TempHumi,
    SelfTest,
    Factors,
    Baud,
    CleanNow,
    Sleep,
    Wake,
    Protocol,
    FactoryReset,
    Raw,
    Probe
};

enum class Action {
    Exchange, // send the requests in turn, one result from their replies
    Monitor,  // read the units again and again on a fixed schedule
    Probe     // the address read at each rate of the probe until one answers
};

struct Invocation {
    Options options;
    Action action = Action::Exchange;
    Topic topic = Topic::Info;
    bool write = false;         // a set command: the reply confirms the values below
    QString command;            // as the JSON output names it: "read", "get temp-thresholds"
    QList<QByteArray> requests; // for Exchange; Monitor and Probe build theirs per step
    int unit = 0;               // read and calibration: 0 = average, 1 to 4
    int range = 0;              // calibration: 0 PM2.5, 1 PM10, 2 PM100
    QList<int> values;          // what a set command writes, in the order the command takes them

    // monitor
    double intervalS = 1.0;
    qint64 count = 0; // readings rounds; 0 until stopped
    QList<int> units{0};
    bool csv = false;
};

struct Parsed {
    enum Kind { Run, Help, Version, Usage } kind = Usage;
    QString text; // the help text, or what was wrong with the arguments
    // What was understood; for Usage, options.json and the command as far as they were read.
    Invocation invocation;
};

// arguments without the program name; portFromEnvironment is $ZELVIK_PORT.
Parsed parse(const QStringList &arguments, const QString &portFromEnvironment);

QString usageLine();

// The measurement read of a unit (0 average, 1 to 4), sent to the address of options.
QByteArray readRequest(const Options &options, int unit);

} // namespace Cli

#endif
