#include "SimPort.h"

namespace qvx {

std::unique_ptr<PortAccess> OpenSimPort(std::string_view, std::string& error)
{
    error = "the simulated cable is not built into this program";
    return nullptr;
}

} // namespace qvx
