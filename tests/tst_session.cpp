// The sensor session without a port or a clock of its own: a recording line stands in for the port,
// each row is a script of presses, arriving bytes and times, and what the session wrote and
// reported is compared as a log. Steps and log lines starting with "b " belong to a second session.
#include "sensorsession.h"
#include "sessionline.h"
#include "testbytes.h"

#include <QtTest>

namespace {

using Query = SensorSession::Query;
const QByteArray T = withCrc("01 03 02 17 2D");

// Requests the scripts press and frames the device sends, named so that the logs stay readable.
const QList<QPair<QString, QByteArray>> Frames = {
    {"sensor", withCrc("00 03 00 B4 00 04")}, {"temp", withCrc("00 03 00 A8 00 01")}, {"self", withCrc("00 03 00 A7 00 01")},
    {"addr", withCrc("00 03 00 00 00 01")}, // the probe's request too
    {"info", nativeFrame(0xA6, 2, {})}, {"wake", withCrc("00 06 00 A2 00 01")}, // a write, and its echo
    {"raw", hex("01 2B 0E")},                                                   // of no known kind: takes any frame
    {"aa", withCrc("AA 03 00 A8 00 01")}, {"taa", withCrc("AA 03 02 17 2D")},  // a read to address AA, its reply
    {"r125", withCrc("00 03 00 00 00 7D")}, {"big", withCrc(hex("01 03 FA") + QByteArray(250, 0))}, // as much as a reply holds
    {"m", hex("01 03 08 00 7B 01 C8 03 15 00 00 AF 51")}, {"t", T}, {"bad", T.left(6) + char(T.at(6) ^ 1)},
    {"t0", withCrc("00 03 02 17 2D")}, // from address 0: starts as a read request does
    {"a5", withCrc("05 03 02 00 05")}, // the address register of device 5: the probe's answer
    {"a1", withCrc("05 03 02 00 01")}, // a two-byte reply that is not
    {"x", withCrc("01 83 02")}, {"xw", withCrc("01 86 02")}, {"dev", nativeFrame(0xA6, 8, hex("12 34 AB CD"))},
    {"noise", QByteArray(5000, '\x55')}};
const QHash<QString, Query> Queries = {{"sensor", Query::pendingSensorData}, {"temp", Query::pendingTempHumi},
                                       {"self", Query::pendingSelfCheck}, {"addr", Query::pendingModbusAddr},
                                       {"info", Query::pendingDeviceInfo}, {"wake", Query::request}, {"raw", Query::request},
                                       {"aa", Query::pendingTempHumi}, {"r125", Query::request}};

QString nameOf(const QByteArray &bytes)
{
    for (const auto &frame : Frames)
        if (frame.second == bytes)
            return frame.first;
    return bytes.toHex(' ');
}

// "m" whole, "m<5" its first five bytes, "m>5" the rest; several are joined.
QByteArray bytesOf(const QStringList &parts)
{
    QByteArray bytes;
    for (const QString &part : parts) {
        const int cut = part.indexOf(QRegularExpression("[<>]")), at = part.mid(cut + 1).toInt();
        const QByteArray whole = std::find_if(Frames.cbegin(), Frames.cend(), [&](const auto &f) { return f.first == part.left(cut); })->second;
        bytes += cut < 0 ? whole : part.at(cut) == '<' ? whole.left(at) : whole.mid(at);
    }
    return bytes;
}

struct Line : SessionLine {
    Line(QStringList *log, const char *who) : log(log), who(who) {}
    QStringList *log;
    QString who;
    bool open = true, refuse = false;
    qint32 rate = 9600;
    bool isOpen() const override { return open; }
    bool write(const QByteArray &, QString *error) override { return *error = "refused", !refuse; }
    bool setBaudRate(qint32 r) override { return *log << who + "rate " + QString::number(rate = r), true; }
    qint32 baudRate() const override { return rate; }
};

struct Bench {
    QStringList log;
    Line lines[2] = {{&log, ""}, {&log, "b "}};
    SensorSession sessions[2] = {SensorSession(&lines[0]), SensorSession(&lines[1])};

