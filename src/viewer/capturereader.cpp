#include "viewer/capturereader.h"

#include "registry/cp1252.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace {

constexpr qint64 chunk = 4 << 20;

bool startsWithHora(const char *begin, const char *end)
{
    return end - begin >= 4 && std::equal(begin, begin + 4, "Hora");
}

} // namespace

CaptureReader::CaptureReader(QString path, QTimeZone zone)
    : path_(std::move(path)), time_(std::move(zone))
{
}

QString CaptureReader::notCapture() { return QStringLiteral("No es un fichero de captura."); }

void CaptureReader::reset()
{
    sets_.clear();
    framer_.restart(0);
    sawHeader_ = false;
    headerText_.clear();
    rejected_ = 0;
    rows_ = 0;
    headerAt_ = -1;
    lastMs_ = ResumePoint::none;
}

ResumePoint CaptureReader::resumePoint() const
{
    ResumePoint p;
    p.offset = framer_.whole();
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
            error_ =
                QStringLiteral("No se puede leer el fichero %1.").arg(QFileInfo(path_).fileName());
            return refuse();
        }
        // The header line alone, however long (up to the longest there is).
        const QByteArray text =
            f.readLine(std::min(qint64{capturelines::longestLine} + 2, p.offset - p.header) + 1);
        bytesRead_ += text.size();
        framer_.restart(p.header);
        const qsizetype end = text.size() - (text.endsWith("\r\n") ? 2 : 1);
        if (!text.endsWith('\n') || !header(text.constData(), text.constData() + end))
            return refuse();
        if (p.columns >= 0 && !headerText_.isEmpty() &&
            p.columns != static_cast<qint64>(sets_.back().columns.size())) {
            if (!recut(sets_.back(), static_cast<std::size_t>(p.columns)))
                return refuse();
        }
        if (p.columns >= 0)
            headerText_.clear();
    }
    framer_.restart(p.offset);
    lastMs_ = p.lastMs;
    return true;
}

bool CaptureReader::recut(ColumnSet &set, std::size_t count)
{
    // Only the first line under a header can say how its names are cut.
    if (!set.times.empty() || headerText_.isEmpty())
        return false;
    std::vector<Column> columns;
    if (!captureheader::parse(headerText_, columns, static_cast<qsizetype>(count)))
        return false;
    set.columns = std::move(columns);
    set.values.assign(set.columns.size(), {});
    return true;
}

bool CaptureReader::dataLine(const char *begin, const char *end)
{
    qint64 wall = 0;
    if (!capturelines::stamp(begin, end, wall))
        return false;
    ColumnSet &set = sets_.back();
    // Parse every value before storing any, so a bad line leaves no trace.
    thread_local std::vector<double> row;
    if (!capturelines::values(begin + 19, end, row, keepCodes_ ? &codes_ : nullptr))
        return false;
    if (row.size() != set.columns.size() && !recut(set, row.size()))
        return false;
    headerText_.clear();
    const std::size_t count = set.columns.size();
    lastMs_ = time_.instant(wall, lastMs_);
    set.times.push_back(lastMs_);
    ++rows_;
    for (std::size_t k = 0; k < count; ++k)
        set.values[k].push_back(row[k]);
    return true;
}

// A header line starts a new column set; false when the line is none.
bool CaptureReader::header(const char *begin, const char *end)
{
    if (!startsWithHora(begin, end))
        return false;
    std::vector<Column> columns;
    QString text = cp1252::decode(begin, static_cast<std::size_t>(end - begin));
    bool ordered = false;
    if (!captureheader::parse(text, columns, -1, &ordered))
        return false;
    ColumnSet set;
    set.values.resize(columns.size());
    set.columns = std::move(columns);
    sets_.push_back(std::move(set));
    sawHeader_ = true;
    headerAt_ = framer_.whole();
    // A header of the writer's order may be cut otherwise; one of another
    // writer's is cut by its endings alone, and a line that does not fit it
    // (a torn one) is no reason to cut it again.
    headerText_ = ordered ? std::move(text) : QString();
    return true;
}

bool CaptureReader::line(const char *begin, const char *end, bool bad)
{
    if (!bad && header(begin, end))
        return true;
    if (!sawHeader_)
        return fail();
    if (bad || startsWithHora(begin, end) || !dataLine(begin, end))
        ++rejected_;
    return true;
}

bool CaptureReader::fail()
{
    error_ = notCapture();
    notCapture_ = true;
    return false;
}

CaptureReader::Change CaptureReader::feed(QByteArrayView bytes)
{
    if (notCapture_)
        return Change::Failed;
    const std::size_t setsBefore = sets_.size();
    const qint64 rowsBefore = sets_.empty() ? 0 : static_cast<qint64>(sets_.back().times.size());
    const auto line = [this](const char *begin, const char *end, bool bad) {
        return this->line(begin, end, bad);
    };
    // A line given up on before a header: a file of other bytes.
    const auto dropped = [this] {
        if (!sawHeader_)
            return fail();
        ++rejected_;
        return true;
    };
    if (!framer_.feed(bytes, line, dropped))
        return Change::Failed;
    // An incomplete line: a file of other bytes shows it early.
    const QByteArray &partial = framer_.partial();
    if (!sawHeader_ && !partial.isEmpty() && partial != "\r" &&
        !QByteArrayView("Hora").startsWith(partial.left(4))) {
        fail();
        return Change::Failed;
    }
    const qint64 rowsAfter = sets_.empty() ? 0 : static_cast<qint64>(sets_.back().times.size());
    return sets_.size() != setsBefore || rowsAfter != rowsBefore ? Change::Appended : Change::None;
}

void CaptureReader::discardRows(bool release)
{
    for (ColumnSet &s : sets_) {
        s.times.clear();
        if (release)
            s.times.shrink_to_fit();
        for (std::vector<double> &v : s.values) {
            v.clear();
            if (release)
                v.shrink_to_fit();
        }
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
    if (f.size() < framer_.offset()) {
        // Only another program shortens a capture file: start over.
        reset();
        change = Change::Reset;
    }
    if (!f.seek(framer_.offset())) {
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
