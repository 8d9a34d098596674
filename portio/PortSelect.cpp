// Opens the port backend a QVX_PORT form names.
#include "PortSelect.h"
#include "PortAccess.h"
#include "PpdevPort.h"
#include "SimPort.h"

#include <algorithm>

namespace qvx {

static const char* const kAcceptedForms =
    "accepted forms: unset or \"ppdev\" (the parallel port through /dev/parportN), "
    "\"ftdi[:serial=SERIAL,pins=MOSI/MISO/SCK/RST[/SENSE],rate=N]\" (an FT232R USB cable), "
    "\"gpio:CHIP,rst=N,mosi=N,sck=N,miso=N[,sense=N]\" (Linux GPIO lines), "
    "\"sim:DEVICE[,option...]\" (a simulated cable and chip, DEVICE one of AT89S51, AT89S52, "
    "AT89S53, AT89S8252, AT89S8253, AT89S2051, AT89S4051)";

bool ParsePortSelection(std::string_view selection, PortSelection& chosen, std::string& error)
{
    error.clear();
    chosen = {};
    if (selection.empty() || selection == "ppdev")
        return true;
    if (selection == "ftdi" || selection.substr(0, 5) == "ftdi:") {
        chosen.kind = PortSelection::Kind::Ftdi;
        if (ParseFtdiOptions(selection.substr(std::min<size_t>(5, selection.size())), chosen.ftdi, error))
            return true;
        error = "QVX_PORT=" + std::string(selection) + ": " + error;
        return false;
    }
    if (selection.substr(0, 5) == "gpio:") {
        chosen.kind = PortSelection::Kind::Gpio;
        if (ParseGpioOptions(selection.substr(5), chosen.gpio, error))
            return true;
        error = "QVX_PORT=" + std::string(selection) + ": " + error;
        return false;
    }
    if (selection.substr(0, 4) == "sim:") {
        chosen.kind = PortSelection::Kind::Sim;
        chosen.simulated = true;
        if (ParseSimOptions(selection.substr(4), chosen.sim, error))
            return true;
        error = "QVX_PORT=" + std::string(selection) + ": " + error;
        return false;
    }
    error = "Unknown QVX_PORT value \"" + std::string(selection) + "\"; " + kAcceptedForms + ".";
    return false;
}

std::unique_ptr<PortAccess> OpenPortAccess(std::string_view selection, std::string& error)
{
    PortSelection chosen;
    if (!ParsePortSelection(selection, chosen, error))
        return nullptr;
    switch (chosen.kind) {
    case PortSelection::Kind::Ppdev: return std::make_unique<PpdevPort>();
    case PortSelection::Kind::Ftdi: return std::make_unique<FtdiPort>(chosen.ftdi, MakeLibFtdiSystem());
    case PortSelection::Kind::Gpio: return std::make_unique<GpioPort>(chosen.gpio, MakeLibGpiodSystem());
    case PortSelection::Kind::Sim: break;
    }
    std::unique_ptr<PortAccess> port = OpenSimPort(selection.substr(4), error);
    if (!port)
        error = "QVX_PORT=" + std::string(selection) + ": " + error;
    return port;
}

} // namespace qvx
