// Faults of the simulated cable and chip, and a serial clock too fast for
// the chip.
#include "SimTest.h"

namespace qvx::test {
namespace {

TEST(SimFault, NoCableReadsNoSenseAndReachesNoChip)
{
    auto port = OpenSim("AT89S52,timing=instant,fault=nocable");
    port->Chip().RecordTrace(true);
    Wire wire(*port);
    wire.ResetPulse();
    EXPECT_FALSE(wire.Sense());
    EXPECT_EQ(wire.Enable4(), 0xFF);
    wire.Write4(0x0000, 0x00);
    EXPECT_FALSE(port->Chip().ProgrammingEnabled());
    EXPECT_EQ(port->Chip().CodeByte(0), 0xFF);
    EXPECT_TRUE(port->Chip().TraceLines().empty());
    EXPECT_TRUE(port->IsDriverInstalled()) << "the port itself works";
}

TEST(SimFault, NoChipSensesResetButMisoFloatsHigh)
{
    auto port = OpenSim("AT89S8252,timing=instant,fault=nochip");
    Wire wire(*port);
    wire.ResetPulse();
    EXPECT_TRUE(wire.Sense());
    EXPECT_EQ(wire.Send({0xAC, 0x53, 0x55, 0x55}), (std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0xFF}));
    wire.Enable3();
    EXPECT_EQ(wire.Read3(0x0000), 0xFF);
    EXPECT_EQ(port->Chip().Counters().instructions, 0u);
    wire.Rst(false);
    EXPECT_FALSE(wire.Sense());
}

TEST(SimFault, NoEnableChipNeverAnswersNorActs)
{
    auto port = OpenSim("AT89S51,timing=instant,fault=noenable");
    port->Chip().PresetCode(0x0000, 0x5A);
    Wire wire(*port);
    for (int attempt = 0; attempt < 10; ++attempt) {
        wire.ResetPulse();
        EXPECT_EQ(wire.Enable4(), 0x00);
    }
    wire.Write4(0x0001, 0x00);
    EXPECT_EQ(wire.Read4(0x0000), 0x00);
    EXPECT_FALSE(port->Chip().ProgrammingEnabled());
    EXPECT_EQ(port->Chip().CodeByte(1), 0xFF);
    EXPECT_EQ(port->Chip().Counters().enables, 0u);
}

TEST(SimFault, BusyWriteCycleNeverEnds)
{
    auto port = OpenSim("AT89S52,timing=instant,fault=busy");
    Wire wire(*port);
    wire.ResetPulse();
    ASSERT_EQ(wire.Enable4(), 0x69);
    wire.Write4(0x0010, 0x12);
    port->Chip().AdvanceTime(std::chrono::seconds(10));
    EXPECT_TRUE(port->Chip().Busy());
    for (int poll = 0; poll < 5; ++poll)
        EXPECT_NE(wire.Read4(0x0010), 0x12);
    wire.Write4(0x0011, 0x34);
    wire.Erase4();
    EXPECT_EQ(port->Chip().Counters().ignoredBusy, 2u);
    wire.ResetPulse(); // a reset does not stop the cycle either
    ASSERT_EQ(wire.Enable4(), 0x69);
    EXPECT_NE(wire.Read4(0x0010), 0x12);
    EXPECT_EQ(port->Chip().CodeByte(0x0010), 0xFF);
    EXPECT_EQ(port->Chip().CodeByte(0x0011), 0xFF);
}

TEST(SimFault, WeakCellNeverPrograms)
{
    auto port = OpenSim("AT89S4051,timing=instant,weak=0x0100");
    Wire wire(*port);
    wire.ResetPulse();
    ASSERT_EQ(wire.Enable4(), 0x69);
    for (int i = 0; i < 9; ++i)
        wire.Write4(0x0100, 0x00);
    wire.Write4(0x0101, 0x00);
    wire.Write4(0x00FF, 0x00);
    EXPECT_EQ(wire.Read4(0x0100), 0xFF);
    EXPECT_EQ(wire.Read4(0x0101), 0x00);
    EXPECT_EQ(wire.Read4(0x00FF), 0x00);
    EXPECT_EQ(port->Chip().Counters().codeWrites, 11u) << "the writes were accepted; the cell did not take them";
}

// Reads 64 bytes through a noisy line.
std::vector<uint8_t> NoisyReads(const std::string& options)
{
    auto port = OpenSim(options);
    for (uint32_t a = 0; a < 64; ++a)
        port->Chip().PresetCode(a, static_cast<uint8_t>(a));
    Wire wire(*port);
    wire.ResetPulse();
    std::vector<uint8_t> bytes;
    wire.Enable4();
    for (uint16_t a = 0; a < 64; ++a)
        bytes.push_back(wire.Read4(a));
    return bytes;
}

TEST(SimFault, NoiseFlipsMisoBitsReproduciblyFromTheSeed)
{
    auto always = OpenSim("AT89S52,timing=instant,noise=1");
    Wire wire(*always);
    wire.ResetPulse();
    EXPECT_EQ(wire.Send({0xAC, 0x53, 0x55, 0x55}), (std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0x96}));
    EXPECT_TRUE(always->Chip().ProgrammingEnabled()) << "noise is on MISO only";
    EXPECT_EQ(wire.Read4(0x0000), 0x00) << "an erased FF reads as 00";

