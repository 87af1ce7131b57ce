// zelvik-sensor-sim: a simulated particulate-matter sensor on a pseudo-terminal, for trying and
// testing ZelvikConfig without hardware.

#include "ptysensor.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>
#include <optional>

namespace {

const char Description[] =
    "A simulated particulate-matter sensor with four measuring units, on a pseudo-terminal.\n"
    "\n"
    "The first line of standard output is the path of the terminal to open as the serial port.\n"
    "Verbose logging goes to standard error. SIGINT and SIGTERM end the simulator cleanly and\n"
    "remove the --link symlink.\n"
    "\n"
    "Line: 8N1. The sensor answers only while the speed set on the line equals its own rate;\n"
    "requests sent at any other speed are read and discarded. A write of register 0x00CD\n"
    "(code 2 = 4800, 3 = 9600, 4 = 19200, also 1 = 2400) changes the rate after its echo.\n"
    "\n"
    "Framing: native frames (19 bytes, 0xAA ... 0xAB, correct checksum) and Modbus RTU requests\n"
    "(functions 0x03, 0x06, 0x10) to address 0 or to the sensor's own address. Requests with a bad\n"
    "CRC or checksum are ignored; garbage is skipped byte by byte; a partial request is dropped\n"
    "after 100 ms of silence.\n"
    "\n"
    "Native protocol, answered whatever the protocol register holds: 0xA6 replies with the device\n"
    "identifier (offsets 8-11, default 12 34 ab cd), 0xB5 with the firmware identifier 1, 3, -2,\n"
    "0xA7 stores a new identifier and is acknowledged with a 0xA7 frame carrying it.\n"
    "\n"
    "Modbus: reads come from the sensor's own address, writes of one register are echoed byte for\n"
    "byte, writes of several registers get the standard 0x10 reply. An unknown register or an\n"
    "unsupported register count gets exception 2, an invalid value exception 3. While the protocol\n"
    "register 0x00B1 is 0 (native protocol) only a write of 0x00B1 itself is answered. While\n"
    "asleep (0x00A2 = 0) the measurement registers are not answered. A factory reset (0x00A5 = 1)\n"
    "restores the --address it was started with, Modbus protocol, identifier (12 34 ab cd), work\n"
    "mode (1, all units automatic), temperature thresholds 5/-10, humidity thresholds 90/70,\n"
    "cleaning 10 s every 24 h, heater automatic, global mask 0x0f and calibration 0/100 on every\n"
    "unit; the line rate stays. Measurements drift slowly (seeded); a unit\n"
    "switched off in the global mask or not selected in work mode 3 reads 0 and is left out of the\n"
    "average (unit 0). Calibration applies value * factor / 100 + offset. Registers 0x00A2,\n"
    "0x00B1 and 0x00CD can also be read. The transparent channel 0xuu11 stores what is written;\n"
    "a read of 19 registers returns the unit's answer to a stored native frame (the frame with its\n"
    "data echoed) padded with zeros to 38 bytes.\n"
    "\n"
    "Faults (--split, --corrupt-rate, --drop-rate) come from one generator seeded with --seed, so\n"
    "a run is reproducible for the same requests.";

std::optional<long long> parseInteger(const QString &text)
{
    bool ok = false;
    long long value = 0;
    const QString trimmed = text.trimmed();
    if (trimmed.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        value = trimmed.mid(2).toLongLong(&ok, 16);
    else
        value = trimmed.toLongLong(&ok, 10);
    if (!ok)
        return std::nullopt;
    return value;
}

int fail(const QString &message)
{
    std::fprintf(stderr, "zelvik-sensor-sim: %s\nTry 'zelvik-sensor-sim --help' for the options.\n",
                 qPrintable(message));
    return 2;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("zelvik-sensor-sim"));
    QCoreApplication::setApplicationVersion(QStringLiteral("1.3"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(Description));
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption versionOption = parser.addVersionOption();
    const QCommandLineOption linkOption(QStringLiteral("link"),
        QStringLiteral("Also make the symbolic link <path> to the terminal (an existing link is replaced)."),
        QStringLiteral("path"));
    const QCommandLineOption baudOption(QStringLiteral("baud"),
        QStringLiteral("Initial rate of the sensor: 2400, 4800, 9600 or 19200 (default 9600)."),
        QStringLiteral("rate"), QStringLiteral("9600"));
    const QCommandLineOption addressOption(QStringLiteral("address"),
        QStringLiteral("Modbus address of the sensor, 1 to 255, decimal or 0x-hexadecimal (default 1)."),
        QStringLiteral("n"), QStringLiteral("1"));
    const QCommandLineOption tempOption(QStringLiteral("temp"),
        QStringLiteral("Inner temperature in degrees Celsius, -128 to 127 (default 23)."),
        QStringLiteral("celsius"), QStringLiteral("23"));
    const QCommandLineOption humidityOption(QStringLiteral("humidity"),
        QStringLiteral("Inner relative humidity in percent, 0 to 100 (default 45)."),
        QStringLiteral("percent"), QStringLiteral("45"));
    const QCommandLineOption selfTestOption(QStringLiteral("self-test"),
        QStringLiteral("Self-test result mask, bit k set when unit k+1 passed, 0 to 0xf (default 0xf)."),
        QStringLiteral("mask"), QStringLiteral("0xf"));
    const QCommandLineOption seedOption(QStringLiteral("seed"),
        QStringLiteral("Seed of the measurement drift and of the faults, 0 to 4294967295 (default 20240501)."),
        QStringLiteral("n"), QStringLiteral("20240501"));
    const QCommandLineOption splitOption(QStringLiteral("split"),
        QStringLiteral("Send every reply in two parts, cut at a random position, 250 ms apart."));
    const QCommandLineOption corruptOption(QStringLiteral("corrupt-rate"),
        QStringLiteral("Chance, 0 to 1, that one random bit of a reply is flipped (default 0)."),
        QStringLiteral("p"), QStringLiteral("0"));
    const QCommandLineOption dropOption(QStringLiteral("drop-rate"),
        QStringLiteral("Chance, 0 to 1, that a reply is not sent at all (default 0)."),
        QStringLiteral("p"), QStringLiteral("0"));
    const QCommandLineOption delayOption(QStringLiteral("delay"),
        QStringLiteral("Wait this many milliseconds, 0 to 60000, before each reply (default 0)."),
        QStringLiteral("ms"), QStringLiteral("0"));
    const QCommandLineOption lateOption(QStringLiteral("late"),
        QStringLiteral("Send replies this many milliseconds, 0 to 60000, later still: after the tool has given up "
                       "on them (default 0)."),
        QStringLiteral("ms"), QStringLiteral("0"));
    const QCommandLineOption lateRateOption(QStringLiteral("late-rate"),
        QStringLiteral("Chance, 0 to 1, that a reply is late by --late (default 1)."),
        QStringLiteral("p"), QStringLiteral("1"));
    const QCommandLineOption verboseOption(QStringLiteral("verbose"),
        QStringLiteral("Log every request and reply in hexadecimal with a time stamp to standard error."));
    for (const QCommandLineOption &option :
         {linkOption, baudOption, addressOption, tempOption, humidityOption, selfTestOption, seedOption,
          splitOption, corruptOption, dropOption, delayOption, lateOption, lateRateOption, verboseOption})
        parser.addOption(option);

    if (!parser.parse(QCoreApplication::arguments()))
        return fail(parser.errorText());
    if (parser.isSet(helpOption))
        parser.showHelp(0);
    if (parser.isSet(versionOption))
        parser.showVersion();
    if (!parser.positionalArguments().isEmpty())
        return fail(QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first()));

    auto integer = [&parser](const QCommandLineOption &option, long long low, long long high,
                             QString *error) -> long long {
        const QString text = parser.value(option);
        const std::optional<long long> value = parseInteger(text);
        if (!value || *value < low || *value > high) {
            *error = QStringLiteral("invalid value '%1' for --%2 (expected %3 to %4)")
                         .arg(text, option.names().first()).arg(low).arg(high);
            return 0;
        }
        return *value;
    };
    auto probability = [&parser](const QCommandLineOption &option, QString *error) -> double {
        bool ok = false;
        const double value = parser.value(option).toDouble(&ok);
        if (!ok || !(value >= 0.0 && value <= 1.0)) {
            *error = QStringLiteral("invalid value '%1' for --%2 (expected a number from 0 to 1)")
                         .arg(parser.value(option), option.names().first());
            return 0.0;
        }
        return value;
    };

    QString error;
    SensorSettings sensor;
    FaultSettings faults;
    LinkOptions link;
    const long long rate = integer(baudOption, 0, 1000000, &error);
    if (error.isEmpty() && !SensorModel::isSupportedRate(int(rate)))
        error = QStringLiteral("invalid value '%1' for --baud (expected 2400, 4800, 9600 or 19200)")
                    .arg(parser.value(baudOption));
    sensor.baudRate = int(rate);
    if (error.isEmpty())
        sensor.address = quint8(integer(addressOption, 1, 255, &error));
    if (error.isEmpty())
        sensor.temperature = qint8(integer(tempOption, -128, 127, &error));
    if (error.isEmpty())
        sensor.humidity = quint8(integer(humidityOption, 0, 100, &error));
    if (error.isEmpty())
        sensor.selfTestMask = quint8(integer(selfTestOption, 0, 0xF, &error));
    if (error.isEmpty())
        sensor.seed = quint32(integer(seedOption, 0, 0xFFFFFFFFLL, &error));
    if (error.isEmpty())
        faults.corruptRate = probability(corruptOption, &error);
    if (error.isEmpty())
        faults.dropRate = probability(dropOption, &error);
    if (error.isEmpty())
        link.delayMs = int(integer(delayOption, 0, 60000, &error));
    if (error.isEmpty())
        faults.lateMs = int(integer(lateOption, 0, 60000, &error));
    if (error.isEmpty())
        faults.lateRate = probability(lateRateOption, &error);
    if (!error.isEmpty())
        return fail(error);
    faults.split = parser.isSet(splitOption);
    link.verbose = parser.isSet(verboseOption);
    link.linkPath = parser.value(linkOption);
    if (parser.isSet(linkOption) && link.linkPath.isEmpty())
        return fail(QStringLiteral("--link needs a path"));

    if (!PtySensor::installSignalHandlers(&error))
        return fail(error);
    PtySensor device(sensor, faults, link);
    if (!device.open(&error))
        return fail(error);
    std::printf("%s\n", qPrintable(device.slavePath()));
    std::fflush(stdout);
    return QCoreApplication::exec();
}
