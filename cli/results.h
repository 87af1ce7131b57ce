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

// A run, or a monitor's reading, that failed.
struct Failure {
    int status = ExitOk;
    QString message;
    QByteArray reply; // the bytes the device sent instead of an answer, if any
    QString hint;     // what to try, if anything
};

// A failure as reported: the text for standard error (the message, then the hint), and the JSON
// object that --json prints on standard output instead of a result, so that a script reading JSON
// always gets one. command is left out when empty (arguments that named none).
Result failed(const QString &command, const Failure &failure);

// The line, or the compact JSON text, of a result as printed.
QString printed(const Result &result, bool json);

} // namespace Cli

#endif
