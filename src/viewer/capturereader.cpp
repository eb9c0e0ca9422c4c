#include "viewer/capturereader.h"

#include "registry/cp1252.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

namespace {

constexpr double gap = std::numeric_limits<double>::quiet_NaN();
// The longest line the program writes: the header of 32 767 converters with
// 16-character names and 8-character units, "  name - a (unit)" for each of
// four channels (a data line takes less room per column). Past it a line is
// not ours, and a file of other bytes is given up on without holding it all
// in memory.
constexpr qsizetype longestLine = 4 + qsizetype{32767} * 4 * (2 + 16 + 6 + 8 + 1) + 2;
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

// A column's text and what ends it: 'T' and 'H' for " (ºC)" and " (%)",
// the channel letter 'a'..'d', the input digit '1' or '2'; 0 for none.
char classify(const QString &text, Column &c)
{
    c.name = text;
    // "name - x (unit)": the last " - x (" before the closing parenthesis,
    // as a unit may hold anything, even parentheses.
    if (text.endsWith(u')')) {
        for (qsizetype i = text.size() - 7; i >= 0; --i) {
            const QChar x = text[i + 3];
            if (text[i] == u' ' && text[i + 1] == u'-' && text[i + 2] == u' ' && x >= u'a' && x <= u'd' &&
                text[i + 4] == u' ' && text[i + 5] == u'(') {
                c.device = text.left(i);
                c.unit = text.mid(i + 6, text.size() - i - 7);
                c.kind = Kind::Channel;
                return static_cast<char>(x.unicode());
            }
        }
    }
    // The writer puts the masculine ordinal (0xBA); a degree sign is taken too.
    for (const QString &suffix : {QStringLiteral(" (\u00BAC)"), QStringLiteral(" (\u00B0C)")}) {
        if (text.endsWith(suffix)) {
            c.device = text.chopped(suffix.size());
            c.unit = QStringLiteral("\u00BAC");
            c.kind = Kind::Temperature;
            return 'T';
        }
    }
    if (text.endsWith(QStringLiteral(" (%)"))) {
        c.device = text.chopped(4);
        c.unit = QStringLiteral("%");
        c.kind = Kind::Humidity;
        return 'H';
    }
    if (text.endsWith(QStringLiteral(" - 1")) || text.endsWith(QStringLiteral(" - 2"))) {
        c.device = text.chopped(4);
        c.unit.clear();
        c.kind = Kind::Input;
        return static_cast<char>(text.back().unicode());
    }
    return 0;
}

// Splitting a header line into columns. The columns are joined by two
// blanks, but a device name may hold two blanks too, and even look like a
// column ("Zona - 1  Norte"). A column is therefore one or more pieces
// between separators that end like a column; among the ways to cut the line
// so, the one that follows the writer's order (a temperature alone or with
// its humidity, the four channels of a converter, then the two inputs of each
// detector and relay device) is taken, with the number of columns a data
// line shows when it is known. Lines of other writers, that follow no such
// order, are cut by the endings alone.
//
// Any line may come in a file of the capture name, so the search is bounded:
// a few words per piece (what each piece's end allows is worked out once,
// for any start), columns materialised only for the cut taken, and a column
// never longer than longestColumn, so the work per piece is bounded too.
class HeaderCut {
public:
    explicit HeaderCut(QStringView body) : body_(body)
    {
        qsizetype count = 1;
        for (qsizetype sep = body.indexOf(QLatin1String("  ")); sep >= 0; sep = body.indexOf(QLatin1String("  "), sep + 2))
            ++count;
        pieces_.reserve(static_cast<std::size_t>(count));
        for (qsizetype from = 0;;) {
            const qsizetype sep = body.indexOf(QLatin1String("  "), from);
            const qsizetype end = sep < 0 ? body.size() : sep;
            pieces_.push_back(ending(static_cast<int>(from), static_cast<int>(end)));
            if (sep < 0)
                break;
            from = sep + 2;
        }
        // Runs of pieces that end no column (blanks, words) are stepped over.
        next_.resize(pieces_.size() + 1);
        next_.back() = static_cast<int>(pieces_.size());
        for (std::size_t q = pieces_.size(); q-- > 0;)
            next_[q] = pieces_[q].tag || pieces_[q].paren ? static_cast<int>(q) : next_[q + 1];
    }

