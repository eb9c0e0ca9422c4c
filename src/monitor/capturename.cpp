#include "monitor/capturename.h"

#include <algorithm>
#include <vector>

namespace {

const QString extension = QStringLiteral(".log");

// The ASCII digits from `at` on, `n` of them, as a number; -1 when one is
// anything else (a file name may hold any character).
int digits(QStringView text, qsizetype at, int n)
{
    int value = 0;
    for (qsizetype i = at; i < at + n; ++i) {
        const char16_t c = text[i].unicode();
        if (c < u'0' || c > u'9')
            return -1;
        value = value * 10 + (c - u'0');
    }
    return value;
}

} // namespace

QString CaptureName::dayText(const QDate &day)
{
    return day.toString(QStringLiteral("dd-MM-yyyy"));
}

QString CaptureName::make(const QString &day, const QString &seq)
{
    return day + u'-' + seq + extension;
}

bool CaptureName::isOfDay(const QString &name, const QString &day) { return name.left(10) == day; }

QString CaptureName::redated(const QString &name, const QString &day) { return day + name.mid(10); }

std::optional<CaptureName> CaptureName::parse(QStringView text)
{
    // dd-MM-yyyy-NN.log
    constexpr qsizetype size = 13 + 4;
    if (text.size() != size || text[2] != u'-' || text[5] != u'-' || text[10] != u'-' ||
        !text.endsWith(extension))
        return std::nullopt;
    const int d = digits(text, 0, 2), m = digits(text, 3, 2), y = digits(text, 6, 4),
              seq = digits(text, 11, 2);
    if (d < 0 || m < 0 || y < 0 || seq < 0)
        return std::nullopt;
    const QDate day(y, m, d);
    if (!day.isValid())
        return std::nullopt;
    return CaptureName(day, seq);
}

QString CaptureName::text() const
{
    return make(dayText(day_), QStringLiteral("%1").arg(sequence_, 2, 10, QLatin1Char('0')));
}

QStringList CaptureName::inFolder(const QDir &folder)
{
    return chronological(folder.entryList({QStringLiteral("*.log")}, QDir::Files));
}

QStringList CaptureName::chronological(const QStringList &names)
{
    std::vector<CaptureName> found;
    for (const QString &n : names)
        if (const auto c = parse(n))
            found.push_back(*c);
    std::sort(found.begin(), found.end());
    found.erase(std::unique(found.begin(), found.end()), found.end());
    QStringList out;
    out.reserve(static_cast<qsizetype>(found.size()));
    for (const CaptureName &c : found)
        out << c.text();
    return out;
}
