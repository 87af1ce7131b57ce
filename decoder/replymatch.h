#ifndef ZELVIK_REPLYMATCH_H
#define ZELVIK_REPLYMATCH_H

#include <QByteArray>

// How a whole, checked frame (as the framer cut it) relates to the one request on the line.
enum class ReplyMatch {
    Answer,  // the reply the request asks for
    Refusal, // a Modbus exception to the request's function
    Other    // a frame that answers something else (a late reply to an earlier request, another device)
};

// A native request is answered by the frame with its command byte as reply id; a Modbus read by a
// read reply of the byte count asked for; a single write by its echo, a multiple write by the
// answer naming the same registers. A request to address 0 takes a reply from any address, a
// request to another address only from that one. A request of none of these kinds (raw bytes)
// takes any frame.
ReplyMatch matchReply(const QByteArray &request, const QByteArray &frame);

#endif
