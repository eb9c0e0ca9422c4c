#include "archive/archiver.h"

#include "central/connection.h"
#include "monitor/capturename.h"
#include "registry/configfile.h"

#include <QDateTime>
#include <QDir>
#include <QLocale>
#include <QThread>

#include <algorithm>
#include <cstdio>

namespace {

constexpr int pollMs = 250; // a line reaches the database within about this
constexpr qint64 progressMs = 2000; // progress lines while catching up
constexpr qint64 statusMs = 60000; // status lines while following
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

} // namespace

Archiver::Archiver(ArchiveOptions options)
    : o_(std::move(options)), zone_(o_.zone.toUtf8()), retryMs_(firstRetryMs)
{
}

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
    if (!db_.connect(o_.conninfo, o_.station, o_.zone) || !db_.loadProgress(progress_, fileIds_)) {
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
        f = std::make_unique<FollowedFile>(folder, name, zone_);
        const auto p = progress_.find(key);
        if (p != progress_.end()) {
            f->setProgress(p->second);
            f->id = fileIds_[key];
        }
    }
    return *f;
}

// The database ids of the headers the batch's lines stand under; the lines
// of a header the database refuses are dropped, reported once by its line.
bool Archiver::headers(FollowedFile &f, int port, Batch &b, std::vector<int> &ids)
{
    for (BatchLine &l : b.lines) {
        FollowedFile::Header &h = f.header(l.set);
        if (h.id == 0) {
            h.id = db_.header(port, h.columns);
            if (h.id == 0 && db_.failure() != archive::Store::Failure::Refused)
                return false;
            if (h.id == 0) {
                h.id = -1;
                warn(QStringLiteral("%1, línea %2: la base de datos no acepta esta cabecera (%3); "
                                    "se saltan sus líneas.")
                         .arg(QDir::toNativeSeparators(f.path()),
                              h.number ? QString::number(h.number)
                                       : QStringLiteral("que empieza en el byte %1").arg(h.offset),
                              db_.reason()));
            }
        }
        if (ids.size() <= static_cast<std::size_t>(l.set))
            ids.resize(static_cast<std::size_t>(l.set) + 1, 0);
        ids[static_cast<std::size_t>(l.set)] = h.id;
    }
    const auto refused = std::remove_if(b.lines.begin(), b.lines.end(), [&](const BatchLine &l) {
        return ids[static_cast<std::size_t>(l.set)] < 0;
    });
    unstored_ += b.lines.end() - refused;
    b.lines.erase(refused, b.lines.end());
    return true;
}

// The database has lines [from, to) of the batch, the file's progress at `after`.
void Archiver::stored(const Sent &s, std::size_t from, std::size_t to, const Progress &after,
                      qint64 changed, qint64 dropped)
{
    const Batch &b = s.batch;
    progress_[b.key] = after;
    changed_[b.key] += changed;
    dropped_[b.key] += dropped;
    for (std::size_t i = from; i < to; ++i)
        readings_ += static_cast<qint64>(b.lines[i].count);
    lines_ += static_cast<qint64>(to - from);
    minuteLines_ += static_cast<qint64>(to - from);
    if (to > from)
        lastMs_ = std::max(lastMs_, b.lines[to - 1].ms);
}

// Lines [from, to) of the batch, with the file's progress from `before` to
// `after`. Lines the database refuses for their content are found by
// halving, skipped and reported; everything else stored.
bool Archiver::store(FollowedFile &f, const Sent &s, std::size_t from, std::size_t to,
                     const Progress &before, const Progress &after)
{
    const Batch &b = s.batch;
    qint64 changed = 0, dropped = 0;
    if (db_.store({f.id, &b, from, to, &before, &after, s.ids, s.temperatures}, changed, dropped)) {
        stored(s, from, to, after, changed, dropped);
        return true;
    }
    if (db_.failure() != archive::Store::Failure::Refused || to == from)
        return false;
    if (to - from == 1) {
        warn(QStringLiteral("%1, línea %2: la base de datos no la acepta (%3); se salta.")
                 .arg(QDir::toNativeSeparators(f.path()))
                 .arg(b.lines[from].number)
                 .arg(db_.reason()));
        ++unstored_;
        return store(f, s, from, from, before, after);
    }
    const std::size_t middle = from + (to - from) / 2;
    const Progress half = f.progressAfter(b, middle - 1);
    return store(f, s, from, middle, before, half) && store(f, s, middle, to, half, after);
}

