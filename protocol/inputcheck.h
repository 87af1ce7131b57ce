#ifndef ZELVIK_INPUTCHECK_H
#define ZELVIK_INPUTCHECK_H

#include <QString>

#include <optional>

// The numbers the operator types into the window's fields, checked before any frame is built: a
// text that is not a number in its field's base, or a number outside what the field means, is
// refused rather than wrapped to a byte.
namespace Input {

enum class Kind {
    DeviceAddress, // hexadecimal; 0 is the broadcast address
    CleaningTime,  // cleaning duration in seconds, cleaning interval in hours: one byte
    Temperature,   // heating thresholds in °C, sent as a signed byte
    Humidity,      // heating thresholds in %
    ZeroOffset,    // calibration zero offset, as the caption states: "(-255~255)"
    RatioFactor,   // calibration ratio factor, as the caption states: "(10~250)"
};

struct Range {
    int base;
    int minimum;
    int maximum;
};

Range range(Kind kind);

// The number in text (blanks around it allowed) when it is one the field accepts.
std::optional<int> accepted(Kind kind, const QString &text);

// The heating thresholds (Temperature, Humidity) are set as a pair, high then low. The heater
// switches on past one of them and off past the other, so the high one must lie strictly above
// the low one: crossed thresholds give the device two contradictory orders, and equal ones leave
// no band between on and off, so the heater would switch at every flicker of the reading.
bool isThreshold(Kind kind);
bool thresholdsOrdered(int high, int low);

} // namespace Input

#endif
