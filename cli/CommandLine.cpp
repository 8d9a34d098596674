#include "CommandLine.h"
#include "Link.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <functional>
#include <map>
#include <set>

namespace qvx::cli {

namespace {

// Reads a whole decimal number from `lowest` to `highest`.
std::optional<int> Number(const std::string& text, int lowest, int highest)
{
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    const int value = std::stoi(text);
    if (value < lowest || value > highest)
        return std::nullopt;
    return value;
}

std::string Lower(std::string text)
{
    for (char& c : text)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string CrystalProblem(const std::string& option, const std::string& value)
{
    return option + " takes the target's crystal in hertz (11059200) or with its unit (11.0592MHz, " +
           "3579.545kHz), " + std::to_string(kMinCrystalHz / 1000000) + " to " +
           std::to_string(kMaxCrystalHz / 1000000) + " MHz; not \"" + value + "\"";
}

// A setting: its name, whether it takes a value, and what it sets. `apply`
// returns an empty string or what is wrong with the value. Settings that
// set the same thing share a key.
struct Setting {
    const char* Name;
    const char* Key;
    bool TakesValue;
    std::function<std::string(Options&, const std::string& name, const std::string& value)> Apply;
};

std::string SetDevice(Options& o, const std::string&, const std::string& v)
{
    if (v == "?")
        o.ListDevices = true;
    else
        o.Device = v;
    return {};
}

std::string SetCrystal(Options& o, const std::string& name, const std::string& v)
{
    const std::optional<uint64_t> hz = ParseFrequency(v, 1);
    if (!hz || *hz < kMinCrystalHz || *hz > kMaxCrystalHz)
        return CrystalProblem(name, v);
    o.CrystalHz = uint32_t(*hz);
    return {};
}

// The serial clock's frequency, as a period in microseconds (10, 0.5, 10us)
// or a frequency (100kHz).
std::string SetBitClock(Options& o, const std::string& name, const std::string& v)
{
    const std::optional<uint64_t> hz = ParseFrequency(v, 0);
    if (!hz || *hz < 1000 || *hz > 10'000'000)
        return name + " takes the serial clock's period in microseconds (10, 0.5) or its frequency (100kHz, " +
               "1MHz), 0.1 to 1000 us; not \"" + v + "\"";
    o.BitClockHz = uint32_t(*hz);
    o.BitClockText = v;
    return {};
}

const std::vector<Setting>& Settings()
{
    static const std::vector<Setting> settings = {
        {"--help", "--help", false, [](Options& o, auto&, auto&) { o.Help = true; return std::string(); }},
        {"--version", "--version", false, [](Options& o, auto&, auto&) { o.Version = true; return std::string(); }},
        {"--device", "--device", true, SetDevice},
        {"-p", "--device", true, SetDevice},
        {"--port", "--port", true,
         [](Options& o, auto&, const std::string& v) {
             o.Port = v;
             return std::string();
         }},
        {"-c", "-c", true,
         [](Options& o, auto&, const std::string& v) {
             if (v == "?")
                 o.ListCables = true;
             o.Cable = v;
             return std::string();
         }},
        {"-P", "-P", true,
         [](Options& o, auto&, const std::string& v) {
             o.CablePort = v;
             return std::string();
         }},
        {"--lpt", "--lpt", true,
         [](Options& o, auto&, const std::string& v) {
             const std::optional<int> n = Number(v, 1, 2);
             if (!n)
                 return "--lpt takes 1 or 2, not \"" + v + "\"";
             o.Lpt = *n;
             o.LptGiven = true;
             return std::string();
         }},
        {"--lock-level", "--lock-level", true,
         [](Options& o, auto&, const std::string& v) {
             const std::optional<int> n = Number(v, 0, 3);
             if (!n)
                 return "--lock-level takes 0, 1, 2 or 3, not \"" + v + "\"";
             o.LockLevel = *n;
             return std::string();
         }},
        {"--x2", "--x2", false, [](Options& o, auto&, auto&) { o.X2Clock = true; return std::string(); }},
        {"--no-run", "--no-run", false, [](Options& o, auto&, auto&) { o.NoRun = true; return std::string(); }},
        {"--crystal", "--crystal", true, SetCrystal},
        {"-B", "--crystal", true, SetBitClock},
        {"--config", "--config", true,
         [](Options& o, auto&, const std::string& v) {
             o.Config = v;
             return std::string();
         }},
        {"-F", "--force", false, [](Options& o, auto&, auto&) { o.Force = true; return std::string(); }},
        {"--force", "--force", false, [](Options& o, auto&, auto&) { o.Force = true; return std::string(); }},
        {"-D", "--no-erase", false, [](Options& o, auto&, auto&) { o.NoErase = true; return std::string(); }},
        {"--no-erase", "--no-erase", false, [](Options& o, auto&, auto&) { o.NoErase = true; return std::string(); }},
        {"-V", "--no-verify", false, [](Options& o, auto&, auto&) { o.NoVerify = true; return std::string(); }},
        {"--no-verify", "--no-verify", false, [](Options& o, auto&, auto&) { o.NoVerify = true; return std::string(); }},
    };
    return settings;
}

struct OperationName {
    const char* Name;
    Operation::Kind What;
    bool TakesFile;
};

constexpr OperationName kOperations[] = {
    {"--erase", Operation::Kind::Erase, false},
    {"--blank", Operation::Kind::Blank, false},
    {"--program", Operation::Kind::Program, true},
    {"--verify", Operation::Kind::Verify, true},
    {"--auto", Operation::Kind::Auto, true},
    {"--read", Operation::Kind::Read, true},
    {"--write-lock", Operation::Kind::WriteLock, false},
    {"--write-fuse", Operation::Kind::WriteFuse, false},
    {"--eeprom-write", Operation::Kind::EepromWrite, true},
    {"--eeprom-verify", Operation::Kind::EepromVerify, true},
    {"--eeprom-read", Operation::Kind::EepromRead, true},
    {"--detect", Operation::Kind::Detect, false},
    {"--info", Operation::Kind::Info, false},
};

// -U MEMORY:OP:FILE[:FORMAT], or -U FILE for flash:w:FILE.
std::string MemoryOperation(const std::string& value, Operation& operation)
{
    const std::string what = "-U " + value;
    operation.Option = what;
    operation.FuseOnlyWithX2 = true;
    const size_t first = value.find(':');
    std::string memory = "flash", op = "w", file = value;
    if (first != std::string::npos) {
        const size_t second = value.find(':', first + 1);
        if (second == std::string::npos)
            return what + ": give MEMORY:OPERATION:FILE[:FORMAT], e.g. flash:w:app.hex:i";
        memory = value.substr(0, first);
        op = value.substr(first + 1, second - first - 1);
        file = value.substr(second + 1);
    }
    // A last field of one letter is the format.
    char format = 'a';
    if (first != std::string::npos && file.size() >= 2 && file[file.size() - 2] == ':') {
        format = file.back();
        file.resize(file.size() - 2);
    }
    const std::string lower = Lower(memory);
    const bool eeprom = lower == "eeprom";
    if (lower != "flash" && !eeprom)
        return what + ": unknown memory \"" + memory +
               "\"; the memory is flash (the code) or eeprom (the data memory of the AT89S8252 and AT89S8253) "
               "(lock bits: --lock-level N --write-lock; the x2 fuse: --x2 --write-fuse)";
    using Kind = Operation::Kind;
    if (op == "w")
        operation.What = eeprom ? Kind::EepromWrite : Kind::Auto;
    else if (op == "r")
        operation.What = eeprom ? Kind::EepromRead : Kind::Read;
    else if (op == "v")
        operation.What = eeprom ? Kind::EepromVerify : Kind::Verify;
    else
        return what + ": unknown operation \"" + op + "\"; w (write), r (read) or v (verify)";
    if (format == 'i')
        operation.Format = ImageFormat::IntelHex;
    else if (format == 'r')
        operation.Format = ImageFormat::Binary;
    else if (format != 'a')
        return what + ": the format \"" + std::string(1, format) +
               "\" cannot be read or written; i (Intel HEX), r (raw binary) or a (by the file's name)";
    if (file.empty())
        return what + ": the file name is missing";
    operation.File = file;
    return {};
}

// The short options that take a value, and the flags.
bool ShortTakesValue(char c) { return c == 'p' || c == 'c' || c == 'P' || c == 'U' || c == 'B'; }

} // namespace

std::optional<uint64_t> ParseFrequency(const std::string& text, uint64_t plainFactor)
{
    size_t pos = 0;
    long double value = 0;
    int digits = 0;
    while (pos < text.size() && std::isdigit(static_cast<unsigned char>(text[pos])) && digits < 12) {
        value = value * 10 + (text[pos++] - '0');
        ++digits;
    }
    if (pos < text.size() && text[pos] == '.') {
        ++pos;
        long double scale = 0.1L;
        for (int decimals = 0; pos < text.size() && std::isdigit(static_cast<unsigned char>(text[pos])); ++decimals) {
            if (decimals == 9)
                return std::nullopt;
            value += (text[pos++] - '0') * scale;
            scale /= 10;
            ++digits;
        }
    }
    if (digits == 0 || value <= 0)
        return std::nullopt;
    const std::string unit = Lower(text.substr(pos));
    long double hz = 0;
    if (unit == "hz")
        hz = value;
    else if (unit == "khz")
        hz = value * 1e3L;
    else if (unit == "mhz")
        hz = value * 1e6L;
    else if (plainFactor == 0 && (unit.empty() || unit == "us"))
        hz = 1e6L / value; // a period in microseconds
    else if (plainFactor != 0 && unit.empty())
        hz = value * plainFactor;
    else
        return std::nullopt;
    if (hz < 0.5L || hz > 1e12L)
        return std::nullopt;
    return uint64_t(std::llround(hz));
}

const Device* DeviceNamed(const std::string& name)
{
    std::string upper = name;
    for (char& c : upper)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    for (const Device& device : Devices())
        if (device.Name == upper || device.Name == "AT" + upper || device.Name == "AT89" + upper)
            return &device;
    return nullptr;
}

bool AutoDevice(const std::string& name) { return Lower(name) == "auto"; }

std::string ParseCommandLine(const std::vector<std::string>& args, Options& options)
{
    std::map<std::string, std::string> given; // key -> the option that gave it
    bool erase = false;                        // -e

    // Applies `setting` once, checking that nothing else set its key.
    auto apply = [&](const Setting& setting, const std::string& name,
                     const std::optional<std::string>& value) -> std::string {
        const auto [at, fresh] = given.emplace(setting.Key, name);
        if (!fresh)
            return at->second == name ? name + " is given twice"
                                      : name + " and " + at->second + " set the same; give one of them";
        return setting.Apply(options, name, value.value_or(""));
    };
    auto findSetting = [](const std::string& name) -> const Setting* {
        for (const Setting& setting : Settings())
            if (name == setting.Name)
                return &setting;
        return nullptr;
    };

    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg.size() >= 2 && arg[0] == '-' && arg[1] != '-') {
            // Short options, several in one argument as -vq or -pAT89S52.
            for (size_t k = 1; k < arg.size(); ++k) {
                const char c = arg[k];
                const std::string name = std::string("-") + c;
                if (c == 'e') {
                    erase = true;
                    continue;
                }
                if (c == 'v' || c == 'q') {
                    options.Verbosity += c == 'v' ? 1 : -1;
                    continue;
                }
                std::optional<std::string> value;
                if (ShortTakesValue(c)) {
                    if (k + 1 < arg.size())
                        value = arg.substr(k + 1);
                    else if (i + 1 < args.size())
                        value = args[++i];
                    else
                        return name + " needs a value";
                    k = arg.size();
                }
                if (c == 'U') {
                    Operation operation{Operation::Kind::Auto, "-U", {}, {}, false};
                    if (std::string problem = MemoryOperation(*value, operation); !problem.empty())
                        return problem;
                    options.Operations.push_back(std::move(operation));
                    continue;
                }
                const Setting* setting = findSetting(name);
                if (!setting)
                    return "unknown option \"" + name + "\"";
                if (std::string problem = apply(*setting, name, value); !problem.empty())
                    return problem;
            }
            continue;
        }
        if (arg.rfind("--", 0) != 0 || arg.size() == 2)
            return "unexpected argument \"" + arg + "\"";
        // "--name value" or "--name=value".
        const size_t equals = arg.find('=');
        const std::string name = arg.substr(0, equals);
        std::optional<std::string> value;
        if (equals != std::string::npos)
            value = arg.substr(equals + 1);
        auto takeValue = [&]() -> std::optional<std::string> {
            if (value)
                return value;
            // The next argument, unless it is the next option.
            if (i + 1 < args.size() && args[i + 1].rfind("--", 0) != 0)
                return args[++i];
            return std::nullopt;
        };

