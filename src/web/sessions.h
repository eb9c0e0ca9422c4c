// Who has entered: a random token per login, sent back in a cookie the
// page's scripts cannot read, valid for a while; and the brake on guessing,
// a wait that grows with each wrong password in a row.
#pragma once

#include <chrono>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

class Sessions {
public:
    using Clock = std::chrono::steady_clock;
    explicit Sessions(std::chrono::seconds life) : life_(life) {}

    std::chrono::seconds life() const { return life_; }
    // A new session for `user`: its token, 64 hexadecimal digits.
    std::string open(const std::string &user);
    // The user of a token still valid.
    std::optional<std::string> user(const std::string &token);
    void close(const std::string &token);

private:
    struct Entry {
        std::string user;
        Clock::time_point expires;
    };
    const std::chrono::seconds life_;
    std::mutex mutex_;
    std::unordered_map<std::string, Entry> open_;
};

// Wrong passwords in a row, per user name and per address: after the first
// few, each try must wait: 5 s, then twice as long each time, up to a minute.
class Throttle {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr int free = 3;

    // Seconds to wait before `name` may try again from `address`; 0: now.
    int wait(const std::string &name, const std::string &address, Clock::time_point now = Clock::now());
    void failed(const std::string &name, const std::string &address, Clock::time_point now = Clock::now());
    void succeeded(const std::string &name, const std::string &address);

private:
    struct Count {
        int failures = 0;
        Clock::time_point next;
    };
    int waitFor(const std::string &key, Clock::time_point now);
    void fail(const std::string &key, Clock::time_point now);
    std::mutex mutex_;
    std::unordered_map<std::string, Count> counts_;
};
