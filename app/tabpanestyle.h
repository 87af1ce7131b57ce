#ifndef TABPANESTYLE_H
#define TABPANESTYLE_H

#include <QColor>
#include <QProxyStyle>

// The command tabs' frame: a one-pixel line of one colour around the pages, nothing filled
// inside it, the pages one pixel in from the line and the line right under the tab bar. A style
// sheet on the tab widget draws the same, but it also puts every widget on every page under the
// style-sheet machinery, which made the window's start-up 7 % longer.
class TabPaneStyle : public QProxyStyle
{
public:
    explicit TabPaneStyle(const QColor &line);

    int pixelMetric(PixelMetric metric, const QStyleOption *option = nullptr,
                    const QWidget *widget = nullptr) const override;
    QRect subElementRect(SubElement element, const QStyleOption *option, const QWidget *widget) const override;
    void drawPrimitive(PrimitiveElement element, const QStyleOption *option, QPainter *painter,
                       const QWidget *widget = nullptr) const override;

private:
    QColor line;
};

#endif // TABPANESTYLE_H