    std::vector<uint8_t> clean(64);
    for (int i = 0; i < 64; ++i)
        clean[i] = static_cast<uint8_t>(i);
    EXPECT_EQ(NoisyReads("AT89S52,timing=instant,noise=0"), clean);

    const auto a = NoisyReads("AT89S52,timing=instant,noise=0.05,seed=7");
    const auto b = NoisyReads("AT89S52,timing=instant,noise=0.05,seed=7");
    const auto c = NoisyReads("AT89S52,timing=instant,noise=0.05,seed=8");
    EXPECT_EQ(a, b);
    EXPECT_NE(a, c);
    EXPECT_NE(a, clean);
    int wrong = 0;
    for (int i = 0; i < 64; ++i)
        wrong += a[i] != clean[i];
    EXPECT_GT(wrong, 3);
    EXPECT_LT(wrong, 60) << "about a third of the bytes have a flipped bit at p = 0.05";
}

TEST(SimSck, TooFastAClockMisSamplesMosi)
{
    // 20 ns per port access gives SCK phases of 40 ns: far below the
    // 8 crystal periods (667 ns at 12 MHz) the AT89S52 needs.
    Session fast("AT89S52,timing=virtual,iodelay=20");
    EXPECT_NE(fast.wire.Enable4(), 0x69);
    EXPECT_FALSE(fast.chip().ProgrammingEnabled());
    EXPECT_GT(fast.chip().Counters().misSampled, 0u);

    // 200 ns per access: 400 ns phases, too short at 12 MHz, enough at 33 MHz.
    Session slow12("AT89S52,timing=virtual,iodelay=200");
    EXPECT_NE(slow12.wire.Enable4(), 0x69);
    Session slow33("AT89S52,timing=virtual,iodelay=200,xtal=33000000");
    EXPECT_EQ(slow33.wire.Enable4(), 0x69);
    slow33.wire.Write4(0x0042, 0x24);
    slow33.chip().AdvanceTime(std::chrono::milliseconds(1));
    EXPECT_EQ(slow33.wire.Read4(0x0042), 0x24);
    EXPECT_EQ(slow33.chip().Counters().misSampled, 0u);

    // Instant timing has no limit at all.
    Session instant("AT89S52,timing=instant,iodelay=0");
    EXPECT_EQ(instant.wire.Enable4(), 0x69);
}

TEST(SimSck, TheAT89S8252NeedsSckBelowAFortiethOfTheCrystal)
{
    // 500 ns per access: a 2 us clock period, below the 3.33 us the part
    // needs at 12 MHz, above the 1.67 us it needs at 24 MHz.
    Session at12("AT89S8252,timing=virtual,iodelay=500");
    at12.wire.Enable3();
    at12.wire.Write3(0x0001, 0x00);
    EXPECT_FALSE(at12.chip().ProgrammingEnabled());
    EXPECT_EQ(at12.chip().CodeByte(1), 0xFF);

    Session at24("AT89S8252,timing=virtual,iodelay=500,xtal=24000000");
    at24.wire.Enable3();
    EXPECT_TRUE(at24.chip().ProgrammingEnabled());
    at24.wire.Write3(0x0001, 0x00);
    at24.chip().AdvanceTime(std::chrono::milliseconds(3));
    EXPECT_EQ(at24.chip().CodeByte(1), 0x00);

    // The AT89S52 takes the same 2 us clock (1 us phases) at 12 MHz.
    Session s52("AT89S52,timing=virtual,iodelay=500");
    EXPECT_EQ(s52.wire.Enable4(), 0x69);
}

TEST(SimSck, TheFirstLowPhaseOfAFrameBeginsWhenResetRises)
{
    // 100 ns per access; the AT89S52 needs SCK low for 8 crystal periods
    // (667 ns at 12 MHz) before each rising edge, the first one included.
    Session s("AT89S52,timing=virtual,iodelay=100");
    PortAccess& port = *s.port;
    auto firstBit = [&](int pause) {
        port.ClrPortBit(0x378, 4);
        port.SetPortBit(0x378, 4); // RST rises
        s.wire.Idle(pause);
        port.SetPortBit(0x378, 5);
        port.SetPortBit(0x378, 6); // SCK rises
        s.wire.Idle(10);           // a long high phase
        port.ClrPortBit(0x378, 6);
    };
    firstBit(0); // SCK rose 200 ns after RST
    EXPECT_EQ(s.chip().Counters().misSampled, 1u);
    firstBit(5); // 700 ns
    EXPECT_EQ(s.chip().Counters().misSampled, 1u);
}

} // namespace
} // namespace qvx::test
