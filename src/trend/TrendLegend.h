#pragma once
// TTrendLegend: the trend chart's legend, in rows that wrap under the plot. The chart's own legend
// keeps to one row and cuts its entries short ("Force m...") as soon as the chart is narrower than
// that row; this one, which hides it, shows one entry per name of the chart's visible series, whole,
// in as many rows as the width needs, inside the chart, so that a picture of the chart carries it.
// Its rows take the chart's bottom margin.
//
// Threads: main thread only. Lifetime: a child of the chart, with its drawn items.

#include <QObject>
#include <vector>

class QChart;
class QGraphicsItem;

class TTrendLegend : public QObject {
public:
    explicit TTrendLegend(QChart* chart);
    // Lays the entries out again for the chart's width and its legend's visible markers.
    void Relayout();

private:
    QChart* Chart;
    int BaseBottom;
    std::vector<QGraphicsItem*> Items;
};
