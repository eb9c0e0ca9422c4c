#include "alarms/outbox.h"

#include "alarms/mail.h"
#include "alarms/message.h"
#include "alarms/webhook.h"
#include "central/names.h"
#include "central/query.h"

#include <QDateTime>
#include <QLibraryInfo>
#include <QTimeZone>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <set>

#include <fcntl.h>
#include <libpq-fe.h>
#include <poll.h>
#include <unistd.h>

namespace alarms {

namespace {

using namespace std::chrono_literals;

// A message holds at most this many events; a longer backlog goes in several.
constexpr int eventsPerMessage = 500;
// How long a failed destination waits before its next try: doubling from
// the first, up to the last.
constexpr auto firstRetry = 500ms;
constexpr auto lastRetry = 60s;
// How long a database that failed is left before the next try.
constexpr int retryDatabaseMs = 2000;

QDateTime fromEpoch(const QByteArray &seconds)
{
    return QDateTime::fromMSecsSinceEpoch(std::llround(seconds.toDouble() * 1000),
                                          QTimeZone::utc());
}

std::optional<double> optionalNumber(const central::Result &r, int row, int column)
{
    if (r.isNull(row, column))
        return std::nullopt;
    return r.field(row, column).toDouble();
}

QString text(const central::Result &r, int row, int column)
{
    return QString::fromUtf8(r.field(row, column));
}

// The events of a recipient's address not yet in a message, oldest first,
// with what the texts say of their alarms.
const char *const eventsQuery =
    "SELECT s.id, s.suceso, a.condicion, e.nombre, e.zona, p.nombre, r.columna, r.unidad, "
    "coalesce(a.serie, 0), a.extremo, a.limite, extract(epoch FROM s.instante), "
    "a.reconocido_por, a.comentario"
    " FROM climalog.salida s JOIN climalog.aviso a ON a.id = s.aviso"
    " JOIN climalog.puerto p ON p.id = a.puerto JOIN climalog.estacion e ON e.id = p.estacion"
    " LEFT JOIN climalog.serie r ON r.id = a.serie"
    " WHERE s.envio IS NULL AND s.destinatario = $1 AND s.canal = $2 AND s.direccion = $3"
    " ORDER BY s.id LIMIT $4 FOR UPDATE OF s";

std::vector<Event> eventsOf(const central::Result &r, QByteArrayList &ids)
{
    std::vector<Event> events;
    for (int i = 0; i < r.rows(); ++i) {
        ids << r.field(i, 0);
        Event e;
        e.kind = text(r, i, 1);
        e.condition = text(r, i, 2);
        e.station = text(r, i, 3);
        e.zone = text(r, i, 4);
        e.port = text(r, i, 5);
        e.column = text(r, i, 6);
        e.unit = text(r, i, 7);
        e.series = r.field(i, 8).toInt();
        e.extreme = optionalNumber(r, i, 9);
        e.limit = optionalNumber(r, i, 10);
        e.instant = fromEpoch(r.field(i, 11));
        e.acknowledgedBy = text(r, i, 12);
        e.comment = text(r, i, 13);
        events.push_back(std::move(e));
    }
    return events;
}

} // namespace

// A message as stored in climalog.envio.
struct Outbox::Stored {
    long long id = 0;
    QByteArray channel;
    QString address;
    QByteArray messageId;
    Message message;
    QDateTime created;
};

Outbox::Outbox(std::string conninfo, MailSettings mail, std::vector<Recipient> recipients)
    : conninfo_(std::move(conninfo)), mail_(std::move(mail)), recipients_(std::move(recipients)),
      log_([](const QString &line) { std::fprintf(stderr, "%s\n", line.toUtf8().constData()); })
{
    // The toolkit reads its own settings the first time a library path is
    // asked for; asked first while the program ends (by one of its globals
    // going away after the sending thread used it), that reading meets
    // locale data already freed. Asked once here, while all is alive.
    (void)QLibraryInfo::path(QLibraryInfo::PrefixPath);
    if (::pipe2(wakeFds_, O_CLOEXEC | O_NONBLOCK) != 0)
        wakeFds_[0] = wakeFds_[1] = -1;
}

Outbox::~Outbox()
{
    stop_ = true;
    wake();
    if (thread_.joinable())
        thread_.join();
    for (const int fd : wakeFds_)
        if (fd >= 0)
            ::close(fd);
}

void Outbox::start()
{
    if (!thread_.joinable())
        thread_ = std::thread([this] { run(); });
}

void Outbox::configure(MailSettings mail, std::vector<Recipient> recipients)
{
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        mail_ = std::move(mail);
        recipients_ = std::move(recipients);
    }
    wake();
}

