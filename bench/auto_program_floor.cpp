// AUTO-PROGRAM against its floor, for all seven devices in one run; READ
// CHIP and VERIFY CODE of the parts with page reads against theirs; then an
// AT89S52 through the other cables.
//
// Each device is programmed as a user would: the main window (offscreen) on
// the simulated chip with realistic timing and 1 us per port access, the
// CONFIG.QVX of the working directory, a HEX file of random data that fills
// the chip, Lock Bit 2 ticked, Auto RUN on; the AUTO-PROGRAM click is timed.
//
// The floor is what no programmer on this cable can beat, taken from the
// simulator's own timing table: the chip erase, one write cycle per byte
// written (per page on a part with page writes) and per fuse and lock write,
// plus the fewest port accesses the instructions of the sequence need (one
// programming enable, the erase, one write per byte that is not FF or one
// page write per page that holds one, the verify's reads: one page read per
// page on a part with page reads, else one read per byte, the fuse and lock
// writes), four accesses per clocked bit (MOSI, SCK up, MISO, SCK down),
// each bit lasting at least the part's shortest SCK period.
//
// READ CHIP and VERIFY CODE are clicked in the same window on a chip that
// holds random data (VERIFY with it loaded). Their floor: one programming
// enable, the page reads of the whole chip (twice for READ CHIP, whose bytes
// count once two reads agree; once for VERIFY CODE), and for READ CHIP the
// lock bit and fuse reads, at the same cost per bit.
//
// The second table clicks the same AUTO-PROGRAM of an AT89S52 through
//  - the parallel port again, for comparison;
//  - GPIO lines: the virtual GPIO chip whose line accesses are the simulated
//    cable's register accesses, 1 us each; same floor as the parallel port;
//  - the FT232R USB cable: a virtual FT232R in synchronous bit-bang mode at
//    the documented 1,000,000 bytes a second (62,500 baud times sixteen),
//    with a USB round trip of 1 ms and of 4 ms per transfer or stream, its
//    clock kept in step with the wall clock. Its floor: the same
//    instructions clocked at the cable's bytes per bit (each SCK phase as
//    many bytes as the part's minimum needs), the erase and the write
//    cycles, and one round trip;
//  - the same cable driven bit by bit (each MISO sample and each sense
//    check a round trip of its own), as the parallel port is: computed on
//    the virtual FT232R's clock at the first round trip, not waited out.
//
//  - an Arduino running the ArduinoISP sketch at 19200 baud: the virtual
//    sketch on a pseudo-terminal, its clock kept in step with the wall
//    clock. Its floor: the bytes of the universal commands on the serial
//    line (six for each instruction of the sequence, ten bits a byte) and
//    the erase, during which the chip takes nothing;
//  - a USBasp: the virtual USBasp with a control transfer of 1 ms, in step
//    with the wall clock. Its floor: one transfer per instruction and the
//    erase.
//
//   auto_program_floor [DEVICE...] [--xtal=HZ] [--iodelay=NS] [--seed=N]
//                      [--rtt=NS[,NS...]] [--devices-only | --reads-only | --cables-only | --hobby-only]
//
// Run from the repository root so the shipped CONFIG.QVX is read:
//   build/bench/auto_program_floor
// A timing program, not a test: it takes a few minutes and keeps one core
// busy; run it on a quiet machine.
#include "ArduinoPort.h"
#include "Device.h"
#include "FtdiPort.h"
#include "GpioPort.h"
#include "ISP_S8252.h"
#include "SimPort.h"
#include "VirtualFt232r.h"
#include "VirtualArduinoIsp.h"
#include "VirtualGpioChip.h"
#include "VirtualUsbasp.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QPushButton>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <tuple>
#include <string>
#include <vector>

using namespace qvx;

