#include "CommandLine.h"
#include "Link.h"

#include <functional>
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

// A setting: its name, whether it takes a value, and what it sets. `apply`
// returns an empty string or what is wrong with the value.
struct Setting {
    const char* Name;
    bool TakesValue;
    std::function<std::string(Options&, const std::string& value)> Apply;
};

const std::vector<Setting>& Settings()
{
    static const std::vector<Setting> settings = {
        {"--help", false, [](Options& o, const std::string&) { o.Help = true; return std::string(); }},
        {"--version", false, [](Options& o, const std::string&) { o.Version = true; return std::string(); }},
        {"--device", true,
         [](Options& o, const std::string& v) {
             o.Device = v;
             return std::string();
         }},
        {"--port", true,
         [](Options& o, const std::string& v) {
             o.Port = v;
             return std::string();
         }},
        {"--lpt", true,
         [](Options& o, const std::string& v) {
             const std::optional<int> n = Number(v, 1, 2);
             if (!n)
                 return "--lpt takes 1 or 2, not \"" + v + "\"";
             o.Lpt = *n;
             return std::string();
         }},
        {"--lock-level", true,
         [](Options& o, const std::string& v) {
             const std::optional<int> n = Number(v, 0, 3);
             if (!n)
                 return "--lock-level takes 0, 1, 2 or 3, not \"" + v + "\"";
             o.LockLevel = *n;
             return std::string();
         }},
        {"--x2", false, [](Options& o, const std::string&) { o.X2Clock = true; return std::string(); }},
        {"--no-run", false, [](Options& o, const std::string&) { o.NoRun = true; return std::string(); }},
        {"--crystal", true,
         [](Options& o, const std::string& v) {
             const std::optional<int> hz = Number(v, int(kMinCrystalHz), int(kMaxCrystalHz));
             if (!hz)
                 return "--crystal takes the target's crystal in hertz, " + std::to_string(kMinCrystalHz) +
                        " to " + std::to_string(kMaxCrystalHz) + " (e.g. 11059200), not \"" + v + "\"";
             o.CrystalHz = uint32_t(*hz);
             return std::string();
         }},
        {"--config", true,
         [](Options& o, const std::string& v) {
             o.Config = v;
             return std::string();
         }},
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
};

} // namespace

std::string ParseCommandLine(const std::vector<std::string>& args, Options& options)
{
    std::set<std::string> given;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
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

        bool known = false;
        for (const Setting& setting : Settings()) {
            if (name != setting.Name)
                continue;
            known = true;
            if (!given.insert(name).second)
                return name + " is given twice";
            if (!setting.TakesValue && value)
                return name + " takes no value";
            std::string text;
            if (setting.TakesValue) {
                const std::optional<std::string> v = takeValue();
                if (!v)
                    return name + " needs a value";
                text = *v;
            }
            if (std::string problem = setting.Apply(options, text); !problem.empty())
                return problem;
        }
        for (const OperationName& op : kOperations) {
            if (name != op.Name)
                continue;
            known = true;
            Operation operation{op.What, name, {}};
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
    if (options.Help || options.Version)
        return {};
    if (options.Device.empty())
        return "--device is required";
    if (options.Operations.empty())
        return "no operation given";
    return {};
}

const char* UsageText()
{
    return R"(Usage: qvx-isp-cli --device NAME [--port SPEC] [settings...] OPERATION...

Programs AT89S chips through the parallel-port cable, without a window.

  --device NAME     AT89S51, AT89S52, AT89S53, AT89S8252, AT89S8253,
                    AT89S2051 or AT89S4051 (letter case ignored); required
  --port SPEC       ppdev (the parallel port) or sim:DEVICE[,option...] (the
                    simulated cable and chip); default $QVX_PORT, else ppdev
  --lpt 1|2         LPT1 (0x378, the default) or LPT2 (0x278)

Settings, for the whole run:
  --lock-level N    lock bits that --write-lock, --program and --auto write:
                    0 (none, the default) to 3
  --x2              the "x2 Clock" fuse on (AT89S8253, AT89S2051, AT89S4051);
                    off without it
  --no-run          stay in program mode at the end of --auto
  --crystal HZ      the target's crystal in hertz (default 11059200): the
                    serial clock never runs faster than the chip allows at it
  --config PATH     the CONFIG.QVX to read instead of the one searched for

Operations, run in the order given; the first that fails ends the run:
  --erase           erase the chip
  --blank           check that the chip is blank
  --program FILE    program FILE (no erase, no verify), then fuse and lock bits
  --verify FILE     compare the chip with FILE
  --auto FILE       erase, program, verify, write fuse and lock bits, then let
                    the target run
  --read FILE       read the chip's whole code memory into FILE
  --write-lock      write the lock bits of --lock-level
  --write-fuse      write the "x2 Clock" fuse (AT89S8253, AT89S2051, AT89S4051)
FILE is Intel HEX, or raw binary when its name ends in .bin.

  --help            show this text
  --version         show the program's version

Every status text and message goes to standard error with the time of day;
on a terminal a progress bar shows reads, programming, verify and blank check.
At the end the target is left running.

Exit status: 0 every operation succeeded; 1 a chip operation failed (verify
not matching, chip not blank, time-out, refused by the target); 2 a usage
error, an unknown device, or a file that cannot be read, written or parsed;
3 the port cannot be opened.
)";
}

} // namespace qvx::cli
