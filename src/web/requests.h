// What a request's headers say about where it comes from: its session
// cookie, whether a POST was sent by this program's own page, the address
// behind a trusted reverse proxy, and whether the host it names is an
// address rather than a name.
#pragma once

#include <string>
#include <vector>

namespace requests {

// The value of `name` in the Cookie headers; empty when none has it.
std::string cookie(const std::vector<std::string> &headers, const std::string &name);

// Whether a POST comes from a page of the site the request was sent to:
// the browser's Sec-Fetch-Site says "same-origin", or, from a browser that
// does not send it, its Origin (lacking one, its Referer) names `host`, the
// request's Host. Another site's page can make the browser name neither.
bool sameOrigin(const std::string &origin, const std::string &referer, const std::string &fetchSite,
                const std::string &host);

// The client's address a reverse proxy appended to X-Forwarded-For (the
// last one, the only one the proxy itself vouches for); `peer` when the
// header holds no address.
std::string forwardedClient(const std::vector<std::string> &headers, const std::string &peer);

// The address as inet_ntop writes it, an IPv4 address mapped into IPv6 as
// IPv4; the text itself when it is no address.
std::string canonical(const std::string &address);

// "127.0.0.1:8080", "[::1]:8080", "localhost": an address, not a name
// that anyone's DNS can point anywhere.
bool addressHost(const std::string &host);

} // namespace requests
