// Linux GPIO lines, without the hardware: the real commands through the real
// backend, with a virtual GPIO chip behind the libgpiod seam whose lines are
// wired to the simulated cable and chip.
#include "CommandBench.h"
#include "GpioPort.h"
#include "PortSelect.h"
#include "VirtualGpioChip.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace qvx {
namespace {

using test::RecordingView;

// The wiring of a Raspberry Pi's SPI0 pins: MOSI 10, MISO 9, SCK 11, RST 25.
GpioSettings PiWiring(int sense = -1)
{
    GpioSettings s;
    s.chip = "gpiochip0";
    s.rst = 25, s.mosi = 10, s.sck = 11, s.miso = 9, s.sense = sense;
    return s;
}

// One front end with its link on a port; the simulated cable under it.
struct Bench : test::CommandBench {
    explicit Bench(const std::string& sim)
    {
        std::string error;
        cable = MakeSimPort(sim, error);
        EXPECT_NE(cable, nullptr) << error;
        selection.DeviceCode = DeviceCodeByName(cable->Chip().Name());
        selection.HexFileName = "in the buffer";
    }
    void Use(PortAccess& port)
    {
        link.Port = &port;
        commands.PowerUp(kLpt1Data);
    }
    std::vector<uint8_t> Fill(size_t size, uint32_t seed = 11) { return CommandBench::Fill(size, seed, cable->Chip().Code().size()); }

