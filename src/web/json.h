// The little JSON the page reads: texts escaped, numbers in their shortest
// exact form, null where there is no value.
#pragma once

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

namespace json {

inline void text(std::string &out, std::string_view s)
{
    out += '"';
    for (const char c : s) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        // "</script>" and markup never appear as such inside an answer.
        case '<':
            out += "\\u003c";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                char hex[8];
                std::snprintf(hex, sizeof hex, "\\u%04x", static_cast<unsigned char>(c));
                out += hex;
            } else {
                out += c;
            }
        }
    }
    out += '"';
}

// A text, or null when there is none (nobody logged in).
inline void textOrNull(std::string &out, std::string_view s)
{
    if (s.empty())
        out += "null";
    else
        text(out, s);
}

// A device's limits are single precision: their shortest text as a float
// is the one the user typed ("21.9", not 21.899999618530273).
template <typename Real>
requires std::is_floating_point_v<Real>
void number(std::string &out, Real v)
{
    if (!std::isfinite(v)) {
        out += "null";
        return;
    }
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, r.ptr);
}

inline void number(std::string &out, std::int64_t v) { out += std::to_string(v); }

template <typename T>
void optional(std::string &out, const std::optional<T> &v)
{
    if (v)
        number(out, *v);
    else
        out += "null";
}

// `"name":` before a value.
inline void key(std::string &out, std::string_view name)
{
    out += '"';
    out += name;
    out += "\":";
}

} // namespace json
