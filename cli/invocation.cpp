#include "invocation.h"

#include "baudprobe.h"
#include "commandframes.h"
#include "frames.h"
#include "inputcheck.h"
#include "seriallink.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QFileInfo>
#include <QRegularExpression>
#include <QUrl>

#include <algorithm>
#include <array>
#include <cmath>
#include <optional>

namespace Cli {

namespace {

// A refusal of the arguments: thrown by the parse functions below, caught by parse().
struct Refusal {
    QString message;
};

struct CommandHelp {
    const char *name;
    const char *synopsis;
    const char *text;
};

const CommandHelp Commands[] = {
    {"info", "info", "Read the device identifier and the firmware identifier (native frames)."},
    {"read", "read [avg|1|2|3|4]",
     "Read PM2.5, PM10 (ug/m3, one decimal) and PM100 (ug/m3) of the average of the units (avg, the\n"
     "default) or of one measuring unit."},
    {"monitor", "monitor [--interval S] [--count N] [--units LIST] [--format csv|json|influx]",
     "Read the measurements every S seconds (default 1, decimals allowed) on a fixed schedule, N rounds\n"
     "(default: until Ctrl+C or SIGTERM). LIST names the units read each round, comma-separated from\n"
     "avg,1,2,3,4 (default avg). --format csv (or --csv) prints a header and one comma-separated row per\n"
     "reading; --format json (or --json) one object per line; --format influx one InfluxDB line per\n"
     "reading (measurement particulate_matter, tags device, port and target, time in nanoseconds),\n"
     "after asking the device for its identifier. Every row is flushed as it is printed. A reading\n"
     "that gets no answer is reported on standard error and the monitor goes on; the exit status is\n"
     "then 3."},
    {"serve", "serve [--listen ADDR:PORT] [--interval S] [--units LIST] [--mqtt URL] --port PATH...",
     "Read every port on its own schedule (every S seconds, default 10; units of LIST, default\n"
     "avg,1,2,3,4) and serve the latest readings: Prometheus metrics over HTTP at ADDR:PORT (default\n"
     "127.0.0.1:9464, GET /metrics) and, with --mqtt mqtt://HOST[:PORT] or mqtts://HOST[:PORT], MQTT\n"
     "messages with Home Assistant discovery. --port is given once per serial port. The MQTT user and\n"
     "password come from ZELVIK_MQTT_USER and ZELVIK_MQTT_PASSWORD or from --mqtt-credentials FILE\n"
     "(user on the first line, password on the second); --mqtt-cafile FILE names the CA certificate of\n"
     "mqtts. A port that fails is opened again with back-off while the others go on. Runs until\n"
     "SIGINT or SIGTERM; exit status 5 when the broker refuses the user name or password at start."},
    {"get", "get SETTING",
     "Read a setting: address, clean, heat-mode, temp-thresholds, humi-thresholds, work-mode, global,\n"
     "calibration UNIT RANGE, temp-humi, self-test, factors."},
    {"set", "set SETTING VALUE...",
     "Write a setting; the device's answer confirms it.\n"
     "  set address N                 Modbus address, 1 to 255 (decimal or 0x hexadecimal)\n"
     "  set clean DURATION INTERVAL   automatic cleaning: seconds 0-255, every INTERVAL hours 0-255\n"
     "  set heat-mode auto|on|off     heater automatic, or manual with the heater on or off\n"
     "  set temp-thresholds HIGH LOW  heating temperature thresholds, degrees C, -128 to 127,\n"
     "                                HIGH above LOW\n"
     "  set humi-thresholds HIGH LOW  heating humidity thresholds, percent, 0 to 100, HIGH above LOW\n"
     "  set work-mode all|single|select LIST\n"
     "                                all units, one unit at a time, or the units of LIST (1,2,4 or none)\n"
     "  set global LIST               units switched on (1,2,3,4 or none)\n"
     "  set calibration UNIT RANGE OFFSET FACTOR\n"
     "                                UNIT avg|1|2|3|4, RANGE pm2.5|pm10|pm100, OFFSET -255 to 255,\n"
     "                                FACTOR 10 to 250\n"
     "  set baud RATE                 the device's line rate: 4800, 9600 or 19200; it answers at the\n"
     "                                old rate and uses the new one from then on"},
    {"clean-now", "clean-now SECONDS", "Clean the dust now for SECONDS (0 to 255)."},
    {"sleep", "sleep", "Put the device to sleep: measurements are not answered until wake."},
    {"wake", "wake", "Wake the device."},
    {"protocol", "protocol modbus|native",
     "Switch the device to Modbus RTU or to its native protocol. In the native protocol the device\n"
     "answers only info and protocol."},
    {"factory-reset", "factory-reset --yes", "Restore the device's factory settings. Asks for --yes."},
    {"probe", "probe",
     "Find the device's baud rate: read the address register at 19200, 9600, 4800 and 2400 baud and\n"
     "print the rate that answers (--baud is not used)."},
    {"raw", "raw HEX...",
     "Send the bytes as given (hexadecimal, blanks anywhere, checksum included) and print the verified\n"
     "reply in hexadecimal. --address is not applied. A Modbus read (function 03) of more than 125\n"
     "registers is refused: no reply could carry it."},
};

const CommandHelp *findCommand(const QString &name)
{
    for (const CommandHelp &command : Commands) {
        if (name == QLatin1String(command.name))
            return &command;
    }
    return nullptr;
}

QString commandHelp(const CommandHelp &command)
{
    return QStringLiteral("Usage: zelvikctl [OPTIONS] %1\n\n%2\n")
        .arg(QLatin1String(command.synopsis), QLatin1String(command.text));
}

// "a, b, c or d": the choices an argument takes, for its refusal.
QString alternatives(const QStringList &choices)
{
    if (choices.size() < 2)
        return choices.value(0);
    return QStringLiteral("%1 or %2").arg(choices.mid(0, choices.size() - 1).join(QStringLiteral(", ")), choices.last());
}

// The refusal of an argument of one kind: what it is, as given, and what that kind takes. Each
// kind below words its choices once.
Refusal invalid(const QString &what, const QString &text, const QString &expected)
{
    return Refusal{QStringLiteral("invalid %1 '%2' (expected %3)").arg(what, text, expected)};
}

QStringList commandNames()
{
    QStringList names;
    for (const CommandHelp &command : Commands)
        names << QLatin1String(command.name);
    return names;
}

Refusal unknownCommand(const QString &name)
{
    return Refusal{QStringLiteral("unknown command '%1' (expected %2)").arg(name, alternatives(commandNames()))};
}

// Decimal with an optional minus sign, or hexadecimal digits after 0x; blanks around it are
// allowed, as the window's fields allow them, but nothing inside it (no "0x 1", "0x+1", "0x-1").
std::optional<qint64> integer(const QString &text)
{
    static const QRegularExpression form(QStringLiteral("\\A(?:0[xX][0-9a-fA-F]{1,8}|-?[0-9]{1,10})\\z"));
    const QString number = text.trimmed();
    if (!form.match(number).hasMatch())
        return std::nullopt;
    bool ok = false;
    const bool hex = number.startsWith(QLatin1String("0x"), Qt::CaseInsensitive);
    const qint64 value = hex ? number.mid(2).toLongLong(&ok, 16) : number.toLongLong(&ok, 10);
    if (!ok)
        return std::nullopt;
    return value;
}

int checkedNumber(const QString &text, int low, int high, const QString &what)
{
    const std::optional<qint64> value = integer(text);
    if (!value || *value < low || *value > high)
        throw invalid(what, text, QStringLiteral("%1 to %2").arg(low).arg(high));
    return int(*value);
}

// The same bounds as the window's fields.
int checkedNumber(const QString &text, Input::Kind kind, const QString &what)
{
    const Input::Range range = Input::range(kind);
    return checkedNumber(text, range.minimum, range.maximum, what);
}

// A measuring unit 1 to 4, or -1.
int unitNumber(const QString &text)
{
    if (text.size() == 1 && text.at(0) >= QLatin1Char('1') && text.at(0) <= QLatin1Char('4'))
        return text.at(0).digitValue();
    return -1;
}

const QString UnitChoices = QStringLiteral("avg, 1, 2, 3 or 4");

// "avg" for the average of the units (0), or a unit number 1 to 4.
std::optional<int> unitOrAverage(const QString &text)
{
    if (text == QLatin1String("avg"))
        return 0;
    const int unit = unitNumber(text);
    return unit > 0 ? std::optional<int>(unit) : std::nullopt;
}

int unitIndex(const QString &text)
{
    if (const std::optional<int> unit = unitOrAverage(text))
        return *unit;
    throw invalid(QStringLiteral("unit"), text, UnitChoices);
}

// The units a monitor reads each round: "avg,2,4".
QList<int> unitIndexes(const QString &text)
{
    QList<int> units;
    for (const QString &part : text.split(QLatin1Char(','))) {
        const std::optional<int> unit = unitOrAverage(part);
        if (!unit)
            throw invalid(QStringLiteral("unit list"), text, UnitChoices + QStringLiteral(" separated by commas"));
        units << *unit;
    }
    return units;
}

int rangeIndex(const QString &text)
{
    static const char *const names[] = {"pm2.5", "pm10", "pm100"};
    for (int i = 0; i < 3; ++i) {
        if (text.compare(QLatin1String(names[i]), Qt::CaseInsensitive) == 0)
            return i;
    }
    throw invalid(QStringLiteral("range"), text, QStringLiteral("pm2.5, pm10 or pm100"));
}

// "1,2,4" as a unit mask, "none" as 0.
quint8 unitMaskOf(const QString &text)
{
    if (text == QLatin1String("none"))
        return 0;
    std::array<bool, 4> ticked{};
    for (const QString &part : text.split(QLatin1Char(','))) {
        const int unit = unitNumber(part);
        if (unit < 1)
            throw invalid(QStringLiteral("unit list"), text, QStringLiteral("1, 2, 3 or 4 separated by commas, or none"));
        ticked[size_t(unit - 1)] = true;
    }
    return Commands::unitMask(ticked);
}

// One of rates, written in decimal as the choices are listed (blanks around it allowed).
int rateOf(const QString &text, QList<int> rates)
{
    std::sort(rates.begin(), rates.end());
    rates.erase(std::unique(rates.begin(), rates.end()), rates.end());
    QStringList names;
    for (int rate : rates)
        names << QString::number(rate);
    const int index = names.indexOf(text.trimmed());
    if (index < 0)
        throw invalid(QStringLiteral("baud rate"), text, alternatives(names));
    return rates.at(index);
}

// The rates the port can be opened at: those the probe tries.
qint32 lineRate(const QString &text)
{
    QList<int> rates;
    for (quint8 step = 1; step <= BaudProbe::RatesTried; ++step)
        rates << BaudProbe::rateForStep(step);
    return rateOf(text, rates);
}

void expectCount(const QStringList &args, int count, const QString &synopsis)
{
    if (args.size() != count)
        throw Refusal{QStringLiteral("%1 expects %2").arg(synopsis.section(QLatin1Char(' '), 0, 1),
                                                          count == 0 ? QStringLiteral("no arguments")
                                                                     : QStringLiteral("the arguments: %1").arg(synopsis))};
}

QByteArray addressed(const Options &options, const QByteArray &request)
{
    return withModbusAddress(request, options.address);
}

// A get or set without a setting it knows, and the settings it knows.
Refusal settingRefusal(const QString &verb, const QStringList &args, const QStringList &names)
{
    const QString expected = alternatives(names);
    if (args.isEmpty())
        return Refusal{QStringLiteral("%1 needs a setting (expected %2)").arg(verb, expected)};
    return Refusal{QStringLiteral("unknown setting '%1' for %2 (expected %3)").arg(args.first(), verb, expected)};
}

void parseGet(Invocation &inv, const QStringList &args)
{
    const QString setting = args.value(0);
    const QStringList rest = args.mid(1);
    inv.command = QStringLiteral("get %1").arg(setting).trimmed();
    struct Plain {
        const char *name;
        Topic topic;
        QByteArray (*request)();
    };
    static const Plain plain[] = {
        {"address", Topic::Address, Commands::getDeviceAddress},
        {"clean", Topic::Clean, Commands::getAutoClean},
        {"heat-mode", Topic::HeatMode, Commands::getHeatMode},
        {"temp-thresholds", Topic::TempThresholds, Commands::getHeatTempThresholds},
        {"humi-thresholds", Topic::HumiThresholds, Commands::getHeatHumiThresholds},
        {"work-mode", Topic::WorkMode, Commands::getWorkMode},
        {"global", Topic::Global, Commands::getGlobalOnOff},
        {"temp-humi", Topic::TempHumi, Commands::getTempHumi},
        {"self-test", Topic::SelfTest, Commands::getSelfTest},
        {"factors", Topic::Factors, Commands::getSelfTestFactors},
    };
    for (const Plain &p : plain) {
        if (!args.isEmpty() && setting == QLatin1String(p.name)) {
            expectCount(rest, 0, QStringLiteral("get ") + setting);
            inv.topic = p.topic;
            inv.requests << addressed(inv.options, p.request());
            return;
        }
    }
    if (!args.isEmpty() && setting == QLatin1String("calibration")) {
        expectCount(rest, 2, QStringLiteral("get calibration UNIT RANGE"));
        inv.topic = Topic::Calibration;
        inv.unit = unitIndex(rest.at(0));
        inv.range = rangeIndex(rest.at(1));
        inv.requests << addressed(inv.options, Commands::calibrationQuery(inv.unit, inv.range));
        return;
    }
    QStringList names;
    for (const Plain &p : plain)
        names << QLatin1String(p.name);
    names.insert(names.indexOf(QLatin1String("temp-humi")), QStringLiteral("calibration"));
    throw settingRefusal(QStringLiteral("get"), args, names);
}

// The settings parseSet() writes, in the order of its branches.
QStringList setSettings()
{
    return {QStringLiteral("address"),   QStringLiteral("clean"),  QStringLiteral("heat-mode"),
            QStringLiteral("temp-thresholds"), QStringLiteral("humi-thresholds"), QStringLiteral("work-mode"),
            QStringLiteral("global"),    QStringLiteral("calibration"), QStringLiteral("baud")};
}

void parseSet(Invocation &inv, const QStringList &args)
{
    using Input::Kind;
    const QString setting = args.value(0);
    const QStringList a = args.mid(1);
    inv.command = QStringLiteral("set %1").arg(setting).trimmed();
    inv.write = true;
    QByteArray request;
    auto number = [](int value) { return QString::number(value); };

    if (args.isEmpty()) {
        throw settingRefusal(QStringLiteral("set"), args, setSettings());
    } else if (setting == QLatin1String("address")) {
        expectCount(a, 1, QStringLiteral("set address N"));
        inv.topic = Topic::Address;
        inv.values << checkedNumber(a.at(0), Kind::DeviceAddress, QStringLiteral("address"));
        request = Commands::setDeviceAddress(QString::number(inv.values.at(0), 16));
    } else if (setting == QLatin1String("clean")) {
        expectCount(a, 2, QStringLiteral("set clean DURATION INTERVAL"));
        inv.topic = Topic::Clean;
        inv.values << checkedNumber(a.at(0), Kind::CleaningTime, QStringLiteral("cleaning duration"))
                   << checkedNumber(a.at(1), Kind::CleaningTime, QStringLiteral("cleaning interval"));
        request = Commands::setAutoClean(number(inv.values.at(0)), number(inv.values.at(1)));
    } else if (setting == QLatin1String("heat-mode")) {
        expectCount(a, 1, QStringLiteral("set heat-mode auto|on|off"));
        inv.topic = Topic::HeatMode;
        if (a.at(0) == QLatin1String("auto"))
            request = Commands::autoHeat();
        else if (a.at(0) == QLatin1String("on") || a.at(0) == QLatin1String("off"))
            request = Commands::manualHeat(a.at(0) == QLatin1String("on"));
        else
            throw invalid(QStringLiteral("heat mode"), a.at(0), QStringLiteral("auto, on or off"));
        // The mode and the heater as the register holds them: high byte mode, low byte heater.
        inv.values << quint8(request.at(4)) << quint8(request.at(5));
    } else if (setting == QLatin1String("temp-thresholds") || setting == QLatin1String("humi-thresholds")) {
        const bool temp = setting.startsWith(QLatin1String("temp"));
        expectCount(a, 2, QStringLiteral("set %1 HIGH LOW").arg(setting));
        const Kind range = temp ? Kind::Temperature : Kind::Humidity;
        inv.topic = temp ? Topic::TempThresholds : Topic::HumiThresholds;
        inv.values << checkedNumber(a.at(0), range, QStringLiteral("high threshold"))
                   << checkedNumber(a.at(1), range, QStringLiteral("low threshold"));
        if (!Input::thresholdsOrdered(inv.values.at(0), inv.values.at(1)))
            throw invalid(QStringLiteral("high threshold"), a.at(0),
                          QStringLiteral("above the low threshold %1").arg(inv.values.at(1)));
        request = temp ? Commands::setHeatTempThresholds(number(inv.values.at(0)), number(inv.values.at(1)))
                       : Commands::setHeatHumiThresholds(number(inv.values.at(0)), number(inv.values.at(1)));
    } else if (setting == QLatin1String("work-mode")) {
        inv.topic = Topic::WorkMode;
        const QString mode = a.value(0);
        if (mode == QLatin1String("all") && a.size() == 1)
            request = Commands::autoAllWork();
        else if (mode == QLatin1String("single") && a.size() == 1)
            request = Commands::autoSingleWork();
        else if (mode == QLatin1String("select") && a.size() == 2)
            request = Commands::selectWork(unitMaskOf(a.at(1)));
        else
            throw Refusal{QStringLiteral("set work-mode expects all, single or select LIST")};
        inv.values << quint8(request.at(4)) << quint8(request.at(5)); // mode, unit mask
    } else if (setting == QLatin1String("global")) {
        expectCount(a, 1, QStringLiteral("set global LIST"));
        inv.topic = Topic::Global;
        inv.values << unitMaskOf(a.at(0));
        request = Commands::setGlobalOnOff(quint8(inv.values.at(0)));
    } else if (setting == QLatin1String("calibration")) {
        expectCount(a, 4, QStringLiteral("set calibration UNIT RANGE OFFSET FACTOR"));
        inv.topic = Topic::Calibration;
        inv.unit = unitIndex(a.at(0));
        inv.range = rangeIndex(a.at(1));
        inv.values << checkedNumber(a.at(2), Kind::ZeroOffset, QStringLiteral("zero offset"))
                   << checkedNumber(a.at(3), Kind::RatioFactor, QStringLiteral("calibration factor"));
        request = Commands::calibrationSet(inv.unit, inv.range, number(inv.values.at(0)), number(inv.values.at(1)));
    } else if (setting == QLatin1String("baud")) {
        expectCount(a, 1, QStringLiteral("set baud RATE"));
        inv.topic = Topic::Baud;
        // The index of the rate in the window's list "9600", "4800", "9600", "19200".
        static const QList<int> rates = {9600, 4800, 9600, 19200};
        const int rate = rateOf(a.at(0), rates);
        inv.values << rate;
        request = Commands::setBaudRate(int(rates.indexOf(rate)));
    } else {
        throw settingRefusal(QStringLiteral("set"), args, setSettings());
    }
    inv.requests << addressed(inv.options, request);
}

void parseMonitor(Invocation &inv, const QStringList &args)
{
    QCommandLineParser parser;
    const QCommandLineOption interval(QStringLiteral("interval"), QString(), QStringLiteral("S"));
    const QCommandLineOption count(QStringLiteral("count"), QString(), QStringLiteral("N"));
    const QCommandLineOption units(QStringLiteral("units"), QString(), QStringLiteral("LIST"));
    const QCommandLineOption csv(QStringLiteral("csv"));
    const QCommandLineOption format(QStringLiteral("format"), QString(), QStringLiteral("FORMAT"));
    parser.addOptions({interval, count, units, csv, format});
    if (!parser.parse(QStringList{QStringLiteral("monitor")} + args))
        throw Refusal{parser.errorText()};
    if (!parser.positionalArguments().isEmpty())
        throw Refusal{QStringLiteral("unexpected argument '%1' for monitor").arg(parser.positionalArguments().first())};
    inv.action = Action::Monitor;
    inv.topic = Topic::Reading;
    inv.command = QStringLiteral("monitor");
    if (parser.isSet(interval)) {
        bool ok = false;
        inv.intervalS = parser.value(interval).toDouble(&ok);
        if (!ok || !std::isfinite(inv.intervalS) || inv.intervalS < 0 || inv.intervalS > 86400)
            throw invalid(QStringLiteral("interval"), parser.value(interval), QStringLiteral("0 to 86400 seconds"));
    }
    if (parser.isSet(count))
        inv.count = checkedNumber(parser.value(count), 1, 1000000000, QStringLiteral("count"));
    if (parser.isSet(units)) {
        inv.units = unitIndexes(parser.value(units));
    }
    inv.csv = parser.isSet(csv);
    if (inv.csv && inv.options.json)
        throw Refusal{QStringLiteral("monitor takes --csv or --json, not both")};
    if (parser.isSet(format)) {
        const QString name = parser.value(format);
        if (name != QLatin1String("csv") && name != QLatin1String("json") && name != QLatin1String("influx"))
            throw Refusal{QStringLiteral("invalid format '%1' (expected csv, json or influx)").arg(name)};
        if ((inv.csv && name != QLatin1String("csv")) || (inv.options.json && name != QLatin1String("json")))
            throw Refusal{QStringLiteral("monitor takes one output format")};
        inv.csv = name == QLatin1String("csv");
        inv.options.json = name == QLatin1String("json");
        inv.influx = name == QLatin1String("influx");
    }
}

// ADDR:PORT, [IPV6]:PORT; port 0 takes any free port.
void parseListen(ServeOptions &serve, const QString &text)
{
    const int colon = text.lastIndexOf(QLatin1Char(':'));
    QString host = text.left(colon);
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);
    static const QRegularExpression hostForm(QStringLiteral("\\A[A-Za-z0-9.:_-]+\\z"));
    static const QRegularExpression portForm(QStringLiteral("\\A[0-9]{1,5}\\z"));
    const QString portText = colon > 0 ? text.mid(colon + 1) : QString();
    const int port = portForm.match(portText).hasMatch() ? portText.toInt() : -1;
    if (port < 0 || port > 65535 || !hostForm.match(host).hasMatch())
        throw Refusal{QStringLiteral("invalid listen address '%1' (expected ADDR:PORT, port 0 to 65535)").arg(text)};
    serve.listenHost = host;
    serve.listenPort = quint16(port);
}

// mqtt://HOST[:PORT] or mqtts://HOST[:PORT]; a user or password in it is refused, since the
// command line is visible to every user of the machine.
void parseMqttUrl(ServeOptions &serve, const QString &url)
{
    const QUrl u(url, QUrl::StrictMode);
    const QString scheme = u.scheme();
    const QString expected = QStringLiteral("invalid MQTT URL '%1' (expected mqtt://HOST[:PORT] or mqtts://HOST[:PORT])");
    if (!u.isValid() || (scheme != QLatin1String("mqtt") && scheme != QLatin1String("mqtts")))
        throw Refusal{expected.arg(url)};
    if (!u.userInfo().isEmpty())
        throw Refusal{QStringLiteral("invalid MQTT URL '%1': give the user and password in ZELVIK_MQTT_USER and "
                                     "ZELVIK_MQTT_PASSWORD or in --mqtt-credentials FILE, not on the command line")
                          .arg(u.toDisplayString(QUrl::RemoveUserInfo))};
    if (u.host().isEmpty() || (!u.path().isEmpty() && u.path() != QLatin1String("/")) || u.hasQuery() || u.hasFragment())
        throw Refusal{expected.arg(url)};
    // QUrl reports -1 both for no port and for one it could not read.
    const QString authority = u.authority();
    const int colon = authority.lastIndexOf(QLatin1Char(':'));
    const bool portWritten = colon >= 0 && !authority.mid(colon).contains(QLatin1Char(']'));
    if (portWritten && u.port() <= 0)
        throw Refusal{QStringLiteral("invalid port in MQTT URL '%1' (expected 1 to 65535)").arg(url)};
    serve.mqttTls = scheme == QLatin1String("mqtts");
    serve.mqttHost = u.host();
    serve.mqttPort = u.port(serve.mqttTls ? 8883 : 1883);
}

void parseServe(Invocation &inv, const QStringList &args)
{
    QCommandLineParser parser;
    const QCommandLineOption listen(QStringLiteral("listen"), QString(), QStringLiteral("ADDR:PORT"));
    const QCommandLineOption interval(QStringLiteral("interval"), QString(), QStringLiteral("S"));
    const QCommandLineOption units(QStringLiteral("units"), QString(), QStringLiteral("LIST"));
    const QCommandLineOption mqtt(QStringLiteral("mqtt"), QString(), QStringLiteral("URL"));
    const QCommandLineOption cafile(QStringLiteral("mqtt-cafile"), QString(), QStringLiteral("FILE"));
    const QCommandLineOption credentials(QStringLiteral("mqtt-credentials"), QString(), QStringLiteral("FILE"));
    const QCommandLineOption port({QStringLiteral("p"), QStringLiteral("port")}, QString(), QStringLiteral("PATH"));
    parser.addOptions({listen, interval, units, mqtt, cafile, credentials, port});
    if (!parser.parse(QStringList{QStringLiteral("serve")} + args))
        throw Refusal{parser.errorText()};
    if (!parser.positionalArguments().isEmpty())
        throw Refusal{QStringLiteral("unexpected argument '%1' for serve").arg(parser.positionalArguments().first())};
    inv.action = Action::Serve;
    inv.topic = Topic::Reading;
    inv.command = QStringLiteral("serve");
    ServeOptions &serve = inv.serve;
    if (parser.isSet(listen))
        parseListen(serve, parser.value(listen));
    inv.intervalS = 10;
    if (parser.isSet(interval)) {
        bool ok = false;
        inv.intervalS = parser.value(interval).toDouble(&ok);
        if (!ok || !std::isfinite(inv.intervalS) || inv.intervalS < 0.1 || inv.intervalS > 86400)
            throw invalid(QStringLiteral("interval"), parser.value(interval), QStringLiteral("0.1 to 86400 seconds"));
    }
    inv.units = {0, 1, 2, 3, 4};
    if (parser.isSet(units)) {
        // Each target is one series of the metrics: a unit given twice would read it twice a round.
        inv.units = unitIndexes(parser.value(units));
        for (int i = 0; i < inv.units.size(); ++i) {
            if (inv.units.indexOf(inv.units.at(i)) != i)
                throw Refusal{QStringLiteral("unit '%1' given twice").arg(parser.value(units).split(QLatin1Char(',')).at(i))};
        }
    }
    serve.mqttUrl = parser.value(mqtt);
    if (parser.isSet(mqtt))
        parseMqttUrl(serve, serve.mqttUrl);
    serve.mqttCaFile = parser.value(cafile);
    serve.mqttCredentials = parser.value(credentials);
    if (serve.mqttUrl.isEmpty() && (parser.isSet(cafile) || parser.isSet(credentials)))
        throw Refusal{QStringLiteral("--mqtt-cafile and --mqtt-credentials need --mqtt URL")};
    serve.ports = parser.values(port);
    if (serve.ports.isEmpty() && !inv.options.port.isEmpty())
        serve.ports << inv.options.port;
    // Two sessions on one line would answer each other's queries.
    QStringList seen;
    for (const QString &path : serve.ports) {
        const QString where = QFileInfo(SerialLink::systemLocation(path)).absoluteFilePath();
        const QString canonical = QFileInfo(where).canonicalFilePath();
        const QString key = canonical.isEmpty() ? where : canonical;
        if (seen.contains(key))
            throw Refusal{QStringLiteral("port '%1' is given twice").arg(path)};
        seen << key;
    }
    if (!serve.ports.isEmpty())
        inv.options.port = serve.ports.first();
}

// "01 03 00 00 00 01 84 0a", "0103000000" or one byte per argument.
QByteArray rawBytes(const QStringList &args)
{
    static const QRegularExpression hexDigits(QStringLiteral("^[0-9a-fA-F]*$"));
    QString digits = args.join(QString());
    digits.remove(QRegularExpression(QStringLiteral("\\s")));
    if (digits.isEmpty() || digits.size() % 2 != 0 || !hexDigits.match(digits).hasMatch())
        throw Refusal{QStringLiteral("raw expects bytes in hexadecimal, two digits each (e.g. 01 03 00 00 00 01 84 0a)")};
    QByteArray bytes = QByteArray::fromHex(digits.toLatin1());
    // A read reply's byte count is one byte: a larger read can have no reply to wait for.
    if (bytes.size() == Modbus::ReadRequestSize && quint8(bytes.at(1)) == Modbus::ReadHoldingRegisters) {
        const int count = quint8(bytes.at(4)) * 256 + quint8(bytes.at(5));
        if (count > Modbus::MaxReadRegisters)
            throw Refusal{QStringLiteral("Modbus reads at most %1 registers (0x%2) at once; this read asks for %3")
                              .arg(Modbus::MaxReadRegisters)
                              .arg(Modbus::MaxReadRegisters, 0, 16)
                              .arg(count)};
    }
    return bytes;
}

void parseCommand(Invocation &inv, const QString &name, const QStringList &args)
{
    inv.command = name;
    const Options &o = inv.options;
    if (name == QLatin1String("info")) {
        expectCount(args, 0, name);
        inv.topic = Topic::Info;
        inv.requests << Commands::getDeviceInfo() << Commands::firmwareIdRequest();
    } else if (name == QLatin1String("read")) {
        if (args.size() > 1)
            throw Refusal{QStringLiteral("read takes at most one unit (%1)").arg(UnitChoices)};
        inv.topic = Topic::Reading;
        inv.unit = args.isEmpty() ? 0 : unitIndex(args.first());
        inv.units = {inv.unit};
        inv.requests << readRequest(o, inv.unit);
    } else if (name == QLatin1String("monitor")) {
        parseMonitor(inv, args);
    } else if (name == QLatin1String("serve")) {
        parseServe(inv, args);
    } else if (name == QLatin1String("get")) {
        parseGet(inv, args);
    } else if (name == QLatin1String("set")) {
        parseSet(inv, args);
    } else if (name == QLatin1String("clean-now")) {
        expectCount(args, 1, QStringLiteral("clean-now SECONDS"));
        inv.topic = Topic::CleanNow;
        inv.write = true;
        inv.values << checkedNumber(args.first(), Input::Kind::CleaningTime, QStringLiteral("cleaning duration"));
        inv.requests << addressed(o, Commands::manualClean(QString::number(inv.values.first())));
    } else if (name == QLatin1String("sleep") || name == QLatin1String("wake")) {
        expectCount(args, 0, name);
        inv.topic = name == QLatin1String("sleep") ? Topic::Sleep : Topic::Wake;
        inv.write = true;
        inv.requests << addressed(o, inv.topic == Topic::Sleep ? Commands::setSleep() : Commands::wakeUp());
    } else if (name == QLatin1String("protocol")) {
        expectCount(args, 1, QStringLiteral("protocol modbus|native"));
        inv.topic = Topic::Protocol;
        inv.write = true;
        if (args.first() == QLatin1String("modbus"))
            inv.requests << addressed(o, Commands::changeToModbus());
        else if (args.first() == QLatin1String("native"))
            inv.requests << addressed(o, Commands::changeToKelvra());
        else
            throw invalid(QStringLiteral("protocol"), args.first(), QStringLiteral("modbus or native"));
        inv.values << (args.first() == QLatin1String("modbus") ? 1 : 0);
    } else if (name == QLatin1String("factory-reset")) {
        if (args != QStringList{QStringLiteral("--yes")})
            throw Refusal{QStringLiteral("factory-reset restores every setting of the device; confirm with --yes")};
        inv.topic = Topic::FactoryReset;
        inv.write = true;
        inv.requests << addressed(o, Commands::setFactorySettings());
    } else if (name == QLatin1String("probe")) {
        expectCount(args, 0, name);
        inv.action = Action::Probe;
        inv.topic = Topic::Probe;
    } else if (name == QLatin1String("raw")) {
        inv.topic = Topic::Raw;
        inv.requests << rawBytes(args);
    } else {
        throw unknownCommand(name);
    }
}

QString programHelp(const QCommandLineParser &parser)
{
    QString help = usageLine() + QStringLiteral(
        "\n\nConfigure and test a Zelvik particulate-matter sensor over a serial port, from scripts and\n"
        "production lines: Modbus RTU and the sensor's native frames. Every reply is verified (CRC or\n"
        "checksum) before a value is printed; a time-out or a bad check value is retried.\n\n");
    const QString options = parser.helpText();
    help += options.mid(options.indexOf(QLatin1String("Options:")));
    help += QStringLiteral("\nCommands:\n");
    for (const CommandHelp &command : Commands)
        help += QStringLiteral("  %1\n").arg(QLatin1String(command.synopsis));
    help += QStringLiteral(
        "\n'zelvikctl COMMAND --help' describes a command.\n\n"
        "Exit status: 0 success; 1 the device refused (exception reply) or answered something else;\n"
        "2 usage error; 3 no answer after the retries; 4 the port cannot be opened; 5 the MQTT broker\n"
        "refused the user name or password (serve).\n");
    return help;
}

} // namespace

