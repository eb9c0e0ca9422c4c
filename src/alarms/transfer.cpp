#include "alarms/transfer.h"

#include <curl/curl.h>

namespace alarms {

namespace {

// Once per process, before any thread makes a handle.
void initialise()
{
    static const CURLcode done = curl_global_init(CURL_GLOBAL_DEFAULT);
    (void)done;
}

int progress(void *stop, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    return stop && *static_cast<const std::atomic<bool> *>(stop) ? 1 : 0;
}

} // namespace

Transfer::Transfer(const std::string &url, const std::atomic<bool> *stop) : stop_(stop), url_(url)
{
    initialise();
    c_ = curl_easy_init();
    if (!c_)
        return;
    curl_easy_setopt(c_, CURLOPT_URL, url_.c_str());
    curl_easy_setopt(c_, CURLOPT_ERRORBUFFER, error_);
    // Signals are the program's own: a timeout in a thread must not raise one.
    curl_easy_setopt(c_, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c_, CURLOPT_CONNECTTIMEOUT, 10L);
    if (stop_) {
        curl_easy_setopt(c_, CURLOPT_XFERINFOFUNCTION, progress);
        curl_easy_setopt(c_, CURLOPT_XFERINFODATA, const_cast<std::atomic<bool> *>(stop_));
        curl_easy_setopt(c_, CURLOPT_NOPROGRESS, 0L);
    }
}

Transfer::~Transfer()
{
    if (c_)
        curl_easy_cleanup(c_);
}

QString Transfer::perform()
{
    error_[0] = '\0';
    const CURLcode code = curl_easy_perform(c_);
    if (code == CURLE_OK)
        return {};
    const QString detail = QString::fromUtf8(error_).trimmed();
    return detail.isEmpty() ? QString::fromUtf8(curl_easy_strerror(code)) : detail;
}

} // namespace alarms
