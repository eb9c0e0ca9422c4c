// The alarm tests' real servers (smtp_server.py and webhook_server.py of
// this folder, each on a free port, keeping what it takes as files) and the
// reading of the mails they kept; a query's rows as text, a wait; the
// archive made anew and the real programs run on it.
#pragma once

#include "central/query.h"
#include "support/support.h"

#include <QByteArrayList>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QThread>

#include <gtest/gtest.h>

#include <libpq-fe.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <functional>
#include <memory>
#include <string>

inline int freePort()
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

// One of the test's servers, a script of this folder, on a port of its own.
struct Server {
    Server(const char *script, QString folder, QStringList extra = {})
        : script(script), folder(std::move(folder)), extra(std::move(extra)), port(freePort())
    {
        QDir().mkpath(this->folder);
        start();
    }
    ~Server() { stop(); }
    void start()
    {
        p = std::make_unique<QProcess>();
        p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p->start(QStringLiteral("/usr/bin/python3"),
                 QStringList{QStringLiteral(ALARMS_TEST_DIR "/") + QLatin1String(script),
                             QStringLiteral("--port"), QString::number(port),
                             QStringLiteral("--folder"), folder} +
                     extra);
        ASSERT_TRUE(p->waitForReadyRead(20000)) << script << " did not start";
        ASSERT_EQ(p->readLine().trimmed(), "listo");
    }
    void stop()
    {
        if (!p)
            return;
        p->terminate();
        if (!p->waitForFinished(10000))
            p->kill();
        p->waitForFinished(5000);
        p.reset();
    }
    // The files it kept, in the order it took them.
    QByteArrayList received() const
    {
        QByteArrayList out;
        const QDir d(folder);
        for (const QString &name : d.entryList({QStringLiteral("*.eml"), QStringLiteral("*.json")},
                                               QDir::Files, QDir::Name)) {
            QFile f(d.filePath(name));
            out << (f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray());
        }
        return out;
    }
    const char *script;
    QString folder;
    QStringList extra;
    int port;
    std::unique_ptr<QProcess> p;
};

// A header of a received mail, unfolded, and its encoded words decoded.
inline QByteArray header(const QByteArray &mail, const QByteArray &name)
{
    QByteArray value;
    bool in = false;
    for (const QByteArray &line : mail.left(mail.indexOf("\r\n\r\n")).split('\n')) {
        if (in && line.startsWith(' '))
            value += '\n' + line.trimmed();
        else if ((in = line.startsWith(name + ": ")))
            value = line.mid(name.size() + 2).trimmed();
    }
    return value;
}
inline QString decoded(QByteArray header)
{
    // Words folded onto lines of their own join with nothing between them.
    header.replace("?=\n=?", "?==?");
    static const QRegularExpression word(QStringLiteral("=\\?UTF-8\\?B\\?([^?]*)\\?="));
    QByteArray text;
    qsizetype at = 0;
    const QString h = QString::fromLatin1(header);
    for (auto it = word.globalMatch(h); it.hasNext();) {
        const auto m = it.next();
        text += header.mid(at, m.capturedStart() - at) +
            QByteArray::fromBase64(m.captured(1).toLatin1());
        at = m.capturedEnd();
    }
    return QString::fromUtf8(text + header.mid(at));
}
inline QString bodyOf(const QByteArray &mail)
{
    return QString::fromUtf8(QByteArray::fromBase64(mail.mid(mail.indexOf("\r\n\r\n") + 4)));
}

// A query's rows as text: fields joined by |, a line each; "!" and the
// SQLSTATE first when it failed.
inline std::string rowsOn(PGconn *c, const std::string &sql)
{
    const central::Result r = central::exec(c, sql.c_str());
    std::string text = r.state().isEmpty() ? std::string() : "!" + r.state().toStdString();
    for (int i = 0; i < r.rows(); ++i)
        for (int f = 0; f < PQnfields(r.get()); ++f)
            text += (r.isNull(i, f) ? std::string("NULL") : r.field(i, f).toStdString()) +
                (f + 1 < PQnfields(r.get()) ? "|" : "\n");
    return text;
}

// Waits up to `ms` for `done`.
inline bool waitFor(const std::function<bool()> &done, int ms = 30000)
{
    for (auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
         std::chrono::steady_clock::now() < end; QThread::msleep(50))
        if (done())
            return true;
    return done();
}

// climalog-archivo --una-vez of a station's port folder.
inline void archiveOnce(const QString &station, const QString &zone, const QString &folder)
{
    EXPECT_EQ(runProgram("climalog-archivo",
                         {QStringLiteral("--una-vez"), QStringLiteral("--estacion"), station,
                          QStringLiteral("--zona"), zone, folder})
                  .first,
              0);
}

// The schema made anew by the archive program and `role`, a login of the
// alarm program's: the owner's connection.
inline PGconn *freshArchive(const char *role)
{
    PGconn *c = PQconnectdb("");
    EXPECT_EQ(PQstatus(c), CONNECTION_OK)
        << "The tests' server (scripts/testdb.sh) does not answer: " << PQerrorMessage(c);
    PQsetNoticeProcessor(
        c, [](void *, const char *) {}, nullptr);
    rowsOn(c, "DROP SCHEMA IF EXISTS climalog CASCADE");
    EXPECT_EQ(runProgram("climalog-archivo", {QStringLiteral("--preparar")}).first, 0);
    rowsOn(c,
           std::string("DROP ROLE IF EXISTS ") + role + "; CREATE ROLE " + role +
               " LOGIN IN ROLE climalog_avisos");
    return c;
}

// The real climalog-avisos as `role`, killed at the end of its scope.
struct Avisos {
    Avisos(const char *role, const QStringList &args)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("PGUSER"), QString::fromLatin1(role));
        p.setProcessEnvironment(env);
        p.start(binFolder() + QStringLiteral("/climalog-avisos"), args);
        p.waitForStarted();
    }
    ~Avisos()
    {
        p.kill();
        p.waitForFinished();
    }
    void signal(int number) { ::kill(static_cast<pid_t>(p.processId()), number); }
    // SIGTERM ends it cleanly, whether working or waiting.
    void endsWhenAsked()
    {
        signal(SIGTERM);
        EXPECT_TRUE(p.waitForFinished(10000));
        EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(p.exitCode(), 0);
        EXPECT_TRUE(said("Terminado.")) << out.toStdString();
    }
    bool said(const char *text)
    {
        p.waitForReadyRead(20);
        out += QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError());
        return out.contains(QString::fromUtf8(text));
    }
    QProcess p;
    QString out;
};
