#ifndef ZELVIK_SESSIONLINE_H
#define ZELVIK_SESSIONLINE_H

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// What a session writes through: the serial link in the programs, a recording stand-in in tests.
class SessionLine
{
public:
    virtual ~SessionLine() = default;
    virtual bool isOpen() const = 0;
    // Writes the whole frame in one write; false, with the system's reason, when it could not.
    virtual bool write(const QByteArray &frame, QString *error) = 0;
    virtual bool setBaudRate(qint32 rate) = 0;
    virtual qint32 baudRate() const = 0;
};

#endif