        if (const Setting* setting = findSetting(name)) {
            if (!setting->TakesValue && value)
                return name + " takes no value";
            if (setting->TakesValue) {
                value = takeValue();
                if (!value)
                    return name + " needs a value";
            }
            if (std::string problem = apply(*setting, name, value); !problem.empty())
                return problem;
            continue;
        }
        bool known = false;
        for (const OperationName& op : kOperations) {
            if (name != op.Name)
                continue;
            known = true;
            Operation operation{op.What, name, {}, {}, false};
            if (op.TakesFile) {
                const std::optional<std::string> file = takeValue();
                if (!file || file->empty())
                    return name + " needs a file name";
                operation.File = *file;
            } else if (value) {
                return name + " takes no value";
            }
            options.Operations.push_back(std::move(operation));
        }
        if (!known)
            return "unknown option \"" + name + "\"";
    }
    if (options.Help || options.Version || options.ListDevices || options.ListCables)
        return {};
    // -e erases before the other operations, unless the first begins with
    // an erase anyway.
    if (erase && (options.Operations.empty() || options.Operations.front().What != Operation::Kind::Auto ||
                  options.NoErase))
        options.Operations.insert(options.Operations.begin(), Operation{Operation::Kind::Erase, "-e", {}, {}, false});
    // --detect alone needs no device: it finds out which one is there.
    const bool detectOnly = std::all_of(options.Operations.begin(), options.Operations.end(),
                                        [](const Operation& op) { return op.What == Operation::Kind::Detect; });
    if (options.Device.empty() && detectOnly && !options.Operations.empty())
        options.Device = "auto";
    if (options.Device.empty())
        return "--device is required";
    if (options.Operations.empty())
        return "no operation given";
    if (options.Port && (options.Cable || options.CablePort))
        return "--port and " + std::string(options.Cable ? "-c" : "-P") + " both choose the cable; give one of them";
    for (const Operation& op : options.Operations)
        if (op.What == Operation::Kind::WriteLock && options.LockLevel == 0)
            return "--write-lock writes the lock bits of --lock-level: add --lock-level 1, 2 or 3";
    // A chip erase erases the data memory too: one after the data memory was
    // written would undo it.
    const Operation* dataWritten = nullptr;
    for (const Operation& op : options.Operations) {
        if (op.What == Operation::Kind::EepromWrite && !dataWritten)
            dataWritten = &op;
        if (dataWritten && (op.What == Operation::Kind::Erase || op.What == Operation::Kind::Auto))
            return op.Option + " after " + dataWritten->Option +
                   ": its chip erase erases the data memory too; give " + dataWritten->Option + " after it";
    }
    return {};
}

