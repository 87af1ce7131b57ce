#include "sessiontexts.h"

#include <QCoreApplication>
#include <QStringList>

namespace SessionTexts {

QString isoTime(const QDateTime &time)
{
    return time.toOffsetFromUtc(time.offsetFromUtc()).toString(Qt::ISODateWithMs);
}

QString exceptionText(quint8 code)
{
    return QCoreApplication::translate("MainWindow", "exception %1 (%2)")
        .arg(code)
        .arg(QCoreApplication::translate("MainWindow", Values::exceptionMeaning(code)));
}

QString csvHeader()
{
    return QStringLiteral("time,unit,pm2_5_ug_m3,pm10_ug_m3,pm100_ug_m3");
}

QString noAnswerHint(const QString &findRate, const QString &wake, const QString &toModbus)
{
    QStringList ways;
    if (!findRate.isEmpty())
        ways << QStringLiteral("%1 to find the device's baud rate").arg(findRate);
    if (!wake.isEmpty())
        ways << QStringLiteral("%1 in case it is asleep").arg(wake);
    if (!toModbus.isEmpty())
        ways << QStringLiteral("%1 in case it was switched to its native protocol").arg(toModbus);
    if (ways.isEmpty())
        return QString();
    const QString last = ways.takeLast();
    return ways.isEmpty() ? QStringLiteral("try %1").arg(last)
                          : QStringLiteral("try %1 or %2").arg(ways.join(QStringLiteral(", ")), last);
}

QString unitName(int unitIndex)
{
    return unitIndex == 0 ? QStringLiteral("avg") : QString::number(unitIndex);
}

QString csvRow(const QDateTime &time, int unitIndex, const Values::Measurement &value)
{
    return QStringLiteral("%1,%2,%3,%4,%5")
        .arg(isoTime(time), unitName(unitIndex), Values::pmText(value.pm25), Values::pmText(value.pm10))
        .arg(value.pm100);
}

} // namespace SessionTexts
