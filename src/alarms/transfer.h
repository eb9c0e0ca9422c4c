// One libcurl transfer of the outbox (a mail or a webhook's POST): the
// library set up once for every thread, no signals, a connection timeout,
// and the failure told in one line.
#pragma once

#include <QString>

#include <atomic>

#include <string>

typedef void CURL;

namespace alarms {

class Transfer {
public:
    // `stop`, when given and set, ends the transfer at once: the program is
    // ending.
    explicit Transfer(const std::string &url, const std::atomic<bool> *stop = nullptr);
    ~Transfer();
    Transfer(const Transfer &) = delete;
    Transfer &operator=(const Transfer &) = delete;

    explicit operator bool() const { return c_ != nullptr; }
    CURL *handle() const { return c_; }
    // Runs it: empty when it went, otherwise the library's account of why
    // not (its error buffer holds the server's reply, which the caller
    // must clean of secrets).
    QString perform();

private:
    CURL *c_ = nullptr;
    const std::atomic<bool> *stop_;
    std::string url_;
    char error_[256 + 1] = {};
};

} // namespace alarms