void Outbox::setLog(std::function<void(const QString &)> log) { log_ = std::move(log); }
void Outbox::setAfterSend(std::function<void(long long)> hook) { afterSend_ = std::move(hook); }

MailSettings Outbox::settings()
{
    const std::lock_guard<std::mutex> lock(mutex_);
    return mail_;
}

void Outbox::tell(const QString &text)
{
    if (log_)
        log_(text);
}

void Outbox::wake()
{
    if (wakeFds_[1] >= 0)
        (void)!::write(wakeFds_[1], "", 1);
}

void Outbox::run()
{
    while (!stop_) {
        if (!c_ && !connect(Clock::time_point::max())) {
            wait(retryDatabaseMs);
            continue;
        }
        // Stored messages first: on a start they are the ones a stop left.
        const bool done = sendStored() >= 0 && gather(false) && sendStored() >= 0;
        wait(done ? waitMs(nextGather_) : retryDatabaseMs);
    }
}

bool Outbox::drain(int timeoutMs)
{
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!stop_ && Clock::now() < deadline) {
        if (!c_ && !connect(deadline)) {
            wait(std::min(retryDatabaseMs, msUntil(deadline)));
            continue;
        }
        const int left = gather(true) ? sendStored() : -1;
        if (left == 0 && c_ && !unsentEvents())
            return true;
        if (left != 0)
            wait(std::min(waitMs(deadline),
                          left < 0 ? retryDatabaseMs : waitMs(Clock::time_point::max())));
    }
    return false;
}

bool Outbox::connect(Clock::time_point deadline)
{
    QString error;
    central::Connection c =
        central::connect(QString::fromStdString(conninfo_), "climalog-avisos", error);
    if (!c) {
        tell(error);
        return false;
    }
    if (const QString problem = central::schemaProblem(c.get()); !problem.isEmpty()) {
        tell(problem);
        return false;
    }
    // A second program waits here as a standby and takes over when the
    // first one's session ends.
    const QByteArray lock =
        "SELECT pg_try_advisory_lock(" + QByteArray::number(central::outboxLock) + ")";
    for (;;) {
        const central::Result r = central::exec(c.get(), lock.constData());
        if (!r.ok()) {
            tell(QStringLiteral("No se puede esperar el turno de envío: %1")
                     .arg(central::serverText(c.get())));
            return false;
        }
        if (r.field(0, 0) == "t")
            break;
        if (stop_ || Clock::now() >= deadline)
            return false;
        wait(std::min(1000, msUntil(deadline)));
    }
    const QByteArray listen = QByteArray("LISTEN ") + central::outboxChannel;
    if (!central::exec(c.get(), listen.constData()).ok()) {
        tell(QStringLiteral("No se puede escuchar %1: %2")
                 .arg(QLatin1String(central::outboxChannel), central::serverText(c.get())));
        return false;
    }
    c_ = std::move(c);
    nextGather_ = Clock::now();
    return true;
}

void Outbox::drop(const QString &why)
{
    tell(why);
    if (c_ && !central::lost(c_.get()))
        central::rollBack(c_.get());
    // A connection lost is made again, and the lock with it; otherwise the
    // statement failed and is tried again.
    if (c_ && central::lost(c_.get()))
        c_.reset();
}

