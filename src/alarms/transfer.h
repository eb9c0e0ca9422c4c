// One libcurl transfer of the outbox (a mail or a webhook's POST): the
// library set up once for every thread, no signals, a connection timeout,
// and the failure told in one line.
#pragma once

#include <QString>

#include <string>

typedef void CURL;

namespace alarms {

class Transfer {
public:
    explicit Transfer(const std::string &url);
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
    std::string url_;
    char error_[256 + 1] = {};
};

} // namespace alarms
