#include "inputcheck.h"

namespace Input {

Range range(Kind kind)
{
    switch (kind) {
    case Kind::DeviceAddress:
        return {16, 0x01, 0xFF};
    case Kind::CleaningTime:
        return {10, 0, 255};
    case Kind::Temperature:
        return {10, -128, 127};
    case Kind::Humidity:
        return {10, 0, 100};
    case Kind::ZeroOffset:
        return {10, -255, 255};
    case Kind::RatioFactor:
        return {10, 10, 250};
    }
    return {10, 0, 0};
}

std::optional<int> accepted(Kind kind, const QString &text)
{
    const Range limits = range(kind);
    // The same conversion the frames use (it allows blanks around the number), so that the
    // number checked is the number sent.
    bool ok = false;
    const int value = text.toInt(&ok, limits.base);
    if (!ok || value < limits.minimum || value > limits.maximum)
        return std::nullopt;
    return value;
}

bool isThreshold(Kind kind)
{
    return kind == Kind::Temperature || kind == Kind::Humidity;
}

bool thresholdsOrdered(int high, int low)
{
    return high > low;
}

} // namespace Input
