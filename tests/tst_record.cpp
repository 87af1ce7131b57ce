// The session record behind the log pane: what a short session on a pseudo-terminal leaves in
// "Save log…" and "Save measurements…", and the file --record appends to, which must hold only
// whole lines when the process is killed in the middle of a session. Saving never puts a cut-off
// file in place of the old one, nothing is written over a pipe or a device, and a full disk or a
// flood of noise is reported or summed up instead.
#include "sessionrecord.h"
#include "testbytes.h"
#include "windowfixture.h"
#include "windowprobe.h"

#include <QtTest>
#include <QtWidgets>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

const QByteArray SensorRequestAvg = hex("000300b4000405fe");
const QByteArray SensorRequest2 = withCrc("000302b40004");
const QByteArray Measurement = hex("01 03 08 00 7B 01 C8 03 15 00 00 AF 51");
const QByteArray SleepRequest = hex("000600a2000029f9");

// One line of the record: the time with milliseconds and offset, what it is, then the payload.
const QRegularExpression RecordLine(QStringLiteral(
    "\\A(\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}(?:Z|[+-]\\d\\d:\\d\\d)) (sent    |received|log     ) (.*)\\z"));

// Waits for the file dialog the action opens, answers it with path and returns once it is gone.
bool saveThroughDialog(QAction *action, const QString &path)
{
    bool answered = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        if (!dialog || answered)
            return;
        // As the operator does it: the whole path typed into the name field, then Save.
        dialog->findChild<QLineEdit *>("fileNameEdit")->setText(path);
        QMetaObject::invokeMethod(dialog, "accept", Qt::QueuedConnection);
        answered = true;
    });
    poll.start(20);
    action->trigger(); // returns once the dialog is closed
    return answered;
}

QStringList fileLines(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split('\n');
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// A file system of two 4 KiB pages on a folder of its own, for as long as the object lives: a
// disk that fills up. Mounting it takes root, which the tests have in CI.
class SmallDisk
{
public:
    SmallDisk()
    {
        QProcess mount;
        mount.setProcessChannelMode(QProcess::MergedChannels);
        mount.start("mount", {"-t", "tmpfs", "-o", "size=8k", "tmpfs", folder.path()});
        if (!mount.waitForFinished() || mount.exitStatus() != QProcess::NormalExit || mount.exitCode() != 0)
            unavailable = "needs a small tmpfs, which cannot be mounted here (" + mount.errorString() + ": "
                + QString::fromLocal8Bit(mount.readAll()).trimmed() + ")";
    }
    ~SmallDisk()
    {
        if (unavailable.isEmpty())
            QProcess::execute("umount", {folder.path()});
    }
    QString filePath(const QString &name) const { return folder.filePath(name); }

    QTemporaryDir folder;
    QString unavailable; // why it could not be mounted
};

} // namespace

class TstRecord : public WindowFixture
{
    Q_OBJECT

private:
    // Presses the button, checks the request on the line and answers it; waits for the answer's
    // log lines.
    void exchange(const QString &button, const QByteArray &request, const QByteArray &reply)
    {
        const int lines = logLines().size();
        QVERIFY(press(button));
        QCOMPARE(pty->read(request.size()).toHex(' '), request.toHex(' '));
        if (reply.isEmpty())
            return;
        QVERIFY(deliver(reply));
        tick();
        QVERIFY(logLines().size() >= lines + 2);
    }

    QTemporaryDir dir;

private slots:
    void init()
    {
        QVERIFY(openOnPty());
        driveTime();
    }
    void cleanup() { closeAll(); }

