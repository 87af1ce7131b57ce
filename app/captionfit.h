#ifndef ZELVIK_CAPTIONFIT_H
#define ZELVIK_CAPTIONFIT_H

#include <QList>
#include <QString>

class QWidget;

// The form places every widget at fixed coordinates, so a font wider or taller than the one the
// form was drawn with cuts captions off. This measures the ink of each caption, with the font the
// widget really uses, against the room the widget's style gives it.
struct ClippedCaption {
    QString objectName; // for a tab title, the tab widget's name and the title's index, "tabWidget#3"
    QString caption;
    qreal overflow = 0; // pixels of ink outside the room, the larger of the two directions
};

// Labels (not word-wrapped), push buttons, radio buttons, check boxes, group box titles and tab
// titles under root, visible or not, whose caption's ink reaches more than one pixel past the
// room its style gives it, or into a sibling widget beside it. Widgets that a layout places (the
// status bar's) are left out: the layout sizes them for their captions.
QList<ClippedCaption> clippedCaptions(const QWidget *root);

#endif
