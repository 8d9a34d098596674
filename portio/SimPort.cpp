#include "SimPort.h"
#include "PortOptions.h"
#include "StateFile.h"

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstring>
#include <iostream>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace qvx {

namespace {

constexpr uint8_t kRstBit = 4, kMosiBit = 5, kSckBit = 6;
constexpr uint8_t kSenseBit = 4, kMisoBit = 6;
constexpr uint8_t kRunBit3 = 3, kRunBit7 = 7;
constexpr uint8_t kShownLines = 1u << kRstBit | 1u << kRunBit3 | 1u << kRunBit7;
constexpr int64_t kIsaAccessNs = 1000; // one access to an ISA-bus parallel port

const char* const kAcceptedOptions =
    "accepted options: lpt1, lpt2, timing=realistic|virtual|instant, xtal=HZ, iodelay[=NS], "
    "fault=nocable|nochip|noenable|busy|busyerase|nolock|misolow, noise=P, seed=N, weak=ADDR, pageheader=2|3, state=PATH, "
    "trace=PATH, lines=PATH";

// Which LPT (0 or 1) and which register (0 data, 1 status, 2 control) an
// address is; false for an address with no port.
bool Decode(uint16_t port, int& lpt, int& reg)
{
    for (int i = 0; i < 2; ++i) {
        const uint16_t base = i == 0 ? kLpt1Data : kLpt2Data;
        if (port >= base && port <= base + 2) {
            lpt = i;
            reg = port - base;
            return true;
        }
    }
    return false;
}

// "0x1A00", "1A00h" or "6656".
bool ParseAddress(std::string_view text, uint32_t& value)
{
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        return ParseInteger(text.substr(2), value, 16);
    if (text.size() > 1 && (text.back() == 'h' || text.back() == 'H'))
        return ParseInteger(text.substr(0, text.size() - 1), value, 16);
    return ParseInteger(text, value, 10);
}

bool ParseProbability(std::string_view text, double& value)
{
    if (text.empty())
        return false;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && ptr == end && value >= 0.0 && value <= 1.0;
}

std::string DeviceList()
{
    std::string names;
    for (const sim::Device& d : sim::Devices())
        names += (names.empty() ? "" : ", ") + std::string(d.name);
    return names;
}

} // namespace

SimPort::SimPort(const sim::Device& device, SimCableOptions cable, sim::ChipOptions chip)
    : cable_(std::move(cable)), chip_(device, chip)
{
    if (chip.timing == sim::Timing::Virtual)
        tickNs_ = cable_.ioDelayNs >= 0 ? cable_.ioDelayNs : kIsaAccessNs;
}

SimPort::~SimPort()
{
    std::string error;
    if (!SaveState(error))
        std::cerr << "QVX-ISP: simulated chip not saved: " << error << '\n';
    chip_.SetTraceSink(nullptr);
    if (linesFd_ >= 0)
        ::close(linesFd_);
}

// Whether a call reaches a register on real hardware: writes to a data or
// control register and reads of a status register do; the rest are answered
// from the data register's shadow or dropped.
static bool ReachesRegister(uint16_t port, bool write)
{
    int lpt = 0, reg = 0;
    if (!Decode(port, lpt, reg))
        return false;
    return write ? reg != 1 : reg == 1;
}

// Every access that reaches a register takes the time of a bus cycle when
// the options ask for it.
void SimPort::Access(bool reachesRegister)
{
    ++accesses_;
    if (!reachesRegister)
        return;
    ++charged_;
    if (tickNs_ > 0) {
        chip_.AdvanceTime(std::chrono::nanoseconds(tickNs_));
    } else if (chip_.Options().timing != sim::Timing::Virtual && cable_.ioDelayNs > 0) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::nanoseconds(cable_.ioDelayNs);
        while (std::chrono::steady_clock::now() < until) {
        }
    }
}

void SimPort::SetPortBit(uint16_t port, uint8_t bit)
{
    Access(ReachesRegister(port, true));
    if (bit < 8)
        WriteRegister(port, static_cast<uint8_t>(Register(port) | (1u << bit)));
}

void SimPort::ClrPortBit(uint16_t port, uint8_t bit)
{
    Access(ReachesRegister(port, true));
    if (bit < 8)
        WriteRegister(port, static_cast<uint8_t>(Register(port) & ~(1u << bit)));
}

bool SimPort::GetPortBit(uint16_t port, uint8_t bit)
{
    Access(ReachesRegister(port, false));
    return bit < 8 && (Register(port) >> bit) & 1;
}

std::chrono::nanoseconds SimPort::Now()
{
    if (chip_.Options().timing == sim::Timing::Realistic)
        return PortAccess::Now();
    return std::chrono::nanoseconds(chip_.NowNs());
}

