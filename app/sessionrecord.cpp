#include "sessionrecord.h"

#include "hextext.h"
#include "sessiontexts.h"

#include <QCoreApplication>
#include <QLocale>
#include <QSaveFile>

#include <cerrno>

#include <sys/stat.h>
#include <unistd.h>

namespace {

using SessionTexts::isoTime;

QString text(const char *source)
{
    return QCoreApplication::translate("SessionRecord", source);
}

// Writes all of bytes to a file opened unbuffered. A short write (the disk filled up in the middle)
// is followed by a write of the rest, which fails with the system's reason: the file then reports
// "No space left on device" rather than no reason at all.
bool writeFully(QFileDevice &file, const QByteArray &bytes)
{
    qint64 done = 0;
    while (done < bytes.size()) {
        const qint64 written = file.write(bytes.constData() + done, bytes.size() - done);
        if (written <= 0)
            return false;
        done += written;
    }
    return true;
}

} // namespace

// Unbuffered, every write reaches the system before commit(): QSaveFile counts a failed flush
// inside commit() as no failure and would put a cut-off file in place of the old one.
bool SessionRecord::saveFile(const QString &path, const QByteArray &contents, QString *error)
{
    QString reason = SessionRecord::notRegularFile(path);
    if (!reason.isEmpty()) {
        if (error)
            *error = reason + text("; it was left as it is");
        return false;
    }
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Unbuffered) && writeFully(file, contents)
        && file.error() == QFileDevice::NoError) {
        // Errors some file systems report only when the data reaches the disk count too.
        if (::fsync(file.handle()) != 0)
            reason = qt_error_string(errno);
        else if (file.commit())
            return true;
    }
    if (reason.isEmpty())
        reason = file.errorString();
    file.cancelWriting();
    if (error)
        *error = reason;
    return false;
}

SessionRecord::~SessionRecord()
{
    m_stopped = nullptr; // whoever listened may be gone already
    writeUnwrittenCount(m_clock());
}

QString SessionRecord::notRegularFile(const QString &path)
{
    struct stat status {};
    if (::stat(QFile::encodeName(path).constData(), &status) != 0 || S_ISREG(status.st_mode))
        return QString(); // a regular file, or nothing yet (or what opening it will report)
    const mode_t mode = status.st_mode;
    const QString kind = S_ISDIR(mode)                 ? text("a folder")
        : S_ISFIFO(mode)                               ? text("a pipe (FIFO)")
        : S_ISCHR(mode) || S_ISBLK(mode)               ? text("a device")
        : S_ISSOCK(mode)                               ? text("a socket")
                                                       : text("a special file");
    return text("it is %1, not a regular file").arg(kind);
}

void SessionRecord::sent(const QByteArray &frame)
{
    const QString hex = formatHexBytes(frame).trimmed();
    add(m_clock(), Kind::Sent, hex, hex);
}

void SessionRecord::received(const QByteArray &block)
{
    const QDateTime time = m_clock();
    startSecond(time); // also for an empty block: the poll's rhythm writes the count in time
    if (block.isEmpty())
        return;
    QString fileText; // null: not written to the file
    if (m_bytesThisSecond + block.size() <= RecordedBytesPerSecond) {
        m_bytesThisSecond += block.size();
        fileText = formatHexBytes(block).trimmed();
    } else if (m_file) {
        ++m_unwrittenBlocks;
        m_unwrittenBytes += block.size();
    }
    add(time, Kind::Received, logHexBytes(block).trimmed(), fileText);
}

void SessionRecord::measured(int unitIndex, const Values::Measurement &value)
{
    m_readings.append(Reading{m_clock(), unitIndex, value});
    if (m_readings.size() > MaxEntries)
        m_readings.removeFirst();
}

void SessionRecord::shown(const QString &line)
{
    add(m_clock(), Kind::Shown, line, line);
}

void SessionRecord::add(const QDateTime &time, Kind kind, const QString &text, const QString &fileText)
{
    m_entries.append(Entry{time, kind, text});
    if (m_entries.size() > MaxEntries)
        m_entries.removeFirst();
    startSecond(time);
    if (!fileText.isNull())
        writeLine(time, kind, fileText);
}

void SessionRecord::startSecond(const QDateTime &time)
{
    const qint64 second = time.toMSecsSinceEpoch() / 1000;
    if (second == m_second)
        return;
    m_second = second;
    m_bytesThisSecond = 0;
    writeUnwrittenCount(time);
}

void SessionRecord::writeUnwrittenCount(const QDateTime &time)
{
    if (m_unwrittenBlocks == 0)
        return;
    const QLocale english(QLocale::English, QLocale::UnitedStates);
    writeLine(time, Kind::Received,
              QStringLiteral("… %1 %2, %3 bytes received, not written: line noise (more than %4 bytes a second)")
                  .arg(english.toString(m_unwrittenBlocks),
                       m_unwrittenBlocks == 1 ? QStringLiteral("block") : QStringLiteral("blocks"),
                       english.toString(m_unwrittenBytes), english.toString(RecordedBytesPerSecond)));
    m_unwrittenBlocks = 0;
    m_unwrittenBytes = 0;
}

void SessionRecord::writeLine(const QDateTime &time, Kind kind, const QString &text)
{
    if (!m_file)
        return;
    const QByteArray line = format({time, kind, text}).toUtf8() + '\n';
    const qint64 size = m_file->size();
    if (writeFully(*m_file, line))
        return;
    const QString path = m_file->fileName();
    const QString reason = m_file->errorString();
    m_file->resize(size); // the part of the line that fitted goes: the file keeps whole lines
    qWarning("The session record stopped: %s: %s", qPrintable(path), qPrintable(reason));
    m_file.reset();
    if (m_stopped)
        m_stopped(path, reason);
}

bool SessionRecord::appendTo(const QString &path, QString *error)
{
    QString reason = notRegularFile(path);
    auto file = std::make_unique<QFile>(path);
    if (reason.isEmpty() && !file->open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
        reason = file->errorString();
    if (!reason.isEmpty()) {
        if (error)
            *error = reason;
        return false;
    }
    m_file = std::move(file);
    return true;
}

QString SessionRecord::format(const Entry &entry)
{
    static const char *const words[] = {"sent    ", "received", "log     "};
    return isoTime(entry.time) + QLatin1Char(' ') + QLatin1String(words[int(entry.kind)]) + QLatin1Char(' ')
        + entry.text;
}

bool SessionRecord::saveLog(const QString &path, QString *error) const
{
    QByteArray text;
    for (const Entry &entry : m_entries)
        text += format(entry).toUtf8() + '\n';
    return saveFile(path, text, error);
}

bool SessionRecord::saveMeasurements(const QString &path, QString *error) const
{
    QByteArray csv = SessionTexts::csvHeader().toUtf8() + '\n';
    for (const Reading &reading : m_readings)
        csv += SessionTexts::csvRow(reading.time, reading.unitIndex, reading.value).toUtf8() + '\n';
    return saveFile(path, csv, error);
}
