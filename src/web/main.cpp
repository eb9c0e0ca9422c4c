// climalog-web: serves the page of every station's readings, warnings,
// alarms and plots from the central database, which it only reads but for
// the alarms' acknowledgements and silences.
#include "central/connection.h"
#include "web/database.h"
#include "web/options.h"
#include "web/server.h"
#include "web/users.h"

#include <QCoreApplication>

#include <sodium.h>

#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <mutex>
#include <pthread.h>
#include <string>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

void say(const QString &text, FILE *to = stdout)
{
    std::fputs((text + u'\n').toUtf8().constData(), to);
    std::fflush(to);
}

// A line typed at the terminal without showing it; from a pipe, a line.
std::string readPassword(const char *prompt)
{
    const bool terminal = isatty(STDIN_FILENO);
    termios saved{};
    if (terminal) {
        std::fputs(prompt, stderr);
        tcgetattr(STDIN_FILENO, &saved);
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
    }
    std::string line;
    std::getline(std::cin, line);
    if (terminal) {
        tcsetattr(STDIN_FILENO, TCSANOW, &saved);
        std::fputs("\n", stderr);
    }
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return line;
}

int setPassword(const WebOptions &o)
{
    const std::string first = readPassword("Contraseña: ");
    if (isatty(STDIN_FILENO) && readPassword("Otra vez: ") != first) {
        say(QStringLiteral("Las dos contraseñas no coinciden; no se ha cambiado nada."), stderr);
        return 1;
    }
    QString error;
    if (!users::setPassword(o.users, o.user, first, error)) {
        say(error, stderr);
        return 1;
    }
    say(QStringLiteral("Contraseña de %1 guardada en %2.").arg(o.user, o.users));
    return 0;
}

int serve(const WebOptions &o)
{
    users::Table table;
    QString error;
    if (!table.load(o.users, error)) {
        say(error, stderr);
        return 1;
    }
    if (const QString exposure = users::exposure(o.users); !exposure.isEmpty())
        say(exposure, stderr);
    if (!isLoopback(o.host) && table.empty()) {
        say(QStringLiteral(
                "Para escuchar en %1, fuera de este equipo, hace falta al menos un usuario: "
                "climalog-web --usuario NOMBRE")
                .arg(o.host),
            stderr);
        return 2;
    }
    web::Reader db(o.conninfo, o.connections);
    std::string role, problem, dbError;
    bool writes = false;
    if (!db.check(role, writes, problem, dbError)) {
        say(QStringLiteral("%1 (se volverá a intentar en cada petición).")
                .arg(QString::fromStdString(dbError)),
            stderr);
    } else if (!problem.empty()) {
        say(QString::fromStdString(problem) + u'.', stderr);
        return 1;
    } else if (writes)
        say(QStringLiteral("Aviso: el rol %1 puede cambiar el archivo de lecturas; a climalog-web "
                           "le basta uno que "
                           "solo lea (miembro de climalog_lectura).")
                .arg(QString::fromStdString(role)),
            stderr);

    // SIGINT and SIGTERM end the server cleanly: they are taken by one
    // thread, blocked in all the others.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    if (!o.primary.isEmpty())
        say(QStringLiteral("Los cambios de la página (reconocer y silenciar avisos) van a %1.")
                .arg(central::masked(o.primary)),
            stderr);
    // The page's writes on connections of their own that may write: to
    // the primary when the database read is a standby, otherwise to it.
    web::Reader changes(o.primary.isEmpty() ? o.conninfo : o.primary, 2, false);
    WebServer server(o, std::move(table), db, changes);
    if (!server.bind(error)) {
        say(error, stderr);
        return 1;
    }
    // A signal that comes before the server listens must still end it: the
    // stop is repeated until serving has ended.
    std::mutex servingMutex;
    std::condition_variable servingEnded;
    bool served = false;
    std::thread watcher([&] {
        int signal = 0;
        sigwait(&stopSignals, &signal);
        db.cancelAll();
        changes.cancelAll();
        std::unique_lock lock(servingMutex);
        do
            server.stop();
        while (!servingEnded.wait_for(lock, std::chrono::milliseconds(50), [&] { return served; }));
    });
    const QString scheme = server.secure() ? QStringLiteral("https") : QStringLiteral("http");
    const QString host = o.host.contains(u':') ? u'[' + o.host + u']' : o.host;
    say(QStringLiteral("climalog-web sirve %1://%2:%3/ %4")
            .arg(scheme, host)
            .arg(server.port())
            .arg(server.loginRequired()
                     ? QStringLiteral("(con usuario y contraseña)")
                     : QStringLiteral("(sin usuarios: solo para este equipo, sin contraseña)")));
    server.serve();
    {
        std::lock_guard lock(servingMutex);
        served = true;
    }
    servingEnded.notify_all();
    pthread_kill(watcher.native_handle(), SIGTERM);
    watcher.join();
    return 0;
}

} // namespace

#ifdef __GLIBC__
// Before main and before Qt sets up its application: the window in which the
// process list shows a password given on the command line is as short as the
// program can make it. The C library hands constructors the arguments.
[[gnu::constructor]] static void takeArgumentsEarly(int argc, char **argv, char **)
{
    central::takeArguments(argc, argv);
}
#endif

int main(int argc, char *argv[])
{
    const QStringList args = central::takeArguments(argc, argv);
    QCoreApplication app(argc, argv);
    if (sodium_init() < 0) {
        say(QStringLiteral("No se puede iniciar la biblioteca de cifrado."), stderr);
        return 1;
    }
    WebOptions options;
    QString error;
    switch (parseWebArguments(args, QCoreApplication::applicationDirPath(), options, error)) {
    case WebParsed::Help:
        say(webUsage());
        return 0;
    case WebParsed::Bad:
        say(error + u'\n' + webUsage(), stderr);
        return 2;
    case WebParsed::SetPassword:
        return setPassword(options);
    case WebParsed::Serve:
        break;
    }
    return serve(options);
}
