// What the chip operations put on the wire, byte for byte, against a
// recording port: lock and fuse bytes, the stepwise lock write's attempts,
// FF skipping, and one message for an absent target.
#include "ChipOps.h"
#include "RecordedLink.h"
#include "WireDecode.h"

#include <gtest/gtest.h>

#include <memory>

namespace qvx {
namespace {

using Bytes = std::vector<uint8_t>;

class WireTest : public ::testing::Test, public test::RecordedLink {
protected:
    WireTest()
    {
        link.WaitUnits = -1; // no waits
        ClearBuffer(*buffer);
    }
    ChipSession Session(int32_t code) { return {link, *buffer, *FindDevice(code)}; }
    Bytes Wire() const { return test::ClockedBytes(port); }

    std::unique_ptr<CodeBuffer> buffer = std::make_unique<CodeBuffer>();
};

Bytes Concat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

const Bytes kEnable3 = {0xAC, 0x53, 0x55};
const Bytes kEnable4 = {0xAC, 0x53, 0x55, 0x55};

TEST_F(WireTest, SingleLockWritesPerLevel)
{
    struct { int32_t code, level; Bytes write; } cases[] = {
        {2, 1, {0xAC, 0x7F, 0xFF}},       {2, 2, {0xAC, 0x3F, 0xFF}},       {3, 3, {0xAC, 0x1F, 0xFF}},
        {3, 0, {0xAC, 0xFF, 0xFF}},       {4, 1, {0xAC, 0xE6, 0xFF, 0xFF}}, {5, 2, {0xAC, 0xE4, 0xFF, 0xFF}},
        {6, 3, {0xAC, 0xE0, 0xFF, 0xFF}}, {4, 7, {0xAC, 0xE7, 0xFF, 0xFF}},
    };
    for (const auto& c : cases) {
        port.calls.clear();
        ChipSession s = Session(c.code);
        const OpResult r = c.code <= 3 ? WriteLockBits3(s, c.level) : WriteLockBits4(s, c.level);
        EXPECT_EQ(r, OpResult::Completed);
        // The four-byte parts read the lock bits back (MISO 0: programmed);
        // the three-byte set cannot, and nothing to program needs no read.
        const bool readBack = c.code > 3 && c.level >= 1 && c.level <= 3;
        EXPECT_EQ(Wire(), Concat({c.code <= 3 ? kEnable3 : kEnable4, c.write,
                                  readBack ? Bytes{0x24, 0x55, 0x55, 0xFF} : Bytes{}}))
            << c.code << " L" << c.level;
    }
}

TEST_F(WireTest, EraseInstructions)
{
    // MISO high: a blank chip, so the read of address 0 that confirms the
    // erase gets FF at once.
    port.misoIdle = true;
    ChipSession s3 = Session(3);
    EXPECT_EQ(EraseChip3(s3), OpResult::Completed);
    EXPECT_EQ(Wire(), Concat({kEnable3, {0xAC, 0x04, 0x00}, {0x01, 0x00, 0x00}}));
    port.calls.clear();
    ChipSession s4 = Session(6);
    EXPECT_EQ(EraseChip4(s4), OpResult::Completed);
    EXPECT_EQ(Wire(), Concat({kEnable4, {0xAC, 0x80, 0x00, 0x00}, {0x20, 0x00, 0x00, 0x00}}));
}

TEST_F(WireTest, FuseByteFollowsTheX2ClockBox)
{
    // Four instructions of MISO 0, then the read-back of the fuses as written.
    const Bytes kReadFuses = {0x21, 0x55, 0x55, 0xFF};
    ChipSession s = Session(5);
    panel.x2Clock = true;
    test::QueueMiso(port, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xF8});
    EXPECT_EQ(WriteFuses(s), OpResult::Completed);
    EXPECT_EQ(Wire(), Concat({kEnable4, kReadFuses, kEnable4, {0xAC, 0x18, 0x55, 0xFF}, kReadFuses}));
    port.calls.clear();
    panel.x2Clock = false;
    test::QueueMiso(port, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFA});
    EXPECT_EQ(WriteFuses(s), OpResult::Completed);
    EXPECT_EQ(Wire(), Concat({kEnable4, kReadFuses, kEnable4, {0xAC, 0x1A, 0x55, 0xFF}, kReadFuses}));
}

