#ifndef ZELVIK_INPUTRANGES_H
#define ZELVIK_INPUTRANGES_H

// The values an operator may enter, the same bounds as the window's input checks. zelvikctl
// refuses anything outside them as a usage error, before anything is sent.
namespace InputRange {

struct Range {
    int low;
    int high;
    bool contains(int value) const { return value >= low && value <= high; }
};

constexpr Range Address{0x01, 0xFF};
constexpr Range TempThreshold{-128, 127};   // °C
constexpr Range HumiThreshold{0, 100};      // %
constexpr Range CleanDuration{0, 255};      // s
constexpr Range CleanInterval{0, 255};      // h
constexpr Range CalibrationZero{-255, 255};
constexpr Range CalibrationFactor{10, 250};

} // namespace InputRange

#endif
