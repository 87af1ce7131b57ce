#ifndef ZELVIK_HEXTEXT_H
#define ZELVIK_HEXTEXT_H

#include <QByteArray>
#include <QString>

// Each byte as two lower-case hex digits followed by one blank, the last blank included.
// A count of zero or less gives an empty text.
QString formatHexBytes(const quint8 *bytes, int count);
QString formatHexBytes(const QByteArray &bytes);

// The log's form of received bytes: formatHexBytes of at most the first `shown` bytes, then
// "… (N more bytes)" for the rest, so one line stays readable and cheap however much arrived.
constexpr int LogHexBytesShown = 256;
QString logHexBytes(const QByteArray &bytes, int shown = LogHexBytesShown);

#endif
