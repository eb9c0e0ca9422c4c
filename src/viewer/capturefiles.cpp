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

// Reads each file to its end a piece at a time, handing the rows of each
// piece to `series`: a reader holds no more than a piece of rows. False
// when a file shrank: the rows taken of it before are wrong now.
bool readInto(SeriesSet &series, const std::vector<std::pair<int, CaptureReader *>> &files,
              const std::atomic<bool> *stop)
{
    bool kept = true;
    for (const auto &[source, r] : files) {
        for (qint64 before = -1; !(stop && *stop) && r->bytesRead() != before;) {
            before = r->bytesRead();
            const CaptureReader::Change c = r->follow(readAtOnce);
            kept = kept && c != CaptureReader::Change::Reset;
            series.take(source, *r);
            r->discardRows();
            series.rowsDiscarded(source);
            if (c == CaptureReader::Change::Failed)
                break;
        }
        r->discardRows(true);
    }
    return kept;
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

bool CaptureFiles::isLoading(const QString &name) const
{
    return std::any_of(loading_.begin(), loading_.end(),
                       [&](const Load &l) { return l.name == name; });
}

const CaptureReader *CaptureFiles::reader(const QString &name) const
{
    const auto it = readers_.find(name);
    return it == readers_.end() || isLoading(name) ? nullptr : it->second.get();
}

std::vector<const CaptureReader *> CaptureFiles::readers() const
{
    std::vector<const CaptureReader *> files;
    for (const QString &n : order_)
        if (const CaptureReader *r = reader(n))
            files.push_back(r);
    return files;
}

void CaptureFiles::load(std::vector<Load> files, std::unique_ptr<SeriesSet> into)
{
    qint64 due = 0;
    std::vector<std::pair<int, CaptureReader *>> readers;
    for (const Load &l : files) {
        due += behind(*l.reader);
        readers.emplace_back(l.source, l.reader.get());
    }
    if (due <= readAtOnce) {
        shrank_ = !readInto(*into, readers, nullptr);
        install(files, std::move(into));
        return;
    }
    loading_ = std::move(files);
    built_ = std::move(into);
    stopLoading_ = false;
    loader_.reset(
        QThread::create([this, readers] { shrank_ = !readInto(*built_, readers, &stopLoading_); }));
    connect(loader_.get(), &QThread::finished, this, &CaptureFiles::finishLoading);
    loader_->start();
}

void CaptureFiles::install(std::vector<Load> &files, std::unique_ptr<SeriesSet> into)
{
    for (Load &l : files)
        readers_[l.name] = std::move(l.reader);
    series_ = std::move(*into);
    // A series chosen while the files were read is read now.
    series_.choose(choice_);
    if (series_.missing() || std::exchange(shrank_, false))
        reload();
}

void CaptureFiles::finishLoading()
{
    loader_->wait();
    loader_.reset();
    std::vector<Load> files = std::move(loading_);
    loading_.clear();
    if (pending_) {
        // Opened anew from nothing: takePending() says what.
        readers_.clear();
        order_.clear();
        series_.clear();
        built_.reset();
    } else {
        install(files, std::exchange(built_, nullptr));
    }
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
    // Only newer files added, small ones: those are read, the others are not
    // read again (a day's file at midnight).
    std::vector<Load> fresh;
    qint64 due = 0;
    for (qsizetype i = order_.size(); i < names.size(); ++i) {
        fresh.push_back({names[i], static_cast<int>(i),
                         std::make_unique<CaptureReader>(QDir(folder_).filePath(names[i]))});
        due += behind(*fresh.back().reader);
    }
    const bool onward = names.mid(0, order_.size()) == order_ && due <= readAtOnce;
    order_ = names;
    for (auto it = readers_.begin(); it != readers_.end();)
        it = names.contains(it->first) ? std::next(it) : readers_.erase(it);
    if (!onward) {
        // The files chosen, not those before, while they are read.
        series_.clear();
        reload();
        return true;
    }
    std::vector<std::pair<int, CaptureReader *>> readers;
    for (const Load &l : fresh)
        readers.emplace_back(l.source, l.reader.get());
    readInto(series_, readers, nullptr); // fresh readers: none shrank
    for (Load &l : fresh)
        readers_[l.name] = std::move(l.reader);
    return true;
}

void CaptureFiles::reload()
{
    std::vector<Load> files;
    for (int i = 0; i < order_.size(); ++i)
        files.push_back(
            {order_[i], i, std::make_unique<CaptureReader>(QDir(folder_).filePath(order_[i]))});
    auto into = std::make_unique<SeriesSet>();
    into->choose(choice_);
    load(std::move(files), std::move(into));
}

void CaptureFiles::choose(const Choice &choice)
{
    choice_ = choice;
    series_.choose(choice);
    if (series_.missing() && !loading())
        reload();
}

CaptureFiles::Growth CaptureFiles::followFiles()
{
    Growth g;
    // What the thread reads is shown when it ends; later lines are taken then.
    if (loading())
        return g;
    std::vector<Load> big;
    for (int i = 0; i < order_.size(); ++i) {
        std::unique_ptr<CaptureReader> &r = readers_.at(order_[i]);
        if (behind(*r) > readAtOnce) {
            big.push_back({order_[i], i, std::move(r)});
            continue;
        }
        switch (r->follow()) {
        case CaptureReader::Change::Reset:
            g.reset = true;
            break;
        case CaptureReader::Change::Appended:
            g.appended = true;
            g.added = series_.take(i, *r) || g.added;
            r->discardRows();
            series_.rowsDiscarded(i);
            break;
        default:
            break;
        }
    }
    if (g.reset) {
        // Its rows taken before are in the series: every file again.
        for (Load &l : big)
            readers_[l.name] = std::move(l.reader);
        reload();
    } else if (!big.empty()) {
        load(std::move(big), std::make_unique<SeriesSet>(series_));
    } else if (series_.missing()) {
        reload();
    }
    return g;
}

QStringList CaptureFiles::problems() const
{
    QStringList lines;
    for (const QString &n : order_) {
        if (isLoading(n)) {
            lines << QStringLiteral("Leyendo %1…").arg(n);
            continue;
        }
        const auto it = readers_.find(n);
        if (it == readers_.end())
            continue;
        const CaptureReader &r = *it->second;
        if (r.failed())
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
        if (const CaptureReader *r = reader(n))
            rows += r->rows();
    return rows;
}
