#ifndef ZELVIK_PENDINGREPLIES_H
#define ZELVIK_PENDINGREPLIES_H

#include <QByteArray>
#include <QList>
#include <QString>
#include <QtGlobal>

#include <optional>

// What the tool is waiting for. A Modbus read reply names neither the query nor the register, only
// its byte count; native replies name themselves by their reply id. So every query sent is kept
// here in the order it was sent with the reply it expects, and a reply goes to the oldest query
// that expects it, and to that one only. A query that expects the same reply as one still
// outstanding waits to be sent until that one has ended, so two of them are never on the line at
// once and a lost reply cannot hand its successor's answer to the wrong query.
struct PendingReplies {
    enum class Query : quint8 {
        pendingSensorData,
        pendingCleanSetting,
        pendingHeatMode,
        pendingWorkMode,
        pendingModbusAddr,
        pendingSelfCheck,
        pendingGlobalSet,
        pendingTempHumi,
        pendingHeatTempThreshold,
        pendingHeatHumiThreshold,
        pendingCalibration,
        pendingTransRead,
        pendingFactor,
        pendingBaudrate,   // the probe's request
        pendingDeviceInfo, // native 0xA6
        pendingFirmwareId  // native 0xB5
    };

    struct Outstanding {
        Query query = Query::pendingSensorData;
        int expects = 0;      // replyKey of the reply it waits for
        QByteArray request;   // the frame to write
        qint64 sentAtMs = -1; // -1 while it waits to be sent
        int unitIndex = 0;    // the measurement target chosen at the press
        bool sent() const { return sentAtMs >= 0; }
    };

    static constexpr qint64 AnswerTimeoutMs = 1000;

    // The reply a request asks for: twice the register count of a Modbus read (the reply's byte
    // count), or NativeKey plus the command byte of a native request (its reply id). -1 for others.
    static constexpr int NativeKey = 0x10000; // beyond any byte count a read can ask for
    static int replyKey(const QByteArray &request);

    // Adds a query in press order. True when it may be written now; otherwise it waits behind an
    // earlier query that expects the same reply, and releasable() hands it out later. A request
    // that is already waiting is not queued twice: pressing a button again and again while the
    // device is silent asks once more, not once per press.
    bool add(Query query, const QByteArray &request, int unitIndex = 0);
    // The query just added was written at nowMs, or could not be written and is forgotten.
    void markLastSent(qint64 nowMs);
    void forgetLast();
    // Waiting queries that may be written now, in press order; each is marked sent at nowMs.
    QList<Outstanding> releasable(qint64 nowMs);

    // The oldest sent query that expects this reply key, without taking it.
    const Outstanding *oldestFor(int key) const;
    // Takes the oldest sent query that expects this reply key.
    std::optional<Outstanding> take(int key);
    // Takes the oldest sent query, other than the probe's, that expects a Modbus read reply (an
    // exception to a read ends it; the probe's walk decides for itself).
    std::optional<Outstanding> takeOldestRead();
    // Sent queries older than AnswerTimeoutMs, taken out in the order sent. The probe's request is
    // left alone: the probe's own walk decides when it has waited long enough.
    QList<Outstanding> expire(qint64 nowMs);
    // The probe's request was written again at another rate.
    void restartProbe(qint64 nowMs);
    void removeProbe();
    // Forgets every query, sent or waiting (the port closed).
    void clearQueries() { queries.clear(); }

    int count(Query query) const;

    QList<Outstanding> queries; // in press order
    quint32 baudScanTicks = 0;  // poll ticks since the probe's current rate was set
    quint8 pendingBaudrate = 0; // baud-rate probe step: 0 idle, 1 = 19200, 2 = 9600, 3 = 4800, 4 = 2400
    QString deviceIdText;
    QString firmwareIdText;
};

// The one record of the process.
// NOLINTNEXTLINE(cppcoreguidelines-avoid-non-const-global-variables): shared by command slots and decoder by design
extern PendingReplies pendingReplies;

#endif
