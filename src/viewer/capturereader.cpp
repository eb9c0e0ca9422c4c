#include "viewer/capturereader.h"

#include "registry/cp1252.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

namespace {

constexpr double gap = std::numeric_limits<double>::quiet_NaN();
// Far above any header the program writes; past it a line is not ours, and a
// file of other bytes is given up on without holding it all in memory.
constexpr qsizetype longestLine = 1 << 20;
constexpr qint64 chunk = 4 << 20;

bool blank(char c) { return c == ' ' || c == '\t'; }
int digit(char c) { return c >= '0' && c <= '9' ? c - '0' : -1; }

// Two digits at p, or -1.
int two(const char *p)
{
    const int a = digit(p[0]), b = digit(p[1]);
    return a < 0 || b < 0 ? -1 : a * 10 + b;
}

// One value of a data line: a number with decimal comma or point, or ERR.
// Infinities and NaN texts are gaps too: nothing can be drawn for them.
bool number(const char *begin, const char *end, double &out)
{
    const qsizetype size = end - begin;
    if (size == 3 && begin[0] == 'E' && begin[1] == 'R' && begin[2] == 'R') {
        out = gap;
        return true;
    }
    char text[64];
    if (size <= 0 || size >= static_cast<qsizetype>(sizeof text))
        return false;
    qsizetype n = 0;
    for (const char *p = begin; p < end; ++p) {
        if (*p == '+' && p == begin)
            continue; // the reader below refuses a leading plus
        text[n++] = *p == ',' ? '.' : *p;
    }
    double value = 0;
    const auto r = std::from_chars(text, text + n, value);
    if (r.ec != std::errc() || r.ptr != text + n)
        return false;
    out = std::isfinite(value) ? value : gap;
    return true;
}

bool classify(const QString &text, Column &c)
{
    static const QRegularExpression channel(QStringLiteral("^(.*) - ([a-d]) \\((.*)\\)$"),
                                            QRegularExpression::DotMatchesEverythingOption);
    const QRegularExpressionMatch m = channel.match(text);
    c.name = text;
    if (m.hasMatch()) {
        c.device = m.captured(1);
        c.unit = m.captured(3);
        c.kind = Kind::Channel;
        return true;
    }
    // The writer puts the masculine ordinal (0xBA); a degree sign is taken too.
    for (const QString &suffix : {QStringLiteral(" (\u00BAC)"), QStringLiteral(" (\u00B0C)")}) {
        if (text.endsWith(suffix)) {
            c.device = text.chopped(suffix.size());
            c.unit = QStringLiteral("\u00BAC");
            c.kind = Kind::Temperature;
            return true;
        }
    }
    if (text.endsWith(QStringLiteral(" (%)"))) {
        c.device = text.chopped(4);
        c.unit = QStringLiteral("%");
        c.kind = Kind::Humidity;
        return true;
    }
    if (text.endsWith(QStringLiteral(" - 1")) || text.endsWith(QStringLiteral(" - 2"))) {
        c.device = text.chopped(4);
        c.unit.clear();
        c.kind = Kind::Input;
        return true;
    }
    return false;
}

} // namespace

std::vector<QDateTime> ColumnSet::qtimes() const
{
    std::vector<QDateTime> out;
    out.reserve(times.size());
    for (const qint64 t : times)
        out.push_back(CaptureReader::toDateTime(t));
    return out;
}

CaptureReader::CaptureReader(QString path) : path_(std::move(path)) {}

QString CaptureReader::notCapture() { return QStringLiteral("No es un fichero de captura."); }

QDateTime CaptureReader::toDateTime(qint64 ms) { return QDateTime::fromMSecsSinceEpoch(ms); }

qint64 CaptureReader::rows() const
{
    qint64 n = 0;
    for (const ColumnSet &s : sets_)
        n += static_cast<qint64>(s.times.size());
    return n;
}

