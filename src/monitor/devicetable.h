// Rules of the device table that need no window: whether the working record
// may be added, and what a new device starts with.
#pragma once

#include "registry/general.h"

// What adding the working record would meet in the table. A device with the
// same serial may be edited in place (`index` is its row) unless a later row
// already carries the new name.
struct Duplicate {
    enum class Kind { None, SameSerial, SameName };
    Kind kind = Kind::None;
    int index = 0;
};

Duplicate findDuplicate(const General &g, const Dispositivo &d);

// A new device's channels, relay and polling period before its first edit.
void setNewDeviceDefaults(Dispositivo &d);
