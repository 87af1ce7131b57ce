#ifndef ZELVIK_REPLYFAULTS_H
#define ZELVIK_REPLYFAULTS_H

#include <QByteArray>

#include <random>

// Line faults applied to the device's replies on demand. Every reply consumes the same number of
// draws from one generator whatever the settings, so a given seed and request sequence always
// gives the same faults.
struct FaultSettings {
    bool split = false;       // send each reply in two parts, cut at a random position
    double corruptRate = 0.0; // chance of one flipped bit in a reply
    double dropRate = 0.0;    // chance of a reply that never goes out
    int lateMs = 0;           // extra wait of a late reply (answering after the tool gave up)
    double lateRate = 1.0;    // chance that a reply is late, when lateMs is set
};

struct FaultedReply {
    bool dropped = false;
    QByteArray bytes;       // the reply as it goes out (one bit flipped when corrupted)
    int cut = 0;            // 0: in one piece; else the size of the first part
    int corruptedByte = -1; // offset of the flipped bit's byte, -1 when intact
    int corruptedBit = -1;
    int lateMs = 0;         // sent this much later than the reply would have been
};

class ReplyFaults
{
public:
    ReplyFaults(const FaultSettings &settings, quint32 seed);

    FaultedReply apply(const QByteArray &reply);

private:
    double uniform();

    FaultSettings m_settings;
    std::mt19937 m_random;
};

#endif
