// Hands a stored message to the mail server (libcurl's SMTP): TLS always
// (STARTTLS required on smtp://, or smtps://), the password read from its
// file only when no one but its owner can read it, and never in any text
// this gives back.
#pragma once

#include "alarms/settings.h"

#include <QByteArray>
#include <QString>

#include <atomic>

namespace alarms {

// The password kept in `file`: its first line. Empty (with `error` in
// Spanish) when the file cannot be read or others than its owner could.
QByteArray readPassword(const std::string &file, QString &error);

// Sends `text` (a whole mail, CRLF lines) to `to`. Empty when the server
// took it; otherwise why not, in Spanish, the password hidden. `stop` set
// ends it at once.
QString sendMail(const MailSettings &mail, const QString &to, const QByteArray &text,
                 const std::atomic<bool> *stop = nullptr);

// `text` with the password, and the forms a login sends it in, as ***.
QString hidden(QString text, const QByteArray &user, const QByteArray &password);

} // namespace alarms
