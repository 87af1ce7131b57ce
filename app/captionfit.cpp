#include "captionfit.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLayout>
#include <QMainWindow>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionGroupBox>
#include <QStyleOptionTab>
#include <QTabBar>
#include <QTabWidget>
#include <QTextDocument>

namespace {

// How far, in pixels, the ink of text laid out in room with the alignment as the styles lay it
// out (by its advance and line height) reaches outside clip; 0 or less when it stays inside.
qreal inkOverflow(const QFont &font, const QString &text, const QRect &room, Qt::Alignment alignment,
                  const QRect &clip)
{
    const QFontMetricsF metrics(font);
    const qreal advance = metrics.horizontalAdvance(text);
    qreal left = room.left();
    if (alignment & Qt::AlignHCenter)
        left += (room.width() - advance) / 2;
    else if (alignment & Qt::AlignRight)
        left += room.width() - advance;
    qreal top = room.top();
    if (alignment & Qt::AlignVCenter)
        top += (room.height() - metrics.height()) / 2;
    else if (alignment & Qt::AlignBottom)
        top += room.height() - metrics.height();

    const QRectF ink = metrics.tightBoundingRect(text).translated(left, top + metrics.ascent());
    const QRectF inside(clip.left(), clip.top(), clip.width(), clip.height());
    return qMax(qMax(inside.left() - ink.left(), ink.right() - inside.right()),
                qMax(inside.top() - ink.top(), ink.bottom() - inside.bottom()));
}

// The widget's rectangle less what its siblings cover at its left or right end: a caption that
// runs into its field is cut off or printed over the field's frame.
QRect uncoveredRect(const QWidget *widget)
{
    const QWidget *parent = widget->parentWidget();
    if (!parent || widget->isWindow())
        return widget->rect();
    QRect rect = widget->geometry();
    for (const QObject *child : parent->children()) {
        const auto *sibling = qobject_cast<const QWidget *>(child);
        if (!sibling || sibling == widget || sibling->isWindow() || sibling->isHidden()
            || !sibling->geometry().intersects(rect))
            continue;
        if (sibling->geometry().left() > rect.left())
            rect.setRight(sibling->geometry().left() - 1);
        else if (sibling->geometry().right() < rect.right())
            rect.setLeft(sibling->geometry().right() + 1);
    }
    return rect.translated(-widget->pos());
}

qreal buttonOverflow(const QAbstractButton *button)
{
    QStyleOptionButton option;
    option.initFrom(button);
    option.text = button->text();
    if (qobject_cast<const QPushButton *>(button)) {
        // Centred inside the bevel; ink on the bevel counts as cut.
        const QRect room = button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button);
        return inkOverflow(button->font(), option.text, room, Qt::AlignCenter, room & uncoveredRect(button));
    }
    const QStyle::SubElement element = qobject_cast<const QRadioButton *>(button) ? QStyle::SE_RadioButtonContents
                                                                                  : QStyle::SE_CheckBoxContents;
    const QRect room = button->style()->subElementRect(element, &option, button);
    return inkOverflow(button->font(), option.text, room, Qt::AlignLeft | Qt::AlignVCenter,
                       uncoveredRect(button));
}

qreal groupBoxOverflow(const QGroupBox *box)
{
    QStyleOptionGroupBox option;
    option.initFrom(box);
    option.text = box->title();
    option.subControls = QStyle::SC_GroupBoxLabel | QStyle::SC_GroupBoxFrame;
    const QRect room = box->style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, box);
    // Some styles draw the title in bold and size its rectangle for that.
    QFont bold = box->font();
    bold.setBold(true);
    const QFont &font = box->fontMetrics().horizontalAdvance(option.text) < room.width() - 1 ? bold : box->font();
    return inkOverflow(font, option.text, room, Qt::AlignLeft | Qt::AlignVCenter, uncoveredRect(box));
}

qreal tabOverflow(const QTabWidget *tabs, int index)
{
    const QTabBar *bar = tabs->tabBar();
    QStyleOptionTab option;
    option.initFrom(bar);
    option.shape = bar->shape();
    option.rect = bar->tabRect(index);
    option.text = bar->tabText(index);
    const QRect room = bar->style()->subElementRect(QStyle::SE_TabBarTabText, &option, bar);
    // A tab that ends past the tab widget's edge has scrolled out of sight.
    const qreal beyondEdge = bar->mapTo(tabs, option.rect.topRight()).x() - (tabs->width() - 1);
    return qMax(inkOverflow(bar->font(), option.text, room, Qt::AlignCenter, option.rect), beyondEdge);
}

bool inLayout(const QLayout *layout, const QWidget *widget)
{
    for (int i = 0; layout && i < layout->count(); ++i) {
        QLayoutItem *item = layout->itemAt(i);
        if (item->widget() == widget || inLayout(item->layout(), widget))
            return true;
    }
    return false;
}

// A layout gives its widgets the room their size hints ask for; only widgets placed at fixed
// coordinates can be too small for their captions.
bool placedByLayout(const QWidget *widget)
{
    const QWidget *parent = widget->parentWidget();
    if (!parent || !parent->layout())
        return false;
    // A main window's own layout places its bars and central widget and cannot be walked.
    if (qobject_cast<const QMainWindow *>(parent))
        return true;
    return inLayout(parent->layout(), widget);
}

} // namespace

QList<ClippedCaption> clippedCaptions(const QWidget *root)
{
    QList<ClippedCaption> clipped;
    // The ink box counts every pixel a glyph touches, its anti-aliased edge included, so ink that
    // reaches one pixel past an edge has lost nothing readable.
    auto note = [&clipped](const QString &name, const QString &caption, qreal overflow) {
        if (!caption.isEmpty() && overflow > 1)
            clipped.append({name, caption, overflow});
    };
    for (const QWidget *widget : root->findChildren<QWidget *>()) {
        if (placedByLayout(widget))
            continue;
        if (const auto *label = qobject_cast<const QLabel *>(widget)) {
            if (label->wordWrap() || Qt::mightBeRichText(label->text()))
                continue;
            const int margin = label->margin();
            const QRect room = label->contentsRect().adjusted(margin, margin, -margin, -margin);
            note(label->objectName(), label->text(),
                 inkOverflow(label->font(), label->text(), room, label->alignment(), room & uncoveredRect(label)));
        } else if (const auto *button = qobject_cast<const QAbstractButton *>(widget)) {
            if (qobject_cast<const QPushButton *>(button) || qobject_cast<const QRadioButton *>(button)
                || qobject_cast<const QCheckBox *>(button))
                note(button->objectName(), button->text(), buttonOverflow(button));
        } else if (const auto *box = qobject_cast<const QGroupBox *>(widget)) {
            note(box->objectName(), box->title(), groupBoxOverflow(box));
        } else if (const auto *tabs = qobject_cast<const QTabWidget *>(widget)) {
            for (int i = 0; i < tabs->count(); ++i) {
                note(tabs->objectName() + QLatin1Char('#') + QString::number(i), tabs->tabText(i),
                     tabOverflow(tabs, i));
            }
        }
    }
    return clipped;
}
