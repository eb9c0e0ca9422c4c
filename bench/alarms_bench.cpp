// Figures of the alarm program's outbox against a local PostgreSQL server
// (run it through scripts/testdb.sh) and the tests' mail server: the time
// from a committed salida row to its message taken by the server (median,
// minimum and maximum of 20); and a power cut of 10 stations of 40 columns
// at once told to 3 recipients: the messages each one gets (one is right)
// and the time until all are taken, the gathering window included. Then end
// to end, with the real programs: ten stations of 40 watched columns, each
// followed by a running climalog-archivo, judged by a running
// climalog-avisos: a line out of limits appended to a capture to its mail
// taken (median of 10, with the steps: line archived, alarm stored); every
// column of every station out at once, to the mails each recipient gets;
// the alarm program's CPU share and memory while every station writes a
// line a second.
//   scripts/testdb.sh run build-test/bin/alarms_bench
#include "alarms/outbox.h"
#include "captureday.h"
#include "central/connection.h"
#include "central/migrations.h"
#include "central/query.h"
#include "registry/configfile.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <functional>
#include <memory>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

int freePort()
{
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof a;
    ::bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a);
    ::getsockname(s, reinterpret_cast<sockaddr *>(&a), &size);
    ::close(s);
    return ntohs(a.sin_port);
}

int received(const QString &folder)
{
    return int(QDir(folder).entryList({QStringLiteral("*.eml")}, QDir::Files).size());
}

bool waitFor(const QString &folder, int count, int ms)
{
    QElapsedTimer t;
    t.start();
    while (received(folder) < count && t.elapsed() < ms)
        QThread::usleep(500);
    return received(folder) >= count;
}

bool run(pg_conn *c, const QByteArray &sql)
{
    const central::Result r = central::exec(c, sql.constData());
    if (!r.ok())
        std::fprintf(stderr, "%s\n", central::serverText(c).toUtf8().constData());
    return r.ok();
}

// Every series of `stations` above its limit, told to each recipient, a
// transaction per station as the engine writes them.
QByteArray alarmsOf(const QByteArray &stations, int recipients, const QByteArray &inicio)
{
    return "WITH a AS (INSERT INTO climalog.aviso (puerto, serie, condicion, regla, inicio, "
           "extremo, limite) SELECT s.puerto, s.id, 'alto', 'calor', '" +
        inicio +
        "', 35, 30 FROM climalog.serie s JOIN climalog.puerto p ON p.id = s.puerto"
        " JOIN climalog.estacion e ON e.id = p.estacion WHERE e.nombre IN (" +
        stations +
        ") RETURNING id, inicio) INSERT INTO climalog.salida (aviso, suceso, instante, "
        "destinatario, canal, direccion) SELECT id, 'alta', inicio, 'r' || n, 'correo', "
        "'r' || n || '@ejemplo.es' FROM a, generate_series(1, " +
        QByteArray::number(recipients) + ") n; NOTIFY climalog_salida";
}

// The CPU time (user and system) a process used so far, in seconds.
double cpuSeconds(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray text = f.readAll();
    // The fields after the command's name in parentheses: utime and stime
    // are the 12th and 13th of them.
    const QByteArrayList fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    return (fields.value(11).toDouble() + fields.value(12).toDouble()) /
        double(sysconf(_SC_CLK_TCK));
}

QByteArray memoryLine(qint64 pid, const QByteArray &name)
{
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    if (f.open(QIODevice::ReadOnly))
        for (const QByteArray &line : f.readAll().split('\n'))
            if (line.startsWith(name + ':'))
                return line.mid(name.size() + 1).trimmed();
    return "?";
}