    // Columns of the cut with `count` columns (any count when negative).
    bool cut(bool ordered, qsizetype count, std::vector<Column> &columns)
    {
        columns.clear();
        if (!pieces_.back().tag && !pieces_.back().paren)
            return false; // nothing can end the line
        ordered_ = ordered;
        reach(); // least and most columns from every piece to the end
        std::vector<std::pair<int, int>> chosen; // start and end of each column in the line
        std::size_t p = 0;
        int section = 0;
        while (p < pieces_.size()) {
            const qsizetype left = count < 0 ? -1 : count - static_cast<qsizetype>(chosen.size());
            const Option *taken = nullptr;
            for (const Option &o : options(p, section)) {
                const Span &s = span_[o.next][static_cast<std::size_t>(o.section)];
                if (s.least < 0 || (left >= 0 && (left - o.n < s.least || left - o.n > s.most)))
                    continue;
                taken = &o;
                break;
            }
            if (!taken || static_cast<qsizetype>(chosen.size()) + taken->n > mostColumns)
                return false;
            for (int k = 0, from = static_cast<int>(p); k < taken->n; from = taken->last[k++] + 1)
                chosen.emplace_back(pieces_[static_cast<std::size_t>(from)].start, pieces_[static_cast<std::size_t>(taken->last[k])].end);
            p = static_cast<std::size_t>(taken->next);
            section = taken->section;
        }
        if (count >= 0 && static_cast<qsizetype>(chosen.size()) != count)
            return false;
        columns.resize(chosen.size());
        for (std::size_t k = 0; k < chosen.size(); ++k)
            classify(body_.mid(chosen[k].first, chosen[k].second - chosen[k].first).toString(), columns[k]);
        return true;
    }

private:
    // The longest column the program writes, "name - a (unit)" with a
    // 16-character name and an 8-character unit, is 31 characters; other
    // writers get room to spare, and the search stays short per piece.
    static constexpr int longestColumn = 96;
    // Four channels of each of the most devices a table holds.
    static constexpr qsizetype mostColumns = qsizetype{4} * 32767;

    // A piece, and what a column that ends with it is, whatever its start.
    struct Piece {
        int start, end;
        int channel = -1;  // ")" ending: where the last " - x (" before it is, -1: none
        char letter = 0;   // that channel letter x
        char tag = 0;      // the suffix's tag: 'T' " (ºC)", 'H' " (%)", '1' or '2' " - 1"/" - 2"
        char suffix = 0;   // its length
        bool paren = false;
    };
    // A way on from a piece: n columns, each ending with piece last[k].
    struct Option {
        int last[4];
        int n;
        int next;
        int section; // 0: any column may follow; 1: only detector and relay inputs
    };
    struct Span {
        int least = -1, most = -1; // -1: the end cannot be reached
    };

    Piece ending(int start, int end) const
    {
        Piece e{start, end};
        if (end == 0)
            return e;
        const QStringView text = body_.first(end);
        const QChar last = text.back();
        e.paren = last == u')';
        if (e.paren) {
            for (int i = end - 7; i >= 0 && i >= end - longestColumn; --i) {
                const QChar x = text[i + 3];
                if (text[i] == u' ' && text[i + 1] == u'-' && text[i + 2] == u' ' && x >= u'a' && x <= u'd' &&
                    text[i + 4] == u' ' && text[i + 5] == u'(') {
                    e.channel = i;
                    e.letter = static_cast<char>(x.unicode());
                    break;
                }
            }
            // The writer puts the masculine ordinal (0xBA); a degree sign is taken too.
            if (text.endsWith(QStringView(u" (\u00BAC)")) || text.endsWith(QStringView(u" (\u00B0C)")))
                e.tag = 'T', e.suffix = 5;
            else if (text.endsWith(QStringView(u" (%)")))
                e.tag = 'H', e.suffix = 4;
        } else if (text.endsWith(QStringView(u" - 1")) || text.endsWith(QStringView(u" - 2"))) {
            e.tag = static_cast<char>(last.unicode());
            e.suffix = 4;
        }
        return e;
    }

    // What the column from `start` to the end of piece e is ('a'..'d' for a
    // channel), and where its device name ends; 0 for no column.
    static char tagOf(int start, const Piece &e, int &deviceEnd)
    {
        if (e.channel >= start) {
            deviceEnd = e.channel;
            return e.letter;
        }
        if (e.tag && e.end - start >= e.suffix) {
            deviceEnd = e.end - e.suffix;
            return e.tag;
        }
        return 0;
    }

