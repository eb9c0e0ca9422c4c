#include "viewer/graficas.h"

#include "monitor/capturename.h"
#include "platform/qtplatform.h"
#include "registry/numtext.h"
#include "viewer/csv.h"

#include <qcustomplot.h>

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QSplitter>
#include <QTableWidget>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

const QColor colors[] = {QColor(0x1f77b4), QColor(0xd62728), QColor(0x2ca02c), QColor(0xff7f0e), QColor(0x9467bd),
                          QColor(0x8c564b), QColor(0xe377c2), QColor(0x7f7f7f), QColor(0xbcbd22), QColor(0x17becf)};

// What is read between two events at most; more is read in a thread.
constexpr qint64 readAtOnce = 1 << 20;

// Bytes a reader has yet to read of its file (all of it when it shrank).
qint64 behind(const CaptureReader &r)
{
    const qint64 size = QFileInfo(r.path()).size();
    return size < r.offset() ? size : size - r.offset();
}

constexpr double inputStep = 1.5; // inputs stack in their strip, 0..1 each
constexpr double shortestSpan = 10;
constexpr int tableColumns = 5;

// As a Spanish user writes them, with the decimal comma of the capture
// files and a zero before it (0,06, -0,02): this window is read by people,
// not by the program's lists. Means and readings of ordinary size to two
// decimals, which is what the sensors resolve.
QString number(double v)
{
    if (std::isnan(v))
        return QStringLiteral("-");
    const double a = std::abs(v);
    if (a >= 0.01 && a < 1e6)
        v = std::round(v * 100) / 100;
    QString text = numcoma(static_cast<float>(v));
    const qsizetype comma = text.startsWith(u'-') ? 1 : 0;
    if (text.size() > comma && text[comma] == u',')
        text.insert(comma, u'0');
    return text;
}

QIcon swatch(const QColor &color)
{
    QPixmap p(12, 12);
    p.fill(color);
    return QIcon(p);
}

} // namespace

graficas::graficas(const QString &captureFolder, std::function<QString()> currentCaptureFile, QWidget *parent)
    : QWidget(parent, Qt::Window), folder_(captureFolder), current_(std::move(currentCaptureFile))
{
    applyProgramFont(this);
    setWindowTitle(QStringLiteral("Climalog - Gr\u00E1ficas"));

    ficheros = new QListWidget;
    ficheros->setSelectionMode(QAbstractItemView::ExtendedSelection);
    ficheros->setToolTip(QStringLiteral("Elija uno o varios días (Ctrl o Mayús para varios)."));
    png = new QPushButton(QStringLiteral("Exportar &imagen..."));
    csv = new QPushButton(QStringLiteral("Exportar &CSV..."));

    plot = new QCustomPlot;
    plot->setInteractions(QCP::iRangeDrag | QCP::iRangeZoom);
    plot->setNoAntialiasingOnDrag(true);
    plot->setPlottingHints(QCP::phFastPolylines | QCP::phCacheLabels);
    plot->setMinimumSize(400, 300);
    // The axes' numbers as the table's: decimal comma, no thousands separator.
    QLocale spanish(QLocale::Spanish, QLocale::Spain);
    spanish.setNumberOptions(QLocale::OmitGroupSeparator);
    plot->setLocale(spanish);
    ticker_ = QSharedPointer<QCPAxisTickerDateTime>::create();

    leyenda = new QTableWidget(0, tableColumns);
    leyenda->setHorizontalHeaderLabels({QStringLiteral("Serie"), QStringLiteral("Cursor"), QStringLiteral("Mínimo"),
                                        QStringLiteral("Media"), QStringLiteral("Máximo")});
    leyenda->verticalHeader()->hide();
    leyenda->verticalHeader()->setDefaultSectionSize(leyenda->fontMetrics().height() + 6);
    leyenda->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    leyenda->setEditTriggers(QAbstractItemView::NoEditTriggers);
    leyenda->setSelectionMode(QAbstractItemView::NoSelection);
    leyenda->setToolTip(QStringLiteral("Marque o desmarque una serie para mostrarla u ocultarla. "
                                       "Mínimo, media y máximo son de la parte visible."));

    cursor = new QLabel;
    estado = new QLabel;
    estado->setWordWrap(true);

    auto *left = new QVBoxLayout;
    left->addWidget(new QLabel(QStringLiteral("Ficheros de captura:")));
    left->addWidget(ficheros, 1);
    left->addWidget(png);
    left->addWidget(csv);

    auto *splitter = new QSplitter(Qt::Vertical);
    splitter->addWidget(plot);
    splitter->addWidget(leyenda);
    splitter->setStretchFactor(0, 3);
    splitter->setStretchFactor(1, 1);
    // Three quarters to the plot whatever it holds when first shown (a file
    // may still be being read then).
    splitter->setSizes({3000, 1000});
    auto *right = new QVBoxLayout;
    right->addWidget(splitter, 1);
    right->addWidget(cursor);

    auto *row = new QHBoxLayout;
    row->addLayout(left);
    row->addLayout(right, 1);
    auto *all = new QVBoxLayout(this);
    all->addLayout(row, 1);
    all->addWidget(estado);
    ficheros->setMaximumWidth(190);

    connect(ficheros, &QListWidget::itemSelectionChanged, this, &graficas::onSelection);
    connect(leyenda, &QTableWidget::itemChanged, this, [this](QTableWidgetItem *item) {
        if (!filling_ && item->column() == 0)
            setSeriesShown(item->data(Qt::UserRole).toInt(), item->checkState() == Qt::Checked);
    });
    connect(plot, &QCustomPlot::mouseMove, this, [this](QMouseEvent *e) {
        if (!groups_.empty())
            hover(groups_.front().rect->axis(QCPAxis::atBottom)->pixelToCoord(e->position().x()));
    });
    connect(plot, &QCustomPlot::mouseDoubleClick, this, [this](QMouseEvent *) { resetRange(); });
    connect(png, &QPushButton::clicked, this, &graficas::askPng);
    connect(csv, &QPushButton::clicked, this, &graficas::askCsv);

    // Lines are written every second at most: a look now and then shows
    // them soon enough and costs a file status when nothing changed.
    timer = new QTimer(this);
    timer->setInterval(750);
    connect(timer, &QTimer::timeout, this, &graficas::followFiles);

    resize(1100, 720);
    lastCurrent_ = currentName();
    refreshFiles();
    buildPlot();
    // The day being captured, or else the newest day.
    if (!lastCurrent_.isEmpty() && !ficheros->findItems(lastCurrent_, Qt::MatchStartsWith).isEmpty())
        open({lastCurrent_});
    else if (ficheros->count() > 0)
        open({ficheros->item(0)->data(Qt::UserRole).toString()});
    else
        showErrors();
}

