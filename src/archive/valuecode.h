// A reading as the archive stores it: one 32-bit integer holding a decimal
// mantissa and exponent (mantissa * 64 + exponent + 32), from the value's
// shortest exact decimal text, so that the database reads back exactly the
// double the capture text gave. Values with no such code (more than about
// eight digits, an exponent beyond 10^+-22, minus zero) are stored whole.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

std::optional<std::int32_t> valueCode(double v);
// The double a code stands for, computed as the database computes it.
double codeValue(std::int32_t code);

// A line's codes, 0 for ERR (NaN) and for a value that has none; true when
// some value has none, and the line must then be stored whole.
// `known`: codes the capture text gave (none, or one per value, where
// capturelines::unknownCode asks for the value's own).
bool lineCodes(std::span<const double> values, std::span<const std::int32_t> known,
               std::vector<std::int32_t> &codes);
