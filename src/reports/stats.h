// The figures of a column computed from readings and rollups.
#pragma once

namespace reports {
} // namespace reports
