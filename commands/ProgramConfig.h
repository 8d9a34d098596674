// The timing values of CONFIG.QVX into the link, for both front ends.
#pragma once

#include "Config.h"
#include "Link.h"

#include <string>
#include <vector>

namespace qvx {

// Reads the first CONFIG.QVX of `places`: by default the working
// directory's, else the user's ($XDG_CONFIG_HOME/qvx-isp), else the
// installed copy. The one place that decides where the program looks.
// Returns an empty string, or a message naming the file and the system's
// error, or every place looked at when none holds the file (the values are
// then 0). `problems`, when given, receives the file's ConfigProblems, each
// behind the file's path, for the operation log; `found`, when given, the
// path of the file read (empty when none was found).
std::string ReadProgramConfig(LinkState& link, const std::vector<std::string>& places = ConfigSearchPlaces(),
                              std::vector<std::string>* problems = nullptr, std::string* found = nullptr);

// Reads the configuration file at `path` (relative to the working directory
// or absolute), with the same result.
std::string ReadProgramConfigFrom(LinkState& link, const std::string& path,
                                  std::vector<std::string>* problems = nullptr);

} // namespace qvx