    // The pane's own entries first, then the two that save the record.
    void contextMenu()
    {
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        auto *pane = widget<QPlainTextEdit>("textEditPM");
        QStringList entries;
        QTimer::singleShot(100, [&] {
            auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
            if (!menu)
                return;
            for (QAction *action : menu->actions())
                entries << (action->isSeparator() ? QString("|") : action->text());
            menu->close();
        });
        QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(20, 20), pane->viewport()->mapToGlobal(QPoint(20, 20)));
        QApplication::sendEvent(pane->viewport(), &event);
        QVERIFY2(entries.size() > 3, qPrintable(entries.join(", ")));
        QVERIFY(entries.contains(QString("&Copy\tCtrl+C")) || entries.contains(QString("&Copy")));
        QCOMPARE(entries.mid(entries.size() - 3), (QStringList{"|", "Save log…", "Save measurements…"}));
    }

    // A short session saved with "Save log…": the bytes sent and received in the order they went
    // over the line, the pane's lines exactly as shown, times that never go backwards.
    void saveLog()
    {
        exchange("pushButton_SetSleep", SleepRequest, {});
        exchange("pushButton_GetSensorData", SensorRequestAvg, Measurement);
        QVERIFY(set("comboBoxSendObject=2"));
        exchange("pushButton_GetSensorData", SensorRequest2, Measurement);
        QVERIFY(press("pushButtonClose"));
        QVERIFY(press("pushButton_SetSleep")); // not sent: only its pane line is recorded

        const QString path = dir.filePath("session.txt");
        QVERIFY(saveThroughDialog(window->findChild<QAction *>("actionSaveLog"), path));
        QStringList lines = fileLines(path);
        QVERIFY(!lines.isEmpty());
        QCOMPARE(lines.takeLast(), QString()); // the file ends with a line break

        QStringList traffic;
        QStringList shown;
        QString lastTime;
        for (const QString &line : qAsConst(lines)) {
            const QRegularExpressionMatch match = RecordLine.match(line);
            QVERIFY2(match.hasMatch(), qPrintable(line));
            const QDateTime time = QDateTime::fromString(match.captured(1), Qt::ISODateWithMs);
            QVERIFY2(time.isValid(), qPrintable(line));
            QVERIFY2(lastTime.isEmpty() || QDateTime::fromString(lastTime, Qt::ISODateWithMs) <= time, qPrintable(line));
            lastTime = match.captured(1);
            if (match.captured(2).startsWith("log"))
                shown << match.captured(3);
            else
                traffic << match.captured(2).trimmed() + ' ' + match.captured(3);
        }
        const QString measurementText = hexText(Measurement).trimmed();
        QCOMPARE(traffic, (QStringList{"sent " + hexText(SleepRequest).trimmed(), "sent " + hexText(SensorRequestAvg).trimmed(),
                                       "received " + measurementText, "sent " + hexText(SensorRequest2).trimmed(),
                                       "received " + measurementText}));
        QCOMPARE(shown, logLines());
    }

    // "Times and sent requests in the log", off at first: on, each pane line starts with the time
    // the record gives it and each request written shows as a "→" line. The record is the same
    // either way, and the choice is remembered.
    void logDetail_data()
    {
        QTest::addColumn<bool>("on");
        QTest::newRow("off") << false;
        QTest::newRow("on") << true;
    }
    void logDetail()
    {
        QFETCH(bool, on);
        QAction *option = window->findChild<QAction *>("actionLogDetail");
        QVERIFY(!option->isChecked());
        option->setChecked(on);
        exchange("pushButton_GetSensorData", SensorRequestAvg, Measurement);
        const QList<SessionRecord::Entry> &record = WindowProbe::record(*window).entries();
        QCOMPARE(record.size(), 4); // sent, received, two lines shown
        const auto stamp = [&](int entry) { return on ? record.at(entry).time.toString("HH:mm:ss.zzz ") : QString(); };
        QStringList pane{stamp(2) + record.at(2).text, stamp(3) + record.at(3).text};
        if (on)
            pane.prepend(stamp(0) + "→ 00 03 00 b4 00 04 05 fe");
        QCOMPARE(logLines(), pane);
        QCOMPARE(record.at(0).text, hexText(SensorRequestAvg).trimmed());
        newWindow();
        QCOMPARE(window->findChild<QAction *>("actionLogDetail")->isChecked(), on);
    }

    // "Save measurements…": one CSV row per measurement line, with the unit it came from.
    void saveMeasurements()
    {
        exchange("pushButton_GetSensorData", SensorRequestAvg, Measurement);
        QVERIFY(set("comboBoxSendObject=2"));
        exchange("pushButton_GetSensorData", SensorRequest2, Measurement);
        widget<QAbstractButton>("pushButton")->click(); // "Clear" empties the pane, not the record
        exchange("pushButton_SetSleep", SleepRequest, {});

        const QString path = dir.filePath("measurements.csv");
        QVERIFY(saveThroughDialog(window->findChild<QAction *>("actionSaveMeasurements"), path));
        const QStringList lines = fileLines(path);
        QCOMPARE(lines.size(), 4);
        QCOMPARE(lines.at(0), QString("time,unit,pm2_5_ug_m3,pm10_ug_m3,pm100_ug_m3"));
        const QStringList units = {"avg", "2"};
        for (int row = 0; row < 2; ++row) {
            const QStringList cells = lines.at(row + 1).split(',');
            QCOMPARE(cells.size(), 5);
            QVERIFY2(QDateTime::fromString(cells.at(0), Qt::ISODateWithMs).isValid(), qPrintable(cells.at(0)));
            QCOMPARE(cells.mid(1), (QStringList{units.at(row), "12.3", "45.6", "789"}));
        }
        QCOMPARE(lines.at(3), QString());
    }

    // In memory the record keeps the newest entries, a long block shortened as the pane shows it,
    // so a flood cannot fill memory; the file gets everything.
    void boundedInMemory()
    {
        SessionRecord record;
        QString error;
        QVERIFY(!record.appendTo(dir.filePath("no-such-folder/all.txt"), &error));
        QVERIFY2(error.contains("No such file"), qPrintable(error));
        const QString path = dir.filePath("all.txt");
        QVERIFY(record.appendTo(path, nullptr));
        const QByteArray flood(300, '\x55');
        record.received(flood);
        QVERIFY2(record.entries().first().text.endsWith("(44 more bytes)"), qPrintable(record.entries().first().text));
        for (int i = 0; i < SessionRecord::MaxEntries; ++i)
            record.shown(QString::number(i));
        QCOMPARE(record.entries().size(), SessionRecord::MaxEntries);
        QCOMPARE(record.entries().first().text, QStringLiteral("0"));
        const QStringList lines = fileLines(path);
        QCOMPARE(lines.size(), SessionRecord::MaxEntries + 2); // the block, the lines, the end
        QVERIFY(lines.first().endsWith(hexText(flood).trimmed()));
    }

    // A save that runs out of disk space says so and leaves the old file as it was, with no
    // temporary file beside it.
    void fullDiskKeepsOldFile_data()
    {
        QTest::addColumn<bool>("log");
        QTest::newRow("Save log") << true;
        QTest::newRow("Save measurements") << false;
    }
    void fullDiskKeepsOldFile()
    {
        QFETCH(bool, log);
        SmallDisk disk;
        if (!disk.unavailable.isEmpty())
            QSKIP(qPrintable(disk.unavailable));
        const QString path = disk.filePath("saved.txt");
        QVERIFY(writeFile(path, "the old file\n")); // its page leaves one of 4 KiB for the new one
        SessionRecord record;
        for (int i = 0; i < 200; ++i) { // more than 10 KB either way
            record.shown(QString(40, 'x'));
            record.measured(1, {12.3F, 45.6F, 789});
        }
        QString error;
        QVERIFY(!(log ? record.saveLog(path, &error) : record.saveMeasurements(path, &error)));
        QCOMPARE(error, QString("No space left on device"));
        QCOMPARE(fileBytes(path), QByteArray("the old file\n"));
        QCOMPARE(QDir(disk.folder.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"saved.txt"});
    }

    // A pipe or a device chosen to save in, or given to --record, is refused and left as it is:
    // saving would put a regular file in its place, and opening a pipe waits for a reader.
    void refusesWhatIsNotAFile_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("operation");
        QTest::addColumn<QString>("reason");
        const QMap<QString, QString> kinds = {{"pipe", "it is a pipe (FIFO), not a regular file"},
                                              {"device", "it is a device, not a regular file"}};
        for (const QString &target : kinds.keys()) {
            for (const char *operation : {"Save log", "Save measurements", "--record"}) {
                const QString reason = kinds.value(target) + (operation == QString("--record") ? "" : "; it was left as it is");
                QTest::addRow("%s, %s", qPrintable(target), operation) << target << QString(operation) << reason;
            }
        }
    }
    void refusesWhatIsNotAFile()
    {
        QFETCH(QString, target);
        QFETCH(QString, operation);
        QFETCH(QString, reason);
        const QString path = dir.filePath(QString("%1 %2").arg(target, operation));
        const QByteArray name = QFile::encodeName(path);
        const mode_t type = target == "pipe" ? S_IFIFO : S_IFCHR;
        // The device is the one /dev/null is, made here so that a fault replaces only this copy.
        if (::mknod(name.constData(), type | 0600, target == "pipe" ? 0 : makedev(1, 3)) != 0)
            QSKIP(qPrintable(QString("%1 cannot be made here: %2").arg(target, qt_error_string(errno))));
        // A reader that keeps the opening of the pipe from waiting, so that a fault fails the test
        // instead of hanging it.
        const int reader = target == "pipe" ? ::open(name.constData(), O_RDONLY | O_NONBLOCK) : -1;
        SessionRecord record;
        record.shown("a line");
        record.measured(0, {12.3F, 45.6F, 789});
        QString error;
        const bool done = operation == "Save log"  ? record.saveLog(path, &error)
            : operation == "Save measurements"     ? record.saveMeasurements(path, &error)
                                                   : record.appendTo(path, &error);
        if (reader >= 0)
            ::close(reader);
        QVERIFY(!done);
        QCOMPARE(error, reason);
        struct stat status {};
        QCOMPARE(::stat(name.constData(), &status), 0);
        QCOMPARE(status.st_mode & S_IFMT, type);
    }

    // A record that runs out of disk space stops, and the log pane says so once, with the
    // system's reason; the file keeps whole lines.
    void recordStopsOnFullDisk()
    {
        SmallDisk disk;
        if (!disk.unavailable.isEmpty())
            QSKIP(qPrintable(disk.unavailable));
        QVERIFY(writeFile(disk.filePath("filler"), QByteArray(4096, 'f'))); // one page left
        const QString path = disk.filePath("record.txt");
        QVERIFY(window->recordTo(path, nullptr));
        const QString stopped = "The session record stopped: " + path + ": No space left on device";
        for (int i = 0; i < 40 && !logLines().contains(stopped); ++i) {
            QVERIFY(deliver(QByteArray(200, '\x55')));
            tick();
        }
        QVERIFY(deliver(QByteArray(200, '\x55')));
        tick();
        QCOMPARE(logLines().filter("The session record stopped"), QStringList{stopped});
        QStringList lines = fileLines(path);
        QVERIFY(lines.size() > 2);
        QCOMPARE(lines.takeLast(), QString());
        for (const QString &line : qAsConst(lines))
            QVERIFY2(RecordLine.match(line).hasMatch(), qPrintable(line));
    }

    // The file gets RecordedBytesPerSecond received bytes a second; blocks beyond are counted in
    // one line at the next second (or when the record ends). Sent frames and the pane's lines are
    // always written.
    void recordBoundsFloods_data()
    {
        QTest::addColumn<QStringList>("events"); // "ms bytes" received, "ms log", "ms sent", "ms poll" (nothing received)
        QTest::addColumn<QStringList>("file");   // "received" and the byte count, or the line as written
        const QString unwritten = "received … %1, %2 bytes received, not written: line noise (more than 1,024 bytes a second)";
        QTest::newRow("up to the allowance") << QStringList{"0 256", "10 256", "20 256", "999 256"}
                                             << QStringList{"received 256", "received 256", "received 256", "received 256"};
        QTest::newRow("beyond it") << QStringList{"0 1000", "10 25", "20 sent", "30 300", "900 log", "1000 log"}
                                   << QStringList{"received 1000", "sent " + hexText(SleepRequest).trimmed(), "log a line",
                                                  unwritten.arg("2 blocks", "325"), "log a line"};
        QTest::newRow("a block larger than it") << QStringList{"0 4096", "999 poll", "1500 poll", "1600 1"}
                                                << QStringList{unwritten.arg("1 block", "4,096"), "received 1"};
        QTest::newRow("a new allowance each second") << QStringList{"0 1024", "1000 1024", "2999 1024"}
                                                     << QStringList{"received 1024", "received 1024", "received 1024"};
        QTest::newRow("counted when the record ends") << QStringList{"0 1024", "10 2"}
                                                      << QStringList{"received 1024", unwritten.arg("1 block", "2")};
    }
    void recordBoundsFloods()
    {
        QFETCH(QStringList, events);
        QFETCH(QStringList, file);
        const QString path = dir.filePath(QString("flood %1.txt").arg(QTest::currentDataTag()));
        const QDateTime start = QDateTime::fromMSecsSinceEpoch(Q_INT64_C(1700000000000)); // a whole second
        QDateTime now = start;
        {
            SessionRecord record;
            record.setClock([&now] { return now; });
            QVERIFY(record.appendTo(path, nullptr));
            for (const QString &event : qAsConst(events)) {
                const QString what = event.section(' ', 1);
                now = start.addMSecs(event.section(' ', 0, 0).toInt());
                if (what == "log")
                    record.shown("a line");
                else if (what == "sent")
                    record.sent(SleepRequest);
                else
                    record.received(QByteArray(what == "poll" ? 0 : what.toInt(), '\x55'));
            }
        }
        QStringList written;
        for (const QString &line : fileLines(path)) {
            const QRegularExpressionMatch match = RecordLine.match(line);
            if (!match.hasMatch())
                continue;
            const QString kind = match.captured(2).trimmed();
            const QString payload = match.captured(3);
            const bool bytes = kind == "received" && !payload.startsWith("…");
            written << kind + ' ' + (bytes ? QString::number(payload.split(' ').size()) : payload);
        }
        QCOMPARE(written, file);
    }

    // --record: a window in another process appends its record while it polls the device; killed
    // without warning, it leaves a file of whole lines.
    void recordSurvivesKill()
    {
        window.reset(); // the terminal is the child's alone
        const QString path = dir.filePath("record.txt");
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QCoreApplication::applicationFilePath(), {"--record-child", path, pty->slavePath()});
        QVERIFY(child.waitForStarted());
        // Answer every request until the record has grown, then kill the window mid-session.
        QElapsedTimer clock;
        clock.start();
        while (fileLines(path).size() < 60 && clock.elapsed() < 20000) {
            if (pty->read(8, 200).size() == 8)
                pty->write(Measurement);
        }
        const int before = fileLines(path).size();
        QCOMPARE(child.state(), QProcess::Running);
        child.kill(); // SIGKILL: no chance to flush or close anything
        QVERIFY(child.waitForFinished());
        QCOMPARE(child.exitStatus(), QProcess::CrashExit);
        QVERIFY(before >= 60);

        QStringList lines = fileLines(path);
        QVERIFY(lines.size() >= before && before > 0);
        QCOMPARE(lines.takeLast(), QString()); // ends with a whole line
        QSet<QString> kinds;
        for (const QString &line : qAsConst(lines)) {
            const QRegularExpressionMatch match = RecordLine.match(line);
            QVERIFY2(match.hasMatch(), qPrintable(line));
            kinds.insert(match.captured(2).trimmed());
        }
        QCOMPARE(kinds, (QSet<QString>{"sent", "received", "log"}));
    }
};

// The window of recordSurvivesKill: records to the file, opens the terminal and asks for a
// measurement every 100 ms until it is killed.
static int recordingWindow(const QString &recordFile, const QString &port)
{
    WindowFixture fixture;
    MainWindow &window = fixture.newWindow();
    QString error;
    if (!window.recordTo(recordFile, &error) || !fixture.openPort(port))
        return 2;
    QTimer ask;
    QObject::connect(&ask, &QTimer::timeout, [&] { fixture.press("pushButton_GetSensorData"); });
    ask.start(100);
    return QApplication::exec();
}

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    if (argc == 4 && QByteArray(argv[1]) == "--record-child")
        return recordingWindow(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));
    TstRecord test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_record.moc"
