#include "dialogs/foundserials.h"

#include "netaccess/sondaio.h"
#include "registry/general.h"

#include <algorithm>
#include <cstring>

QStringList foundSerials(const SondaIO::SearchBuffer &buffer, int count)
{
    static_assert(SONDAIO_SEARCH_MAX * 8 <= std::tuple_size_v<SondaIO::SearchBuffer>);
    const int n = std::clamp(count, 0, SONDAIO_SEARCH_MAX);
    QStringList out;
    out.reserve(n);
    for (int k = 0; k < n; ++k) {
        Serial sn;
        std::memcpy(sn.data(), buffer.data() + 8 * k, sn.size());
        out << seriehex(sn);
    }
    return out;
}
