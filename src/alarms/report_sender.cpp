#include "alarms/report_sender.h"

#include "alarms/message.h"
#include "alarms/rules.h"
#include "central/names.h"
#include "central/query.h"
#include "reports/report.h"
#include "reports/text.h"

#include <libpq-fe.h>

#include <QDateTime>
#include <QStringList>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <stdexcept>

namespace alarms {

namespace {

// The session lock that lets one program make the reports at a time.
constexpr long long reportsLock = central::outboxLock + 1;
// How often the reports due are looked for, and a failed database tried again.
constexpr int passMs = 30000;

std::int64_t nowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

QByteArray num(std::int64_t v) { return QByteArray::number(static_cast<qlonglong>(v)); }

const char *everyText(ReportEvery e)
{
    return e == ReportEvery::Day ? "diario" : e == ReportEvery::Week ? "semanal" : "mensual";
}

reports::Span spanOf(ReportEvery e)
{
    return e == ReportEvery::Day ? reports::Span::Day
        : e == ReportEvery::Week ? reports::Span::Week
                                 : reports::Span::Month;
}

// A name as a plain file name's part: letters and digits of ASCII, the rest '_'.
QByteArray plain(const std::string &name)
{
    QByteArray out;
    for (const char c : name.substr(0, 60))
        out +=
            (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-'
            ? c
            : '_';
    return out;
}

} // namespace

// A station a report covers: its matched series.
struct ReportSender::Station {
    int id = 0;
    std::string name, zone;
    std::vector<int> series;
    bool all = true; // every series of the station: no port or column chosen
};

ReportSender::ReportSender(std::string conninfo, Settings settings)
    : conninfo_(std::move(conninfo)), settings_(std::move(settings))
{
}

ReportSender::~ReportSender()
{
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

void ReportSender::start()
{
    if (!thread_.joinable())
        thread_ = std::thread([this] { run(); });
}

void ReportSender::configure(Settings settings)
{
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        settings_ = std::move(settings);
    }
    wake_.notify_all();
}

void ReportSender::problem(const QString &text)
{
    const QString shown = central::masked(text, QString::fromStdString(conninfo_));
    if (shown != lastProblem_)
        std::fprintf(stderr, "%s\n", shown.toUtf8().constData());
    lastProblem_ = shown;
}

void ReportSender::run()
{
    while (!stop_) {
        if ((c_ || connect(true)) && !pass(nowMs()) && c_ && central::lost(c_.get()))
            c_.reset();
        std::unique_lock<std::mutex> lock(mutex_);
        wake_.wait_for(lock, std::chrono::milliseconds(passMs), [this] { return stop_.load(); });
    }
}

bool ReportSender::once() { return connect(false) && pass(nowMs()); }

bool ReportSender::connect(bool wait)
{
    QString error;
    central::Connection c =
        central::connect(QString::fromStdString(conninfo_), "climalog-avisos", error);
    if (!c || !(error = central::schemaProblem(c.get())).isEmpty()) {
        problem(error);
        return false;
    }
    const QByteArray lock = "SELECT pg_try_advisory_lock(" + num(reportsLock) + ")";
    for (;;) {
        const central::Result r = central::exec(c.get(), lock.constData());
        if (!r.ok()) {
            problem(central::serverText(c.get()));
            return false;
        }
        if (r.field(0, 0) == "t")
            break;
        std::unique_lock<std::mutex> l(mutex_);
        if (!wait || wake_.wait_for(l, std::chrono::seconds(1), [this] { return stop_.load(); }))
            return false;
    }
    c_ = std::move(c);
    return true;
}

bool ReportSender::pass(std::int64_t now)
{
    Settings s;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        s = settings_;
    }
    if (s.reports.empty())
        return true;
    pg_conn *c = c_.get();
    const central::Result series = central::exec(
        c,
        "SELECT e.id, e.nombre, e.zona, r.puerto, r.serie, r.columna FROM climalog.resumen r "
        "JOIN climalog.estacion e ON e.nombre = r.estacion ORDER BY 1, 5");
    const central::Result sent = central::exec(
        c,
        "SELECT regla, estacion, (extract(epoch FROM max(hasta)) * 1000)::bigint FROM "
        "climalog.informe_enviado GROUP BY 1, 2");
    if (!series.ok() || !sent.ok()) {
        problem(QStringLiteral("No se pueden buscar los informes por hacer: %1")
                    .arg(central::serverText(c)));
        return false;
    }
    std::map<std::pair<std::string, int>, std::int64_t> lastTo;
    for (int i = 0; i < sent.rows(); ++i)
        lastTo[{sent.field(i, 0).toStdString(), sent.field(i, 1).toInt()}] =
            sent.field(i, 2).toLongLong();
    for (const ReportRule &rule : s.reports) {
        std::map<int, Station> stations;
        for (int i = 0; i < series.rows(); ++i) {
            const std::string name = series.field(i, 1).toStdString();
            if (!matches(rule.stations, name))
                continue;
            Station &st = stations[series.field(i, 0).toInt()];
            st.id = series.field(i, 0).toInt();
            st.name = name;
            st.zone = series.field(i, 2).toStdString();
            st.all = rule.ports.empty() && rule.columns.empty();
            if (matches(rule.ports, series.field(i, 3).toStdString()) &&
                matches(rule.columns, series.field(i, 5).toStdString()))
                st.series.push_back(series.field(i, 4).toInt());
        }
        for (const auto &[id, station] : stations) {
            if (station.series.empty())
                continue;
            const auto last = lastTo.find({rule.name, id});
            const std::optional<std::int64_t> to =
                last == lastTo.end() ? std::nullopt : std::optional(last->second);
            // In order: a period waiting for its lines keeps the later ones back.
            for (const DuePeriod &p : duePeriods(rule, station.zone, to, now)) {
                if (stop_)
                    return true;
                const Made m = make(rule, s, station, p, now);
                if (m == Made::Failed && central::lost(c))
                    return false;
                if (m != Made::Sent)
                    break;
            }
        }
    }
    return true;
}

ReportSender::Made ReportSender::make(const ReportRule &rule, const Settings &s,
                                      const Station &station, const DuePeriod &p, std::int64_t now)
{
    const std::string first = p.first.toString(Qt::ISODate).toStdString();
    reports::Request q;
    q.site = s.mail.site;
    q.station = station.name;
    if (!station.all)
        q.series = station.series;
    q.period = reports::periodOf(spanOf(rule.every), first, first, station.zone);
    if (q.period.text.empty() || q.period.from != p.from || q.period.to != p.to)
        q.period = {p.from, p.to,
                    (rule.every == ReportEvery::Month ? p.first.toString(QStringLiteral("MM/yyyy"))
                         : rule.every == ReportEvery::Week
                         ? QStringLiteral("semana del ") + p.first.toString(u"dd/MM/yyyy")
                         : p.first.toString(QStringLiteral("dd/MM/yyyy")))
                        .toStdString()};
    q.madeAt = now;
    const QString what =
        QStringLiteral("El informe «%1» de %2 (%3)")
            .arg(QString::fromStdString(rule.name), QString::fromStdString(station.name),
                 QString::fromStdString(q.period.text));
    reports::Report report;
    try {
        report = reports::load(c_.get(), q);
    } catch (const std::exception &e) {
        central::rollBack(c_.get());
        problem(what + QStringLiteral(" no se puede hacer: ") + QString::fromUtf8(e.what()));
        return Made::Failed;
    }
    const Readiness ready = readiness(reports::complete(report), p.due, rule.waitHours, now);
    if (ready == Readiness::Wait)
        return Made::Wait;
    // Which ports' lines fall short of the period's end, by the one rule.
    QStringList short_;
    for (const reports::Coverage &cov : report.coverage) {
        if (reports::reaches(cov, q.period))
            continue;
        short_ << QStringLiteral("puerto %1 de %2 (%3)")
                      .arg(QString::fromStdString(cov.port), QString::fromStdString(cov.station),
                           cov.lastLine ? QStringLiteral("la última, del ") +
                                   QString::fromStdString(
                                              reports::text::when(*cov.lastLine, station.zone))
                                        : QStringLiteral("sin líneas"));
    }
    const QString shortText = short_.join(QStringLiteral("; "));
    const QString waited = rule.waitHours == 0
        ? QStringLiteral("sin esperarlas")
        : QStringLiteral("tras esperarlas %1 h").arg(rule.waitHours);
    // The loaded report says already where each short port's lines end.
    if (ready == Readiness::SendIncomplete)
        report.notes.push_back(QStringLiteral("Enviado sin todas las líneas del periodo, %1.")
                                   .arg(waited)
                                   .toStdString());
    const std::string pdf = reports::pdf(report);
    if (pdf.empty()) {
        problem(what + QStringLiteral(" no se puede escribir en PDF."));
        return Made::Failed;
    }
    const QByteArray fileName = "informe-" + plain(station.name) + '-' +
        (rule.every == ReportEvery::Month ? QByteArray::fromStdString(first.substr(0, 7))
                                          : QByteArray::fromStdString(first)) +
        ".pdf";
    const QString title =
        QStringLiteral("Informe %1 de %2")
            .arg(QLatin1String(everyText(rule.every)), QString::fromStdString(station.name));
    QString body = title +
        QStringLiteral(", %1 (%2)")
            .arg(QString::fromStdString(q.period.text), QString::fromStdString(station.zone));
    if (!s.mail.site.empty())
        body += QStringLiteral(", de ") + QString::fromStdString(s.mail.site);
    body += QStringLiteral(".\nVa adjunto en PDF: %1.\n").arg(QString::fromLatin1(fileName));
    if (ready == Readiness::SendIncomplete)
        body += QStringLiteral("\nNo estaban archivadas todas las líneas del periodo al hacerlo, "
                               "%1: %2. El informe lo dice también.\n")
                    .arg(waited, shortText);
    if (!s.mail.page.empty())
        body += u'\n' + QString::fromStdString(s.mail.page) + u'\n';
    const QString subject = title + QStringLiteral(": ") + QString::fromStdString(q.period.text);
    if (!store(rule, s, station, p, subject, body, fileName, pdf,
               ready == Readiness::SendIncomplete)) {
        problem(what + QStringLiteral(" no se puede guardar: ") + central::serverText(c_.get()));
        central::rollBack(c_.get());
        return Made::Failed;
    }
    lastProblem_.clear();
    return Made::Sent;
}

bool ReportSender::store(const ReportRule &rule, const Settings &s, const Station &station,
                         const DuePeriod &p, const QString &subject, const QString &body,
                         const QByteArray &fileName, const std::string &pdf, bool incomplete)
{
    pg_conn *c = c_.get();
    const QByteArray name = QByteArray::fromStdString(rule.name), id = num(station.id);
    if (!central::exec(c, "BEGIN").ok())
        return false;
    // Sent already (a pass of another program before this one took the lock).
    const central::Result there =
        central::exec(c,
                      "SELECT 1 FROM climalog.informe_enviado WHERE regla = $1 AND estacion = "
                      "$2::integer AND desde = to_timestamp($3::bigint / 1000.0)",
                      {{name, id, num(p.from)}});
    if (!there.ok())
        return false;
    const Message m{subject, body};
    const Attachment a{QByteArray::fromStdString(pdf), fileName, "application/pdf"};
    for (const std::string &who : there.rows() ? std::vector<std::string>() : rule.recipients) {
        const auto r = std::find_if(s.recipients.begin(), s.recipients.end(),
                                    [&](const Recipient &x) { return x.name == who; });
        if (r == s.recipients.end() || r->mail.empty())
            continue;
        const central::Result stored = central::exec(
            c,
            "INSERT INTO climalog.envio (destinatario, canal, direccion, asunto, cuerpo, "
            "adjunto_nombre, adjunto_tipo, adjunto) VALUES ($1, 'correo', $2, $3, $4, $5, $6, "
            "$7::bytea) RETURNING id",
            {{QByteArray::fromStdString(who), QByteArray::fromStdString(r->mail), subject.toUtf8(),
              body.toUtf8(), a.name, a.type, a.bytes},
             true});
        if (!stored.ok() || stored.rows() != 1)
            return false;
        const QByteArray envio = stored.field(0, 0);
        const QByteArray messageId =
            alarms::messageId(envio.toLongLong(), m, QString::fromStdString(s.mail.from), &a);
        if (!central::exec(c, "UPDATE climalog.envio SET mensaje_id = $2 WHERE id = $1",
                           {{envio, messageId}})
                 .ok() ||
            !central::exec(c,
                           "INSERT INTO climalog.informe_enviado (regla, estacion, desde, hasta, "
                           "destinatario, envio, incompleto) VALUES ($1, $2::integer, "
                           "to_timestamp($3::bigint / 1000.0), to_timestamp($4::bigint / "
                           "1000.0), $5, $6::bigint, $7::boolean)",
                           {{name, id, num(p.from), num(p.to), QByteArray::fromStdString(who),
                             envio, incomplete ? "t" : "f"}})
                 .ok())
            return false;
    }
    const QByteArray notify = QByteArray("SELECT pg_notify('") + central::outboxChannel + "', '')";
    return central::exec(c, notify.constData()).ok() && central::exec(c, "COMMIT").ok();
}

} // namespace alarms
