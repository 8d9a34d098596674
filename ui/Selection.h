// What the user has chosen in the main window: the device, the lock boxes
// and the HEX file. One instance, owned by the main window for the whole run.
#pragma once

#include "Catalogue.h"
#include "LockRules.h"

#include <cstdint>
#include <string>

namespace qvx {

struct Selection {
    // 0 to 6 in the order of the device list; -1 when the device box holds
    // typed text that names no device.
    int32_t DeviceCode = kDefaultDeviceCode;
    // The lock check boxes and the LockLevel they make.
    LockBoxes Locks;
    // The path of the HEX file last chosen in the file dialog; empty until then.
    std::string HexFileName;

    const Device* SelectedDevice() const { return FindDevice(DeviceCode); }
};

} // namespace qvx