namespace {

struct Options {
    std::vector<std::string> devices;
    uint32_t xtalHz = kDefaultCrystalHz;
    int64_t ioDelayNs = 1000;
    uint32_t seed = 2024;
    std::vector<int64_t> roundTripsNs{1'000'000, 4'000'000};
    bool deviceTable = true, readTable = true, cableTable = true, hobbyRows = true;
};

// Intel HEX of `image` from address 0, 16 bytes a record.
void WriteHex(const std::string& path, const std::vector<uint8_t>& image)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    char line[64];
    for (size_t at = 0; at < image.size(); at += 16) {
        const size_t n = std::min<size_t>(16, image.size() - at);
        unsigned sum = unsigned(n) + unsigned(at >> 8 & 0xFF) + unsigned(at & 0xFF);
        std::snprintf(line, sizeof line, ":%02X%04X00", unsigned(n), unsigned(at));
        out << line;
        for (size_t i = 0; i < n; ++i) {
            std::snprintf(line, sizeof line, "%02X", image[at + i]);
            out << line;
            sum += image[at + i];
        }
        std::snprintf(line, sizeof line, "%02X\r\n", (0x100 - (sum & 0xFF)) & 0xFF);
        out << line;
    }
    out << ":00000001FF\r\n";
}

struct Floor {
    double seconds;
    uint64_t accesses;
    uint64_t bits;   // clocked by the sequence's instructions
    double busyNs;   // the erase and write cycles
};

// Bits of one instruction of the part's set.
uint64_t InstructionBits(const sim::Device& d) { return d.set == sim::InstructionSet::ThreeByte ? 24 : 32; }

// Bits of one page read, and of reading every byte of the chip once: by
// pages where the part has page reads.
uint64_t PageReadBits(const sim::Device& d) { return uint64_t(d.page.headerBytes + d.page.readBytes) * 8; }
uint64_t ChipReadBits(const sim::Device& d)
{
    return d.page.readBytes ? d.codeSize / d.page.readBytes * PageReadBits(d) : d.codeSize * InstructionBits(d);
}

// The shortest bit on the parallel port: four accesses, and the part's SCK period.
double BitNs(const sim::Device& d, uint32_t xtalHz, int64_t ioDelayNs)
{
    const uint32_t sckClocks = std::max(d.sck.minPeriod, d.sck.minHigh + d.sck.minLow);
    return std::max(4.0 * double(ioDelayNs), double(sckClocks) * 1e9 / xtalHz);
}

// The floor of an AUTO-PROGRAM at lock level 2 writing `written` bytes, in
// `pages` pages on a part with page writes.
Floor FloorOf(const sim::Device& d, uint32_t xtalHz, int64_t ioDelayNs, uint64_t written, uint64_t pages)
{
    const uint64_t bits = InstructionBits(d);
    const uint64_t lockWrites = d.locks == sim::LockScheme::ModeSteps ? 3 : 1; // modes 1, 2, 3
    const uint64_t fuseWrites = d.userFuse ? 1 : 0;
    const bool paged = d.page.writeBytes > 0;
    const uint64_t programBits = paged ? pages * (d.page.headerBytes + d.page.writeBytes) * 8 : written * bits;
    const uint64_t clocked = (1 /* enable */ + 1 /* erase */ + fuseWrites + lockWrites) * bits + programBits +
                             ChipReadBits(d) /* verify */;
    const double busyNs = double(d.eraseNs) +
                          (paged ? double(pages) * double(d.page.writeNs) : double(written) * double(sim::WriteCycleNs(d, xtalHz))) +
                          double(fuseWrites + lockWrites) * double(sim::WriteCycleNs(d, xtalHz));
    return {(double(clocked) * BitNs(d, xtalHz, ioDelayNs) + busyNs) / 1e9, clocked * 4, clocked, busyNs};
}

// The floor of READ CHIP (`reads` 2, with the lock bit and fuse reads) or
// VERIFY CODE (`reads` 1) of the whole chip.
Floor ReadFloorOf(const sim::Device& d, uint32_t xtalHz, int64_t ioDelayNs, int reads)
{
    const uint64_t status = reads == 2 ? (d.userFuse ? 2 : 1) : 0;
    const uint64_t clocked = (1 + status) * InstructionBits(d) + uint64_t(reads) * ChipReadBits(d);
    return {double(clocked) * BitNs(d, xtalHz, ioDelayNs) / 1e9, clocked * 4, clocked, 0};
}

