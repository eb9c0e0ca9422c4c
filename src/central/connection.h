// Connections to the central database for both central programs: libpq's
// usual sources of the address and password (PG* variables, the password
// file, the service file) plus the program's own defaults, and every text
// shown to the user with the address's password replaced by ***.
#pragma once

#include <QString>
#include <QStringList>

#include <memory>

struct pg_conn;

namespace central {

struct ConnectionClose {
    void operator()(pg_conn *c) const;
};
using Connection = std::unique_ptr<pg_conn, ConnectionClose>;

// Connects to `conninfo` (a postgresql:// address or key=value words; empty:
// the PG* variables alone) with the client encoding UTF-8. Null on failure,
// with `error` saying why in Spanish, the password hidden.
Connection connect(const QString &conninfo, const char *program, QString &error);

// The passwords an address carries, as written and as decoded: in the
// address's user part, in a password parameter, in a password= word.
QStringList secrets(const QString &conninfo);
// Blanks with * every password that the program's arguments carry: written
// in an address on the command line, it would show in the process list for
// the program's whole life. Take the arguments first.
void hideSecrets(int argc, char *argv[]);
// The program's arguments as given, taken once (the first call keeps them)
// and then blanked by hideSecrets. Call it before Qt sets its application up,
// so that the process list shows a password for as short a time as it can.
QStringList takeArguments(int argc, char *argv[]);
// `text` with every password of `conninfo` replaced by ***.
QString masked(const QString &text, const QString &conninfo);
inline QString masked(const QString &conninfo) { return masked(conninfo, conninfo); }

// The server's last message on the connection: its first line, without
// the level.
QString serverText(pg_conn *c);

// The version of the schema in the database: 0 when there is none yet, -1
// when it cannot be read (`error` says why).
int storedSchemaVersion(pg_conn *c, QString &error);
// Empty when the database holds the schema these programs are built for;
// otherwise what to do, in Spanish.
QString schemaProblem(pg_conn *c);

} // namespace central
