#include "web/sessions.h"

#include <sodium.h>

#include <algorithm>
#include <cmath>

std::string Sessions::open(const std::string &user)
{
    unsigned char bytes[32];
    randombytes_buf(bytes, sizeof bytes);
    char hex[2 * sizeof bytes + 1];
    sodium_bin2hex(hex, sizeof hex, bytes, sizeof bytes);
    const Clock::time_point now = Clock::now();
    std::lock_guard lock(mutex_);
    // Expired sessions go whenever a new one comes, so the table stays as
    // small as the number of people using the page.
    std::erase_if(open_, [now](const auto &e) { return e.second.expires <= now; });
    open_[hex] = Entry{user, now + life_};
    return hex;
}

std::optional<std::string> Sessions::user(const std::string &token)
{
    std::lock_guard lock(mutex_);
    const auto it = open_.find(token);
    if (it == open_.end())
        return std::nullopt;
    if (it->second.expires <= Clock::now()) {
        open_.erase(it);
        return std::nullopt;
    }
    return it->second.user;
}

void Sessions::close(const std::string &token)
{
    std::lock_guard lock(mutex_);
    open_.erase(token);
}

int Throttle::waitFor(const std::string &key, Clock::time_point now)
{
    const auto it = counts_.find(key);
    if (it == counts_.end() || it->second.next <= now)
        return 0;
    return static_cast<int>(std::ceil(std::chrono::duration<double>(it->second.next - now).count()));
}

void Throttle::fail(const std::string &key, Clock::time_point now)
{
    Count &c = counts_[key];
    ++c.failures;
    if (c.failures >= free) {
        const int seconds = std::min(60, 5 << std::min(c.failures - free, 4));
        c.next = now + std::chrono::seconds(seconds);
    }
}

int Throttle::wait(const std::string &name, const std::string &address, Clock::time_point now)
{
    std::lock_guard lock(mutex_);
    return std::max(waitFor("u:" + name, now), waitFor("a:" + address, now));
}

void Throttle::failed(const std::string &name, const std::string &address, Clock::time_point now)
{
    std::lock_guard lock(mutex_);
    // A flood of names from one address must not grow the table without end.
    if (counts_.size() > 100000)
        counts_.clear();
    fail("u:" + name, now);
    fail("a:" + address, now);
}

void Throttle::succeeded(const std::string &name, const std::string &address)
{
    std::lock_guard lock(mutex_);
    counts_.erase("u:" + name);
    counts_.erase("a:" + address);
}
