#include "monitor/captureheader.h"

#include <QStringView>

#include <algorithm>
#include <array>
#include <utility>

namespace {

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
        for (qsizetype sep = body.indexOf(QLatin1String("  ")); sep >= 0;
             sep = body.indexOf(QLatin1String("  "), sep + 2))
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
                chosen.emplace_back(pieces_[static_cast<std::size_t>(from)].start,
                                    pieces_[static_cast<std::size_t>(taken->last[k])].end);
            p = static_cast<std::size_t>(taken->next);
            section = taken->section;
        }
        if (count >= 0 && static_cast<qsizetype>(chosen.size()) != count)
            return false;
        columns.resize(chosen.size());
        for (std::size_t k = 0; k < chosen.size(); ++k)
            captureheader::readColumn(
                body_.mid(chosen[k].first, chosen[k].second - chosen[k].first).toString(),
                columns[k]);
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
        int channel = -1; // ")" ending: where the last " - x (" before it is, -1: none
        char letter = 0; // that channel letter x
        char tag = 0; // the suffix's tag: 'T' " (ºC)", 'H' " (%)", '1' or '2' " - 1"/" - 2"
        char suffix = 0; // its length
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
                if (text[i] == u' ' && text[i + 1] == u'-' && text[i + 2] == u' ' && x >= u'a' &&
                    x <= u'd' && text[i + 4] == u' ' && text[i + 5] == u'(') {
                    e.channel = i;
                    e.letter = static_cast<char>(x.unicode());
                    break;
                }
            }
            // The writer puts the masculine ordinal (0xBA); a degree sign is taken too.
            if (text.endsWith(QStringView(u" (\u00BAC)")) ||
                text.endsWith(QStringView(u" (\u00B0C)")))
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
        const int farthest =
            at + (want == 'H' || want == '2' ? static_cast<int>(device.size()) + 4 : longestColumn);
        for (int r = next_[static_cast<std::size_t>(from)]; r < static_cast<int>(pieces_.size());
             r = next_[static_cast<std::size_t>(r) + 1]) {
            const Piece &e = pieces_[static_cast<std::size_t>(r)];
            if (e.end > farthest)
                break;
            int end = 0;
            if (tagOf(at, e, end) == want && end - at == device.size() &&
                body_.mid(at, device.size()) == device)
                return r;
        }
        return -1;
    }

    // The ways on from piece p, the fewest pieces first.
    const std::vector<Option> &options(std::size_t p, int section)
    {
        scratch_.clear();
        const int start = pieces_[p].start;
        for (int q = next_[p]; q < static_cast<int>(pieces_.size());
             q = next_[static_cast<std::size_t>(q) + 1]) {
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
        std::stable_sort(scratch_.begin(), scratch_.end(),
                         [](const Option &a, const Option &b) { return a.next < b.next; });
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
                    const Span &rest = span_[static_cast<std::size_t>(o.next)]
                                            [static_cast<std::size_t>(o.section)];
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

namespace captureheader {

QString columnText(const QString &device, char tag, const QString &unit)
{
    switch (tag) {
    case 'T':
        return device + QStringLiteral(" (\u00BAC)");
    case 'H':
        return device + QStringLiteral(" (%)");
    case 'a':
    case 'b':
    case 'c':
    case 'd':
        return device + QStringLiteral(" - ") + QLatin1Char(tag) + QStringLiteral(" (") + unit +
            u')';
    case '1':
    case '2':
        return device + QStringLiteral(" - ") + QLatin1Char(tag);
    default:
        return {};
    }
}

bool readColumn(const QString &text, Column &c)
{
    c.name = text;
    // "name - x (unit)": the last " - x (" before the closing parenthesis,
    // as a unit may hold anything, even parentheses.
    if (text.endsWith(u')')) {
        for (qsizetype i = text.size() - 7; i >= 0; --i) {
            const QChar x = text[i + 3];
            if (text[i] == u' ' && text[i + 1] == u'-' && text[i + 2] == u' ' && x >= u'a' &&
                x <= u'd' && text[i + 4] == u' ' && text[i + 5] == u'(') {
                c.device = text.left(i);
                c.unit = text.mid(i + 6, text.size() - i - 7);
                c.kind = Kind::Channel;
                c.tag = static_cast<char>(x.unicode());
                return true;
            }
        }
    }
    // The writer puts the masculine ordinal (0xBA); a degree sign is taken too.
    for (const QString &suffix : {QStringLiteral(" (\u00BAC)"), QStringLiteral(" (\u00B0C)")}) {
        if (text.endsWith(suffix)) {
            c.device = text.chopped(suffix.size());
            c.unit = QStringLiteral("\u00BAC");
            c.kind = Kind::Temperature;
            c.tag = 'T';
            return true;
        }
    }
    if (text.endsWith(QStringLiteral(" (%)"))) {
        c.device = text.chopped(4);
        c.unit = QStringLiteral("%");
        c.kind = Kind::Humidity;
        c.tag = 'H';
        return true;
    }
    if (text.endsWith(QStringLiteral(" - 1")) || text.endsWith(QStringLiteral(" - 2"))) {
        c.device = text.chopped(4);
        c.unit.clear();
        c.kind = Kind::Input;
        c.tag = static_cast<char>(text.back().unicode());
        return true;
    }
    return false;
}

bool parse(const QString &line, std::vector<Column> &columns, qsizetype count, bool *ordered)
{
    columns.clear();
    if (ordered)
        *ordered = false;
    if (line == hora)
        return count <= 0;
    if (!line.startsWith(hora + QLatin1String("  ")))
        return false;
    HeaderCut cut(QStringView(line).mid(hora.size() + 2));
    if (cut.cut(true, count, columns)) {
        if (ordered)
            *ordered = true;
        return true;
    }
    // Only the writer's order lets a line's field count choose a cut.
    return count < 0 && cut.cut(false, count, columns);
}

} // namespace captureheader
