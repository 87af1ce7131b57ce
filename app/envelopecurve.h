#ifndef ZELVIK_ENVELOPECURVE_H
#define ZELVIK_ENVELOPECURVE_H

#include "readingstore.h"

#include <qwt_plot_curve.h>
#include <qwt_series_data.h>

// One series of the reading store as a chart curve. At each redraw it asks the store for the
// lowest and highest value of every pixel column of the visible range and draws that envelope, a
// few thousand points whatever the length of the session; a gap in the series breaks the line.
class EnvelopeCurve : public QwtPlotCurve
{
public:
    EnvelopeCurve(const ReadingStore &store, int target, ReadingStore::Size size, const QString &title);

    // The points of the last redraw (x in ms since the epoch); NaN separates the runs between gaps.
    const QVector<QPointF> &drawnPoints() const;

protected:
    void drawSeries(QPainter *painter, const QwtScaleMap &xMap, const QwtScaleMap &yMap, const QRectF &canvasRect,
                    int from, int to) const override;

private:
    class Data;
    Data *m_data; // owned by the curve
};

#endif
