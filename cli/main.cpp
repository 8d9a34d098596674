// qvx-isp-cli: the programmer's commands without a window, for production
// runs, makefiles and test rigs. The operations run in the order given; the
// exit status says how the run ended.
#include "CommandLine.h"
#include "Commands.h"
#include "Console.h"
#include "ExitSignals.h"
#include "PortAccess.h"
#include "PpdevPort.h"
#include "ProgramConfig.h"
#include "Settings.h"
#include "Version.h"

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

const Device* DeviceNamed(std::string name)
{
    for (char& c : name)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    return FindDevice(DeviceCodeByName(name));
}

// The port backend of --port, else of QVX_PORT, else the cable remembered,
// else ppdev; for ppdev also whether the chosen LPT can be opened and
// claimed. Null (with `error`) when it cannot be used.
std::unique_ptr<PortAccess> OpenPort(const cli::Options& options, const SettingsFile& settings, uint16_t dataPort,
                                     std::string& error)
{
    const std::string spec = ChoosePort(options.Port, "--port", settings).Spec;
    std::unique_ptr<PortAccess> port = OpenPortAccess(spec, error);
    if (!port) {
        error = "Cannot open the port \"" + spec + "\": " + error;
        return nullptr;
    }
    auto* ppdev = dynamic_cast<PpdevPort*>(port.get());
    if (!ppdev && !port->IsDriverInstalled()) {
        error = "Cannot open the port \"" + spec + "\": " + port->DriverDiagnosis();
        return nullptr;
    }
    if (ppdev) {
        // Why not, and what to do about it, as the window's first-run
        // message says it.
        if (const std::string why = ppdev->Unusable(dataPort); !why.empty()) {
            error = "Cannot open the parallel port LPT" + std::to_string(options.Lpt) + ": " + why;
            return nullptr;
        }
    }
    return port;
}

// The settings of the command line, for each operation anew: a chip read
// sets the lock boxes and the x2 Clock box from the chip.
void ApplySettings(const cli::Options& options, Selection& selection)
{
    selection.Locks = LockBoxes{};
    if (options.LockLevel > 0)
        SetLockBox(selection.Locks, options.LockLevel, true);
    selection.X2Clock = options.X2Clock;
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
        case Kind::Program: return Load(op.File, [this] { return commands_.Program(); });
        case Kind::Verify: return Load(op.File, [this] { return commands_.Verify(); });
        case Kind::Auto: return Load(op.File, [this] { return commands_.AutoProgram(); });
        case Kind::Read: {
            const int status = ExitStatus(commands_.ReadChip());
            return status != kSucceeded ? status : ExitStatus(commands_.SaveCode(Named(op.File)));
        }
        case Kind::WriteLock: return ExitStatus(commands_.WriteLockBits());
        case Kind::WriteFuse: return ExitStatus(commands_.WriteFuse());
        }
        return kUsageOrFile;
    }

private:
    static Commands::FileChooser Named(const std::string& file)
    {
        return [file]() -> std::optional<std::string> { return file; };
    }

    // Loads `file` as "&Load Code" does (with its size check), then runs
    // `command` on it. A file that cannot be loaded, holds no code or does
    // not fit the device ends the run.
    template <class Command>
    int Load(const std::string& file, Command command)
    {
        int32_t end = 0;
        const Outcome loaded = commands_.LoadCode(Named(file), &end);
        if (loaded != Outcome::Succeeded)
            return ExitStatus(loaded);
        if (end == 0) {
            commands_.ShowMessage("The file " + file + " holds no code.");
            return kUsageOrFile;
        }
        return ExitStatus(command());
    }

    Commands& commands_;
};

// The operations of the command line, with the port open from start to end;
// the port is closed (a simulated chip saved) before this returns.
int RunOperations(const cli::Options& options, const Device& device)
{
    cli::ConsoleView view(stderr, ::isatty(STDERR_FILENO) == 1);
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

    // The choices remembered in the settings file both programs read.
    SettingsFile settings;
    if (const std::string error = settings.Load(); !error.empty())
        commands.Log(error);

    const uint16_t dataPort = options.Lpt == 2 ? kLpt2Data : kLpt1Data;
    std::string portError;
    std::unique_ptr<PortAccess> port = OpenPort(options, settings, dataPort, portError);
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
    selection.DeviceCode = device.Code;
    selection.AutoRun = !options.NoRun;
    // --crystal for this run, else the crystal chosen last in either program.
    link.CrystalHz = options.CrystalHz ? *options.CrystalHz : RememberedCrystal(settings).value_or(kDefaultCrystalHz);
    selection.AutoReload = false; // each operation loads its file just before

    Run run(commands);
    int status = kSucceeded;
    for (const cli::Operation& op : options.Operations) {
        if (link.StopRequested)
            break;
        ApplySettings(options, selection);
        status = run.Operation(op);
        if (status != kSucceeded && !port->Failure().empty())
            status = kNoPort; // the cable was lost, not refused by the chip
        if (status != kSucceeded)
            break;
    }
    if (link.StopRequested)
        if (const ExitSignals* exitSignals = ExitSignals::Current(); exitSignals && exitSignals->Received())
            commands.Log(EndingOnSignal(exitSignals->Received()));
    // As at the window's exit: the target is left running.
    commands.LeaveRunning();
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
    const Device* device = DeviceNamed(options.Device);
    if (!device)
        return UsageError("unknown device \"" + options.Device + "\"; the devices are " + DeviceList());
    for (const cli::Operation& op : options.Operations)
        if (op.What == cli::Operation::Kind::WriteFuse && !device->HasFuse)
            return UsageError("--write-fuse: the " + std::string(device->Name) + " has no user fuse");
    if (options.X2Clock && !device->HasFuse)
        return UsageError("--x2: the " + std::string(device->Name) + " has no x2 Clock fuse");

    // From here on SIGINT, SIGTERM and SIGHUP stop the running operation at
    // its next byte and end the run as it ends normally; the exit status
    // then tells the signal.
    ExitSignals exitSignals;
    return exitSignals.ExitStatus(RunOperations(options, *device));
}
