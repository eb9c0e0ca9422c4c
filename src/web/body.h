// The body of the page's writes: one JSON object whose values are texts or
// whole numbers, nothing nested. Read strictly (each key once, valid UTF-8,
// nothing after the object), so what reaches the database is exactly what
// the page sent.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

namespace body {

struct Value {
    bool isText = false;
    std::string text; // UTF-8, escapes decoded
    std::int64_t number = 0;
};
using Object = std::map<std::string, Value>;

// False with a Spanish message for the 400 answer.
bool parse(std::string_view in, Object &out, std::string &error);

} // namespace body
