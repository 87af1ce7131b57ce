#ifndef ZELVIK_PENDINGFLAGS_H
#define ZELVIK_PENDINGFLAGS_H

#include "pendingreplies.h"

#include <QList>
#include <QPair>
#include <QStringList>

// Every flag of the PendingReplies record by name, the probe step included.
using PendingFlag = quint8 PendingReplies::*;
inline const QList<QPair<QString, PendingFlag>> &pendingFlags()
{
    static const QList<QPair<QString, PendingFlag>> table = {
        {"pendingSensorData", &PendingReplies::pendingSensorData},
        {"pendingCleanSetting", &PendingReplies::pendingCleanSetting},
        {"pendingHeatMode", &PendingReplies::pendingHeatMode},
        {"pendingWorkMode", &PendingReplies::pendingWorkMode},
        {"pendingModbusAddr", &PendingReplies::pendingModbusAddr},
        {"pendingSelfCheck", &PendingReplies::pendingSelfCheck},
        {"pendingGlobalSet", &PendingReplies::pendingGlobalSet},
        {"pendingTempHumi", &PendingReplies::pendingTempHumi},
        {"pendingHeatTempThreshold", &PendingReplies::pendingHeatTempThreshold},
        {"pendingHeatHumiThreshold", &PendingReplies::pendingHeatHumiThreshold},
        {"pendingCalibration", &PendingReplies::pendingCalibration},
        {"pendingTransRead", &PendingReplies::pendingTransRead},
        {"pendingFactor", &PendingReplies::pendingFactor},
        {"pendingBaudrate", &PendingReplies::pendingBaudrate},
    };
    return table;
}

// "name=value" for each flag that is not 0, in the record's order.
inline QStringList raisedFlags(const PendingReplies &record = pendingReplies)
{
    QStringList raised;
    for (const auto &flag : pendingFlags()) {
        if (record.*flag.second != 0)
            raised << flag.first + '=' + QString::number(record.*flag.second);
    }
    return raised;
}

#endif
