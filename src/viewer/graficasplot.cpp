// The plot of the window "Climalog - Gráficas": a strip per kind of series
// on one time axis, a graph per series shown, reduced to the range in view;
// and the legend's rows in the order of the strips.
#include "viewer/graficas.h"

#include <qcustomplot.h>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

const QColor colors[] = {QColor(0x1f77b4), QColor(0xd62728), QColor(0x2ca02c), QColor(0xff7f0e),
                         QColor(0x9467bd), QColor(0x8c564b), QColor(0xe377c2), QColor(0x7f7f7f),
                         QColor(0xbcbd22), QColor(0x17becf)};

constexpr double inputStep = 1.5; // inputs stack in their strip, 0..1 each

} // namespace

void graficas::buildPlot(bool keepLegend)
{
    plot->clearItems();
    plot->clearGraphs();
    plot->plotLayout()->clear();
    delete margins_;
    margins_ = new QCPMarginGroup(plot);
    groups_.clear();

    const std::vector<Series> &all = series().all();
    graphs_.assign(all.size(), nullptr);
    offsets_.assign(all.size(), 0.0);
    for (std::vector<int> &strip : strips(all)) {
        const Column &c = all[static_cast<std::size_t>(strip.front())].column;
        groups_.push_back(Group{c.kind, c.unit, nullptr, nullptr, std::move(strip)});
    }

    std::vector<LegendModel::Row> rows;
    const auto fillLegend = [&] {
        if (!keepLegend)
            legend_->setRows(&series(), std::move(rows));
    };
    if (groups_.empty()) {
        plot->plotLayout()->addElement(0, 0,
                                       new QCPTextElement(plot, QStringLiteral("Sin lecturas")));
        fillLegend();
        plot->replot(QCustomPlot::rpQueuedReplot);
        return;
    }
    for (std::size_t row = 0; row < groups_.size(); ++row) {
        Group &g = groups_[row];
        auto *rect = new QCPAxisRect(plot);
        g.rect = rect;
        plot->plotLayout()->addElement(static_cast<int>(row), 0, rect);
        rect->setMarginGroup(QCP::msLeft | QCP::msRight, margins_);
        rect->axis(QCPAxis::atTop)->setVisible(false);
        rect->axis(QCPAxis::atRight)->setVisible(false);
        QCPAxis *x = rect->axis(QCPAxis::atBottom);
        QCPAxis *y = rect->axis(QCPAxis::atLeft);
        x->setTicker(ticker_);
        x->setTickLabels(row + 1 == groups_.size());
        rect->setRangeDrag(Qt::Horizontal);
        rect->setRangeZoom(Qt::Horizontal);
        rect->setRangeDragAxes(x, nullptr);
        rect->setRangeZoomAxes(x, nullptr);
        connect(x, qOverload<const QCPRange &>(&QCPAxis::rangeChanged), this,
                [this](const QCPRange &r) { onRangeDragged(r.lower, r.upper); });

        switch (g.kind) {
        case Kind::Temperature:
            y->setLabel(QStringLiteral("Temperatura (\u00BAC)"));
            break;
        case Kind::Humidity:
            y->setLabel(QStringLiteral("Humedad (%)"));
            break;
        case Kind::Channel:
            y->setLabel(g.unit.isEmpty() ? QStringLiteral("Canales (sin unidad)")
                                         : QStringLiteral("Canales (%1)").arg(g.unit));
            break;
        case Kind::Input:
            y->setLabel(QStringLiteral("Entradas"));
            break;
        }

        auto labels = QSharedPointer<QCPAxisTickerText>::create();
        int stacked = 0; // inputs with a graph, stacked in their strip
        for (std::size_t k = 0; k < g.series.size(); ++k) {
            const int s = g.series[k];
            const QString &name = all[static_cast<std::size_t>(s)].column.name;
            rows.push_back({s, colors[k % std::size(colors)]});
            if (static_cast<int>(rows.size()) > shownAtOnce && !turnedOn_.contains(name))
                continue;
            QCPGraph *graph = plot->addGraph(x, y);
            // One pixel wide: wider lines take twice as long to draw.
            graph->setPen(QPen(colors[k % std::size(colors)], 1));
            graph->setName(name);
            graph->setVisible(!hidden_.contains(name));
            if (g.kind == Kind::Input) {
                graph->setLineStyle(QCPGraph::lsStepLeft);
                offsets_[static_cast<std::size_t>(s)] = stacked * inputStep;
                labels->addTick(stacked * inputStep + 0.5, name);
                ++stacked;
            }
            graphs_[static_cast<std::size_t>(s)] = graph;
        }
        if (g.kind == Kind::Input) {
            y->setTicker(labels);
            y->setRange(-0.3, stacked * inputStep - 0.2);
            plot->plotLayout()->setRowStretchFactor(static_cast<int>(row),
                                                    std::min(1.0, 0.15 * stacked + 0.2));
        }

        g.line = new QCPItemStraightLine(plot);
        g.line->setClipAxisRect(rect);
        g.line->point1->setAxes(x, y);
        g.line->point2->setAxes(x, y);
        g.line->setPen(QPen(Qt::gray, 1, Qt::DashLine));
        g.line->setVisible(false);
    }
    fillLegend();
    applyRange();
}

