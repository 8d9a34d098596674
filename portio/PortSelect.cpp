// Opens the port backend a QVX_PORT form names.
#include "PortSelect.h"
#include "PortAccess.h"
#include "PpdevPort.h"
#include "SimPort.h"

#include <algorithm>
#include <optional>

namespace qvx {

static const char* const kAcceptedForms =
    "accepted forms: unset or \"ppdev\" (the parallel port through /dev/parportN), "
    "\"ftdi[:serial=SERIAL,pins=MOSI/MISO/SCK/RST[/SENSE],rate=N]\" (an FT232R USB cable), "
    "\"gpio:CHIP,rst=N,mosi=N,sck=N,miso=N[,sense=N]\" (Linux GPIO lines), "
    "\"arduino:PATH[,baud=N]\" (an Arduino running the ArduinoISP sketch on the serial port PATH), "
    "\"usbasp[:serial=SERIAL]\" (a USBasp with firmware 1.11 or later), "
    "\"sim:DEVICE[,option...]\" (a simulated cable and chip, DEVICE one of AT89S51, AT89S52, "
    "AT89S53, AT89S8252, AT89S8253, AT89S2051, AT89S4051)";

namespace {

// `error` behind the setting's name: `named`, else "QVX_PORT=VALUE".
void Name(std::string& error, std::string_view selection, const std::optional<std::string_view>& named)
{
    const std::string name = named ? std::string(*named) : "QVX_PORT=" + std::string(selection);
    if (!name.empty())
        error = name + ": " + error;
}

} // namespace

bool ParsePortSelection(std::string_view selection, PortSelection& chosen, std::string& error,
                        std::optional<std::string_view> named)
{
    error.clear();
    chosen = {};
    if (selection.empty() || selection == "ppdev")
        return true;
    bool parsed = false;
    if (selection == "ftdi" || selection.substr(0, 5) == "ftdi:") {
        chosen.kind = PortSelection::Kind::Ftdi;
        parsed = ParseFtdiOptions(selection.substr(std::min<size_t>(5, selection.size())), chosen.ftdi, error);
    } else if (selection.substr(0, 5) == "gpio:") {
        chosen.kind = PortSelection::Kind::Gpio;
        parsed = ParseGpioOptions(selection.substr(5), chosen.gpio, error);
    } else if (selection.substr(0, 8) == "arduino:") {
        chosen.kind = PortSelection::Kind::Arduino;
        parsed = ParseArduinoOptions(selection.substr(8), chosen.arduino, error);
    } else if (selection == "usbasp" || selection.substr(0, 7) == "usbasp:") {
        chosen.kind = PortSelection::Kind::Usbasp;
        parsed = ParseUsbaspOptions(selection.substr(std::min<size_t>(7, selection.size())), chosen.usbasp, error);
    } else if (selection.substr(0, 4) == "sim:") {
        chosen.kind = PortSelection::Kind::Sim;
        chosen.simulated = true;
        parsed = ParseSimOptions(selection.substr(4), chosen.sim, error);
    } else if (!named) {
        error = "Unknown QVX_PORT value \"" + std::string(selection) + "\"; " + kAcceptedForms + ".";
        return false;
    } else {
        error = "unknown cable \"" + std::string(selection) + "\"; " + kAcceptedForms;
    }
    if (!parsed)
        Name(error, selection, named);
    return parsed;
}

std::unique_ptr<PortAccess> OpenPortAccess(std::string_view selection, std::string& error,
                                           std::optional<std::string_view> named)
{
    PortSelection chosen;
    if (!ParsePortSelection(selection, chosen, error, named))
        return nullptr;
    switch (chosen.kind) {
    case PortSelection::Kind::Ppdev: return std::make_unique<PpdevPort>();
    case PortSelection::Kind::Ftdi: return std::make_unique<FtdiPort>(chosen.ftdi, MakeLibFtdiSystem());
    case PortSelection::Kind::Gpio: return std::make_unique<GpioPort>(chosen.gpio, MakeLibGpiodSystem());
    case PortSelection::Kind::Arduino: return std::make_unique<ArduinoPort>(chosen.arduino);
    case PortSelection::Kind::Usbasp: return std::make_unique<UsbaspPort>(chosen.usbasp, MakeLibUsbSystem());
    case PortSelection::Kind::Sim: break;
    }
    std::unique_ptr<PortAccess> port = OpenSimPort(selection.substr(4), error);
    if (!port)
        Name(error, selection, named);
    return port;
}

} // namespace qvx
