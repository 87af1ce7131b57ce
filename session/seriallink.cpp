#include "seriallink.h"

#include <QCoreApplication>

#include <fcntl.h>
#include <unistd.h>

namespace {

QString text(const char *source)
{
    return QCoreApplication::translate("MainWindow", source);
}

} // namespace

SerialLink::SerialLink(QObject *parent)
    : QObject(parent)
{
    connect(&m_port, &QSerialPort::readyRead, this, &SerialLink::readyRead);
    connect(&m_port, &QSerialPort::errorOccurred, this, &SerialLink::onError);
}

QString SerialLink::systemLocation(const QString &portName)
{
    return portName.startsWith(QLatin1Char('/')) ? portName : QStringLiteral("/dev/") + portName;
}

bool SerialLink::open(const QString &portName, qint32 rate)
{
    m_openFailure.clear();
    if (portName.trimmed().isEmpty()) {
        m_openFailure = text("Cannot open a port: none is chosen (pick one or type its path)");
        return false;
    }
    m_port.setPortName(portName);
    if (!m_port.open(QIODevice::ReadWrite)) {
        m_openFailure = text("Cannot open %1: %2").arg(portName, failureReason(portName));
        return false;
    }
    const bool set = m_port.setBaudRate(rate) && m_port.setDataBits(QSerialPort::Data8)
        && m_port.setParity(QSerialPort::NoParity) && m_port.setStopBits(QSerialPort::OneStop)
        && m_port.setFlowControl(QSerialPort::NoFlowControl);
    if (!set) {
        m_openFailure = text("Cannot open %1: %2").arg(portName, m_port.errorString());
        m_port.close();
        return false;
    }
    return true;
}

QString SerialLink::failureReason(const QString &portName) const
{
    QString reason = m_port.errorString();
    if (m_port.error() != QSerialPort::PermissionError)
        return reason;
    // The serial library reports a port locked by another program as a permission error too. When
    // this user may read and write the device node, the lock is the cause, not the permissions.
    if (::faccessat(AT_FDCWD, systemLocation(portName).toLocal8Bit().constData(), R_OK | W_OK, AT_EACCESS) == 0)
        return text("the port is in use by another program (the system said: %1)").arg(reason);
    // On Debian serial ports belong to the dialout group; this is the usual cause.
    return reason
        + text(" (no permission: add your user to the dialout group, e.g. \"sudo adduser $USER dialout\", "
               "then log out and in again)");
}

void SerialLink::close()
{
    m_port.close();
}

bool SerialLink::write(const QByteArray &frame, QString *error)
{
    if (m_port.write(frame) != frame.size()) {
        *error = m_port.errorString();
        return false;
    }
    m_port.flush(); // on its way now, not at the next turn of the event loop
    return true;
}

void SerialLink::onError(QSerialPort::SerialPortError error)
{
    // The adapter was unplugged or the device went away: a hung-up line reads end-of-file, which
    // the serial library reports as a read error, again and again.
    if ((error == QSerialPort::ResourceError || error == QSerialPort::ReadError) && m_port.isOpen()) {
        const QString reason = m_port.errorString();
        m_port.close();
        emit lost(reason);
    } else if (error == QSerialPort::WriteError) {
        emit writeFailed(m_port.errorString());
    }
}
