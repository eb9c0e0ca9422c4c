// Who has entered: a random token per login, sent back in a cookie the
// page's scripts cannot read, valid for a while, with a second one the page
// reads and sends with each of its writes; and the brake on guessing, a
// wait that grows with each wrong password from one address.
#pragma once

#include <chrono>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

// 64 hexadecimal digits from the system's random source.
std::string randomToken();

class Sessions {
public:
    using Clock = std::chrono::steady_clock;
    explicit Sessions(std::chrono::seconds life) : life_(life) {}

    std::chrono::seconds life() const { return life_; }
    // A new session for `user`: its token, 64 hexadecimal digits.
    std::string open(const std::string &user, Clock::time_point now = Clock::now());
    // The user of a token still valid.
    std::optional<std::string> user(const std::string &token, Clock::time_point now = Clock::now());
    // The session's write token, given to its page only: another site can
    // make the browser send the cookie, never read this. Empty when the
    // session is not valid.
    std::string writeToken(const std::string &token, Clock::time_point now = Clock::now());
    void close(const std::string &token);
    // Ends every session of `user`: removed, or given another password.
    // How many there were.
    int closeUser(const std::string &user);

private:
    struct Entry {
        std::string user, write;
        Clock::time_point expires;
    };
    const std::chrono::seconds life_;
    std::mutex mutex_;
    std::unordered_map<std::string, Entry> open_;
};

// Wrong passwords counted per name and address together, and per address
// over every name: an attacker's guesses slow the attacker, never the user
// who types her own password from another address. A try counts when it
// starts, so tries sent at the same time cannot pass the limit together;
// a right password gives its try back. After the free tries each further
// one must wait 5 s, then twice as long each time, up to a minute; a count
// left alone for a quarter of an hour is forgotten.
class Throttle {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr int freePerName = 3;
    static constexpr int freePerAddress = 10;

    // 0: the try may go ahead, and is counted; otherwise the seconds to
    // wait, and nothing is counted.
    int begin(const std::string &name, const std::string &address,
              Clock::time_point now = Clock::now());
    // The password of a try that began was right.
    void succeeded(const std::string &name, const std::string &address);

    // The part of an address that one attacker holds: an IPv4 address, or
    // an IPv6 address's first 64 bits (a single machine's network).
    static std::string holder(const std::string &address);

private:
    struct Count {
        int failures = 0;
        Clock::time_point next, last;
    };
    static int waitFor(const Count &c, Clock::time_point now);
    static void charge(Count &c, int free, Clock::time_point now);
    void forget(Clock::time_point now);
    std::mutex mutex_;
    std::unordered_map<std::string, Count> counts_;
};