    Bench()
    {
        for (int i = 0; i < 2; ++i) {
            SensorSession *s = &sessions[i];
            auto put = [this, who = lines[i].who](const QString &line) { log << who + line; };
            auto reply = [put](const char *what) {
                return [put, what](const SensorSession::Reply &r) {
                    put(QStringLiteral("#%1 %2").arg(r.ticket).arg(what ? what : nameOf(r.frame))
                        + (r.attempts == 1 ? QString() : QStringLiteral(" x%1").arg(r.attempts))
                        + (r.neverQuiet ? QStringLiteral(" never quiet") : QString()));
                };
            };
            auto frame = [put](const char *what) { return [put, what](const QByteArray &f) { put(what + nameOf(f)); }; };
            QObject::connect(s, &SensorSession::written, frame("> "));
            QObject::connect(s, &SensorSession::writeEchoed, frame("echo "));
            QObject::connect(s, &SensorSession::ignored, frame("ignored "));
            QObject::connect(s, &SensorSession::answered, reply(nullptr));
            QObject::connect(s, &SensorSession::noAnswer, reply("none"));
            QObject::connect(s, &SensorSession::measured, [put](int unit, const Values::Measurement &m) {
                put(QStringLiteral("unit %1: %2 %3 %4").arg(unit).arg(m.pm25).arg(m.pm10).arg(m.pm100));
            });
            QObject::connect(s, &SensorSession::refused, [put](const SensorSession::Refusal &r) {
                put(QStringLiteral("refused %1 %2").arg(r.toWrite ? "write" : "read").arg(r.code)
                    + (r.hasQuery ? QStringLiteral(" #%1").arg(r.query.ticket) : QString()));
            });
            QObject::connect(s, &SensorSession::nativeReply, [put](quint8 id) { put("native " + QString::number(id, 16)); });
            QObject::connect(s, &SensorSession::probeStepped, [put](quint8 step, qint32 rate) {
                put(QStringLiteral("step %1 %2").arg(step).arg(rate));
            });
            QObject::connect(s, &SensorSession::probeAnswered, [put](qint32 rate, quint8 step, const QByteArray &f) {
                put(QStringLiteral("found %1 at %2 by %3").arg(rate).arg(step).arg(nameOf(f)));
            });
            QObject::connect(s, &SensorSession::probeGaveUp, [put](qint32 rate) { put("gave up " + QString::number(rate)); });
            QObject::connect(s, &SensorSession::probeStopped, [put] { put("probe stopped"); });
            QObject::connect(s, &SensorSession::probeNotStarted, [put] { put("probe not started"); });
            QObject::connect(s, &SensorSession::lateDropped, [put](const SensorSession::Late &, const QByteArray &f) {
                put("late " + nameOf(f));
            });
            // The kind of note, with the count of bytes where its line starts with one.
            QObject::connect(s, &SensorSession::note, [put](SensorSession::Note kind, const QString &text) {
                static const char *const kinds[] = {"not sent", "dropped", "incomplete", "bad check"};
                put(kinds[int(kind)] + (text.at(0).isDigit() ? " " + text.section(' ', 0, 0) : QString()));
            });
            QObject::connect(s, &SensorSession::wakeUpAt, [put](qint64 at) { put("wake " + QString::number(at)); });
        }
    }

    // "verb time arguments".
    void run(QString step)
    {
        const int i = step.startsWith("b ") ? 1 : 0;
        SensorSession &s = sessions[i];
        const QStringList w = step.mid(2 * i).split(' ');
        const QString verb = w.at(0), who = lines[i].who;
        const qint64 at = w.value(1).toLongLong();
        if (verb == "query" && !s.query(Queries.value(w.at(2)), bytesOf({w.at(2)}), at, w.value(3).toInt()))
            log << who + "no ticket";
        else if (verb == "cancel" && !s.cancel(w.at(2).toULongLong(), at))
            log << who + "not cancelled";
        else if (verb == "later")
            s.queryLater(Queries.value(w.at(2)), bytesOf({w.at(2)}), at, w.at(3).toLongLong(), w.value(4).toInt());
        else if (verb == "send" && !s.send(bytesOf({w.at(2)}), at))
            log << who + "not written";
        else if (verb == "probe")
            s.startProbe(at);
        else if (verb == "poll")
            s.poll(bytesOf(w.mid(2)), at);
        else if (verb == "advance")
            s.advance(at);
        else if (verb == "ticks") // polls from the time given: how many, how far apart
            for (int n = 0; n < w.at(2).toInt(); ++n)
                s.poll({}, at + n * w.at(3).toLongLong());
        else if (verb == "next")
            log << who + "next " + QString::number(s.nextDeadline());
        else if (verb == "echo")
            s.setLocalEcho(w.at(2) == "on", at);
        else if (verb == "retries")
            s.setRetries(int(at));
        else if (verb == "hold")
            s.setProbeHold(quint32(at), w.at(2).toLongLong(), w.at(3).toInt());
        else if (verb == "refuse" || verb == "accept")
            lines[i].refuse = verb == "refuse";
        else if (verb == "open")
            s.lineOpened(at);
        else if (verb == "close")
            lines[i].open = false, s.lineClosed();
    }
};

const QString Measured = "unit 0: 12.3 45.6 789";

} // namespace