TEST_F(WireTest, StepwiseLockAgainstASilentChipTimesOutOnItsFirstStep)
{
    ChipSession s = Session(0); // AT89S51: the enable's answer counts
    EXPECT_EQ(WriteLockBitsStepwise(s, 3), OpResult::Failed);
    EXPECT_EQ(panel.messages, (std::vector<std::string>{"Timeout Lb1=0 Lb2=0"}));
    // Eleven attempts of ten enables each; no mode byte was ever sent.
    const Bytes wire = Wire();
    ASSERT_EQ(wire.size(), 11u * 10u * 4u);
    for (size_t i = 0; i < wire.size(); i += 4)
        ASSERT_EQ(Bytes(wire.begin() + i, wire.begin() + i + 4), kEnable4) << i;
}

TEST_F(WireTest, AllFFBufferSendsNothingAfterTheEnable)
{
    ChipSession s3 = Session(3);
    EXPECT_EQ(ProgramCode3(s3, 0x1FFF), OpResult::Completed);
    EXPECT_EQ(Wire(), kEnable3);
    ASSERT_EQ(panel.progressHistory.size(), 0x2000u);
    EXPECT_EQ(panel.progressHistory.front(), 0);
    EXPECT_EQ(panel.progressHistory.back(), 100);

    // The AT89S52 judges its enable: answer 0x69 in the fourth byte.
    port.calls.clear();
    test::QueueMiso(port, {0x00, 0x00, 0x00, 0x69});
    ChipSession s4 = Session(1);
    EXPECT_EQ(ProgramCode4(s4, 0x1FFF), OpResult::Completed);
    EXPECT_EQ(Wire(), kEnable4);
    EXPECT_TRUE(panel.messages.empty());
}

TEST_F(WireTest, AbsentTargetGivesOneMessageForAWholeRun)
{
    port.sense = false;
    buffer->CodeHigh[0x10] = '1'; // something to program
    ChipSession s = Session(3);
    EXPECT_EQ(ProgramCode3(s, 0x1FFF), OpResult::Refused);
    EXPECT_EQ(VerifyCode3(s, 0x1FFF).Result, OpResult::Refused);
    EXPECT_EQ(ReadCode3(s, 0x1FFF), OpResult::Refused);
    EXPECT_EQ(panel.messages, (std::vector<std::string>{"Device have not in program mode"}));
    EXPECT_TRUE(Wire().empty());
    EXPECT_EQ(buffer->CodeHigh[0], 'F'); // the read stored nothing
    EXPECT_EQ(panel.redraws, 1);         // but redrew the view
}

TEST_F(WireTest, SilentFourByteEnableRefusesTheOperation)
{
    ChipSession s = Session(1); // AT89S52 answers nothing: MISO reads 0
    const CheckResult blank = BlankCheck4(s, 0x1FFF);
    EXPECT_FALSE(blank.Passed);
    EXPECT_EQ(blank.Result, OpResult::Refused);
    EXPECT_EQ(panel.messages, (std::vector<std::string>{"Device have not in program mode"}));
    EXPECT_EQ(Wire().size(), 40u); // the ten enable attempts, nothing after them
    EXPECT_FALSE(ReadLockBits(s, 1));
    EXPECT_EQ(panel.locks.LockLevel, 0);
}

TEST(ShowProgress, PercentOfTheLastAddress)
{
    test::RecordingPanel panel;
    ShowProgress(panel, 0, 0x7FF);
    EXPECT_EQ(panel.progress, 0);
    ShowProgress(panel, 1023, 0x7FF);
    EXPECT_EQ(panel.progress, 49);
    ShowProgress(panel, 0x2FFF, 0x2FFF);
    EXPECT_EQ(panel.progress, 100);
    ShowProgress(panel, 0, 0);
    EXPECT_EQ(panel.progress, 100);
}

} // namespace
} // namespace qvx
