// The plots of a report drawn on a PDF page.
#pragma once

namespace reports {
} // namespace reports
