#include "archive/followedfile.h"

#include "monitor/capturename.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QtEndian>

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <utility>

namespace {

// Bytes taken from the file at a time: a batch grows by at most this much
// text beyond its readings goal.
constexpr qint64 piece = 1 << 20;
// A batch's values in memory stay below this, however long the lines are.
constexpr std::size_t mostBatchValues = 8 << 20;
// A batch holds at most two hours of lines a second, however narrow its
// lines: a day then goes in several batches, the next read while the
// server stores one.
constexpr std::size_t mostBatchLines = 7200;
// A full batch of at least this many lines goes on to the end of its last
// line's minute, by at most as many lines again, so that the next batch does
// not merge its first minute with this one's last (a few lines go into
// stored minutes anyway).
constexpr int mostMinuteLines = 60;
// The longest line the monitor writes is about 4.3 MB (a header of 32 767
// converters); a longer one is no line of a capture and is skipped whole.
constexpr qint64 longestLine = 8 << 20;
// The samples of a file's archived part that a cheap look compares.
constexpr qint64 sampleBytes = 4096;
// Skipped lines named one by one, at most this many at a time; the rest counted.
constexpr std::size_t mostNamed = 20;
// A line's time may lie this far beyond its file's day: the tick that
// wrote it took its time before midnight and its file name after.
constexpr qint64 midnightToleranceMs = 10000;

// The text of a line before its seconds ("07-12-2026 00:00" of a line of
// 07-12-2026 00:00:05); empty when it has no time.
QByteArrayView minuteOf(const char *line, qint64 length)
{
    const qint64 n = std::min<qint64>(length, 32);
    int colons = 0;
    for (qint64 i = 0; i < n; ++i)
        if (line[i] == ':' && ++colons == 2)
            return {line, i};
    return {};
}

// The batch has the readings it asked for, its most lines, or the most
// values it may hold.
bool full(const Batch &b, qint64 most)
{
    return static_cast<qint64>(b.values.size()) >= most || b.lines.size() >= mostBatchLines ||
        b.values.size() >= mostBatchValues;
}

// What a restart needs of the reader beyond the offsets kept with the
// progress: the header's settled columns and the last line's instant (which
// of two equal local times of the autumn change is meant), 16 bytes; then
// the file's inode and modification time when it was read, 16 bytes more, so
// that a restart compares the whole archived part when either changed; then
// the database's id of the header in force, 4 bytes, so that a restart need
// not register a header of thousands of columns again.
QByteArray readerState(const CaptureReader &r, quint64 inode, qint64 mtimeNs)
{
    const ResumePoint p = r.resumePoint();
    QByteArray out(32, '\0');
    qToLittleEndian(p.columns, out.data());
    qToLittleEndian(p.lastMs, out.data() + 8);
    qToLittleEndian(inode, out.data() + 16);
    qToLittleEndian(mtimeNs, out.data() + 24);
    return out;
}

// The file as it was when its stored progress was read; false when the
// progress does not say (stored by an earlier version).
int storedHeaderId(const Progress &p)
{
    return p.state.size() >= 36 ? qFromLittleEndian<qint32>(p.state.constData() + 32) : 0;
}

bool storedLook(const Progress &p, quint64 &inode, qint64 &mtimeNs)
{
    if (p.state.size() < 32)
        return false;
    inode = qFromLittleEndian<quint64>(p.state.constData() + 16);
    mtimeNs = qFromLittleEndian<qint64>(p.state.constData() + 24);
    return true;
}

ResumePoint resumePoint(const Progress &p)
{
    ResumePoint r;
    r.offset = p.at.offset;
    r.header = p.at.header;
    if (p.state.size() >= 16) {
        r.columns = qFromLittleEndian<qint64>(p.state.constData());
        r.lastMs = qFromLittleEndian<qint64>(p.state.constData() + 8);
    }
    return r;
}

} // namespace

std::uint64_t hashBytes(std::uint64_t h, const char *p, qsizetype n)
{
    for (const char *end = p + n; p < end; ++p) {
        h ^= static_cast<unsigned char>(*p);
        h *= 1099511628211ull;
    }
    return h;
}

