// The device check of the properties pane: one reading of the working record's
// device, worded for a message box.
#pragma once

#include <QString>
#include <cstdint>
#include <optional>

class General;
class SondaIO;

// Reads g.dispactual's device once on the port. Empty for a type that has no
// reading (nothing is shown then); otherwise the text to show with an OK
// button. An AVI device is set to unit gain first, and its record keeps that.
std::optional<QString> comprobar(General &g, SondaIO *io, std::int16_t port);