QString usageLine()
{
    return QStringLiteral("Usage: zelvikctl [--port PATH] [--baud RATE] [--address N] [--timeout MS] "
                          "[--retries N] [--json] [--local-echo] COMMAND [ARGS]");
}

QByteArray readRequest(const Options &options, int unit)
{
    return addressed(options, Commands::readSensorData(unit));
}

Parsed parse(const QStringList &arguments, const QString &portFromEnvironment)
{
    QCommandLineParser parser;
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption port({QStringLiteral("p"), QStringLiteral("port")},
                                  QStringLiteral("Serial port (default: $ZELVIK_PORT)."), QStringLiteral("PATH"));
    const QCommandLineOption baud(QStringLiteral("baud"),
                                  QStringLiteral("Line rate: 2400, 4800, 9600 or 19200 (default 9600)."),
                                  QStringLiteral("RATE"));
    const QCommandLineOption address(QStringLiteral("address"),
                                     QStringLiteral("Modbus address of the device, 0 to 255, decimal or 0x "
                                                    "hexadecimal (default 0: whichever device is on the line)."),
                                     QStringLiteral("N"));
    const QCommandLineOption timeout(QStringLiteral("timeout"),
                                     QStringLiteral("Wait this long for each reply, 10 to 60000 ms (default 1000)."),
                                     QStringLiteral("MS"));
    const QCommandLineOption retries(QStringLiteral("retries"),
                                     QStringLiteral("Send a request again this often after a time-out or a bad "
                                                    "check value, 0 to 100 (default 2)."),
                                     QStringLiteral("N"));
    const QCommandLineOption json(QStringLiteral("json"),
                                  QStringLiteral("Print one JSON object per result, and one per failure (monitor: one per line)."));
    const QCommandLineOption localEcho(QStringLiteral("local-echo"),
                                       QStringLiteral("The adapter echoes what it sends (some RS-485 adapters): "
                                                      "drop that copy of each request."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Show this help."));
    const QCommandLineOption version(QStringLiteral("version"), QStringLiteral("Show the version."));
    parser.addOptions({port, baud, address, timeout, retries, json, localEcho, help, version});

    Parsed result;
    const bool parsed = parser.parse(QStringList{QStringLiteral("zelvikctl")} + arguments);
    // Known even when the arguments are refused: the refusal is then printed as JSON too.
    result.invocation.options.json = parser.isSet(json);
    if (!parsed) {
        result.text = parser.errorText();
        return result;
    }
    const QStringList positional = parser.positionalArguments();
    const QString name = positional.value(0);
    const QStringList args = positional.mid(1);
    if (parser.isSet(version)) {
        result.kind = Parsed::Version;
        return result;
    }
    if (parser.isSet(help) || name == QLatin1String("help")) {
        const QString topic = parser.isSet(help) ? name : args.value(0);
        const CommandHelp *command = findCommand(topic);
        if (!topic.isEmpty() && !command) {
            result.text = unknownCommand(topic).message;
            return result;
        }
        result.kind = Parsed::Help;
        result.text = command ? commandHelp(*command) : programHelp(parser);
        return result;
    }
    if (name.isEmpty()) {
        result.text = QStringLiteral("no command given");
        return result;
    }
    if (findCommand(name) && args.size() == 1
        && (args.first() == QLatin1String("--help") || args.first() == QLatin1String("-h"))) {
        result.kind = Parsed::Help;
        result.text = commandHelp(*findCommand(name));
        return result;
    }

    try {
        Invocation &inv = result.invocation;
        Options &o = inv.options;
        o.port = parser.isSet(port) ? parser.value(port) : portFromEnvironment;
        if (parser.isSet(baud))
            o.baud = lineRate(parser.value(baud));
        if (parser.isSet(address))
            o.address = quint8(checkedNumber(parser.value(address), 0, 255, QStringLiteral("address")));
        if (parser.isSet(timeout))
            o.timeoutMs = checkedNumber(parser.value(timeout), 10, 60000, QStringLiteral("time-out"));
        if (parser.isSet(retries))
            o.retries = checkedNumber(parser.value(retries), 0, 100, QStringLiteral("retry count"));
        o.localEcho = parser.isSet(localEcho);
        parseCommand(inv, name, args);
        if (o.port.isEmpty())
            throw Refusal{QStringLiteral("no serial port: give --port PATH or set ZELVIK_PORT")};
    } catch (const Refusal &refusal) {
        result.text = refusal.message;
        return result;
    }
    result.kind = Parsed::Run;
    return result;
}

} // namespace Cli