bool Parse(int argc, char** argv, Options& o)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.rfind("--xtal=", 0) == 0)
            o.xtalHz = uint32_t(std::stoul(arg.substr(7)));
        else if (arg.rfind("--iodelay=", 0) == 0)
            o.ioDelayNs = std::stoll(arg.substr(10));
        else if (arg.rfind("--seed=", 0) == 0)
            o.seed = uint32_t(std::stoul(arg.substr(7)));
        else if (arg.rfind("--rtt=", 0) == 0) {
            o.roundTripsNs.clear();
            for (size_t at = 6; at < arg.size();) {
                const size_t comma = std::min(arg.find(',', at), arg.size());
                o.roundTripsNs.push_back(std::stoll(arg.substr(at, comma - at)));
                at = comma + 1;
            }
        } else if (arg == "--devices-only")
            o.readTable = o.cableTable = false;
        else if (arg == "--reads-only")
            o.deviceTable = o.cableTable = false;
        else if (arg == "--cables-only")
            o.deviceTable = o.readTable = false;
        else if (arg == "--hobby-only")
            o.deviceTable = o.readTable = o.cableTable = false;
        else if (sim::FindDevice(arg))
            o.devices.push_back(arg);
        else
            return false;
    }
    if (o.devices.empty())
        for (const sim::Device& d : sim::Devices())
            o.devices.emplace_back(d.name);
    return o.xtalHz > 0 && o.ioDelayNs > 0 && !o.roundTripsNs.empty() &&
           std::all_of(o.roundTripsNs.begin(), o.roundTripsNs.end(), [](int64_t ns) { return ns >= 0; });
}

// One AUTO-PROGRAM click in a window on `port`, with `chip` on the wire.
struct Click {
    double seconds = 0;
    bool ok = false;
    std::vector<std::string> messages;
    std::string lastStatus;
    uint64_t accesses = 0; // port accesses that reached a register
};

Click ClickAutoProgram(PortAccess& port, sim::Chip& chip, const std::string& name, const std::vector<uint8_t>& image,
                       const QString& hex, uint32_t xtalHz)
{
    Click c;
    std::vector<std::string> statuses;
    TfrmMain::Hooks hooks;
    hooks.OpenFile = [&]() -> std::optional<QString> { return hex; };
    hooks.Message = [&](const QString& text) { c.messages.push_back(text.toStdString()); };
    hooks.AskCrystal = [](const QStringList&, const QString&) -> std::optional<QString> { return std::nullopt; };
    TfrmMain window(port, hooks);
    window.Link().CrystalHz = xtalHz; // the board's crystal, whatever the user's setting says
    window.DeviceMenuItem(DeviceCodeByName(name))->trigger();
    window.btnLoadFile->click();
    window.chkLock2->setChecked(true);
    window.WindowHooks().Status = [&](const QString& text) { statuses.push_back(text.toStdString()); };

    const auto start = std::chrono::steady_clock::now();
    window.btnAuto->click();
    c.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    chip.Settle();
    c.ok = chip.Code() == image && chip.LockBit(1) && chip.LockBit(2) && !chip.LockBit(3) && c.messages.empty() &&
           statuses.size() >= 2 && statuses[statuses.size() - 2] == "Auto Programming finished." &&
           statuses.back() == "RUN MODE.";
    c.lastStatus = statuses.empty() ? "" : statuses.back();
    return c;
}

// VERIFY CODE, then READ CHIP into a cleared buffer, clicked in a window on
// `port` with `image` in the chip and loaded from `hex`.
std::pair<Click, Click> ClickVerifyAndRead(SimPort& port, const std::string& name, const std::vector<uint8_t>& image,
                                           const QString& hex, uint32_t xtalHz)
{
    sim::Chip& chip = port.Chip();
    Click verify, read;
    std::vector<std::string> statuses, messages;
    TfrmMain::Hooks hooks;
    hooks.OpenFile = [&]() -> std::optional<QString> { return hex; };
    hooks.Message = [&](const QString& text) { messages.push_back(text.toStdString()); };
    hooks.AskCrystal = [](const QStringList&, const QString&) -> std::optional<QString> { return std::nullopt; };
    TfrmMain window(port, hooks);
    window.Link().CrystalHz = xtalHz;
    window.DeviceMenuItem(DeviceCodeByName(name))->trigger();
    window.btnLoadFile->click();
    chip.PresetCode(image);
    window.WindowHooks().Status = [&](const QString& text) { statuses.push_back(text.toStdString()); };
    const auto timed = [&](QPushButton* button, Click& c, const char* done) {
        statuses.clear();
        messages.clear();
        const uint64_t before = port.ChargedAccesses();
        const auto start = std::chrono::steady_clock::now();
        button->click();
        c.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        c.accesses = port.ChargedAccesses() - before;
        c.messages = messages;
        c.lastStatus = statuses.empty() ? "" : statuses.back();
        c.ok = messages.empty() && c.lastStatus == done;
    };
    timed(window.btnVerify, verify, "Verify complete.");
    ClearBuffer(window.Buffer());
    timed(window.btnReadChip, read, "Read Chip finished");
    for (size_t a = 0; a < image.size() && read.ok; ++a)
        read.ok = HexByteValue(window.Buffer().CodeHigh[a], window.Buffer().CodeLow[a]) == image[a];
    return {verify, read};
}

