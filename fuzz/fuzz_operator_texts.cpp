// Operator input: arbitrary text, decoded as UTF-8 or as raw UTF-16 code units and split into
// fields, goes through every input check and text conversion of the command frames. Each frame
// must have its fixed layout and a valid check value, plain numbers must come out as their low
// byte, and a number a field accepts must be the number its frame carries.
//
// Input: mode byte (bit 0: the text is UTF-16), unit index, range index and baud-rate index
// (signed bytes), then the text; fields are separated by U+001F: identifier, address, high and
// low threshold, cleaning duration and interval, zero offset, factor, transparent text, unit text.

#include "fuzzcheck.h"

#include "commandframes.h"
#include "frames.h"
#include "hextext.h"
#include "inputcheck.h"

#include <QRegularExpression>
#include <QStringList>

namespace {

quint8 at(const QByteArray &bytes, int offset)
{
    return offset >= 0 && offset < bytes.size() ? quint8(bytes.at(offset)) : quint8(0);
}

// A plain number in the given base (an optional sign, then at most 7 digits), parsed here digit by
// digit; false for any other text.
bool plainNumber(const QString &text, int base, qint64 &value)
{
    static const QRegularExpression decimal(QStringLiteral("\\A[+-]?[0-9]{1,7}\\z"));
    static const QRegularExpression hex(QStringLiteral("\\A[+-]?[0-9a-fA-F]{1,7}\\z"));
    if (!(base == 10 ? decimal : hex).match(text).hasMatch())
        return false;
    value = 0;
    for (QChar c : text) {
        if (c == QLatin1Char('+') || c == QLatin1Char('-'))
            continue;
        const char digit = c.toLatin1();
        const int v = digit <= '9' ? digit - '0' : (digit | 0x20) - 'a' + 10;
        value = value * base + v;
    }
    if (text.startsWith(QLatin1Char('-')))
        value = -value;
    return true;
}

// The 8-byte request 00 fn r1 r2 v1 v2 with a valid CRC.
void checkShortModbus(const QByteArray &frame, quint8 function, quint16 reg, quint16 value)
{
    FUZZ_CHECK(frame.size() == 8 && crcTrailerValid(frame), frame);
    FUZZ_CHECK(at(frame, 0) == 0x00 && at(frame, 1) == function, frame);
    FUZZ_CHECK(at(frame, 2) == (reg >> 8) && at(frame, 3) == (reg & 0xFF), frame);
    FUZZ_CHECK(at(frame, 4) == (value >> 8) && at(frame, 5) == (value & 0xFF), frame);
}

void checkDecimalByte(const QString &text)
{
    qint64 value = 0;
    if (plainNumber(text, 10, value))
        FUZZ_CHECK(Commands::decimalByte(text) == quint8(value & 0xFF), text.toUtf8());
}

// A text a field accepts is a number within the field's range, every plain number within it is
// accepted, and the frame built from the same text carries exactly the number accepted.
void checkAccepted(Input::Kind kind, const QString &text)
{
    const Input::Range range = Input::range(kind);
    const std::optional<int> value = Input::accepted(kind, text);
    qint64 plain = 0;
    if (plainNumber(text.trimmed(), range.base, plain))
        FUZZ_CHECK(value.has_value() == (plain >= range.minimum && plain <= range.maximum), text.toUtf8());
    if (!value)
        return;
    FUZZ_CHECK(*value >= range.minimum && *value <= range.maximum, text.toUtf8());
    const quint8 sent = kind == Input::Kind::DeviceAddress ? Commands::deviceAddressByte(text) : Commands::decimalByte(text);
    FUZZ_CHECK(sent == quint8(*value), text.toUtf8());
}

void checkIdentifier(const QString &text)
{
    const std::array<quint8, 4> id = Commands::deviceIdBytes(text);
    const QByteArray frame = Commands::setDeviceId(text);
    FUZZ_CHECK(nativeFrameValid(frame) && at(frame, 1) == Kelvra::SetDeviceId, frame);
    for (int i = Kelvra::DataOffset; i < Kelvra::ChecksumOffset; ++i) {
        const bool idByte = i >= Kelvra::DeviceIdOffset && i < Kelvra::DeviceIdOffset + 4;
        FUZZ_CHECK(at(frame, i) == (idByte ? id[size_t(i - Kelvra::DeviceIdOffset)] : 0), frame);
    }
    // One group counts as both the first and the last.
    if (!text.contains(QLatin1Char('-')))
        FUZZ_CHECK(id[0] == id[2] && id[1] == id[3], text.toUtf8());
    const QStringList groups = text.split(QLatin1Char('-'));
    qint64 first = 0, last = 0;
    if (groups.size() == 2 && plainNumber(groups.first(), 16, first) && plainNumber(groups.last(), 16, last)
        && first >= 0 && last >= 0) {
        FUZZ_CHECK(id[0] == quint8(first >> 8) && id[1] == quint8(first) && id[2] == quint8(last >> 8)
                       && id[3] == quint8(last),
                   text.toUtf8());
    }
}

void checkAddress(const QString &text)
{
    const quint8 address = Commands::deviceAddressByte(text);
    FUZZ_CHECK(address != 0, text.toUtf8());
    qint64 value = 0;
    if (plainNumber(text, 16, value))
        FUZZ_CHECK(address == ((value & 0xFF) == 0 ? 1 : quint8(value & 0xFF)), text.toUtf8());
    checkShortModbus(Commands::setDeviceAddress(text), 0x06, 0x0000, address);
}

void checkCalibration(int unit, int range, const QString &zeroText, const QString &factorText)
{
    const QByteArray frame = Commands::calibrationSet(unit, range, zeroText, factorText);
    FUZZ_CHECK(frame.size() == 13 && crcTrailerValid(frame), frame);
    const quint8 reg = range == 1 ? 0xC5 : range == 2 ? 0xC7 : 0xC3;
    FUZZ_CHECK(at(frame, 0) == 0x00 && at(frame, 1) == 0x10 && at(frame, 2) == quint8(unit) && at(frame, 3) == reg,
               frame);
    FUZZ_CHECK(at(frame, 4) == 0x00 && at(frame, 5) == 0x02 && at(frame, 6) == 0x04 && at(frame, 9) == 0x00, frame);
    FUZZ_CHECK(at(frame, 7) <= 0x01, frame);
    FUZZ_CHECK(at(frame, 10) == Commands::decimalByte(factorText), frame);
    qint64 zero = 0;
    if (plainNumber(zeroText, 10, zero)) {
        FUZZ_CHECK(at(frame, 7) == (zero > 0 ? 1 : 0), frame);
        FUZZ_CHECK(at(frame, 8) == quint8((zero < 0 ? -zero : zero) & 0xFF), frame);
    }
    const QByteArray query = Commands::calibrationQuery(unit, range);
    checkShortModbus(query, 0x03, quint16((quint8(unit) << 8) | reg), 2);
}

// Checks a transparent send and returns its data bytes (empty when the text did not fit).
QByteArray checkTransparent(const QString &text, const QString &unitText)
{
    const Commands::TransparentSend send = Commands::transparentSend(text, unitText);
    FUZZ_CHECK(send.parts == text.count(QLatin1Char(' ')) + 1, text.left(200).toUtf8());
    FUZZ_CHECK(send.fits == (send.parts <= Commands::MaxTransparentBytes), text.left(200).toUtf8());
    if (!send.fits) {
        FUZZ_CHECK(send.request.isEmpty(), text.left(200).toUtf8());
        return QByteArray();
    }
    const QByteArray &r = send.request;
    FUZZ_CHECK(r.size() == send.parts + 9 && crcTrailerValid(r), r);
    FUZZ_CHECK(at(r, 0) == 0x00 && at(r, 1) == 0x10 && at(r, 2) == Commands::decimalByte(unitText) && at(r, 3) == 0x11,
               r);
    FUZZ_CHECK(at(r, 4) == 0x00 && at(r, 5) == 0x0A && at(r, 6) == send.parts, r);
    QByteArray data = r.mid(7, send.parts);
    if (send.parts >= 18) {
        quint8 sum = 0;
        for (int i = 2; i <= 16; ++i)
            sum = quint8(sum + at(data, i));
        FUZZ_CHECK(at(data, 17) == sum, r);
    }
    // Plain hexadecimal parts come out as their low byte.
    const QStringList parts = text.split(QLatin1Char(' '));
    for (int i = 0; i < parts.size(); ++i) {
        qint64 value = 0;
        if (i != 17 && plainNumber(parts.at(i), 16, value))
            FUZZ_CHECK(at(data, i) == quint8(value & 0xFF), r);
        if (parts.at(i).isEmpty())
            FUZZ_CHECK(at(data, i) == 0x00 || i == 17, r);
    }
    checkShortModbus(Commands::transparentRead(unitText), 0x03, quint16((Commands::decimalByte(unitText) << 8) | 0x11),
                     19);
    return data;
}

// Bytes rendered as echo text and sent back through the channel come out unchanged, plus the
// zero byte of the empty part after the trailing blank.
void checkHexRoundTrip(const QByteArray &bytes, const QString &unitText)
{
    const QString text = formatHexBytes(bytes);
    FUZZ_CHECK(text.size() == 3 * bytes.size(), bytes);
    const QByteArray data = checkTransparent(text, unitText);
    if (bytes.isEmpty() || bytes.size() + 1 > Commands::MaxTransparentBytes) {
        FUZZ_CHECK(data.isEmpty() == !bytes.isEmpty(), bytes);
        return;
    }
    FUZZ_CHECK(data.size() == bytes.size() + 1, bytes);
    // Offset 17 carries the recomputed checksum, also when it is the empty part itself.
    FUZZ_CHECK(at(data, bytes.size()) == 0x00 || bytes.size() == 17, bytes);
    for (int i = 0; i < bytes.size(); ++i) {
        if (i != 17)
            FUZZ_CHECK(at(data, i) == at(bytes, i), bytes);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    InputReader in(data, size);
    const quint8 mode = in.byte();
    const int unitIndex = qint8(in.byte());
    const int rangeIndex = qint8(in.byte());
    const int comboIndex = qint8(in.byte());
    const QByteArray raw = in.rest();

    QString text;
    if (mode & 1) {
        text = QString::fromUtf16(reinterpret_cast<const char16_t *>(raw.constData()), raw.size() / 2);
    } else {
        text = QString::fromUtf8(raw);
    }
    QStringList fields = text.split(QChar(0x1F));
    while (fields.size() < 10)
        fields << QString();

    checkIdentifier(fields.at(0));
    checkAddress(fields.at(1));
    for (int i = 2; i <= 9; ++i)
        checkDecimalByte(fields.at(i));
    checkAccepted(Input::Kind::DeviceAddress, fields.at(1));
    for (const Input::Kind kind : {Input::Kind::Temperature, Input::Kind::Humidity})
        for (int i = 2; i <= 3; ++i)
            checkAccepted(kind, fields.at(i));
    for (int i = 4; i <= 5; ++i)
        checkAccepted(Input::Kind::CleaningTime, fields.at(i));
    checkAccepted(Input::Kind::ZeroOffset, fields.at(6));
    checkAccepted(Input::Kind::RatioFactor, fields.at(7));

    using namespace Commands;
    checkShortModbus(setHeatTempThresholds(fields.at(2), fields.at(3)), 0x06, 0x00AC,
                     quint16((decimalByte(fields.at(2)) << 8) | decimalByte(fields.at(3))));
    checkShortModbus(setHeatHumiThresholds(fields.at(2), fields.at(3)), 0x06, 0x00AD,
                     quint16((decimalByte(fields.at(2)) << 8) | decimalByte(fields.at(3))));
    checkShortModbus(manualClean(fields.at(4)), 0x06, 0x00A9, decimalByte(fields.at(4)));
    checkShortModbus(setAutoClean(fields.at(4), fields.at(5)), 0x06, 0x00AA,
                     quint16((decimalByte(fields.at(4)) << 8) | decimalByte(fields.at(5))));
    checkCalibration(unitIndex, rangeIndex, fields.at(6), fields.at(7));
    checkTransparent(fields.at(8), fields.at(9));

    checkShortModbus(readSensorData(unitIndex), 0x03, quint16((quint8(unitIndex) << 8) | 0xB4), 4);
    const quint8 baudCode = baudCodeForIndex(comboIndex);
    FUZZ_CHECK(baudCode == (comboIndex == 0 ? 3 : quint8(comboIndex + 1)), QByteArray::number(comboIndex));
    checkShortModbus(setBaudRate(comboIndex), 0x06, 0x00CD, baudCode);
    const quint8 mask = unitMask({bool(mode & 2), bool(mode & 4), bool(mode & 8), bool(mode & 16)});
    FUZZ_CHECK(mask == ((mode >> 1) & 0x0F), QByteArray(1, char(mode)));
    checkShortModbus(selectWork(mask), 0x06, 0x00A6, quint16(0x0300 | mask));
    checkShortModbus(setGlobalOnOff(mask), 0x06, 0x00AE, mask);

    checkHexRoundTrip(raw.left(120), fields.at(9));
    // The "Sleep" preset goes through the channel as the frame it shows.
    const QByteArray preset = checkTransparent(sleepPresetText(), fields.at(9));
    FUZZ_CHECK(nativeFrameValid(sleepPresetFrame()) && preset.left(19) == sleepPresetFrame(), preset);
    return 0;
}
