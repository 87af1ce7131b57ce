#ifndef ZELVIK_FRAMES_H
#define ZELVIK_FRAMES_H

#include <QByteArray>
#include <QtGlobal>

// The sensor's native frame: head, command, 15 data bytes, checksum, tail.
namespace Kelvra {
constexpr int FrameSize = 19;
constexpr int PairSize = 2 * FrameSize;
constexpr int DataOffset = 2;
constexpr int DataSize = 15;
constexpr int ChecksumOffset = 17;
constexpr int TailOffset = 18;
constexpr quint8 Head = 0xAA;
constexpr quint8 Tail = 0xAB;

enum Command : quint8 {
    GetDeviceInfo = 0xA6, // reply carries the device identifier at offsets 8 to 11
    SetDeviceId = 0xA7,
    Sleep = 0xB4,
    GetFirmwareId = 0xB5  // reply carries three signed numbers at offsets 9 to 11
};

constexpr int DeviceIdOffset = 8;   // four identifier bytes
constexpr int FirmwareIdOffset = 9; // three firmware numbers
} // namespace Kelvra

// A 19-byte native frame: bytes of data are placed from offset 2 on (at most 15 are used),
// every other data byte is 0x00, then the checksum and the tail.
QByteArray kelvraFrame(quint8 command, const QByteArray &data = QByteArray());

namespace Modbus {
constexpr quint8 RequestAddress = 0x00; // every request goes to address 0, whatever the device's own
enum Function : quint8 {
    ReadHoldingRegisters = 0x03,
    WriteSingleRegister = 0x06,
    WriteMultipleRegisters = 0x10
};
constexpr quint8 ExceptionBit = 0x80;
constexpr int SingleWriteSize = 8;
constexpr int ReadRequestSize = 8;
constexpr int ReadReplyOverhead = 5; // address, function, byte count, two CRC bytes
constexpr int ExceptionReplySize = 5;
constexpr quint16 MaxReadRegisters = 125; // a read reply's byte count (one byte) holds at most 250
} // namespace Modbus

// The three request layouts. 16-bit fields go high byte first, the CRC low byte first.
QByteArray modbusReadRequest(quint16 startRegister, quint16 count);
QByteArray modbusWriteSingle(quint16 reg, quint16 value);
QByteArray modbusWriteMultiple(quint16 startRegister, quint16 registerCount, const QByteArray &data);
// The same Modbus request sent to another device address: byte 0 replaced, the CRC computed anew.
// Only for Modbus requests (native frames carry no address); fewer than 3 bytes come back unchanged.
QByteArray withModbusAddress(const QByteArray &request, quint8 address);

// Every register the tool reads or writes. For the per-unit registers the high byte selects the
// unit (0 = average of the four, 1 to 4 = "No.1" to "No.4") and these constants name the low byte.
namespace Register {
constexpr quint16 DeviceAddress = 0x0000;
constexpr quint16 SleepWake = 0x00A2;
constexpr quint16 FactorySettings = 0x00A5;
constexpr quint16 WorkMode = 0x00A6;
constexpr quint16 SelfTest = 0x00A7;
constexpr quint16 TempHumi = 0x00A8;
constexpr quint16 ManualClean = 0x00A9;
constexpr quint16 AutoClean = 0x00AA;
constexpr quint16 HeaterControl = 0x00AB;
constexpr quint16 HeatTempThresholds = 0x00AC;
constexpr quint16 HeatHumiThresholds = 0x00AD;
constexpr quint16 GlobalOnOff = 0x00AE;
constexpr quint16 Protocol = 0x00B1;
constexpr quint16 Measurement = 0x00B4;        // per unit, read 4
constexpr quint16 TransparentChannel = 0x0011; // per unit 1 to 4, read 19, write 10 registers
constexpr quint16 CalibrationPm25 = 0x00C3;    // per unit, 2 registers each
constexpr quint16 CalibrationPm10 = 0x00C5;
constexpr quint16 CalibrationPm100 = 0x00C7;
constexpr quint16 SelfTestFactors = 0x00C9;    // read 4
constexpr quint16 BaudRate = 0x00CD;

constexpr quint16 forUnit(quint8 unit, quint16 reg) { return quint16((unit << 8) | (reg & 0xFF)); }

constexpr quint16 MeasurementCount = 4;
constexpr quint16 TransparentReadCount = 19;
constexpr quint16 TransparentWriteCount = 10;
constexpr quint16 CalibrationCount = 2;
constexpr quint16 SelfTestFactorCount = 4;
} // namespace Register

// Register values with a fixed meaning.
namespace Value {
constexpr quint16 Sleep = 0x0000;
constexpr quint16 Wake = 0x0001;
constexpr quint16 FactoryReset = 0x0001;
constexpr quint16 ProtocolModbus = 0x0003;
constexpr quint16 ProtocolKelvra = 0x0000;
constexpr quint8 WorkModeAutoAll = 0x01;
constexpr quint8 WorkModeAutoSingle = 0x02;
constexpr quint8 WorkModeSelected = 0x03;
constexpr quint8 HeaterManual = 0x00;
constexpr quint8 HeaterAuto = 0x01;
constexpr quint8 BaudCode4800 = 2;
constexpr quint8 BaudCode9600 = 3;
constexpr quint8 BaudCode19200 = 4;
} // namespace Value

#endif
