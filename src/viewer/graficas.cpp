#include "viewer/graficas.h"

#include "monitor/capturename.h"
#include "platform/qtplatform.h"
#include "viewer/csv.h"

#include <qcustomplot.h>

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QSplitter>
#include <QTableView>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>

namespace {

constexpr double shortestSpan = 10;

// Bytes of captures an export reads again between two events at most.
constexpr qint64 exportHere = 1 << 20;

} // namespace

graficas::graficas(const QString &captureFolder, std::function<QString()> currentCaptureFile,
                   QWidget *parent)
    : QWidget(parent, Qt::Window), files_(captureFolder), current_(std::move(currentCaptureFile))
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

    // A model, not an item per cell: a file may hold thousands of columns.
    legend_ = new LegendModel([this](int s) { return seriesShown(s); },
                              [this](int s, bool on) { setSeriesShown(s, on); }, this);
    leyenda = new QTableView;
    leyenda->setObjectName(QStringLiteral("leyenda"));
    leyenda->setModel(legend_);
    leyenda->verticalHeader()->hide();
    leyenda->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
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
    connect(plot, &QCustomPlot::mouseMove, this, [this](QMouseEvent *e) {
        if (!groups_.empty())
            hover(groups_.front().rect->axis(QCPAxis::atBottom)->pixelToCoord(e->position().x()));
    });
    connect(plot, &QCustomPlot::mouseDoubleClick, this, [this](QMouseEvent *) { resetRange(); });
    connect(&files_, &CaptureFiles::loaded, this, &graficas::loaded);
    connect(png, &QPushButton::clicked, this, &graficas::askPng);
    connect(csv, &QPushButton::clicked, this, &graficas::askCsv);

    // Lines are written every second at most: a look now and then shows
    // them soon enough and costs a file status when nothing changed.
    timer = new QTimer(this);
    timer->setInterval(750);
    connect(timer, &QTimer::timeout, this, &graficas::followFiles);

    resize(1100, 720);
    lastCurrent_ = currentName();
    files_.choose(choice());
    refreshFiles();
    buildPlot();
    // The day being captured, or else the newest day.
    if (!lastCurrent_.isEmpty() &&
        !ficheros->findItems(lastCurrent_, Qt::MatchStartsWith).isEmpty())
        open({lastCurrent_});
    else if (ficheros->count() > 0)
        open({ficheros->item(0)->data(Qt::UserRole).toString()});
    else
        showErrors();
}

graficas::~graficas()
{
    if (exporter_)
        exporter_->wait();
}

void graficas::loaded()
{
    if (std::optional<QStringList> names = files_.takePending()) {
        open(*names);
        return;
    }
    // Read again for a series ticked: the legend stays where the user is.
    buildPlot(std::exchange(rereading_, false) &&
              legend_->rowCount() == static_cast<int>(series().all().size()));
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
    if (QDir::cleanPath(info.absolutePath()) != QDir::cleanPath(QDir(folder()).absolutePath()))
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

void graficas::refreshFiles()
{
    // The newest first.
    QStringList names = CaptureName::inFolder(QDir(folder()));
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
        select(openFiles());
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
    if (!files_.open(wanted))
        return;
    buildPlot();
    resetRange();
    showErrors();
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
        const QStringList open = openFiles();
        const bool follow =
            open.contains(lastCurrent_) && !current.isEmpty() && !open.contains(current);
        lastCurrent_ = current;
        if (follow) {
            this->open(open + QStringList{current});
            return;
        }
    }

    const double lastBefore = series().last();
    const CaptureFiles::Growth grown = files_.followFiles();
    showErrors();
    if (grown.reset) {
        buildPlot();
        resetRange();
        return;
    }
    if (!grown.appended)
        return;
    if (grown.added)
        buildPlot();
    if (whole_) {
        resetRange();
        return;
    }
    // A view that reached the newest reading moves on with the new ones.
    const double lastNow = series().last();
    if (to_ >= lastBefore && lastNow > lastBefore) {
        from_ += lastNow - lastBefore;
        to_ += lastNow - lastBefore;
    }
    applyRange();
    redraw();
}

