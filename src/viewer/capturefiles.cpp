#include "viewer/capturefiles.h"

#include <QDir>
#include <QFileInfo>
#include <QThread>

#include <algorithm>

namespace {

// What is read between two events at most; more is read in a thread.
constexpr qint64 readAtOnce = 1 << 20;

// Bytes a reader has yet to read of its file (all of it when it shrank).
qint64 behind(const CaptureReader &r)
{
    const qint64 size = QFileInfo(r.path()).size();
    return size < r.offset() ? size : size - r.offset();
}

} // namespace

CaptureFiles::CaptureFiles(QString folder) : folder_(std::move(folder)) {}

CaptureFiles::~CaptureFiles()
{
    if (loader_) {
        stopLoading_ = true;
        loader_->wait();
    }
}

bool CaptureFiles::isLoading(const CaptureReader *r) const
{
    return std::find(loading_.begin(), loading_.end(), r) != loading_.end();
}

const CaptureReader *CaptureFiles::reader(const QString &name) const
{
    const auto it = readers_.find(name);
    return it == readers_.end() ? nullptr : it->second.get();
}

std::vector<const CaptureReader *> CaptureFiles::readers() const
{
    std::vector<const CaptureReader *> files;
    for (const QString &n : order_)
        files.push_back(readers_.at(n).get());
    return files;
}

void CaptureFiles::startLoading(std::vector<CaptureReader *> readers)
{
    loading_ = std::move(readers);
    stopLoading_ = false;
    // The other open files are left alone meanwhile (followFiles waits), so
    // the thread may make the series of them all: a day's series take long
    // to make too.
    loader_.reset(QThread::create([this, readers = loading_, all = this->readers()] {
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
    connect(loader_.get(), &QThread::finished, this, &CaptureFiles::finishLoading);
    loader_->start();
}

void CaptureFiles::finishLoading()
{
    loader_->wait();
    loader_.reset();
    loading_.clear();
    if (pending_)
        built_.reset();
    else if (built_)
        series_ = std::move(*std::exchange(built_, nullptr));
    else
        rebuildSeries();
    Q_EMIT loaded();
}

bool CaptureFiles::open(const QStringList &names)
{
    if (loading()) {
        // The files being read stay until the thread lets them go.
        pending_ = names;
        stopLoading_ = true;
        return false;
    }
    for (auto it = readers_.begin(); it != readers_.end();)
        it = names.contains(it->first) ? std::next(it) : readers_.erase(it);
    // Files kept open are not read again: only the new ones, and what a
    // reading cut short left.
    std::vector<CaptureReader *> big;
    for (const QString &n : names) {
        std::unique_ptr<CaptureReader> &r = readers_[n];
        const bool fresh = !r;
        if (fresh)
            r = std::make_unique<CaptureReader>(QDir(folder_).filePath(n));
        if (behind(*r) > readAtOnce)
            big.push_back(r.get());
        else if (fresh)
            r->follow();
    }
    order_ = names;
    rebuildSeries();
    if (!big.empty())
        startLoading(std::move(big));
    return true;
}

void CaptureFiles::rebuildSeries()
{
    series_.clear();
    for (int i = 0; i < order_.size(); ++i)
        if (const CaptureReader *r = readers_.at(order_[i]).get(); !isLoading(r))
            series_.take(i, *r);
}

CaptureFiles::Growth CaptureFiles::followFiles()
{
    Growth g;
    // What the thread reads is shown when it ends; later lines are taken then.
    if (loading())
        return g;
    std::vector<CaptureReader *> big;
    for (int i = 0; i < order_.size(); ++i) {
        CaptureReader &r = *readers_.at(order_[i]);
        if (behind(r) > readAtOnce) {
            big.push_back(&r);
            continue;
        }
        switch (r.follow()) {
        case CaptureReader::Change::Reset:
            g.reset = true;
            break;
        case CaptureReader::Change::Appended:
            g.appended = true;
            g.added = series_.take(i, r) || g.added;
            break;
        default:
            break;
        }
    }
    if (!big.empty())
        startLoading(std::move(big));
    if (g.reset)
        rebuildSeries();
    return g;
}

QStringList CaptureFiles::problems() const
{
    QStringList lines;
    for (const QString &n : order_) {
        const CaptureReader &r = *readers_.at(n);
        if (isLoading(&r))
            lines << QStringLiteral("Leyendo %1…").arg(n);
        else if (r.failed())
            lines << n + QStringLiteral(": ") + r.error();
        else if (r.rejected() == 1)
            lines << n + QStringLiteral(": 1 línea no válida, no se muestra.");
        else if (r.rejected() > 1)
            lines << QStringLiteral("%1: %2 líneas no válidas, no se muestran.")
                         .arg(n)
                         .arg(r.rejected());
    }
    return lines;
}

qint64 CaptureFiles::rows() const
{
    qint64 rows = 0;
    for (const QString &n : order_)
        if (const CaptureReader &r = *readers_.at(n); !isLoading(&r))
            rows += r.rows();
    return rows;
}
