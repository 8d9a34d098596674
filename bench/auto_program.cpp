// Times the auto-program sequence (erase, the wait after it, program, verify,
// fuse, lock) at chip level against the simulated chip with realistic timing,
// using CONFIG.QVX from the working directory and the start-up calibration,
// as the program does. A timing program, not a test: it takes minutes.
//
//   auto_program [DEVICE...] [--fill=PERCENT] [--sim=OPTIONS]
//
// e.g. `cd build && ./bench/auto_program AT89S52 AT89S53` (with CONFIG.QVX
// copied beside it). Prints the seconds spent in each step.
#include "ChipOps.h"
#include "Config.h"
#include "LockRules.h"
#include "SimPort.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

using namespace qvx;

namespace {

// The front panel of a console: messages go to the terminal.
class ConsolePanel : public FrontPanel {
public:
    void SetStatus(const std::string&) override {}
    void ProcessMessages() override {}
    void ShowMessage(const std::string& text) override { std::printf("  message: %s\n", text.c_str()); }
    void Log(const std::string& text) override { std::printf("  log: %s\n", text.c_str()); }
    void SetControlEnabled(ChipControl, bool) override {}
    void SetModeChecks(bool) override {}
    void SetProgress(int32_t) override {}
    void SetLockBox(int n, bool checked) override { qvx::SetLockBox(locks, n, checked); }
    bool LockBox(int n) const override { return locks.Box(n); }
    void SetX2Clock(bool checked) override { x2 = checked; }
    bool X2Clock() const override { return x2; }
    void ShowBuffer() override {}
    bool AutoReload() const override { return false; }
    std::optional<int32_t> ReloadHexFile() override { return 0; }

    LockBoxes locks;
    bool x2 = false;
};

double Seconds(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

const char* Name(OpResult r)
{
    switch (r) {
    case OpResult::Completed: return "completed";
    case OpResult::Refused: return "refused";
    case OpResult::Failed: return "failed";
    case OpResult::NothingLoaded: return "nothing loaded";
    case OpResult::ReloadFailed: return "reload failed";
    }
    return "?";
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> devices;
    int fill = 100;
    std::string simOptions = "timing=realistic";
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--fill=", 7) == 0)
            fill = std::atoi(argv[i] + 7);
        else if (std::strncmp(argv[i], "--sim=", 6) == 0)
            simOptions = argv[i] + 6;
        else
            devices.push_back(argv[i]);
    }
    if (devices.empty())
        devices = {"AT89S52", "AT89S53"};

    LinkState link;
    int32_t unused[3];
    const std::string error = ReadConfig(link.TimingFactor, link.ClockDelay, unused[0], unused[1], unused[2], kConfigFileName);
    if (!error.empty()) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    CalibrateWait(link);
    std::printf("TimingFactor %d, ClockDelay %d, WaitUnits %d\n", link.TimingFactor, link.ClockDelay, link.WaitUnits);

    for (const std::string& name : devices) {
        std::string simError;
        std::unique_ptr<SimPort> port = MakeSimPort(name + "," + simOptions, simError);
        const Device* device = port ? FindDevice(DeviceCodeByName(port->Chip().Name())) : nullptr;
        if (!device) {
            std::fprintf(stderr, "%s\n", simError.empty() ? "unknown device" : simError.c_str());
            return 1;
        }
        ConsolePanel panel;
        link.Port = port.get();
        link.Panel = &panel;
        BeginCommand(link);
        auto buffer = std::make_unique<CodeBuffer>();
        ClearBuffer(*buffer);
        int32_t bytes = 0;
        std::vector<uint8_t> expected(device->MemorySize(), 0xFF);
        for (int32_t a = 0; a <= device->LastAddress; ++a) {
            if ((a * 37 % 100) >= fill)
                continue;
            const int32_t v = (a * 131 + 7) % 255; // never FF
            buffer->CodeHigh[a] = HexDigitChar(v >> 4);
            buffer->CodeLow[a] = HexDigitChar(v & 15);
            expected[a] = uint8_t(v);
            ++bytes;
        }
        ChipSession s{link, *buffer, *device};
        const bool three = device->Set == InstructionSet::ThreeByte;
        std::printf("%s, %d data bytes:\n", name.c_str(), bytes);

        const auto start = std::chrono::steady_clock::now();
        auto t = std::chrono::steady_clock::now();
        OpResult r = three ? EraseChip3(s) : EraseChip4(s);
        CalibratedWait(link, 10000);
        std::printf("  erase + wait  %8.2f s  %s\n", Seconds(t), Name(r));
        t = std::chrono::steady_clock::now();
        r = three ? ProgramCode3(s, device->LastAddress) : ProgramCode4(s, device->LastAddress);
        std::printf("  program       %8.2f s  %s\n", Seconds(t), Name(r));
        t = std::chrono::steady_clock::now();
        const CheckResult v = three ? VerifyCode3(s, device->LastAddress) : VerifyCode4(s, device->LastAddress);
        std::printf("  verify        %8.2f s  %s\n", Seconds(t), v.Passed ? "match" : "not match");
        t = std::chrono::steady_clock::now();
        if (device->HasFuse)
            WriteFuses(s);
        switch (device->LockWrite) {
        case LockWriteKind::ThreeByte: r = WriteLockBits3(s, 2); break;
        case LockWriteKind::Stepwise: r = WriteLockBitsStepwise(s, 2); break;
        case LockWriteKind::FourByte: r = WriteLockBits4(s, 2); break;
        }
        std::printf("  fuse + lock 2 %8.2f s  %s\n", Seconds(t), Name(r));
        while (port->Chip().Busy()) // let the last write cycle end before looking
            port->Chip().Settle();
        std::printf("  total         %8.2f s, code %s, lock bits %d%d%d\n", Seconds(start),
                    std::equal(port->Chip().Code().begin(), port->Chip().Code().end(), expected.begin()) ? "matches" : "DIFFERS",
                    port->Chip().LockBit(1), port->Chip().LockBit(2), port->Chip().LockBit(3));
    }
    return 0;
}
