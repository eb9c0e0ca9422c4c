// The web program's command line: the database to read, where to listen,
// the users file, TLS files; or the command that sets a user's password.
#pragma once

#include <QString>
#include <QStringList>

struct WebOptions {
    QString conninfo; // a postgresql:// address; empty: the PG* variables
    // Where the page's writes go when `conninfo` is a standby; empty: the
    // database it reads.
    QString primary;
    QString host = QStringLiteral("127.0.0.1"); // the address to listen on
    int port = 8080; // 0: any free port, printed at the start
    QString users; // the users file
    QString certificate; // TLS: certificate and private key files (PEM)
    QString key;
    QString user; // --usuario: set this user's password and end
    QString proxy; // a reverse proxy trusted to say the client's address
    int connections = 4; // database connections, at most
    int sessionMinutes = 480; // a login lasts this long
    QString site; // --sitio: the site's name, on the page and on every page of a report
};

enum class WebParsed { Serve, SetPassword, Help, Bad };

// `args` without the program's name; the users file is `appFolder`'s
// "usuarios-web.txt" unless given. Bad: `error` says why, in Spanish.
WebParsed parseWebArguments(const QStringList &args, const QString &appFolder, WebOptions &o,
                            QString &error);
QString webUsage();

// Whether only this machine can reach `host` (127.0.0.0/8, ::1, localhost).
bool isLoopback(const QString &host);
