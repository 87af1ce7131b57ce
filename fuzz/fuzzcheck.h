#ifndef ZELVIK_FUZZCHECK_H
#define ZELVIK_FUZZCHECK_H

// Shared pieces of the fuzz targets: an invariant check that stops the run (libFuzzer then
// keeps the input as a crash) and a reader that takes the control bytes from the front of an input.

#include <QByteArray>
#include <QtGlobal>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

[[noreturn]] inline void fuzzFail(const char *file, int line, const char *condition, const QByteArray &context)
{
    std::fprintf(stderr, "\n==FUZZCHECK== %s:%d: invariant violated: %s\n", file, line, condition);
    if (!context.isEmpty())
        std::fprintf(stderr, "==FUZZCHECK== context: %s\n", context.toHex(' ').constData());
    std::abort();
}

// Aborts when cond is false, naming the condition and printing the bytes it concerns in hex.
#define FUZZ_CHECK(cond, context)                                                                  \
    do {                                                                                           \
        if (!(cond))                                                                               \
            fuzzFail(__FILE__, __LINE__, #cond, (context));                                        \
    } while (false)

// Check values computed here again, bit by bit, so that an invariant does not lean on the code it checks.
// CRC-16/MODBUS: start 0xFFFF, reflected polynomial 0xA001.
inline quint16 referenceCrc16(const QByteArray &bytes, int length)
{
    quint16 crc = 0xFFFF;
    for (int i = 0; i < length; ++i) {
        crc ^= quint8(bytes.at(i));
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? quint16((crc >> 1) ^ 0xA001) : quint16(crc >> 1);
    }
    return crc;
}

// A Modbus frame whose last two bytes are the CRC of the bytes before them, low byte first.
inline bool crcTrailerValid(const QByteArray &frame)
{
    if (frame.size() < 3)
        return false;
    const quint16 crc = referenceCrc16(frame, frame.size() - 2);
    return quint8(frame.at(frame.size() - 2)) == (crc & 0xFF) && quint8(frame.at(frame.size() - 1)) == (crc >> 8);
}

// A native frame: 19 bytes, head 0xAA, tail 0xAB, offset 17 the sum of offsets 2 to 16.
inline bool nativeFrameValid(const QByteArray &frame)
{
    if (frame.size() != 19 || quint8(frame.at(0)) != 0xAA || quint8(frame.at(18)) != 0xAB)
        return false;
    quint8 sum = 0;
    for (int i = 2; i <= 16; ++i)
        sum = quint8(sum + quint8(frame.at(i)));
    return quint8(frame.at(17)) == sum;
}

// Takes bytes from the front of a fuzz input; past its end every byte reads as 0.
class InputReader
{
public:
    InputReader(const uint8_t *data, size_t size) : m_data(data), m_size(size) {}

    quint8 byte() { return m_pos < m_size ? m_data[m_pos++] : quint8(0); }
    size_t remaining() const { return m_size - m_pos; }
    // Up to count bytes (fewer when the input ends first).
    QByteArray take(size_t count)
    {
        const size_t n = count < remaining() ? count : remaining();
        QByteArray bytes(reinterpret_cast<const char *>(m_data + m_pos), int(n));
        m_pos += n;
        return bytes;
    }
    QByteArray rest() { return take(remaining()); }

private:
    const uint8_t *m_data;
    size_t m_size;
    size_t m_pos = 0;
};

#endif
