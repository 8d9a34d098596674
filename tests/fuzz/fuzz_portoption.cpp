// libFuzzer target for the QVX_PORT value. It is only read, never opened,
// so no state or trace file is ever created. A value that is accepted names
// a device and options within their ranges, and the cable and chip built
// from it (without its files and without the port delay) answer a few
// clocks; a value that is refused says why.
#include "PortSelect.h"
#include "SimPort.h"

#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string value(reinterpret_cast<const char*>(data), size);
    qvx::PortSelection chosen;
    std::string error;
    if (!qvx::ParsePortSelection(value, chosen, error)) {
        if (error.empty() || error.find("QVX_PORT") == std::string::npos)
            std::abort();
        return 0;
    }
    if (!error.empty())
        std::abort();
    if (!chosen.simulated) {
        if (!value.empty() && value != "ppdev")
            std::abort();
        return 0;
    }
    const qvx::SimSettings& s = chosen.sim;
    if (!s.device || s.chip.xtalHz == 0 || s.chip.misoNoise < 0.0 || s.chip.misoNoise > 1.0 ||
        s.cable.ioDelayNs < -1 || s.cable.ioDelayNs > 1'000'000'000 ||
        (s.chip.weakCell && *s.chip.weakCell >= s.device->codeSize))
        std::abort();
    if (value.find("state=") == std::string::npos && !s.cable.statePath.empty())
        std::abort();

    qvx::SimCableOptions cable = s.cable;
    cable.statePath.clear();
    cable.tracePath.clear();
    cable.ioDelayNs = -1;
    qvx::SimPort port(*s.device, cable, s.chip);
    const uint16_t dataPort = port.CableDataPort(), statusPort = uint16_t(dataPort + 1);
    port.SetPortBit(dataPort, 4); // RST
    for (int bit = 0; bit < 32; ++bit) {
        (0xAC535569u >> (31 - bit)) & 1 ? port.SetPortBit(dataPort, 5) : port.ClrPortBit(dataPort, 5);
        port.SetPortBit(dataPort, 6);
        port.GetPortBit(statusPort, 6);
        port.ClrPortBit(dataPort, 6);
    }
    port.ClrPortBit(dataPort, 4);
    return 0;
}
