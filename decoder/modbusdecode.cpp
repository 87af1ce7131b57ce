#include "modbusdecode.h"

#include "hextext.h"

#include <QCoreApplication>

#include <algorithm>
#include <iterator>

namespace {

// Bytes that the device did not send read as 0, so a short reply never yields stale data.
quint8 byteAt(const QByteArray &reply, int offset)
{
    return offset >= 0 && offset < reply.size() ? quint8(reply.at(offset)) : quint8(0);
}

QString decimal(quint8 value)
{
    return QString::number(value);
}

QString signedDecimal(quint8 value)
{
    return QString::number(qint8(value));
}

WidgetChange text(const QString &objectName, const QString &value)
{
    WidgetChange change;
    change.kind = WidgetChange::SetText;
    change.objectName = objectName;
    change.text = value;
    return change;
}

WidgetChange check(const QString &objectName, bool checked)
{
    WidgetChange change;
    change.kind = WidgetChange::SetChecked;
    change.objectName = objectName;
    change.checked = checked;
    return change;
}

// Checks box prefix1 to prefix4 for each of the low four bits of mask that equals bitValue;
// the other boxes are left as they are.
void checkUnits(QList<WidgetChange> &changes, const QString &prefix, quint8 mask, bool bitValue)
{
    for (int unit = 0; unit < 4; ++unit) {
        if (bool(mask & (1 << unit)) == bitValue)
            changes << check(prefix + QString::number(unit + 1), true);
    }
}

// Takes the flag when it is raised (exactly 1), clearing it before anything is decoded.
bool take(quint8 &flag)
{
    if (flag != 1)
        return false;
    flag = 0;
    return true;
}

QString pmText(quint8 high, quint8 low)
{
    const float value = float(high * 256 + low) / 10.0f;
    return QString::asprintf("%g", double(value));
}

} // namespace

QString measurementLine(const QByteArray &reply, int sendObjectIndex)
{
    const quint8 index = quint8(sendObjectIndex);
    QString line = index == 0 ? QStringLiteral("All Sensor: PM2.5 = ")
                              : QStringLiteral("Sensor %1:  PM2.5 = ").arg(index);
    line += pmText(byteAt(reply, 3), byteAt(reply, 4));
    line += QStringLiteral("  PM10 = ") + pmText(byteAt(reply, 5), byteAt(reply, 6));
    line += QStringLiteral("  PM100 = ") + QString::number(byteAt(reply, 7) * 256 + byteAt(reply, 8));
    return line;
}

