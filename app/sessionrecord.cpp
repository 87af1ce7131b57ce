#include "sessionrecord.h"

#include "hextext.h"

#include <QRegularExpression>
#include <QSaveFile>

namespace {

// Local time with its offset from UTC, so that a record read elsewhere still says when.
QString isoTime(const QDateTime &time)
{
    return time.toOffsetFromUtc(time.offsetFromUtc()).toString(Qt::ISODateWithMs);
}

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

std::optional<SessionRecord::Measurement> SessionRecord::measurement(const QString &line)
{
    static const QRegularExpression pattern(QStringLiteral(
        "\\A(?:All Sensor|Sensor ([1-4])): +PM2\\.5 = (\\S+) +PM10 = (\\S+) +PM100 = (\\S+)\\z"));
    const QRegularExpressionMatch match = pattern.match(line);
    if (!match.hasMatch())
        return std::nullopt;
    const QString unit = match.captured(1).isEmpty() ? QStringLiteral("Avg") : match.captured(1);
    return Measurement{unit, match.captured(2), match.captured(3), match.captured(4)};
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
    QByteArray csv = QStringLiteral("time,unit,PM2.5 (µg/m³),PM10 (µg/m³),PM100 (µg/m³)\n").toUtf8();
    for (const Entry &entry : m_entries) {
        if (entry.kind != Kind::Shown)
            continue;
        if (const std::optional<Measurement> reading = measurement(entry.text)) {
            csv += QStringList{isoTime(entry.time), reading->unit, reading->pm25, reading->pm10, reading->pm100}
                       .join(QLatin1Char(','))
                       .toUtf8()
                + '\n';
        }
    }
    return writeAll(path, csv, error);
}