bool CaptureReader::parseHeader(const QString &line, std::vector<Column> &columns)
{
    columns.clear();
    if (line == QLatin1String("Hora"))
        return true;
    if (!line.startsWith(QLatin1String("Hora  ")))
        return false;
    // Columns are joined by two blanks; a name that itself holds two blanks
    // splits into pieces that are joined again until they make a column.
    const QStringList pieces = line.mid(6).split(QStringLiteral("  "));
    QString pending;
    bool open = false;
    for (const QString &piece : pieces) {
        pending = open ? pending + QStringLiteral("  ") + piece : piece;
        open = true;
        Column c;
        if (classify(pending, c)) {
            columns.push_back(std::move(c));
            open = false;
        }
    }
    if (open)
        columns.clear();
    return !open;
}

void CaptureReader::reset()
{
    sets_.clear();
    tail_.clear();
    skipping_ = false;
    sawHeader_ = false;
    offset_ = 0;
    rejected_ = 0;
}

qint64 CaptureReader::localMs(int y, int mo, int d, int h, int mi, int s)
{
    const qint64 key = ((static_cast<qint64>(y) * 13 + mo) * 32 + d) * 24 + h;
    if (key != hourKey_) {
        const QDate date(y, mo, d);
        const QDateTime start(date, QTime(h, 0));
        if (start.isValid()) {
            hourMs_ = start.toMSecsSinceEpoch();
        } else {
            // An hour a clock change skips: its lines (from a clock not yet
            // moved) are read with the offset in force before the change.
            const qint64 utc = QDateTime(date, QTime(h, 0), Qt::UTC).toMSecsSinceEpoch();
            hourMs_ = utc - QDateTime::fromMSecsSinceEpoch(utc - 12 * 3600000).offsetFromUtc() * qint64{1000};
        }
        hourKey_ = key;
    }
    return hourMs_ + (mi * 60 + s) * 1000;
}

bool CaptureReader::dataLine(const char *begin, const char *end)
{
    // dd-MM-yyyy hh:mm:ss
    if (end - begin < 19 || begin[2] != '-' || begin[5] != '-' || begin[10] != ' ' || begin[13] != ':' ||
        begin[16] != ':')
        return false;
    const int d = two(begin), mo = two(begin + 3), y1 = two(begin + 6), y2 = two(begin + 8);
    const int h = two(begin + 11), mi = two(begin + 14), s = two(begin + 17);
    if (d < 0 || mo < 0 || y1 < 0 || y2 < 0 || h < 0 || h > 23 || mi < 0 || mi > 59 || s < 0 || s > 59)
        return false;
    const int y = y1 * 100 + y2;
    if (!QDate::isValid(y, mo, d))
        return false;

    ColumnSet &set = sets_.back();
    const std::size_t count = set.columns.size();
    const char *p = begin + 19;
    if (p < end && !blank(*p))
        return false;
    // Parse every value before storing any, so a bad line leaves no trace.
    thread_local std::vector<double> row;
    row.clear();
    while (true) {
        while (p < end && blank(*p))
            ++p;
        if (p == end)
            break;
        const char *q = p;
        while (q < end && !blank(*q))
            ++q;
        double v;
        if (row.size() == count || !number(p, q, v))
            return false;
        row.push_back(v);
        p = q;
    }
    if (row.size() != count)
        return false;
    set.times.push_back(localMs(y, mo, d, h, mi, s));
    for (std::size_t k = 0; k < count; ++k)
        set.values[k].push_back(row[k]);
    return true;
}

bool CaptureReader::line(const char *begin, const char *end)
{
    if (end > begin && end[-1] == '\r')
        --end;
    if (end == begin)
        return true;
    const bool hora = end - begin >= 4 && std::equal(begin, begin + 4, "Hora");
    if (hora) {
        std::vector<Column> columns;
        if (parseHeader(cp1252::decode(begin, static_cast<std::size_t>(end - begin)), columns)) {
            ColumnSet set;
            set.values.resize(columns.size());
            set.columns = std::move(columns);
            sets_.push_back(std::move(set));
            sawHeader_ = true;
            return true;
        }
    }
    if (!sawHeader_) {
        error_ = notCapture();
        notCapture_ = true;
        return false;
    }
    if (hora || !dataLine(begin, end))
        ++rejected_;
    return true;
}