archive::Store::Lines Archiver::whole(const FollowedFile &f, const Sent &s) const
{
    const Batch &b = s.batch;
    return {f.id, &b, 0, b.lines.size(), &b.before, &b.after, s.ids, s.temperatures};
}

// The batch's headers registered and the batch made ready to send; which
// columns of each header are temperatures: their figures hold the mean
// kinetic temperature's sum.
bool Archiver::prepare(FollowedFile &f, int port, Sent &s)
{
    Batch &b = s.batch;
    if (!headers(f, port, b, s.ids))
        return false;
    f.noteHeaderId(b);
    s.temperatures.assign(s.ids.size(), {});
    for (std::size_t set = 0; set < s.ids.size(); ++set)
        if (s.ids[set] > 0)
            for (const Column &c : f.header(static_cast<int>(set)).columns)
                s.temperatures[set].push_back(c.tag == 'T');
    s.prepared = db_.prepare(whole(f, s));
    return true;
}

// The batch sent whole, for the file to be read on past it meanwhile.
bool Archiver::send(FollowedFile &f, Sent &s)
{
    if (!db_.send(whole(f, s), std::move(*s.prepared)))
        return false;
    // The next batch starts where this one ends; should this one fail, the
    // file goes back to the progress the database holds.
    f.stored(s.batch.after);
    return true;
}

// The server's answer for a batch sent: a batch it refuses for a line's
// content is stored again by parts, the line found and skipped.
bool Archiver::finish(FollowedFile &f, const Sent &s, bool more)
{
    const Batch &b = s.batch;
    qint64 changed = 0, dropped = 0;
    if (db_.receive(changed, dropped, !more))
        stored(s, 0, b.lines.size(), b.after, changed, dropped);
    else if (db_.failure() != archive::Store::Failure::Refused || b.lines.empty() ||
             !store(f, s, 0, b.lines.size(), b.before, b.after))
        return false;
    told(f, b);
    return true;
}

// What a stored batch leaves to say.
void Archiver::told(FollowedFile &f, const Batch &b)
{
    qint64 &changed = changed_[b.key];
    qint64 &dropped = dropped_[b.key];
    if (b.byKey && b.after.byKeyUntil == 0) {
        say(QStringLiteral("%1 leído de nuevo: %2%3.")
                .arg(QDir::toNativeSeparators(f.path()),
                     changed ? count(changed, "lectura cambiada (gana el fichero nuevo)",
                                     "lecturas cambiadas (gana el fichero nuevo)")
                             : QStringLiteral("ninguna lectura cambiada"),
                     dropped ? QStringLiteral("; ") +
                             count(dropped, "línea archivada que ya no tiene, borrada",
                                   "líneas archivadas que ya no tiene, borradas")
                             : QString()));
        changed = dropped = 0;
    } else if (!b.byKey && changed) {
        warn(QStringLiteral("%1: %2 ya archivadas en los mismos segundos con otro valor; gana "
                            "este fichero.")
                 .arg(QDir::toNativeSeparators(f.path()), count(changed, "lectura", "lecturas")));
        changed = 0;
    }
    touched_.insert(b.key);
    progressLine(false);
}

// A batch that could not be stored: the file goes on from its stored
// progress; the run starts again from the database's when the connection
// failed or someone else moved the progress.
Archiver::Cycle Archiver::failed(FollowedFile &f)
{
    const auto p = progress_.find(f.key());
    f.setProgress(p == progress_.end() ? Progress{} : p->second);
    f.rest();
    const archive::Store::Failure why = db_.failure();
    if (why == archive::Store::Failure::Connection || why == archive::Store::Failure::Moved) {
        warn(db_.error() + u'.');
        return Cycle::Failed;
    }
    report(f.path(), db_.error() + u'.');
    if (o_.once)
        ++unstored_;
    return Cycle::Idle;
}

