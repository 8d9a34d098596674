// libFuzzer target for the QVX_PORT value. It is only read, never opened,
// so no state or trace file is ever created and no USB or GPIO device is
// touched. A value that is accepted names a device and options within their
// ranges, and the cable and chip built from it (without its files and
// without the port delay; an FT232R or GPIO chip as a virtual one) answer a
// few clocks; a value that is refused says why.
#include "FtdiPort.h"
#include "GpioPort.h"
#include "PortSelect.h"
#include "SimPort.h"
#include "VirtualFt232r.h"
#include "VirtualGpioChip.h"

#include <cstdlib>
#include <string>

namespace {

// The programming enable through a backend that takes the cable's lines as
// the parallel port's data and status bits.
void ClockEnable(qvx::PortAccess& port, uint16_t dataPort)
{
    const uint16_t statusPort = uint16_t(dataPort + 1);
    port.SetPortBit(dataPort, 4); // RST
    for (int bit = 0; bit < 32; ++bit) {
        (0xAC535569u >> (31 - bit)) & 1 ? port.SetPortBit(dataPort, 5) : port.ClrPortBit(dataPort, 5);
        port.SetPortBit(dataPort, 6);
        port.GetPortBit(statusPort, 6);
        port.ClrPortBit(dataPort, 6);
    }
    port.ClrPortBit(dataPort, 4);
}

void CheckFtdi(const qvx::FtdiSettings& s)
{
    const int pins[] = {s.pins.mosi, s.pins.miso, s.pins.sck, s.pins.rst};
    for (int i = 0; i < 4; ++i) {
        if (pins[i] < 0 || pins[i] > 7 || pins[i] == s.pins.sense)
            std::abort();
        for (int j = i + 1; j < 4; ++j)
            if (pins[i] == pins[j])
                std::abort();
    }
    if (s.pins.sense < -1 || s.pins.sense > 7 || s.rate < qvx::kFtdiMinRate || s.rate > qvx::kFtdiMaxRate ||
        s.serial.size() > qvx::kFtdiMaxSerial)
        std::abort();
    // The cable as the value wires it, on a virtual FT232R of that serial.
    qvx::VirtualFt232rOptions cable;
    cable.serial = s.serial.empty() ? "QVX00001" : s.serial;
    cable.wiring = s.pins;
    cable.senseWired = s.pins.sense >= 0;
    cable.roundTripNs = 0;
    qvx::FtdiPort port(s, std::make_unique<qvx::VirtualFt232r>(*qvx::sim::FindDevice("AT89S52"),
                                                              qvx::sim::ChipOptions{}, cable));
    if (!port.IsDriverInstalled())
        std::abort();
    ClockEnable(port, qvx::kLpt1Data);
    const uint8_t out[4] = {0xAC, 0x53, 0x00, 0x00};
    uint8_t in[4] = {};
    port.ExchangeInstructions(qvx::kLpt1Data, {}, out, in, {});
}

void CheckGpio(const qvx::GpioSettings& s)
{
    const int lines[] = {s.rst, s.mosi, s.sck, s.miso};
    for (int line : lines)
        if (line < 0 || unsigned(line) > qvx::kGpioMaxLine || line == s.sense)
            std::abort();
    if (s.sense < -1 || s.sense > int(qvx::kGpioMaxLine) ||
        qvx::ClassifyGpioChip(s.chip) == qvx::GpioChipName::Invalid)
        std::abort();
    // The lines as the value numbers them, on a virtual chip of that name.
    std::string error;
    std::unique_ptr<qvx::SimPort> sim = qvx::MakeSimPort("AT89S52,timing=instant", error);
    qvx::VirtualGpioOptions chip;
    chip.lines = qvx::kGpioMaxLine + 1;
    chip.name = chip.label = s.chip;
    qvx::GpioPort port(s, std::make_unique<qvx::VirtualGpioChip>(*sim, s, chip));
    if (!port.IsDriverInstalled())
        std::abort();
    ClockEnable(port, qvx::kLpt1Data);
}

} // namespace

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
    switch (chosen.kind) {
    case qvx::PortSelection::Kind::Ppdev:
        if (!value.empty() && value != "ppdev")
            std::abort();
        return 0;
    case qvx::PortSelection::Kind::Ftdi:
        if (value.rfind("ftdi", 0) != 0)
            std::abort();
        CheckFtdi(chosen.ftdi);
        return 0;
    case qvx::PortSelection::Kind::Gpio:
        if (value.rfind("gpio:", 0) != 0)
            std::abort();
        CheckGpio(chosen.gpio);
        return 0;
    case qvx::PortSelection::Kind::Arduino:
        if (value.rfind("arduino:", 0) != 0 || chosen.arduino.path.empty() ||
            !qvx::SerialLine::KnownBaud(chosen.arduino.baud))
            std::abort();
        return 0;
    case qvx::PortSelection::Kind::Usbasp:
        if (value.rfind("usbasp", 0) != 0 || chosen.usbasp.serial.size() > qvx::kUsbaspMaxSerial)
            std::abort();
        return 0;
    case qvx::PortSelection::Kind::Sim:
        break;
    }
    if (!chosen.simulated)
        std::abort();
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
    ClockEnable(port, port.CableDataPort());
    return 0;
}