    // The column after piece q (from the next piece on) of the same device
    // [start, deviceEnd) with tag `want`: the index of its last piece, or -1.
    int follower(int q, int start, int deviceEnd, char want) const
    {
        const int from = q + 1;
        if (from >= static_cast<int>(pieces_.size()))
            return -1;
        const int at = pieces_[static_cast<std::size_t>(from)].start;
        const QStringView device = body_.mid(start, deviceEnd - start);
        // A humidity or an input ends right after its name; a channel's unit may be anything.
        const int farthest = at + (want == 'H' || want == '2' ? static_cast<int>(device.size()) + 4 : longestColumn);
        for (int r = next_[static_cast<std::size_t>(from)]; r < static_cast<int>(pieces_.size()); r = next_[static_cast<std::size_t>(r) + 1]) {
            const Piece &e = pieces_[static_cast<std::size_t>(r)];
            if (e.end > farthest)
                break;
            int end = 0;
            if (tagOf(at, e, end) == want && end - at == device.size() && body_.mid(at, device.size()) == device)
                return r;
        }
        return -1;
    }

    // The ways on from piece p, the fewest pieces first.
    const std::vector<Option> &options(std::size_t p, int section)
    {
        scratch_.clear();
        const int start = pieces_[p].start;
        for (int q = next_[p]; q < static_cast<int>(pieces_.size()); q = next_[static_cast<std::size_t>(q) + 1]) {
            const Piece &e = pieces_[static_cast<std::size_t>(q)];
            if (e.end - start > longestColumn)
                break;
            int deviceEnd = 0;
            const char tag = tagOf(start, e, deviceEnd);
            if (!tag)
                continue;
            if (!ordered_) {
                scratch_.push_back({{q}, 1, q + 1, 0});
                continue;
            }
            if (tag == '1') {
                if (const int two = follower(q, start, deviceEnd, '2'); two >= 0)
                    scratch_.push_back({{q, two}, 2, two + 1, 1});
                continue;
            }
            if (section == 1)
                continue;
            if (tag == 'T') {
                scratch_.push_back({{q}, 1, q + 1, 0});
                if (const int h = follower(q, start, deviceEnd, 'H'); h >= 0)
                    scratch_.push_back({{q, h}, 2, h + 1, 0});
            } else if (tag == 'a') {
                Option four{{q}, 1, 0, 0};
                for (const char next : {'b', 'c', 'd'}) {
                    const int r = follower(four.last[four.n - 1], start, deviceEnd, next);
                    if (r < 0)
                        break;
                    four.last[four.n++] = r;
                }
                if (four.n == 4) {
                    four.next = four.last[3] + 1;
                    scratch_.push_back(four);
                }
            }
        }
        std::stable_sort(scratch_.begin(), scratch_.end(), [](const Option &a, const Option &b) { return a.next < b.next; });
        return scratch_;
    }

    void reach()
    {
        span_.assign(pieces_.size() + 1, {});
        span_.back() = {Span{0, 0}, Span{0, 0}};
        for (std::size_t p = pieces_.size(); p-- > 0;) {
            const std::vector<Option> &all = options(p, 0);
            for (int section = 0; section < 2; ++section) {
                Span &s = span_[p][static_cast<std::size_t>(section)];
                for (const Option &o : all) {
                    // Among detector and relay inputs only their pairs go on.
                    if (section == 1 && ordered_ && o.section != 1)
                        continue;
                    const Span &rest = span_[static_cast<std::size_t>(o.next)][static_cast<std::size_t>(o.section)];
                    if (rest.least < 0)
                        continue;
                    s.least = s.least < 0 ? rest.least + o.n : std::min(s.least, rest.least + o.n);
                    s.most = std::max(s.most, rest.most + o.n);
                }
            }
        }
    }

    QStringView body_;
    std::vector<Piece> pieces_;
    std::vector<int> next_; // per piece: the first piece from it on that may end a column
    std::vector<std::array<Span, 2>> span_;
    std::vector<Option> scratch_;
    bool ordered_ = true;
};

} // namespace

CaptureReader::CaptureReader(QString path, QTimeZone zone) : path_(std::move(path)), zone_(std::move(zone)) {}

QString CaptureReader::notCapture() { return QStringLiteral("No es un fichero de captura."); }

QDateTime CaptureReader::toDateTime(qint64 ms, const QTimeZone &zone)
{
    return zone.isValid() ? QDateTime::fromMSecsSinceEpoch(ms, zone) : QDateTime::fromMSecsSinceEpoch(ms);
}

qint64 CaptureReader::rows() const
{
    qint64 n = 0;
    for (const ColumnSet &s : sets_)
        n += static_cast<qint64>(s.times.size());
    return n;
}

