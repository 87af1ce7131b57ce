#ifndef ZELVIK_RESULTS_H
#define ZELVIK_RESULTS_H

#include "invocation.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>

// What zelvikctl prints for a result: text for people, one JSON object for scripts. Both come from
// the verified replies through the value decoders of the window.
namespace Cli {

struct Result {
    QString text;     // one or more lines, no final newline
    QJsonObject json; // always names the command
};

// The result of an Exchange from the replies to its requests, in order. A set command is
// described from the values it wrote, which the device's answer has confirmed.
Result describe(const Invocation &invocation, const QList<QByteArray> &replies, const QDateTime &time);

// One measurement reply of a unit (0 average, 1 to 4), read at time. The CSV of the same reading
// is SessionTexts::csvRow(), shared with the window.
Result reading(const QByteArray &reply, int unit, const QDateTime &time);

// The probe's answer at rate.
Result probeAnswer(qint32 rate, const QByteArray &reply);

// The line, or the compact JSON text, of a result as printed.
QString printed(const Result &result, bool json);

} // namespace Cli

#endif