Archiver::Cycle Archiver::archiveFile(FollowedFile &f, int port)
{
    Cycle result = Cycle::Idle;
    // The batch the server is storing while the next one is read.
    std::unique_ptr<Sent> sent;
    for (;;) {
        auto next = std::make_unique<Sent>();
        Batch &b = next->batch;
        const bool read = f.next(o_.batch, b);
        // Made ready while the server stores the one before, unless one of
        // its headers is new to the database (which makes it ask nothing).
        if (sent && read && !b.empty() && f.id &&
            std::ranges::all_of(b.lines, [&](const BatchLine &l) { return f.header(l.set).id; }))
            prepare(f, port, *next);
        // The batch before first: its end, then what this one's reading says.
        if (sent && !finish(f, *sent, read && !b.empty()))
            return failed(f);
        sent.reset();
        report(f.path(), read ? QString() : f.error());
        if (const QString note = f.takeNote(); !note.isEmpty())
            warn(note);
        qint64 unnamed = 0;
        for (const FollowedFile::BadLine &bad : f.takeBadLines(unnamed))
            warn(QStringLiteral("%1, línea %2: se salta (%3).")
                     .arg(QDir::toNativeSeparators(f.path()))
                     .arg(bad.number)
                     .arg(bad.why));
        if (unnamed > 0)
            warn(QStringLiteral("%1: y %2 más.")
                     .arg(QDir::toNativeSeparators(f.path()),
                          count(unnamed, "línea saltada", "líneas saltadas")));
        if (const qint64 skipped = f.takeRejected(); skipped > 0) {
            rejected_ += skipped;
            warn(QStringLiteral("%1: %2 (ni cabecera ni lecturas de las columnas de su cabecera).")
                     .arg(QDir::toNativeSeparators(f.path()),
                          count(skipped, "línea descartada", "líneas descartadas")));
        }
        if (const qint64 foreign = f.takeForeign(); foreign > 0) {
            rejected_ += foreign;
            warn(QStringLiteral("%1: %2 de otro día que el del fichero.")
                     .arg(QDir::toNativeSeparators(f.path()),
                          count(foreign, "línea descartada", "líneas descartadas")));
        }
        if (!read) {
            // A file it cannot read is not archived: --una-vez says so by its code.
            if (o_.once)
                ++unstored_;
            return result;
        }
        if (b.empty())
            return result;
        if (!f.id && !(f.id = db_.file(port, f.key().second)))
            return failed(f);
        if ((!next->prepared && !prepare(f, port, *next)) || !send(f, *next))
            return failed(f);
        sent = std::move(next);
        result = Cycle::Worked;
    }
}

// The port's configuration file beside the capture folders (config1.ini for
// folder 1), archived whenever its device table changes.
void Archiver::archiveConfiguration(const QString &folder, int port)
{
    const QString name = QFileInfo(folder).fileName();
    bool digits = false;
    name.toInt(&digits);
    if (!digits)
        return;
    const QString path = QFileInfo(folder).dir().filePath(QStringLiteral("config%1.ini").arg(name));
    const QFileInfo info(path);
    ConfigLook &seen = configs_[folder];
    if (!info.exists() || (info.size() == seen.size && info.lastModified() == seen.modified))
        return;
    const configfile::ReadResult r = configfile::read(path);
    if (r.status != configfile::Status::Loaded) {
        report(path,
               r.message.isEmpty() ? QStringLiteral("No se puede leer la configuración %1.")
                                         .arg(QDir::toNativeSeparators(path))
                                   : r.message);
        return;
    }
    const QByteArray bytes = configfile::encode(r.table);
    const std::uint64_t hash = hashBytes(hashStart, bytes.constData(), bytes.size());
    bool stored = false;
    if (hash != seen.hash && !db_.storeConfiguration(port, hash, r.table, stored)) {
        report(path, db_.error() + u'.');
        return;
    }
    report(path, QString());
    seen = {info.size(), info.lastModified(), hash};
    if (stored)
        say(QStringLiteral("Configuración del puerto %1 archivada: %2.")
                .arg(
                    name,
                    count(static_cast<qint64>(r.table.size()) - 1, "dispositivo", "dispositivos")));
}