bool CaptureReader::parseHeader(const QString &line, std::vector<Column> &columns, qsizetype count, bool *ordered)
{
    columns.clear();
    if (ordered)
        *ordered = false;
    if (line == QLatin1String("Hora"))
        return count <= 0;
    if (!line.startsWith(QLatin1String("Hora  ")))
        return false;
    HeaderCut cut(QStringView(line).mid(6));
    if (cut.cut(true, count, columns)) {
        if (ordered)
            *ordered = true;
        return true;
    }
    // Only the writer's order lets a line's field count choose a cut.
    return count < 0 && cut.cut(false, count, columns);
}

void CaptureReader::reset()
{
    sets_.clear();
    tail_.clear();
    skipping_ = false;
    sawHeader_ = false;
    headerText_.clear();
    offset_ = 0;
    whole_ = 0;
    rejected_ = 0;
    headerAt_ = -1;
    lastMs_ = ResumePoint::none;
}

ResumePoint CaptureReader::resumePoint() const
{
    ResumePoint p;
    p.offset = whole_;
    p.header = headerAt_;
    // The columns are settled once a line stands under the header (or the
    // header is of another writer's order, which is never cut again).
    if (sawHeader_ && headerText_.isEmpty())
        p.columns = static_cast<qint64>(sets_.back().columns.size());
    p.lastMs = lastMs_;
    return p;
}

bool CaptureReader::resume(const ResumePoint &p)
{
    reset();
    notCapture_ = false;
    error_.clear();
    const auto refuse = [this] {
        reset();
        return false;
    };
    if (p.offset < 0 || p.header >= p.offset)
        return refuse();
    if (p.header >= 0) {
        QFile f(path_);
        if (!f.open(QIODevice::ReadOnly) || !f.seek(p.header)) {
            error_ = QStringLiteral("No se puede leer el fichero %1.").arg(QFileInfo(path_).fileName());
            return refuse();
        }
        // The header line alone, however long (up to the longest there is).
        const QByteArray text = f.readLine(std::min(qint64{longestLine} + 2, p.offset - p.header) + 1);
        bytesRead_ += text.size();
        whole_ = p.header;
        const qsizetype end = text.size() - (text.endsWith("\r\n") ? 2 : 1);
        if (!text.endsWith('\n') || !header(text.constData(), text.constData() + end))
            return refuse();
        if (p.columns >= 0 && !headerText_.isEmpty() && p.columns != static_cast<qint64>(sets_.back().columns.size())) {
            if (!recut(sets_.back(), static_cast<std::size_t>(p.columns)))
                return refuse();
        }
        if (p.columns >= 0)
            headerText_.clear();
    }
    offset_ = whole_ = p.offset;
    lastMs_ = p.lastMs;
    return true;
}

int CaptureReader::offsetAt(qint64 ms) const
{
    return zone_.isValid() ? zone_.offsetFromUtc(QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC))
                           : QDateTime::fromMSecsSinceEpoch(ms).offsetFromUtc();
}

// The offsets from UTC a local time can be read with, `wall` being that time
// on a clock kept in UTC: the same one twice, or in the hour a clock set back
// repeats, the summer one (the earlier instant) and the winter one. A time
// the clock skips forward is read with the offset in force before the change,
// as a clock not moved yet shows it. Clock changes are taken to be more than
// a day apart.
void CaptureReader::offsets(qint64 wall, int &early, int &late) const
{
    constexpr qint64 day = 86400000;
    const int before = offsetAt(wall - day), after = offsetAt(wall + day);
    const bool beforeFits = offsetAt(wall - before * qint64{1000}) == before;
    const bool afterFits = before != after && offsetAt(wall - after * qint64{1000}) == after;
    early = afterFits && (!beforeFits || after > before) ? after : before;
    late = beforeFits && (!afterFits || before < after) ? before : after;
    if (!beforeFits && !afterFits)
        early = late = before;
}

qint64 CaptureReader::instant(qint64 wall)
{
    constexpr qint64 hour = 3600000;
    const qint64 key = wall >= 0 ? wall / hour : (wall - hour + 1) / hour;
    if (key != hourKey_) {
        int early = 0, late = 0;
        offsets(key * hour, hourEarly_, hourLate_);
        offsets(key * hour + hour - 1000, early, late);
        hourMixed_ = early != hourEarly_ || late != hourLate_;
        hourKey_ = key;
    }
    int early = hourEarly_, late = hourLate_;
    if (hourMixed_)
        offsets(wall, early, late);
    // Of two equal local times the file's order settles which is meant: the
    // first reading unless it would go back before the line above, which
    // happens after the clock was set back (up to an hour: the repeated hour).
    const qint64 first = wall - early * qint64{1000};
    lastMs_ = lastMs_ == ResumePoint::none || first >= lastMs_ ? first : wall - late * qint64{1000};
    return lastMs_;
}

