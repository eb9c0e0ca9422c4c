// climalog-avisos: raises alarms from every station's archived lines by the
// rules of avisos.conf and queues their notifications, one program at a
// time on a database (another waits and takes over when it goes), and
// mails the reports its rules name as they fall due; SIGHUP reads the rules
// again, SIGTERM ends it.
#include "alarms/options.h"
#include "alarms/outbox.h"
#include "alarms/report_sender.h"
#include "alarms/rules.h"
#include "alarms/store.h"
#include "central/connection.h"
#include "central/names.h"
#include "central/query.h"

#include <libpq-fe.h>

#include <chrono>
#include <csignal>
#include <cstdio>

#include <poll.h>

namespace {

#ifdef __GLIBC__
// Before main: a password given on the command line shows in the process
// list for as short a time as the program can make it.
[[gnu::constructor]] void takeArgumentsEarly(int argc, char **argv, char **)
{
    central::takeArguments(argc, argv);
}
#endif

volatile std::sig_atomic_t stopAsked = 0, reloadAsked = 0;

void say(const QString &text)
{
    std::fputs((text + u'\n').toUtf8().constData(), stdout);
    std::fflush(stdout);
}
void complain(const QString &text) { std::fputs((text + u'\n').toUtf8().constData(), stderr); }

std::int64_t nowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// What the server told while the program waited.
struct Told {
    bool lines = false; // new lines of some port
    bool page = false; // an alarm acknowledged or silenced on the page
};

// Waits up to `ms` for the server to say something (or a signal). `lost`
// when the connection went.
Told await(pg_conn *c, int ms, bool &lost)
{
    pollfd p{c ? PQsocket(c) : -1, POLLIN, 0};
    poll(&p, c ? 1 : 0, ms);
    Told told;
    if (!c)
        return told;
    lost = !PQconsumeInput(c) || PQstatus(c) != CONNECTION_OK;
    while (PGnotify *n = PQnotifies(c)) {
        const std::string_view channel(n->relname);
        told.lines = told.lines || channel == central::linesChannel;
        told.page = told.page || channel == central::alarmsChannel;
        PQfreemem(n);
    }
    return told;
}

void pause(int ms)
{
    bool lost = false;
    for (int waited = 0; waited < ms && !stopAsked; waited += 250)
        await(nullptr, 250, lost);
}

class Program {
public:
    Program(alarms::Options o, alarms::Settings s)
        : o_(std::move(o)), settings_(std::move(s)),
          outbox_(o_.conninfo.toStdString(), settings_.mail, settings_.recipients),
          reports_(o_.conninfo.toStdString(), settings_)
    {
    }

    // The exit code: 0 when it ended as asked (or judged all once and sent
    // every message), 1 when --una-vez could not reach the database or found
    // another program, 3 when some messages could not go.
    int run()
    {
        while (!stopAsked) {
            const int code = session();
            if (stopAsked)
                break;
            if (code >= 0)
                return code;
            pause(o_.once ? 0 : 2000);
        }
        say(QStringLiteral("Terminado."));
        return 0;
    }

private:
    void problem(const QString &text)
    {
        const QString shown = central::masked(text, o_.conninfo);
        if (shown != lastProblem_)
            complain(shown);
        lastProblem_ = shown;
    }

    // Takes the alarms' lock: false when asked to stop, or the connection
    // failed, before it did.
    bool takeLock(pg_conn *c, bool &busy)
    {
        bool told = false;
        const QByteArray sql =
            "SELECT pg_try_advisory_lock(" + QByteArray::number(central::alarmsLock) + ")";
        while (!stopAsked) {
            const central::Result r = central::exec(c, sql.constData());
            if (!r.ok())
                return false;
            if (r.field(0, 0) == "t")
                return true;
            busy = true;
            if (o_.once)
                return false;
            if (!told)
                say(QStringLiteral("En espera: otro climalog-avisos trabaja con esta base de "
                                   "datos; tomará el relevo cuando termine."));
            told = true;
            pause(1000);
        }
        return false;
    }

    void reload(alarms::Engine &e)
    {
        reloadAsked = 0;
        alarms::Settings s;
        std::string error;
        if (!alarms::readRules(o_.rules.toStdString(), s, error)) {
            complain(QString::fromStdString(error) +
                     QStringLiteral(": siguen en vigor las reglas anteriores."));
            return;
        }
        settings_ = s;
        e.configure(std::move(s));
        outbox_.configure(settings_.mail, settings_.recipients);
        reports_.configure(settings_);
        say(QStringLiteral("Reglas leídas de nuevo: %1 reglas, %2 destinatarios.")
                .arg(settings_.rules.size())
                .arg(settings_.recipients.size()));
    }

