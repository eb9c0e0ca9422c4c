// The outbox: the texts of a recipient's events, and the events written to
// climalog.salida reaching a real mail server (tests/alarms/smtp_server.py)
// and a real webhook receiver (webhook_server.py) once and in order, through
// a mail server that is down for a while, a kill between sending and
// marking, a password file others can read, and a receiver that fails.
#include "alarms/mail.h"
#include "alarms/message.h"
#include "alarms/outbox.h"
#include "central/connection.h"
#include "central/migrations.h"
#include "central/query.h"
#include "servers.h"
#include "support/support.h"

#include <QRegularExpression>
#include <QThread>

#include <libpq-fe.h>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <string_view>

namespace {

using alarms::Event;
using namespace std::string_view_literals;

// Bytes that may hold NUL, as a login sends them.
QByteArray bytes(std::string_view s) { return QByteArray(s.data(), qsizetype(s.size())); }

QDateTime utc(const char *iso) { return QDateTime::fromString(QLatin1String(iso), Qt::ISODate); }

Event event(const char *kind, const char *condition, const char *column, const char *iso)
{
    Event e;
    e.kind = QLatin1String(kind);
    e.condition = QLatin1String(condition);
    e.station = QStringLiteral("Almacén norte");
    e.zone = QStringLiteral("Europe/Madrid");
    e.port = QStringLiteral("1");
    e.column = QString::fromUtf8(column);
    e.instant = utc(iso);
    return e;
}

Event above(const char *iso, double value)
{
    Event e = event("alta", "alto", "Sala (ºC)", iso);
    e.unit = QStringLiteral("ºC");
    e.series = 7;
    e.extreme = value;
    e.limit = 30;
    return e;
}

TEST(OutboxTexts, EachEventAsTheRecipientReadsIt)
{
    Event acknowledged = above("2026-07-01T08:00:00Z", 31.25);
    acknowledged.kind = QStringLiteral("reconocido");
    acknowledged.acknowledgedBy = QStringLiteral("ana");
    acknowledged.comment = QStringLiteral("compresor revisado");
    Event stopped = event("escalado", "parada", "", "2026-12-09T23:59:59Z");
    stopped.zone = QStringLiteral("Nada/Inventada");
    Event door = event("fin", "activa", "Puerta - 1", "2026-12-09T10:00:00Z");
    door.station = QStringLiteral("sur");
    struct Row {
        const char *name;
        std::vector<Event> events;
        const char *subject, *body;
    };
    const std::vector<Row> rows{
        // Winter in Madrid is an hour past UTC; the page's decimal comma.
        {"above, winter",
         {above("2026-12-09T15:30:00Z", 31.5)},
         "Aviso: Almacén norte, puerto 1, Sala (ºC) sobre el máximo",
         "Aviso\nAlmacén norte, puerto 1, Sala (ºC): sobre el máximo, 31,5 ºC (límite 30 ºC)\n"
         "09/12/2026 16:30:00 (Europe/Madrid)\nhttps://pagina/#serie=7\n"},
        // Summer is two hours past; the comment is the recipient's to read.
        {"acknowledged, summer",
         {acknowledged},
         "Aviso reconocido por ana: Almacén norte, puerto 1, Sala (ºC) sobre el máximo",
         "Aviso reconocido por ana: compresor revisado\nAlmacén norte, puerto 1, Sala (ºC): sobre "
         "el máximo, 31,25 ºC (límite 30 ºC)\n01/07/2026 10:00:00 (Europe/Madrid)\n"
         "https://pagina/#serie=7\n"},
        // Two in their order. A port's own alarm has no series, so no value
        // and the page's own address; a zone no one knows is read as UTC.
        {"two events, a port's own",
         {door, stopped},
         "2 sucesos de avisos en sur, Almacén norte",
         "Fin del aviso\nsur, puerto 1, Puerta - 1: entrada activa\n09/12/2026 11:00:00 "
         "(Europe/Madrid)\nhttps://pagina/\n\nEscalado\nAlmacén norte, puerto 1: sin lecturas\n"
         "09/12/2026 23:59:59 (UTC)\nhttps://pagina/\n"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        const alarms::Message m =
            alarms::mailMessage(row.events, QStringLiteral("https://pagina/"));
        EXPECT_EQ(m.subject, QString::fromUtf8(row.subject));
        EXPECT_EQ(m.body, QString::fromUtf8(row.body));
    }

    // Many stations: each named once, the first three, the rest counted.
    std::vector<Event> many(5, above("2026-12-09T09:00:00Z", 40));
    for (int i = 0; i < 5; ++i)
        many[size_t(i)].station = QString(QChar(u'a' + i % 4));
    EXPECT_EQ(alarms::mailMessage(many, {}).subject, u"5 sucesos de avisos en a, b, c y 1 más");

    // The webhook's JSON, field by field as a receiver reads it.
    EXPECT_EQ(alarms::webhookMessage({acknowledged}, QStringLiteral("https://pagina/")).body,
              QString::fromUtf8(
                  "{\"asunto\":\"Aviso reconocido por ana: Almacén norte, puerto 1, Sala (ºC) "
                  "sobre el máximo\",\"avisos\":[{\"columna\":\"Sala (ºC)\",\"comentario\":"
                  "\"compresor revisado\",\"condicion\":\"alto\",\"enlace\":"
                  "\"https://pagina/#serie=7\",\"estacion\":\"Almacén norte\",\"hora_local\":"
                  "\"01/07/2026 10:00:00\",\"instante\":\"2026-07-01T08:00:00.000Z\",\"limite\":30,"
                  "\"puerto\":\"1\",\"reconocido_por\":\"ana\",\"suceso\":\"reconocido\",\"texto\":"
                  "\"Aviso reconocido por ana: compresor revisado\",\"unidad\":\"ºC\",\"valor\":"
                  "31.25,\"zona\":\"Europe/Madrid\"}]}"));
}

TEST(OutboxTexts, TheMailAsTheServerGetsIt)
{
    const alarms::Message m{QStringLiteral("Aviso: sala"), QStringLiteral("una\ndos\n")};
    const QByteArray id = alarms::messageId(12, m, QStringLiteral("Avisos <avisos@ejemplo.es>"));
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^<envio-12\\.[0-9a-f]{16}@ejemplo\\.es>$"))
                    .match(QString::fromLatin1(id))
                    .hasMatch())
        << id.constData();
    // The same stored message keeps its id; another message has another.
    QThread::msleep(5);
    EXPECT_EQ(alarms::messageId(12, m, QStringLiteral("otro@ejemplo.es")), id);
    EXPECT_NE(alarms::messageId(13, m, QStringLiteral("avisos@ejemplo.es")), id);
    EXPECT_EQ(alarms::messageId(12, m, QStringLiteral("sin-dominio")).right(10), "@climalog>");

    EXPECT_EQ(alarms::mailText(id, utc("2026-12-09T15:30:05.900Z"), QStringLiteral("a@b.es"),
                               QStringLiteral("c@d.es\r\nBcc: e@f.es"), m),
              "Date: Wed, 09 Dec 2026 15:30:05 +0000\r\nFrom: a@b.es\r\nTo: c@d.es  Bcc: "
              "e@f.es\r\nSubject: Aviso: sala\r\nMessage-ID: " +
                  id +
                  "\r\nMIME-Version: 1.0\r\nContent-Type: text/plain; charset=UTF-8\r\n"
                  "Content-Transfer-Encoding: base64\r\n\r\n" +
                  QByteArray("una\r\ndos\r\n").toBase64() + "\r\n");

    // Headers: short ASCII as is; anything else in words of at most 75
    // characters, none splitting a character, that decode to the text.
    struct Row {
        const char *name, *text;
        bool encoded;
    };
    const std::vector<Row> rows{
        {"ascii", "Aviso: sala 3", false},
        {"accents", "Aviso: Almacén, Sala (ºC)", true},
        {"control character", "Aviso:\r\nBcc: x@y", true},
        {"looks encoded", "=?UTF-8?B?QQ==?=", true},
        {"four-byte characters across words",
         "Aviso 🌡🌡🌡🌡🌡🌡🌡🌡🌡🌡🌡🌡🌡🌡🌡🌡🌡🌡🌡🌡",
         true},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        const QByteArray header = alarms::headerText(QString::fromUtf8(row.text));
        if (!row.encoded) {
            EXPECT_EQ(header, row.text);
            continue;
        }
        QByteArray decoded;
        for (const QByteArray &word : header.split('\n')) {
            const QByteArray w = word.trimmed();
            EXPECT_LE(w.size(), 75);
            ASSERT_TRUE(w.startsWith("=?UTF-8?B?") && w.endsWith("?=")) << w.constData();
            const QByteArray part = QByteArray::fromBase64(w.mid(10, w.size() - 12));
            EXPECT_TRUE(QString::fromUtf8(part).toUtf8() == part) << "a character cut in two";
            decoded += part;
        }
        EXPECT_EQ(decoded, row.text);
    }
}

TEST(OutboxTexts, ALoginIsHiddenInEveryFormAServerCouldQuoteIt)
{
    struct Row {
        const char *name;
        QString text, shown;
    };
    const QByteArray user = "avisos", password = "pä$$:w0rd";
    const std::vector<Row> rows{
        {"as written", QStringLiteral("535 no: pä$$:w0rd."), QStringLiteral("535 no: ***.")},
        {"PLAIN login",
         QStringLiteral("535 ") + QString::fromLatin1(bytes("\0avisos\0pä$$:w0rd"sv).toBase64()),
         QStringLiteral("535 ***")},
        {"PLAIN login naming the user twice",
         QString::fromLatin1(bytes("avisos\0avisos\0pä$$:w0rd"sv).toBase64()),
         QStringLiteral("***")},
        {"LOGIN's password", QString::fromLatin1(password.toBase64()) + QStringLiteral(" x"),
         QStringLiteral("*** x")},
        {"the user alone is no secret", QStringLiteral("avisos"), QStringLiteral("avisos")},
    };
    for (const Row &row : rows)
        EXPECT_EQ(alarms::hidden(row.text, user, password), row.shown) << row.name;
}

// ---- The outbox against the database and real servers.

// The schema set up anew with a station of Madrid and 40 series of port 1.
struct OutboxDatabase {
    OutboxDatabase()
    {
        QString error;
        c = central::connect(QString(), "test_outbox", error);
        if (!c) {
            ADD_FAILURE() << "The tests' server (scripts/testdb.sh) does not answer: "
                          << error.toStdString();
            return;
        }
        central::exec(c.get(), "DROP SCHEMA IF EXISTS climalog CASCADE");
        QStringList report;
        EXPECT_TRUE(central::prepare(c.get(), report, error)) << error.toStdString();
        EXPECT_EQ(rowsOn(c.get(),
                         "INSERT INTO climalog.estacion (nombre, zona) VALUES ('norte', "
                         "'Europe/Madrid');"
                         "INSERT INTO climalog.puerto (estacion, nombre) SELECT id, '1' FROM "
                         "climalog.estacion;"
                         "INSERT INTO climalog.serie (puerto, columna, ocurrencia, unidad, "
                         "dispositivo, clase) SELECT p.id, 'S' || n || ' (ºC)', 1, 'ºC', 'S' || n, "
                         "'T' FROM climalog.puerto p, generate_series(1, 40) n"),
                  "");
    }
    // An alarm of series `column` above 30 at `iso`, told to a recipient.
    void raise(int column, const char *iso, const char *recipient, const char *channel,
               const std::string &address)
    {
        const std::string sql =
            "WITH a AS (INSERT INTO climalog.aviso (puerto, serie, condicion, regla, inicio, "
            "extremo, limite) SELECT puerto, id, 'alto', 'calor', '" +
            std::string(iso) + "', " + std::to_string(30 + column) +
            ".5, 30 FROM climalog.serie WHERE columna = 'S" + std::to_string(column) +
            " (ºC)' RETURNING id, inicio) INSERT INTO climalog.salida (aviso, suceso, instante, "
            "destinatario, canal, direccion) SELECT id, 'alta', inicio, '" +
            recipient + "', '" + channel + "', '" + address +
            "' FROM a;"
            "NOTIFY climalog_salida";
        EXPECT_EQ(rowsOn(c.get(), sql), "");
    }
    std::string rows(const std::string &sql) { return rowsOn(c.get(), sql); }
    central::Connection c;
};

// What the outbox told, kept for the test to read.
struct Log {
    void attach(alarms::Outbox &o)
    {
        o.setLog([this](const QString &line) {
            const std::lock_guard<std::mutex> lock(m);
            lines << line;
        });
    }
    QString all()
    {
        const std::lock_guard<std::mutex> lock(m);
        return lines.join(u'\n');
    }
    std::string text() { return all().toStdString(); }
    std::mutex m;
    QStringList lines;
};

// The database, a folder, the mail server and the log of a test.
struct Rig {
    explicit Rig(const QStringList &smtpArgs = {})
        : smtp("smtp_server.py", dir.file(QStringLiteral("correo")), smtpArgs)
    {
    }
    alarms::MailSettings mail(int gatherSeconds = 0) const
    {
        alarms::MailSettings m;
        m.url = "smtp://127.0.0.1:" + std::to_string(smtp.port);
        m.startTls = false;
        m.from = "Avisos del almacén <avisos@climalog.es>";
        m.page = "https://pagina/";
        m.gatherSeconds = gatherSeconds;
        return m;
    }
    // An outbox of these settings, telling the log.
    std::unique_ptr<alarms::Outbox> outbox(const alarms::MailSettings &m)
    {
        auto o =
            std::make_unique<alarms::Outbox>(std::string(), m, std::vector<alarms::Recipient>());
        log.attach(*o);
        return o;
    }
    OutboxDatabase db;
    TempFolder dir;
    Server smtp;
    Log log;
};

TEST(Outbox, EventsReachTheServersOnceInOrderWithTheirOwnTimes)
{
    Rig rig;
    auto &[db, dir, smtp, log] = rig;
    // The receiver fails twice: the message is tried again.
    Server hook("webhook_server.py", dir.file(QStringLiteral("webhook")),
                {QStringLiteral("--fail"), QStringLiteral("2")});
    const std::string url = "http://127.0.0.1:" + std::to_string(hook.port) + "/avisos";
    const auto outbox = rig.outbox(rig.mail());
    // Stored before the start: sent first, and once. The second comes while
    // the outbox marks the first: told of it, it sends it at once.
    db.raise(1, "2026-12-09 10:00:00+00", "ana", "correo", "ana@ejemplo.es");
    std::atomic<int> sent{0};
    outbox->setAfterSend([&](long long) {
        if (sent++ == 0)
            db.raise(2, "2026-12-09 10:00:30+00", "ana", "correo", "ana@ejemplo.es");
    });
    outbox->start();
    ASSERT_TRUE(waitFor([&] { return smtp.received().size() == 2; }, 15000)) << log.text();
    db.raise(3, "2026-06-09 10:01:00+00", "ana", "webhook", url);
    ASSERT_TRUE(waitFor([&] { return hook.received().size() == 1; }, 15000)) << log.text();
    // Nothing more comes: each went once.
    QThread::msleep(1500);
    const QByteArrayList mails = smtp.received();
    ASSERT_EQ(mails.size(), 2);
    EXPECT_EQ(decoded(header(mails[0], "From")),
              QStringLiteral("Avisos del almacén <avisos@climalog.es>"));
    EXPECT_EQ(decoded(header(mails[0], "Subject")),
              QStringLiteral("Aviso: norte, puerto 1, S1 (ºC) sobre el máximo"));
    const QByteArray posted = hook.received().value(0);
    EXPECT_TRUE(posted.contains("\napplication/json; charset=utf-8\n{\"asunto\":"));
    EXPECT_TRUE(posted.contains("\"hora_local\":\"09/06/2026 12:01:00\"")) << posted.constData();
    // Each stored with the Message-ID it went with, marked sent, and its
    // events pointing at it.
    EXPECT_EQ(db.rows("SELECT canal, mensaje_id, intentos, enviado IS NOT NULL, ultimo_error, "
                      "(SELECT count(*) FROM climalog.salida s WHERE s.envio = e.id) "
                      "FROM climalog.envio e ORDER BY id"),
              "correo|" + header(mails[0], "Message-ID").toStdString() + "|1|t|NULL|1\ncorreo|" +
                  header(mails[1], "Message-ID").toStdString() + "|1|t|NULL|1\nwebhook|" +
                  posted.left(posted.indexOf('\n')).toStdString() + "|3|t|NULL|1\n");
    const QString failed =
        QStringLiteral("El webhook %1 respondió 500").arg(QString::fromStdString(url));
    EXPECT_EQ(log.all(), failed + u'\n' + failed);
}

TEST(Outbox, ABurstOfEventsForOneRecipientIsOneMessage)
{
    Rig rig;
    auto &[db, dir, smtp, log] = rig;
    const auto outbox = rig.outbox(rig.mail(2));
    outbox->start();
    // A station's power cut: each of its 40 columns, a commit each, as the
    // engine finds them; another recipient hears of the first only.
    for (int column = 1; column <= 40; ++column) {
        const std::string at = "2026-12-09 10:00:" + std::to_string(column) + "+00";
        db.raise(column, at.c_str(), "ana", "correo", "ana@ejemplo.es");
        if (column == 1)
            db.raise(column, "2026-12-09 09:59:00+00", "luis", "correo", "luis@ejemplo.es");
    }
    ASSERT_TRUE(waitFor([&] { return smtp.received().size() == 2; }, 15000));
    QThread::msleep(2500);
    const QByteArrayList mails = smtp.received();
    ASSERT_EQ(mails.size(), 2);
    const QByteArray &ana = header(mails[0], "To") == "ana@ejemplo.es" ? mails[0] : mails[1];
    const QString body = bodyOf(ana);
    EXPECT_EQ(body.count(QStringLiteral("\r\nAviso\r\n")) + body.startsWith(u"Aviso\r\n"), 40);
    // In the order they happened, each with its own time.
    qsizetype at = 0;
    for (int column = 1; column <= 40; ++column) {
        const QString line = QStringLiteral("S%1 (ºC): sobre el máximo, %2,5 ºC (límite 30 ºC)\r\n"
                                            "09/12/2026 11:00:%3 (Europe/Madrid)")
                                 .arg(column)
                                 .arg(30 + column)
                                 .arg(column, 2, 10, QLatin1Char('0'));
        const qsizetype found = body.indexOf(line, at);
        EXPECT_GT(found, at - 1) << "column " << column;
        at = std::max(at, found);
    }
}

TEST(Outbox, AMailServerDownForAWhileGetsEveryMessageInOrder)
{
    Rig rig;
    auto &[db, dir, smtp, log] = rig;
    smtp.stop();
    auto outbox = rig.outbox(rig.mail());
    const auto standby = rig.outbox(rig.mail());
    outbox->start();
    for (int column = 1; column <= 4; ++column) {
        db.raise(column, "2026-12-09 10:00:00+00", "ana", "correo", "ana@ejemplo.es");
        QThread::msleep(700);
    }
    EXPECT_TRUE(
        waitFor([&] { return db.rows("SELECT count(*) FROM climalog.envio") == "4\n"; }, 5000));
    EXPECT_TRUE(log.all().contains(QStringLiteral("no tomó el mensaje para ana@ejemplo.es")))
        << log.text();
    // The first program goes: the standby, waiting its turn since, takes
    // over; it is cut from the database for a moment too and connects again.
    standby->start();
    QThread::msleep(500);
    outbox.reset();
    db.rows("SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE application_name = "
            "'climalog-avisos'");
    smtp.start();
    db.raise(5, "2026-12-09 10:00:00+00", "ana", "correo", "ana@ejemplo.es");
    ASSERT_TRUE(waitFor([&] { return smtp.received().size() == 5; }, 40000)) << log.text();
    QThread::msleep(1000);
    const QByteArrayList mails = smtp.received();
    ASSERT_EQ(mails.size(), 5);
    for (int i = 0; i < 5; ++i)
        EXPECT_TRUE(bodyOf(mails[i]).contains(QStringLiteral("S%1 (ºC)").arg(i + 1))) << i;
    EXPECT_EQ(db.rows("SELECT count(*) FILTER (WHERE enviado IS NULL), min(intentos) > 0, "
                      "max(intentos) > 1 FROM climalog.envio"),
              "0|t|t\n");
}

TEST(Outbox, AMessageSentButNotMarkedGoesAgainWithItsMessageId)
{
    Rig rig;
    auto &[db, dir, smtp, log] = rig;
    db.raise(1, "2026-12-09 10:00:00+00", "ana", "correo", "ana@ejemplo.es");
    // A process killed between the server's taking the message and the mark.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const auto outbox = rig.outbox(rig.mail());
        outbox->setAfterSend([](long long) { ::raise(SIGKILL); });
        outbox->drain(20000);
        ::_exit(3);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
    EXPECT_EQ(db.rows("SELECT enviado IS NULL, intentos FROM climalog.envio"), "t|0\n");

    EXPECT_TRUE(rig.outbox(rig.mail())->drain(20000));
    const QByteArrayList mails = smtp.received();
    ASSERT_EQ(mails.size(), 2);
    // The same message, byte for byte: its Date is when it was stored.
    EXPECT_EQ(mails[1], mails[0]);
    EXPECT_EQ(db.rows("SELECT enviado IS NOT NULL, intentos FROM climalog.envio"), "t|1\n");
}

TEST(Outbox, ThePasswordIsReadOnlyFromAPrivateFileAndNeverShown)
{
    const QByteArray secret = "s3cr3t-Clave";
    struct Row {
        const char *name;
        QFile::Permissions mode;
        QByteArray fileText;
        bool startTls, sent;
        const char *says; // in the stored error and the log
    };
    const QFile::Permissions owner = QFile::ReadOwner | QFile::WriteOwner;
    const std::vector<Row> rowsOfCase{
        {"readable by the group", owner | QFile::ReadGroup, secret + "\n", false, false,
         "lo pueden leer otros que su propietario"},
        {"readable by all", owner | QFile::ReadOther, secret, false, false, "chmod 600"},
        // The server quotes back what it was sent: shown hidden.
        {"wrong password", owner, "otra-" + secret + "\n", false, false, "no tomó el mensaje"},
        {"STARTTLS required, the server has none", owner, secret + "\n", true, false,
         "no tomó el mensaje"},
        {"private and right", owner, secret + "\r\n", false, true, nullptr},
    };
    for (const Row &row : rowsOfCase) {
        SCOPED_TRACE(row.name);
        Rig rig({QStringLiteral("--user"), QStringLiteral("avisos"), QStringLiteral("--password"),
                 QString::fromLatin1(secret)});
        auto &[db, dir, smtp, log] = rig;
        dir.write(QStringLiteral("clave"), row.fileText);
        QFile::setPermissions(dir.file(QStringLiteral("clave")), row.mode);
        alarms::MailSettings mail = rig.mail();
        mail.user = "avisos";
        mail.passwordFile = dir.file(QStringLiteral("clave")).toStdString();
        mail.startTls = row.startTls;
        db.raise(1, "2026-12-09 10:00:00+00", "ana", "correo", "ana@ejemplo.es");
        EXPECT_EQ(rig.outbox(mail)->drain(row.sent ? 20000 : 1500), row.sent) << log.text();
        EXPECT_EQ(smtp.received().size(), row.sent ? 1 : 0);
        const std::string stored = db.rows("SELECT coalesce(ultimo_error, '') FROM climalog.envio");
        const std::string told = log.text();
        for (const QByteArray &form :
             {secret, secret.toBase64(), (bytes("\0avisos\0"sv) + secret).toBase64()}) {
            EXPECT_EQ(stored.find(form.toStdString()), std::string::npos) << stored;
            EXPECT_EQ(told.find(form.toStdString()), std::string::npos) << told;
        }
        if (row.says) {
            EXPECT_NE(stored.find(row.says), std::string::npos) << stored;
            EXPECT_NE(told.find(row.says), std::string::npos) << told;
        }
    }
}

} // namespace
