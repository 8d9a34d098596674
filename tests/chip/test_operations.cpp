// The chip operations against the simulated chip: every device through a
// whole erase / blank / program / verify / read cycle, lock levels and fuse
// as the chip records them, and the faults a bench meets.
#include "SimBench.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

namespace qvx {
namespace {

using SimChip = test::SimBench;

// A program image the size of the device: data with FF gaps, the last byte
// at the last address.
std::vector<uint8_t> Image(int32_t size)
{
    std::vector<uint8_t> image(size, 0xFF);
    for (int32_t a = 0; a < size; ++a)
        if ((a / 64) % 3 != 1)
            image[a] = uint8_t(a * 7 + (a >> 8));
    image[size - 1] = 0x5A;
    image[0x10] = 0xFF; // a gap inside data
    return image;
}

class EveryDevice : public ::testing::TestWithParam<const char*> {};

TEST_P(EveryDevice, EraseBlankProgramVerifyReadBack)
{
    SimChip chip(std::string(GetParam()) + ",timing=instant");
    const int32_t size = chip.Last() + 1;
    std::vector<uint8_t> old(size, 0x00);
    chip.port->Chip().PresetCode(old);

    EXPECT_EQ(chip.Erase(), OpResult::Completed);
    const CheckResult blank = chip.Blank();
    EXPECT_TRUE(blank.Passed);
    EXPECT_EQ(chip.panel.progress, 100);

    const std::vector<uint8_t> image = Image(size);
    chip.Load(image);
    EXPECT_EQ(chip.Program(), OpResult::Completed);
    EXPECT_EQ(chip.panel.progress, 100);
    EXPECT_EQ(chip.port->Chip().Code(), image);
    // FF bytes are never written; a part with page writes writes each page holding other bytes once.
    const int32_t page = std::max(chip.device->Page.WriteBytes, 1);
    size_t units = 0;
    for (int32_t a = 0; a < size; a += page)
        units += std::any_of(image.begin() + a, image.begin() + a + page, [](uint8_t b) { return b != 0xFF; });
    const sim::ChipCounters& counters = chip.port->Chip().Counters();
    EXPECT_EQ(page > 1 ? counters.pageWrites : counters.codeWrites, units + (page > 1 ? counters.codeWrites : counters.pageWrites));

    const CheckResult verify = chip.Verify();
    EXPECT_TRUE(verify.Passed);
    EXPECT_EQ(verify.Result, OpResult::Completed);

    ClearBuffer(*chip.buffer);
    chip.buffer->CodeHigh[size] = 'A'; // beyond the device: a read leaves it
    chip.panel.progress = 0;
    EXPECT_EQ(chip.Read(), OpResult::Completed);
    EXPECT_EQ(chip.panel.progress, 100);
    for (int32_t a = 0; a < size; ++a)
        ASSERT_EQ(chip.BufferByte(a), image[a]) << std::hex << a;
    EXPECT_EQ(chip.buffer->CodeHigh[size], 'A');
    EXPECT_TRUE(chip.panel.messages.empty());
}

INSTANTIATE_TEST_SUITE_P(Chips, EveryDevice,
                         ::testing::Values("AT89S51", "AT89S52", "AT89S53", "AT89S8252", "AT89S8253", "AT89S2051",
                                           "AT89S4051"));

TEST(Operations, TwelveKilobytePartsUseA13)
{
    for (const char* part : {"AT89S53", "AT89S8253"}) {
        SimChip chip(std::string(part) + ",timing=instant");
        chip.Put(0x2ABC, 0x12);
        EXPECT_EQ(chip.Program(), OpResult::Completed);
        EXPECT_EQ(chip.port->Chip().CodeByte(0x2ABC), 0x12) << part;
        EXPECT_EQ(chip.port->Chip().CodeByte(0x0ABC), 0xFF) << part;
        // On the wire: A13 is bit 2 of byte 1 (three-byte) or bit 5 of byte 2
        // (AH of the AT89S8253's page write, whose third byte has A7 A6).
        const std::string write = std::string(part) == "AT89S53" ? "56 BC 12 -> 00 00 00" : "50 2A 80 -> 00 00 00 + 64 bytes in";
        EXPECT_EQ(chip.TraceCount(write), 1u) << part;
    }
}

// The erase wait lets the window handle its events about every 40 ms of the port's clock, not on every poll.
TEST(Operations, TheEraseWaitLetsTheWindowPaint)
{
    SimChip chip("AT89S52");
    const auto start = chip.port->Now();
    ASSERT_EQ(chip.Erase(), OpResult::Completed);
    EXPECT_GE(chip.panel.processed, chip.port->Chip().EraseCycleNs() / kPollEventsNs - 2);
    EXPECT_LE(chip.panel.processed, (chip.port->Now() - start).count() / kPollEventsNs + 2);
}

TEST(Operations, ProgrammingOverOldDataNeedsAnErase)
{
    SimChip chip("AT89S8252,timing=instant");
    std::vector<uint8_t> old(0x2000, 0xFF);
    old[0x100] = 0x0F;
    chip.port->Chip().PresetCode(old);
    chip.Put(0x100, 0xF0);
    chip.Put(0x300, 0x33);
    // 0x0F AND 0xF0 never reads back as F0: the byte times out.
    EXPECT_EQ(chip.Program(), OpResult::Failed);
    EXPECT_EQ(chip.panel.messages, (std::vector<std::string>{"Programming Time-Out"}));
    EXPECT_EQ(chip.port->Chip().CodeByte(0x100), 0x00);
    EXPECT_EQ(chip.port->Chip().CodeByte(0x300), 0xFF); // nothing after the failing byte
    const CheckResult verify = chip.Verify();
    EXPECT_FALSE(verify.Passed);
    EXPECT_EQ(verify.Result, OpResult::Completed);
    EXPECT_EQ(CounterValue(*chip.buffer), 0x100); // the counter stops at the mismatch
}

TEST(Operations, VerifyFailsWhereTheChipHasDataAndTheBufferFF)
{
    SimChip chip("AT89S4051,timing=instant");
    chip.port->Chip().PresetCode(0x0800, 0x12);
    chip.panel.progress = 42;
    EXPECT_TRUE(chip.Blank().Passed == false);
    EXPECT_EQ(chip.Program(), OpResult::Completed); // the FF is not written
    EXPECT_EQ(chip.port->Chip().CodeByte(0x0800), 0x12);
    EXPECT_FALSE(chip.Verify().Passed);
    EXPECT_EQ(CounterValue(*chip.buffer), 0x0800);
}

TEST(Operations, WritePollingWaitsOutTheWriteCycle)
{
    // On the virtual clock a write takes 64 crystal periods + 400 us on the
    // AT89S52; the polls during it read bit 7 of the data complemented.
    SimChip chip("AT89S52,timing=virtual");
    chip.link.ClockDelay = 0;
    // The first poll is timed to the end of the write cycle the crystal
    // setting gives; taken for 33 MHz, this 12 MHz chip is still busy then.
    chip.link.CrystalHz = 33'000'000;
    chip.Put(0x20, 0xA5);
    EXPECT_EQ(chip.Program(), OpResult::Completed);
    EXPECT_EQ(chip.port->Chip().CodeByte(0x20), 0xA5);
    EXPECT_GE(chip.TraceCount("20 00 20 00 -> 00 00 00 7F"), 1u); // busy: bit 7 inverted
    EXPECT_EQ(chip.TraceCount("20 00 20 00 -> 00 00 00 A5"), 2u);  // then the byte itself, twice in a row
}

// --- Page mode --------------------------------------------------------------

TEST(PageMode, TheAT89S8253WritesPagesAndChecksTheFirstByteByByte)
{
    SimChip chip("AT89S8253,timing=instant");
    std::vector<uint8_t> image = Image(0x3000); // pages 1, 4, 7 ... all FF
    image[0x003F] = 0x3C;
    chip.Load(image);
    EXPECT_EQ(chip.Program(), OpResult::Completed);
    EXPECT_EQ(chip.port->Chip().Code(), image);
    // The first page, the poll of its last byte, its 64 bytes read back, the next page with data.
    const std::vector<std::string>& t = chip.Trace();
    ASSERT_GT(t.size(), 70u);
    EXPECT_EQ(std::vector<std::string>(t.begin() + 2, t.begin() + 5),
              (std::vector<std::string>{"50 00 00 -> 00 00 00 + 64 bytes in", "20 00 3F 00 -> 00 00 00 3C",
                                        "20 00 00 00 -> 00 00 00 00"}));
    EXPECT_EQ(t[68], "50 00 80 -> 00 00 00 + 64 bytes in");
    EXPECT_EQ(chip.Lines("50 ").size(), 128u);
    EXPECT_EQ(chip.Lines("40 ").size(), 0u);

    // Verify by pages too, the first page read checked against byte reads.
    chip.port->Chip().ClearTrace();
    EXPECT_TRUE(chip.Verify().Passed);
    EXPECT_EQ(chip.Lines("30 ").size(), 1u + 192u);
    EXPECT_EQ(chip.Lines("20 ").size(), 64u);
}

TEST(PageMode, AChipThatDoesNotTakeTheTablesHeaderGoesByteByByte)
{
    // An AT89S8253 that takes the two-byte header of its datasheet's prose.
    SimChip chip("AT89S8253,timing=instant,pageheader=2");
    const std::vector<uint8_t> image = Image(0x3000);
    chip.port->Chip().PresetCode(image);
    EXPECT_EQ(chip.Read(), OpResult::Completed);
    for (int32_t a = 0; a < 0x3000; ++a)
        ASSERT_EQ(chip.BufferByte(a), image[a]) << a;
    EXPECT_EQ(chip.panel.logs, (std::vector<std::string>{
                                   "The AT89S8253's page read at 0000 did not match its byte reads; reading byte by byte"}));

    // Its first page written that way does not read back: the rest goes byte by byte, and fails.
    SimChip blank("AT89S8253,timing=instant,pageheader=2");
    blank.Load(image);
    EXPECT_EQ(blank.Program(), OpResult::Failed);
    EXPECT_EQ(blank.panel.logs.at(0), "The AT89S8253 did not take the page written at 0000; programming byte by byte");
    EXPECT_EQ(blank.Lines("50 ").size(), 1u);
}

// --- Lock bits and fuse ---------------------------------------------------

TEST(LockBits, EachFamilyWritesItsLevels)
{
    for (const char* part : {"AT89S53", "AT89S8252", "AT89S51", "AT89S52", "AT89S8253", "AT89S2051", "AT89S4051"}) {
        for (int32_t level = 1; level <= 3; ++level) {
            SimChip chip(std::string(part) + ",timing=instant");
            EXPECT_EQ(chip.Lock(level), OpResult::Completed) << part << " L" << level;
            for (int n = 1; n <= 3; ++n)
                EXPECT_EQ(chip.port->Chip().LockBit(n), n <= level) << part << " L" << level << " LB" << n;
            EXPECT_TRUE(chip.panel.messages.empty());
        }
    }
}

TEST(LockBits, SingleWritesOnTheWire)
{
    SimChip s53("AT89S53,timing=instant");
    s53.Lock(2);
    EXPECT_EQ(s53.Trace(), (std::vector<std::string>{"RESET", "AC 53 55 -> 00 00 00", "AC 3F FF -> 00 00 00"}));

    SimChip s8253("AT89S8253,timing=instant");
    s8253.Lock(3);
    EXPECT_EQ(s8253.Trace(), (std::vector<std::string>{"RESET", "AC 53 55 55 -> 00 00 00 69", "AC E0 FF FF -> 00 00 00 00",
                                                       "24 55 55 FF -> 00 00 00 F8"})); // read back: all three programmed
}

TEST(LockBits, StepwiseWriteRaisesTheModeOneStepAtATime)
{
    SimChip chip("AT89S52,timing=instant");
    EXPECT_EQ(chip.Lock(3), OpResult::Completed);
    EXPECT_EQ(chip.port->Chip().LockMode(), 4);
    std::vector<std::string> writes;
    for (const std::string& line : chip.Trace())
        if (line.rfind("AC E", 0) == 0 || line.rfind("24 ", 0) == 0)
            writes.push_back(line);
    // Each step after the first is confirmed by reading the lock byte back.
    EXPECT_EQ(writes, (std::vector<std::string>{
                          "AC E0 00 00 -> 00 00 00 00",
                          "AC E1 00 00 -> 00 00 00 00", "24 55 55 FF -> 00 00 00 04",
                          "AC E2 00 00 -> 00 00 00 00", "24 55 55 FF -> 00 00 00 0C",
                          "AC E3 00 00 -> 00 00 00 00", "24 55 55 FF -> 00 00 00 1C",
                      }));
    // The read-backs ticked the boxes as they went.
    EXPECT_EQ(chip.panel.locks.LockLevel, 3);
}

TEST(LockBits, LockedChipRefusesWritesAndHidesItsCode)
{
    SimChip chip("AT89S8252,timing=instant");
    chip.port->Chip().PresetCode(0x40, 0x77);
    chip.Lock(2);
    chip.Put(0x80, 0x11);
    EXPECT_EQ(chip.Program(), OpResult::Failed); // LB1: the write is ignored
    EXPECT_EQ(chip.port->Chip().CodeByte(0x80), 0xFF);
    EXPECT_EQ(chip.Read(), OpResult::Completed);
    EXPECT_EQ(chip.BufferByte(0x40), 0xFF); // LB2: reads no longer return the memory
    EXPECT_EQ(chip.Erase(), OpResult::Completed);
    EXPECT_FALSE(chip.port->Chip().LockBit(1));
}

TEST(LockBits, ReadBackSetsTheBoxesAsTheRulesDeriveThem)
{
    // AT89S51/52: a programmed bit reads 1. A chip with only LB2 set ticks
    // boxes 1 and 2: the level is the highest bit, with no gap below it.
    SimChip s51("AT89S51,timing=instant");
    s51.port->Chip().PresetLockBits(false, true, false);
    ChipSession a = s51.Session();
    EXPECT_FALSE(ReadLockBits(a, 3));
    EXPECT_TRUE(ReadLockBits(a, 1));
    EXPECT_EQ(s51.panel.locks.LockLevel, 2);
    EXPECT_TRUE(s51.panel.locks.Box(1) && s51.panel.locks.Box(2) && !s51.panel.locks.Box(3));

    // AT89S8253 family: a programmed bit reads 0.
    SimChip s2051("AT89S2051,timing=instant");
    s2051.port->Chip().PresetLockBits(true, false, true);
    ChipSession b = s2051.Session();
    EXPECT_EQ(ReadLockBitsActiveLow(b), OpResult::Completed);
    EXPECT_EQ(s2051.panel.locks.LockLevel, 3);

    s2051.port->Chip().PresetLockBits(false, false, false);
    EXPECT_EQ(ReadLockBitsActiveLow(b), OpResult::Completed);
    EXPECT_EQ(s2051.panel.locks.LockLevel, 0);
    EXPECT_FALSE(s2051.panel.locks.Box(1));
}

TEST(Fuse, X2ClockRoundTrip)
{
    SimChip chip("AT89S8253,timing=instant");
    ChipSession s = chip.Session();
    chip.panel.x2Clock = true;
    EXPECT_EQ(WriteFuses(s), OpResult::Completed);
    EXPECT_TRUE(chip.port->Chip().X2Clock());
    EXPECT_EQ(chip.TraceCount("AC 18 55 FF -> 00 00 00 00"), 1u);

    chip.panel.x2Clock = false;
    EXPECT_EQ(ReadFuses(s), OpResult::Completed);
    EXPECT_TRUE(chip.panel.x2Clock);

    chip.panel.x2Clock = false;
    EXPECT_EQ(WriteFuses(s), OpResult::Completed);
    EXPECT_EQ(chip.TraceCount("AC 1A 55 FF -> 00 00 00 00"), 1u);
    EXPECT_FALSE(chip.port->Chip().X2Clock());
    chip.panel.x2Clock = true;
    ReadFuses(s);
    EXPECT_FALSE(chip.panel.x2Clock);

    // Erase leaves the fuse as it is.
    chip.panel.x2Clock = true;
    WriteFuses(s);
    chip.Erase();
    EXPECT_TRUE(chip.port->Chip().X2Clock());
}

TEST(Fuse, LockWriteRightAfterTheFuseTakesEffect)
{
    // On the real clock the fuse takes a write cycle, during which the chip
    // ignores the next write: the fuse write waits it out.
    SimChip chip("AT89S8253,timing=realistic,iodelay");
    chip.link.WaitUnits = 100000; // tens of milliseconds after a write
    ChipSession s = chip.Session();
    chip.panel.x2Clock = true;
    EXPECT_EQ(WriteFuses(s), OpResult::Completed);
    EXPECT_EQ(WriteLockBits4(s, 2), OpResult::Completed);
    while (chip.port->Chip().Busy())
        chip.port->Chip().Settle();
    EXPECT_TRUE(chip.port->Chip().X2Clock());
    EXPECT_TRUE(chip.port->Chip().LockBit(2));
    EXPECT_EQ(chip.port->Chip().Counters().ignoredBusy, 0u);
}

// --- Faults ---------------------------------------------------------------

TEST(Faults, NoisyLineStillReadsAndVerifiesCorrectly)
{
    SimChip chip("AT89S51,timing=instant,noise=0.002,seed=7");
    const std::vector<uint8_t> image = Image(0x1000);
    chip.port->Chip().PresetCode(image);
    chip.Load(image);
    EXPECT_TRUE(chip.Verify().Passed);
    ClearBuffer(*chip.buffer);
    EXPECT_EQ(chip.Read(), OpResult::Completed);
    for (int32_t a = 0; a < 0x1000; ++a)
        ASSERT_EQ(chip.BufferByte(a), image[a]) << a;
    EXPECT_GT(chip.port->Chip().Counters().flippedMiso, 100u); // the noise was there
    EXPECT_TRUE(chip.panel.messages.empty());
}

TEST(Faults, ReadsOnANoisyLineDoNotAgreeOnAFlippedBit)
{
    // Two reads of a byte flip the same bit now and then on a line this
    // noisy (about one 4 KB read in eight would hold a wrong byte): once the
    // line has shown noise, a byte needs three reads in a row.
    const std::vector<uint8_t> image = Image(0x1000);
    for (int seed = 1; seed <= 12; ++seed) {
        SCOPED_TRACE(seed);
        SimChip chip("AT89S51,timing=instant,noise=0.002,seed=" + std::to_string(seed));
        chip.port->Chip().PresetCode(image);
        ClearBuffer(*chip.buffer);
        EXPECT_EQ(chip.Read(), OpResult::Completed);
        for (int32_t a = 0; a < 0x1000; ++a)
            ASSERT_EQ(chip.BufferByte(a), image[a]) << a;
    }
    // A clean line costs two reads a byte: two page reads a page.
    SimChip clean("AT89S51,timing=instant");
    clean.port->Chip().PresetCode(image);
    EXPECT_EQ(clean.Read(), OpResult::Completed);
    EXPECT_EQ(clean.Lines("30 ").size(), 2u * 0x1000 / 256);
    EXPECT_EQ(clean.TraceCount("30 01 -> 00 00 + 256 bytes out"), 2u);
}

TEST(Faults, TheNoisierTheLineTheMoreReadsAByteTakes)
{
    // More reads on a noisier line, the bytes taken always the chip's, a byte one bit off never passed.
    const std::vector<uint8_t> image = Image(0x1000);
    size_t fewer = 2 * 0x1000 / 256; // a clean line: every page twice
    for (const char* noise : {"0.005", "0.02"}) {
        SimChip chip(std::string("AT89S51,timing=instant,seed=3,noise=") + noise);
        chip.port->Chip().PresetCode(image);
        EXPECT_EQ(chip.Read(), OpResult::Completed);
        for (int32_t a = 0; a < 0x1000; ++a)
            ASSERT_EQ(chip.BufferByte(a), image[a]) << noise << a;
        EXPECT_GT(chip.Lines("30 ").size(), fewer) << noise;
        fewer = chip.Lines("30 ").size();
        chip.Put(0x0ABC, image[0x0ABC] ^ 0x10);
        EXPECT_EQ(chip.Verify().FailedAddress, 0x0ABC) << noise;
    }
}

TEST(Faults, OnceTheLineHasFlippedBitsTheLockByteSettlesToo)
{
    // On a line that has shown noise, the lock bits are read as often as the byte needs to settle.
    SimChip chip("AT89S52,timing=instant,noise=0.05,seed=4");
    chip.port->Chip().PresetLockBits(true, false, false);
    ChipSession s = chip.Session();
    EXPECT_EQ(ReadCode4(s, 0x00FF), OpResult::Completed);
    EXPECT_GT(s.FlipRate, 0.0);
    for (int read = 0; read < 20; ++read)
        EXPECT_TRUE(ReadLockBits(s, 1) && chip.panel.locks.LockLevel == 1);
}

TEST(Faults, OnACleanLineVerifyAndBlankReadEachByteOnce)
{
    SimChip chip("AT89S52,timing=instant");
    const std::vector<uint8_t> image = Image(0x2000);
    const auto reads = [&chip] {
        const size_t n = chip.Lines("30 ").size() + chip.Lines("20 ").size();
        chip.port->Chip().ClearTrace();
        return n;
    };
    EXPECT_TRUE(chip.Blank().Passed);
    EXPECT_EQ(reads(), 0x2000u / 256);
    chip.port->Chip().PresetCode(image);
    chip.Load(image);
    EXPECT_TRUE(chip.Verify().Passed);
    EXPECT_EQ(reads(), 0x2000u / 256);
    // A wrong byte is read until three reads agree on it: twice more, alone.
    chip.port->Chip().PresetCode(0x0100, uint8_t(image[0x0100] ^ 0x01));
    const CheckResult failed = chip.Verify();
    EXPECT_FALSE(failed.Passed);
    EXPECT_EQ(failed.FailedAddress, 0x0100);
    EXPECT_EQ(failed.Read, uint8_t(image[0x0100] ^ 0x01));
    EXPECT_EQ(reads(), 0x2000u / 256 + 2u);
    EXPECT_EQ(CounterValue(*chip.buffer), 0x0100);
}

TEST(Faults, NoiseCannotMakeAByteTheChipDoesNotHoldLookRight)
{
    // The byte at 0040 never takes its 7F: it stays FF, one bit off. On a
    // line that flips a bit in one read of twenty, many reads of it make
    // one read say 7F sooner or later; neither the polls nor the verify may
    // take that for the byte.
    std::vector<uint8_t> image(0x80, 0x00);
    image[0x40] = 0x7F;
    for (int seed = 1; seed <= 20; ++seed) {
        SCOPED_TRACE(seed);
        SimChip chip("AT89S52,timing=instant,noise=0.05,weak=0x40,seed=" + std::to_string(seed));
        chip.Load(image);
        const OpResult programmed = chip.Program();
        const CheckResult verify = chip.Verify();
        EXPECT_EQ(chip.port->Chip().CodeByte(0x40), 0xFF);
        EXPECT_FALSE(verify.Passed);
        EXPECT_EQ(verify.Result, OpResult::Completed);
        if (programmed == OpResult::Completed)
            EXPECT_LE(verify.FailedAddress, 0x40);
        else
            EXPECT_EQ(chip.panel.messages.back(), "Programming Time-Out");
        // A blank check of a chip holding zeros is not fooled either.
        EXPECT_FALSE(chip.Blank().Passed);
    }
}

TEST(Faults, WeakCellTimesOutAtItsAddress)
{
    SimChip chip("AT89S8252,timing=instant,weak=0x0800");
    const std::vector<uint8_t> image = Image(0x2000);
    chip.Load(image);
    EXPECT_EQ(chip.Program(), OpResult::Failed);
    EXPECT_EQ(chip.panel.messages, (std::vector<std::string>{"Programming Time-Out"}));
    EXPECT_EQ(chip.panel.progress, 0x800 * 100 / 0x1FFF);
    EXPECT_EQ(CounterValue(*chip.buffer), 0x801);
    // The first write and eight rewrites of the weak byte, 300 polls each.
    char write[32], poll[32];
    std::snprintf(write, sizeof write, "42 00 %02X -> 00 00 00", image[0x800]); // A11 set, write
    std::snprintf(poll, sizeof poll, "41 00 00 -> 00 00 FF");                 // read, still FF
    EXPECT_EQ(chip.TraceCount(write), 9u);
    EXPECT_EQ(chip.TraceCount(poll), 9u * 300u);
    for (int32_t a = 0; a < 0x800; ++a)
        ASSERT_EQ(chip.port->Chip().CodeByte(a), image[a]) << a;
    for (int32_t a = 0x800; a < 0x2000; ++a)
        ASSERT_EQ(chip.port->Chip().CodeByte(a), 0xFF) << a;
}

TEST(Faults, ChipThatNeverEnablesGivesOneMessageAndIsUnchanged)
{
    SimChip chip("AT89S51,timing=instant,fault=noenable");
    chip.port->Chip().PresetCode(0x10, 0x42);
    chip.Load(Image(0x1000));
    EXPECT_EQ(chip.Erase(), OpResult::Refused);
    EXPECT_EQ(chip.Program(), OpResult::Refused);
    EXPECT_EQ(chip.panel.messages, (std::vector<std::string>{"Device have not in program mode"}));
    EXPECT_EQ(chip.port->Chip().CodeByte(0x10), 0x42);
    EXPECT_EQ(chip.port->Chip().Counters().codeWrites, 0u);
    EXPECT_EQ(chip.port->Chip().Counters().erases, 0u);
}

TEST(Faults, StepwiseLockAgainstASilentChip)
{
    SimChip chip("AT89S52,timing=instant,fault=noenable");
    EXPECT_EQ(chip.Lock(1), OpResult::Failed);
    EXPECT_EQ(chip.panel.messages, (std::vector<std::string>{"Timeout Lb1=0 Lb2=0"}));
    EXPECT_EQ(chip.port->Chip().LockMode(), 1);
}

TEST(Faults, NoCableGivesOneMessageForAWholeProgramRun)
{
    SimChip chip("AT89S8252,timing=instant,fault=nocable");
    chip.Load(Image(0x2000));
    EXPECT_EQ(chip.Program(), OpResult::Refused);
    EXPECT_EQ(chip.panel.messages, (std::vector<std::string>{"Device have not in program mode"}));
    EXPECT_EQ(chip.port->Chip().Counters().instructions, 0u);
}

TEST(Faults, NoChipReadsAllOnesOnTheThreeByteSet)
{
    // Without a chip MISO floats high; the AT89S8252 never answers its
    // enable, so an empty socket looks blank to it.
    SimChip chip("AT89S8252,timing=instant,fault=nochip");
    EXPECT_TRUE(chip.Blank().Passed);
    // The four-byte parts notice: no 0x69.
    SimChip s52("AT89S52,timing=instant,fault=nochip");
    const CheckResult blank = s52.Blank();
    EXPECT_FALSE(blank.Passed);
    EXPECT_EQ(blank.Result, OpResult::Refused);
}

TEST(Faults, ReloadHookDecidesWhetherProgrammingStarts)
{
    SimChip chip("AT89S8252,timing=instant");
    chip.panel.autoReload = true;
    chip.panel.reload = [] { return std::optional<int32_t>(); };
    EXPECT_EQ(chip.Program(), OpResult::ReloadFailed);
    chip.panel.reload = [] { return std::optional<int32_t>(0); };
    EXPECT_EQ(chip.Program(), OpResult::NothingLoaded);
    EXPECT_EQ(chip.port->Chip().Counters().instructions, 0u);
    chip.panel.reload = [&] {
        chip.Load({0x01, 0x02});
        return std::optional<int32_t>(2);
    };
    EXPECT_EQ(chip.Program(), OpResult::Completed);
    EXPECT_EQ(chip.port->Chip().CodeByte(1), 0x02);
}

} // namespace
} // namespace qvx
