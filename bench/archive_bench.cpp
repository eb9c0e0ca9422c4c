// Figures of the archive program against a local PostgreSQL server (run it
// through scripts/testdb.sh, which starts a private one): a simulated day of
// one station (86 400 lines, 40 columns, by the program's own capture texts)
// archived from scratch, with readings per second, the total time and the
// program's peak memory; then the lag of lines followed at one a second,
// written by the capture writer itself.
//   scripts/testdb.sh run build-test/bin/archive_bench [seconds followed]
#include "captureday.h"

#include "monitor/capture.h"
#include "platform/clock.h"
#include "platform/messages.h"
#include "registry/general.h"

#include <libpq-fe.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <sys/resource.h>
#include <vector>

namespace {

const char *const database = "climalog_banco";

class Answers final : public Messages {
public:
    Answer show(const QString &, Buttons, Icon) override { return Answer::Ok; }
};

// One number from a query, or -1.
long long scalar(PGconn *c, const char *sql)
{
    PGresult *r = PQexec(c, sql);
    const long long v = PQresultStatus(r) == PGRES_TUPLES_OK && PQntuples(r) == 1 ? QByteArray(PQgetvalue(r, 0, 0)).toLongLong() : -1;
    PQclear(r);
    return v;
}

bool freshDatabase()
{
    PGconn *c = PQconnectdb("dbname=postgres");
    bool ok = PQstatus(c) == CONNECTION_OK;
    for (const QByteArray &sql : {QByteArray("DROP DATABASE IF EXISTS ") + database, QByteArray("CREATE DATABASE ") + database}) {
        if (!ok)
            break;
        PGresult *r = PQexec(c, sql.constData());
        ok = PQresultStatus(r) == PGRES_COMMAND_OK;
        PQclear(r);
    }
    if (!ok)
        std::fprintf(stderr, "No database server: %s(start the benchmark through scripts/testdb.sh run)\n", PQerrorMessage(c));
    PQfinish(c);
    return ok;
}

QString program() { return QCoreApplication::applicationDirPath() + QStringLiteral("/climalog-archivo"); }
QString address() { return QStringLiteral("postgresql:///") + QString::fromLatin1(database); }

void archiveDay(const QString &root)
{
    const QString folder = root + QStringLiteral("/1");
    QDir().mkpath(folder);
    QElapsedTimer t;
    t.start();
    const QString path = benchDay(folder);
    std::printf("A day of one station: 86 400 lines x 40 columns = 3 456 000 readings, %.1f MB, written in %.1f s\n",
                QFileInfo(path).size() / 1048576.0, t.elapsed() / 1000.0);

    QProcess::execute(program(), {QStringLiteral("--preparar"), address()});
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    t.restart();
    p.start(program(), {QStringLiteral("--una-vez"), QStringLiteral("--estacion"), QStringLiteral("banco"), folder, address()});
    p.waitForFinished(-1);
    const double seconds = t.elapsed() / 1000.0;
    rusage children{};
    getrusage(RUSAGE_CHILDREN, &children);
    PGconn *c = PQconnectdb(("dbname=" + QByteArray(database)).constData());
    const long long stored = scalar(c, "SELECT count(*) FROM climalog.lectura");
    std::printf("Archived from scratch (--una-vez, exit %d): %.1f s, %.0f readings/s (goal >= 200 000/s, the day < 20 s); "
                "%lld rows in the table\n",
                p.exitCode(), seconds, 3456000 / seconds, stored);
    std::printf("Peak resident memory of the archive program: %.0f MB (goal < 100 MB)\n", children.ru_maxrss / 1024.0);
    // The README's dashboard queries on the archived day.
    for (const char *sql : {"SELECT DISTINCT ON (columna) columna, hora, valor FROM climalog.lectura WHERE estacion = 'banco' "
                            "AND hora > timestamptz '2026-12-07 23:00' - interval '1 hour' ORDER BY columna, hora DESC",
                            "SELECT date_trunc('hour', hora) AS hora, avg(valor) FROM climalog.lectura WHERE estacion = 'banco' "
                            "AND columna = 'Sonda 1 (\u00BAC)' AND hora >= '2026-12-07' AND hora < '2026-12-08' GROUP BY 1 ORDER BY 1"}) {
        t.restart();
        PGresult *r = PQexec(c, sql);
        std::printf("Query: %d rows in %lld ms: %.60s...\n", PQntuples(r), static_cast<long long>(t.elapsed()), sql);
        PQclear(r);
    }
    PQfinish(c);
}

void followLag(const QString &root, int lines)
{
    General g;
    g.appFolder = root;
    g.nombrepuerto = QStringLiteral("COM2");
    g.carpeta = root + QStringLiteral("/2/");
    for (int k = 1; k <= 10; ++k)
        add(g, STT, QStringLiteral("Sonda %1").arg(k));
    g.modificado = false;
    SystemClock clock;
    Answers answers;
    Captura capture(g, clock);
    if (!capture.inicia(answers, [] { return true; })) {
        std::fprintf(stderr, "The capture does not start in %s\n", qPrintable(g.carpeta));
        return;
    }
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.setStandardOutputFile(QProcess::nullDevice());
    p.start(program(), {QStringLiteral("--estacion"), QStringLiteral("banco"), root + QStringLiteral("/2"), address()});
    PGconn *c = PQconnectdb(("dbname=" + QByteArray(database)).constData());
    std::vector<double> lags;
    for (int k = 0; k < lines; ++k) {
        // At the start of a second, as the capture tick writes.
        QThread::msleep(static_cast<unsigned long>(1000 - QTime::currentTime().msec()));
        const QString hora = QDateTime::currentDateTime().toString(QStringLiteral("dd-MM-yyyy HH:mm:ss"));
        QElapsedTimer t;
        t.start();
        capture.escribe(hora);
        while (scalar(c, "SELECT count(DISTINCT hora) FROM climalog.lectura WHERE puerto = '2'") < k + 1 && t.elapsed() < 30000)
            QThread::msleep(5);
        lags.push_back(t.elapsed() / 1000.0);
    }
    PQfinish(c);
    p.kill();
    p.waitForFinished();
    std::sort(lags.begin(), lags.end());
    std::printf("Follow mode, one line a second for %d s: lag from the line on the disk to its readings in the table: "
                "median %.2f s, worst %.2f s (goal < 2 s)\n",
                lines, lags[lags.size() / 2], lags.back());
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    if (!freshDatabase())
        return 1;
    QTemporaryDir root;
    archiveDay(root.path());
    followLag(root.path(), argc > 1 ? std::max(3, QByteArray(argv[1]).toInt()) : 20);
    return 0;
}
