#ifndef ZELVIK_PENDINGREPLIES_H
#define ZELVIK_PENDINGREPLIES_H

#include <QString>
#include <QtGlobal>

// What the tool is waiting for. A Modbus read reply names neither the query nor the register,
// so a query raises its flag (1) and the decoder serves every raised flag from the next read
// reply, clearing each flag (0) before it touches a widget.
struct PendingReplies {
    quint8 pendingSensorData = 0;
    quint8 pendingCleanSetting = 0;
    quint8 pendingHeatMode = 0;
    quint8 pendingWorkMode = 0;
    quint8 pendingModbusAddr = 0;
    quint8 pendingSelfCheck = 0;
    quint8 pendingGlobalSet = 0;
    quint32 baudScanTicks = 0; // never reset; only ever increases (wrapping)
    quint8 pendingTempHumi = 0;
    quint8 pendingHeatTempThreshold = 0;
    quint8 pendingHeatHumiThreshold = 0;
    quint8 pendingCalibration = 0;
    quint8 pendingTransRead = 0;
    quint8 pendingFactor = 0;
    quint8 pendingBaudrate = 0; // baud-rate probe step: 0 idle, 1 = 19200, 2 = 9600, 3 = 4800, 4 = 2400
    QString deviceIdText;
    QString firmwareIdText;
};

// The one record of the process, all zero at start-up.
// NOLINTNEXTLINE(cppcoreguidelines-avoid-non-const-global-variables): shared by command slots and decoder by design
extern PendingReplies pendingReplies;

#endif