void graficas::applyRange()
{
    syncing_ = true;
    for (Group &g : groups_)
        g.rect->axis(QCPAxis::atBottom)->setRange(from_, to_);
    syncing_ = false;
}

void graficas::setSeriesShown(int series, bool shown)
{
    if (series < 0 || static_cast<std::size_t>(series) >= graphs_.size())
        return;
    const QString &name = files_.series().all()[static_cast<std::size_t>(series)].column.name;
    if (shown)
        hidden_.remove(name);
    else
        hidden_.insert(name);
    QCPGraph *g = graphs_[static_cast<std::size_t>(series)];
    if (g)
        g->setVisible(shown);
    else if (shown)
        turnedOn_.insert(name); // the name stays on, as hidden ones stay off
    // Its readings are let go, or read (here, or in the thread when the
    // files are big: "Leyendo …" meanwhile).
    const bool before = loading();
    files_.choose(choice());
    if (!before && loading())
        rereading_ = true;
    // Read again here, the files may have gained series meanwhile.
    const bool same = graphs_.size() == files_.series().all().size();
    if ((!g && shown) || !same)
        buildPlot(same);
    legend_->shownChanged(series);
    showErrors();
    redraw();
}

bool graficas::seriesShown(int series) const
{
    if (series < 0 || static_cast<std::size_t>(series) >= graphs_.size() ||
        !graphs_[static_cast<std::size_t>(series)])
        return false;
    return graphs_[static_cast<std::size_t>(series)]->visible();
}

int graficas::plottedPoints(int series) const
{
    if (series < 0 || static_cast<std::size_t>(series) >= graphs_.size() ||
        !graphs_[static_cast<std::size_t>(series)])
        return 0;
    return graphs_[static_cast<std::size_t>(series)]->data()->size();
}

void graficas::redraw(bool now)
{
    const std::vector<Series> &all = series().all();
    const double span = to_ - from_;
    ticker_->setDateTimeFormat(span < 2 * 3600         ? QStringLiteral("HH:mm:ss")
                                   : span <= 2 * 86400 ? QStringLiteral("HH:mm")
                                                       : QStringLiteral("dd-MM\nHH:mm"));
    legend_->setRange(from_, to_);
    // A few points per pixel column whatever the range: redraws stay fast.
    const int columns = std::max(64, plot->width());
    QVector<QCPGraphData> data;
    for (Group &g : groups_) {
        double low = std::numeric_limits<double>::infinity(), high = -low;
        for (const int s : g.series) {
            QCPGraph *graph = graphs_[static_cast<std::size_t>(s)];
            if (!graph)
                continue;
            if (!graph->visible()) {
                graph->data()->clear();
                continue;
            }
            const Series &se = all[static_cast<std::size_t>(s)];
            const Stats st = stats(se, from_, to_);
            decimate(se, from_, to_, columns, scratch_);
            const double offset = offsets_[static_cast<std::size_t>(s)];
            data.resize(static_cast<qsizetype>(scratch_.t.size()));
            for (std::size_t i = 0; i < scratch_.t.size(); ++i)
                data[static_cast<qsizetype>(i)] =
                    QCPGraphData(scratch_.t[i], scratch_.v[i] + offset);
            graph->data()->set(data, true);
            if (st.count > 0) {
                low = std::min(low, st.min);
                high = std::max(high, st.max);
            }
        }
        if (g.kind != Kind::Input && low <= high) {
            double pad = (high - low) * 0.08;
            if (pad == 0)
                pad = std::max(std::abs(high) * 0.05, 0.5);
            g.rect->axis(QCPAxis::atLeft)->setRange(low - pad, high + pad);
        }
    }
    plot->replot(now ? QCustomPlot::rpImmediateRefresh : QCustomPlot::rpQueuedReplot);
}

void graficas::hover(double t)
{
    const double within = std::max(3 * (to_ - from_) / std::max(64, plot->width()), 5.0);
    cursor->setText(QStringLiteral("Cursor: %1")
                        .arg(CaptureReader::toDateTime(std::llround(t * 1000))
                                 .toString(QStringLiteral("dd-MM-yyyy HH:mm:ss"))));
    legend_->setCursor(t, within);
    for (Group &g : groups_) {
        g.line->point1->setCoords(t, 0);
        g.line->point2->setCoords(t, 1);
        g.line->setVisible(true);
    }
    plot->replot(QCustomPlot::rpQueuedReplot);
}
