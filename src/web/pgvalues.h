// A result's values as the web program's queries read them: a text (NULL:
// empty), a number (NULL or unreadable: none).
#pragma once

#include <libpq-fe.h>

#include <charconv>
#include <optional>
#include <string>

namespace web {

inline std::string text(const PGresult *r, int row, int col)
{
    return PQgetisnull(r, row, col)
        ? std::string()
        : std::string(PQgetvalue(r, row, col), PQgetlength(r, row, col));
}

template <typename T>
std::optional<T> number(const PGresult *r, int row, int col)
{
    if (PQgetisnull(r, row, col))
        return std::nullopt;
    const char *v = PQgetvalue(r, row, col);
    T out{};
    const auto res = std::from_chars(v, v + PQgetlength(r, row, col), out);
    if (res.ec != std::errc())
        return std::nullopt;
    return out;
}

} // namespace web
