#include "trend/TrendLegend.h"

#include <QAreaSeries>
#include <QChart>
#include <QFontMetrics>
#include <QGraphicsRectItem>
#include <QGraphicsSimpleTextItem>
#include <QLegend>
#include <QXYSeries>

namespace {

constexpr int Swatch = 10;
constexpr int SwatchGap = 4;
constexpr int EntryGap = 14;
constexpr int Inset = 6;

struct TEntry {
    QString Text;
    QColor Colour;
    int Width;
};

} // namespace

TTrendLegend::TTrendLegend(QChart* chart)
    : QObject(chart), Chart(chart), BaseBottom(chart->margins().bottom()) {
    Chart->legend()->setVisible(false);
    connect(Chart, &QChart::geometryChanged, this, &TTrendLegend::Relayout);
    Relayout();
}

void TTrendLegend::Relayout() {
    for (QGraphicsItem* item : Items)
        delete item;
    Items.clear();

    const QFont font = Chart->legend()->font();
    const QFontMetrics metrics(font);
    std::vector<TEntry> entries;
    // One entry per name: a channel's later stretches are series of the same name.
    QStringList named;
    for (QAbstractSeries* series : Chart->series()) {
        connect(series, &QAbstractSeries::visibleChanged, this, &TTrendLegend::Relayout,
                Qt::UniqueConnection);
        if (!series->isVisible() || named.contains(series->name()))
            continue;
        named << series->name();
        QColor colour;
        if (auto* area = qobject_cast<QAreaSeries*>(series))
            colour = area->color();
        else if (auto* line = qobject_cast<QXYSeries*>(series))
            colour = line->color();
        entries.push_back(
            {series->name(), colour, Swatch + SwatchGap + metrics.horizontalAdvance(series->name())});
    }

    // Rows as wide as the chart allows, each centred; an entry wider than a row has a row of its own.
    const int room = std::max(1, static_cast<int>(Chart->size().width()) - 2 * Inset);
    std::vector<std::vector<const TEntry*>> rows;
    int used = 0;
    for (const TEntry& entry : entries) {
        if (rows.empty() || used + EntryGap + entry.Width > room) {
            rows.emplace_back();
            used = entry.Width;
        } else
            used += EntryGap + entry.Width;
        rows.back().push_back(&entry);
    }
    const int rowCount = static_cast<int>(rows.size());

    const int rowHeight = metrics.height() + 2;
    QMargins margins = Chart->margins();
    const int bottom = BaseBottom + rowCount * rowHeight + (rowCount ? 2 : 0);
    if (margins.bottom() != bottom) {
        margins.setBottom(bottom);
        Chart->setMargins(margins);
    }
    int top = static_cast<int>(Chart->size().height()) - BaseBottom - rowCount * rowHeight;
    for (const auto& row : rows) {
        int width = -EntryGap;
        for (const TEntry* entry : row)
            width += EntryGap + entry->Width;
        int left = Inset + std::max(0, (room - width) / 2);
        for (const TEntry* entry : row) {
            auto* swatch = new QGraphicsRectItem(left, top + (rowHeight - Swatch) / 2, Swatch, Swatch, Chart);
            swatch->setBrush(entry->Colour);
            swatch->setPen(QPen(entry->Colour.darker(130)));
            auto* text = new QGraphicsSimpleTextItem(entry->Text, Chart);
            text->setFont(font);
            text->setBrush(Chart->legend()->labelColor());
            text->setPos(left + Swatch + SwatchGap, top + (rowHeight - metrics.height()) / 2);
            Items.push_back(swatch);
            Items.push_back(text);
            left += entry->Width + EntryGap;
        }
        top += rowHeight;
    }
}
