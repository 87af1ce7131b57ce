#include "simprocess.h"

#include <QElapsedTimer>
#include <QRegularExpression>

#include <algorithm>

bool Simulator::start(const QStringList &options)
{
    const QString program = qEnvironmentVariable("ZELVIK_SIM");
    if (program.isEmpty()) {
        error = QStringLiteral("ZELVIK_SIM is not set to the simulator's path");
        return false;
    }
    QObject::connect(&process, &QProcess::readyReadStandardError,
                     [this] { log += QString::fromLocal8Bit(process.readAllStandardError()); });
    process.start(program, QStringList{QStringLiteral("--verbose")} + options);
    QElapsedTimer clock;
    clock.start();
    while (!process.canReadLine() && process.state() != QProcess::NotRunning && clock.elapsed() < 3000)
        process.waitForReadyRead(100);
    path = QString::fromLocal8Bit(process.readLine()).trimmed();
    if (path.isEmpty())
        error = QStringLiteral("%1 %2 printed no terminal path (%3): %4")
                    .arg(program, options.join(QLatin1Char(' ')), process.errorString(),
                         log + process.readAllStandardError());
    return !path.isEmpty();
}

void Simulator::stop()
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(3000)) {
        process.kill();
        process.waitForFinished(1000);
    }
}

QList<Simulator::Reply> Simulator::replies() const
{
    static const QRegularExpression tx(QStringLiteral(" tx ((?:[0-9a-fA-F]{2} )*[0-9a-fA-F]{2})(.*)$"));
    QList<Reply> list;
    // Only whole lines: the last one may still be on its way.
    const QStringList lines = log.left(log.lastIndexOf(QLatin1Char('\n'))).split(QLatin1Char('\n'));
    for (const QString &line : lines) {
        const QRegularExpressionMatch match = tx.match(line);
        if (!match.hasMatch())
            continue;
        const QByteArray bytes = QByteArray::fromHex(match.captured(1).toLatin1());
        const QString notes = match.captured(2);
        if (notes.contains(QLatin1String("second part")) && !list.isEmpty()) {
            list.last().bytes += bytes;
            list.last().complete = true;
            continue;
        }
        list.append({bytes, notes.contains(QLatin1String("flipped")), !notes.contains(QLatin1String("first part"))});
    }
    return list;
}

int Simulator::completeReplies() const
{
    const QList<Reply> list = replies();
    return int(std::count_if(list.begin(), list.end(), [](const Reply &r) { return r.complete; }));
}
