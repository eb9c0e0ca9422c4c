#include "archive/archiver.h"

#include <QDateTime>
#include <QDir>
#include <QLocale>
#include <QRegularExpression>
#include <QThread>

#include <algorithm>
#include <cstdio>

namespace {

constexpr int pollMs = 500;          // a line reaches the table within about this
constexpr qint64 progressMs = 2000;  // progress lines while catching up
constexpr qint64 statusMs = 60000;   // status lines while following
constexpr qint64 progressAfterLines = 5000;
constexpr int firstRetryMs = 1000, lastRetryMs = 30000; // waits between attempts to reconnect

void say(const QString &text)
{
    std::fputs((text + u'\n').toUtf8().constData(), stdout);
    std::fflush(stdout);
}

void warn(const QString &text)
{
    std::fputs((text + u'\n').toUtf8().constData(), stderr);
    std::fflush(stderr);
}

const QLocale spanish(QLocale::Spanish, QLocale::Spain);

// Thousands grouped with points, all of them ("1.305.520").
QString count(qint64 n)
{
    QString digits = QString::number(n < 0 ? -n : n);
    for (qsizetype at = digits.size() - 3; at > 0; at -= 3)
        digits.insert(at, u'.');
    return n < 0 ? u'-' + digits : digits;
}

// "1 fichero", "2 ficheros".
QString count(qint64 n, const char *one, const char *many)
{
    return count(n) + u' ' + QString::fromUtf8(n == 1 ? one : many);
}

QString span(qint64 seconds)
{
    if (seconds < 120)
        return QStringLiteral("%1 s").arg(seconds);
    if (seconds < 7200)
        return QStringLiteral("%1 min").arg(seconds / 60);
    if (seconds < 2 * 86400)
        return QStringLiteral("%1 h %2 min").arg(seconds / 3600).arg(seconds / 60 % 60);
    return QStringLiteral("%1 d %2 h").arg(seconds / 86400).arg(seconds / 3600 % 24);
}

// Capture files of a folder in the order they were written: by date, then
// by sequence number ("dd-mm-yyyy-NN.log").
QStringList captureFiles(const QDir &dir)
{
    static const QRegularExpression name(QStringLiteral("^(\\d\\d)-(\\d\\d)-(\\d\\d\\d\\d)-(\\d\\d)\\.log$"));
    std::vector<std::pair<QString, QString>> found;
    for (const QString &n : dir.entryList({QStringLiteral("*.log")}, QDir::Files)) {
        const QRegularExpressionMatch m = name.match(n);
        if (m.hasMatch())
            found.emplace_back(m.captured(3) + m.captured(2) + m.captured(1) + m.captured(4), n);
    }
    std::sort(found.begin(), found.end());
    QStringList out;
    for (const auto &f : found)
        out << f.second;
    return out;
}

} // namespace

Archiver::Archiver(ArchiveOptions options) : o_(std::move(options)), retryMs_(firstRetryMs) {}

void Archiver::report(const QString &key, const QString &text)
{
    QString &last = reported_[key];
    if (last == text)
        return;
    last = text;
    if (!text.isEmpty())
        warn(text);
}

bool Archiver::connect()
{
    if (!db_.connect(o_.conninfo) || !db_.loadProgress(o_.station, progress_)) {
        report(QStringLiteral("db"), db_.error() + u'.');
        db_.close();
        return false;
    }
    say(connectedBefore_ ? QStringLiteral("Conectado de nuevo con la base de datos.")
                         : QStringLiteral("Conectado con la base de datos."));
    connectedBefore_ = true;
    reported_[QStringLiteral("db")].clear();
    // Whatever was read past the stored progress is read again.
    for (auto &[key, f] : files_) {
        const auto p = progress_.find(key);
        f->setProgress(p == progress_.end() ? Progress{} : p->second);
    }
    return true;
}

FollowedFile &Archiver::file(const QString &folder, const QString &name)
{
    const FileKey key(QFileInfo(folder).fileName(), name);
    std::unique_ptr<FollowedFile> &f = files_[key];
    if (!f) {
        f = std::make_unique<FollowedFile>(o_.station, folder, name);
        const auto p = progress_.find(key);
        if (p != progress_.end())
            f->setProgress(p->second);
    }
    return *f;
}

Archiver::Cycle Archiver::archiveFile(FollowedFile &f)
{
    Cycle result = Cycle::Idle;
    for (;;) {
        Batch b;
        const bool read = f.next(o_.batch, b);
        report(f.path(), read ? QString() : f.error());
        if (const QString note = f.takeShrinkNote(); !note.isEmpty())
            warn(note);
        if (const qint64 skipped = f.takeRejected(); skipped > 0) {
            rejected_ += skipped;
            warn(QStringLiteral("%1: %2 (ni cabecera ni lecturas de las columnas de su cabecera).")
                     .arg(QDir::toNativeSeparators(f.path()), count(skipped, "línea descartada", "líneas descartadas")));
        }
        if (!read || (b.after == b.before && b.rows.rows() == 0))
            return result;
        if (!db_.store(o_.station, b)) {
            warn(db_.error() + u'.');
            return Cycle::Failed;
        }
        f.stored(b);
        progress_[b.key] = b.after;
        touched_.insert(b.key);
        lines_ += b.lines;
        minuteLines_ += b.lines;
        readings_ += b.rows.rows();
        lastMs_ = std::max(lastMs_, b.lastMs);
        result = Cycle::Worked;
        progressLine(false);
    }
}

