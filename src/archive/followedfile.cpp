#include "archive/followedfile.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <utility>

namespace {

// Bytes taken from the file at a time: a batch grows by at most this much
// text beyond its readings goal.
constexpr qint64 piece = 1 << 20;
// A batch's rows in memory stay below this, however long the lines are.
constexpr qint64 mostBatchBytes = 64 << 20;
constexpr qint64 msPerDay = 86400000;

qint64 utcDay(qint64 ms) { return ms >= 0 ? ms / msPerDay : (ms - msPerDay + 1) / msPerDay; }

} // namespace

FollowedFile::FollowedFile(const QString &station, const QString &folder, const QString &name)
    : key_(QFileInfo(folder).fileName(), name), path_(QDir(folder).filePath(name)),
      rowStart_(CopyRows::rowStart(station, key_.first, name))
{
}

void FollowedFile::setProgress(const Progress &p)
{
    // Anything read past the stored progress was not stored: read it again.
    if (reader_ && (p != progress_ || reader_->whole() != p.offset))
        reader_.reset();
    progress_ = p;
    byKeyUntil_ = p.byKeyUntil;
}

bool FollowedFile::caughtUp() const
{
    return QFileInfo(path_).size() == progress_.offset && (!reader_ || reader_->offset() == progress_.offset);
}

QString FollowedFile::takeShrinkNote() { return std::exchange(shrinkNote_, QString()); }

qint64 FollowedFile::takeRejected()
{
    if (!reader_)
        return 0;
    const qint64 n = reader_->rejected() - rejectedSeen_;
    rejectedSeen_ = reader_->rejected();
    return n;
}

void FollowedFile::restart(qint64 archived)
{
    // Lines before the archived end may be stored already: each goes in
    // only when its key is not there yet.
    byKeyUntil_ = std::max({byKeyUntil_, archived, progress_.byKeyUntil});
    shrinkNote_ = QStringLiteral("El fichero %1 no es el que se archivó (%2 bytes archivados, ahora tiene %3): se lee de "
                                 "nuevo desde el principio, sin repetir lecturas.")
                      .arg(QDir::toNativeSeparators(path_))
                      .arg(archived)
                      .arg(QFileInfo(path_).size());
    columns_.clear();
}

// A reader placed at the archived end of the file: the lines before it are
// read again (for the columns they stand under) and dropped.
bool FollowedFile::open()
{
    reader_ = std::make_unique<CaptureReader>(path_);
    columns_.clear();
    const qint64 size = QFileInfo(path_).size();
    if (size < progress_.offset) {
        restart(progress_.offset);
    } else {
        while (reader_->offset() < progress_.offset) {
            const qint64 before = reader_->offset();
            if (reader_->follow(std::min(4 * piece, progress_.offset - before)) == CaptureReader::Change::Failed) {
                error_ = reader_->error();
                reader_.reset();
                return false;
            }
            reader_->discardRows();
            if (reader_->offset() == before)
                break;
        }
        // The archived end is always a line end; anything else is another file.
        if (reader_->whole() != progress_.offset) {
            reader_ = std::make_unique<CaptureReader>(path_);
            restart(progress_.offset);
        }
    }
    rejectedSeen_ = reader_->rejected();
    return true;
}

void FollowedFile::collect(Batch &b)
{
    const std::vector<ColumnSet> &sets = reader_->sets();
    for (std::size_t s = 0; s < sets.size(); ++s) {
        const ColumnSet &set = sets[s];
        if (set.times.empty())
            continue;
        // Columns are settled once a line stands under them.
        if (columns_.size() <= s)
            columns_.resize(s + 1);
        if (columns_[s].empty())
            for (const Column &c : set.columns)
                columns_[s].push_back(CopyRows::textField(c.name));
        qint64 day = -1;
        for (std::size_t r = 0; r < set.times.size(); ++r) {
            const qint64 ms = set.times[r];
            if (utcDay(ms) != day) {
                day = utcDay(ms);
                b.days.insert(day);
            }
            for (std::size_t c = 0; c < set.columns.size(); ++c)
                b.rows.add(rowStart_, columns_[s][c], ms, set.values[c][r]);
        }
        b.lines += static_cast<qint64>(set.times.size());
        b.lastMs = set.times.back();
    }
    reader_->discardRows();
}

bool FollowedFile::next(qint64 most, Batch &b)
{
    b = Batch{};
    b.key = key_;
    b.before = progress_;
    b.after = progress_;
    error_.clear();
    if (!reader_) {
        const QFileInfo info(path_);
        if (!info.exists() || info.size() == progress_.offset)
            return true; // nothing new (or gone): the file need not be opened
        if (!open())
            return false;
    }
    qint64 start = reader_->whole();
    while (b.rows.rows() < most && b.rows.bytes() < mostBatchBytes) {
        const qint64 before = reader_->offset();
        const CaptureReader::Change change = reader_->follow(piece);
        if (change == CaptureReader::Change::Failed) {
            error_ = reader_->error();
            reader_.reset();
            return false;
        }
        if (change == CaptureReader::Change::Reset) {
            // Replaced by a shorter file: what this batch holds was read
            // from the old one.
            restart(std::max(progress_.offset, before));
            b.rows.clear();
            b.days.clear();
            b.lines = 0;
            start = 0;
        }
        collect(b);
        if (change != CaptureReader::Change::Reset && reader_->offset() == before)
            break;
    }
    b.byKey = start < byKeyUntil_;
    b.after.offset = reader_->whole();
    b.after.byKeyUntil = b.after.offset >= byKeyUntil_ ? 0 : byKeyUntil_;
    return true;
}

void FollowedFile::stored(const Batch &b)
{
    progress_ = b.after;
    byKeyUntil_ = b.after.byKeyUntil;
}