FollowedFile::FollowedFile(const QString &folder, const QString &name, const QTimeZone &zone)
    : key_(QFileInfo(folder).fileName(), name), path_(QDir(folder).filePath(name)), zone_(zone)
{
    const std::optional<CaptureName> capture = CaptureName::parse(name);
    dayValid_ = capture.has_value();
    if (dayValid_) {
        const QDate day = capture->day();
        dayStartMs_ = QDateTime(day, QTime(0, 0), zone_).toMSecsSinceEpoch() - midnightToleranceMs;
        dayEndMs_ =
            QDateTime(day.addDays(1), QTime(0, 0), zone_).toMSecsSinceEpoch() + midnightToleranceMs;
    }
}

void FollowedFile::setProgress(const Progress &p)
{
    // Anything read past the stored progress was not stored: read it again,
    // looked at anew, whether or not the file changed since.
    if (reader_ && (p != progress_ || pos_ != p.at)) {
        reader_.reset();
        // Lines skipped past it are skipped again, and said then.
        rejected_ = foreign_ = moreBadLines_ = 0;
        badLines_.clear();
    }
    look_ = Look{};
    progress_ = p;
    byKeyUntil_ = p.byKeyUntil;
}

void FollowedFile::stored(const Progress &p)
{
    progress_ = p;
    byKeyUntil_ = p.byKeyUntil;
}

bool FollowedFile::caughtUp() const
{
    return QFileInfo(path_).size() == progress_.at.offset && (!reader_ || pos_ == progress_.at);
}

QString FollowedFile::takeNote() { return std::exchange(note_, QString()); }

std::vector<FollowedFile::BadLine> FollowedFile::takeBadLines(qint64 &more)
{
    more = std::exchange(moreBadLines_, 0);
    return std::exchange(badLines_, {});
}

// Why a line that the capture reader did not take is no line of the file,
// as far as its bytes say.
void FollowedFile::skipped(qint64 number, QByteArrayView line, bool tooLong)
{
    if (badLines_.size() >= mostNamed) {
        ++moreBadLines_;
        return;
    }
    static const QRegularExpression stamp(
        QStringLiteral("^(\\d\\d-\\d\\d-\\d\\d\\d\\d \\d\\d:\\d\\d:\\d\\d)(\\s|$)"));
    QString why;
    if (tooLong)
        why = QStringLiteral("tiene más de %1 MB").arg(longestLine >> 20);
    else if (std::memchr(line.data(), 0, static_cast<std::size_t>(line.size())))
        why = QStringLiteral("tiene un byte nulo");
    else if (const auto m =
                 stamp.match(QString::fromLatin1(line.first(std::min<qsizetype>(20, line.size()))));
             m.hasMatch() &&
             !QDateTime::fromString(m.captured(1), QStringLiteral("dd-MM-yyyy HH:mm:ss")).isValid())
        why = QStringLiteral("la fecha u hora %1 no existe").arg(m.captured(1));
    else
        why = QStringLiteral("ni cabecera ni lecturas de las columnas de su cabecera");
    badLines_.push_back({number, why});
}

qint64 FollowedFile::takeRejected()
{
    if (reader_) {
        rejected_ += reader_->rejected() - rejectedSeen_;
        rejectedSeen_ = reader_->rejected();
    }
    return std::exchange(rejected_, 0);
}

std::uint64_t FollowedFile::sample(QFile &f, const Position &at) const
{
    // The start, the header line in force and the end of the archived part:
    // a replaced file differs in one of them unless it is the same file.
    std::uint64_t h = hashStart;
    for (const qint64 from : {qint64{0}, at.header, std::max<qint64>(0, at.offset - sampleBytes)}) {
        if (from < 0 || from >= at.offset || !f.seek(from))
            continue;
        const QByteArray bytes = f.read(std::min(sampleBytes, at.offset - from));
        h = hashBytes(h, bytes.constData(), bytes.size());
    }
    return h;
}