class TestSession : public QObject
{
    Q_OBJECT

private slots:
    void script_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QStringList>("log");
        auto row = [](const char *name, const QStringList &steps, const QStringList &log) { QTest::newRow(name) << steps << log; };
        for (int cut = 1; cut < 13; ++cut) {
            QTest::addRow("measurement cut at %d", cut) << QStringList{"query 0 sensor 2", QString("poll 300 m<%1").arg(cut),
                                                                      QString("poll 600 m>%1").arg(cut)}
                                                        << QStringList{"> sensor", "#1 m", "unit 2: 12.3 45.6 789"};
        }

        // A reply goes to the oldest query that expects its size; one of the same size waits its turn.
        row("equal sizes take turns",
            {"query 0 temp", "query 10 addr", "query 20 addr", "query 30 sensor", "advance 100", "poll 300 m t", "poll 600 a5"},
            {"> temp", "no ticket", "> sensor", "#3 m", Measured, "#1 t", "> addr", "#2 a5"});
        // A query taken back: on the line, its reply is late and the one behind it waits for a quiet
        // line; still waiting, it never goes out.
        row("a query taken back on the line", {"query 0 sensor", "query 10 sensor 2", "cancel 20 1", "poll 300 m", "poll 600", "poll 900 m"},
            {"> sensor", "late m", "> sensor", "#2 m", "unit 2: 12.3 45.6 789"});
        row("a waiting query taken back", {"query 0 sensor", "query 10 sensor 2", "cancel 20 2", "poll 300 m", "poll 600", "next", "cancel 700 2"},
            {"> sensor", "#1 m", Measured, "next -1", "not cancelled"});
        row("a reply before its deadline", {"query 0 temp", "next", "advance 999", "poll 999 t", "advance 5000"}, {"> temp", "next 1000", "#1 t"});
        row("a reply in the tick of its deadline", {"query 0 temp", "poll 1000 t"}, {"> temp", "#1 t"});
        row("a reply after its deadline", {"query 0 temp", "advance 999", "advance 1000", "poll 1001 t", "next"},
            {"> temp", "#1 none", "late t", "next -1"});
        row("unasked replies", {"poll 300 t wake dev", "query 400 info", "poll 700 m dev"},
            {"ignored t", "ignored wake", "native a6", "> info", "ignored m", "native a6", "#1 dev"});
        row("an exception ends the oldest read", {"query 0 temp", "query 0 sensor", "query 0 wake", "poll 300 x xw m x xw wake"},
            {"> temp", "> sensor", "> wake", "refused read 2 #1", "refused write 2 #3", "#2 m", Measured, "refused read 2",
             "refused write 2", "ignored wake"});
        row("a request of no known kind takes any frame", {"query 0 raw", "poll 300 x", "send 0 wake", "poll 600 wake"},
            {"> raw", "#1 x", "> wake", "echo wake"});
        // A write's echo confirms it within one answer time-out; after that it is unasked.
        row("a write's echo awaited for a time-out", {"send 0 wake", "next", "advance 1000", "next", "poll 1100 wake"},
            {"> wake", "next 1000", "next -1", "ignored wake"});
        row("a read to address AA", {"query 0 aa", "poll 300 t taa"}, {"> aa", "ignored t", "#1 taa"});
        row("a stray native head before a reply", {"query 0 temp", "poll 300 dev<1 t"}, {"> temp", "dropped", "#1 t"});
        row("a read of 125 registers", {"query 0 r125", "poll 300 big"}, {"> r125", "#1 big"});
        row("queries written later", {"later 0 temp 0", "later 0 sensor 500", "next", "advance 0", "next", "advance 499", "advance 500", "next"},
            {"wake 0", "wake 500", "next 0", "> temp", "next 500", "> sensor", "next 1000"});
        row("a measurement written later, for its unit", {"later 0 sensor 0 3", "advance 0", "poll 300 m"},
            {"wake 0", "> sensor", "#1 m", "unit 3: 12.3 45.6 789"});
        row("the earliest deadline",
            {"query 0 temp", "poll 300 m<3", "next", "advance 1000", "poll 1100 m>3 m<3", "next", "advance 2099", "advance 2100"},
            {"> temp", "next 1000", "#1 none", "ignored m", "next 2100", "incomplete"});
        row("as much as one read takes", {"query 0 temp", "poll 300 noise<4089 t"}, {"> temp", "dropped", "#1 t"});
        row("more than one read takes", {"query 0 temp", "poll 300 t<3", "poll 600 noise t"}, {"> temp", "dropped 914", "dropped", "#1 t"});

