#ifndef ZELVIK_SESSIONTEXTS_H
#define ZELVIK_SESSIONTEXTS_H

#include "values.h"

#include <QDateTime>
#include <QString>

// Texts that the window and zelvikctl both show, each written once.
namespace SessionTexts {

// ISO 8601 with milliseconds and the offset from UTC: 2024-05-01T12:00:00.123+02:00. Local time
// with its offset, so that a record read elsewhere still says when.
QString isoTime(const QDateTime &time);

// Why an exception reply refused a request: "exception 2 (illegal data address)".
QString exceptionText(quint8 code);

// The measurement CSV of both programs: one header, one row per reading. The unit is "avg" for
// the average of the four units, else "1" to "4"; values in µg/m³ as the device gives them.
QString csvHeader();
QString csvRow(const QDateTime &time, int unitIndex, const Values::Measurement &value);
QString unitName(int unitIndex);

// What to try when the device does not answer, each way named as the program offers it: finding
// the device's baud rate, waking it, and switching it from its native protocol back to Modbus. An
// empty way is left out. It begins in lower case and has no full stop, to follow a message.
QString noAnswerHint(const QString &findRate, const QString &wake, const QString &toModbus);

} // namespace SessionTexts

#endif