bool FollowedFile::stillArchived(QFile &f, bool suspicious) const
{
    // A suspicious look (another inode, a shorter file, bytes changed in
    // place) compares the whole archived part; otherwise its samples do.
    return f.size() >= progress_.at.offset &&
        (suspicious ? sameBytes(f) : sample(f, progress_.at) == progress_.sample);
}

bool FollowedFile::sameBytes(QFile &f) const
{
    if (!progress_.hashKnown || !f.seek(0))
        return false;
    std::uint64_t h = hashStart;
    QByteArray buffer;
    for (qint64 at = 0; at < progress_.at.offset;) {
        buffer = f.read(std::min(piece, progress_.at.offset - at));
        if (buffer.isEmpty())
            return false;
        h = hashBytes(h, buffer.constData(), buffer.size());
        at += buffer.size();
    }
    return h == progress_.at.hash;
}

void FollowedFile::restart(const QString &why, bool replaced)
{
    setAside_ = replaced;
    // Lines before the archived end may be stored already: each replaces the
    // stored line of its second, and the readings that change are counted.
    byKeyUntil_ = std::max({byKeyUntil_, progress_.at.offset, progress_.byKeyUntil});
    note_ = why;
    reader_ = std::make_unique<CaptureReader>(path_, zone_);
    reader_->keepCodes();
    headers_.clear();
    pos_ = Position{};
    rejectedSeen_ = 0;
}

// A reader placed at the archived end of the file, with the header in force
// there read again, after checking that the archived part is the file's.
bool FollowedFile::open(QFile &f, bool suspicious)
{
    reader_ = std::make_unique<CaptureReader>(path_, zone_);
    reader_->keepCodes();
    headers_.clear();
    rejectedSeen_ = 0;
    pos_ = Position{};
    byKeyUntil_ = progress_.byKeyUntil;
    const QString shown = QDir::toNativeSeparators(path_);
    if (progress_.at.offset == 0)
        return true;
    if (!progress_.hashKnown) {
        restart(QStringLiteral("El fichero %1 se archivó con la versión anterior del programa: se "
                               "lee de nuevo desde el "
                               "principio para comprobarlo, sin repetir lecturas.")
                    .arg(shown),
                false);
        return true;
    }
    if (!stillArchived(f, suspicious)) {
        restart(
            QStringLiteral(
                "El fichero %1 no es el que se archivó (otro fichero con el mismo nombre, o "
                "reescrito): "
                "se lee de nuevo desde el principio, sin repetir lecturas; gana el fichero nuevo.")
                .arg(shown),
            true);
        return true;
    }
    // The reader goes on from the stored point: the header line in force is
    // read again, the rest of its state comes from the stored progress.
    if (!reader_->resume(resumePoint(progress_))) {
        if (!reader_->error().isEmpty())
            return false;
        restart(QStringLiteral("El fichero %1 no tiene la cabecera donde se archivó: se lee de "
                               "nuevo desde el principio, "
                               "sin repetir lecturas.")
                    .arg(shown),
                true);
        return true;
    }
    if (progress_.at.header >= 0)
        headers_.push_back({progress_.at.header, 0, {}, false, storedHeaderId(progress_)});
    rejectedSeen_ = reader_->rejected();
    pos_ = progress_.at;
    return true;
}

