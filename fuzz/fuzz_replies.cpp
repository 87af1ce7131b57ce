// Replies as a sensor session sees them: the real SensorSession, writing through a line that
// records its rate and can refuse writes, gets presses, bytes and time as the input chooses, and
// what it reports through its signals is checked against the requests and the stream kept here:
// each query ends at most once, with a reply of the size, id or echo its request asks for that
// passes its check value; a measurement comes from an 8-byte read reply; no query outlives its
// deadline; the probe leaves the line at one of its rates, and one that never started leaves it
// where it was. The same bytes also go through a ReplyFramer of their own, whose cuts are checked
// with lengths and check values computed here again.
//
// Input: a settings byte (bits 0-1: retries; bit 2: local echo on; bit 3: the probe holds each rate
// for 250 ms times 1 + bits 4-5 instead of three polls, with 1 + bit 6 requests per rate; bit 7: a
// 400 ms answer time-out instead of 1 s), then records, each led by a control byte c.
//   c < 0x80, a poll tick: the clock moves on by 8 ms times the next byte (up to 2 s), then c & 0x3F
//     bytes arrive (bit 6: their last two bytes become their CRC, so whole Modbus replies are reachable).
//   c >= 0x80, by bits 4-6: 0-3 a press of query c & 0x0F now, 4 one that goes out 8 ms times a
//     further byte later, with a request shaped by the next byte r (the measurement reads its four
//     registers of unit r & 7, the probe its own; else bits 6-7: 3 native with command
//     0xA0 + (r & 0x1F), 2 a register write, else a read of r & 0x1F registers; bit 5: this write
//     fails); 5 with bit 0 the clock moves to the next deadline, else on by 8 ms times the next
//     byte, and the session advances; 6 the next byte as a tick's header, the bytes arriving
//     between polls; 7 with bit 1 the line closes and opens again, else with bit 0 writes start or
//     stop failing, else local echo is switched.
// At the end the session is polled until nothing waits; then nothing may be outstanding.

#include "fuzzcheck.h"

#include "baudprobe.h"
#include "framer.h"
#include "nativedecode.h"
#include "sensorsession.h"
#include "sessionline.h"
#include "values.h"

#include <QHash>
#include <QRegularExpression>
#include <QSet>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr qint64 TimeoutMs = Framing::IncompleteTimeoutMs; // for a frame cut short
constexpr qint64 PollMs = 300;
using Query = SensorSession::Query;

quint8 at(const QByteArray &bytes, int offset)
{
    return offset >= 0 && offset < bytes.size() ? quint8(bytes.at(offset)) : quint8(0);
}

// The Modbus function in the second byte: 0x03, 0x06, 0x10 or an exception to one of them; 0 for none.
quint8 function(const QByteArray &b, int from = 0)
{
    const quint8 f = at(b, from + 1);
    return (f & 0x7F) == 0x03 || (f & 0x7F) == 0x06 || (f & 0x7F) == 0x10 ? f : 0;
}

// The length of the frame that starts at offset from of the first end bytes: -1 while too few bytes
// tell it, 0 when none starts there. A Modbus function in the second byte wins over the native head.
int refLength(const QByteArray &b, int from, int end)
{
    const quint8 f = function(b, from);
    if (end - from < 2 || (f == 0x03 && end - from < 3))
        return -1;
    if (f == 0x03)
        return at(b, from + 2) % 2 ? 0 : 5 + at(b, from + 2); // registers are two bytes each
    return f & 0x80 ? 5 : f ? 8 : at(b, from) == 0xAA ? 19 : 0;
}

bool refGood(const QByteArray &f) { return function(f) ? crcTrailerValid(f) : nativeFrameValid(f); }

FrameKind refKind(const QByteArray &f)
{
    const quint8 f1 = function(f);
    return !f1 ? FrameKind::Native : f1 & 0x80 ? FrameKind::Exception : f1 == 0x03 ? FrameKind::ReadReply
        : f1 == 0x06 ? FrameKind::WriteEcho : FrameKind::WriteMultipleAnswer;
}

// Everything that arrived, the time each chunk came, and how much of it the framer has given back.
struct Stream {
    QByteArray bytes;
    QList<QPair<int, qint64>> chunks; // first position, arrival time
    int emitted = 0;

