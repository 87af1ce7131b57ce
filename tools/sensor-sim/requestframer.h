#ifndef ZELVIK_REQUESTFRAMER_H
#define ZELVIK_REQUESTFRAMER_H

#include "sensormodel.h"

#include <QByteArray>
#include <QList>

// Cuts the byte stream that arrives from the line, in chunks of any size, into whole requests:
// native frames (19 bytes, 0xAA ... checksum 0xAB) and Modbus RTU requests with function 0x03,
// 0x06 or 0x10 for address 0x00 or the device's own address. A Modbus request with a wrong CRC,
// a native frame with a wrong tail or checksum, and any byte that cannot start a request are
// skipped one byte at a time, so the stream resynchronises on the next good request. A partial
// request followed by silence is dropped.
class RequestFramer
{
public:
    static constexpr qint64 SilenceMs = 100;

    struct Result {
        QList<SensorRequest> requests;
        int discarded = 0; // bytes skipped as garbage or as part of a request with a bad check
    };

    void setDeviceAddress(quint8 address) { m_address = address; }

    // Adds a chunk received at nowMs (any monotonic millisecond clock) and returns the requests
    // that are complete, in order. Bytes of an unfinished request stay buffered.
    Result feed(const QByteArray &chunk, qint64 nowMs);
    // Drops a buffered partial request once SilenceMs have passed since its last byte.
    // Returns the number of bytes dropped.
    int expire(qint64 nowMs);
    // Drops everything buffered, returning the number of bytes dropped.
    int clear();
    bool hasPartial() const { return !m_buffer.isEmpty(); }

private:
    enum class Cut { NeedMore, Skip, Native, Modbus };
    Cut examine(int &length) const;

    QByteArray m_buffer;
    qint64 m_lastByteMs = 0;
    quint8 m_address = 1;
};

#endif