ReadReplyOutcome decodeReadReply(const QByteArray &reply, PendingReplies &pending, int sendObjectIndex)
{
    ReadReplyOutcome out;
    QList<WidgetChange> &changes = out.changes;
    const quint8 b3 = byteAt(reply, 3);
    const quint8 b4 = byteAt(reply, 4);

    if (take(pending.pendingSensorData))
        out.logLines << measurementLine(reply, sendObjectIndex);

    if (take(pending.pendingCleanSetting)) {
        changes << text(QStringLiteral("lineEdit_AutoCleanTime"), QString())
                << text(QStringLiteral("lineEdit_AutoCleanDustJianGe"), QString())
                << text(QStringLiteral("lineEdit_AutoCleanTime"), decimal(b3))
                << text(QStringLiteral("lineEdit_AutoCleanDustJianGe"), decimal(b4));
    }

    if (take(pending.pendingHeatMode)) {
        if (b3 == 0x01) {
            changes << check(QStringLiteral("radioButton_AutoHeat"), true)
                    << check(QStringLiteral("radioButton_ManualHeat"), false);
        } else if (b3 == 0x00) {
            changes << check(QStringLiteral("radioButton_AutoHeat"), false)
                    << check(QStringLiteral("radioButton_ManualHeat"), true);
        }
    }

    if (take(pending.pendingWorkMode) && b3 >= 0x01 && b3 <= 0x03) {
        changes << check(QStringLiteral("radioButton_Autoall"), b3 == 0x01)
                << check(QStringLiteral("radioButton_Autosingle"), b3 == 0x02)
                << check(QStringLiteral("radioButton_Manualset"), b3 == 0x03);
        checkUnits(changes, QStringLiteral("checkBox_No"), b4, true);
    }

    if (take(pending.pendingModbusAddr))
        changes << text(QStringLiteral("lineEdit_DeviceAddr"), QString::number(b4, 16));

    // A 0 bit marks a unit whose self test failed; its box is checked.
    if (take(pending.pendingSelfCheck))
        checkUnits(changes, QStringLiteral("checkBox_Selfcheck"), b4, false);

    if (take(pending.pendingGlobalSet))
        checkUnits(changes, QStringLiteral("checkBox_Global"), b4, true);

    if (take(pending.pendingTempHumi)) {
        changes << text(QStringLiteral("lineEdit_Temp"), signedDecimal(b3))
                << text(QStringLiteral("lineEdit_Humi"), decimal(b4));
    }

    if (take(pending.pendingHeatTempThreshold)) {
        changes << text(QStringLiteral("lineEdit_HeatTempHigh"), signedDecimal(b3))
                << text(QStringLiteral("lineEdit_HeatTempLow"), signedDecimal(b4));
    }

    if (take(pending.pendingHeatHumiThreshold)) {
        changes << text(QStringLiteral("lineEdit_HeatHumiHigh"), decimal(b3))
                << text(QStringLiteral("lineEdit_HeatHumiLow"), decimal(b4));
    }

    if (take(pending.pendingCalibration)) {
        // Offset 3 is a sign flag: 0x00 means the zero offset is negative.
        const int zero = b3 == 0x00 ? -int(b4) : int(b4);
        changes << text(QStringLiteral("lineEdit_CalibrZero"), QString::number(zero))
                << text(QStringLiteral("lineEdit_CalibrateFactor"), decimal(byteAt(reply, 6)));
    }

    if (take(pending.pendingTransRead)) {
        // A byte count beyond what arrived shows only the bytes that arrived.
        const int count = qMin(int(byteAt(reply, 2)), qMax(0, reply.size() - 3));
        changes << text(QStringLiteral("lineEdit_TransRead"), formatHexBytes(reply.mid(3, count)));
    }

    if (take(pending.pendingFactor)) {
        for (int unit = 0; unit < 4; ++unit) {
            changes << text(QStringLiteral("lineEdit_%1Factor").arg(unit + 1), decimal(byteAt(reply, 3 + unit)));
        }
        for (int unit = 0; unit < 4; ++unit) {
            changes << text(QStringLiteral("lineEdit_%1Factor_2").arg(unit + 1), decimal(byteAt(reply, 7 + unit)));
        }
    }

    return out;
}

const char *writeEchoMessage(const QByteArray &echo)
{
    struct KnownEcho {
        quint8 reg, value, crcLow, crcHigh;
        const char *message;
    };
    // Offsets 6 and 7 are the CRC of the echo from address 0x00, where every request goes.
    static const KnownEcho known[] = {
        {0xB1, 0x03, 0x98, 0x3D, QT_TRANSLATE_NOOP("MainWindow", "Device change to MODBUS!")},
        {0xB1, 0x00, 0xD8, 0x3C, QT_TRANSLATE_NOOP("MainWindow", "Device change to Kelvra!")},
        {0xA5, 0x01, 0x59, 0xF8, QT_TRANSLATE_NOOP("MainWindow", "Device change to FactoryConfig!")},
    };
    if (byteAt(echo, 1) != 0x06)
        return nullptr;
    const KnownEcho *const end = std::end(known);
    const KnownEcho *const match = std::find_if(std::begin(known), end, [&echo](const KnownEcho &k) {
        return byteAt(echo, 3) == k.reg && byteAt(echo, 5) == k.value && byteAt(echo, 6) == k.crcLow
            && byteAt(echo, 7) == k.crcHigh;
    });
    return match != end ? match->message : nullptr;
}

QString exceptionLine(const QByteArray &reply)
{
    const quint8 code = byteAt(reply, 2);
    const char *meaning = nullptr;
    switch (code) {
    case 1: meaning = QT_TRANSLATE_NOOP("MainWindow", "illegal function"); break;
    case 2: meaning = QT_TRANSLATE_NOOP("MainWindow", "illegal data address"); break;
    case 3: meaning = QT_TRANSLATE_NOOP("MainWindow", "illegal data value"); break;
    case 4: meaning = QT_TRANSLATE_NOOP("MainWindow", "server device failure"); break;
    default: meaning = QT_TRANSLATE_NOOP("MainWindow", "unknown"); break;
    }
    return QCoreApplication::translate("MainWindow", "Device refused the request: exception %1 (%2)")
        .arg(code)
        .arg(QCoreApplication::translate("MainWindow", meaning));
}