bool Outbox::gather(bool all)
{
    const MailSettings mail = settings();
    pg_conn *c = c_.get();
    if (!central::exec(c, "BEGIN").ok()) {
        drop(QStringLiteral("No se pueden reunir los avisos: %1").arg(central::serverText(c)));
        return false;
    }
    // A recipient's events wait for the window after the oldest of them, so
    // that a burst (a station's power cut) makes one message.
    const central::Result groups = central::exec(
        c,
        "SELECT destinatario, canal, direccion FROM climalog.salida WHERE envio IS NULL"
        " GROUP BY 1, 2, 3 HAVING $1::boolean OR min(creado) <= now() - make_interval(secs => $2)"
        " ORDER BY min(id)",
        {{all ? "t" : "f", QByteArray::number(mail.gatherSeconds)}});
    bool ok = groups.ok();
    for (int i = 0; ok && i < groups.rows(); ++i) {
        bool more = true;
        while (ok && more)
            ok =
                gatherGroup(groups.field(i, 0), groups.field(i, 1), groups.field(i, 2), mail, more);
    }
    // When the next recipient's window ends.
    const central::Result next = ok
        ? central::exec(c,
                        "SELECT extract(epoch FROM min(creado) + make_interval(secs => $1) - "
                        "now()) FROM climalog.salida WHERE envio IS NULL",
                        {{QByteArray::number(mail.gatherSeconds)}})
        : central::Result();
    if (!ok || !next.ok() || !central::exec(c, "COMMIT").ok()) {
        drop(QStringLiteral("No se pueden reunir los avisos: %1").arg(central::serverText(c)));
        return false;
    }
    const double seconds = next.isNull(0, 0) ? 3600 : std::max(0.0, next.field(0, 0).toDouble());
    nextGather_ = Clock::now() + std::chrono::milliseconds(std::llround(seconds * 1000) + 1);
    return true;
}

bool Outbox::gatherGroup(const QByteArray &name, const QByteArray &channel,
                         const QByteArray &address, const MailSettings &mail, bool &more)
{
    pg_conn *c = c_.get();
    const central::Result rows = central::exec(
        c, eventsQuery, {{name, channel, address, QByteArray::number(eventsPerMessage)}});
    if (!rows.ok())
        return false;
    more = rows.rows() == eventsPerMessage;
    if (rows.rows() == 0)
        return true;
    QByteArrayList ids;
    const std::vector<Event> events = eventsOf(rows, ids);
    const QString page = QString::fromStdString(mail.page);
    const Message m =
        channel == "correo" ? mailMessage(events, page) : webhookMessage(events, page);
    const central::Result stored =
        central::exec(c,
                      "INSERT INTO climalog.envio (destinatario, canal, direccion, asunto, cuerpo)"
                      " VALUES ($1, $2, $3, $4, $5) RETURNING id",
                      {{name, channel, address, m.subject.toUtf8(), m.body.toUtf8()}});
    if (!stored.ok())
        return false;
    const long long id = stored.field(0, 0).toLongLong();
    const QByteArray messageId = alarms::messageId(id, m, QString::fromStdString(mail.from));
    return central::exec(c, "UPDATE climalog.envio SET mensaje_id = $2 WHERE id = $1",
                         {{QByteArray::number(id), messageId}})
               .ok() &&
        central::exec(c, "UPDATE climalog.salida SET envio = $1 WHERE id = ANY($2::bigint[])",
                      {{QByteArray::number(id), '{' + ids.join(',') + '}'}})
            .ok();
}

