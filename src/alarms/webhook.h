// Hands a stored message to a webhook: an HTTP POST of its JSON, which went
// when the receiver answers 2xx.
#pragma once

#include <QByteArray>
#include <QString>

#include <atomic>

namespace alarms {

// Posts `json` to `url`, telling the message's id in the header
// X-Climalog-Mensaje so that a receiver can know a message sent again.
// Empty when the receiver took it; otherwise why not, in Spanish. `stop`
// set ends it at once.
QString postWebhook(const QString &url, const QByteArray &json, const QByteArray &id,
                    const std::atomic<bool> *stop = nullptr, int timeoutSeconds = 20);

} // namespace alarms
