#include "sessionrecord.h"

#include "hextext.h"
#include "sessiontexts.h"

#include <QSaveFile>

namespace {

using SessionTexts::isoTime;

bool writeAll(const QString &path, const QByteArray &contents, QString *error)
{
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size() && file.commit())
        return true;
    if (error)
        *error = file.errorString();
    return false;
}

} // namespace

void SessionRecord::sent(const QByteArray &frame)
{
    add(Kind::Sent, formatHexBytes(frame).trimmed());
}

void SessionRecord::received(const QByteArray &block)
{
    if (!block.isEmpty())
        add(Kind::Received, logHexBytes(block).trimmed(), formatHexBytes(block).trimmed());
}

void SessionRecord::measured(int unitIndex, const Values::Measurement &value)
{
    m_readings.append(Reading{QDateTime::currentDateTime(), unitIndex, value});
    if (m_readings.size() > MaxEntries)
        m_readings.removeFirst();
}

void SessionRecord::shown(const QString &line)
{
    add(Kind::Shown, line);
}

void SessionRecord::add(Kind kind, const QString &text, const QString &fileText)
{
    const Entry entry{QDateTime::currentDateTime(), kind, text};
    m_entries.append(entry);
    if (m_entries.size() > MaxEntries)
        m_entries.removeFirst();
    if (!m_file)
        return;
    const QByteArray line = format({entry.time, kind, fileText.isNull() ? text : fileText}).toUtf8() + '\n';
    if (m_file->write(line) != line.size() || !m_file->flush()) {
        qWarning("The session record stopped: %s: %s", qPrintable(m_file->fileName()),
                 qPrintable(m_file->errorString()));
        m_file.reset();
    }
}

bool SessionRecord::appendTo(const QString &path, QString *error)
{
    auto file = std::make_unique<QFile>(path);
    if (!file->open(QIODevice::WriteOnly | QIODevice::Append)) {
        if (error)
            *error = file->errorString();
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
    return writeAll(path, text, error);
}

bool SessionRecord::saveMeasurements(const QString &path, QString *error) const
{
    QByteArray csv = SessionTexts::csvHeader().toUtf8() + '\n';
    for (const Reading &reading : m_readings)
        csv += SessionTexts::csvRow(reading.time, reading.unitIndex, reading.value).toUtf8() + '\n';
    return writeAll(path, csv, error);
}
