#ifndef ZELVIK_SESSIONRECORD_H
#define ZELVIK_SESSIONRECORD_H

#include "values.h"

#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <QList>
#include <QString>

#include <functional>
#include <memory>

// The evidence of a session at the bench: every frame written to the port, every block read from
// it and every line the log pane showed, in order, each with its time to the millisecond. It lives
// as long as the window (the pane's "Clear" does not touch it) and can also be appended to a file
// as it happens, line by line, for long unattended runs. In memory it keeps the most recent
// MaxEntries entries, a long block shortened as the pane shows it, so a flood cannot fill memory.
// The file gets every sent frame and every line of the pane, and the received blocks up to
// RecordedBytesPerSecond bytes a second; beyond that it gets at most one line a second counting the
// blocks and bytes not written, so that endless line noise cannot fill the disk.
class SessionRecord
{
public:
    enum class Kind { Sent, Received, Shown };
    struct Entry {
        QDateTime time;
        Kind kind;
        QString text; // the bytes in hexadecimal, or the pane's line
    };

    // One PM2.5/PM10/PM100 reading as the device gave it.
    struct Reading {
        QDateTime time;
        int unitIndex = 0; // 0 for the average of the units, else 1 to 4
        Values::Measurement value;
    };

    static constexpr int MaxEntries = 15000; // three for each of the pane's 5,000 lines
    // More than a serial line carries at 9600 baud: a real device's traffic is written in full.
    static constexpr int RecordedBytesPerSecond = 1024;

    SessionRecord() = default;
    SessionRecord(const SessionRecord &) = delete;
    SessionRecord &operator=(const SessionRecord &) = delete;
    // Writes the count of blocks not written in the last second, if any.
    ~SessionRecord();

    void sent(const QByteArray &frame);
    void received(const QByteArray &block);
    void shown(const QString &line);
    void measured(int unitIndex, const Values::Measurement &value);

    // From now on every entry is also appended to the file at path and written at once, so that
    // a crash loses nothing written before it. False, with the reason, when it cannot be opened or
    // is not a regular file (a pipe would block until someone reads it, a device takes the
    // record away).
    bool appendTo(const QString &path, QString *error);
    // Called once, with the file's path and the system's reason, when a write to that file fails
    // (a full disk): the file keeps the whole lines written before, and nothing more is written.
    void onFileStopped(std::function<void(const QString &path, const QString &reason)> stopped)
    {
        m_stopped = std::move(stopped);
    }
    // The times the entries get (the tests set their own).
    void setClock(std::function<QDateTime()> clock) { m_clock = std::move(clock); }

    // Why the file at path must not be written over or appended to: "it is a pipe (FIFO), not a
    // regular file" and the like. Empty for a regular file or a path where nothing is yet.
    static QString notRegularFile(const QString &path);

    const QList<Entry> &entries() const { return m_entries; }
    const QList<Reading> &readings() const { return m_readings; }

    // Replaces the file at path with contents, or leaves it as it was and says why (a full disk,
    // a target that is not a regular file).
    static bool saveFile(const QString &path, const QByteArray &contents, QString *error);

    // One line of the record: time, direction or "log", then the bytes or the line.
    static QString format(const Entry &entry);

    // The whole record as text, one entry a line. Saving replaces the file only once all of it
    // is written: on any failure (a full disk, a target that is not a regular file) the old file
    // stays as it was and the reason is returned.
    bool saveLog(const QString &path, QString *error) const;
    // One CSV row per reading kept: time, unit, PM2.5, PM10, PM100; saved as saveLog saves.
    bool saveMeasurements(const QString &path, QString *error) const;

private:
    // Keeps the entry; fileText (the payload the file gets, when not null) is written to the file.
    void add(const QDateTime &time, Kind kind, const QString &text, const QString &fileText);
    // At the first entry of a new second: the line about the blocks not written before it, and a
    // new allowance of received bytes.
    void startSecond(const QDateTime &time);
    void writeUnwrittenCount(const QDateTime &time);
    void writeLine(const QDateTime &time, Kind kind, const QString &text);

    QList<Entry> m_entries;
    QList<Reading> m_readings; // the newest MaxEntries
    std::unique_ptr<QFile> m_file;
    std::function<void(const QString &, const QString &)> m_stopped;
    std::function<QDateTime()> m_clock = [] { return QDateTime::currentDateTime(); };
    qint64 m_second = 0;         // of the latest entry, in seconds since the epoch
    qint64 m_bytesThisSecond = 0; // received bytes written to the file in that second
    qint64 m_unwrittenBlocks = 0; // received but not written since the last line about them
    qint64 m_unwrittenBytes = 0;
};

#endif