const char* UsageText()
{
    return R"(Usage: qvx-isp-cli --device NAME [--port SPEC] [settings...] OPERATION...
       qvx-isp-cli -p DEVICE [-c CABLE [-P PORT]] [-e] -U flash:w:FILE[:i|r] ...

Programs AT89S chips through the parallel-port cable, an FT232R USB cable,
GPIO lines, an Arduino as ISP or a USBasp, without a window.

  --device NAME     AT89S51, AT89S52, AT89S53, AT89S8252, AT89S8253,
  -p NAME           AT89S2051 or AT89S4051 (letter case ignored; 89S52 and
                    S52 will do); required. -p ? lists them. auto: the chip
                    detected on the cable by its signature (not for the
                    AT89S53 and AT89S8252, which have none)
  --port SPEC       ppdev (the parallel port), ftdi[:option...] (an FT232R
                    USB cable), gpio:CHIP,rst=N,mosi=N,sck=N,miso=N[,sense=N]
                    (GPIO lines), arduino:PATH[,baud=N] (an Arduino running
                    the ArduinoISP sketch on the serial port PATH),
                    usbasp[:serial=SERIAL] (a USBasp, firmware 1.11 or later)
                    or sim:DEVICE[,option...] (the simulated
                    cable and chip); default $QVX_PORT, else the cable chosen
                    last in the window, else ppdev
  -c CABLE [-P PORT] the cable the short way: ppdev (lpt, parport) with -P
                    lpt1, lpt2 or /dev/parportN; ftdi (ft232r) with -P usb,
                    usb:SERIAL or ftdi options; gpio (linuxgpio) with -P
                    CHIP,rst=N,mosi=N,sck=N,miso=N; sim with -P sim options
                    (the chip is that of -p). -c ? lists them
  --lpt 1|2         LPT1 (0x378, the default) or LPT2 (0x278)

Settings, for the whole run:
  --lock-level N    lock bits that --write-lock, --program and --auto write:
                    0 (none, the default) to 3
  --x2              the "x2 Clock" fuse on (AT89S8253, AT89S2051, AT89S4051);
                    off without it
  --no-run          leave the target in program mode (held in reset) at the
                    end of the run instead of letting it run
  --crystal FREQ    the target's crystal, 11059200, 11.0592MHz or
                    3579.545kHz (default: the one chosen last in the window,
                    else 11.0592 MHz): the serial clock never runs faster
                    than the chip allows at it
  -B PERIOD         the serial clock instead: its period in microseconds
                    (10) or its frequency (100kHz)
  --config PATH     the CONFIG.QVX to read instead of the one searched for
  -v, -q            more or less on standard error (-qq: messages only)
  --force, -F       go on when the chip's signature is another device's
                    (or none's): the chip is then treated as --device says.
                    Without it such a chip is refused before anything is
                    erased or written (exit 1)
  --no-erase, -D    --auto and -U flash:w without their chip erase: the code
                    is programmed over what the chip holds (-e still erases)
  --no-verify, -V   --auto and -U flash:w without their verify (each byte is
                    still read back as it is written)

Operations, run in the order given; the first that fails ends the run:
  --erase, -e       erase the chip (-e before the other operations)
  --blank           check that the chip is blank
  --program FILE    program FILE (no erase, no verify), then the fuse and the
                    lock bits of --lock-level
  --verify FILE     compare the chip with FILE
  --auto FILE       erase, program, verify, write fuse and lock bits, then let
                    the target run
  --read FILE       read the chip's whole code memory into FILE
  --write-lock      write the lock bits of --lock-level
  --write-fuse      write the "x2 Clock" fuse (AT89S8253, AT89S2051, AT89S4051)
  --detect          find out which chip is on the cable: its signature, lock
                    bits and fuses, or what the lines showed when none
                    answered (needs no --device)
  --info            the chip's signature, lock bits and fuses in words
  -U flash:w:FILE   as --auto FILE; the fuse only with --x2
  -U flash:r:FILE   as --read FILE
  -U flash:v:FILE   as --verify FILE
  --eeprom-write FILE
                    write FILE into the 2 KB data memory (EEPROM) of the
                    AT89S8252 or AT89S8253: no erase, only the bytes that
                    differ are written, each read back; a byte that FILE
                    does not give is FF
  --eeprom-verify FILE
                    compare the data memory with FILE
  --eeprom-read FILE
                    read the whole data memory into FILE
  -U eeprom:w:FILE  as --eeprom-write FILE (and eeprom:v, eeprom:r)
Chip erase (--erase, -e, --auto, -U flash:w) erases the data memory too:
write the data memory after it.
FILE is Intel HEX, or raw binary when its name ends in .bin; with -U, :i
(Intel HEX) or :r (raw binary) at the end says which. FILE - is standard
input (Intel HEX unless :r says otherwise) or standard output.

  --help            show this text
  --version         show the program's version

Every chip operation first reads the chip's signature (where the device has
one) and refuses a chip of another device. When no chip answers, the log
says what the lines showed and what to check.

Every status text and message goes to standard error with the time of day,
as do the checksums of each file loaded and each chip read; on a terminal a
progress bar shows reads, programming, verify and blank check. At the end
the target is left running, unless --no-run.

Exit status: 0 every operation succeeded; 1 a chip operation failed (verify
not matching, chip not blank, time-out, refused by the target, a chip of
another device than --device, no chip found by --detect); 2 a usage error,
an unknown device (or --device auto on a chip without a signature), a file
that cannot be read, written or parsed, or code larger than the chip; 3 the
port cannot be opened, or failed while
in use (a USB cable lost); 129, 130, 143 ended by SIGHUP, SIGINT (Ctrl-C)
or SIGTERM, with the target let run as at a normal end.
)";
}

} // namespace qvx::cli