double median(std::vector<double> v)
{
    if (v.empty())
        return -1;
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// A site of ten stations of 40 temperature columns watched between 18 and
// 22, in UTC, each a capture folder followed by its own climalog-archivo.
struct Site {
    static constexpr int stations = 10, columns = 40;
    Site(const QString &root, const QString &bin) : root(root)
    {
        for (int k = 1; k <= columns; ++k)
            add(g, STT, QStringLiteral("S%1").arg(k),
                {"\xBA"
                 "C",
                 "", "", ""});
        for (int k = 1; k <= columns; ++k) {
            Dispositivo &d = g.dispositivos[std::size_t(k)];
            d.alarma[0] = 18;
            d.alarma[1] = 22;
            d.salrele[0] = 1;
            d.periodo = 1;
        }
        const QString day = QDateTime::currentDateTimeUtc().toString(QStringLiteral("dd-MM-yyyy"));
        for (int s = 1; s <= stations; ++s) {
            const QString folder = QStringLiteral("%1/s%2").arg(root).arg(s);
            QDir().mkpath(folder + QStringLiteral("/1"));
            configfile::write(folder + QStringLiteral("/config1.ini"), g.dispositivos);
            captures << folder + QStringLiteral("/1/") + day + QStringLiteral("-00.log");
            append(s, cabecera(g));
            auto p = std::make_unique<QProcess>();
            p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
            p->setStandardOutputFile(QProcess::nullDevice());
            p->start(bin + QStringLiteral("/climalog-archivo"),
                     {QStringLiteral("--estacion"), QStringLiteral("s%1").arg(s),
                      QStringLiteral("--zona"), QStringLiteral("UTC"),
                      folder + QStringLiteral("/1")});
            archives.push_back(std::move(p));
        }
    }
    ~Site()
    {
        for (auto &p : archives) {
            p->terminate();
            p->waitForFinished(10000);
        }
    }
    void append(int station, const QString &text) const
    {
        QFile f(captures[station - 1]);
        if (f.open(QIODevice::Append))
            f.write(QByteArray::fromStdString(cp1252::encode(text + QStringLiteral("\r\n"))));
    }
    // A line of station `station` now, its first `out` columns at 25 and the
    // rest at 20; at the start of a second, so that each line has its own.
    void line(int station, int out, const QString &hora)
    {
        for (int k = 1; k <= columns; ++k)
            g.estados[std::size_t(k)].lectura[0] = k <= out ? 25.f : 20.f;
        append(station, linea(g, hora));
    }
    static QString nextSecond()
    {
        QThread::msleep(static_cast<unsigned long>(1000 - QTime::currentTime().msec()));
        return QDateTime::currentDateTimeUtc().toString(QStringLiteral("dd-MM-yyyy HH:mm:ss"));
    }
    QString root;
    General g;
    QStringList captures;
    std::vector<std::unique_ptr<QProcess>> archives;
};

bool until(const std::function<bool()> &done, int ms)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms)
        QThread::msleep(5);
    return done();
}

double number(pg_conn *c, const char *sql)
{
    const central::Result r = central::exec(c, sql);
    return r.ok() ? r.field(0, 0).toDouble() : -1;
}

