// A batch's lines as the archive's finished rows: a row per minute, file and
// header with the figures of its minute, and each header's figures of every
// hour, as the two array arguments of climalog.guardar_filas. The server
// stores them a row at a time, and checks a few of the figures it is given
// against the lines it is given: so they are worked out here exactly as the
// server works them out from lines.
#pragma once

#include "archive/batch.h"

#include <QByteArray>

#include <cstdint>
#include <span>
#include <vector>

namespace archive {

// The numbers of the composite types climalog.fila and climalog.cifras.
struct RowTypes {
    std::uint32_t row = 0, figures = 0;
};

struct Rows {
    QByteArray rows, hours; // binary arrays of climalog.fila and climalog.cifras
};

// Lines [from, to) of `b`; `headerIds` and `temperatures` (which columns are
// temperatures, whose figures include the mean kinetic temperature's sum)
// by the lines' set. False when the lines cannot go as rows and go as lines
// instead: not rising in whole seconds, a header twice in a minute with
// another between, or a figure the server would refuse or read otherwise
// (a sum out of range).
bool buildRows(const Batch &b, std::size_t from, std::size_t to, std::span<const int> headerIds,
               const std::vector<std::vector<bool>> &temperatures, const RowTypes &types,
               Rows &out);

} // namespace archive
