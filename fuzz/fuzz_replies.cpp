// Replies as the window sees them: arbitrary bytes arrive over poll ticks at times the input
// chooses and go through ReplyFramer; every frame goes to the value decoders and to the
// PendingReplies queue as in MainWindow::timerEvent, while presses add queries. Each event is
// checked against the stream kept here, with lengths and check values computed here again; each
// queue operation against the queue as it was before it.
//
// Input: the start of the probe's tick counter (sign-extended, so that its wrap is reachable), then
// records, each led by a control byte c.
//   c < 0x80, a poll tick: the clock moves on by 8 ms times the next byte (up to 2 s), then c & 0x3F
//     bytes arrive (bit 6: their last two bytes become their CRC, so whole Modbus replies are reachable).
//   c >= 0x80, by bits 4-6: 0-4 a press of query c & 0x0F with a request shaped by the next byte r
//     (bits 6-7: 3 native with command 0xA0 + (r & 0x1F), 2 a register write, else a read of r & 0x1F
//     registers; the probe reads one; bit 5: the write fails); 5 take of the reply key in the next
//     byte (+0x100 with bit 0); 6 takeOldestRead; 7 with bit 1 the port closes, else with bit 0
//     removeProbe, else restartProbe while the probe runs.
// At the end the clock moves on by a second, and a last tick must leave nothing buffered.

#include "fuzzcheck.h"

#include "baudprobe.h"
#include "framer.h"
#include "nativedecode.h"
#include "pendingreplies.h"
#include "values.h"

#include <QRegularExpression>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

using Q = PendingReplies::Outstanding;
constexpr qint64 TimeoutMs = 1000;
constexpr auto Probe = PendingReplies::Query::pendingBaudrate;

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
            FUZZ_CHECK(length == n && !refGood(b) && e.note.startsWith("Reply refused: ") && e.note.size() < 80, b);
            FUZZ_CHECK(!s.mayHideStart(pos, n, now), s.bytes.mid(pos));
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

QByteArray request(quint8 shape, bool probe)
{
    const int form = probe ? 0 : shape >> 6;
    QByteArray r = QByteArray::fromHex(form == 3 ? "aa" : form == 2 ? "000600a20000" : "000300000000");
    if (form == 3)
        return r + char(0xA0 + (shape & 0x1F)) + QByteArray(16, '\0') + char(0xAB);
    r[5] = char(probe ? 1 : form == 2 ? 0 : shape & 0x1F);
    const quint16 crc = referenceCrc16(r, r.size());
    return r + char(crc & 0xFF) + char(crc >> 8);
}

// Ids and send times, in queue order, to compare two states of the queue.
QList<qint64> trace(const QList<Q> &queries)
{
    QList<qint64> t;
    for (const Q &q : queries)
        t << q.unitIndex << q.sentAtMs;
    return t;
}

// The queue and what the harness knows of each query, whose unitIndex is its id.
struct Queue {
    enum Op { Release, Expire, RestartProbe, RemoveProbe, Take, TakeOldestRead };
    PendingReplies p;
    std::vector<int> keyOf; // the reply key of each id, from the request built here