void endToEnd(pg_conn *c, const QString &smtpFolder, int smtpPort)
{
    QTemporaryDir dir;
    const QString bin = QCoreApplication::applicationDirPath();
    const auto rules = [&](int gather) {
        QFile f(dir.filePath(QStringLiteral("avisos.conf")));
        f.open(QIODevice::WriteOnly);
        f.write("[correo]\nservidor = smtp://127.0.0.1:" + QByteArray::number(smtpPort) +
                "\ntls = no\nreunir = " + QByteArray::number(gather) +
                "\nremitente = avisos@climalog.es\n[destinatario ana]\ncorreo = ana@ejemplo.es\n"
                "[destinatario luis]\ncorreo = luis@ejemplo.es\n[regla calor]\ncondiciones = "
                "alto, bajo\ndestinatarios = ana, luis\n");
    };
    rules(0);
    run(c, "DROP SCHEMA IF EXISTS climalog CASCADE");
    QStringList report;
    QString error;
    if (!central::prepare(c, report, error)) {
        std::fprintf(stderr, "%s\n", error.toUtf8().constData());
        return;
    }
    Site site(dir.path(), bin);
    QProcess avisos;
    avisos.setProcessChannelMode(QProcess::MergedChannels);
    avisos.start(bin + QStringLiteral("/climalog-avisos"),
                 {QStringLiteral("--reglas"), dir.filePath(QStringLiteral("avisos.conf"))});
    QByteArray said;
    const auto says = [&](const char *text) {
        avisos.waitForReadyRead(5);
        said += avisos.readAll();
        return said.contains(text);
    };
    // Every port archived and judged once, inside its limits.
    const QString first = Site::nextSecond();
    for (int s = 1; s <= Site::stations; ++s)
        site.line(s, 0, first);
    if (!until(
            [&] {
                return says("Vigilando") &&
                    number(c, "SELECT count(*) FROM climalog.avisos_puerto") == 10;
            },
            60000)) {
        std::fprintf(stderr, "The site did not start: %s\n", said.constData());
        return;
    }
    std::vector<double> archived, stored, mailed;
    for (int i = 0; i < 10; ++i) {
        const int before = received(smtpFolder);
        const double lines = number(c, "SELECT count(*) FROM climalog.linea");
        const double alarms = number(c, "SELECT count(*) FROM climalog.aviso");
        const QString hora = Site::nextSecond();
        QElapsedTimer t;
        t.start();
        site.line(1, 1, hora);
        until([&] { return number(c, "SELECT count(*) FROM climalog.linea") > lines; }, 20000);
        archived.push_back(t.elapsed() / 1000.0);
        until([&] { return number(c, "SELECT count(*) FROM climalog.aviso") > alarms; }, 20000);
        stored.push_back(t.elapsed() / 1000.0);
        if (!waitFor(smtpFolder, before + 2, 20000))
            break;
        mailed.push_back(t.elapsed() / 1000.0);
        // Back inside: its end told too, before the next.
        site.line(1, 0, Site::nextSecond());
        waitFor(smtpFolder, before + 4, 20000);
    }
    std::printf("A line out of limits appended to a followed capture, to both recipients' mails "
                "taken: median %.2f s of %zu (goal < 3 s); its steps: archived %.2f s, alarm "
                "stored %.2f s\n",
                median(mailed), mailed.size(), median(archived), median(stored));

    rules(2);
    ::kill(static_cast<pid_t>(avisos.processId()), SIGHUP);
    until([&] { return says("Reglas le"); }, 10000);
    int before = received(smtpFolder);
    const QString hora = Site::nextSecond();
    QElapsedTimer t;
    t.start();
    for (int s = 1; s <= Site::stations; ++s)
        site.line(s, Site::columns, hora);
    const bool all = waitFor(smtpFolder, before + 2, 30000);
    const double seconds = t.elapsed() / 1000.0;
    QThread::msleep(4000);
    std::printf("10 stations x 40 columns out at once, to 2 recipients (gathering 2 s): %s in "
                "%.2f s (goal < 5 s); messages: %d (2 is one each); alarms: %.0f\n",
                all ? "all taken" : "NOT all taken", seconds, received(smtpFolder) - before,
                number(c, "SELECT count(*) FROM climalog.aviso WHERE fin IS NULL"));

    // Back inside, their ends told, and then a line a second everywhere.
    before = received(smtpFolder);
    for (int s = 1; s <= Site::stations; ++s)
        site.line(s, 0, Site::nextSecond());
    waitFor(smtpFolder, before + 2, 30000);
    QThread::msleep(3000);
    const qint64 pid = avisos.processId();
    const double cpu = cpuSeconds(pid);
    QElapsedTimer following;
    following.start();
    for (int second = 0; second < 30; ++second) {
        const QString now = Site::nextSecond();
        for (int s = 1; s <= Site::stations; ++s)
            site.line(s, 0, now);
    }
    QThread::msleep(1000);
    const double share = (cpuSeconds(pid) - cpu) / (following.elapsed() / 1000.0);
    std::printf(
        "Following 10 stations x 40 columns at a line a second each for 30 s: "
        "climalog-avisos used %.1f %% of one core (goal < 5 %%); resident %s (peak %s; goal "
        "< 50 MB)\n",
        share * 100, memoryLine(pid, "VmRSS").constData(), memoryLine(pid, "VmHWM").constData());
    avisos.terminate();
    avisos.waitForFinished(10000);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QString error;
    const central::Connection c = central::connect(QString(), "alarms_bench", error);
    QStringList report;
    if (!c || !run(c.get(), "DROP SCHEMA IF EXISTS climalog CASCADE") ||
        !central::prepare(c.get(), report, error)) {
        std::fprintf(stderr, "%s\n", error.toUtf8().constData());
        return 1;
    }
    run(c.get(),
        "INSERT INTO climalog.estacion (nombre, zona) SELECT 'e' || n, 'Europe/Madrid' "
        "FROM generate_series(1, 10) n;"
        "INSERT INTO climalog.puerto (estacion, nombre) SELECT id, '1' FROM "
        "climalog.estacion;"
        "INSERT INTO climalog.serie (puerto, columna, ocurrencia, unidad, dispositivo, "
        "clase) SELECT p.id, 'S' || n || ' (ºC)', 1, 'ºC', 'S' || n, 'T' "
        "FROM climalog.puerto p, generate_series(1, 40) n");

    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("correo"));
    QDir().mkpath(folder);
    const int port = freePort();
    QProcess server;
    server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    server.start(QStringLiteral("/usr/bin/python3"),
                 {QStringLiteral(ALARMS_BENCH_SERVER), QStringLiteral("--port"),
                  QString::number(port), QStringLiteral("--folder"), folder});
    if (!server.waitForReadyRead(20000)) {
        std::fprintf(stderr, "The mail server did not start\n");
        return 1;
    }
    alarms::MailSettings mail;
    mail.url = "smtp://127.0.0.1:" + std::to_string(port);
    mail.startTls = false;
    mail.from = "avisos@climalog.es";
    mail.gatherSeconds = 0;
    auto outbox =
        std::make_unique<alarms::Outbox>(std::string(), mail, std::vector<alarms::Recipient>());
    outbox->start();

    std::vector<double> ms;
    for (int i = 0; i < 20; ++i) {
        const QByteArray sql =
            "WITH a AS (INSERT INTO climalog.aviso (puerto, serie, condicion, regla, inicio) "
            "SELECT puerto, id, 'alto', 'uno', now() + make_interval(secs => " +
            QByteArray::number(i) +
            ") FROM climalog.serie ORDER BY id LIMIT 1 RETURNING id, inicio) "
            "INSERT INTO climalog.salida (aviso, suceso, instante, destinatario, canal, direccion) "
            "SELECT id, 'alta', inicio, 'ana', 'correo', 'ana@ejemplo.es' FROM a;"
            "NOTIFY climalog_salida";
        QElapsedTimer t;
        t.start();
        run(c.get(), sql);
        if (!waitFor(folder, i + 1, 20000))
            break;
        ms.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    if (ms.size() == 20)
        std::printf("salida row to a message taken by the server: median %.1f ms (min %.1f, "
                    "max %.1f, of %zu)\n",
                    (ms[9] + ms[10]) / 2, ms.front(), ms.back(), ms.size());

    mail.gatherSeconds = 2;
    outbox->configure(mail, {});
    const int before = received(folder);
    QElapsedTimer t;
    t.start();
    for (int station = 1; station <= 10; ++station)
        run(c.get(),
            alarmsOf("'e" + QByteArray::number(station) + "'", 3, "2026-12-09 10:00:00+00"));
    const bool all = waitFor(folder, before + 3, 60000);
    const double seconds = double(t.nsecsElapsed()) / 1e9;
    QThread::msleep(3000);
    std::printf("10 stations x 40 columns to 3 recipients (gathering 2 s): %s in %.2f s; "
                "messages: %d (3 is one each)\n",
                all ? "all taken" : "NOT all taken", seconds, received(folder) - before);
    // The program's own outbox takes the outbox's turn from here.
    outbox.reset();
    endToEnd(c.get(), folder, port);
    server.terminate();
    server.waitForFinished(5000);
    return all ? 0 : 1;
}