graficas::~graficas()
{
    if (loader_) {
        stopLoading_ = true;
        loader_->wait();
    }
}

bool graficas::isLoading(const CaptureReader *r) const
{
    return std::find(loading_.begin(), loading_.end(), r) != loading_.end();
}

void graficas::startLoading(std::vector<CaptureReader *> readers)
{
    loading_ = std::move(readers);
    stopLoading_ = false;
    // The other open files are left alone meanwhile (followFiles waits), so
    // the thread may make the series of them all: a day's series take long
    // to make too.
    std::vector<const CaptureReader *> all;
    for (const QString &n : order_)
        all.push_back(readers_.at(n).get());
    loader_.reset(QThread::create([this, readers = loading_, all] {
        for (CaptureReader *r : readers)
            for (qint64 before = -1; !stopLoading_ && r->bytesRead() != before;) {
                before = r->bytesRead();
                if (r->follow(readAtOnce) == CaptureReader::Change::Failed)
                    break;
            }
        if (stopLoading_)
            return;
        auto series = std::make_unique<SeriesSet>();
        for (std::size_t i = 0; i < all.size(); ++i)
            series->take(static_cast<int>(i), *all[i]);
        built_ = std::move(series);
    }));
    connect(loader_.get(), &QThread::finished, this, &graficas::loaded);
    loader_->start();
    showErrors();
}

void graficas::loaded()
{
    loader_->wait();
    loader_.reset();
    loading_.clear();
    if (pending_) {
        built_.reset();
        open(*std::exchange(pending_, std::nullopt));
        return;
    }
    if (built_)
        model_ = std::move(*std::exchange(built_, nullptr));
    else
        rebuildModel();
    buildPlot();
    if (whole_) {
        resetRange();
    } else {
        applyRange();
        redraw();
    }
    showErrors();
}

void graficas::showEvent(QShowEvent *event)
{
    // The first showing in the middle of the screen, where a window manager
    // may not put it; later ones where the user left it.
    if (!event->spontaneous() && !placed_) {
        placed_ = true;
        move(screen()->availableGeometry().center() - QRect(QPoint(), size()).center());
    }
    QWidget::showEvent(event);
    followFiles();
    timer->start();
}

