#include "alarms/webhook.h"

#include "alarms/transfer.h"

#include <QUrl>

#include <curl/curl.h>

namespace alarms {

namespace {

size_t discard(char *, size_t size, size_t count, void *) { return size * count; }

} // namespace

QString postWebhook(const QString &url, const QByteArray &json, const QByteArray &id,
                    const std::atomic<bool> *stop, int timeoutSeconds)
{
    // An address may carry a password; the texts never do.
    const QString shown = QUrl(url).toDisplayString(QUrl::RemovePassword);
    if (!url.startsWith(u"http://") && !url.startsWith(u"https://"))
        return QStringLiteral("El webhook %1 no empieza por http:// ni https://").arg(shown);
    Transfer t(url.toStdString(), stop);
    if (!t)
        return QStringLiteral("No se puede preparar el envío al webhook (sin memoria)");
    const QByteArray idHeader = "X-Climalog-Mensaje: " + id;
    curl_slist *headers =
        curl_slist_append(nullptr, "Content-Type: application/json; charset=utf-8");
    headers = curl_slist_append(headers, idHeader.constData());
    CURL *c = t.handle();
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(c, CURLOPT_POSTFIELDS, json.constData());
    curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(json.size()));
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, discard);
    curl_easy_setopt(c, CURLOPT_TIMEOUT, long(timeoutSeconds));
    const QString failure = t.perform();
    long status = 0;
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
    curl_slist_free_all(headers);
    if (!failure.isEmpty())
        return QStringLiteral("El webhook %1 no se pudo alcanzar: %2")
            .arg(shown, QString(failure).replace(url, shown));
    if (status < 200 || status > 299)
        return QStringLiteral("El webhook %1 respondió %2").arg(shown).arg(status);
    return {};
}

} // namespace alarms
