// qvx-isp-cli: the programmer's commands without a window, for production
// runs, makefiles and test rigs. The operations run in the order given; the
// exit status says how the run ended.
#include "CommandLine.h"
#include "Commands.h"
#include "Console.h"
#include "ExitSignals.h"
#include "GpioPort.h"
#include "Instructions.h"
#include "PortAccess.h"
#include "PpdevPort.h"
#include "ProgramConfig.h"
#include "Settings.h"
#include "Version.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include <unistd.h>

using namespace qvx;

namespace {

// Exit statuses.
constexpr int kSucceeded = 0;
constexpr int kChipFailed = 1;
constexpr int kUsageOrFile = 2;
constexpr int kNoPort = 3;

int UsageError(const std::string& problem)
{
    std::fprintf(stderr, "qvx-isp-cli: %s\nTry 'qvx-isp-cli --help' for more.\n", problem.c_str());
    return kUsageOrFile;
}

int ExitStatus(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Succeeded: return kSucceeded;
    case Outcome::ChipFailed: return kChipFailed;
    case Outcome::FileFailed:
    case Outcome::NotRun: break;
    }
    return kUsageOrFile;
}

std::string DeviceList()
{
    std::string names;
    for (const Device& device : Devices())
        names += (names.empty() ? "" : ", ") + std::string(device.Name);
    return names;
}

// -p ?: the devices with the short names they go by.
void ListDevices()
{
    std::printf("Devices (-p or --device; letter case ignored):\n");
    for (const Device& device : Devices()) {
        const std::string name(device.Name);
        const std::string shorter = name.substr(2) + ", " + name.substr(4);
        std::printf("  %-10s %-16s %2d KB code memory (0000-%04X)\n", name.c_str(), shorter.c_str(),
                    device.MemorySize() / 1024, unsigned(device.LastAddress));
    }
}

// The cables of -c.
enum class CableKind { Ppdev, Ftdi, Gpio, Sim };
struct CableName {
    const char* Name;
    CableKind Kind;
};
constexpr CableName kCables[] = {
    {"ppdev", CableKind::Ppdev}, {"lpt", CableKind::Ppdev},   {"parport", CableKind::Ppdev},
    {"ftdi", CableKind::Ftdi},   {"ft232r", CableKind::Ftdi}, {"gpio", CableKind::Gpio},
    {"linuxgpio", CableKind::Gpio}, {"sim", CableKind::Sim},
};

// -c ?: the cables and what -P takes for each.
void ListCables()
{
    std::printf("Cables (-c), and what -P takes for each:\n"
                "  ppdev, lpt, parport  the PC parallel port: -P lpt1 (the default), lpt2 or /dev/parportN\n"
                "  ftdi, ft232r         an FT232R USB cable: -P usb (the first found), usb:SERIAL, or its\n"
                "                       options serial=SERIAL,pins=MOSI/MISO/SCK/RST[/SENSE],rate=N\n"
                "  gpio, linuxgpio      Linux GPIO lines: -P CHIP,rst=N,mosi=N,sck=N,miso=N[,sense=N]\n"
                "  sim                  the simulated cable with a chip of -p: -P its options, e.g.\n"
                "                       timing=instant,state=chip.bin\n");
}

// The parallel port -P names: lpt1, lpt2, their addresses, or the
// /dev/parportN at one of them.
std::optional<int> LptNamed(const std::string& text)
{
    std::string lower = text;
    for (char& c : lower)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    if (lower == "lpt1" || lower == "0x378")
        return 1;
    if (lower == "lpt2" || lower == "0x278")
        return 2;
    if (text.rfind("/dev/parport", 0) == 0) {
        PpdevPort ppdev;
        for (int lpt : {1, 2})
            if (ppdev.DeviceFor(lpt == 1 ? kLpt1Data : kLpt2Data) == text)
                return lpt;
    }
    return std::nullopt;
}