void PrintFailure(const Click& c)
{
    for (const std::string& m : c.messages)
        std::printf("    message: %s\n", m.c_str());
    std::printf("    last status: %s\n", c.lastStatus.c_str());
}

// Random data filling the chip, as a HEX file; the bytes that are not FF.
uint64_t MakeImage(const sim::Device& d, std::mt19937& random, const QString& hex, std::vector<uint8_t>& image)
{
    image.assign(d.codeSize, 0);
    for (uint8_t& b : image)
        b = uint8_t(random());
    WriteHex(hex.toStdString(), image);
    return uint64_t(std::count_if(image.begin(), image.end(), [](uint8_t b) { return b != 0xFF; }));
}

// The pages of a part with page writes that hold a byte that is not FF.
uint64_t PagesHolding(const sim::Device& d, const std::vector<uint8_t>& image)
{
    uint64_t pages = 0;
    for (size_t at = 0; d.page.writeBytes && at < image.size(); at += d.page.writeBytes)
        pages += std::any_of(image.begin() + long(at), image.begin() + long(at + d.page.writeBytes),
                             [](uint8_t b) { return b != 0xFF; });
    return pages;
}

std::unique_ptr<SimPort> RealisticChip(const std::string& name, const Options& o)
{
    std::string error;
    std::unique_ptr<SimPort> sim = MakeSimPort(
        name + ",timing=realistic,iodelay=" + std::to_string(o.ioDelayNs) + ",xtal=" + std::to_string(o.xtalHz), error);
    if (!sim)
        std::fprintf(stderr, "%s\n", error.c_str());
    return sim;
}

// The floor of the same AUTO-PROGRAM on the FT232R cable: every bit as the
// cable's bytes (each SCK phase as many bytes as the part's minimum needs,
// one at least), the erase and write cycles, and the one round trip without
// which no answer comes back.
double CableFloorSeconds(const sim::Device& d, uint32_t xtalHz, uint32_t rate, int64_t roundTripNs, uint64_t written)
{
    const double byteNs = 1e9 / rate, clockNs = 1e9 / xtalHz;
    const double high = std::max(1.0, std::ceil(d.sck.minHigh * clockNs / byteNs));
    const double low = std::max(1.0, std::ceil(d.sck.minLow * clockNs / byteNs));
    const double bitNs = std::max((high + low) * byteNs, d.sck.minPeriod * clockNs);
    const Floor parallel = FloorOf(d, xtalHz, 1, written, 0);
    return (double(parallel.bits) * bitNs + parallel.busyNs + double(roundTripNs)) / 1e9;
}

// The FT232R cable as the parallel port is driven: no whole instructions,
// so the link clocks every bit through the line functions and each MISO
// sample and sense check waits for its own transfer.
class BitByBit : public PortAccess {
public:
    explicit BitByBit(PortAccess& cable) : cable_(cable) {}
    void SetPortBit(uint16_t port, uint8_t bit) override { ++calls, cable_.SetPortBit(port, bit); }
    void ClrPortBit(uint16_t port, uint8_t bit) override { ++calls, cable_.ClrPortBit(port, bit); }
    bool GetPortBit(uint16_t port, uint8_t bit) override { return ++calls, cable_.GetPortBit(port, bit); }
    bool IsDriverInstalled() override { return cable_.IsDriverInstalled(); }
    std::string Failure() const override { return cable_.Failure(); }
    std::chrono::nanoseconds Now() override { return cable_.Now(); }
    void WaitUntil(std::chrono::nanoseconds deadline) override { cable_.WaitUntil(deadline); }

