// AUTO-PROGRAM against its floor, for all seven devices in one run.
//
// Each device is programmed as a user would: the main window (offscreen) on
// the simulated chip with realistic timing and 1 us per port access, the
// CONFIG.QVX of the working directory, a HEX file of random data that fills
// the chip, Lock Bit 2 ticked, Auto RUN on; the AUTO-PROGRAM click is timed.
//
// The floor is what no programmer on this cable can beat, taken from the
// simulator's own timing table: the chip erase, one write cycle per byte
// written and per fuse and lock write, plus the fewest port accesses the
// instructions of the sequence need (one programming enable, the erase, one
// write per byte that is not FF, one read per byte to verify, the fuse and
// lock writes), four accesses per clocked bit (MOSI, SCK up, MISO, SCK down),
// each bit lasting at least the part's shortest SCK period.
//
//   auto_program_floor [DEVICE...] [--xtal=HZ] [--iodelay=NS] [--seed=N]
//
// Run from the repository root so the shipped CONFIG.QVX is read:
//   build/bench/auto_program_floor
// A timing program, not a test: it takes a few minutes and keeps one core
// busy; run it on a quiet machine.
#include "Device.h"
#include "ISP_S8252.h"
#include "SimPort.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QPushButton>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

using namespace qvx;

namespace {

struct Options {
    std::vector<std::string> devices;
    uint32_t xtalHz = kDefaultCrystalHz;
    int64_t ioDelayNs = 1000;
    uint32_t seed = 2024;
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
};

// The floor of an AUTO-PROGRAM at lock level 2 writing `written` bytes.
Floor FloorOf(const sim::Device& d, uint32_t xtalHz, int64_t ioDelayNs, uint64_t written)
{
    const uint64_t bits = d.set == sim::InstructionSet::ThreeByte ? 24 : 32;
    const uint64_t lockWrites = d.locks == sim::LockScheme::ModeSteps ? 3 : 1; // modes 1, 2, 3
    const uint64_t fuseWrites = d.userFuse ? 1 : 0;
    const uint64_t instructions = 1 /* enable */ + 1 /* erase */ + written + d.codeSize /* verify */ +
                                  fuseWrites + lockWrites;
    const uint64_t accesses = instructions * bits * 4;
    const uint32_t sckClocks = std::max(d.sck.minPeriod, d.sck.minHigh + d.sck.minLow);
    const double bitNs = std::max(4.0 * double(ioDelayNs), double(sckClocks) * 1e9 / xtalHz);
    const double busyNs = double(d.eraseNs) + double(written + fuseWrites + lockWrites) * double(sim::WriteCycleNs(d, xtalHz));
    return {(double(instructions * bits) * bitNs + busyNs) / 1e9, accesses};
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
        else if (sim::FindDevice(arg))
            o.devices.push_back(arg);
        else
            return false;
    }
    if (o.devices.empty())
        for (const sim::Device& d : sim::Devices())
            o.devices.emplace_back(d.name);
    return o.xtalHz > 0 && o.ioDelayNs > 0;
}

} // namespace

int main(int argc, char** argv)
{
    Options o;
    if (!Parse(argc, argv, o)) {
        std::fprintf(stderr, "usage: %s [DEVICE...] [--xtal=HZ] [--iodelay=NS] [--seed=N]\n", argv[0]);
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir files;
    std::mt19937 random(o.seed);

    std::printf("AUTO-PROGRAM, lock level 2, Auto RUN on, random data filling the chip;\n"
                "simulated chip timing=realistic, crystal %.4f MHz, %lld ns per port access; CONFIG.QVX from %s\n\n",
                o.xtalHz / 1e6, (long long)o.ioDelayNs, qPrintable(QDir::currentPath()));
    std::printf("| device | bytes written | measured | floor | ratio | port accesses (floor) |\n");
    std::printf("|---|---:|---:|---:|---:|---:|\n");
    std::fflush(stdout);
    int failures = 0;
    for (const std::string& name : o.devices) {
        const sim::Device& d = *sim::FindDevice(name);
        std::string error;
        std::unique_ptr<SimPort> sim = MakeSimPort(name + ",timing=realistic,iodelay=" + std::to_string(o.ioDelayNs) +
                                                       ",xtal=" + std::to_string(o.xtalHz),
                                                   error);
        if (!sim) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 2;
        }
        std::vector<uint8_t> image(d.codeSize);
        for (uint8_t& b : image)
            b = uint8_t(random());
        const uint64_t written = std::count_if(image.begin(), image.end(), [](uint8_t b) { return b != 0xFF; });
        const QString hex = files.filePath(QString::fromStdString(name) + QStringLiteral(".hex"));
        WriteHex(hex.toStdString(), image);

        std::vector<std::string> statuses, messages;
        TfrmMain::Hooks hooks;
        hooks.OpenFile = [&]() -> std::optional<QString> { return hex; };
        hooks.Message = [&](const QString& text) { messages.push_back(text.toStdString()); };
        hooks.AskCrystal = [](const QStringList&, const QString&) -> std::optional<QString> { return std::nullopt; };
        TfrmMain window(*sim, hooks);
        window.Link().CrystalHz = o.xtalHz; // the board's crystal, whatever the user's setting says
        window.DeviceMenuItem(DeviceCodeByName(name))->trigger();
        window.btnLoadFile->click();
        window.chkLock2->setChecked(true);
        window.WindowHooks().Status = [&](const QString& text) { statuses.push_back(text.toStdString()); };

        const uint64_t before = sim->ChargedAccesses();
        const auto start = std::chrono::steady_clock::now();
        window.btnAuto->click();
        const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const uint64_t accesses = sim->ChargedAccesses() - before;

        sim->Chip().Settle();
        const bool ok = sim->Chip().Code() == image && sim->Chip().LockBit(1) && sim->Chip().LockBit(2) &&
                        !sim->Chip().LockBit(3) && messages.empty() && statuses.size() >= 2 &&
                        statuses[statuses.size() - 2] == "Auto Programming finished." && statuses.back() == "RUN MODE.";
        const Floor floor = FloorOf(d, o.xtalHz, o.ioDelayNs, written);
        std::printf("| %s | %llu | %.2f s | %.2f s | %.3f | %llu (%llu) |%s\n", name.c_str(), (unsigned long long)written,
                    took, floor.seconds, took / floor.seconds, (unsigned long long)accesses,
                    (unsigned long long)floor.accesses, ok ? "" : " FAILED");
        if (!ok) {
            ++failures;
            for (const std::string& m : messages)
                std::printf("    message: %s\n", m.c_str());
            std::printf("    last status: %s\n", statuses.empty() ? "" : statuses.back().c_str());
        }
        std::fflush(stdout);
    }
    return failures ? 1 : 0;
}