        // A request goes out again once the line has been quiet (300 ms) after its time-out; a
        // reply that comes before is late.
        row("retries",
            {"retries 2", "query 0 temp", "advance 1000", "advance 1299", "advance 1300", "advance 2300", "advance 2600", "advance 3600",
             "query 3600 self", "advance 3899", "advance 3900"},
            {"> temp", "> temp", "> temp", "#1 none x3", "> self"});
        row("a retry answered", {"retries 1", "query 0 temp", "advance 1000", "poll 1200 t", "advance 1499", "advance 1500", "poll 1800 t"},
            {"> temp", "late t", "> temp", "#1 t x2"});
        row("a damaged reply asked for again once the line is quiet",
            {"retries 1", "query 0 temp", "poll 300 bad", "poll 600", "poll 900 bad", "advance 1600"},
            {"> temp", "bad check", "> temp", "bad check", "#1 none x2"});
        row("a damaged reply behind the probe", {"retries 1", "probe 0", "query 10 sensor", "poll 300", "poll 400 bad", "poll 700"},
            {"> sensor", "rate 19200", "> addr", "bad check", "> sensor"});
        row("a retry not written", {"retries 1", "query 0 temp", "refuse", "advance 1000", "advance 1300"}, {"> temp", "not sent", "#1 none"});

        // The probe writes each rate's request once the line has been quiet for a poll, holds it
        // three polls and ends back at 9600; its own walk, not the answer time-out, decides how
        // long it waits. A reply that comes while it waits for quiet is late.
        const QStringList walk = {"rate 19200", "> addr", "step 2 9600", "rate 9600", "> addr", "step 3 4800", "rate 4800", "> addr"};
        row("the probe's walk", {"hold 3 0 1", "probe 0", "next", "ticks 300 15 300", "next", "ticks 4800 1 300", "next"},
            QStringList{"next 300"} + walk
                + QStringList{"step 4 2400", "rate 2400", "> addr", "next -1", "step 5 9600", "rate 9600", "gave up 9600", "next -1"});
        row("the probe answered at 4800", {"probe 0", "query 100 sensor", "ticks 300 9 300", "poll 2800 x a1 a5", "ticks 3000 6 300"},
            QStringList{"> sensor"} + walk.mid(0, 2) + QStringList{"#2 none"} + walk.mid(2)
                + QStringList{"refused read 2", "ignored a1", "found 4800 at 3 by a5"});
        row("the probe waits behind a read of its size", {"query 0 temp", "probe 10", "poll 300 t", "poll 600", "poll 900 a5", "query 1000 temp"},
            {"> temp", "#1 t", "rate 19200", "> addr", "found 19200 at 1 by a5", "> temp"});
        row("the probe's answer before its request is late", {"query 0 sensor", "probe 0", "poll 300 a5 m", "poll 600", "poll 700 a5"},
            {"> sensor", "late a5", "#1 m", Measured, "rate 19200", "> addr", "found 19200 at 1 by a5"});
        row("the probe pressed again", {"probe 0", "ticks 300 3 300", "probe 1000", "ticks 1300 2 300"}, walk.mid(0, 2) + walk.mid(0, 2));
        row("the probe held by time",
            {"hold 0 500 2", "probe 100", "next", "advance 400", "advance 899", "advance 900", "advance 1200", "advance 1700", "advance 2000"},
            {"next 400", "rate 19200", "> addr", "> addr", "step 2 9600", "rate 9600", "> addr"});
        row("the line closed",
            {"query 0 temp", "probe 0", "poll 300 t", "poll 600", "close", "ticks 600 6 300", "query 3000 temp", "send 3000 wake"},
            {"> temp", "#1 t", "rate 19200", "> addr", "probe stopped", "not sent", "no ticket", "not sent", "not written"});