void graficas::showErrors()
{
    QStringList lines = files_.problems();
    const QStringList open = openFiles();
    if (ficheros->count() == 0)
        lines << QStringLiteral("No hay ficheros de captura en %1.")
                     .arg(QDir::toNativeSeparators(folder()));
    else if (open.isEmpty())
        lines << QStringLiteral("Elija uno o varios ficheros de la lista.");
    else if (lines.isEmpty())
        lines << (files_.rows() == 1 ? QStringLiteral("1 lectura")
                                     : QStringLiteral("%1 lecturas").arg(files_.rows())) +
                (open.size() == 1 ? QStringLiteral(" en 1 fichero.")
                                  : QStringLiteral(" en %1 ficheros.").arg(open.size()));
    const QString text = lines.join(u'\n');
    if (estado->text() != text)
        estado->setText(text);
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
    double a = series().first(), b = series().last();
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

bool graficas::exportPng(const QString &path, int width, int height)
{
    if (esCaptura(path, current_ ? current_() : QString())) {
        estado->setText(sobreCaptura(path));
        return false;
    }
    if (plot->savePng(path, width, height))
        return true;
    estado->setText(
        QStringLiteral("No se puede escribir el fichero %1.").arg(QDir::toNativeSeparators(path)));
    return false;
}

bool graficas::exportCsv(const QString &path)
{
    if (loading()) {
        estado->setText(QStringLiteral("Espere a que se terminen de leer los ficheros."));
        return false;
    }
    if (exporting()) {
        estado->setText(QStringLiteral("Espere a que termine la exportación en curso."));
        return false;
    }
    if (esCaptura(path, current_ ? current_() : QString())) {
        estado->setText(sobreCaptura(path));
        return false;
    }
    std::vector<CsvSource> files = csvSources(files_.readers());
    if (csvBytes(files) <= exportHere) {
        QString error;
        if (writeCsv(path, files, error))
            return true;
        estado->setText(error);
        return false;
    }
    // The files are read again: a big export in a thread of its own, so the
    // monitor's tick goes on.
    auto result = std::make_shared<QString>();
    exporter_.reset(QThread::create([path, files = std::move(files), result] {
        QString error;
        *result = writeCsv(path, files, error)
            ? QStringLiteral("Datos guardados en %1.").arg(QDir::toNativeSeparators(path))
            : error;
    }));
    connect(exporter_.get(), &QThread::finished, this, [this, result] {
        exporter_->wait();
        exporter_.reset();
        estado->setText(*result);
    });
    exporter_->start();
    estado->setText(QStringLiteral("Exportando %1…").arg(QDir::toNativeSeparators(path)));
    return true;
}

void graficas::askPng()
{
    const QString base = openFiles().isEmpty() ? QStringLiteral("graficas")
                                               : QFileInfo(openFiles().front()).completeBaseName();
    const QString path =
        QFileDialog::getSaveFileName(this, QStringLiteral("Exportar imagen"),
                                     QDir(folder()).filePath(base + QStringLiteral(".png")),
                                     QStringLiteral("Imagen PNG (*.png)"));
    if (!path.isEmpty() && exportPng(path))
        estado->setText(
            QStringLiteral("Imagen guardada en %1.").arg(QDir::toNativeSeparators(path)));
}

void graficas::askCsv()
{
    if (openFiles().isEmpty()) {
        estado->setText(QStringLiteral("Elija antes uno o varios ficheros de la lista."));
        return;
    }
    const QString base = QFileInfo(openFiles().front()).completeBaseName();
    const QString path =
        QFileDialog::getSaveFileName(this, QStringLiteral("Exportar CSV"),
                                     QDir(folder()).filePath(base + QStringLiteral(".csv")),
                                     QStringLiteral("Texto CSV (*.csv)"));
    if (!path.isEmpty() && exportCsv(path) && !exporting())
        estado->setText(
            QStringLiteral("Datos guardados en %1.").arg(QDir::toNativeSeparators(path)));
}