void graficas::hideEvent(QHideEvent *event)
{
    timer->stop();
    QWidget::hideEvent(event);
}

QString graficas::currentName() const
{
    const QString path = current_ ? current_() : QString();
    if (path.isEmpty())
        return {};
    const QFileInfo info(path);
    if (QDir::cleanPath(info.absolutePath()) != QDir::cleanPath(QDir(folder_).absolutePath()))
        return {};
    return info.fileName();
}

QStringList graficas::selectedNames() const
{
    QStringList names;
    for (const QListWidgetItem *item : ficheros->selectedItems())
        names << item->data(Qt::UserRole).toString();
    return names;
}

void graficas::select(const QStringList &names)
{
    const QSignalBlocker block(ficheros);
    for (int i = 0; i < ficheros->count(); ++i) {
        QListWidgetItem *item = ficheros->item(i);
        item->setSelected(names.contains(item->data(Qt::UserRole).toString()));
    }
}

const CaptureReader *graficas::reader(const QString &name) const
{
    const auto it = readers_.find(name);
    return it == readers_.end() ? nullptr : it->second.get();
}

void graficas::refreshFiles()
{
    // The newest first.
    QStringList names = CaptureName::chronological(QDir(folder_).entryList({QStringLiteral("*.log")}, QDir::Files));
    std::reverse(names.begin(), names.end());

    QStringList listed;
    for (int i = 0; i < ficheros->count(); ++i)
        listed << ficheros->item(i)->data(Qt::UserRole).toString();
    if (listed != names) {
        const QSignalBlocker block(ficheros);
        ficheros->clear();
        for (const QString &n : names) {
            auto *item = new QListWidgetItem(n, ficheros);
            item->setData(Qt::UserRole, n);
        }
        select(order_);
    }
    const QString current = currentName();
    for (int i = 0; i < ficheros->count(); ++i) {
        QListWidgetItem *item = ficheros->item(i);
        const QString n = item->data(Qt::UserRole).toString();
        const QString text = n == current ? n + QStringLiteral(" (en captura)") : n;
        if (item->text() != text)
            item->setText(text);
    }
}

void graficas::onSelection() { open(selectedNames()); }

void graficas::open(const QStringList &names)
{
    const QStringList wanted = CaptureName::chronological(names);
    select(wanted);
    if (loading()) {
        // The files being read stay until the thread lets them go.
        pending_ = wanted;
        stopLoading_ = true;
        return;
    }
    for (auto it = readers_.begin(); it != readers_.end();)
        it = wanted.contains(it->first) ? std::next(it) : readers_.erase(it);
    // Files kept open are not read again: only the new ones, and what a
    // reading cut short left.
    std::vector<CaptureReader *> big;
    for (const QString &n : wanted) {
        std::unique_ptr<CaptureReader> &r = readers_[n];
        const bool fresh = !r;
        if (fresh)
            r = std::make_unique<CaptureReader>(QDir(folder_).filePath(n));
        if (behind(*r) > readAtOnce)
            big.push_back(r.get());
        else if (fresh)
            r->follow();
    }
    order_ = wanted;
    rebuildModel();
    buildPlot();
    resetRange();
    if (big.empty())
        showErrors();
    else
        startLoading(std::move(big));
}

void graficas::rebuildModel()
{
    model_.clear();
    for (int i = 0; i < order_.size(); ++i)
        if (const CaptureReader *r = readers_.at(order_[i]).get(); !isLoading(r))
            model_.take(i, *r);
}

