#ifndef ZELVIK_SIMPROCESS_H
#define ZELVIK_SIMPROCESS_H

#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>

// The simulated sensor (the program named by ZELVIK_SIM) as a child process. It always runs with
// --verbose: its log of every reply it put on the line, and of the faults it applied, is what
// tests compare the window against.
class Simulator
{
public:
    struct Reply {
        QByteArray bytes;
        bool corrupted = false;
        bool complete = true; // false while only the first part of a split reply has gone out
    };

    Simulator() = default;
    ~Simulator() { stop(); }
    Simulator(const Simulator &) = delete;
    Simulator &operator=(const Simulator &) = delete;

    // Starts it with these options and waits for the terminal path it prints; error says why not.
    bool start(const QStringList &options);
    void stop();
    // Every reply written so far, its parts joined, in order.
    QList<Reply> replies() const;
    int completeReplies() const;
    // Everything it logged so far.
    QString logText() const { return log; }

    QString path;
    QString error;

private:
    QProcess process;
    QString log;
};

#endif
