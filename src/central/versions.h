// The central schema's versions after the first, each a migration of its own
// file, applied in order by central::prepare.
#pragma once

namespace central {

extern const char *const version2;

} // namespace central
