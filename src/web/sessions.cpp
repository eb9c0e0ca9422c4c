#include "web/sessions.h"

#include <sodium.h>

#include <algorithm>
#include <cmath>

#include <arpa/inet.h>

std::string randomToken()
{
    unsigned char bytes[32];
    randombytes_buf(bytes, sizeof bytes);
    char hex[2 * sizeof bytes + 1];
    sodium_bin2hex(hex, sizeof hex, bytes, sizeof bytes);
    return hex;
}

std::string Sessions::open(const std::string &user, Clock::time_point now)
{
    const std::string token = randomToken();
    std::lock_guard lock(mutex_);
    // Expired sessions go whenever a new one comes, so the table stays as
    // small as the number of people using the page.
    std::erase_if(open_, [now](const auto &e) { return e.second.expires <= now; });
    open_[token] = Entry{user, randomToken(), now + life_};
    return token;
}

std::string Sessions::writeToken(const std::string &token, Clock::time_point now)
{
    std::lock_guard lock(mutex_);
    const auto it = open_.find(token);
    return it == open_.end() || it->second.expires <= now ? std::string() : it->second.write;
}

std::optional<std::string> Sessions::user(const std::string &token, Clock::time_point now)
{
    std::lock_guard lock(mutex_);
    const auto it = open_.find(token);
    if (it == open_.end())
        return std::nullopt;
    if (it->second.expires <= now) {
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

int Sessions::closeUser(const std::string &user)
{
    std::lock_guard lock(mutex_);
    return static_cast<int>(
        std::erase_if(open_, [&](const auto &e) { return e.second.user == user; }));
}

namespace {

constexpr auto memory = std::chrono::minutes(15);
// A flood of names must not grow the table without end.
constexpr std::size_t mostCounts = 100000;

} // namespace

std::string Throttle::holder(const std::string &address)
{
    unsigned char bytes[16];
    if (address.find(':') == std::string::npos || inet_pton(AF_INET6, address.c_str(), bytes) != 1)
        return address;
    static const unsigned char mapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
    if (std::equal(mapped, mapped + 12, bytes)) {
        char text[INET_ADDRSTRLEN];
        return inet_ntop(AF_INET, bytes + 12, text, sizeof text);
    }
    std::fill(bytes + 8, bytes + 16, 0);
    char text[INET6_ADDRSTRLEN];
    return std::string(inet_ntop(AF_INET6, bytes, text, sizeof text)) + "/64";
}

int Throttle::waitFor(const Count &c, Clock::time_point now)
{
    if (c.next <= now)
        return 0;
    return static_cast<int>(std::ceil(std::chrono::duration<double>(c.next - now).count()));
}

void Throttle::charge(Count &c, int free, Clock::time_point now)
{
    if (c.failures > 0 && now - c.last > memory && c.next <= now)
        c.failures = 0;
    ++c.failures;
    c.last = now;
    if (c.failures >= free)
        c.next = now + std::chrono::seconds(std::min(60, 5 << std::min(c.failures - free, 4)));
}

void Throttle::forget(Clock::time_point now)
{
    if (counts_.size() < mostCounts)
        return;
    std::erase_if(counts_, [now](const auto &e) {
        return e.second.next <= now && now - e.second.last > memory;
    });
    if (counts_.size() >= mostCounts)
        std::erase_if(counts_, [now](const auto &e) { return e.second.next <= now; });
}

int Throttle::begin(const std::string &name, const std::string &address, Clock::time_point now)
{
    const std::string from = holder(address);
    std::lock_guard lock(mutex_);
    forget(now);
    Count &pair = counts_["u:" + name + '\n' + from];
    Count &all = counts_["a:" + from];
    const int wait = std::max(waitFor(pair, now), waitFor(all, now));
    if (wait > 0)
        return wait;
    charge(pair, freePerName, now);
    charge(all, freePerAddress, now);
    return 0;
}

void Throttle::succeeded(const std::string &name, const std::string &address)
{
    const std::string from = holder(address);
    std::lock_guard lock(mutex_);
    counts_.erase("u:" + name + '\n' + from);
    const auto it = counts_.find("a:" + from);
    if (it == counts_.end())
        return;
    Count &all = it->second;
    if (--all.failures < freePerAddress)
        all.next = {};
    if (all.failures <= 0)
        counts_.erase(it);
}
