#include "web/requests.h"

#include <algorithm>
#include <cctype>

#include <arpa/inet.h>

namespace requests {

namespace {

std::string lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

std::string trimmed(const std::string &s)
{
    const std::size_t a = s.find_first_not_of(" \t");
    if (a == std::string::npos)
        return {};
    return s.substr(a, s.find_last_not_of(" \t") - a + 1);
}

// "https://name:port/path": the scheme and "name:port"; false when the
// text is no http or https address.
bool splitUrl(const std::string &url, std::string &scheme, std::string &authority)
{
    const std::size_t sep = url.find("://");
    if (sep == std::string::npos)
        return false;
    scheme = lower(url.substr(0, sep));
    if (scheme != "http" && scheme != "https")
        return false;
    const std::size_t start = sep + 3;
    authority = lower(url.substr(start, url.find_first_of("/?#", start) - start));
    return !authority.empty() && authority.find('@') == std::string::npos;
}

// Without its port when the port is the scheme's own.
std::string withoutDefaultPort(const std::string &authority, const std::string &scheme)
{
    const std::string port = scheme == "https" ? ":443" : ":80";
    if (authority.size() > port.size() &&
        authority.compare(authority.size() - port.size(), port.size(), port) == 0)
        return authority.substr(0, authority.size() - port.size());
    return authority;
}

bool isAddress(const std::string &text)
{
    unsigned char bytes[16];
    return inet_pton(AF_INET, text.c_str(), bytes) == 1 ||
        inet_pton(AF_INET6, text.c_str(), bytes) == 1;
}

} // namespace

std::string cookie(const std::vector<std::string> &headers, const std::string &name)
{
    const std::string prefix = name + '=';
    for (const std::string &header : headers) {
        std::size_t at = 0;
        while (at < header.size()) {
            while (at < header.size() && (header[at] == ' ' || header[at] == ';'))
                ++at;
            const std::size_t end = std::min(header.find(';', at), header.size());
            if (header.compare(at, prefix.size(), prefix) == 0)
                return header.substr(at + prefix.size(), end - at - prefix.size());
            at = end;
        }
    }
    return {};
}

bool sameOrigin(const std::string &origin, const std::string &referer, const std::string &fetchSite,
                const std::string &host)
{
    if (!fetchSite.empty())
        return lower(fetchSite) == "same-origin";
    const std::string from = origin.empty() ? referer : origin;
    std::string scheme, authority;
    if (host.empty() || !splitUrl(from, scheme, authority))
        return false;
    return withoutDefaultPort(authority, scheme) == withoutDefaultPort(lower(host), scheme);
}

std::string forwardedClient(const std::vector<std::string> &headers, const std::string &peer)
{
    if (headers.empty())
        return peer;
    const std::string &last = headers.back();
    const std::size_t comma = last.rfind(',');
    std::string client = trimmed(comma == std::string::npos ? last : last.substr(comma + 1));
    if (client.size() > 2 && client.front() == '[' && client.back() == ']')
        client = client.substr(1, client.size() - 2);
    return isAddress(client) ? client : peer;
}

std::string canonical(const std::string &address)
{
    unsigned char bytes[16];
    char text[INET6_ADDRSTRLEN];
    if (inet_pton(AF_INET, address.c_str(), bytes) == 1)
        return inet_ntop(AF_INET, bytes, text, sizeof text);
    if (inet_pton(AF_INET6, address.c_str(), bytes) != 1)
        return address;
    static const unsigned char mapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
    if (std::equal(mapped, mapped + 12, bytes))
        return inet_ntop(AF_INET, bytes + 12, text, sizeof text);
    return inet_ntop(AF_INET6, bytes, text, sizeof text);
}

bool addressHost(const std::string &host)
{
    std::string name = host;
    if (!name.empty() && name.front() == '[')
        return name.find(']') != std::string::npos;
    name = name.substr(0, name.find(':'));
    if (name == "localhost")
        return true;
    return !name.empty() && name.find_first_not_of("0123456789.") == std::string::npos;
}

} // namespace requests