    std::unique_ptr<SimPort> cable;
};

// The parallel port, counting the writes of the run-mode lines (data bits
// 3 and 7), which a GPIO cable does not have.
class RunLineCounter : public PortAccess {
public:
    explicit RunLineCounter(SimPort& port) : port_(port) {}
    void SetPortBit(uint16_t port, uint8_t bit) override { Count(port, bit), port_.SetPortBit(port, bit); }
    void ClrPortBit(uint16_t port, uint8_t bit) override { Count(port, bit), port_.ClrPortBit(port, bit); }
    bool GetPortBit(uint16_t port, uint8_t bit) override { return port_.GetPortBit(port, bit); }
    bool IsDriverInstalled() override { return true; }
    std::chrono::nanoseconds Now() override { return port_.Now(); }
    void WaitUntil(std::chrono::nanoseconds deadline) override { port_.WaitUntil(deadline); }
    uint64_t runLineWrites = 0;

private:
    void Count(uint16_t port, uint8_t bit) { runLineWrites += port == kLpt1Data && (bit == 3 || bit == 7); }
    SimPort& port_;
};

TEST(GpioLines, ProgramVerifyAndReadCostWhatTheParallelPortCosts)
{
    // The same AUTO-PROGRAM, verify and read through the parallel port and
    // through GPIO lines with a sense line, each on a virtual clock of 1 us
    // an access.
    const std::string sim = "AT89S52,timing=virtual,iodelay=1000";
    Bench lpt(sim), gpio(sim);
    RunLineCounter parallel(*lpt.cable);
    lpt.Use(parallel);
    GpioPort port(PiWiring(8), std::make_unique<VirtualGpioChip>(*gpio.cable, PiWiring(8)));
    gpio.Use(port);

    for (Bench* b : {&lpt, &gpio}) {
        const std::vector<uint8_t> image = b->Fill(1024);
        SetLockBox(b->selection.Locks, 1, true);
        EXPECT_EQ(b->commands.AutoProgram(), Outcome::Succeeded);
        b->cable->Chip().Settle();
        EXPECT_EQ(b->cable->Chip().Code(), image);
        EXPECT_TRUE(b->cable->Chip().LockBit(1));
        EXPECT_EQ(b->commands.Verify(), Outcome::Succeeded);
        ClearBuffer(*b->buffer);
        EXPECT_EQ(b->commands.ReadChip(), Outcome::Succeeded);
        EXPECT_EQ(b->Byte(1023), image[1023]);
        EXPECT_TRUE(b->view.messages.empty());
    }
    // Every line access is one register access of the parallel port: both
    // took the same accesses and the same (virtual) time, but for the
    // run-mode lines the GPIO cable does not have and the three requests of
    // its output lines, each setting its line's first level.
    EXPECT_EQ(gpio.view.statuses, lpt.view.statuses);
    EXPECT_GT(parallel.runLineWrites, 0u);
    const uint64_t requests = 3;
    EXPECT_EQ(gpio.cable->ChargedAccesses() + parallel.runLineWrites, lpt.cable->ChargedAccesses() + requests);
    EXPECT_EQ(gpio.cable->Now() + std::chrono::microseconds(parallel.runLineWrites),
              lpt.cable->Now() + std::chrono::microseconds(requests));
}

TEST(GpioLines, ExitLeavesTheTargetRunningAndReleasesEveryLine)
{
    Bench b("AT89S8252,timing=instant");
    VirtualGpioChip lines(*b.cable, PiWiring());
    {
        GpioPort port(PiWiring(), Lend(lines));
        b.Use(port);
        const std::vector<uint8_t> image = b.Fill(32);
        EXPECT_EQ(b.commands.Program(), Outcome::Succeeded);
        EXPECT_EQ(b.cable->Chip().Code(), image);
        EXPECT_TRUE(lines.Requested(25));
        EXPECT_TRUE(b.cable->Register(kLpt1Data) & 0x10); // RST high: program mode
    }
    EXPECT_FALSE(b.cable->Register(kLpt1Data) & 0x10);
    for (unsigned line : {25u, 10u, 11u, 9u})
        EXPECT_FALSE(lines.Requested(line)) << line;
    EXPECT_FALSE(lines.IsOpen());
}

TEST(GpioLines, TheCrashPathDropsRstOnTheLine)
{
    // What a dying program's signal handler asks of the port: RST low and
    // the run-mode bits high, these having no line here.
    Bench b("AT89S52,timing=instant");
    VirtualGpioChip lines(*b.cable, PiWiring());
    GpioPort port(PiWiring(), Lend(lines));
    b.Use(port);
    b.Fill(16);
    EXPECT_EQ(b.commands.Program(), Outcome::Succeeded);
    ASSERT_TRUE(b.cable->Register(kLpt1Data) & 0x10);
    port.SignalSafeWrite(kLpt1Data + 1, 0x88, 0x10); // not the data register: nothing
    EXPECT_TRUE(b.cable->Register(kLpt1Data) & 0x10);
    port.SignalSafeWrite(kLpt1Data, 0x88, 0x10);
    EXPECT_FALSE(b.cable->Register(kLpt1Data) & 0x10);
    EXPECT_TRUE(lines.Requested(25)); // released at the normal end only
}

TEST(GpioLines, SenseLineRefusesAMissingCable)
{
    Bench b("AT89S8253,timing=instant,fault=nocable");
    GpioPort port(PiWiring(8), std::make_unique<VirtualGpioChip>(*b.cable, PiWiring(8)));
    b.Use(port);
    b.Fill(4);
    EXPECT_EQ(b.commands.Program(), Outcome::ChipFailed);
    EXPECT_EQ(b.view.messages, std::vector<std::string>{kNotInProgramMode});
    EXPECT_EQ(b.view.statuses.back(), kNotInProgramMode);
    EXPECT_TRUE(port.Failure().empty());
}

TEST(GpioLines, OpeningProblemsAreNamedWithTheirRemedy)
{
    Bench b("AT89S52,timing=instant");
    const struct {
        GpioSettings settings;
        VirtualGpioOptions chip;
        const char* reason;
        const char* remedy;
    } cases[] = {
        {[] { auto s = PiWiring(); s.chip = "gpiochip7"; return s; }(), {},
         "Cannot open the GPIO chip gpiochip7: No such file or directory", "gpiodetect"},
        {PiWiring(), [] { VirtualGpioOptions o; o.denied = true; return o; }(),
         "Cannot open the GPIO chip gpiochip0: Permission denied", "usermod -aG gpio"},
        {PiWiring(), [] { VirtualGpioOptions o; o.busy = {11}; return o; }(),
         "Cannot request line 11 of gpiochip0 for SCK: Device or resource busy", "gpioinfo"},
        {[] { auto s = PiWiring(); s.miso = 60; return s; }(), {},
         "Cannot request line 60 of gpiochip0 for MISO: Invalid argument", "gpioinfo"},
    };
    for (const auto& c : cases) {
        auto chip = std::make_unique<VirtualGpioChip>(*b.cable, c.settings, c.chip);
        VirtualGpioChip* lines = chip.get();
        GpioPort port(c.settings, std::move(chip));
        EXPECT_FALSE(port.IsDriverInstalled()) << c.reason;
        const std::string diagnosis = port.DriverDiagnosis();
        EXPECT_EQ(diagnosis.rfind(c.reason, 0), 0u) << diagnosis;
        EXPECT_NE(diagnosis.find(c.remedy), std::string::npos) << diagnosis;
        EXPECT_FALSE(lines->Requested(25)); // nothing held after a failed start
    }
}

TEST(GpioLines, ChipLostMidProgrammingEndsTheCommandWithItsOwnMessage)
{
    Bench b("AT89S51,timing=instant");
    VirtualGpioOptions failing;
    failing.failAfterAccesses = 30'000;
    GpioPort port(PiWiring(), std::make_unique<VirtualGpioChip>(*b.cable, PiWiring(), failing));
    b.Use(port);
    b.Fill(1024);
    EXPECT_EQ(b.commands.Program(), Outcome::ChipFailed);
    ASSERT_EQ(b.view.messages.size(), 1u);
    EXPECT_EQ(b.view.messages[0].rfind("gpiochip0: cannot ", 0), 0u) << b.view.messages[0];
    EXPECT_NE(b.view.messages[0].find("No such device"), std::string::npos);
    EXPECT_EQ(b.view.statuses.back(), kPortFailed);
    EXPECT_LT(b.cable->Chip().Counters().codeWrites, 1024u);
}

TEST(GpioOptions, FormsAndTheirMistakes)
{
    PortSelection chosen;
    std::string error;
    ASSERT_TRUE(ParsePortSelection("gpio:gpiochip0,rst=25,mosi=10,sck=11,miso=9,sense=8", chosen, error)) << error;
    EXPECT_EQ(chosen.kind, PortSelection::Kind::Gpio);
    EXPECT_EQ(chosen.gpio.chip, "gpiochip0");
    EXPECT_EQ(chosen.gpio.rst, 25);
    EXPECT_EQ(chosen.gpio.mosi, 10);
    EXPECT_EQ(chosen.gpio.sck, 11);
    EXPECT_EQ(chosen.gpio.miso, 9);
    EXPECT_EQ(chosen.gpio.sense, 8);
    ASSERT_TRUE(ParsePortSelection("gpio:0,miso=9,sck=11,mosi=10,rst=25", chosen, error)) << error;
    EXPECT_EQ(chosen.gpio.sense, -1);
    // The chip by path, number, name or label; never another device file.
    EXPECT_EQ(ClassifyGpioChip("/dev/gpiochip4"), GpioChipName::Path);
    EXPECT_EQ(ClassifyGpioChip("4"), GpioChipName::Number);
    EXPECT_EQ(ClassifyGpioChip("gpiochip4"), GpioChipName::Name);
    EXPECT_EQ(ClassifyGpioChip("pinctrl-rp1"), GpioChipName::Label);
    for (const char* notAChip : {"/dev/ttyS0", "/dev/gpiochip", "../gpiochip0", "/tmp/x", "gpio chip", ""})
        EXPECT_EQ(ClassifyGpioChip(notAChip), GpioChipName::Invalid) << notAChip;

    const struct {
        const char* value;
        const char* says;
    } wrong[] = {
        {"gpio:", "name the GPIO chip first"},
        {"gpio:rst=1,mosi=2,sck=3,miso=4", "name the GPIO chip first"},
        {"gpio:gpiochip0,rst=1,mosi=2,sck=3", "rst, mosi, sck and miso each need a line"},
        {"gpio:gpiochip0,rst=1,mosi=2,sck=3,miso=2", "line 2 is named twice"},
        {"gpio:gpiochip0,rst=x,mosi=2,sck=3,miso=4", "option \"rst=x\": a line is a number"},
        {"gpio:gpiochip0,rst=1,mosi=2,sck=3,miso=4,clk=5", "unknown option \"clk=5\""},
        {"gpio:gpiochip0,rst=1,mosi=2,sck=3,miso=4,", "empty option"},
        {"gpio:gpiochip0,rst=1,mosi=2,sck=3,miso=4,rst=5", "option \"rst=5\": rst is named twice"},
        {"gpio:gpiochip0,rst=1,mosi=2,sck=3,miso=1024", "a line is a number from 0 to 1023"},
        {"gpio:gpiochip0,rst,mosi=2,sck=3,miso=4", "unknown option \"rst\""},
        {"gpio:/dev/ttyS0,rst=1,mosi=2,sck=3,miso=4", "\"/dev/ttyS0\" is no GPIO chip"},
        {"gpio", "Unknown QVX_PORT value"},
    };
    for (const auto& w : wrong) {
        EXPECT_FALSE(ParsePortSelection(w.value, chosen, error)) << w.value;
        EXPECT_NE(error.find(w.says), std::string::npos) << w.value << ": " << error;
    }
}

} // namespace
} // namespace qvx