// The cable -c and -P give, as a QVX_PORT form in `spec` (the simulated
// chip is that of -p), and for the parallel port the LPT in `lpt`. Returns
// an empty string, or what is wrong with them.
std::string CableOf(const cli::Options& options, const Device* device, std::string& spec, int& lpt)
{
    const std::string port = options.CablePort.value_or("");
    const CableName* cable = nullptr;
    for (const CableName& c : kCables)
        if (options.Cable && *options.Cable == c.Name)
            cable = &c;
    if (options.Cable && !cable)
        return "-c " + *options.Cable + ": unknown cable; ppdev, ftdi, gpio or sim (-c ? lists them)";
    if (!cable || cable->Kind == CableKind::Ppdev) {
        spec = "ppdev";
        if (!options.CablePort)
            return {};
        const std::optional<int> named = LptNamed(port);
        if (!named)
            return "-P " + port + (cable ? ": the parallel port is lpt1, lpt2 or the /dev/parportN at 0x378 or 0x278"
                                         : ": say which cable with -c (ppdev, ftdi, gpio or sim)");
        if (options.LptGiven && *named != lpt)
            return "--lpt and -P both name the parallel port; give one of them";
        lpt = *named;
        return {};
    }
    switch (cable->Kind) {
    case CableKind::Ftdi:
        if (port.empty() || port == "usb")
            spec = "ftdi";
        else if (port.rfind("usb:", 0) == 0)
            spec = "ftdi:serial=" + port.substr(4);
        else
            spec = "ftdi:" + (port.find('=') == std::string::npos ? "serial=" + port : port);
        return {};
    case CableKind::Gpio:
        if (port.empty())
            return "-c " + *options.Cable + " needs -P CHIP,rst=N,mosi=N,sck=N,miso=N (the GPIO chip and lines)";
        spec = "gpio:" + port;
        return {};
    case CableKind::Sim: {
        // The simulated chip is the device of -p, unless -P begins with one
        // (an item that is none of the options without a value).
        const std::string item = port.substr(0, port.find(','));
        const bool namesChip = !item.empty() && item.find('=') == std::string::npos && item != "lpt1" &&
                               item != "lpt2" && item != "iodelay";
        if (!namesChip && !device)
            return "-c " + *options.Cable + " with --device auto: name the simulated chip first in -P (-P AT89S52," +
                   "timing=instant)";
        spec = "sim:" + (namesChip ? port : std::string(device->Name) + (port.empty() ? "" : "," + port));
        return {};
    }
    case CableKind::Ppdev: break;
    }
    return {};
}

// The port backend chosen (null with `error` when it could not be made),
// and for ppdev whether the chosen LPT can be opened and claimed. Null (with
// `error`) when it cannot be used; the error
// names the option, variable or file that chose it.
std::unique_ptr<PortAccess> CheckPort(std::unique_ptr<PortAccess> port, const PortChoice& choice, int lpt,
                                      std::string& error)
{
    const std::string what = "Cannot open the port \"" + (choice.Spec.empty() ? std::string("ppdev") : choice.Spec) +
                             "\" (" + choice.Where() + "): ";
    if (!port) {
        error = what + error;
        return nullptr;
    }
    auto* ppdev = dynamic_cast<PpdevPort*>(port.get());
    if (!ppdev && !port->IsDriverInstalled()) {
        error = what + port->DriverDiagnosis();
        return nullptr;
    }
    if (ppdev) {
        // Why not, and what to do about it, as the window's first-run
        // message says it.
        if (const std::string why = ppdev->Unusable(lpt == 2 ? kLpt2Data : kLpt1Data); !why.empty()) {
            error = "Cannot open the parallel port LPT" + std::to_string(lpt) + ": " + why;
            return nullptr;
        }
    }
    return port;
}