    uint64_t calls = 0; // line changes and samples

private:
    PortAccess& cable_;
};

void PrintCables(const Options& o, std::mt19937& random, const QTemporaryDir& files, int& failures)
{
    const std::string name = "AT89S52";
    const sim::Device& d = *sim::FindDevice(name);
    std::vector<uint8_t> image;
    const QString hex = files.filePath(QStringLiteral("cables.hex"));
    const uint64_t written = MakeImage(d, random, hex, image);
    const Floor floor = FloorOf(d, o.xtalHz, o.ioDelayNs, written, 0);

    std::printf("\n%s AUTO-PROGRAM through each cable, %llu bytes written, lock level 2, Auto RUN on;\n"
                "GPIO lines at %lld ns per line access; FT232R at %u bytes/s\n\n",
                name.c_str(), (unsigned long long)written, (long long)o.ioDelayNs, unsigned(kFtdiDefaultRate));
    std::printf("| cable | measured | floor | ratio | transfers or accesses |\n");
    std::printf("|---|---:|---:|---:|---:|\n");
    std::fflush(stdout);
    auto row = [&](const std::string& cable, const Click& c, double floorSeconds, const std::string& count) {
        std::printf("| %s | %.2f s | %.2f s | %.3f | %s |%s\n", cable.c_str(), c.seconds, floorSeconds,
                    c.seconds / floorSeconds, count.c_str(), c.ok ? "" : " FAILED");
        if (!c.ok) {
            ++failures;
            PrintFailure(c);
        }
        std::fflush(stdout);
    };

    if (std::unique_ptr<SimPort> sim = RealisticChip(name, o)) {
        const uint64_t before = sim->ChargedAccesses();
        const Click c = ClickAutoProgram(*sim, sim->Chip(), name, image, hex, o.xtalHz);
        row("parallel port", c, floor.seconds, std::to_string(sim->ChargedAccesses() - before) + " accesses");
    }

    if (std::unique_ptr<SimPort> sim = RealisticChip(name, o)) {
        GpioSettings wiring;
        wiring.chip = "gpiochip0";
        wiring.rst = 25, wiring.mosi = 10, wiring.sck = 11, wiring.miso = 9;
        GpioPort gpio(wiring, std::make_unique<VirtualGpioChip>(*sim, wiring));
        const uint64_t before = sim->ChargedAccesses();
        const Click c = ClickAutoProgram(gpio, sim->Chip(), name, image, hex, o.xtalHz);
        row("GPIO lines", c, floor.seconds, std::to_string(sim->ChargedAccesses() - before) + " accesses");
    }

    sim::ChipOptions chip;
    chip.xtalHz = o.xtalHz;
    char rtt[48];
    for (const int64_t roundTripNs : o.roundTripsNs) {
        VirtualFt232rOptions usb;
        usb.roundTripNs = roundTripNs;
        usb.realtime = true;
        auto system = std::make_unique<VirtualFt232r>(d, chip, usb);
        VirtualFt232r& ft = *system;
        FtdiPort cable(FtdiSettings{}, std::move(system));
        const Click c = ClickAutoProgram(cable, ft.Chip(), name, image, hex, o.xtalHz);
        std::snprintf(rtt, sizeof rtt, "FT232R, %g ms round trip", roundTripNs / 1e6);
        row(rtt, c, CableFloorSeconds(d, o.xtalHz, kFtdiDefaultRate, roundTripNs, written),
            std::to_string(ft.Transfers()) + " transfers");
        if (c.seconds > 15)
            std::printf("    over the 15 s a full AT89S52 may take on this cable\n");
    }
    {
        const int64_t roundTripNs = o.roundTripsNs.front();
        VirtualFt232rOptions usb;
        usb.roundTripNs = roundTripNs;
        auto system = std::make_unique<VirtualFt232r>(d, chip, usb);
        VirtualFt232r& ft = *system;
        FtdiPort cable(FtdiSettings{}, std::move(system));
        BitByBit perBit(cable);
        const int64_t start = ft.Chip().NowNs();
        Click c = ClickAutoProgram(perBit, ft.Chip(), name, image, hex, o.xtalHz);
        const double took = c.seconds;
        c.seconds = double(ft.Chip().NowNs() - start) / 1e9; // on the cable's clock
        std::snprintf(rtt, sizeof rtt, "FT232R, bit by bit (computed), %g ms", roundTripNs / 1e6);
        row(rtt, c, CableFloorSeconds(d, o.xtalHz, kFtdiDefaultRate, roundTripNs, written),
            std::to_string(ft.Transfers()) + " transfers");
        std::printf("    bit by bit, on the virtual FT232R's clock: %.1f min (computing it took %.1f s); a cable that\n"
                    "    sent each of its %llu line changes and samples as a transfer of its own would take %.0f min\n",
                    c.seconds / 60, took, (unsigned long long)perBit.calls,
                    double(perBit.calls) * double(roundTripNs) / 60e9);
    }
}