    qint64 arrival(int position) const
    {
        const auto chunk = std::find_if(chunks.crbegin(), chunks.crend(), [position](const QPair<int, qint64> &c) {
            return c.first <= position;
        });
        return chunk == chunks.crend() ? 0 : chunk->second;
    }
    // Good where a whole frame whose check value holds starts at p, Waiting where a frame starts that
    // is not whole yet and may still complete.
    enum Start { None, Good, Waiting };
    Start startAt(int p, qint64 now) const
    {
        const int length = refLength(bytes, p, bytes.size());
        if (length > 0 && p + length <= bytes.size())
            return refGood(bytes.mid(p, length)) ? Good : None;
        return length != 0 && now - arrival(p) < TimeoutMs ? Waiting : None;
    }
    // A whole frame at p that failed its check may still be the false start of a frame that began
    // inside it and has not fully arrived, as long as nothing good follows it and its first byte is
    // within its time-out.
    bool mayHideStart(int p, int length, qint64 now) const
    {
        if (now - arrival(p) >= TimeoutMs)
            return false;
        bool inside = false;
        for (int k = p + 1; k < p + length && !inside; ++k) {
            const int inner = refLength(bytes, k, bytes.size());
            inside = inner > 0 && k + inner > bytes.size();
        }
        for (int j = p + length; inside && j < bytes.size(); ++j)
            inside = startAt(j, now) != Good;
        return inside;
    }
};

// The log's form of dropped bytes: at most 256 of them in hexadecimal, then how many more.
QString noteHex(const QByteArray &b)
{
    const QString shown = QString::fromLatin1(b.left(256).toHex(' '));
    return b.size() <= 256 ? shown : shown + QStringLiteral(" \u2026 (%1 more bytes)").arg(b.size() - 256);
}

void checkEvents(const QList<FramerEvent> &events, Stream &s, int buffered, qint64 now)
{
    const int end = s.bytes.size();
    int pos = s.emitted;
    for (int i = 0; i < events.size(); ++i) {
        const FramerEvent &e = events.at(i);
        const QByteArray &b = e.bytes;
        const int n = b.size(), length = refLength(s.bytes, pos, end);
        const bool frameNext = i + 1 < events.size() && events.at(i + 1).type == FramerEvent::Frame;
        const QString hex = noteHex(b);
        // The events hand back the stream in order, each byte once.
        FUZZ_CHECK(n > 0 && s.bytes.mid(pos, n) == b, b);
        if (e.type == FramerEvent::Frame) {
            FUZZ_CHECK(length == n && refGood(b) && e.kind == refKind(b) && e.note.isEmpty(), b);
        } else if (e.type == FramerEvent::BadCheck) {
            // A run of refused frames, one after the other: one line that says how many more.
            int frames = 0;
            for (int at = pos, size = length; at < pos + n; at += size, size = refLength(s.bytes, at, end), ++frames) {
                FUZZ_CHECK(size > 0 && at + size <= pos + n && !refGood(s.bytes.mid(at, size)), s.bytes.mid(at));
                FUZZ_CHECK(!s.mayHideStart(at, size, now), s.bytes.mid(at));
            }
            FUZZ_CHECK(e.note.startsWith("Reply refused: ") && e.note.size() < 120
                           && (frames == 1 || e.note.endsWith(QStringLiteral(" (and %1 more refused frames)").arg(frames - 1))),
                       b);
        } else if (e.type == FramerEvent::Incomplete) {
            FUZZ_CHECK(length != 0 && (length < 0 || pos + length > end) && now - s.arrival(pos) >= TimeoutMs, b);
            // It ends where a frame or what stays buffered begins, and keeps every start that may complete.
            FUZZ_CHECK(e.note == "Incomplete reply dropped: " + hex && (frameNext || i + 1 == events.size()), b);
            for (int p = pos + 1; p < pos + n; ++p)
                FUZZ_CHECK(s.startAt(p, now) != Stream::Waiting, s.bytes.mid(pos));
        } else {
            // A run of junk, false starts and frames that failed or never completed: one line. It is
            // never followed by another such run.
            FUZZ_CHECK(e.note == "Unframed bytes dropped: " + hex
                           && (i + 1 == events.size() || events.at(i + 1).type == FramerEvent::Frame),
                       s.bytes.mid(pos));
        }
        // No byte dropped begins a whole frame whose check value holds.
        for (int p = pos; e.type != FramerEvent::Frame && p < pos + n; ++p)
            FUZZ_CHECK(s.startAt(p, now) != Stream::Good, s.bytes.mid(p));
        pos += n;
    }
    s.emitted = pos;
    // What stays is the start of a frame not whole yet whose first byte is within its time-out, or a
    // failed frame that may hide the start of one.
    const int staying = refLength(s.bytes, pos, end);
    FUZZ_CHECK(pos + buffered == end
                   && (buffered == 0 || s.startAt(pos, now) == Stream::Waiting
                       || (staying > 0 && pos + staying <= end && s.mayHideStart(pos, staying, now))),
               s.bytes.mid(pos));
}