void graficas::followFiles()
{
    refreshFiles();
    // What the thread reads is shown when it ends; later lines are taken then.
    if (loading())
        return;
    // At midnight the capture goes on in the new day's file: a window that
    // showed the old one takes the new one too.
    const QString current = currentName();
    if (current != lastCurrent_) {
        const bool follow = order_.contains(lastCurrent_) && !current.isEmpty() && !order_.contains(current);
        lastCurrent_ = current;
        if (follow) {
            open(order_ + QStringList{current});
            return;
        }
    }

    const double lastBefore = model_.last();
    bool appended = false, added = false, reset = false;
    std::vector<CaptureReader *> big;
    for (int i = 0; i < order_.size(); ++i) {
        CaptureReader &r = *readers_.at(order_[i]);
        if (behind(r) > readAtOnce) {
            big.push_back(&r);
            continue;
        }
        switch (r.follow()) {
        case CaptureReader::Change::Reset:
            reset = true;
            break;
        case CaptureReader::Change::Appended:
            appended = true;
            added = model_.take(i, r) || added;
            break;
        default:
            break;
        }
    }
    if (!big.empty())
        startLoading(std::move(big));
    else
        showErrors();
    if (reset) {
        rebuildModel();
        buildPlot();
        resetRange();
        return;
    }
    if (!appended)
        return;
    if (added)
        buildPlot();
    if (whole_) {
        resetRange();
        return;
    }
    // A view that reached the newest reading moves on with the new ones.
    const double lastNow = model_.last();
    if (to_ >= lastBefore && lastNow > lastBefore) {
        from_ += lastNow - lastBefore;
        to_ += lastNow - lastBefore;
    }
    applyRange();
    redraw();
}

void graficas::showErrors()
{
    QStringList lines;
    qint64 rows = 0;
    for (const QString &n : order_) {
        const CaptureReader &r = *readers_.at(n);
        if (isLoading(&r)) {
            lines << QStringLiteral("Leyendo %1…").arg(n);
            continue;
        }
        rows += r.rows();
        if (r.failed())
            lines << n + QStringLiteral(": ") + r.error();
        else if (r.rejected() == 1)
            lines << n + QStringLiteral(": 1 línea no válida, no se muestra.");
        else if (r.rejected() > 1)
            lines << QStringLiteral("%1: %2 líneas no válidas, no se muestran.").arg(n).arg(r.rejected());
    }
    if (ficheros->count() == 0)
        lines << QStringLiteral("No hay ficheros de captura en %1.").arg(QDir::toNativeSeparators(folder_));
    else if (order_.isEmpty())
        lines << QStringLiteral("Elija uno o varios ficheros de la lista.");
    else if (lines.isEmpty())
        lines << (rows == 1 ? QStringLiteral("1 lectura") : QStringLiteral("%1 lecturas").arg(rows)) +
                     (order_.size() == 1 ? QStringLiteral(" en 1 fichero.") : QStringLiteral(" en %1 ficheros.").arg(order_.size()));
    const QString text = lines.join(u'\n');
    if (estado->text() != text)
        estado->setText(text);
}

void graficas::buildPlot()
{
    plot->clearItems();
    plot->clearGraphs();
    plot->plotLayout()->clear();
    delete margins_;
    margins_ = new QCPMarginGroup(plot);
    groups_.clear();

    const std::vector<Series> &all = model_.all();
    graphs_.assign(all.size(), nullptr);
    offsets_.assign(all.size(), 0.0);
    // Temperatures, humidities, each channel unit in the order met, inputs.
    const auto groupFor = [this](Kind kind, const QString &unit) -> Group & {
        for (Group &g : groups_)
            if (g.kind == kind && (kind != Kind::Channel || g.unit == unit))
                return g;
        groups_.push_back(Group{kind, unit, nullptr, nullptr, {}});
        return groups_.back();
    };
    for (const Kind kind : {Kind::Temperature, Kind::Humidity, Kind::Channel, Kind::Input})
        for (std::size_t s = 0; s < all.size(); ++s)
            if (all[s].column.kind == kind)
                groupFor(kind, all[s].column.unit).series.push_back(static_cast<int>(s));

    if (groups_.empty()) {
        plot->plotLayout()->addElement(0, 0, new QCPTextElement(plot, QStringLiteral("Sin lecturas")));
        fillTable();
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
        for (std::size_t k = 0; k < g.series.size(); ++k) {
            const int s = g.series[k];
            QCPGraph *graph = plot->addGraph(x, y);
            // One pixel wide: wider lines take twice as long to draw.
            graph->setPen(QPen(colors[k % std::size(colors)], 1));
            graph->setName(all[static_cast<std::size_t>(s)].column.name);
            graph->setVisible(!hidden_.contains(all[static_cast<std::size_t>(s)].column.name));
            if (g.kind == Kind::Input) {
                graph->setLineStyle(QCPGraph::lsStepLeft);
                offsets_[static_cast<std::size_t>(s)] = static_cast<double>(k) * inputStep;
                labels->addTick(static_cast<double>(k) * inputStep + 0.5, all[static_cast<std::size_t>(s)].column.name);
            }
            graphs_[static_cast<std::size_t>(s)] = graph;
        }
        if (g.kind == Kind::Input) {
            y->setTicker(labels);
            y->setRange(-0.3, static_cast<double>(g.series.size()) * inputStep - 0.2);
            plot->plotLayout()->setRowStretchFactor(static_cast<int>(row),
                                                     std::min(1.0, 0.15 * static_cast<double>(g.series.size()) + 0.2));
        }

        g.line = new QCPItemStraightLine(plot);
        g.line->setClipAxisRect(rect);
        g.line->point1->setAxes(x, y);
        g.line->point2->setAxes(x, y);
        g.line->setPen(QPen(Qt::gray, 1, Qt::DashLine));
        g.line->setVisible(false);
    }
    fillTable();
    applyRange();
}

