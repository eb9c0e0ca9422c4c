#include "viewer/csv.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QSaveFile>

#include <charconv>
#include <cmath>
#include <cstdlib>

namespace {

QByteArray cell(const QString &text)
{
    QByteArray bytes = text.toUtf8();
    if (!bytes.contains(',') && !bytes.contains('"') && !bytes.contains('\n') &&
        !bytes.contains('\r'))
        return bytes;
    bytes.replace("\"", "\"\"");
    return '"' + bytes + '"';
}

// ISO 8601 with the offset from UTC, so the hour a clock set back repeats
// reads as the plot shows it: after the hour before it.
void isoTime(QByteArray &out, const QDateTime &t)
{
    const int minutes = std::abs(t.offsetFromUtc()) / 60;
    out += t.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")).toLatin1();
    out += QString::asprintf("%c%02d:%02d", t.offsetFromUtc() < 0 ? '-' : '+', minutes / 60,
                             minutes % 60)
               .toLatin1();
}

void number(QByteArray &out, double v)
{
    if (std::isnan(v))
        return;
    char text[32];
    // Shortest text that reads back to the same value, always with a point.
    const auto r = std::to_chars(text, text + sizeof text, v);
    out.append(text, r.ptr - text);
}

} // namespace

std::vector<CsvSource> csvSources(const std::vector<const CaptureReader *> &files)
{
    std::vector<CsvSource> out;
    for (const CaptureReader *f : files)
        if (!f->sets().empty()) // a file of other bytes gives no line
            out.push_back({f->path(), f->zone(), f->whole()});
    return out;
}

qint64 csvBytes(const std::vector<CsvSource> &files)
{
    qint64 n = 0;
    for (const CsvSource &f : files)
        n += f.end;
    return n;
}

namespace {

constexpr qint64 piece = 1 << 20;

// Reads `file` with `r` up to its end as the viewer read it, handing `r` to
// `rows` after each piece and forgetting its rows then; false with the
// reader's message when the file cannot be read.
template <class Rows>
bool readAgain(const CsvSource &file, CaptureReader &r, Rows &&rows, QString &error)
{
    while (r.offset() < file.end) {
        const qint64 before = r.offset();
        if (r.follow(std::min(piece, file.end - r.offset())) == CaptureReader::Change::Failed) {
            error = r.error();
            return false;
        }
        if (!rows(r))
            return false;
        r.discardRows();
        if (r.offset() == before)
            break; // shorter than it was
    }
    return true;
}

} // namespace

bool writeCsv(const QString &path, const std::vector<CsvSource> &files, QString &error)
{
    QStringList names;
    QHash<QString, int> index;
    for (const CsvSource &f : files) {
        CaptureReader r(f.path, f.zone);
        if (!readAgain(
                f, r, [](const CaptureReader &) { return true; }, error))
            return false;
        for (const ColumnSet &s : r.sets())
            for (const Column &c : s.columns)
                if (!index.contains(c.name)) {
                    index.insert(c.name, static_cast<int>(names.size()));
                    names << c.name;
                }
    }
    const QString unwritable =
        QStringLiteral("No se puede escribir el fichero %1.").arg(QDir::toNativeSeparators(path));
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        error = unwritable;
        return false;
    }
    QByteArray out = "Hora";
    for (const QString &n : names)
        out += ',' + cell(n);
    out += "\r\n";
    std::vector<int> where;
    const auto rows = [&](const CaptureReader &r) {
        for (const ColumnSet &s : r.sets()) {
            if (s.times.empty())
                continue;
            // Cell of each column of the whole table, -1 where this set has none.
            where.assign(static_cast<std::size_t>(names.size()), -1);
            for (std::size_t c = 0; c < s.columns.size(); ++c)
                where[static_cast<std::size_t>(index.value(s.columns[c].name))] =
                    static_cast<int>(c);
            for (std::size_t k = 0; k < s.times.size(); ++k) {
                isoTime(out, CaptureReader::toDateTime(s.times[k], r.zone()));
                for (const int c : where) {
                    out += ',';
                    if (c >= 0)
                        number(out, s.values[static_cast<std::size_t>(c)][k]);
                }
                out += "\r\n";
            }
        }
        const bool written = file.write(out) == out.size();
        out.clear();
        if (!written)
            error = unwritable;
        return written;
    };
    for (const CsvSource &f : files) {
        CaptureReader r(f.path, f.zone);
        if (!readAgain(f, r, rows, error))
            return false;
    }
    if (!rows(CaptureReader()) || !file.commit()) {
        error = unwritable;
        return false;
    }
    return true;
}

bool esCaptura(const QString &path, const QString &current)
{
    const QFileInfo info(path);
    static const QRegularExpression name(QStringLiteral("^\\d\\d-\\d\\d-\\d{4}-\\d\\d\\.log$"),
                                         QRegularExpression::CaseInsensitiveOption);
    if (name.match(info.fileName()).hasMatch())
        return true;
    const QString target = info.exists() ? info.canonicalFilePath() : QString();
    if (target.isEmpty())
        return false;
    if (!current.isEmpty() && QFileInfo(current).canonicalFilePath() == target)
        return true;
    if (name.match(QFileInfo(target).fileName()).hasMatch())
        return true;
    // A capture's header line: "Hora", then its columns two blanks apart.
    QFile f(target);
    return f.open(QIODevice::ReadOnly) && f.read(6) == "Hora  ";
}

QString sobreCaptura(const QString &path)
{
    return QStringLiteral(
               "%1 es un fichero de captura y no se escribe sobre él: elija otro nombre.")
        .arg(QDir::toNativeSeparators(path));
}
