// Answers compressed once and sent to every client that accepts them.
#pragma once

#include <string>

namespace gzip {

// `text` in the gzip format; empty when it could not be compressed.
std::string compress(const std::string &text);
// Whether an Accept-Encoding header takes gzip.
bool accepted(const std::string &acceptEncoding);

} // namespace gzip
