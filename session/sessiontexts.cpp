#include "sessiontexts.h"

#include <QCoreApplication>

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