void SimPort::WaitUntil(std::chrono::nanoseconds deadline)
{
    if (chip_.Options().timing == sim::Timing::Realistic) {
        PortAccess::WaitUntil(deadline);
        return;
    }
    const std::chrono::nanoseconds now = Now();
    if (deadline > now)
        chip_.AdvanceTime(deadline - now);
}

void SimPort::WriteRegister(uint16_t port, uint8_t value)
{
    int lpt = 0, reg = 0;
    if (!Decode(port, lpt, reg))
        return;
    if (reg == 0) {
        const uint8_t before = data_[lpt];
        data_[lpt] = value;
        if (lpt == (cable_.lpt2 ? 1 : 0)) {
            DrivePins();
            if ((before ^ value) & kShownLines)
                ShowLines();
        }
    } else if (reg == 2) {
        control_[lpt] = value;
    }
    // The status register is input only.
}

void SimPort::DrivePins()
{
    if (!cable_.cableAttached || !cable_.chipPresent)
        return;
    const uint8_t d = data_[cable_.lpt2 ? 1 : 0];
    chip_.SetPins((d >> kRstBit) & 1, (d >> kSckBit) & 1, (d >> kMosiBit) & 1);
}

uint8_t SimPort::Status(int lpt) const
{
    uint8_t status = 0xFF; // open inputs float high
    const bool cableHere = cable_.cableAttached && lpt == (cable_.lpt2 ? 1 : 0);
    if (!cableHere) {
        status &= static_cast<uint8_t>(~(1u << kSenseBit));
        return status;
    }
    const bool rst = (data_[lpt] >> kRstBit) & 1;
    if (!rst)
        status &= static_cast<uint8_t>(~(1u << kSenseBit));
    const bool miso = !cable_.misoLow && (cable_.chipPresent ? chip_.Miso() : true);
    if (!miso)
        status &= static_cast<uint8_t>(~(1u << kMisoBit));
    return status;
}

uint8_t SimPort::Register(uint16_t port) const
{
    int lpt = 0, reg = 0;
    if (!Decode(port, lpt, reg))
        return 0xFF;
    if (reg == 0)
        return data_[lpt];
    if (reg == 1)
        return Status(lpt);
    return control_[lpt];
}

bool SimPort::LoadState(std::string& error)
{
    if (cable_.statePath.empty())
        return true;
    stateLock_ = sim::LockState(cable_.statePath, error);
    stateLoaded_ = stateLock_ && sim::LoadState(chip_, cable_.statePath, error);
    if (!stateLoaded_)
        stateLock_.reset();
    return stateLoaded_;
}

// Only a chip whose state was loaded (or found absent) is saved, so files
// that could not be read are never overwritten.
bool SimPort::SaveState(std::string& error)
{
    if (cable_.statePath.empty() || !stateLoaded_)
        return true;
    chip_.Settle();
    return sim::SaveState(chip_, cable_.statePath, error);
}

void SimPort::SignalSafeWrite(uint16_t port, uint8_t set, uint8_t clear) noexcept
{
    int lpt = 0, reg = 0;
    if (!Decode(port, lpt, reg) || reg != 0)
        return;
    data_[lpt] = static_cast<uint8_t>((data_[lpt] | set) & ~clear);
    if (lpt == (cable_.lpt2 ? 1 : 0))
        ShowLines();
}

// Written in place with one pwrite of a fixed length, so a reader never sees
// a mix of two states, and safe in a signal handler.
void SimPort::ShowLines() noexcept
{
    if (linesFd_ < 0)
        return;
    const uint8_t d = data_[cable_.lpt2 ? 1 : 0];
    char text[] = "RST=0 D3=0 D7=0\n";
    text[4] = char('0' + ((d >> kRstBit) & 1));
    text[9] = char('0' + ((d >> kRunBit3) & 1));
    text[14] = char('0' + ((d >> kRunBit7) & 1));
    [[maybe_unused]] const ssize_t written = ::pwrite(linesFd_, text, sizeof text - 1, 0);
}

bool SimPort::OpenLines(const std::string& path, std::string& error)
{
    linesFd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (linesFd_ < 0) {
        error = "cannot write the lines file " + path + ": " + std::strerror(errno);
        return false;
    }
    ShowLines();
    return true;
}

bool SimPort::OpenTrace(const std::string& path, std::string& error)
{
    trace_.open(path, std::ios::out | std::ios::trunc);
    if (!trace_) {
        error = "cannot write the trace file " + path + ": " + std::strerror(errno);
        return false;
    }
    chip_.SetTraceSink([this](const std::string& line) {
        trace_ << line << '\n';
        trace_.flush();
    });
    return true;
}