CaptureReader::Change CaptureReader::feed(QByteArrayView bytes)
{
    if (notCapture_)
        return Change::Failed;
    const std::size_t setsBefore = sets_.size();
    const qint64 rowsBefore = sets_.empty() ? 0 : static_cast<qint64>(sets_.back().times.size());

    const char *p = bytes.data();
    const char *const end = p + bytes.size();
    offset_ += bytes.size();
    while (p < end) {
        const char *nl = static_cast<const char *>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
        if (skipping_) {
            if (!nl)
                break;
            skipping_ = false;
            p = nl + 1;
            continue;
        }
        if (!nl) {
            tail_.append(p, end - p);
            break;
        }
        bool ok;
        if (tail_.isEmpty()) {
            ok = line(p, nl);
        } else {
            tail_.append(p, nl - p);
            ok = line(tail_.constData(), tail_.constData() + tail_.size());
            tail_.clear();
        }
        if (!ok)
            return Change::Failed;
        p = nl + 1;
    }
    // An incomplete line: a file of other bytes shows it early or by its length.
    if (!sawHeader_ && !tail_.isEmpty() && tail_ != "\r" && !QByteArrayView("Hora").startsWith(tail_.left(4))) {
        error_ = notCapture();
        notCapture_ = true;
        return Change::Failed;
    }
    if (tail_.size() > longestLine) {
        if (!sawHeader_) {
            error_ = notCapture();
            notCapture_ = true;
            return Change::Failed;
        }
        ++rejected_;
        tail_.clear();
        skipping_ = true;
    }
    const qint64 rowsAfter = sets_.empty() ? 0 : static_cast<qint64>(sets_.back().times.size());
    return sets_.size() != setsBefore || rowsAfter != rowsBefore ? Change::Appended : Change::None;
}

CaptureReader::Change CaptureReader::follow()
{
    if (notCapture_)
        return Change::Failed;
    const QString shown = QFileInfo(path_).fileName();
    const QFileInfo info(path_);
    if (!info.exists()) {
        error_ = QStringLiteral("No se encuentra el fichero %1.").arg(shown);
        return Change::Failed;
    }
    if (!info.isFile()) {
        error_ = QStringLiteral("%1 no es un fichero normal.").arg(shown);
        return Change::Failed;
    }
    QFile f(path_);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        error_ = f.error() == QFileDevice::PermissionsError
                     ? QStringLiteral("No se puede leer el fichero %1: permiso denegado.").arg(shown)
                     : QStringLiteral("No se puede leer el fichero %1.").arg(shown);
        return Change::Failed;
    }
    error_.clear();
    Change change = Change::None;
    if (f.size() < offset_) {
        // Only another program shortens a capture file: start over.
        reset();
        change = Change::Reset;
    }
    if (!f.seek(offset_)) {
        error_ = QStringLiteral("No se puede leer el fichero %1.").arg(shown);
        return Change::Failed;
    }
    QByteArray buffer;
    while (true) {
        buffer.resize(chunk);
        const qint64 got = f.read(buffer.data(), chunk);
        if (got < 0) {
            error_ = QStringLiteral("No se puede leer el fichero %1.").arg(shown);
            return Change::Failed;
        }
        if (got == 0)
            break;
        bytesRead_ += got;
        const Change c = feed(QByteArrayView(buffer.constData(), got));
        if (c == Change::Failed)
            return c;
        if (c == Change::Appended && change == Change::None)
            change = c;
        if (got < chunk)
            break;
    }
    return change;
}