// The settings of the command line, for each operation anew: a chip read
// sets the lock boxes and the x2 Clock box from the chip.
void ApplySettings(const cli::Options& options, const cli::Operation& op, Selection& selection)
{
    selection.Locks = LockBoxes{};
    if (options.LockLevel > 0)
        SetLockBox(selection.Locks, options.LockLevel, true);
    selection.X2Clock = options.X2Clock;
    selection.FuseWithProgramming = !op.FuseOnlyWithX2 || options.X2Clock;
    selection.EraseWithAuto = !options.NoErase;
    selection.VerifyWithAuto = !options.NoVerify;
}

// What the run is set to, worked out before the port is opened.
struct RunSetup {
    const Device* Chip = nullptr;
    std::optional<std::string> Port; // the cable of --port, -c or -P
    std::string PortOption;          // the option that gave it, as typed
    int Lpt = 1;
    std::optional<uint32_t> CrystalHz; // of --crystal or -B
    std::string CrystalFrom;
};

// What the options ask of `device` that it does not have; empty when nothing.
std::string DeviceProblem(const cli::Options& options, const Device& device)
{
    for (const cli::Operation& op : options.Operations)
        if (op.What == cli::Operation::Kind::WriteFuse && !device.HasFuse)
            return "--write-fuse: the " + std::string(device.Name) + " has no user fuse";
    if (options.X2Clock && !device.HasFuse)
        return "--x2: the " + std::string(device.Name) + " has no x2 Clock fuse";
    if (!device.HasDataMemory()) {
        std::string parts;
        for (const Device& d : Devices())
            if (d.HasDataMemory())
                parts += (parts.empty() ? "" : " and ") + std::string(d.Name);
        for (const cli::Operation& op : options.Operations)
            if (op.OnDataMemory())
                return op.Option + ": the " + std::string(device.Name) + " has no data memory (EEPROM); the " + parts +
                       " have one";
    }
    return {};
}

// The device, the cable and the crystal of the options; an empty string,
// or a usage problem.
std::string Prepare(const cli::Options& options, RunSetup& setup)
{
    setup.Chip = cli::DeviceNamed(options.Device);
    if (!setup.Chip && !cli::AutoDevice(options.Device))
        return "unknown device \"" + options.Device + "\"; the devices are " + DeviceList() +
               ", or auto (the chip detected)";
    if (setup.Chip)
        if (std::string problem = DeviceProblem(options, *setup.Chip); !problem.empty())
            return problem;

    setup.Lpt = options.Lpt;
    setup.Port = options.Port;
    setup.PortOption = "--port";
    if (options.Cable || options.CablePort) {
        std::string spec;
        if (std::string problem = CableOf(options, setup.Chip, spec, setup.Lpt); !problem.empty())
            return problem;
        setup.Port = spec;
        setup.PortOption = (options.Cable ? "-c " + *options.Cable : std::string()) +
                           (options.Cable && options.CablePort ? " " : "") +
                           (options.CablePort ? "-P " + *options.CablePort : std::string());
    }

    if (options.CrystalHz) {
        setup.CrystalHz = options.CrystalHz;
        setup.CrystalFrom = "--crystal";
    } else if (options.BitClockHz && !setup.Chip) {
        return "-B with --device auto: the serial clock depends on the device; give --device, or the target's "
               "crystal with --crystal";
    } else if (options.BitClockHz) {
        const Device& device = *setup.Chip;
        // The crystal at which the chip's shortest SCK phases make that
        // clock: the floor then keeps SCK at it, and the write cycles are
        // waited out for that crystal.
        const uint64_t clocks = device.Timing.SckHighClocks + device.Timing.SckLowClocks;
        const uint64_t hz = uint64_t(*options.BitClockHz) * clocks;
        if (hz > kMaxCrystalHz)
            return "-B " + options.BitClockText + ": the " + std::string(device.Name) +
                   " takes a serial clock of at most " + std::to_string(kMaxCrystalHz / clocks / 1000) +
                   " kHz (a " + std::to_string(kMaxCrystalHz / 1000000) + " MHz crystal)";
        setup.CrystalHz = uint32_t(hz);
        setup.CrystalFrom = "-B " + options.BitClockText + ", a serial clock of " +
                            std::to_string(*options.BitClockHz) + " Hz";
    }
    return {};
}

