#ifndef ZELVIK_RESIDENTMEMORY_H
#define ZELVIK_RESIDENTMEMORY_H

#include <QFile>
#include <QString>

// AddressSanitizer keeps freed memory in quarantine, so resident memory grows without a leak.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool AddressSanitizer = true;
#else
constexpr bool AddressSanitizer = false;
#endif

// Resident memory in kB of a process, from the VmRSS line of its /proc status file; -1 when unknown.
inline qint64 residentKb(const QString &statusFile = QStringLiteral("/proc/self/status"))
{
    QFile file(statusFile);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : file.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

#endif
