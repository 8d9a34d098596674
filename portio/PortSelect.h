// What a QVX_PORT value asks for, read without opening or creating
// anything: the backend, and for the simulated cable its chip and options.
#pragma once

#include "ArduinoPort.h"
#include "FtdiPort.h"
#include "GpioPort.h"
#include "SimPort.h"
#include "UsbaspPort.h"

#include <optional>
#include <string>
#include <string_view>

namespace qvx {

struct PortSelection {
    enum class Kind { Ppdev, Sim, Ftdi, Gpio, Arduino, Usbasp } kind = Kind::Ppdev;
    bool simulated = false; // kind == Sim
    SimSettings sim;        // when simulated
    FtdiSettings ftdi;      // the FT232R cable
    GpioSettings gpio;      // GPIO lines
    ArduinoSettings arduino; // an Arduino as ISP
    UsbaspSettings usbasp;   // a USBasp
};

// Returns false and fills `error` (naming the accepted forms) for a value
// that OpenPortAccess would refuse for its form; a state or trace file that
// cannot be used is found only when the port is opened. `named` as for
// OpenPortAccess.
bool ParsePortSelection(std::string_view selection, PortSelection& chosen, std::string& error,
                        std::optional<std::string_view> named = std::nullopt);

} // namespace qvx