void graficas::fillTable()
{
    filling_ = true;
    const std::vector<Series> &all = model_.all();
    rows_.assign(all.size(), -1);
    leyenda->clearContents();
    leyenda->setRowCount(static_cast<int>(all.size()));
    int row = 0;
    for (const Group &g : groups_) {
        for (std::size_t k = 0; k < g.series.size(); ++k) {
            const int s = g.series[k];
            auto *name = new QTableWidgetItem(swatch(colors[k % std::size(colors)]),
                                              all[static_cast<std::size_t>(s)].column.name);
            name->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
            name->setCheckState(hidden_.contains(all[static_cast<std::size_t>(s)].column.name) ? Qt::Unchecked : Qt::Checked);
            name->setData(Qt::UserRole, s);
            leyenda->setItem(row, 0, name);
            for (int c = 1; c < tableColumns; ++c) {
                auto *cell = new QTableWidgetItem;
                cell->setFlags(Qt::ItemIsEnabled);
                cell->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
                leyenda->setItem(row, c, cell);
            }
            rows_[static_cast<std::size_t>(s)] = row++;
        }
    }
    filling_ = false;
}

void graficas::applyRange()
{
    syncing_ = true;
    for (Group &g : groups_)
        g.rect->axis(QCPAxis::atBottom)->setRange(from_, to_);
    syncing_ = false;
}

void graficas::onRangeDragged(double from, double to)
{
    if (!syncing_)
        setRange(from, to);
}

void graficas::setRange(double from, double to)
{
    if (!(to > from) || !std::isfinite(from) || !std::isfinite(to))
        return;
    if (to - from < shortestSpan) {
        const double c = (from + to) / 2;
        from = c - shortestSpan / 2;
        to = c + shortestSpan / 2;
    }
    from_ = from;
    to_ = to;
    whole_ = false;
    applyRange();
    redraw();
}

void graficas::resetRange()
{
    double a = model_.first(), b = model_.last();
    if (std::isnan(a)) {
        const double now = static_cast<double>(QDateTime::currentSecsSinceEpoch());
        a = now - 3600;
        b = now;
    }
    if (b - a < 60) {
        a -= 30;
        b += 30;
    }
    from_ = a;
    to_ = b;
    whole_ = true;
    applyRange();
    redraw();
}

void graficas::zoom(double factor, double center)
{
    setRange(center - (center - from_) * factor, center + (to_ - center) * factor);
}

void graficas::setSeriesShown(int series, bool shown)
{
    if (series < 0 || static_cast<std::size_t>(series) >= graphs_.size())
        return;
    const QString &name = model_.all()[static_cast<std::size_t>(series)].column.name;
    if (shown)
        hidden_.remove(name);
    else
        hidden_.insert(name);
    if (QCPGraph *g = graphs_[static_cast<std::size_t>(series)])
        g->setVisible(shown);
    if (QTableWidgetItem *item = leyenda->item(rows_[static_cast<std::size_t>(series)], 0)) {
        filling_ = true;
        item->setCheckState(shown ? Qt::Checked : Qt::Unchecked);
        filling_ = false;
    }
    redraw();
}

bool graficas::seriesShown(int series) const
{
    if (series < 0 || static_cast<std::size_t>(series) >= graphs_.size() || !graphs_[static_cast<std::size_t>(series)])
        return false;
    return graphs_[static_cast<std::size_t>(series)]->visible();
}

int graficas::plottedPoints(int series) const
{
    if (series < 0 || static_cast<std::size_t>(series) >= graphs_.size() || !graphs_[static_cast<std::size_t>(series)])
        return 0;
    return graphs_[static_cast<std::size_t>(series)]->data()->size();
}