Archiver::Cycle Archiver::archiveFolder(const QString &folder)
{
    const QDir dir(folder);
    if (!dir.exists()) {
        report(folder,
               QStringLiteral("No existe la carpeta de capturas %1; se espera a que aparezca.")
                   .arg(QDir::toNativeSeparators(folder)));
        return Cycle::Idle;
    }
    if (!dir.isReadable()) {
        report(folder,
               QStringLiteral("No se puede leer la carpeta de capturas %1: permiso denegado.")
                   .arg(QDir::toNativeSeparators(folder)));
        return Cycle::Idle;
    }
    if (!reported_[folder].isEmpty())
        say(QStringLiteral("Carpeta de capturas %1 disponible.")
                .arg(QDir::toNativeSeparators(folder)));
    reported_[folder].clear();
    const int port = db_.port(dir.dirName());
    if (!port) {
        warn(db_.error() + u'.');
        return db_.failure() == archive::Store::Failure::Connection ? Cycle::Failed : Cycle::Idle;
    }
    archiveConfiguration(folder, port);
    if (!db_.connected())
        return Cycle::Failed;
    // Capture files in the order they were written: by date, then by sequence number.
    const QStringList names = CaptureName::inFolder(dir);
    Cycle result = Cycle::Idle;
    for (int i = 0; i < names.size(); ++i) {
        FollowedFile &f = file(folder, names[i]);
        const Cycle c = archiveFile(f, port);
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
    const qint64 seconds =
        std::max<qint64>(0, (QDateTime::currentMSecsSinceEpoch() - lastMs_) / 1000);
    return QStringLiteral("última lectura %1 (hace %2)")
        .arg(
            QDateTime::fromMSecsSinceEpoch(lastMs_).toString(QStringLiteral("dd-MM-yyyy HH:mm:ss")),
            span(seconds));
}

void Archiver::progressLine(bool force)
{
    if (!catchingUp_ || lines_ < progressAfterLines ||
        (!force && sinceLine_.isValid() && sinceLine_.elapsed() < progressMs))
        return;
    sinceLine_.restart();
    shownProgress_ = true;
    const double seconds = std::max(sinceStart_.elapsed(), qint64{1}) / 1000.0;
    say(QStringLiteral("Archivando: %1, %2, %3, %4 lecturas/s, %5.")
            .arg(count(static_cast<qint64>(touched_.size()), "fichero", "ficheros"),
                 count(lines_, "línea", "líneas"), count(readings_, "lectura", "lecturas"),
                 count(static_cast<qint64>(readings_ / seconds)), lag()));
}

void Archiver::statusLine()
{
    if (sinceLine_.isValid() && sinceLine_.elapsed() < statusMs)
        return;
    sinceLine_.restart();
    say(QStringLiteral("Siguiendo %1: %2 en el último minuto, %3 descartadas en total, %4.")
            .arg(count(static_cast<qint64>(files_.size()), "fichero", "ficheros"),
                 count(minuteLines_, "línea archivada", "líneas archivadas"),
                 count(rejected_, "línea", "líneas"), lag()));
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
                .arg(count(static_cast<qint64>(touched_.size()), "fichero", "ficheros"),
                     count(lines_, "línea", "líneas"), count(readings_, "lectura", "lecturas"),
                     spanish.toString(seconds, 'f', 1),
                     count(static_cast<qint64>(readings_ / seconds))));
    minuteLines_ = 0;
    sinceLine_.restart();
}

int Archiver::run()
{
    QStringList shown;
    for (const QString &f : o_.folders)
        shown << QDir::toNativeSeparators(f);
    say(QStringLiteral("Archivo de la estación %1: %2.")
            .arg(o_.station, shown.join(QStringLiteral(", "))));
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
            return unstored_ > 0 ? 3 : 0;
        statusLine();
        QThread::msleep(pollMs);
    }
}
