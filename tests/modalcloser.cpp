#include "modalcloser.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDateTime>
#include <QMessageBox>

ModalCloser::ModalCloser(int closeAfterMs, QObject *parent)
    : QObject(parent)
    , m_closeAfterMs(closeAfterMs)
{
    connect(&m_timer, &QTimer::timeout, this, &ModalCloser::check);
    m_timer.start(10);
}

bool ModalCloser::isBoxOpen() const
{
    return qobject_cast<QMessageBox *>(QApplication::activeModalWidget()) != nullptr;
}

void ModalCloser::check()
{
    auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
    if (!box)
        return;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (box != m_current) {
        m_current = box;
        m_openedAt = now;
        Box seen {box->windowTitle(), box->text(), {}};
        for (QAbstractButton *button : box->buttons())
            seen.buttons << (box->standardButton(button) == QMessageBox::Ok ? QStringLiteral("Ok") : button->text());
        m_boxes.append(seen);
    }
    if (now - m_openedAt >= m_closeAfterMs && !box->buttons().isEmpty()) {
        m_current = nullptr;
        box->buttons().first()->click();
    }
}
