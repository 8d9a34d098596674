// The command line of qvx-isp-cli: the device, the port, settings for the
// whole run, and the operations in the order given. Besides its own long
// options it reads the short options hobbyists know from the field's other
// programmers (-p, -c, -P, -U, -e, -F, -v, -q, -B), so that a makefile
// written for one of those needs only the program's name changed.
#pragma once

#include "Catalogue.h"
#include "ImageFile.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qvx::cli {

struct Operation {
    enum class Kind {
        Erase, Blank, Program, Verify, Auto, Read, WriteLock, WriteFuse, Detect, Info,
        EepromWrite, EepromVerify, EepromRead, // the data memory (AT89S8252, AT89S8253)
    };
    Kind What;
    std::string Option; // as written, e.g. "--verify" or "-U eeprom:r:data.hex"
    std::string File;   // for the operations that take one; "-" standard input or output
    // The file's format as -U gives it; nothing: by the file's name.
    std::optional<ImageFormat> Format;
    // From -U: the "x2 Clock" fuse is written only when --x2 asks for it.
    bool FuseOnlyWithX2 = false;

    bool OnDataMemory() const
    {
        return What == Kind::EepromWrite || What == Kind::EepromVerify || What == Kind::EepromRead;
    }
};

struct Options {
    bool Help = false;
    bool Version = false;
    bool ListDevices = false; // -p ?
    bool ListCables = false;  // -c ?
    std::string Device;               // as given; "auto": the chip detected
    std::optional<std::string> Port;  // --port; else QVX_PORT, else the cable remembered, else ppdev
    std::optional<std::string> Cable; // -c
    std::optional<std::string> CablePort; // -P
    int Lpt = 1;                      // 1 or 2
    bool LptGiven = false;
    int LockLevel = 0; // 0 to 3
    bool X2Clock = false;
    bool NoRun = false;
    std::optional<uint32_t> CrystalHz;  // --crystal; else the crystal remembered, else 11.0592 MHz
    std::optional<uint32_t> BitClockHz; // -B: the serial clock's highest frequency instead
    std::string BitClockText;           // -B as given
    std::optional<std::string> Config;
    int Verbosity = 0; // -v counts up, -q down
    // --force, -F: a chip whose signature is not the device's is programmed
    // as the device all the same.
    bool Force = false;
    // -D, --no-erase and -V, --no-verify: AUTO-PROGRAM (--auto, -U flash:w)
    // without its chip erase or without its verify.
    bool NoErase = false;
    bool NoVerify = false;
    std::vector<Operation> Operations;
};

// Reads the arguments (without the program name) into `options`. Returns an
// empty string, or what is wrong with them.
std::string ParseCommandLine(const std::vector<std::string>& args, Options& options);

// A frequency such as "11059200", "11.0592MHz", "3579.545kHz" or "500Hz"
// (any letter case) in hertz, rounded; nothing when the text is none.
// `plainFactor` is the unit of a bare number in hertz; zero: a bare number
// or one ending in "us" is a period in microseconds, as -B takes it.
std::optional<uint64_t> ParseFrequency(const std::string& text, uint64_t plainFactor);

// The device a name means: its full name (AT89S52), without "AT" (89S52)
// or without "AT89" (S52), in any letter case; null for none.
const Device* DeviceNamed(const std::string& name);
// True for the device name that asks for the chip detected: "auto".
bool AutoDevice(const std::string& name);

// The text of --help.
const char* UsageText();

} // namespace qvx::cli