bool CaptureReader::recut(ColumnSet &set, std::size_t count)
{
    // Only the first line under a header can say how its names are cut.
    if (!set.times.empty() || headerText_.isEmpty())
        return false;
    std::vector<Column> columns;
    if (!parseHeader(headerText_, columns, static_cast<qsizetype>(count)))
        return false;
    set.columns = std::move(columns);
    set.values.assign(set.columns.size(), {});
    return true;
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
    const QDate date(y1 * 100 + y2, mo, d);
    if (!date.isValid())
        return false;

    ColumnSet &set = sets_.back();
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
        if (!number(p, q, v))
            return false;
        row.push_back(v);
        p = q;
    }
    if (row.size() != set.columns.size() && !recut(set, row.size()))
        return false;
    headerText_.clear();
    const std::size_t count = set.columns.size();
    constexpr qint64 unixDay = 2440588; // the Julian day of 1 January 1970
    set.times.push_back(instant((date.toJulianDay() - unixDay) * 86400000 + (h * 3600 + mi * 60 + s) * qint64{1000}));
    for (std::size_t k = 0; k < count; ++k)
        set.values[k].push_back(row[k]);
    return true;
}

// A header line starts a new column set; false when the line is none.
bool CaptureReader::header(const char *begin, const char *end)
{
    if (end - begin < 4 || !std::equal(begin, begin + 4, "Hora"))
        return false;
    std::vector<Column> columns;
    QString text = cp1252::decode(begin, static_cast<std::size_t>(end - begin));
    bool ordered = false;
    if (!parseHeader(text, columns, -1, &ordered))
        return false;
    ColumnSet set;
    set.values.resize(columns.size());
    set.columns = std::move(columns);
    sets_.push_back(std::move(set));
    sawHeader_ = true;
    headerAt_ = whole_;
    // A header of the writer's order may be cut otherwise; one of another
    // writer's is cut by its endings alone, and a line that does not fit it
    // (a torn one) is no reason to cut it again.
    headerText_ = ordered ? std::move(text) : QString();
    return true;
}

bool CaptureReader::line(const char *begin, const char *end)
{
    // However the bytes arrive: a line longer than this is dropped unseen.
    const bool overlong = end - begin > longestLine;
    if (end > begin && end[-1] == '\r')
        --end;
    if (end == begin)
        return true;
    // A carriage return inside a line: lines ended by it alone (another
    // system's text), never ours.
    const bool bad = overlong || std::memchr(begin, '\r', static_cast<std::size_t>(end - begin));
    if (!bad && header(begin, end))
        return true;
    if (!sawHeader_) {
        error_ = notCapture();
        notCapture_ = true;
        return false;
    }
    if (bad || (end - begin >= 4 && std::equal(begin, begin + 4, "Hora")) || !dataLine(begin, end))
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
    const qint64 start = offset_;
    offset_ += bytes.size();
    while (p < end) {
        const char *nl = static_cast<const char *>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
        if (skipping_) {
            if (!nl)
                break;
            skipping_ = false;
            p = nl + 1;
            whole_ = start + (p - bytes.data());
            continue;
        }
        if (!nl) {
            // A carriage return followed by more than a line feed: the line
            // in progress is already known to be bad (see line()).
            const bool bad = (!tail_.isEmpty() && tail_.back() == '\r') ||
                             (end - p > 1 && std::memchr(p, '\r', static_cast<std::size_t>(end - p - 1)));
            tail_.append(p, end - p);
            if (bad && !sawHeader_) {
                error_ = notCapture();
                notCapture_ = true;
                return Change::Failed;
            }
            if (bad) {
                ++rejected_;
                tail_.clear();
                skipping_ = true;
            }
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
        whole_ = start + (p - bytes.data());
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

void CaptureReader::discardRows()
{
    for (ColumnSet &s : sets_) {
        s.times.clear();
        for (std::vector<double> &v : s.values)
            v.clear();
    }
}

CaptureReader::Change CaptureReader::follow(qint64 most)
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
    for (qint64 taken = 0; most < 0 || taken < most;) {
        const qint64 want = most < 0 ? chunk : std::min(chunk, most - taken);
        buffer.resize(want);
        const qint64 got = f.read(buffer.data(), want);
        if (got < 0) {
            error_ = QStringLiteral("No se puede leer el fichero %1.").arg(shown);
            return Change::Failed;
        }
        if (got == 0)
            break;
        bytesRead_ += got;
        taken += got;
        const Change c = feed(QByteArrayView(buffer.constData(), got));
        if (c == Change::Failed)
            return c;
        if (c == Change::Appended && change == Change::None)
            change = c;
        if (got < want)
            break;
    }
    return change;
}
