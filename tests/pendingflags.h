#ifndef ZELVIK_PENDINGFLAGS_H
#define ZELVIK_PENDINGFLAGS_H

#include "pendingreplies.h"

#include <QStringList>

// The name of each query the window can wait for, in the record's order.
inline QString queryName(PendingReplies::Query query)
{
    static const char *const names[] = {
        "pendingSensorData", "pendingCleanSetting", "pendingHeatMode", "pendingWorkMode", "pendingModbusAddr",
        "pendingSelfCheck", "pendingGlobalSet", "pendingTempHumi", "pendingHeatTempThreshold",
        "pendingHeatHumiThreshold", "pendingCalibration", "pendingTransRead", "pendingFactor", "pendingBaudrate",
        "pendingDeviceInfo", "pendingFirmwareId"};
    return QString::fromLatin1(names[int(query)]);
}

// "name=count" for each query that is outstanding or waiting to be sent, in the record's order.
inline QStringList raisedFlags(const PendingReplies &record = pendingReplies)
{
    QStringList raised;
    for (int q = 0; q <= int(PendingReplies::Query::pendingFirmwareId); ++q) {
        const auto query = PendingReplies::Query(q);
        if (record.count(query) > 0)
            raised << queryName(query) + '=' + QString::number(record.count(query));
    }
    return raised;
}

#endif