// One whole line (with its line end): hashed, handed to the reader, and its
// readings added to the batch when it gave some of this file's day.
bool FollowedFile::take(const char *begin, qint64 length, Batch &b)
{
    const qint64 start = pos_.offset;
    pos_.hash = hashBytes(pos_.hash, begin, length);
    pos_.offset += length;
    ++pos_.lines;
    const std::size_t setsBefore = reader_->sets().size();
    const qint64 rejectedBefore = reader_->rejected();
    if (reader_->feed(QByteArrayView(begin, length)) == CaptureReader::Change::Failed) {
        error_ = reader_->error() + QStringLiteral(" (%1)").arg(QDir::toNativeSeparators(path_));
        return false;
    }
    if (reader_->rejected() > rejectedBefore)
        skipped(pos_.lines, QByteArrayView(begin, length));
    const std::vector<ColumnSet> &sets = reader_->sets();
    if (sets.size() > setsBefore) {
        headers_.push_back({start, pos_.lines, {}, false, 0});
        pos_.header = start;
        return true;
    }
    if (sets.empty() || sets.back().times.empty())
        return true;
    const ColumnSet &set = sets.back();
    Header &h = headers_.back();
    if (!h.settled) {
        h.columns = set.columns;
        h.settled = true;
    }
    const qint64 ms = set.times.back();
    if (ms < dayStartMs_ || ms >= dayEndMs_) {
        ++foreign_;
    } else {
        b.lines.push_back({ms, static_cast<int>(sets.size() - 1), pos_.lines, pos_, b.values.size(),
                           set.values.size()});
        const QByteArrayView minute = minuteOf(begin, length);
        lastMinute_.assign(minute.begin(), minute.end());
        for (const std::vector<double> &column : set.values)
            b.values.push_back(column.back());
        const std::vector<std::int32_t> &codes = reader_->lastCodes();
        b.codes.insert(b.codes.end(), codes.begin(), codes.end());
    }
    reader_->discardRows();
    return true;
}

bool FollowedFile::wants(const Batch &b, const char *line, qint64 length, qint64 most,
                         int &beyond) const
{
    if (!full(b, most))
        return true;
    if (b.lines.size() < mostMinuteLines || ++beyond > mostMinuteLines ||
        b.values.size() >= mostBatchValues)
        return false;
    const QByteArrayView minute = minuteOf(line, length);
    return !minute.empty() && minute == QByteArrayView(lastMinute_);
}

bool FollowedFile::readLines(QFile &f, qint64 most, Batch &b, bool &ended)
{
    QByteArray buffer;
    ended = false;
    int beyond = 0;
    while (!full(b, most)) {
        if (!f.seek(pos_.offset))
            break;
        buffer = f.read(piece);
        if (buffer.isEmpty()) {
            ended = true;
            break;
        }
        qsizetype at = 0;
        for (qsizetype nl; (nl = buffer.indexOf('\n', at)) >= 0 &&
             wants(b, buffer.constData() + at, nl + 1 - at, most, beyond);
             at = nl + 1)
            if (!take(buffer.constData() + at, nl + 1 - at, b))
                return false;
        if (at > 0)
            continue;
        // Line ends of a lone CR: no line of it ever ends.
        if (const qsizetype cr = buffer.indexOf('\r'); cr >= 0 && cr + 1 < buffer.size()) {
            error_ =
                QStringLiteral(
                    "El fichero %1 tiene finales de línea de un solo CR, sin LF: no se archiva.")
                    .arg(QDir::toNativeSeparators(path_));
            return false;
        }
        // A line longer than a piece: read on to its end.
        qsizetype nl = -1;
        while ((nl = buffer.indexOf('\n')) < 0 && buffer.size() <= longestLine) {
            const QByteArray more = f.read(piece);
            if (more.isEmpty()) {
                ended = true;
                return true; // its end is not written yet
            }
            buffer += more;
        }
        if (nl >= 0) {
            if (!take(buffer.constData(), nl + 1, b))
                return false;
            continue;
        }
        // Longer than any line of a capture: skipped whole once it ends,
        // hashed as it goes, so that only a piece of it is in memory.
        std::uint64_t h = hashBytes(pos_.hash, buffer.constData(), buffer.size());
        qint64 length = buffer.size();
        for (;;) {
            buffer = f.read(piece);
            if (buffer.isEmpty()) {
                ended = true;
                return true; // its end is not written yet
            }
            nl = buffer.indexOf('\n');
            const qsizetype used = nl < 0 ? buffer.size() : nl + 1;
            h = hashBytes(h, buffer.constData(), used);
            length += used;
            if (nl >= 0)
                break;
        }
        pos_.hash = h;
        pos_.offset += length;
        ++pos_.lines;
        ++rejected_;
        skipped(pos_.lines, {}, true);
    }
    return true;
}

