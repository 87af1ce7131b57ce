#ifndef ZELVIK_MODBUSDECODE_H
#define ZELVIK_MODBUSDECODE_H

#include "pendingreplies.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// One change to a widget of the form, named by its object name.
struct WidgetChange {
    enum Kind { SetText, SetChecked };
    Kind kind = SetText;
    QString objectName;
    QString text;         // SetText
    bool checked = false; // SetChecked
};

struct ReadReplyOutcome {
    QList<WidgetChange> changes; // in the order they must be applied
    QStringList logLines;
};

// Serves every raised flag of pending from one read reply, in the fixed flag order, clearing
// each flag it serves. Bytes beyond the reply read as 0. sendObjectIndex is the measurement
// target chosen at the moment of decoding (0 = "Avg").
ReadReplyOutcome decodeReadReply(const QByteArray &reply, PendingReplies &pending, int sendObjectIndex);

// The measurement log line, e.g. "All Sensor: PM2.5 = 12.3  PM10 = 45.6  PM100 = 789".
QString measurementLine(const QByteArray &reply, int sendObjectIndex);

// The untranslated message of a recognised write echo (protocol or factory change), or nullptr.
const char *writeEchoMessage(const QByteArray &echo);

// A readable line for a Modbus exception reply, naming its code.
QString exceptionLine(const QByteArray &reply);

#endif