class Run {
public:
    explicit Run(Commands& commands) : commands_(commands) {}

    int Operation(const cli::Operation& op)
    {
        using Kind = cli::Operation::Kind;
        switch (op.What) {
        case Kind::Erase: return ExitStatus(commands_.Erase());
        case Kind::Blank: return ExitStatus(commands_.BlankCheck());
        case Kind::Program: return Load(op, [this] { return commands_.Program(); });
        case Kind::Verify: return Load(op, [this] { return commands_.Verify(); });
        case Kind::Auto: return Load(op, [this] { return commands_.AutoProgram(); });
        case Kind::Read: {
            const int status = ExitStatus(commands_.ReadChip());
            return status != kSucceeded ? status : ExitStatus(commands_.SaveCode(Named(op.File), op.Format));
        }
        case Kind::WriteLock: return ExitStatus(commands_.WriteLockBits());
        case Kind::WriteFuse: return ExitStatus(commands_.WriteFuse());
        case Kind::EepromWrite: return LoadData(op, [this] { return commands_.ProgramData(); });
        case Kind::EepromVerify: return LoadData(op, [this] { return commands_.VerifyData(); });
        case Kind::EepromRead: {
            const int status = ExitStatus(commands_.ReadData());
            return status != kSucceeded ? status : ExitStatus(commands_.SaveData(Named(op.File), op.Format));
        }
        case Kind::Detect: return ExitStatus(commands_.DetectChip());
        case Kind::Info: return ExitStatus(commands_.ChipInfo());
        }
        return kUsageOrFile;
    }

private:
    static Commands::FileChooser Named(const std::string& file)
    {
        return [file]() -> std::optional<std::string> { return file; };
    }

    // Loads the operation's file as "&Load Code" does (with its size
    // check), then runs `command` on it. A file that cannot be loaded, holds
    // no code or does not fit the device ends the run.
    template <class Command>
    int Load(const cli::Operation& op, Command command)
    {
        int32_t end = 0;
        const Outcome loaded = commands_.LoadCode(Named(op.File), &end, op.Format);
        if (loaded != Outcome::Succeeded)
            return ExitStatus(loaded);
        if (end == 0) {
            commands_.ShowMessage((op.File == kStandardStream ? std::string("Standard input") : "The file " + op.File) +
                                  " holds no code.");
            return kUsageOrFile;
        }
        return ExitStatus(command());
    }

    // The same for the data memory: the file into the data buffer (data
    // beyond 07FF refused with its line), then `command`.
    template <class Command>
    int LoadData(const cli::Operation& op, Command command)
    {
        int32_t end = 0;
        const Outcome loaded = commands_.LoadData(Named(op.File), op.Format, &end);
        if (loaded != Outcome::Succeeded)
            return ExitStatus(loaded);
        if (end == 0) {
            commands_.ShowMessage((op.File == kStandardStream ? std::string("Standard input") : "The file " + op.File) +
                                  " holds no data.");
            return kUsageOrFile;
        }
        return ExitStatus(command());
    }

    Commands& commands_;
};

// --device auto: detects the chip and selects it. A chip that cannot be
// told apart (no signature to read) or the options ask what it does not
// have: a usage error; no chip: a chip failure, its diagnosis logged.
int SelectDetected(Commands& commands, const cli::Options& options)
{
    const Outcome detected = commands.DetectChip();
    if (detected != Outcome::Succeeded)
        return ExitStatus(detected);
    const DetectReport& report = commands.DetectedReport();
    if (!report.Chip) {
        commands.ShowMessage(std::string("--device auto: ") +
                             (report.What == DetectReport::Kind::ThreeByte
                                  ? "an AT89S53 or AT89S8252 has no serial signature to tell which it is"
                                  : "the chip's signature names no device") +
                             "; give the device with --device (e.g. --device AT89S8252).");
        return kUsageOrFile;
    }
    if (const std::string problem = DeviceProblem(options, *report.Chip); !problem.empty()) {
        commands.ShowMessage("--device auto found the " + std::string(report.Chip->Name) + ": " + problem);
        return kUsageOrFile;
    }
    return kSucceeded;
}

