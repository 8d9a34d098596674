// The command line of qvx-isp-cli: the device, the port, settings for the
// whole run, and the operations in the order given.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qvx::cli {

struct Operation {
    enum class Kind { Erase, Blank, Program, Verify, Auto, Read, WriteLock, WriteFuse };
    Kind What;
    std::string Option; // as written, e.g. "--verify"
    std::string File;   // for the operations that take one
};

struct Options {
    bool Help = false;
    bool Version = false;
    std::string Device;              // as given
    std::optional<std::string> Port; // --port; else QVX_PORT, else ppdev
    int Lpt = 1;                     // 1 or 2
    int LockLevel = 0;               // 0 to 3
    bool X2Clock = false;
    bool NoRun = false;
    std::optional<uint32_t> CrystalHz; // --crystal; else the usual 11.0592 MHz
    std::optional<std::string> Config;
    std::vector<Operation> Operations;
};

// Reads the arguments (without the program name) into `options`. Returns an
// empty string, or what is wrong with them.
std::string ParseCommandLine(const std::vector<std::string>& args, Options& options);

// The text of --help.
const char* UsageText();

} // namespace qvx::cli
