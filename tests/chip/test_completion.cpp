// Every write confirmed before an operation reports it done, on the
// simulated chip's own (virtual) clock: erases that take their datasheet
// time or never end, lock and fuse writes read back or waited out, byte
// writes polled from the end of their write cycle, and the serial clock
// floor that keeps a fast port within what the chip accepts.
#include "SimBench.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

namespace qvx {
namespace {

using namespace std::chrono_literals;

// An operation session on a simulated chip, with no calibrated waits at all:
// whatever waits out the chip does so on the chip's clock.
struct Bench : test::SimBench {
    explicit Bench(const std::string& options) : SimBench(options, -1) { link.CrystalHz = chip().Options().xtalHz; }
    bool Verify() { return SimBench::Verify().Passed; }
    // The trace lines that begin with `prefix`.
    size_t TraceCount(const std::string& prefix) { return Lines(prefix).size(); }
};

std::vector<uint8_t> Pattern(size_t size)
{
    std::vector<uint8_t> image(size);
    for (size_t a = 0; a < size; ++a)
        image[a] = uint8_t(a * 13 + (a >> 7)) == 0xFF ? 0x00 : uint8_t(a * 13 + (a >> 7));
    return image;
}

// --- Chip erase -----------------------------------------------------------

TEST(EraseCompletion, TheNextStepFindsTheChipErased)
{
    // Each part erases for its datasheet time; the erase returns only when
    // the chip answers again, so programming can follow at once.
    for (const char* part : {"AT89S52", "AT89S53", "AT89S8252", "AT89S8253", "AT89S2051"}) {
        SCOPED_TRACE(part);
        Bench b(std::string(part) + ",timing=virtual");
        const std::vector<uint8_t> old(b.device->MemorySize(), 0x00);
        b.chip().PresetCode(old);
        b.chip().PresetLockBits(true, true, false);
        const int64_t start = b.chip().NowNs();
        EXPECT_EQ(b.Erase(), OpResult::Completed);
        EXPECT_FALSE(b.chip().Busy());
        EXPECT_GE(b.chip().NowNs() - start, b.chip().EraseCycleNs());
        EXPECT_LT(b.chip().NowNs() - start, b.chip().EraseCycleNs() + 2'000'000); // polled, not slept through
        EXPECT_FALSE(b.chip().LockBit(1));
        const uint64_t ignoredWhileErasing = b.chip().Counters().ignoredBusy; // the polls themselves

        const std::vector<uint8_t> image = Pattern(256);
        b.Load(image);
        EXPECT_EQ(b.Program(), OpResult::Completed);
        EXPECT_TRUE(b.Verify());
        EXPECT_TRUE(std::equal(image.begin(), image.end(), b.chip().Code().begin()));
        EXPECT_EQ(b.chip().Counters().ignoredBusy, ignoredWhileErasing); // nothing lost afterwards
        EXPECT_TRUE(b.panel.messages.empty());
    }
}

TEST(EraseCompletion, TheFourByteEnableMustBeAnsweredAgain)
{
    // An AT89S52 erasing answers 00 to the enable and to reads; once done,
    // 0x69 and FF.
    Bench b("AT89S52,timing=virtual");
    EXPECT_EQ(b.Erase(), OpResult::Completed);
    const auto& t = b.chip().TraceLines();
    const size_t erase = std::find(t.begin(), t.end(), "AC 80 00 00 -> 00 00 00 00") - t.begin();
    ASSERT_LT(erase, t.size());
    EXPECT_GT(std::count(t.begin() + erase, t.end(), "AC 53 55 55 -> 00 00 00 00"), 100);
    EXPECT_EQ(t[t.size() - 2], "AC 53 55 55 -> 00 00 00 69");
    EXPECT_EQ(t.back(), "20 00 00 00 -> 00 00 00 FF");
}

TEST(EraseCompletion, AnEraseThatNeverEndsFailsAtItsDeadline)
{
    for (const char* part : {"AT89S51", "AT89S8252", "AT89S4051"}) {
        SCOPED_TRACE(part);
        Bench b(std::string(part) + ",timing=virtual,fault=busyerase");
        const int64_t start = b.chip().NowNs();
        EXPECT_EQ(b.Erase(), OpResult::Failed);
        EXPECT_EQ(b.panel.messages, (std::vector<std::string>{"Chip erase did not complete"}));
        // A few times the family's slowest erase (500 ms), on the chip's clock.
        EXPECT_GE(b.chip().NowNs() - start, 1'500'000'000);
        EXPECT_LE(b.chip().NowNs() - start, 2'100'000'000);
    }
}

TEST(EraseCompletion, AnAbsentTargetIsRefusedNotTimedOut)
{
    Bench b("AT89S8252,timing=virtual,fault=nocable");
    EXPECT_EQ(b.Erase(), OpResult::Refused);
    EXPECT_EQ(b.panel.messages, (std::vector<std::string>{"Device have not in program mode"}));
    EXPECT_LT(b.chip().NowNs(), 1'000'000); // a dozen port accesses, no waiting for a deadline
}

// --- Lock bits and fuse ---------------------------------------------------

TEST(StatusWrites, FuseThenLockAtOnceOnAnAT89S8253BothLand)
{
    Bench b("AT89S8253,timing=virtual");
    ChipSession s = b.Session();
    b.panel.x2Clock = true;
    EXPECT_EQ(WriteFuses(s), OpResult::Completed);
    EXPECT_EQ(WriteLockBits4(s, 2), OpResult::Completed);
    // No settling afterwards: both have landed when the calls return.
    EXPECT_FALSE(b.chip().Busy());
    EXPECT_TRUE(b.chip().X2Clock());
    EXPECT_TRUE(b.chip().LockBit(1));
    EXPECT_TRUE(b.chip().LockBit(2));
    EXPECT_FALSE(b.chip().LockBit(3));
    EXPECT_EQ(b.chip().Counters().ignoredBusy, 0u);
    // The fuse was read back until it showed 1, 0, 0 (x2), 0.
    EXPECT_GE(b.TraceCount("21 55 55 FF -> 00 00 00 F8"), 1u);
}

TEST(StatusWrites, ThreeByteLockWritesAreWaitedOut)
{
    for (const char* part : {"AT89S53", "AT89S8252"}) {
        SCOPED_TRACE(part);
        Bench b(std::string(part) + ",timing=virtual");
        ChipSession s = b.Session();
        EXPECT_EQ(WriteLockBits3(s, 3), OpResult::Completed);
        EXPECT_FALSE(b.chip().Busy()); // no read-back exists: the write cycle has been waited out
        EXPECT_TRUE(b.chip().LockBit(3));
    }
}

TEST(StatusWrites, StepwiseLockNeedsNoRetries)
{
    Bench b("AT89S51,timing=virtual");
    ChipSession s = b.Session();
    EXPECT_EQ(WriteLockBitsStepwise(s, 3), OpResult::Completed);
    EXPECT_EQ(b.chip().LockMode(), 4);
    for (const char* step : {"AC E0", "AC E1", "AC E2", "AC E3"})
        EXPECT_EQ(b.TraceCount(step), 1u) << step; // each mode written once
    EXPECT_EQ(b.chip().Counters().ignoredBusy, 0u);
    EXPECT_EQ(b.panel.locks.LockLevel, 3);
}

TEST(StatusWrites, WritesTheChipIgnoresFailWithTheirMessage)
{
    // A byte write cycle that never ends: the chip ignores later writes.
    Bench b("AT89S8253,timing=virtual,fault=busy");
    b.Load({0x42});
    EXPECT_EQ(b.Program(), OpResult::Failed);
    ChipSession s = b.Session();
    EXPECT_EQ(WriteFuses(s), OpResult::Failed);
    EXPECT_EQ(WriteLockBits4(s, 1), OpResult::Failed);
    EXPECT_EQ(b.panel.messages, (std::vector<std::string>{"Programming Time-Out", "Fuse write did not complete",
                                                          "Lock bit write did not complete"}));
    EXPECT_EQ(b.chip().Counters().fuseWrites, 0u);
    EXPECT_FALSE(b.chip().LockBit(1));
}

// --- Byte writes ------------------------------------------------------------

TEST(WriteCompletion, TheFirstPollComesAsTheWriteCycleEnds)
{
    // The AT89S52's write cycle is specified (64 clocks + 400 us): no poll
    // is spent while it surely runs, and the first one finds the byte.
    Bench b("AT89S52,timing=virtual");
    b.Load({0x12, 0x34, 0x56, 0x78});
    EXPECT_EQ(b.Program(), OpResult::Completed);
    EXPECT_EQ(b.TraceCount("40 "), 4u);
    EXPECT_EQ(b.TraceCount("20 "), 4u);
    for (const char* poll : {"20 00 00 00 -> 00 00 00 12", "20 00 01 00 -> 00 00 00 34", "20 00 03 00 -> 00 00 00 78"})
        EXPECT_EQ(b.TraceCount(poll), 1u) << poll;

    // The AT89S8252's is not: its polls start at once and run until the byte shows.
    Bench c("AT89S8252,timing=virtual");
    c.Load({0x12});
    EXPECT_EQ(c.Program(), OpResult::Completed);
    EXPECT_GT(c.TraceCount("01 00 00 -> 00 00 FF"), 5u); // bit 7 inverted while busy
    EXPECT_EQ(c.TraceCount("01 00 00 -> 00 00 12"), 2u);  // after a miss, twice in a row
}

// --- Serial clock floor -------------------------------------------------------

TEST(ClockFloor, AFastPortStillProgramsBecauseOfTheFloor)
{
    // 50 ns per port access and ClockDelay 0: left alone SCK would run at
    // 5 MHz, far above the fortieth of 12 MHz the AT89S8252 takes.
    Bench b("AT89S8252,timing=virtual,iodelay=50");
    b.link.ClockDelay = 0;
    ASSERT_EQ(b.link.CrystalHz, 12'000'000u);
    const std::vector<uint8_t> image = Pattern(512);
    b.Load(image);
    EXPECT_EQ(b.Erase(), OpResult::Completed);
    EXPECT_EQ(b.Program(), OpResult::Completed);
    EXPECT_TRUE(b.Verify());
    EXPECT_TRUE(std::equal(image.begin(), image.end(), b.chip().Code().begin()));
    EXPECT_EQ(b.chip().Counters().misSampled, 0u);
    // The floor is set for the chip at the crystal: 24 periods of 12 MHz.
    EXPECT_EQ(b.link.SckMinHighNs, 2000);
    EXPECT_EQ(b.link.SckMinLowNs, 2000);

    // Taken for a 40 MHz board, the same chip's floor is far too short.
    Bench fast("AT89S8252,timing=virtual,iodelay=50");
    fast.link.CrystalHz = 40'000'000;
    fast.Load(image);
    EXPECT_NE(fast.Program(), OpResult::Completed);
    EXPECT_GT(fast.chip().Counters().misSampled, 0u);
    EXPECT_NE(fast.chip().CodeByte(0), image[0]);
}

TEST(ClockFloor, EveryFamilyAtTheTargetCrystal)
{
    // 20 ns per access on every part, each at a crystal it can take.
    for (const char* options : {"AT89S51,xtal=3000000", "AT89S52,xtal=33000000", "AT89S53,xtal=24000000",
                                "AT89S8253,xtal=11059200", "AT89S4051,xtal=20000000"}) {
        SCOPED_TRACE(options);
        Bench b(std::string(options) + ",timing=virtual,iodelay=20");
        const std::vector<uint8_t> image = Pattern(64);
        b.Load(image);
        EXPECT_EQ(b.Program(), OpResult::Completed);
        EXPECT_TRUE(b.Verify());
        EXPECT_EQ(b.chip().Counters().misSampled, 0u);
    }
}

} // namespace
} // namespace qvx
