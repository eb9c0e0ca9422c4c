// The serials a device search left in its buffer, as the search window lists
// them.
#pragma once

#include "netaccess/binding.h"

#include <QStringList>

// The serials of slots 0..count-1 in upper-case hex. The count is the one the
// library reported: none for zero or less, and never more than the 100 slots
// the program announces, whatever a misbehaving library reports.
QStringList foundSerials(const SondaIO::SearchBuffer &buffer, int count);
