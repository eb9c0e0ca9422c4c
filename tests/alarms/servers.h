// The alarm tests' real servers (smtp_server.py and webhook_server.py of
// this folder, each on a free port, keeping what it takes as files) and the
// reading of the mails they kept.
#pragma once

#include <QByteArrayList>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QString>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>

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
