// The timing values of CONFIG.QVX into the link, for both front ends.
#pragma once

#include "Link.h"

#include <string>

namespace qvx {

// Reads CONFIG.QVX from where the program looks for it: the working
// directory. The one place that decides where that is. Returns an empty
// string, or a message naming the file and the system's error (the values
// are then 0).
std::string ReadProgramConfig(LinkState& link);

// Reads the configuration file at `path` (relative to the working directory
// or absolute), with the same result.
std::string ReadProgramConfigFrom(LinkState& link, const std::string& path);

} // namespace qvx