// Every decoder on a whole read reply, against the offsets of the reply layout.
void checkValues(const QByteArray &f, int unit)
{
    const auto v = [&f](int offset) { return at(f, offset); };
    static const QRegularExpression line(
        QStringLiteral("\\A(?:All Sensor: |Sensor (\\d+):  )PM2\\.5 = (\\S+)  PM10 = (\\S+)  PM100 = (\\d+)\\z"));
    const QRegularExpressionMatch m = line.match(Values::measurementLine(Values::measurement(f), unit));
    FUZZ_CHECK(m.hasMatch() && m.captured(1).toInt() == quint8(unit) && m.captured(4).toInt() == v(7) * 256 + v(8), f);
    FUZZ_CHECK(std::lround(m.captured(2).toDouble() * 10) == v(3) * 256 + v(4)
                   && std::lround(m.captured(3).toDouble() * 10) == v(5) * 256 + v(6), f);
    const int v3 = v(3), v4 = v(4), heat = v3 == 0 ? Values::HeatMode::Manual : v3 == 1 ? Values::HeatMode::Automatic
                                                                               : Values::HeatMode::Unknown;
    const int pairs[][2] = {
        {Values::heatMode(f).mode, heat}, {Values::heatMode(f).heaterOn, v4 == 1}, {Values::workMode(f).mode, v3},
        {Values::workMode(f).unitMask, v4}, {Values::workMode(f).known(), v3 >= 1 && v3 <= 3},
        {Values::calibration(f).zeroOffset, v3 == 0 ? -v4 : v4}, {Values::calibration(f).factor, v(6)},
        {Values::cleanSetting(f).durationSeconds, v3}, {Values::cleanSetting(f).intervalHours, v4},
        {Values::modbusAddress(f), v4}, {Values::selfTestPassed(f), v4}, {Values::globalSwitches(f), v4},
        {Values::tempHumi(f).temperature, qint8(v3)}, {Values::tempHumi(f).humidity, v4},
        {Values::heatTempThresholds(f).high, qint8(v3)}, {Values::heatTempThresholds(f).low, qint8(v4)},
        {Values::heatHumiThresholds(f).high, v3}, {Values::heatHumiThresholds(f).low, v4}};
    for (const auto &pair : pairs)
        FUZZ_CHECK(pair[0] == pair[1], f + char(&pair - pairs));
    FUZZ_CHECK(Values::transparentData(f) == f.mid(3, v(2)) && v(2) == f.size() - 5, f);
    const Values::SelfTestFactors factors = Values::selfTestFactors(f);
    for (int u = 0; u < 4; ++u)
        FUZZ_CHECK(factors.factor[u] == v(3 + u) && factors.suspected[u] == v(7 + u), f);
}

QByteArray request(Query query, quint8 shape)
{
    const int form = query == Query::pendingSensorData ? 0 : shape >> 6;
    QByteArray r = QByteArray::fromHex(form == 3 ? "aa" : form == 2 ? "000600a20000" : "000300000000");
    if (form == 3)
        return r + char(0xA0 + (shape & 0x1F)) + QByteArray(16, '\0') + char(0xAB);
    if (query == Query::pendingSensorData)
        r.replace(2, 4, QByteArray::fromHex("00b40004")).data()[2] = char(shape & 7);
    else
        r[5] = char(form == 2 ? 0 : shape & 0x1F);
    const quint16 crc = referenceCrc16(r, r.size());
    return r + char(crc & 0xFF) + char(crc >> 8);
}