void graficas::redraw(bool now)
{
    const std::vector<Series> &all = model_.all();
    const double span = to_ - from_;
    ticker_->setDateTimeFormat(span < 2 * 3600      ? QStringLiteral("HH:mm:ss")
                               : span <= 2 * 86400 ? QStringLiteral("HH:mm")
                                                    : QStringLiteral("dd-MM\nHH:mm"));
    // A few points per pixel column whatever the range: redraws stay fast.
    const int columns = std::max(64, plot->width());
    QVector<QCPGraphData> data;
    for (Group &g : groups_) {
        double low = std::numeric_limits<double>::infinity(), high = -low;
        for (const int s : g.series) {
            const Series &se = all[static_cast<std::size_t>(s)];
            const Stats st = stats(se, from_, to_);
            const int row = rows_[static_cast<std::size_t>(s)];
            leyenda->item(row, 2)->setText(number(st.min));
            leyenda->item(row, 3)->setText(number(st.mean));
            leyenda->item(row, 4)->setText(number(st.max));
            QCPGraph *graph = graphs_[static_cast<std::size_t>(s)];
            if (!graph->visible()) {
                graph->data()->clear();
                continue;
            }
            decimate(se, from_, to_, columns, scratch_);
            const double offset = offsets_[static_cast<std::size_t>(s)];
            data.resize(static_cast<qsizetype>(scratch_.t.size()));
            for (std::size_t i = 0; i < scratch_.t.size(); ++i)
                data[static_cast<qsizetype>(i)] = QCPGraphData(scratch_.t[i], scratch_.v[i] + offset);
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
    const std::vector<Series> &all = model_.all();
    const double within = std::max(3 * (to_ - from_) / std::max(64, plot->width()), 5.0);
    cursor->setText(QStringLiteral("Cursor: %1")
                        .arg(CaptureReader::toDateTime(std::llround(t * 1000)).toString(QStringLiteral("dd-MM-yyyy HH:mm:ss"))));
    for (std::size_t s = 0; s < all.size(); ++s)
        if (rows_[s] >= 0)
            leyenda->item(rows_[s], 1)->setText(number(valueAt(all[s], t, within)));
    for (Group &g : groups_) {
        g.line->point1->setCoords(t, 0);
        g.line->point2->setCoords(t, 1);
        g.line->setVisible(true);
    }
    plot->replot(QCustomPlot::rpQueuedReplot);
}

bool graficas::exportPng(const QString &path, int width, int height)
{
    if (esCaptura(path, current_ ? current_() : QString())) {
        estado->setText(sobreCaptura(path));
        return false;
    }
    if (plot->savePng(path, width, height))
        return true;
    estado->setText(QStringLiteral("No se puede escribir el fichero %1.").arg(QDir::toNativeSeparators(path)));
    return false;
}

bool graficas::exportCsv(const QString &path)
{
    if (loading()) {
        estado->setText(QStringLiteral("Espere a que se terminen de leer los ficheros."));
        return false;
    }
    if (esCaptura(path, current_ ? current_() : QString())) {
        estado->setText(sobreCaptura(path));
        return false;
    }
    std::vector<const CaptureReader *> files;
    for (const QString &n : order_)
        files.push_back(readers_.at(n).get());
    QString error;
    if (writeCsv(path, files, error))
        return true;
    estado->setText(error);
    return false;
}

void graficas::askPng()
{
    const QString base = order_.isEmpty() ? QStringLiteral("graficas") : QFileInfo(order_.front()).completeBaseName();
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Exportar imagen"),
                                                      QDir(folder_).filePath(base + QStringLiteral(".png")),
                                                      QStringLiteral("Imagen PNG (*.png)"));
    if (!path.isEmpty() && exportPng(path))
        estado->setText(QStringLiteral("Imagen guardada en %1.").arg(QDir::toNativeSeparators(path)));
}

void graficas::askCsv()
{
    if (order_.isEmpty()) {
        estado->setText(QStringLiteral("Elija antes uno o varios ficheros de la lista."));
        return;
    }
    const QString base = QFileInfo(order_.front()).completeBaseName();
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Exportar CSV"),
                                                      QDir(folder_).filePath(base + QStringLiteral(".csv")),
                                                      QStringLiteral("Texto CSV (*.csv)"));
    if (!path.isEmpty() && exportCsv(path))
        estado->setText(QStringLiteral("Datos guardados en %1.").arg(QDir::toNativeSeparators(path)));
}
