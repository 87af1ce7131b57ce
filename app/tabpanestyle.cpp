#include "tabpanestyle.h"

#include <QPainter>
#include <QStyleOptionTabWidgetFrame>

namespace {
constexpr int LineWidth = 1;
}

// The base is a style of the application's kind made for this one (QProxyStyle's default): a
// proxy takes over its base's metrics, so it must not be the style the other widgets use.
TabPaneStyle::TabPaneStyle(const QColor &line)
    : line(line)
{
}

int TabPaneStyle::pixelMetric(PixelMetric metric, const QStyleOption *option, const QWidget *widget) const
{
    // The pane starts below the tab bar instead of under its last pixels.
    if (metric == PM_TabBarBaseOverlap)
        return 0;
    return QProxyStyle::pixelMetric(metric, option, widget);
}

QRect TabPaneStyle::subElementRect(SubElement element, const QStyleOption *option, const QWidget *widget) const
{
    if (element == SE_TabWidgetTabContents && qstyleoption_cast<const QStyleOptionTabWidgetFrame *>(option)) {
        const QRect pane = QProxyStyle::subElementRect(SE_TabWidgetTabPane, option, widget);
        return pane.adjusted(LineWidth, LineWidth, -LineWidth, -LineWidth);
    }
    return QProxyStyle::subElementRect(element, option, widget);
}

void TabPaneStyle::drawPrimitive(PrimitiveElement element, const QStyleOption *option, QPainter *painter,
                                 const QWidget *widget) const
{
    if (element != PE_FrameTabWidget) {
        QProxyStyle::drawPrimitive(element, option, painter, widget);
        return;
    }
    // Four filled one-pixel strips, antialiased, as a style sheet draws a solid border: the same
    // pixels at every scale factor.
    const QRectF r(option->rect);
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setPen(Qt::NoPen);
    painter->setBrush(line);
    painter->drawRect(QRectF(r.x(), r.y() + r.height() - LineWidth, r.width(), LineWidth));
    painter->drawRect(QRectF(r.x() + r.width() - LineWidth, r.y(), LineWidth, r.height()));
    painter->drawRect(QRectF(r.x(), r.y(), LineWidth, r.height()));
    painter->drawRect(QRectF(r.x(), r.y(), r.width(), LineWidth));
    painter->restore();
}
