#include "web/gzip.h"

#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace gzip {

std::string compress(const std::string &text)
{
    z_stream z{};
    // 15 bits of window plus 16: the gzip header and trailer.
    if (deflateInit2(&z, 6, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return {};
    std::string out(deflateBound(&z, static_cast<uLong>(text.size())), '\0');
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(text.data()));
    z.avail_in = static_cast<uInt>(text.size());
    z.next_out = reinterpret_cast<Bytef *>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    const int r = deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return r == Z_STREAM_END ? out : std::string();
}

bool accepted(const std::string &acceptEncoding)
{
    std::string h = acceptEncoding;
    std::transform(h.begin(), h.end(), h.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    h.erase(std::remove(h.begin(), h.end(), ' '), h.end());
    std::size_t at = 0;
    while (at < h.size()) {
        const std::size_t end = std::min(h.find(',', at), h.size());
        const std::string item = h.substr(at, end - at);
        const std::string coding = item.substr(0, item.find(';'));
        const std::size_t q = item.find(";q=");
        if ((coding == "gzip" || coding == "*") &&
            (q == std::string::npos || std::strtod(item.c_str() + q + 3, nullptr) > 0))
            return true;
        at = end + 1;
    }
    return false;
}

} // namespace gzip
