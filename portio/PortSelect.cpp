// Chooses the port backend from QVX_PORT, once, at start-up.
#include "PortSelect.h"
#include "PortAccess.h"
#include "PpdevPort.h"
#include "SimPort.h"

#include <cstdlib>

namespace qvx {

static const char* const kAcceptedForms =
    "accepted forms: unset or \"ppdev\" (the parallel port through /dev/parportN), "
    "\"sim:DEVICE[,option...]\" (a simulated cable and chip, DEVICE one of AT89S51, AT89S52, "
    "AT89S53, AT89S8252, AT89S8253, AT89S2051, AT89S4051)";

bool ParsePortSelection(std::string_view selection, PortSelection& chosen, std::string& error)
{
    error.clear();
    chosen = {};
    if (selection.empty() || selection == "ppdev")
        return true;
    if (selection.substr(0, 4) == "sim:") {
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
    if (!chosen.simulated)
        return std::make_unique<PpdevPort>();
    std::unique_ptr<PortAccess> port = OpenSimPort(selection.substr(4), error);
    if (!port)
        error = "QVX_PORT=" + std::string(selection) + ": " + error;
    return port;
}

std::unique_ptr<PortAccess> OpenPortAccessFromEnvironment(std::string& error)
{
    const char* value = std::getenv("QVX_PORT");
    return OpenPortAccess(value ? std::string_view(value) : std::string_view(), error);
}

} // namespace qvx
