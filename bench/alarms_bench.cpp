// Figures of the alarm program's outbox against a local PostgreSQL server
// (run it through scripts/testdb.sh) and the tests' mail server: the time
// from a committed salida row to its message taken by the server (median,
// minimum and maximum of 20); and a power cut of 10 stations of 40 columns
// at once told to 3 recipients: the messages each one gets (one is right)
// and the time until all are taken, the gathering window included.
//   scripts/testdb.sh run build-test/bin/alarms_bench
#include "alarms/outbox.h"
#include "central/connection.h"
#include "central/migrations.h"
#include "central/query.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
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

} // namespace

int main()
{
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
    alarms::Outbox outbox(std::string(), mail, {});
    outbox.start();

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
    outbox.configure(mail, {});
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
    server.terminate();
    server.waitForFinished(5000);
    return all ? 0 : 1;
}
