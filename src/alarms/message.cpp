#include "alarms/message.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QTimeZone>

#include <algorithm>
#include <array>

namespace alarms {

namespace {

// What happened, as its first line says it.
QString title(const Event &e, bool withComment)
{
    if (e.kind == u"alta")
        return QStringLiteral("Aviso");
    if (e.kind == u"fin")
        return QStringLiteral("Fin del aviso");
    if (e.kind == u"recordatorio")
        return QStringLiteral("Recordatorio");
    if (e.kind == u"escalado")
        return QStringLiteral("Escalado");
    QString t = QStringLiteral("Aviso reconocido por %1").arg(e.acknowledgedBy);
    if (withComment && !e.comment.isEmpty())
        t += QStringLiteral(": ") + e.comment;
    return t;
}

QString place(const Event &e)
{
    QString p = QStringLiteral("%1, puerto %2").arg(e.station, e.port);
    if (!e.column.isEmpty())
        p += QStringLiteral(", ") + e.column;
    return p;
}

QString conditionText(const QString &condition)
{
    if (condition == u"alto")
        return QStringLiteral("sobre el máximo");
    if (condition == u"bajo")
        return QStringLiteral("bajo el mínimo");
    if (condition == u"activa")
        return QStringLiteral("entrada activa");
    if (condition == u"err")
        return QStringLiteral("lecturas ERR");
    if (condition == u"parada")
        return QStringLiteral("sin lecturas");
    return condition;
}

// A value as the page writes it: shortest exact form, decimal comma.
QString number(double v)
{
    return QString::number(v, 'g', QLocale::FloatingPointShortest).replace(u'.', u',');
}

QString withUnit(double v, const QString &unit)
{
    return unit.isEmpty() ? number(v) : number(v) + u' ' + unit;
}

// The value and the limit, for a condition that has them.
QString figures(const Event &e)
{
    if (!e.extreme)
        return {};
    QString f = withUnit(*e.extreme, e.unit);
    if (e.limit)
        f += QStringLiteral(" (límite %1)").arg(withUnit(*e.limit, e.unit));
    return f;
}

QTimeZone zoneOf(const Event &e)
{
    const QTimeZone z(e.zone.toUtf8());
    return z.isValid() ? z : QTimeZone::utc();
}

QString localTime(const Event &e)
{
    return e.instant.toTimeZone(zoneOf(e)).toString(QStringLiteral("dd/MM/yyyy HH:mm:ss"));
}

QString link(const Event &e, const QString &page)
{
    if (page.isEmpty() || e.series == 0)
        return page;
    return page + QStringLiteral("#serie=") + QString::number(e.series);
}

QString subject(const std::vector<Event> &events)
{
    if (events.size() == 1) {
        const Event &e = events.front();
        return title(e, false) + QStringLiteral(": ") + place(e) + u' ' +
            conditionText(e.condition);
    }
    QStringList stations;
    for (const Event &e : events)
        if (!stations.contains(e.station))
            stations << e.station;
    QString where = stations.mid(0, 3).join(QStringLiteral(", "));
    if (stations.size() > 3)
        where += QStringLiteral(" y %1 más").arg(stations.size() - 3);
    return QStringLiteral("%1 sucesos de avisos en %2").arg(events.size()).arg(where);
}

QString block(const Event &e, const QString &page)
{
    QString what = place(e) + QStringLiteral(": ") + conditionText(e.condition);
    if (const QString f = figures(e); !f.isEmpty())
        what += QStringLiteral(", ") + f;
    QString text = title(e, true) + u'\n' + what + u'\n' + localTime(e) + QStringLiteral(" (") +
        zoneOf(e).id() + QStringLiteral(")\n");
    if (const QString l = link(e, page); !l.isEmpty())
        text += l + u'\n';
    return text;
}

QJsonValue optionalText(const QString &s) { return s.isEmpty() ? QJsonValue() : QJsonValue(s); }
QJsonValue optionalNumber(const std::optional<double> &v)
{
    return v ? QJsonValue(*v) : QJsonValue();
}

QJsonObject eventObject(const Event &e, const QString &page)
{
    return QJsonObject{
        {QStringLiteral("suceso"), e.kind},
        {QStringLiteral("texto"), title(e, true)},
        {QStringLiteral("estacion"), e.station},
        {QStringLiteral("puerto"), e.port},
        {QStringLiteral("columna"), optionalText(e.column)},
        {QStringLiteral("unidad"), optionalText(e.unit)},
        {QStringLiteral("condicion"), e.condition},
        {QStringLiteral("valor"), optionalNumber(e.extreme)},
        {QStringLiteral("limite"), optionalNumber(e.limit)},
        {QStringLiteral("instante"),
         e.instant.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzzZ"))},
        {QStringLiteral("hora_local"), localTime(e)},
        {QStringLiteral("zona"), QString::fromUtf8(zoneOf(e).id())},
        {QStringLiteral("reconocido_por"), optionalText(e.acknowledgedBy)},
        {QStringLiteral("comentario"), optionalText(e.comment)},
        {QStringLiteral("enlace"), optionalText(link(e, page))},
    };
}

// A header's address: one line, whatever the rules file held.
QByteArray oneLine(const QString &s)
{
    QByteArray b = s.toUtf8();
    b.replace('\r', ' ').replace('\n', ' ');
    return b;
}

// An address header's text: a name before <address> in encoded words when
// it needs them.
QByteArray addressText(const QString &address)
{
    const qsizetype open = address.lastIndexOf(u'<');
    if (open <= 0)
        return oneLine(address);
    return headerText(address.left(open).trimmed()) + ' ' + oneLine(address.mid(open));
}

// Date: as RFC 5322 writes it, in English whatever the locale.
QByteArray dateHeader(const QDateTime &when)
{
    static constexpr std::array<const char *, 7> days{"Mon", "Tue", "Wed", "Thu",
                                                      "Fri", "Sat", "Sun"};
    static constexpr std::array<const char *, 12> months{"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const QDateTime u = when.toUTC();
    const QDate d = u.date();
    return QByteArray(days[size_t(d.dayOfWeek() - 1)]) + ", " +
        QByteArray::number(d.day()).rightJustified(2, '0') + ' ' + months[size_t(d.month() - 1)] +
        ' ' + QByteArray::number(d.year()) + ' ' + u.time().toString(u"HH:mm:ss").toLatin1() +
        " +0000";
}

// Bytes in base64, lines of 76 ending in CRLF.
QByteArray base64Lines(const QByteArray &bytes)
{
    const QByteArray encoded = bytes.toBase64();
    QByteArray lines;
    lines.reserve(encoded.size() + encoded.size() / 38 + 2);
    for (qsizetype at = 0; at < encoded.size(); at += 76)
        lines += encoded.mid(at, 76) + "\r\n";
    return lines;
}

} // namespace

Message mailMessage(const std::vector<Event> &events, const QString &page)
{
    QStringList blocks;
    for (const Event &e : events)
        blocks << block(e, page);
    return {subject(events), blocks.join(u'\n')};
}

Message webhookMessage(const std::vector<Event> &events, const QString &page)
{
    QJsonArray list;
    for (const Event &e : events)
        list.append(eventObject(e, page));
    const QString s = subject(events);
    const QJsonObject o{{QStringLiteral("asunto"), s}, {QStringLiteral("avisos"), list}};
    return {s, QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact))};
}

QByteArray messageId(long long id, const Message &m, const QString &from,
                     const Attachment *attachment)
{
    QCryptographicHash h(QCryptographicHash::Sha256);
    h.addData(QByteArray::number(id));
    h.addData(QByteArray(1, '\0'));
    h.addData(m.subject.toUtf8());
    h.addData(QByteArray(1, '\0'));
    h.addData(m.body.toUtf8());
    if (attachment) {
        h.addData(QByteArray(1, '\0'));
        h.addData(attachment->name);
        h.addData(QByteArray(1, '\0'));
        h.addData(attachment->bytes);
    }
    QByteArray host = oneLine(from.section(u'@', -1)).trimmed();
    host.replace('>', "").replace('<', "").replace(' ', "");
    if (!from.contains(u'@') || host.isEmpty())
        host = "climalog";
    return "<envio-" + QByteArray::number(id) + '.' + h.result().toHex().left(16) + '@' + host +
        '>';
}

QByteArray headerText(const QString &text)
{
    const QByteArray utf8 = text.toUtf8();
    const bool plain = utf8.size() <= 900 &&
        std::all_of(utf8.begin(), utf8.end(), [](char c) { return c >= 0x20 && c < 0x7f; });
    if (plain && !utf8.contains("=?"))
        return utf8;
    // 45 bytes make 60 of base64: with its 12 of framing, a word of 72.
    QByteArrayList words;
    for (qsizetype at = 0; at < utf8.size();) {
        qsizetype end = std::min(at + 45, utf8.size());
        // Never a character cut between two words.
        while (end < utf8.size() && (uchar(utf8[end]) & 0xC0) == 0x80)
            --end;
        words << "=?UTF-8?B?" + utf8.mid(at, end - at).toBase64() + "?=";
        at = end;
    }
    return words.join("\r\n ");
}

QByteArray mailText(const QByteArray &id, const QDateTime &stored, const QString &from,
                    const QString &to, const Message &m, const Attachment *attachment)
{
    QByteArray text = "Date: " + dateHeader(stored) + "\r\nFrom: " + addressText(from) +
        "\r\nTo: " + addressText(to) + "\r\nSubject: " + headerText(m.subject) +
        "\r\nMessage-ID: " + id + "\r\nMIME-Version: 1.0\r\n";
    const QByteArray plain =
        "Content-Type: text/plain; charset=UTF-8\r\nContent-Transfer-Encoding: base64\r\n\r\n";
    QByteArray body = m.body.toUtf8();
    body.replace("\r\n", "\n").replace("\n", "\r\n");
    if (!attachment)
        return text + plain + base64Lines(body);
    // Drawn from the Message-ID, so the same mail again is the same bytes;
    // "=_" never occurs in base64.
    const QByteArray boundary =
        "=_climalog_" + QCryptographicHash::hash(id, QCryptographicHash::Sha256).toHex().left(24);
    const QByteArray name = oneLine(QString::fromLatin1(attachment->name));
    return text + "Content-Type: multipart/mixed; boundary=\"" + boundary + "\"\r\n\r\n--" +
        boundary + "\r\n" + plain + base64Lines(body) + "--" + boundary +
        "\r\nContent-Type: " + oneLine(QString::fromLatin1(attachment->type)) + "; name=\"" + name +
        "\"\r\nContent-Disposition: attachment; filename=\"" + name +
        "\"\r\nContent-Transfer-Encoding: base64\r\n\r\n" + base64Lines(attachment->bytes) + "--" +
        boundary + "--\r\n";
}

} // namespace alarms
