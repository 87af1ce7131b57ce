#ifndef ZELVIK_NATIVEDECODE_H
#define ZELVIK_NATIVEDECODE_H

#include <QByteArray>
#include <QString>

// Device identifier of a 0xA6 reply: bytes 8 and 9, "-", bytes 10 and 11, two lower-case
// hex digits each ("000f-0000").
QString deviceIdText(const QByteArray &frame);
// Firmware identifier of a 0xB5 reply: bytes 9, 10 and 11 as signed decimals joined by "-"
// ("1--1-3" for 01 FF 03).
QString firmwareIdText(const QByteArray &frame);

#endif