    // One connection's work: -1 to connect again.
    int session()
    {
        QString error;
        const central::Connection conn = central::connect(o_.conninfo, "climalog-avisos", error);
        if (!conn) {
            problem(error);
            return o_.once ? 1 : -1;
        }
        pg_conn *c = conn.get();
        if (const QString p = central::schemaProblem(c); !p.isEmpty()) {
            problem(p);
            return o_.once ? 1 : -1;
        }
        bool busy = false;
        if (!takeLock(c, busy)) {
            if (busy && o_.once) {
                complain(QStringLiteral("Otro climalog-avisos trabaja ya con esta base de datos."));
                return 1;
            }
            if (!stopAsked)
                problem(central::serverText(c));
            return stopAsked ? 0 : -1;
        }
        const QByteArray listen =
            QByteArray("LISTEN ") + central::linesChannel + "; LISTEN " + central::alarmsChannel;
        alarms::Engine e;
        e.configure(settings_);
        alarms::Store store(c);
        if (!central::exec(c, listen.constData()).ok() || !store.restore(e, error)) {
            problem(error.isEmpty() ? central::serverText(c) : error);
            return o_.once ? 1 : -1;
        }
        // The outbox has its own connection and lock: started once, it
        // outlives this session and waits as a standby of its own.
        // The reports too: a month's report is made beside the judging,
        // never in its way.
        if (!o_.once && !outboxStarted_) {
            outbox_.start();
            reports_.start();
            outboxStarted_ = true;
        }
        say(QStringLiteral("Vigilando con %1 reglas y %2 destinatarios.")
                .arg(settings_.rules.size())
                .arg(settings_.recipients.size()));
        lastProblem_.clear();
        Told told; // the first pass looks at everything
        std::int64_t lastLook = 0;
        while (!stopAsked) {
            if (reloadAsked)
                reload(e);
            const std::int64_t now = nowMs();
            // New lines and the page's changes are told; a new
            // configuration is not, so a look at everything now and then.
            const bool look = now - lastLook >= 10000;
            if (((look || told.lines) &&
                 (!store.refreshPorts(e, error) || !store.catchUp(e, now, error))) ||
                ((look || told.page) && !store.pageChanges(e, error)) ||
                !store.tick(e, nowMs(), error)) {
                problem(error);
                return o_.once ? 1 : -1;
            }
            if (look)
                lastLook = now;
            if (o_.once) {
                reports_.once();
                return drain(c);
            }
            bool lost = false;
            told = await(c, 1000, lost);
            if (lost) {
                problem(central::serverText(c));
                return -1;
            }
        }
        return 0;
    }

    // --una-vez: the messages of this pass and any left before go now.
    int drain(pg_conn *c)
    {
        if (outbox_.drain(drainMs))
            return 0;
        const central::Result r = central::exec(
            c,
            "SELECT (SELECT count(*) FROM climalog.envio WHERE enviado IS NULL) + (SELECT "
            "count(DISTINCT (destinatario, canal, direccion)) FROM climalog.salida WHERE envio "
            "IS NULL)");
        const int left = r.ok() ? r.field(0, 0).toInt() : -1;
        if (left < 0)
            complain(QStringLiteral("Quedan mensajes sin enviar."));
        else if (left == 1)
            complain(QStringLiteral("Queda 1 mensaje sin enviar."));
        else
            complain(QStringLiteral("Quedan %1 mensajes sin enviar.").arg(left));
        return 3;
    }

    // How long --una-vez tries to send before it gives up.
    static constexpr int drainMs = 30000;

    alarms::Options o_;
    alarms::Settings settings_;
    alarms::Outbox outbox_;
    alarms::ReportSender reports_;
    bool outboxStarted_ = false;
    QString lastProblem_;
};

} // namespace

int main(int argc, char *argv[])
{
    const QStringList args = central::takeArguments(argc, argv);
    alarms::Options options;
    QString error;
    switch (alarms::parseArguments(args, options, error)) {
    case alarms::Parsed::Help:
        std::fputs(alarms::usage().toUtf8().constData(), stdout);
        return 0;
    case alarms::Parsed::Bad:
        complain(error + u'\n' + alarms::usage());
        return 2;
    case alarms::Parsed::Run:
        break;
    }
    alarms::Settings settings;
    std::string rulesError;
    if (!alarms::readRules(options.rules.toStdString(), settings, rulesError)) {
        complain(QString::fromStdString(rulesError));
        return 2;
    }
    // Not restarted: a signal ends the wait it comes in.
    struct sigaction stop {
    }, reread{};
    stop.sa_handler = [](int) { stopAsked = 1; };
    reread.sa_handler = [](int) { reloadAsked = 1; };
    sigaction(SIGTERM, &stop, nullptr);
    sigaction(SIGINT, &stop, nullptr);
    sigaction(SIGHUP, &reread, nullptr);
    return Program(options, std::move(settings)).run();
}