    int key(const Q &q) const { return keyOf.at(size_t(q.unitIndex)); }
    template <typename Pick> static QList<int> where(const QList<Q> &queries, Pick pick)
    {
        QList<int> picked;
        for (int i = 0; i < queries.size(); ++i)
            if (pick(i, queries.at(i)))
                picked << i;
        return picked;
    }
    // One operation, checked against the queue before it: a reply goes to the oldest sent entry that
    // expects it and to that one only, an exception to a read ends the oldest sent read; waiting
    // entries go out in order unless an earlier entry expects the same reply; sent entries expire a
    // second after they went out, the probe's excepted. The rest of the queue keeps its order and times.
    std::optional<Q> run(Op op, qint64 now, int k = 0)
    {
        const QList<Q> before = p.queries;
        QList<Q> given;
        if (op == Release || op == Expire)
            given = op == Release ? p.releasable(now) : p.expire(now);
        else if (op == RestartProbe || op == RemoveProbe)
            op == RestartProbe ? p.restartProbe(now) : p.removeProbe();
        else if (const std::optional<Q> q = op == Take ? p.take(k) : p.takeOldestRead())
            given << *q;
        QList<int> picked = where(before, [&](int i, const Q &q) {
            if (op == Release)
                return !q.sent() && where(before.mid(0, i), [&](int, const Q &e) { return key(e) == key(q); }).isEmpty();
            if (op == Expire)
                return q.sent() && q.query != Probe && now - q.sentAtMs >= TimeoutMs;
            if (op == Take || op == TakeOldestRead)
                return q.sent() && (op == Take ? key(q) == k
                                               : key(q) >= 0 && key(q) < PendingReplies::NativeKey && q.query != Probe);
            return q.query == Probe;
        });
        picked = op >= Take ? picked.mid(0, 1) : picked;
        QList<Q> rest, chosen;
        for (int i = 0; i < before.size(); ++i) {
            Q q = before.at(i);
            q.sentAtMs = picked.contains(i) && (op == Release || op == RestartProbe) ? now : q.sentAtMs;
            if (!picked.contains(i) || op == Release || op == RestartProbe)
                rest << q;
            if (picked.contains(i) && op != RestartProbe && op != RemoveProbe)
                chosen << q;
        }
        FUZZ_CHECK(trace(p.queries) == trace(rest) && trace(given) == trace(chosen), QByteArray(1, char(op)));
        for (const Q &q : given)
            if (op == Release && q.query == Probe)
                BaudProbe::start(p);
        return given.isEmpty() ? std::nullopt : std::optional<Q>(given.first());
    }
    // Every entry expects the key of its request, and no two sent entries expect the same reply.
    void checkState(qint64 now) const
    {
        for (int i = 0; i < p.queries.size(); ++i) {
            const Q &q = p.queries.at(i);
            FUZZ_CHECK(q.expects == key(q) && q.sentAtMs <= now, QByteArray::number(i));
            for (int j = 0; j < i; ++j)
                FUZZ_CHECK(!q.sent() || !p.queries.at(j).sent() || p.queries.at(j).expects != q.expects, QByteArray::number(i));
        }
    }
    // A frame handed on as MainWindow::handleFrame does.
    void handle(const QByteArray &f, FrameKind kind)
    {
        // The echoes of a protocol or factory change, as the device sends them from address 0.
        static const char *const known[][2] = {{"000600b10003983d", "Device change to MODBUS!"},
                                               {"000600b10000d83c", "Device change to Kelvra!"},
                                               {"000600a5000159f8", "Device change to FactoryConfig!"}};
        const char *message = kind == FrameKind::WriteEcho ? Values::writeEchoMessage(f) : nullptr;
        for (const auto &k : known)
            FUZZ_CHECK(f != QByteArray::fromHex(k[0]) || (message && std::strcmp(message, k[1]) == 0), f);
        FUZZ_CHECK(!message || (at(f, 1) == 0x06 && (at(f, 3) == 0xB1 || at(f, 3) == 0xA5)), f);
        if (kind == FrameKind::Native) {
            FUZZ_CHECK(deviceIdText(f) == QString::asprintf("%02x%02x-%02x%02x", at(f, 8), at(f, 9), at(f, 10), at(f, 11))
                           && firmwareIdText(f) == QString::asprintf("%d-%d-%d", qint8(at(f, 9)), qint8(at(f, 10)),
                                                                     qint8(at(f, 11))), f);
            run(Take, 0, PendingReplies::NativeKey + at(f, 1));
        } else if (kind == FrameKind::Exception) {
            const char *meaning = Values::exceptionMeaning(at(f, 2));
            FUZZ_CHECK(meaning && (std::strcmp(meaning, "unknown") != 0) == (at(f, 2) >= 1 && at(f, 2) <= 4), f);
            if (function(f) == 0x83)
                run(TakeOldestRead, 0);
        }
        if (kind != FrameKind::ReadReply)
            return;
        const bool answer = BaudProbe::isAnswer(f);
        FUZZ_CHECK(answer == (at(f, 2) == 2 && at(f, 4) == at(f, 0)), f);
        const Q *oldest = p.oldestFor(at(f, 2));
        checkValues(f, oldest ? oldest->unitIndex : 0);
        if (oldest && oldest->query == Probe && !answer)
            return; // not the probe's answer, and no later query's either
        const std::optional<Q> q = run(Take, 0, at(f, 2));
        FUZZ_CHECK(q.has_value() == (oldest != nullptr), f);
        if (q && q->query == Probe) {
            const quint8 step = BaudProbe::acceptAnswer(p);
            FUZZ_CHECK(p.pendingBaudrate == 0 && step >= 1 && step <= 4 && BaudProbe::answerMessage(step), f);
        }
    }
    // A press, as MainWindow::sendQuery: it goes out now unless an entry expects the same reply.
    void press(PendingReplies::Query query, quint8 shape, qint64 now)
    {
        const QByteArray req = request(shape, query == Probe);
        if (query == Probe) { // pressed again, the probe starts over
            run(RemoveProbe, now);
            p.pendingBaudrate = 0;
        }
        keyOf.push_back(at(req, 0) == 0xAA ? PendingReplies::NativeKey + at(req, 1) : at(req, 1) == 0x03 ? 2 * at(req, 5) : -1);
        const bool free = where(p.queries, [&](int, const Q &q) { return key(q) == keyOf.back(); }).isEmpty();
        // A request already waiting to go out is not queued a second time.
        const bool waiting = !where(p.queries, [&](int, const Q &q) {
            return !q.sent() && q.query == query && q.request == req;
        }).isEmpty();
        const int before = p.queries.size();
        FUZZ_CHECK(p.add(query, req, int(keyOf.size()) - 1) == free && p.queries.size() == before + (waiting ? 0 : 1)
                       && (waiting || (p.queries.last().request == req && !p.queries.last().sent())), req);
        if (free && (shape & 0x20)) {
            p.forgetLast();
        } else if (free) {
            p.markLastSent(now);
            if (query == Probe)
                BaudProbe::start(p);
        }
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    InputReader in(data, size);
    ReplyFramer framer;
    Stream stream;
    Queue queue;
    queue.p.baudScanTicks = quint32(qint32(qint8(in.byte())));
    qint64 now = 0;

    auto tick = [&](const QByteArray &chunk) {
        if (!chunk.isEmpty())
            stream.chunks.append({int(stream.bytes.size()), now});
        stream.bytes += chunk;
        framer.append(chunk, now);
        const QList<FramerEvent> events = framer.take(now);
        checkEvents(events, stream, framer.buffered(), now);
        for (const FramerEvent &e : events)
            if (e.type == FramerEvent::Frame)
                queue.handle(e.bytes, e.kind);
        queue.run(Queue::Expire, now);
        const BaudProbe::ScanStep step = BaudProbe::scanStep(queue.p);
        if (step.changeRate)
            queue.run(step.ended ? Queue::RemoveProbe : Queue::RestartProbe, now);
        queue.run(Queue::Release, now);
    };

    while (in.remaining() > 0) {
        const quint8 c = in.byte();
        const int op = (c >> 4) & 0x07;
        if (c < 0x80) {
            now += qint64(8) * in.byte();
            QByteArray chunk = in.take(c & 0x3F);
            const quint16 crc = referenceCrc16(chunk, qMax(0, int(chunk.size()) - 2));
            if ((c & 0x40) && chunk.size() >= 3)
                chunk.replace(chunk.size() - 2, 2, QByteArray(1, char(crc & 0xFF)) + char(crc >> 8));
            tick(chunk);
        } else if (op <= 4) {
            queue.press(PendingReplies::Query(c & 0x0F), in.byte(), now);
        } else if (op == 5) {
            queue.run(Queue::Take, now, in.byte() + ((c & 1) ? PendingReplies::NativeKey : 0));
        } else if (op == 6) {
            queue.run(Queue::TakeOldestRead, now);
        } else if (c & 2) { // the port closes
            queue.p.clearQueries();
            queue.p.pendingBaudrate = 0;
            framer.clear();
            stream.emitted = int(stream.bytes.size());
        } else if ((c & 1) || queue.p.pendingBaudrate != 0) {
            queue.run(c & 1 ? Queue::RemoveProbe : Queue::RestartProbe, now);
        }
        queue.checkState(now);
    }
    // A second after the last byte, nothing may wait any longer.
    now += TimeoutMs;
    tick(QByteArray());
    FUZZ_CHECK(framer.buffered() == 0 && stream.emitted == stream.bytes.size(), stream.bytes);
    return 0;
}
