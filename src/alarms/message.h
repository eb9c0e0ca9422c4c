// The texts a recipient reads of its alarms' events: one message, in
// Spanish, for every event gathered for it, as a mail or as a webhook's JSON.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <optional>
#include <vector>

namespace alarms {

// One event of an alarm, as a row of the outbox (salida) and its alarm.
struct Event {
    QString kind; // salida.suceso: alta fin reconocido recordatorio escalado
    QString condition; // aviso.condicion: alto bajo activa err parada
    QString station, zone, port;
    QString column, unit; // empty for a port's own alarm (parada)
    int series = 0; // 0 for a port's own alarm
    std::optional<double> extreme, limit;
    QDateTime instant; // the event's own time
    QString acknowledgedBy, comment;
};

// What is stored of a message before it is sent, and sent as stored.
struct Message {
    QString subject;
    QString body; // the mail's text, or the webhook's JSON
};

// A mail's attachment: a report's PDF.
struct Attachment {
    QByteArray bytes;
    QByteArray name; // a plain file name
    QByteArray type; // its media type
};

// The mail's subject and text for a recipient's events (in their order);
// `page` is the page's address, for each event's link.
Message mailMessage(const std::vector<Event> &events, const QString &page);
// The same events as the webhook's JSON: {"asunto": …, "avisos": […]}.
Message webhookMessage(const std::vector<Event> &events, const QString &page);

// The stored message's Message-ID: <envio-ID.HUELLA@host>, the print taken
// of what is stored (with its attachment, if any), so that sending it again
// gives the same one.
QByteArray messageId(long long id, const Message &m, const QString &from,
                     const Attachment *attachment = nullptr);

// The whole mail as handed to the server: headers (Date is when it was
// stored) and the text in base64, lines ending in CRLF; with an attachment,
// multipart/mixed: the text, then the attachment in base64.
QByteArray mailText(const QByteArray &id, const QDateTime &stored, const QString &from,
                    const QString &to, const Message &m, const Attachment *attachment = nullptr);

// A header's text: as is when it is short printable ASCII, otherwise as
// encoded words (UTF-8, base64) of at most 75 characters each.
QByteArray headerText(const QString &text);

} // namespace alarms