bool FollowedFile::next(qint64 most, Batch &b)
{
    b = Batch{};
    b.key = key_;
    b.before = progress_;
    b.after = progress_;
    error_.clear();
    if (!dayValid_) {
        error_ = QStringLiteral("El nombre del fichero %1 no es una fecha.")
                     .arg(QDir::toNativeSeparators(path_));
        return false;
    }
    struct stat st {};
    if (::stat(QFile::encodeName(path_).constData(), &st) != 0)
        return true; // gone: nothing to read
    const Look look{static_cast<quint64>(st.st_ino), static_cast<qint64>(st.st_size),
                    static_cast<qint64>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
    const bool seen = look_.size >= 0;
    // Another inode, a shorter file, or new bytes without new length: a
    // replacement or a rewrite, unless the archived bytes are all the same.
    // At a start (or after a reconnection) the look kept with the progress
    // stands for the last one: another inode or modification time than the
    // archived part was read with.
    quint64 inode = 0;
    qint64 mtimeNs = 0;
    const bool suspicious = seen ? look.inode != look_.inode || look.size < progress_.at.offset ||
            (look.size == look_.size && look.mtimeNs != look_.mtimeNs)
                                 : look.size < progress_.at.offset ||
            (storedLook(progress_, inode, mtimeNs) &&
             (inode != look.inode || mtimeNs != look.mtimeNs));
    const bool changed = look != look_;
    look_ = look;
    if (!reader_ && !changed && seen)
        return true; // resting and untouched
    QFile f(path_);
    if (!f.open(QIODevice::ReadOnly)) {
        error_ = f.error() == QFileDevice::PermissionsError
            ? QStringLiteral("No se puede leer el fichero %1: permiso denegado.")
                  .arg(QDir::toNativeSeparators(path_))
            : QStringLiteral("No se puede leer el fichero %1.")
                  .arg(QDir::toNativeSeparators(path_));
        return false;
    }
    if (!reader_) {
        if (!open(f, suspicious)) {
            error_ = QStringLiteral("No se puede leer el fichero %1.")
                         .arg(QDir::toNativeSeparators(path_));
            reader_.reset();
            return false;
        }
    } else if (changed && progress_.at.offset > 0 && pos_ == progress_.at && progress_.hashKnown) {
        if (!stillArchived(f, suspicious))
            restart(QStringLiteral(
                        "El fichero %1 ha cambiado (otro fichero con el mismo nombre, o "
                        "reescrito): se lee de "
                        "nuevo desde el principio, sin repetir lecturas; gana el fichero nuevo.")
                        .arg(QDir::toNativeSeparators(path_)),
                    true);
    }
    const qint64 start = pos_.offset;
    bool ended = false;
    if (!readLines(f, most, b, ended)) {
        reader_.reset();
        return false;
    }
    // The first batch of a replaced file sets its stored lines aside.
    b.start = std::exchange(setAside_, false) ? start : b.before.at.offset;
    b.byKey = start < byKeyUntil_;
    b.after.at = pos_;
    b.after.hashKnown = true;
    b.after.sample = sample(f, pos_);
    b.after.state = readerState(*reader_, look.inode, look.mtimeNs);
    noteHeaderId(b);
    // Read again to its end (a shorter file) or past the part archived
    // before: the stored lines it did not give again are no longer its own.
    b.after.byKeyUntil = pos_.offset >= byKeyUntil_ || (ended && b.byKey) ? 0 : byKeyUntil_;
    b.byKeyUntil = byKeyUntil_;
    return true;
}

void FollowedFile::noteHeaderId(Batch &b) const
{
    if (headers_.empty() || headers_.back().id <= 0 || b.after.state.size() != 32)
        return;
    b.after.state.resize(36);
    qToLittleEndian<qint32>(headers_.back().id, b.after.state.data() + 32);
}

Progress FollowedFile::progressAfter(const Batch &b, std::size_t i) const
{
    Progress p;
    p.at = b.lines[i].end;
    p.byKeyUntil = p.at.offset >= b.byKeyUntil ? 0 : b.byKeyUntil;
    QFile f(path_);
    if (f.open(QIODevice::ReadOnly))
        p.sample = sample(f, p.at);
    return p;
}
