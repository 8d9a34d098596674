// The simulated chip at the instruction level: programming enable, erase,
// flash programming, address decoding, write cycles, lock bits, user fuse
// and instruction framing.
#include "SimTest.h"

#include <algorithm>

namespace qvx::test {
namespace {

TEST(SimEnable, FourBytePartsAnswer69AndThreeBytePartsStaySilent)
{
    for (const char* part : {"AT89S51", "AT89S52", "AT89S8253", "AT89S2051", "AT89S4051"}) {
        Session s(std::string(part) + ",timing=instant");
        EXPECT_EQ(s.wire.Send({0xAC, 0x53, 0x55, 0x55}), (std::vector<uint8_t>{0x00, 0x00, 0x00, 0x69})) << part;
        EXPECT_TRUE(s.chip().ProgrammingEnabled()) << part;
    }
    for (const char* part : {"AT89S53", "AT89S8252"}) {
        Session s(std::string(part) + ",timing=instant");
        EXPECT_EQ(s.wire.Send({0xAC, 0x53, 0x55}), (std::vector<uint8_t>{0x00, 0x00, 0x00})) << part;
        EXPECT_TRUE(s.chip().ProgrammingEnabled()) << part;
    }
}

TEST(SimEnable, NothingActsBeforeAValidEnable)
{
    Session s("AT89S52,timing=instant");
    s.chip().PresetCode(0x0010, 0x3C);
    s.wire.Send({0xAC, 0x52, 0x55, 0x55}); // not the enable: one bit off
    EXPECT_FALSE(s.chip().ProgrammingEnabled());
    EXPECT_EQ(s.wire.Read4(0x0010), 0x00);
    s.wire.Write4(0x0011, 0x00);
    s.wire.Erase4();
    EXPECT_EQ(s.chip().CodeByte(0x0011), 0xFF);
    EXPECT_EQ(s.chip().CodeByte(0x0010), 0x3C);
    EXPECT_EQ(s.chip().Counters().ignoredNotEnabled, 3u);

    EXPECT_EQ(s.wire.Enable4(), 0x69);
    EXPECT_EQ(s.wire.Read4(0x0010), 0x3C);

    // RST low ends programming mode; the next frame needs a new enable.
    s.wire.ResetPulse();
    EXPECT_FALSE(s.chip().ProgrammingEnabled());
    EXPECT_EQ(s.wire.Read4(0x0010), 0x00);
}

TEST(SimErase, SetsEveryByteToFFAndClearsLockBitsButNotTheFuse)
{
    Session s("AT89S8253,timing=instant");
    std::vector<uint8_t> image(12288);
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<uint8_t>(i * 7);
    s.chip().PresetCode(image);
    s.chip().PresetLockBits(true, true, true);
    s.chip().PresetX2Clock(true);
    ASSERT_EQ(s.wire.Enable4(), 0x69);
    EXPECT_EQ(s.wire.Read4(0x0005), 0xFF) << "LB2 hides the memory";
    s.wire.Erase4();
    EXPECT_TRUE(std::all_of(s.chip().Code().begin(), s.chip().Code().end(), [](uint8_t b) { return b == 0xFF; }));
    EXPECT_FALSE(s.chip().LockBit(1) || s.chip().LockBit(2) || s.chip().LockBit(3));
    EXPECT_TRUE(s.chip().X2Clock());
    EXPECT_EQ(s.wire.ReadLocks4(), 0xFF);
    EXPECT_EQ(s.chip().Counters().erases, 1u);

    Session t("AT89S8252,timing=instant");
    t.chip().PresetCode(image);
    t.chip().PresetData(image);
    t.chip().PresetLockBits(true, false, false);
    t.wire.Enable3();
    t.wire.Erase3();
    EXPECT_EQ(t.chip().Code(), std::vector<uint8_t>(8192, 0xFF));
    EXPECT_EQ(t.chip().Data(), std::vector<uint8_t>(2048, 0xFF)) << "erase clears the data EEPROM too";
    EXPECT_FALSE(t.chip().LockBit(1));
}

TEST(SimErase, TakesTheEraseTimeAndIgnoresInstructionsMeanwhile)
{
    Session s("AT89S52,timing=virtual");
    s.chip().PresetCode(0x0100, 0x12);
    ASSERT_EQ(s.wire.Enable4(), 0x69);
    s.wire.Erase4();
    EXPECT_TRUE(s.chip().Busy());
    EXPECT_EQ(s.wire.Read4(0x0100), 0x00) << "no answer while erasing";
    EXPECT_EQ(s.wire.Enable4(), 0x00);
    s.wire.Write4(0x0200, 0x00);
    EXPECT_EQ(s.chip().Counters().ignoredBusy, 3u);
    EXPECT_EQ(s.chip().CodeByte(0x0100), 0x12);

    s.chip().AdvanceTime(std::chrono::milliseconds(499));
    EXPECT_TRUE(s.chip().Busy());
    s.chip().AdvanceTime(std::chrono::milliseconds(1));
    EXPECT_FALSE(s.chip().Busy());
    EXPECT_EQ(s.wire.Read4(0x0100), 0xFF);
    EXPECT_EQ(s.chip().CodeByte(0x0200), 0xFF) << "the write sent during the erase was lost";
}

TEST(SimProgram, AWriteCanOnlyClearBits)
{
    Session s("AT89S51,timing=instant");
    ASSERT_EQ(s.wire.Enable4(), 0x69);
    s.wire.Write4(0x0010, 0x55);
    EXPECT_EQ(s.wire.Read4(0x0010), 0x55);
    s.wire.Write4(0x0010, 0xF0); // over old data without an erase
    EXPECT_EQ(s.wire.Read4(0x0010), 0x50);
    s.wire.Write4(0x0010, 0xFF);
    EXPECT_EQ(s.wire.Read4(0x0010), 0x50);
    s.wire.Erase4();
    s.wire.Write4(0x0010, 0xF0);
    EXPECT_EQ(s.wire.Read4(0x0010), 0xF0);
    EXPECT_EQ(s.chip().Counters().codeWrites, 4u);
}

TEST(SimAddress, A13SelectsTheUpperFourKilobytesOfTheTwelveKilobyteParts)
{
    ASSERT_EQ(Wire::High3(0x2ABC, 0x02), 0x56) << "A12..A8 = 01010, A13 = 1, write = 10";
    Session s53("AT89S53,timing=instant");
    s53.wire.Enable3();
    s53.wire.Write3(0x2ABC, 0x11);
    s53.wire.Write3(0x0ABC, 0x22);
    EXPECT_EQ(s53.chip().CodeByte(0x2ABC), 0x11);
    EXPECT_EQ(s53.chip().CodeByte(0x0ABC), 0x22);
    EXPECT_EQ(s53.wire.Read3(0x2ABC), 0x11);
    EXPECT_EQ(s53.wire.Read3(0x0ABC), 0x22);
    s53.wire.Write3(0x3ABC, 0x00); // beyond 12 KB
    EXPECT_EQ(s53.wire.Read3(0x3ABC), 0xFF);
    EXPECT_EQ(s53.chip().CodeByte(0x1ABC), 0xFF);

    Session s8253("AT89S8253,timing=instant");
    ASSERT_EQ(s8253.wire.Enable4(), 0x69);
    s8253.wire.Write4(0x2FFF, 0x33);
    EXPECT_EQ(s8253.chip().CodeByte(0x2FFF), 0x33);
    EXPECT_EQ(s8253.chip().CodeByte(0x0FFF), 0xFF);
    EXPECT_EQ(s8253.wire.Send({0x20, 0x2F, 0xFF, 0x00})[3], 0x33);
    // 0x3000 and up do not exist on a 12 KB part.
    s8253.wire.Write4(0x3000, 0x00);
    EXPECT_EQ(s8253.wire.Read4(0x3000), 0xFF);
    EXPECT_EQ(s8253.chip().Counters().codeWrites, 1u);
}

TEST(SimAddress, SmallerPartsIgnoreTheAddressBitsTheyDoNotHave)
{
    Session s("AT89S51,timing=instant"); // decodes A11..A0 only
    ASSERT_EQ(s.wire.Enable4(), 0x69);
    s.wire.Write4(0x1ABC, 0x44);
    EXPECT_EQ(s.chip().CodeByte(0x0ABC), 0x44);
    EXPECT_EQ(s.wire.Read4(0x3ABC), 0x44);

    Session t("AT89S2051,timing=instant"); // A10..A0
    ASSERT_EQ(t.wire.Enable4(), 0x69);
    t.wire.Write4(0x0800, 0x66);
    EXPECT_EQ(t.chip().CodeByte(0x0000), 0x66);
}

TEST(SimAddress, TheAT89S8252ReachesItsDataEepromWithBitTwo)
{
    Session s("AT89S8252,timing=instant");
    s.wire.Enable3();
    // 00 A10 A9 A8 1 1 0 writes and 00 A10 A9 A8 1 0 1 reads data memory 0x742.
    s.wire.Send({0x3E, 0x42, 0x81});
    EXPECT_EQ(s.chip().Data()[0x742], 0x81);
    EXPECT_EQ(s.chip().CodeByte(0x0742), 0xFF) << "the code memory is not touched";
    EXPECT_EQ(s.wire.Read3(0x0742), 0xFF);
    EXPECT_EQ(s.wire.Send({0x3D, 0x42, 0x00})[2], 0x81);
    s.wire.Send({0x3E, 0x42, 0x7E});
    EXPECT_EQ(s.wire.Send({0x3D, 0x42, 0x00})[2], 0x7E) << "an EEPROM byte write replaces the byte";
    EXPECT_EQ(s.chip().Counters().dataWrites, 2u);

    Session s53("AT89S53,timing=instant"); // bit 2 is A13 there: no data memory
    s53.wire.Enable3();
    s53.wire.Send({0x3E, 0x42, 0x81});
    EXPECT_EQ(s53.chip().Counters().dataWrites, 0u);
    EXPECT_EQ(s53.chip().CodeByte(0x2742), 0x81) << "byte 1 = A12..A8 00111, A13 1, write";
}

TEST(SimWriteCycle, APollOfTheByteBeingWrittenReadsTheComplementOfBit7)
{
    Session s("AT89S52,timing=virtual"); // 64 clocks + 400 us at 12 MHz
    EXPECT_EQ(s.chip().WriteCycleNs(), 405334);
    s.chip().PresetCode(0x0123, 0x7F);
    ASSERT_EQ(s.wire.Enable4(), 0x69);
    s.wire.Write4(0x0123, 0x35);
    EXPECT_TRUE(s.chip().Busy());
    const uint8_t poll = s.wire.Read4(0x0123);
    EXPECT_EQ(poll & 0x80, 0x80) << "bit 7 is the complement of the data's bit 7";
    EXPECT_NE(poll, 0x35);

    s.wire.Write4(0x0124, 0x00); // the chip is busy: ignored
    EXPECT_EQ(s.chip().Counters().ignoredBusy, 1u);

    // Poll until the cycle ends, as a programmer does; each read takes 128
    // port accesses, 128 us.
    int polls = 1;
    while (s.wire.Read4(0x0123) != 0x35 && polls < 100)
        ++polls;
    EXPECT_EQ(polls, 2);
    EXPECT_FALSE(s.chip().Busy());
    EXPECT_EQ(s.chip().CodeByte(0x0123), 0x35);
    EXPECT_EQ(s.chip().CodeByte(0x0124), 0xFF);
    EXPECT_EQ(s.wire.Read4(0x0124), 0xFF);
}

TEST(SimWriteCycle, EndsAfterTheDatasheetTime)
{
    Session s("AT89S8252,timing=virtual");
    s.wire.Enable3();
    s.wire.Write3(0x0040, 0xA5);
    s.chip().AdvanceTime(std::chrono::microseconds(2500) - std::chrono::microseconds(100));
    EXPECT_TRUE(s.chip().Busy()) << "the write instruction ended less than 100 us ago";
    EXPECT_NE(s.wire.Read3(0x0040), 0xA5);
    s.chip().AdvanceTime(std::chrono::microseconds(100));
    EXPECT_EQ(s.wire.Read3(0x0040), 0xA5);

    Session fast("AT89S52,timing=virtual,xtal=24000000");
    EXPECT_EQ(fast.chip().WriteCycleNs(), 400000 + 2667);
    Session instant("AT89S52,timing=instant");
    EXPECT_EQ(instant.chip().WriteCycleNs(), 0);
    EXPECT_EQ(instant.chip().EraseCycleNs(), 0);
}

TEST(SimLocks, ModeStepsTakeHoldOnlyInOrder)
{
    Session s("AT89S52,timing=instant");
    ASSERT_EQ(s.wire.Enable4(), 0x69);
    auto step = [&](uint8_t mode) { s.wire.Send({0xAC, mode, 0x00, 0x00}); };
    EXPECT_EQ(s.wire.ReadLocks4(), 0x00);
    step(0xE2); // mode 3 needs mode 2
    step(0xE3);
    EXPECT_EQ(s.chip().LockMode(), 1);
    step(0xE0);
    EXPECT_EQ(s.chip().LockMode(), 1);
    step(0xE1);
    EXPECT_EQ(s.chip().LockMode(), 2);
    EXPECT_EQ(s.wire.ReadLocks4(), 0x04) << "LB1 reads 1 in bit 2";
    step(0xE3);
    EXPECT_EQ(s.chip().LockMode(), 2);
    step(0xE2);
    EXPECT_EQ(s.wire.ReadLocks4(), 0x0C);
    step(0xE3);
    EXPECT_EQ(s.wire.ReadLocks4(), 0x1C);
    EXPECT_EQ(s.chip().LockMode(), 4);
    step(0xE0);
    EXPECT_EQ(s.chip().LockMode(), 4) << "only chip erase clears lock bits";
    s.wire.Erase4();
    EXPECT_EQ(s.wire.ReadLocks4(), 0x00);
    EXPECT_EQ(s.chip().LockMode(), 1);
}

TEST(SimLocks, LockBitOneStopsWritesAndLockBitTwoStopsReads)
{
    Session s("AT89S51,timing=instant");
    s.chip().PresetCode(0x0020, 0xC3);
    ASSERT_EQ(s.wire.Enable4(), 0x69);
    s.wire.Send({0xAC, 0xE1, 0x00, 0x00});
    ASSERT_TRUE(s.chip().LockBit(1));
    s.wire.Write4(0x0021, 0x00);
    EXPECT_EQ(s.chip().CodeByte(0x0021), 0xFF);
    EXPECT_EQ(s.chip().Counters().lockedWrites, 1u);
    EXPECT_EQ(s.wire.Read4(0x0020), 0xC3) << "LB1 alone still lets the code be read";
    s.wire.Send({0xAC, 0xE2, 0x00, 0x00});
    EXPECT_EQ(s.wire.Read4(0x0020), 0xFF);
    s.wire.Erase4();
    s.wire.Write4(0x0021, 0x00);
    EXPECT_EQ(s.wire.Read4(0x0021), 0x00);
}

TEST(SimLocks, ThreeByteWriteProgramsTheBitsSentLow)
{
    Session s("AT89S8252,timing=instant");
    s.chip().PresetCode(0x0000, 0x02);
    s.wire.Enable3();
    s.wire.Send({0xAC, 0x7F, 0xFF}); // level 1
    EXPECT_TRUE(s.chip().LockBit(1));
    EXPECT_FALSE(s.chip().LockBit(2));
    EXPECT_EQ(s.wire.Read3(0x0000), 0x02);
    s.wire.Send({0xAC, 0xFF, 0xFF});
    EXPECT_TRUE(s.chip().LockBit(1)) << "writing 1 does not unprogram";
    s.wire.Send({0xAC, 0x1F, 0xFF}); // level 3
    EXPECT_TRUE(s.chip().LockBit(2) && s.chip().LockBit(3));
    EXPECT_EQ(s.wire.Read3(0x0000), 0xFF);
    s.wire.Send({0xAC, 0x18, 0xFF}); // low bits not 111: not a lock write
    EXPECT_EQ(s.chip().Counters().lockWrites, 3u);
    EXPECT_EQ(s.chip().Counters().unknown, 1u);
}

TEST(SimLocks, FourByteSingleWriteAndActiveLowReadBack)
{
    for (const char* part : {"AT89S8253", "AT89S2051", "AT89S4051"}) {
        SCOPED_TRACE(part);
        Session s(std::string(part) + ",timing=instant");
        ASSERT_EQ(s.wire.Enable4(), 0x69);
        EXPECT_EQ(s.wire.ReadLocks4(), 0xFF);
        s.wire.Send({0xAC, 0xE6, 0xFF, 0xFF}); // level 1
        EXPECT_EQ(s.wire.ReadLocks4(), 0xFE);
        s.wire.Send({0xAC, 0xE4, 0xFF, 0xFF}); // level 2
        EXPECT_EQ(s.wire.ReadLocks4(), 0xFC);
        s.wire.Send({0xAC, 0xE7, 0xFF, 0xFF});
        EXPECT_EQ(s.wire.ReadLocks4(), 0xFC);
        s.wire.Send({0xAC, 0xE0, 0xFF, 0xFF}); // level 3
        EXPECT_EQ(s.wire.ReadLocks4(), 0xF8);
        EXPECT_TRUE(s.chip().LockBit(1) && s.chip().LockBit(2) && s.chip().LockBit(3));
    }
    Session s52("AT89S52,timing=instant");
    ASSERT_EQ(s52.wire.Enable4(), 0x69);
    s52.wire.Send({0xAC, 0xE6, 0xFF, 0xFF}); // not a mode step on the AT89S52
    EXPECT_FALSE(s52.chip().LockBit(1));
}

TEST(SimFuse, X2ClockRoundTripSurvivesErase)
{
    Session s("AT89S2051,timing=instant");
    ASSERT_EQ(s.wire.Enable4(), 0x69);
    EXPECT_EQ(s.wire.ReadFuse4() & 0x02, 0x02) << "x2 clock off on a new chip";
    s.wire.Send({0xAC, 0x18, 0x55, 0xFF});
    EXPECT_TRUE(s.chip().X2Clock());
    EXPECT_EQ(s.wire.ReadFuse4(), 0xF8);
    s.wire.Erase4();
    EXPECT_EQ(s.wire.ReadFuse4(), 0xF8);
    s.wire.Send({0xAC, 0x1A, 0x55, 0xFF});
    EXPECT_FALSE(s.chip().X2Clock());
    EXPECT_EQ(s.wire.ReadFuse4() & 0x02, 0x02);
    EXPECT_EQ(s.chip().Counters().fuseWrites, 2u);

    Session s52("AT89S52,timing=instant"); // no user fuse
    ASSERT_EQ(s52.wire.Enable4(), 0x69);
    s52.wire.Send({0xAC, 0x18, 0x55, 0xFF});
    EXPECT_EQ(s52.wire.ReadFuse4(), 0x00);
    EXPECT_FALSE(s52.chip().X2Clock());
    EXPECT_EQ(s52.chip().Counters().unknown, 2u);
}

TEST(SimFraming, ResetCutsAnInstructionAndTheNextFrameStartsClean)
{
    Session s("AT89S52,timing=instant");
    s.chip().RecordTrace(true);
    ASSERT_EQ(s.wire.Enable4(), 0x69);
    s.wire.Send({0x40, 0x00}); // a write cut after two bytes
    s.wire.ResetPulse();
    s.wire.Bits(0xA0, 3);      // and three bits of another
    s.wire.ResetPulse();
    EXPECT_EQ(s.chip().Counters().cuts, 2u);
    EXPECT_EQ(s.chip().Counters().codeWrites, 0u);
    EXPECT_EQ(s.wire.Enable4(), 0x69);
    s.wire.Write4(0x0000, 0x12);
    EXPECT_EQ(s.chip().CodeByte(0), 0x12);
    EXPECT_EQ(s.chip().TraceLines(),
              (std::vector<std::string>{"AC 53 55 55 -> 00 00 00 69", "40 00 -> 00 00 (cut)", "RESET", "(cut)",
                                        "RESET", "AC 53 55 55 -> 00 00 00 69", "40 00 00 12 -> 00 00 00 00"}));

    // Without a reset, four stray bits shift every later byte.
    s.wire.Bits(0xF0, 4);
    s.wire.Write4(0x0001, 0x34);
    EXPECT_EQ(s.chip().CodeByte(1), 0xFF);
}

} // namespace
} // namespace qvx::test
