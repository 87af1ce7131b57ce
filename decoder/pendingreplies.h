#ifndef ZELVIK_PENDINGREPLIES_H
#define ZELVIK_PENDINGREPLIES_H

#include <QByteArray>
#include <QList>
#include <QtGlobal>

#include <optional>

// What a session is waiting for. A Modbus read reply names neither the query nor the register, only
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
        pendingFirmwareId, // native 0xB5
        request            // any other request whose reply is awaited (zelvikctl's writes and raw frames)
    };

    struct Outstanding {
        Query query = Query::pendingSensorData;
        int expects = 0;      // replyKey of the reply it waits for
        QByteArray request;   // the frame to write
        qint64 sentAtMs = -1; // -1 while it waits to be sent
        int unitIndex = 0;    // the measurement target chosen at the press
        quint64 ticket = 0;   // names the query to whoever asked
        int attempts = 0;     // times its request was written
        qint64 waitingSinceMs = 0; // when it last began to wait to be written
        bool sent() const { return sentAtMs >= 0; }
    };

    // The reply a request asks for: twice the register count of a Modbus read (the reply's byte
    // count), or NativeKey plus the command byte of a native request (its reply id). -1 for others,
    // and for a read of more registers than one reply can carry.
    static constexpr int NativeKey = 0x10000; // beyond any byte count a read can ask for
    static int replyKey(const QByteArray &request);

    // Adds a query in press order with the next ticket. False when it waits behind an earlier
    // query that expects the same reply (releasable() hands it out later) or when the same request
    // is already waiting: pressing a button again and again while the device is silent asks once
    // more, not once per press. The ticket is 0 for such a repeat.
    bool add(Query query, const QByteArray &request, int unitIndex, quint64 *ticket);
    // The query was written at nowMs.
    void markSent(quint64 ticket, qint64 nowMs);
    // The query waits (again) to be written from nowMs, keeping its place.
    void markWaiting(quint64 ticket, qint64 nowMs);
    // Forgets a query, sent or waiting (its request could not be written, it was answered late...).
    void forget(quint64 ticket);
    // Tickets of the waiting queries that may be written now, in press order. They stay waiting
    // until markSent(): one whose write fails is not taken for sent.
    QList<quint64> releasable() const;
    const Outstanding *find(quint64 ticket) const;
    // The probe's entry, sent or waiting; nullptr when the probe has none.
    const Outstanding *probe() const;

    // The oldest sent query that expects this reply key, without taking it.
    const Outstanding *oldestFor(int key) const;
    // Takes the oldest sent query that expects this reply key.
    std::optional<Outstanding> take(int key);
    // Sent queries whose answer is overdue at nowMs (timeoutMs after they were written), oldest
    // first, left in place. The probe's request is left out: the probe's own walk decides when it
    // has waited long enough.
    QList<Outstanding> overdue(qint64 nowMs, qint64 timeoutMs) const;
    void removeProbe();
    // Forgets every query, sent or waiting (the port closed).
    void clearQueries() { queries.clear(); }

    QList<Outstanding> queries; // in press order
    quint64 lastTicket = 0;
};

#endif