// The same AUTO-PROGRAM through the cables whose firmware clocks the chip.
void PrintHobbyCables(const Options& o, std::mt19937& random, const QTemporaryDir& files, int& failures)
{
    const std::string name = "AT89S52";
    const sim::Device& d = *sim::FindDevice(name);
    std::vector<uint8_t> image;
    const QString hex = files.filePath(QStringLiteral("hobby.hex"));
    const uint64_t written = MakeImage(d, random, hex, image);
    // The sequence's instructions, four bytes each: the enable, the erase,
    // the byte writes, the lock writes (modes 1 and 2, and the mode 3 step)
    // and the verify's byte reads.
    const double instructions = double(2 + written + 3 + d.codeSize);
    const double eraseS = double(d.eraseNs) / 1e9;
    sim::ChipOptions chip;
    chip.xtalHz = o.xtalHz;

    std::printf("\n%s AUTO-PROGRAM through the cables whose firmware clocks the chip, %llu bytes written, "
                "%.0f instructions\n\n",
                name.c_str(), (unsigned long long)written, instructions);
    std::printf("| cable | measured | floor | ratio | what the floor counts |\n");
    std::printf("|---|---:|---:|---:|---|\n");
    std::fflush(stdout);
    auto row = [&](const char* cable, const Click& c, double floorSeconds, const char* counts) {
        std::printf("| %s | %.2f s | %.2f s | %.3f | %s |%s\n", cable, c.seconds, floorSeconds,
                    c.seconds / floorSeconds, counts, c.ok ? "" : " FAILED");
        if (!c.ok) {
            ++failures;
            PrintFailure(c);
        }
        std::fflush(stdout);
    };
    {
        VirtualArduinoOptions sketch;
        sketch.realtime = true;
        VirtualArduinoIsp board(d, chip, sketch);
        ArduinoPort cable(ArduinoSettings{board.Path(), sketch.baud});
        const Click c = ClickAutoProgram(cable, board.Chip(), name, image, hex, o.xtalHz);
        const double lineS = instructions * 6 * 10 / sketch.baud;
        row("Arduino as ISP, 19200 baud", c, lineS + eraseS, "6 bytes a universal command on the line, the erase");
        std::printf("    %llu universal commands, %llu bytes from the program, %llu bytes lost\n",
                    (unsigned long long)board.Universals(), (unsigned long long)board.BytesIn(),
                    (unsigned long long)board.Overruns());
    }
    {
        VirtualUsbaspOptions usb;
        usb.realtime = true;
        auto system = std::make_unique<VirtualUsbasp>(d, chip, usb);
        VirtualUsbasp& usbasp = *system;
        UsbaspPort cable(UsbaspSettings{}, std::move(system));
        const Click c = ClickAutoProgram(cable, usbasp.Chip(), name, image, hex, o.xtalHz);
        row("USBasp, 1 ms a control transfer", c, instructions * double(usb.roundTripNs) / 1e9 + eraseS,
            "1 transfer an instruction, the erase");
        std::printf("    %llu control transfers, %llu of them TRANSMIT\n", (unsigned long long)usbasp.Requests(),
                    (unsigned long long)usbasp.Transmits());
    }
}