Archiver::Cycle Archiver::archiveFolder(const QString &folder)
{
    const QDir dir(folder);
    if (!dir.exists()) {
        report(folder, QStringLiteral("No existe la carpeta de capturas %1; se espera a que aparezca.")
                           .arg(QDir::toNativeSeparators(folder)));
        return Cycle::Idle;
    }
    if (!dir.isReadable()) {
        report(folder, QStringLiteral("No se puede leer la carpeta de capturas %1: permiso denegado.")
                           .arg(QDir::toNativeSeparators(folder)));
        return Cycle::Idle;
    }
    if (!reported_[folder].isEmpty())
        say(QStringLiteral("Carpeta de capturas %1 disponible.").arg(QDir::toNativeSeparators(folder)));
    reported_[folder].clear();
    const QStringList names = captureFiles(dir);
    Cycle result = Cycle::Idle;
    for (int i = 0; i < names.size(); ++i) {
        FollowedFile &f = file(folder, names[i]);
        const Cycle c = archiveFile(f);
        if (c == Cycle::Failed)
            return c;
        if (c == Cycle::Worked)
            result = c;
        // Only the newest file of a folder is still being captured.
        if (i + 1 < names.size() && f.caughtUp())
            f.rest();
    }
    return result;
}

Archiver::Cycle Archiver::cycle()
{
    Cycle result = Cycle::Idle;
    for (const QString &folder : o_.folders) {
        const Cycle c = archiveFolder(folder);
        if (c == Cycle::Failed)
            return c;
        if (c == Cycle::Worked)
            result = c;
    }
    return result;
}

QString Archiver::lag() const
{
    if (lastMs_ == 0)
        return QStringLiteral("sin lecturas");
    const qint64 seconds = std::max<qint64>(0, (QDateTime::currentMSecsSinceEpoch() - lastMs_) / 1000);
    return QStringLiteral("última lectura %1 (hace %2)")
        .arg(QDateTime::fromMSecsSinceEpoch(lastMs_).toString(QStringLiteral("dd-MM-yyyy HH:mm:ss")), span(seconds));
}

void Archiver::progressLine(bool force)
{
    if (!catchingUp_ || lines_ < progressAfterLines || (!force && sinceLine_.isValid() && sinceLine_.elapsed() < progressMs))
        return;
    sinceLine_.restart();
    shownProgress_ = true;
    const double seconds = std::max(sinceStart_.elapsed(), qint64{1}) / 1000.0;
    say(QStringLiteral("Archivando: %1, %2, %3, %4 lecturas/s, %5.")
            .arg(count(static_cast<qint64>(touched_.size()), "fichero", "ficheros"), count(lines_, "línea", "líneas"),
                 count(readings_, "lectura", "lecturas"),
                 count(static_cast<qint64>(readings_ / seconds)), lag()));
}

void Archiver::statusLine()
{
    if (sinceLine_.isValid() && sinceLine_.elapsed() < statusMs)
        return;
    sinceLine_.restart();
    say(QStringLiteral("Siguiendo %1: %2 en el último minuto, %3 descartadas en total, %4.")
            .arg(count(static_cast<qint64>(files_.size()), "fichero", "ficheros"),
                 count(minuteLines_, "línea archivada", "líneas archivadas"), count(rejected_, "línea", "líneas"), lag()));
    minuteLines_ = 0;
}

void Archiver::waitToReconnect()
{
    // Said once per wait length: an outage of hours does not fill the log.
    if (retryMs_ != shownRetryMs_)
        warn(QStringLiteral("Se reintenta en %1 s.").arg(retryMs_ / 1000));
    shownRetryMs_ = retryMs_;
    QThread::msleep(static_cast<unsigned long>(retryMs_));
    retryMs_ = std::min(retryMs_ * 2, lastRetryMs);
}

void Archiver::caughtUp()
{
    catchingUp_ = false;
    const double seconds = std::max(sinceStart_.elapsed(), qint64{1}) / 1000.0;
    if (shownProgress_ || o_.once)
        say(QStringLiteral("Al día: %1, %2, %3 en %4 s (%5 lecturas/s).")
                .arg(count(static_cast<qint64>(touched_.size()), "fichero", "ficheros"), count(lines_, "línea", "líneas"),
                     count(readings_, "lectura", "lecturas"), spanish.toString(seconds, 'f', 1),
                     count(static_cast<qint64>(readings_ / seconds))));
    minuteLines_ = 0;
    sinceLine_.restart();
}

int Archiver::run()
{
    QStringList shown;
    for (const QString &f : o_.folders)
        shown << QDir::toNativeSeparators(f);
    say(QStringLiteral("Archivo de la estación %1: %2.").arg(o_.station, shown.join(QStringLiteral(", "))));
    sinceStart_.start();
    if (!connect() && o_.once)
        return 1;
    for (;;) {
        if (!db_.connected()) {
            waitToReconnect();
            if (!connect())
                continue;
        }
        const Cycle c = cycle();
        if (c == Cycle::Failed) {
            // The database or this program's view of it failed: start again
            // from the progress the database holds.
            db_.close();
            continue;
        }
        retryMs_ = firstRetryMs;
        shownRetryMs_ = 0;
        if (c == Cycle::Worked)
            continue; // more may have come while this was stored
        if (catchingUp_)
            caughtUp();
        if (o_.once)
            return 0;
        statusLine();
        QThread::msleep(pollMs);
    }
}