bool ParseSimOptions(std::string_view options, SimSettings& settings, std::string& error)
{
    error.clear();
    const std::vector<PortOption> parts = SplitPortOptions(options);
    const sim::Device* device = sim::FindDevice(parts[0].text);
    if (!device) {
        error = parts[0].text.empty()
                    ? "name the chip first, as in sim:AT89S52[,option...]; DEVICE is one of " + DeviceList()
                    : "unknown device \"" + std::string(parts[0].text) + "\"; DEVICE is one of " + DeviceList();
        return false;
    }

    SimCableOptions& cable = settings.cable;
    sim::ChipOptions& chip = settings.chip;
    cable = {};
    chip = {};
    std::string weakText;
    for (size_t i = 1; i < parts.size(); ++i) {
        const std::string_view part = parts[i].text, key = parts[i].key, value = parts[i].value;
        const bool hasValue = parts[i].hasValue;
        auto bad = [&](const std::string& what) {
            error = OptionError(parts[i], what);
            return false;
        };

        if (key == "lpt1" && !hasValue) {
            cable.lpt2 = false;
        } else if (key == "lpt2" && !hasValue) {
            cable.lpt2 = true;
        } else if (key == "timing" && hasValue) {
            if (value == "realistic")
                chip.timing = sim::Timing::Realistic;
            else if (value == "virtual")
                chip.timing = sim::Timing::Virtual;
            else if (value == "instant")
                chip.timing = sim::Timing::Instant;
            else
                return bad("timing is realistic, virtual or instant");
        } else if (key == "xtal" && hasValue) {
            if (!ParseInteger(value, chip.xtalHz) || chip.xtalHz == 0)
                return bad("the crystal frequency is a whole number of hertz, e.g. xtal=11059200");
        } else if (key == "iodelay") {
            cable.ioDelayNs = kIsaAccessNs;
            if (hasValue && (!ParseInteger(value, cable.ioDelayNs) || cable.ioDelayNs < 0 ||
                             cable.ioDelayNs > 1'000'000'000))
                return bad("the delay is a whole number of nanoseconds from 0 to 1000000000");
        } else if (key == "fault" && hasValue) {
            if (value == "nocable")
                cable.cableAttached = false;
            else if (value == "nochip")
                cable.chipPresent = false;
            else if (value == "misolow")
                cable.misoLow = true;
            else if (value == "noenable")
                chip.neverEnables = true;
            else if (value == "busy")
                chip.endlessWrite = true;
            else if (value == "busyerase")
                chip.endlessErase = true;
            else if (value == "nolock")
                chip.stuckLocks = true;
            else
                return bad("faults are nocable, nochip, noenable, busy, busyerase, nolock and misolow");
        } else if (key == "noise" && hasValue) {
            if (!ParseProbability(value, chip.misoNoise))
                return bad("the noise is a probability from 0 to 1, e.g. noise=0.001");
        } else if (key == "seed" && hasValue) {
            if (!ParseInteger(value, chip.noiseSeed))
                return bad("the seed is a whole number");
        } else if (key == "weak" && hasValue) {
            uint32_t address = 0;
            if (!ParseAddress(value, address) || address >= device->codeSize)
                return bad("the weak cell is a code address below " + std::to_string(device->codeSize) +
                           " on an " + std::string(device->name) + ", e.g. weak=0x0100");
            chip.weakCell = address;
        } else if (key == "pageheader" && hasValue) {
            if (device->page.headerBytes != 3)
                return bad("only the AT89S8253's page header has two readings");
            if (value != "2" && value != "3")
                return bad("the page header is 2 bytes (the datasheet's prose) or 3 (its instruction table)");
            chip.pageHeaderBytes = uint32_t(value[0] - '0');
        } else if (key == "state" && hasValue && !value.empty()) {
            cable.statePath = std::string(value);
        } else if (key == "trace" && hasValue && !value.empty()) {
            cable.tracePath = std::string(value);
        } else if (key == "lines" && hasValue && !value.empty()) {
            cable.linesPath = std::string(value);
        } else {
            error = (part.empty() ? std::string("empty option") : "unknown option \"" + std::string(part) + "\"") +
                    "; " + kAcceptedOptions;
            return false;
        }
    }
    settings.device = device;
    return true;
}

std::unique_ptr<SimPort> MakeSimPort(std::string_view options, std::string& error)
{
    SimSettings settings;
    if (!ParseSimOptions(options, settings, error))
        return nullptr;
    const SimCableOptions& cable = settings.cable;
    auto port = std::make_unique<SimPort>(*settings.device, cable, settings.chip);
    if (!port->LoadState(error)) {
        error = "state file: " + error; // the files stay as they are: nothing is saved over them
        return nullptr;
    }
    if (!cable.tracePath.empty() && !port->OpenTrace(cable.tracePath, error))
        return nullptr;
    if (!cable.linesPath.empty() && !port->OpenLines(cable.linesPath, error))
        return nullptr;
    return port;
}

std::unique_ptr<PortAccess> OpenSimPort(std::string_view options, std::string& error)
{
    return MakeSimPort(options, error);
}

} // namespace qvx