// The operations of the command line, with the port open from start to end;
// the port is closed (a simulated chip saved) before this returns.
int RunOperations(const cli::Options& options, const RunSetup& setup)
{
    cli::ConsoleView view(stderr, ::isatty(STDERR_FILENO) == 1, options.Verbosity);
    view.SetForce(options.Force);
    LinkState link;
    auto buffer = std::make_unique<CodeBuffer>();
    Selection selection;
    Commands commands(link, *buffer, selection, view);

    std::vector<std::string> configProblems;
    const std::string configError = options.Config ? ReadProgramConfigFrom(link, *options.Config, &configProblems)
                                                   : ReadProgramConfig(link, ConfigSearchPlaces(), &configProblems);
    if (!configError.empty()) {
        commands.ShowMessage(configError);
        if (options.Config)
            return kUsageOrFile; // the file asked for; without one the values stay 0, as in the window
    }
    for (const std::string& problem : configProblems)
        commands.Log(problem);
    const bool verbose = options.Verbosity > 0;
    if (verbose) {
        const std::string config = options.Config ? *options.Config : FindConfig(ConfigSearchPlaces());
        if (configError.empty())
            commands.Log("Configuration " + config);
    }
    const auto logDevice = [&](const Device& device) {
        char last[8];
        std::snprintf(last, sizeof last, "%04X", unsigned(device.LastAddress) & 0xFFFFu);
        std::string data;
        if (device.HasDataMemory()) {
            char dataLast[8];
            std::snprintf(dataLast, sizeof dataLast, "%04X", unsigned(device.Data.Size - 1) & 0xFFFFu);
            data = std::string(", data memory 0000-") + dataLast;
        }
        if (verbose)
            commands.Log("Device " + std::string(device.Name) + ", code memory 0000-" + last + data);
    };
    if (setup.Chip)
        logDevice(*setup.Chip);

    // The choices remembered in the settings file both programs read.
    SettingsFile settings;
    if (const std::string error = settings.Load(); !error.empty())
        commands.Log(error);

    const PortChoice choice = ChoosePort(setup.Port, setup.PortOption, settings);
    if (verbose)
        commands.Log("Port " + (choice.Spec.empty() ? std::string("ppdev") : choice.Spec) + " (" + choice.Where() +
                     ")" + (choice.Spec.empty() || choice.Spec == "ppdev" ? ", LPT" + std::to_string(setup.Lpt) : ""));
    const uint16_t dataPort = setup.Lpt == 2 ? kLpt2Data : kLpt1Data;
    // --crystal or -B for this run, else the crystal chosen last in either
    // program.
    std::string crystalFrom = setup.CrystalFrom;
    if (setup.CrystalHz) {
        link.CrystalHz = *setup.CrystalHz;
    } else if (const std::optional<uint32_t> remembered = RememberedCrystal(settings)) {
        link.CrystalHz = *remembered;
        crystalFrom = "remembered in " + settings.Path();
    } else {
        link.CrystalHz = kDefaultCrystalHz;
        crystalFrom = "the default";
    }
    std::string portError;
    std::unique_ptr<PortAccess> port = OpenPortAccess(choice.Spec, portError, "");
    // A cable whose firmware clocks the chip may not suit the device: refused
    // before the cable is opened (an Arduino resets and is synced for up to
    // 2.5 s first), as the command would be.
    if (port && setup.Chip) {
        if (const std::string refusal = port->TargetRefusal(NeedsOf(link, *setup.Chip)); !refusal.empty()) {
            commands.ShowMessage(refusal);
            commands.SetStatus(kNotForThisCable);
            return kUsageOrFile;
        }
    }
    port = CheckPort(std::move(port), choice, setup.Lpt, portError);
    if (!port) {
        commands.ShowMessage(portError);
        return kNoPort;
    }
    // Stopped by a stop signal, released by a crash; given up before the
    // port closes.
    WatchedLink watched(link);

    // The start of the window: program-mode lines, a cleared buffer, the
    // wait calibration (whose result is 0 anyway with a timing factor of 0).
    link.Port = port.get();
    commands.PowerUp(dataPort);
    if (link.TimingFactor != 0)
        CalibrateWait(link);
    selection.DeviceCode = setup.Chip ? setup.Chip->Code : -1;
    selection.AutoRun = !options.NoRun;
    if (verbose)
        commands.Log("Crystal " + std::to_string(link.CrystalHz) + " Hz (" + crystalFrom + ")");
    selection.AutoReload = false; // each operation loads its file just before
    selection.DataWithAuto = false; // the data memory only as --eeprom-write says

    Run run(commands);
    int status = kSucceeded;
    // --device auto: the chip detected is the device of the operations.
    const bool detectOnly = std::all_of(options.Operations.begin(), options.Operations.end(),
                                        [](const cli::Operation& op) { return op.What == cli::Operation::Kind::Detect; });
    if (!setup.Chip && !detectOnly) {
        status = SelectDetected(commands, options);
        if (status == kSucceeded)
            logDevice(*selection.SelectedDevice());
    }
    for (const cli::Operation& op : options.Operations) {
        if (link.StopRequested || status != kSucceeded)
            break;
        ApplySettings(options, op, selection);
        status = run.Operation(op);
        if (status != kSucceeded && !port->Failure().empty())
            status = kNoPort; // the cable was lost, not refused by the chip
        if (status != kSucceeded)
            break;
    }
    if (link.StopRequested)
        if (const ExitSignals* exitSignals = ExitSignals::Current(); exitSignals && exitSignals->Received())
            commands.Log(EndingOnSignal(exitSignals->Received()));
    if (options.NoRun) {
        // Held in reset, also after a stop signal: a chip stopped half-way
        // is better kept from running what it holds.
        commands.StayInProgramMode();
        if (dynamic_cast<GpioPort*>(port.get()))
            commands.Log("The GPIO lines are given back to the system at exit: RST is no longer driven");
    } else {
        // As at the window's exit: the target is left running. After an
        // AUTO-PROGRAM that let it run already, the lines are set once more
        // without a second "RUN MODE." in the log.
        if (link.ProgramMode == 0)
            SetRunModeLines(link);
        else
            commands.LeaveRunning();
    }
    return status;
}

} // namespace

int main(int argc, char* argv[])
{
    cli::Options options;
    if (const std::string problem = cli::ParseCommandLine({argv + 1, argv + argc}, options); !problem.empty())
        return UsageError(problem);
    if (options.Help) {
        std::fputs(cli::UsageText(), stdout);
        return kSucceeded;
    }
    if (options.Version) {
        std::printf("qvx-isp-cli %s\n", kVersion);
        return kSucceeded;
    }
    if (options.ListDevices || options.ListCables) {
        if (options.ListDevices)
            ListDevices();
        if (options.ListCables)
            ListCables();
        return kSucceeded;
    }
    RunSetup setup;
    if (const std::string problem = Prepare(options, setup); !problem.empty())
        return UsageError(problem);

    // From here on SIGINT, SIGTERM and SIGHUP stop the running operation at
    // its next byte and end the run as it ends normally; the exit status
    // then tells the signal.
    ExitSignals exitSignals;
    return exitSignals.ExitStatus(RunOperations(options, setup));
}
