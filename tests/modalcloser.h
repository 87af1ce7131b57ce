#ifndef ZELVIK_MODALCLOSER_H
#define ZELVIK_MODALCLOSER_H

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

// Watches for modal message boxes, records what each showed and closes it with its first button
// after it has been open for closeAfterMs. Modal boxes run a nested event loop, so a test that
// presses something that opens one must have this running first.
class ModalCloser : public QObject
{
    Q_OBJECT
public:
    struct Box {
        QString title;
        QString text;
        QStringList buttons;
    };

    explicit ModalCloser(int closeAfterMs = 50, QObject *parent = nullptr);
    QList<Box> boxes() const { return m_boxes; }
    int count() const { return m_boxes.size(); }
    bool isBoxOpen() const;
    void clear() { m_boxes.clear(); }

private:
    void check();

    QTimer m_timer;
    int m_closeAfterMs;
    QObject *m_current = nullptr;
    qint64 m_openedAt = 0;
    QList<Box> m_boxes;
};

#endif
