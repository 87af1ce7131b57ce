// The simulated sensor's input side: arbitrary bytes arrive in chunks through RequestFramer, every
// request it cuts goes to SensorModel, and every reply must be a well-formed frame with a valid
// check value. Each reply is also handed, as one poll tick of its own, to the window's
// ReplyFramer, which must cut it as one frame of the kind it is.
//
// Input: device address, self-test mask, temperature, humidity, seed, then chunks: one header byte
// (bits 0-5: length; bits 6-7: 0 plain, 1 fix the chunk's check value, 2 after a silence that
// expires a partial request, 3 after one drift step of the readings) followed by the chunk.

#include "fuzzcheck.h"

#include "framer.h"
#include "frames.h"
#include "requestframer.h"
#include "sensormodel.h"

namespace {

quint8 at(const QByteArray &bytes, int offset)
{
    return offset >= 0 && offset < bytes.size() ? quint8(bytes.at(offset)) : quint8(0);
}

// Makes the chunk's check value right: the native checksum of a 19-byte block that starts with
// the native head, else the Modbus CRC in its last two bytes.
void fixCheck(QByteArray &chunk)
{
    if (chunk.size() == Kelvra::FrameSize && at(chunk, 0) == Kelvra::Head) {
        quint8 sum = 0;
        for (int i = Kelvra::DataOffset; i < Kelvra::ChecksumOffset; ++i)
            sum = quint8(sum + at(chunk, i));
        chunk[Kelvra::ChecksumOffset] = char(sum);
        chunk[Kelvra::TailOffset] = char(Kelvra::Tail);
    } else if (chunk.size() >= 3) {
        const quint16 crc = referenceCrc16(chunk, chunk.size() - 2);
        chunk[chunk.size() - 2] = char(crc & 0xFF);
        chunk[chunk.size() - 1] = char(crc >> 8);
    }
}

bool supportedRate(int rate)
{
    return rate == 2400 || rate == 4800 || rate == 9600 || rate == 19200;
}

void checkRequest(const SensorRequest &request, quint8 framerAddress)
{
    const QByteArray &b = request.bytes;
    if (request.kind == RequestKind::Native) {
        FUZZ_CHECK(nativeFrameValid(b), b);
        return;
    }
    FUZZ_CHECK(at(b, 0) == 0x00 || at(b, 0) == framerAddress, b);
    const quint8 function = at(b, 1);
    FUZZ_CHECK(function == 0x03 || function == 0x06 || function == 0x10, b);
    FUZZ_CHECK(b.size() == (function == 0x10 ? 9 + at(b, 6) : 8), b);
    FUZZ_CHECK(crcTrailerValid(b), b);
}

enum class Expect { Native, Read, Exception, Echo, MultipleAck };

Expect checkReply(const SensorRequest &request, const SensorOutcome &outcome, const SensorModel &model,
                  quint8 addressBefore)
{
    const QByteArray &req = request.bytes;
    const QByteArray &rep = outcome.reply;
    const QByteArray both = req + QByteArray("|") + rep;
    if (request.kind == RequestKind::Native) {
        FUZZ_CHECK(nativeFrameValid(rep), both);
        FUZZ_CHECK(at(rep, 1) == at(req, 1), both);
        FUZZ_CHECK(at(rep, 1) == 0xA6 || at(rep, 1) == 0xB5 || at(rep, 1) == 0xA7, both);
        return Expect::Native;
    }
    FUZZ_CHECK(crcTrailerValid(rep), both);
    const quint8 function = at(req, 1);
    if (at(rep, 1) == (function | 0x80)) {
        FUZZ_CHECK(rep.size() == Modbus::ExceptionReplySize, both);
        FUZZ_CHECK(at(rep, 2) == 0x02 || at(rep, 2) == 0x03, both);
        FUZZ_CHECK(at(rep, 0) == model.address(), both);
        return Expect::Exception;
    }
    FUZZ_CHECK(at(rep, 1) == function, both);
    switch (function) {
    case 0x03:
        FUZZ_CHECK(at(rep, 0) == model.address() && rep.size() == 5 + at(rep, 2), both);
        FUZZ_CHECK(at(rep, 2) == 2 * ((at(req, 4) << 8) | at(req, 5)), both);
        return Expect::Read;
    case 0x06:
        FUZZ_CHECK(rep == req, both);
        return Expect::Echo;
    default:
        FUZZ_CHECK(rep.size() == 8 && rep.mid(2, 4) == req.mid(2, 4), both);
        FUZZ_CHECK(at(rep, 0) == model.address() || at(rep, 0) == addressBefore, both);
        return Expect::MultipleAck;
    }
}

// The window's side: each reply arrives alone in one tick and comes out whole, as one frame of its
// kind; a Modbus function in the second byte makes a reply from address 0xAA a Modbus one.
void checkToolSees(ReplyFramer &framer, const QByteArray &reply, Expect expect, qint64 now)
{
    static const FrameKind kinds[] = {FrameKind::Native, FrameKind::ReadReply, FrameKind::Exception,
                                      FrameKind::WriteEcho, FrameKind::WriteMultipleAnswer};
    framer.append(reply, now);
    const QList<FramerEvent> seen = framer.take(now);
    FUZZ_CHECK(seen.size() == 1 && framer.buffered() == 0, reply);
    FUZZ_CHECK(seen.first().type == FramerEvent::Frame && seen.first().bytes == reply, reply);
    FUZZ_CHECK(seen.first().kind == kinds[int(expect)], reply);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    InputReader in(data, size);
    SensorSettings settings;
    settings.address = in.byte();
    if (settings.address == 0)
        settings.address = 1;
    settings.selfTestMask = in.byte();
    settings.temperature = qint8(in.byte());
    settings.humidity = in.byte();
    settings.seed = in.byte();

    SensorModel model(settings);
    FUZZ_CHECK(model.address() == settings.address && model.baudRate() == settings.baudRate,
               QByteArray(1, char(settings.address)));
    RequestFramer framer;
    framer.setDeviceAddress(model.address());
    ReplyFramer tool;

    qint64 now = 0;
    qint64 fed = 0, taken = 0, dropped = 0;
    while (in.remaining() > 0) {
        const quint8 header = in.byte();
        QByteArray chunk = in.take(header & 0x3F);
        switch (header >> 6) {
        case 1:
            fixCheck(chunk);
            break;
        case 2:
            now += RequestFramer::SilenceMs;
            break;
        case 3:
            model.step();
            break;
        default:
            break;
        }
        now += 1;

        const bool hadPartial = framer.hasPartial();
        // Requests of one chunk are all cut with the address the device had when it arrived.
        const quint8 framerAddress = model.address();
        const RequestFramer::Result result = framer.feed(chunk, now);
        FUZZ_CHECK(result.discarded >= 0, chunk);
        fed += chunk.size();
        dropped += result.discarded;
        if (chunk.isEmpty())
            FUZZ_CHECK(result.requests.isEmpty() && (result.discarded == 0 || hadPartial), chunk);

        for (const SensorRequest &request : result.requests) {
            checkRequest(request, framerAddress);
            taken += request.bytes.size();

            const quint8 addressBefore = model.address();
            const SensorOutcome outcome = model.handle(request);
            framer.setDeviceAddress(model.address());
            FUZZ_CHECK(outcome.newBaudRate == 0 || supportedRate(outcome.newBaudRate), request.bytes);
            FUZZ_CHECK(model.address() != 0, request.bytes);
            FUZZ_CHECK(model.protocol() == 0 || model.protocol() == 3, request.bytes);
            if (!outcome.reply.isEmpty()) {
                const Expect expect = checkReply(request, outcome, model, addressBefore);
                checkToolSees(tool, outcome.reply, expect, now);
            } else {
                FUZZ_CHECK(!outcome.note.isEmpty(), request.bytes);
            }
            if (outcome.newBaudRate != 0)
                model.setBaudRate(outcome.newBaudRate);
            FUZZ_CHECK(supportedRate(model.baudRate()), request.bytes);
        }
        // Every byte fed is cut into a request, skipped, or still buffered.
        const qint64 buffered = fed - taken - dropped;
        FUZZ_CHECK(buffered >= 0 && framer.hasPartial() == (buffered > 0), chunk);
    }

    for (int unit = 0; unit <= 4; ++unit) {
        const SensorModel::Reading r = model.reading(unit);
        FUZZ_CHECK(r.pm25 >= 0 && r.pm25 <= 0xFFFF && r.pm10 >= 0 && r.pm10 <= 0xFFFF && r.pm100 >= 0
                       && r.pm100 <= 0xFFFF,
                   QByteArray::number(unit));
    }
    return 0;
}
