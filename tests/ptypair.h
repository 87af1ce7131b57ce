#ifndef ZELVIK_PTYPAIR_H
#define ZELVIK_PTYPAIR_H

#include <QByteArray>
#include <QString>

// A pseudo-terminal pair for window tests: the window opens slavePath() as its serial port and
// the test reads and writes the device's side through the master.
class PtyPair
{
public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair &) = delete;
    PtyPair &operator=(const PtyPair &) = delete;

    bool isValid() const { return m_master >= 0; }
    QString slavePath() const { return m_slavePath; }

    // Reads until count bytes arrived or timeoutMs passed, running the event loop meanwhile
    // (the serial port writes from the event loop).
    QByteArray read(int count, int timeoutMs = 2000);
    // Everything that arrives within ms, event loop running.
    QByteArray readFor(int ms);
    bool write(const QByteArray &bytes);
    // The speed the window set on the line, in baud (0 when unknown).
    int baudRate() const;
    // True once the slave side has been closed by everyone (the master reads EIO or hang-up).
    bool slaveClosed() const;

private:
    int m_master = -1;
    QString m_slavePath;
};

#endif