        // Writes that fail: the query never went out, so it neither waits nor blocks another.
        row("a released query not written",
            {"query 0 temp", "query 10 addr", "refuse", "advance 1000", "advance 1300", "accept", "query 1400 self", "poll 1700 t"},
            {"> temp", "#1 none", "not sent", "#2 none x0", "> self", "#3 t"});
        row("queries waiting behind one not written",
            {"query 0 temp", "query 10 addr", "query 20 self", "refuse", "advance 1000", "advance 1300", "next", "accept", "advance 1600"},
            {"> temp", "#1 none", "not sent", "#2 none x0", "not sent", "#3 none x0", "next -1"});
        row("a query not written", {"refuse", "query 0 temp", "accept", "query 10 temp", "poll 300 t"}, {"not sent", "no ticket", "> temp", "#2 t"});
        row("the probe not written", {"refuse", "probe 0", "ticks 300 6 300", "accept", "query 2000 addr"},
            {"rate 19200", "not sent", "rate 9600", "probe not started", "> addr"});
        row("the probe released and not written", {"query 0 temp", "probe 10", "query 20 addr", "refuse", "poll 300 t", "next", "ticks 600 6 300"},
            {"> temp", "#1 t", "next 600", "rate 19200", "not sent", "rate 9600", "probe not started", "not sent", "#3 none x0"});

        // After Open, bytes from before are late and the first query waits for a quiet poll; a line
        // that never goes quiet ends the waiting query after the answer time-out.
        row("after open", {"open 0", "query 0 temp", "poll 300 t", "poll 600", "poll 900 t"}, {"late t", "> temp", "#1 t"});
        row("a babbling line", {"query 0 temp", "advance 1000", "query 1000 addr", "poll 1300 noise<9", "poll 1600 noise<9",
                                "poll 1900 noise<9", "poll 2000 noise<9", "next"},
            {"> temp", "#1 none", "dropped", "dropped", "dropped", "dropped", "#2 none x0 never quiet", "next 3000"}); // a last byte waits as a frame start
        // A query pressed later on a noisy line has its own second to wait for quiet.
        QStringList noisy = {"query 0 temp", "advance 1000"}, heard = {"> temp", "#1 none"};
        for (int at = 1300; at <= 2900; at += 200) {
            noisy << QString("poll %1 noise<9").arg(at);
            heard << "dropped";
            if (at == 1700)
                noisy << "query 1800 addr";
        }
        row("a babbling line, pressed later", noisy, heard << "#2 none x0 never quiet");

        // With local echo the copy of each request is dropped; switching hands the bytes held on.
        row("local echo", {"echo 0 on", "query 0 temp", "poll 300 temp t"}, {"> temp", "#1 t"});
        row("local echo switched off", {"echo 0 on", "query 0 temp", "poll 300 t0<2", "echo 400 off", "poll 600 t0>2"}, {"> temp", "#1 t0"});
        row("local echo switched on again", {"echo 0 on", "query 0 temp", "poll 300 t0<2", "echo 400 on", "poll 600 t0>2"}, {"> temp", "#1 t0"});

        row("two sessions", {"query 0 temp", "b probe 0", "b query 0 sensor", "poll 300 t m", "b ticks 300 3 300", "b poll 1200 m"},
            {"> temp", "b > sensor", "#1 t", "ignored m", "b rate 19200", "b > addr", "b #2 m", "b " + Measured, "b step 2 9600",
             "b rate 9600"});
    }

    // A reply later than its deadline never answers the query of its size pressed behind it, at
    // any phase of the poll, just under or over the deadline: it answers its own query or is late.
    void lateReplyAtAnyPhase_data()
    {
        QTest::addColumn<int>("phase");
        QTest::addColumn<int>("delay");
        for (int phase : {0, 100, 200, 299})
            for (int delay : {900, 990, 1010, 1200, 1290})
                QTest::addRow("pressed %d ms into a poll, answered %d ms later", phase, delay) << phase << delay;
    }

    void lateReplyAtAnyPhase()
    {
        QFETCH(int, phase);
        QFETCH(int, delay);
        Bench bench;
        bench.run(QStringLiteral("query %1 temp").arg(phase));
        bench.run(QStringLiteral("query %1 addr").arg(phase));
        for (int tick = 300; tick <= 3000; tick += 300)
            bench.run(QStringLiteral("poll %1%2").arg(tick).arg(tick >= phase + delay && tick - 300 < phase + delay ? " t" : ""));
        QVERIFY2(!bench.log.contains("#2 t"), qPrintable(bench.log.join(" | ")));
        QVERIFY2(bench.log.contains("#1 t") != bench.log.contains("late t"), qPrintable(bench.log.join(" | ")));
        QCOMPARE(bench.log.count("> addr"), 1);
    }

    void script()
    {
        QFETCH(QStringList, steps);
        QFETCH(QStringList, log);
        Bench bench;
        for (const QString &step : steps)
            bench.run(step);
        QCOMPARE(bench.log, log);
    }
};

QTEST_GUILESS_MAIN(TestSession)
#include "tst_session.moc"