// The reply a request asks for, by this module's reading of the protocol: a read reply of twice
// the registers read, the native frame with the command as reply id, the echo of a single write.
bool answers(const QByteArray &request, const QByteArray &frame)
{
    if (at(request, 0) == 0xAA)
        return nativeFrameValid(frame) && at(frame, 1) == at(request, 1);
    if (!crcTrailerValid(frame) || at(frame, 1) != at(request, 1))
        return false;
    return at(request, 1) == 0x03 ? at(frame, 2) == 2 * at(request, 5) && frame.size() == 5 + at(frame, 2)
                                  : frame.size() == 8 && frame.mid(1, 5) == request.mid(1, 5);
}

class Line : public SessionLine
{
public:
    bool isOpen() const override { return open; }
    bool write(const QByteArray &frame, QString *error) override
    {
        *error = QStringLiteral("refused");
        if (!refuse && !refuseOnce)
            written << frame;
        return !refuse && !refuseOnce;
    }
    bool setBaudRate(qint32 r) override
    {
        FUZZ_CHECK(r == 19200 || r == 9600 || r == 4800 || r == 2400, QByteArray::number(r));
        rate = r;
        return true;
    }
    qint32 baudRate() const override { return rate; }
    bool open = true, refuse = false, refuseOnce = false;
    qint32 rate = 9600;
    QByteArrayList written; // in the step running
};

// The session, the clock, and what was seen of it.
struct Harness {
    Line line;
    SensorSession session{&line};
    qint64 now = 0, timeoutMs = 1000;
    int retries = 0;
    QSet<quint64> ended;
    QHash<quint64, qint64> sentAt; // the sent queries when the step began, by ticket
    QByteArray measurement;        // the reply of a measurement answered, until measured
    int measuredUnit = -1;
    bool probeSpoke = false;       // the probe stepped, answered, gave up or stopped in this step

    explicit Harness(quint8 settings)
    {
        retries = settings & 3;
        timeoutMs = settings & 0x80 ? 400 : 1000;
        session.setRetries(retries);
        session.setAnswerTimeout(timeoutMs);
        session.setLocalEcho(settings & 4, 0);
        if (settings & 8)
            session.setProbeHold(0, 250 * (1 + ((settings >> 4) & 3)), 1 + ((settings >> 6) & 1));
        QObject::connect(&session, &SensorSession::written, [this](const QByteArray &f) {
            FUZZ_CHECK(line.open && !line.refuse && !line.refuseOnce, f);
        });
        QObject::connect(&session, &SensorSession::answered, [this](const SensorSession::Reply &r) {
            end(r.ticket, r.request);
            FUZZ_CHECK(answers(r.request, r.frame) && r.attempts >= 1 && r.attempts <= retries + 1, r.request + r.frame);
            if (function(r.frame) == 0x03)
                checkValues(r.frame, r.unitIndex);
            if (r.query == Query::pendingSensorData) { // the unit chosen at the press is the one read
                FUZZ_CHECK(r.unitIndex == at(r.request, 2), r.request);
                measurement = r.frame;
                measuredUnit = r.unitIndex;
            }
        });
        QObject::connect(&session, &SensorSession::measured, [this](int unit, const Values::Measurement &m) {
            const QByteArray &f = measurement;
            FUZZ_CHECK(unit == measuredUnit && crcTrailerValid(f) && at(f, 2) == 8 && f.size() == 13, f);
            FUZZ_CHECK(std::lround(m.pm25 * 10) == at(f, 3) * 256 + at(f, 4) && std::lround(m.pm10 * 10) == at(f, 5) * 256 + at(f, 6)
                           && m.pm100 == at(f, 7) * 256 + at(f, 8), f);
            measuredUnit = -1;
        });
        QObject::connect(&session, &SensorSession::noAnswer, [this](const SensorSession::Reply &r) {
            // One that waited (for its turn or a quiet line) ends without having been sent again.
            const bool waited = r.notSent || r.neverQuiet;
            FUZZ_CHECK(!ended.contains(r.ticket) && (waited || sentAt.contains(r.ticket)), r.request);
            ended.insert(r.ticket);
            FUZZ_CHECK(r.frame.isEmpty() && (waited || now - sentAt.value(r.ticket) >= timeoutMs) && r.attempts <= retries + 1,
                       r.request);
        });
        QObject::connect(&session, &SensorSession::refused, [this](const SensorSession::Refusal &r) {
            if (r.hasQuery) {
                end(r.query.ticket, r.query.request);
                FUZZ_CHECK(r.toWrite == (at(r.query.request, 1) != 0x03) && function(r.query.frame) == (at(r.query.request, 1) | 0x80)
                               && crcTrailerValid(r.query.frame) && r.code == at(r.query.frame, 2), r.query.frame);
            }
        });
        QObject::connect(&session, &SensorSession::ignored, [this](const QByteArray &f) {
            // A read reply is ignored only when no query waits for its size, or the probe does and
            // it is not the probe's answer.
            FUZZ_CHECK(function(f) ? crcTrailerValid(f) : nativeFrameValid(f), f);
            const PendingReplies::Outstanding *oldest = function(f) == 0x03 ? session.pending().oldestFor(at(f, 2)) : nullptr;
            FUZZ_CHECK(!oldest || (oldest->query == Query::pendingBaudrate && (at(f, 2) != 2 || at(f, 4) != at(f, 0))), f);
        });
        QObject::connect(&session, &SensorSession::nativeReply, [](quint8 id, const QByteArray &f) {
            FUZZ_CHECK(nativeFrameValid(f) && id == at(f, 1), f);
        });
        QObject::connect(&session, &SensorSession::writeEchoed, [](const QByteArray &f) {
            FUZZ_CHECK(crcTrailerValid(f) && f.size() == 8 && at(f, 1) == 0x06, f);
        });
        QObject::connect(&session, &SensorSession::probeStepped, [this](quint8 step, qint32 rate) {
            static const qint32 rates[] = {0, 0, 9600, 4800, 2400, 9600};
            FUZZ_CHECK(step >= 2 && step <= 5 && rate == rates[step], QByteArray::number(rate));
            probeSpoke = true;
        });
        QObject::connect(&session, &SensorSession::probeAnswered, [this](qint32 rate, quint8 step, const QByteArray &f) {
            FUZZ_CHECK(crcTrailerValid(f) && at(f, 2) == 2 && at(f, 4) == at(f, 0) && rate == line.rate && step >= 1 && step <= 4, f);
            probeSpoke = true;
        });
        QObject::connect(&session, &SensorSession::probeGaveUp, [this](qint32 rate) {
            FUZZ_CHECK(rate == 9600 && line.rate == 9600, QByteArray());
            probeSpoke = true;
        });
        QObject::connect(&session, &SensorSession::probeStopped, [this] { probeSpoke = true; });
    }

