// The simulated cable with a simulated AT89S chip on it, behind the same
// four functions as the real parallel port.
#pragma once

#include "PortAccess.h"

namespace qvx {

// `options` is the part of QVX_PORT after "sim:", e.g. "AT89S52,lpt2".
// Returns null and fills `error` when the options are not understood.
std::unique_ptr<PortAccess> OpenSimPort(std::string_view options, std::string& error);

} // namespace qvx
