#ifndef ZELVIK_SERIALLINK_H
#define ZELVIK_SERIALLINK_H

#include "sessionline.h"

#include <QObject>
#include <QSerialPort>

// The serial port of both programs: opened 8N1 without flow control at a rate, with the reason
// named when it cannot be opened, and a signal when the device or its adapter goes away.
class SerialLink : public QObject, public SessionLine
{
    Q_OBJECT
public:
    explicit SerialLink(QObject *parent = nullptr);

    // False when the port cannot be opened or set up; openFailure() then says why.
    bool open(const QString &portName, qint32 rate);
    void close();
    // "Cannot open /dev/ttyUSB0: <why>", after a failed open().
    QString openFailure() const { return m_openFailure; }
    // The device node a port name stands for: a path as it is, a bare name under /dev.
    static QString systemLocation(const QString &portName);

    bool isOpen() const override { return m_port.isOpen(); }
    bool write(const QByteArray &frame, QString *error) override;
    bool setBaudRate(qint32 rate) override { return m_port.setBaudRate(rate); }
    qint32 baudRate() const override { return m_port.baudRate(); }

    QByteArray readAll() { return m_port.readAll(); }
    QSerialPort &port() { return m_port; }

signals:
    void readyRead();
    // The port was closed because the device or its adapter went away; reason is the system's.
    void lost(const QString &reason);
    // A write failed after it was accepted (the system's reason).
    void writeFailed(const QString &reason);

private:
    void onError(QSerialPort::SerialPortError error);
    QString failureReason(const QString &portName) const;

    QSerialPort m_port;
    QString m_openFailure;
};

#endif