int Outbox::sendStored()
{
    const MailSettings mail = settings();
    pg_conn *c = c_.get();
    const central::Result r = central::exec(
        c,
        "SELECT id, canal, direccion, mensaje_id, asunto, cuerpo, extract(epoch FROM creado),"
        " adjunto_nombre, adjunto_tipo FROM climalog.envio WHERE enviado IS NULL ORDER BY id"
        " LIMIT 1000");
    if (!r.ok()) {
        drop(QStringLiteral("No se pueden leer los mensajes por enviar: %1")
                 .arg(central::serverText(c)));
        return -1;
    }
    // A destination that failed keeps its later messages back: they go in
    // their order once it takes the first again.
    std::set<QByteArray> held;
    int left = 0;
    for (int i = 0; i < r.rows() && !stop_; ++i) {
        const Stored m{
            r.field(i, 0).toLongLong(),     r.field(i, 1),           text(r, i, 2), r.field(i, 3),
            {text(r, i, 4), text(r, i, 5)}, fromEpoch(r.field(i, 6))};
        const bool attaches = !r.isNull(i, 7);
        const QByteArray destination = m.channel + '\n' + m.address.toUtf8();
        const auto b = backoff_.find(destination);
        if (held.count(destination) || (b != backoff_.end() && b->second.retryAt > Clock::now())) {
            held.insert(destination);
            ++left;
            continue;
        }
        // An attachment is read only when its message goes.
        const central::Result attached = attaches
            ? central::exec(c, "SELECT encode(adjunto, 'hex') FROM climalog.envio WHERE id = $1",
                            {{QByteArray::number(m.id)}})
            : central::Result();
        if (attaches && (!attached.ok() || attached.rows() != 1)) {
            drop(QStringLiteral("No se puede leer el adjunto del mensaje %1: %2")
                     .arg(m.id)
                     .arg(central::serverText(c)));
            return -1;
        }
        const Attachment attachment = attaches
            ? Attachment{QByteArray::fromHex(attached.field(0, 0)), r.field(i, 7), r.field(i, 8)}
            : Attachment();
        const QString error = send(m, mail, attaches ? &attachment : nullptr);
        if (error.isEmpty() && afterSend_)
            afterSend_(m.id);
        const central::Result marked = error.isEmpty()
            ? central::exec(c,
                            "UPDATE climalog.envio SET enviado = now(), intentos = intentos + 1,"
                            " ultimo_error = NULL WHERE id = $1",
                            {{QByteArray::number(m.id)}})
            : central::exec(c,
                            "UPDATE climalog.envio SET intentos = intentos + 1, ultimo_error = $2"
                            " WHERE id = $1",
                            {{QByteArray::number(m.id), error.toUtf8()}});
        if (!marked.ok()) {
            drop(QStringLiteral("No se puede anotar el envío del mensaje %1: %2")
                     .arg(m.id)
                     .arg(central::serverText(c)));
            return -1;
        }
        if (error.isEmpty()) {
            backoff_.erase(destination);
            continue;
        }
        tell(error);
        Backoff &next = backoff_[destination];
        const auto delay =
            std::min<Clock::duration>(lastRetry, firstRetry * (1 << std::min(next.failures, 10)));
        ++next.failures;
        next.retryAt = Clock::now() + delay;
        held.insert(destination);
        ++left;
    }
    return left;
}

QString Outbox::send(const Stored &m, const MailSettings &mail, const Attachment *attachment)
{
    if (m.channel == "webhook")
        return postWebhook(m.address, m.message.body.toUtf8(), m.messageId, &stop_);
    const QString from = QString::fromStdString(mail.from);
    return sendMail(mail, m.address,
                    mailText(m.messageId, m.created, from, m.address, m.message, attachment),
                    &stop_);
}

bool Outbox::unsentEvents()
{
    const central::Result r =
        central::exec(c_.get(),
                      "SELECT EXISTS (SELECT 1 FROM climalog.salida WHERE envio IS NULL)"
                      " OR EXISTS (SELECT 1 FROM climalog.envio WHERE enviado IS NULL)");
    return !r.ok() || r.field(0, 0) == "t";
}

int Outbox::waitMs(Clock::time_point until)
{
    Clock::time_point soonest = until;
    for (const auto &[destination, b] : backoff_)
        soonest = std::min(soonest, b.retryAt);
    return msUntil(soonest);
}

int Outbox::msUntil(Clock::time_point until)
{
    const auto now = Clock::now();
    if (until <= now)
        return 0;
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(until - now).count();
    return int(std::min<long long>(ms + 1, 60000));
}

bool Outbox::takeNotifications()
{
    bool any = false;
    while (PGnotify *n = PQnotifies(c_.get())) {
        PQfreemem(n);
        any = true;
    }
    if (any)
        nextGather_ = Clock::now();
    return any;
}

void Outbox::wait(int ms)
{
    // A notification only says to look again: what is due is read anew. One
    // that came in with a statement's answer is already read off the socket.
    if (c_ && takeNotifications())
        return;
    pollfd fds[2] = {{wakeFds_[0], POLLIN, 0}, {c_ ? PQsocket(c_.get()) : -1, POLLIN, 0}};
    if (::poll(fds, 2, ms) > 0 && (fds[0].revents & POLLIN)) {
        char drained[64];
        while (::read(wakeFds_[0], drained, sizeof drained) > 0) {
        }
    }
    if (!c_)
        return;
    if (!PQconsumeInput(c_.get())) {
        drop(QStringLiteral("Se perdió la conexión con la base de datos: %1")
                 .arg(central::serverText(c_.get())));
        return;
    }
    takeNotifications();
}

} // namespace alarms
