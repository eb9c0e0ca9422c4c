// The answers every request handler shares: the log line, a JSON error
// with its status, and the database's unavailability in the page's words.
#pragma once

#include <string>

namespace httplib {
struct Response;
}

namespace replies {

// A line of the program's log, stamped with the local time.
void log(const std::string &what);
void jsonError(httplib::Response &res, int status, const std::string &message);
// The database could not answer: 503, busy or unreachable. The database's
// own message stays in the log; the page reads why in its own words.
void unavailable(httplib::Response &res, const std::string &error);

} // namespace replies