// READ CHIP and VERIFY CODE of each part with page reads, on the parallel
// port, against their page-read floors.
void PrintReads(const Options& o, const QTemporaryDir& files, int& failures)
{
    std::mt19937 random(o.seed + 1);
    std::printf("\nREAD CHIP and VERIFY CODE of a chip full of random data, parallel port\n\n");
    std::printf("| device | command | measured | floor | ratio | port accesses (floor) |\n");
    std::printf("|---|---|---:|---:|---:|---:|\n");
    std::fflush(stdout);
    for (const std::string& name : o.devices) {
        const sim::Device& d = *sim::FindDevice(name);
        if (!d.page.readBytes)
            continue;
        std::vector<uint8_t> image;
        const QString hex = files.filePath(QString::fromStdString(name) + QStringLiteral("-read.hex"));
        MakeImage(d, random, hex, image);
        std::unique_ptr<SimPort> sim = RealisticChip(name, o);
        if (!sim)
            return;
        const auto [verify, read] = ClickVerifyAndRead(*sim, name, image, hex, o.xtalHz);
        for (const auto& [what, c, reads] : {std::tuple{"VERIFY CODE", verify, 1}, std::tuple{"READ CHIP", read, 2}}) {
            const Floor floor = ReadFloorOf(d, o.xtalHz, o.ioDelayNs, reads);
            std::printf("| %s | %s | %.3f s | %.3f s | %.3f | %llu (%llu) |%s\n", name.c_str(), what, c.seconds,
                        floor.seconds, c.seconds / floor.seconds, (unsigned long long)c.accesses,
                        (unsigned long long)floor.accesses, c.ok ? "" : " FAILED");
            if (!c.ok) {
                ++failures;
                PrintFailure(c);
            }
        }
        std::fflush(stdout);
    }
}

} // namespace

int main(int argc, char** argv)
{
    Options o;
    if (!Parse(argc, argv, o)) {
        std::fprintf(stderr, "usage: %s [DEVICE...] [--xtal=HZ] [--iodelay=NS] [--seed=N] [--rtt=NS[,NS...]] "
                             "[--devices-only | --reads-only | --cables-only | --hobby-only]\n",
                     argv[0]);
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir files;
    std::mt19937 random(o.seed);

    std::printf("AUTO-PROGRAM, lock level 2, Auto RUN on, random data filling the chip;\n"
                "simulated chip timing=realistic, crystal %.4f MHz, %lld ns per port access; CONFIG.QVX from %s\n",
                o.xtalHz / 1e6, (long long)o.ioDelayNs, qPrintable(QDir::currentPath()));
    int failures = 0;
    if (o.deviceTable) {
        std::printf("\n| device | bytes written | measured | floor | ratio | port accesses (floor) |\n");
        std::printf("|---|---:|---:|---:|---:|---:|\n");
        std::fflush(stdout);
    }
    for (const std::string& name : o.deviceTable ? o.devices : std::vector<std::string>{}) {
        const sim::Device& d = *sim::FindDevice(name);
        std::unique_ptr<SimPort> sim = RealisticChip(name, o);
        if (!sim)
            return 2;
        std::vector<uint8_t> image;
        const QString hex = files.filePath(QString::fromStdString(name) + QStringLiteral(".hex"));
        const uint64_t written = MakeImage(d, random, hex, image);

        const uint64_t before = sim->ChargedAccesses();
        const Click c = ClickAutoProgram(*sim, sim->Chip(), name, image, hex, o.xtalHz);
        const uint64_t accesses = sim->ChargedAccesses() - before;
        const Floor floor = FloorOf(d, o.xtalHz, o.ioDelayNs, written, PagesHolding(d, image));
        std::printf("| %s | %llu | %.2f s | %.2f s | %.3f | %llu (%llu) |%s\n", name.c_str(),
                    (unsigned long long)written, c.seconds, floor.seconds, c.seconds / floor.seconds,
                    (unsigned long long)accesses, (unsigned long long)floor.accesses, c.ok ? "" : " FAILED");
        if (!c.ok) {
            ++failures;
            PrintFailure(c);
        }
        std::fflush(stdout);
    }
    if (o.readTable)
        PrintReads(o, files, failures);
    if (o.cableTable)
        PrintCables(o, random, files, failures);
    if (o.hobbyRows)
        PrintHobbyCables(o, random, files, failures);
    return failures ? 1 : 0;
}
