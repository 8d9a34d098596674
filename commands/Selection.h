// What the user has chosen: the device, the lock boxes, the HEX file, the
// "x2 Clock" box and the two options. One instance for the whole run, owned
// by the front end (the main window or the command-line program).
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
    // The path of the code file last chosen for loading; empty until then.
    std::string HexFileName;
    // The "x2 Clock" box: the user fuse's x2 clock bit the fuse write sends.
    bool X2Clock = false;
    // "Auto RUN after auto program": AUTO-PROGRAM lets the target run after
    // a success.
    bool AutoRun = true;
    // "Auto Reload File": programming first reloads HexFileName.
    bool AutoReload = true;
    // PROGRAM and AUTO-PROGRAM write the "x2 Clock" fuse after programming a
    // device that has one. The command line's -U leaves the fuse alone
    // unless --x2 is given.
    bool FuseWithProgramming = true;
    // AUTO-PROGRAM programs and verifies the data file loaded last (the
    // window's Data Memory window) after the code, on a device with a data
    // memory. The command line writes the data memory only when told to.
    bool DataWithAuto = true;
    // AUTO-PROGRAM erases the chip first and verifies what it programmed;
    // the command line's -D and -V leave either step out.
    bool EraseWithAuto = true;
    bool VerifyWithAuto = true;

    const Device* SelectedDevice() const { return FindDevice(DeviceCode); }
    // True when the selected device has the "x2 Clock" user fuse.
    bool FuseDevice() const
    {
        const Device* device = SelectedDevice();
        return device && device->HasFuse;
    }
};

} // namespace qvx