    void end(quint64 ticket, const QByteArray &request)
    {
        FUZZ_CHECK(ticket != 0 && !ended.contains(ticket) && sentAt.contains(ticket), request);
        ended.insert(ticket);
    }

    // One step of the input, and the state it leaves: at most one query per reply on the line, each
    // written when taken for sent, the probe at its step's rate or, when it did not run, the line
    // where it was; after time moved on, nothing overdue, nothing left waiting that could go out,
    // and nothing due.
    template <typename Step> void step(bool timed, Step run)
    {
        sentAt.clear();
        for (const PendingReplies::Outstanding &q : session.pending().queries)
            if (q.sent())
                sentAt.insert(q.ticket, q.sentAtMs);
        const bool probing = session.probing();
        const qint32 rate = line.rate;
        probeSpoke = false;
        line.written.clear();
        run();
        FUZZ_CHECK(measuredUnit < 0, measurement); // a measurement answered is measured at once
        const QList<PendingReplies::Outstanding> &queries = session.pending().queries;
        for (int i = 0; i < queries.size(); ++i) {
            const PendingReplies::Outstanding &q = queries.at(i);
            for (int j = 0; j < i; ++j)
                FUZZ_CHECK(!q.sent() || !queries.at(j).sent() || queries.at(j).expects != q.expects, q.request);
            FUZZ_CHECK(!timed || !q.sent() || q.query == Query::pendingBaudrate || now - q.sentAtMs < timeoutMs, q.request);
            // A query taken for sent in this step was written in it (the probe's walk goes on
            // whether a rate's request went out or not).
            FUZZ_CHECK(!q.sent() || q.query == Query::pendingBaudrate || sentAt.value(q.ticket, -1) == q.sentAtMs
                           || line.written.contains(q.request), q.request);
            FUZZ_CHECK((q.query == Query::pendingBaudrate && q.sent()) <= session.probing(), q.request);
        }
        if (session.probing())
            FUZZ_CHECK(line.rate == BaudProbe::rateForStep(session.probe().step()), QByteArray::number(line.rate));
        else if (!probing && !probeSpoke)
            FUZZ_CHECK(line.rate == rate, QByteArray::number(line.rate));
        // A query that could go out but waits for a quiet line has a deadline to be looked at again.
        FUZZ_CHECK(!timed || session.pending().releasable().isEmpty() || session.nextDeadline() >= 0, QByteArray());
        FUZZ_CHECK(!timed || session.nextDeadline() < 0 || session.nextDeadline() > now,
                   QByteArray::number(session.nextDeadline()) + " at " + QByteArray::number(now));
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    InputReader in(data, size);
    Harness h(in.byte());
    SensorSession &session = h.session;
    qint64 &now = h.now;
    ReplyFramer framer;
    Stream stream;

    // Bytes arriving at the session, and at the framer kept beside it.
    auto arrive = [&](quint8 header) {
        QByteArray chunk = in.take(header & 0x3F);
        const quint16 crc = referenceCrc16(chunk, qMax(0, int(chunk.size()) - 2));
        if ((header & 0x40) && chunk.size() >= 3)
            chunk.replace(chunk.size() - 2, 2, QByteArray(1, char(crc & 0xFF)) + char(crc >> 8));
        if (!chunk.isEmpty())
            stream.chunks.append({int(stream.bytes.size()), now});
        stream.bytes += chunk;
        framer.append(chunk, now);
        const QList<FramerEvent> events = framer.take(now);
        checkEvents(events, stream, framer.buffered(), now);
        for (const FramerEvent &e : events)
            if (e.type == FramerEvent::Frame)
                FUZZ_CHECK(e.kind == refKind(e.bytes), e.bytes);
        return chunk;
    };

    while (in.remaining() > 0) {
        const quint8 c = in.byte();
        const int op = (c >> 4) & 0x07;
        if (c < 0x80) {
            now += qint64(8) * in.byte();
            h.step(true, [&] { session.poll(arrive(c), now); });
        } else if (op <= 4) {
            const Query query = Query(c & 0x0F);
            const quint8 shape = in.byte();
            const qint64 delay = op == 4 ? qint64(8) * in.byte() : -1;
            h.line.refuseOnce = shape & 0x20;
            h.step(false, [&] {
                if (query == Query::pendingBaudrate)
                    session.startProbe(now);
                else if (delay >= 0)
                    session.queryLater(query, request(query, shape), now, delay, shape & 7);
                else
                    session.query(query, request(query, shape), now, shape & 7);
            });
            h.line.refuseOnce = false;
        } else if (op == 5) {
            const qint64 next = session.nextDeadline();
            now = (c & 1) && next > now ? next : now + qint64(8) * ((c & 1) ? 0 : in.byte());
            h.step(true, [&] { session.advance(now); });
        } else if (op == 6) {
            const quint8 header = in.byte();
            h.step(false, [&] { session.received(arrive(header), now); });
        } else if (c & 2) { // the line closes and opens again
            framer.clear();
            stream.emitted = int(stream.bytes.size());
            h.step(false, [&] {
                h.line.open = false;
                session.lineClosed();
                h.line.open = true;
            });
        } else if (c & 1) {
            h.line.refuse = !h.line.refuse;
        } else {
            h.step(false, [&] { session.setLocalEcho(!session.localEcho(), now); });
        }
    }
    // Polled on until nothing waits: each query, one after the other, within its attempts' deadlines
    // and a quiet poll before each, and the probe within its walk. Then nothing may be outstanding
    // and the probe has ended.
    const qint64 polls = (session.outstanding() + 1) * ((h.retries + 1) * (h.timeoutMs / PollMs + 3) + 4) + 128;
    for (qint64 poll = 0; poll < polls && (session.outstanding() > 0 || session.probing() || session.nextDeadline() >= 0); ++poll) {
        now += PollMs;
        h.step(true, [&] { session.poll(QByteArray(), now); });
    }
    FUZZ_CHECK(session.outstanding() == 0 && !session.probing() && session.nextDeadline() < 0,
               QByteArray::number(session.outstanding()) + " " + QByteArray::number(session.nextDeadline()) + " at " + QByteArray::number(now));
    // A second after the last byte, the framer beside it holds nothing either.
    now += TimeoutMs;
    checkEvents(framer.take(now), stream, framer.buffered(), now);
    FUZZ_CHECK(framer.buffered() == 0 && stream.emitted == stream.bytes.size(), stream.bytes);
    return 0;
}
