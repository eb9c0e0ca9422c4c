#include "alarms/mail.h"

#include "alarms/transfer.h"

#include <QFile>

#include <cerrno>
#include <cstring>

#include <curl/curl.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace alarms {

namespace {

struct Reading {
    const QByteArray &data;
    qsizetype at = 0;
};

size_t readMail(char *buffer, size_t size, size_t count, void *userdata)
{
    auto *r = static_cast<Reading *>(userdata);
    const qsizetype n = std::min<qsizetype>(qsizetype(size * count), r->data.size() - r->at);
    std::memcpy(buffer, r->data.constData() + r->at, size_t(n));
    r->at += n;
    return size_t(n);
}

QString fileName(const std::string &file) { return QString::fromStdString(file); }

// The bare address of "Name <a@b>" or "a@b", as the envelope wants it.
QByteArray envelope(const QString &address)
{
    const qsizetype open = address.lastIndexOf(u'<'), close = address.lastIndexOf(u'>');
    const QString bare =
        open >= 0 && close > open ? address.mid(open + 1, close - open - 1) : address;
    return bare.trimmed().toUtf8();
}

} // namespace

QByteArray readPassword(const std::string &file, QString &error)
{
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        error = QStringLiteral("No se puede leer el fichero de la clave del correo %1: %2")
                    .arg(fileName(file), QString::fromLocal8Bit(std::strerror(errno)));
        return {};
    }
    // Judged on the file opened, not on its name: it cannot be swapped
    // between the look and the read.
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || (st.st_mode & (S_IRWXG | S_IRWXO))) {
        ::close(fd);
        error = QStringLiteral("El fichero de la clave del correo %1 lo pueden leer otros que su "
                               "propietario, o no es un fichero: déjelo solo para su propietario, "
                               "como una clave de ssh (chmod 600 %1)")
                    .arg(fileName(file));
        return {};
    }
    QFile f;
    if (!f.open(fd, QIODevice::ReadOnly, QFile::AutoCloseHandle)) {
        ::close(fd);
        error = QStringLiteral("No se puede leer el fichero de la clave del correo %1")
                    .arg(fileName(file));
        return {};
    }
    QByteArray password = f.read(4096);
    password = password.left(password.indexOf('\n'));
    if (password.endsWith('\r'))
        password.chop(1);
    if (password.isEmpty())
        error =
            QStringLiteral("El fichero de la clave del correo %1 está vacío").arg(fileName(file));
    return password;
}

QString hidden(QString text, const QByteArray &user, const QByteArray &password)
{
    if (password.isEmpty())
        return text;
    // A server's reply that quotes the login back shows it as sent: plain,
    // or in base64 alone or with the user; the longest first, since the
    // shorter login's base64 ends the longer one's.
    const QByteArray forms[] = {
        QByteArray(user + '\0' + user + '\0' + password).toBase64(),
        QByteArray('\0' + user + '\0' + password).toBase64(),
        password.toBase64(),
        password,
    };
    for (const QByteArray &form : forms)
        text.replace(QString::fromLatin1(form), QStringLiteral("***"));
    return text.replace(QString::fromUtf8(password), QStringLiteral("***"));
}

QString sendMail(const MailSettings &mail, const QString &to, const QByteArray &text,
                 const std::atomic<bool> *stop)
{
    const QString server = QString::fromStdString(mail.url);
    if (server.isEmpty())
        return QStringLiteral("No hay servidor de correo en las reglas: el correo no puede salir");
    const bool smtps = server.startsWith(u"smtps://");
    if (!smtps && !server.startsWith(u"smtp://"))
        return QStringLiteral("El servidor de correo %1 no empieza por smtp:// ni smtps://")
            .arg(server);
    QByteArray password;
    if (!mail.user.empty()) {
        QString error;
        password = readPassword(mail.passwordFile, error);
        if (password.isEmpty())
            return error;
    }
    Transfer t(server.toStdString(), stop);
    if (!t)
        return QStringLiteral("No se puede preparar el envío de correo (sin memoria)");
    const QByteArray user = QByteArray::fromStdString(mail.user);
    const QByteArray from = envelope(QString::fromStdString(mail.from));
    const QByteArray rcpt = envelope(to);
    Reading reading{text};
    curl_slist *recipients = curl_slist_append(nullptr, rcpt.constData());
    CURL *c = t.handle();
    if (!smtps && mail.startTls)
        curl_easy_setopt(c, CURLOPT_USE_SSL, long(CURLUSESSL_ALL));
    if (!user.isEmpty()) {
        curl_easy_setopt(c, CURLOPT_USERNAME, user.constData());
        curl_easy_setopt(c, CURLOPT_PASSWORD, password.constData());
    }
    curl_easy_setopt(c, CURLOPT_MAIL_FROM, from.constData());
    curl_easy_setopt(c, CURLOPT_MAIL_RCPT, recipients);
    curl_easy_setopt(c, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(c, CURLOPT_READFUNCTION, readMail);
    curl_easy_setopt(c, CURLOPT_READDATA, &reading);
    curl_easy_setopt(c, CURLOPT_TIMEOUT, 30L);
    const QString failure = t.perform();
    curl_slist_free_all(recipients);
    const QString error = failure.isEmpty()
        ? QString()
        : hidden(QStringLiteral("El servidor de correo %1 no tomó el mensaje para %2: %3")
                     .arg(server, to, failure),
                 user, password);
    // The password is not left in memory once done with.
    password.fill('\0');
    return error;
}

} // namespace alarms
