#include "central/connection.h"

#include "central/names.h"
#include "central/query.h"

#include <QRegularExpression>
#include <QUrl>

#include <algorithm>
#include <cstring>

#include <libpq-fe.h>

namespace central {

void ConnectionClose::operator()(pg_conn *c) const { PQfinish(c); }

QString serverText(pg_conn *c)
{
    // The first line says it; the details and context after it can be long
    // (a whole failing row).
    QString text = QString::fromUtf8(PQerrorMessage(c)).trimmed().section(u'\n', 0, 0).trimmed();
    for (const char *level : {"ERROR:", "FATAL:"})
        if (text.startsWith(QLatin1String(level)))
            text = text.mid(qsizetype(std::strlen(level))).trimmed();
    return text;
}

QStringList secrets(const QString &conninfo)
{
    // Read by hand rather than by libpq's parser: a malformed address, which
    // that parser refuses, is exactly the one its messages quote back.
    static const QRegularExpression userPart(
        QStringLiteral("^postgres(?:ql)?://[^/@?]*?:([^@/?]*)@"));
    static const QRegularExpression parameter(QStringLiteral("[?&]password=([^&]*)"));
    static const QRegularExpression word(
        QStringLiteral("(?:^|\\s)password\\s*=\\s*('(?:[^'\\\\]|\\\\.)*'|\\S+)"));
    QStringList out;
    const auto add = [&out](const QString &s) {
        if (!s.isEmpty() && !out.contains(s))
            out << s;
    };
    const auto addEncoded = [&](const QString &s) {
        add(s);
        add(QUrl::fromPercentEncoding(s.toUtf8()));
    };
    if (const auto m = userPart.match(conninfo); m.hasMatch())
        addEncoded(m.captured(1));
    for (auto it = parameter.globalMatch(conninfo); it.hasNext();)
        addEncoded(it.next().captured(1));
    for (auto it = word.globalMatch(conninfo); it.hasNext();) {
        QString s = it.next().captured(1);
        add(s);
        if (s.startsWith(u'\'') && s.size() >= 2)
            add(s.mid(1, s.size() - 2)
                    .replace(QStringLiteral("\\'"), QStringLiteral("'"))
                    .replace(QStringLiteral("\\\\"), QStringLiteral("\\")));
    }
    // The longest first, so that a password holding another is hidden whole.
    std::sort(out.begin(), out.end(),
              [](const QString &a, const QString &b) { return a.size() > b.size(); });
    return out;
}

void hideSecrets(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i)
        for (const QString &secret : secrets(QString::fromLocal8Bit(argv[i]))) {
            const QByteArray bytes = secret.toLocal8Bit();
            for (char *at = std::strstr(argv[i], bytes.constData()); at && !bytes.isEmpty();
                 at = std::strstr(at, bytes.constData()))
                std::memset(at, '*', static_cast<std::size_t>(bytes.size()));
        }
}

QStringList takeArguments(int argc, char *argv[])
{
    static const QStringList given = [&] {
        QStringList out;
        for (int i = 1; i < argc; ++i)
            out << QString::fromLocal8Bit(argv[i]);
        hideSecrets(argc, argv);
        return out;
    }();
    return given;
}

QString masked(const QString &text, const QString &conninfo)
{
    QString out = text;
    for (const QString &s : secrets(conninfo))
        out.replace(s, QStringLiteral("***"));
    return out;
}

Connection connect(const QString &conninfo, const char *program, QString &error)
{
    const QByteArray address = conninfo.toUtf8();
    // Defaults first: the address given overrides them. Keepalives notice a
    // server that vanished without a word within minutes, not hours.
    const char *keys[] = {"connect_timeout",
                          "keepalives_idle",
                          "keepalives_interval",
                          "keepalives_count",
                          "fallback_application_name",
                          "client_encoding",
                          "dbname",
                          nullptr};
    const char *values[] = {
        "10",   "60", "10", "6", program, "UTF8", address.isEmpty() ? nullptr : address.constData(),
        nullptr};
    Connection c(PQconnectdbParams(keys, values, 1));
    if (!c || PQstatus(c.get()) != CONNECTION_OK) {
        error = masked(QStringLiteral("No se puede conectar con la base de datos %1: %2")
                           .arg(conninfo.isEmpty() ? QStringLiteral("(variables PG*)") : conninfo,
                                c ? serverText(c.get()) : QStringLiteral("sin memoria")),
                       conninfo);
        return nullptr;
    }
    PQsetNoticeProcessor(
        c.get(), [](void *, const char *) {}, nullptr);
    return c;
}

int storedSchemaVersion(pg_conn *c, QString &error)
{
    // Two statements: a query naming a missing table fails as a whole.
    int version = -1;
    for (const char *sql : {"SELECT to_regclass('climalog.version') IS NOT NULL",
                            "SELECT max(version) FROM climalog.version"}) {
        const Result r = exec(c, sql);
        if (!r.ok() || r.rows() != 1) {
            error = QStringLiteral("No se puede leer la versión del esquema climalog: %1")
                        .arg(serverText(c));
            return -1;
        }
        const QByteArray value = r.field(0, 0);
        if (value == "f")
            return 0;
        version = value.toInt();
    }
    return version;
}

QString schemaProblem(pg_conn *c)
{
    QString error;
    const int found = storedSchemaVersion(c, error);
    if (found < 0)
        return error;
    if (found == 0)
        return QStringLiteral(
            "La base de datos no tiene el esquema climalog: prepárela una vez con "
            "climalog-archivo --preparar y la conexión de su propietario");
    if (found < schemaVersion)
        return QStringLiteral("El esquema climalog es de la versión %1 y este programa necesita la "
                              "%2: póngalo al día "
                              "con climalog-archivo --preparar y la conexión de su propietario")
            .arg(found)
            .arg(schemaVersion);
    if (found > schemaVersion)
        return QStringLiteral(
                   "El esquema climalog es de la versión %1, más nueva que la %2 de este programa: "
                   "actualice el programa")
            .arg(found)
            .arg(schemaVersion);
    return {};
}

} // namespace central
