// Windows-1252 conversion of the texts that leave the program (files, library).
#pragma once

#include <QString>
#include <string>

namespace cp1252 {

// Characters the code page cannot hold become '?'.
std::string encode(const QString &text);
// Every character of the text has a byte of its own in the code page.
bool holds(const QString &text);
QString decode(const char *bytes, std::size_t size);
inline QString decode(const std::string &bytes) { return decode(bytes.data(), bytes.size()); }

}
