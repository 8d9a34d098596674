// Target reset, programming enable and the program/run mode.
#include "Mode.h"
#include "RecordedLink.h"
#include "WireDecode.h"

#include <gtest/gtest.h>

namespace qvx {
namespace {

using Op = RecordingPort::Op;
using Call = RecordingPort::Call;

class ModeTest : public ::testing::Test, public test::RecordedLink {
protected:
    int ResetPulses() const
    {
        int n = 0;
        for (size_t i = 0; i + 1 < port.calls.size(); ++i)
            if (port.calls[i] == Call{Op::Clr, 0x378, 4, false} &&
                port.calls[i + 1] == Call{Op::Set, 0x378, 4, false})
                ++n;
        return n;
    }
    // Queues a silent chip's answer for `attempts` four-byte enables.
    void QueueSilentAttempts(int attempts)
    {
        for (int i = 0; i < attempts; ++i)
            test::QueueMiso(port, {0x00, 0x00, 0x00, 0x00});
    }
};

TEST_F(ModeTest, ResetPulseDrivesAllLinesLowThenPulsesReset)
{
    ResetPulse(link, 0);
    const std::vector<Call> expected = {
        {Op::Clr, 0x378, 7, false}, {Op::Clr, 0x378, 3, false}, {Op::Clr, 0x378, 4, false},
        {Op::Clr, 0x378, 6, false}, {Op::Clr, 0x378, 5, false}, {Op::Set, 0x378, 4, false},
        {Op::Clr, 0x378, 4, false}, {Op::Set, 0x378, 4, false},
    };
    EXPECT_EQ(port.calls, expected);
    EXPECT_EQ(port.Register(0x378), 0x10); // reset high, everything else low
}

TEST_F(ModeTest, ThreeByteEnableSendsItsInstructionOnce)
{
    EnableProgramming3(link, 0);
    EXPECT_EQ(ResetPulses(), 1);
    EXPECT_EQ(test::ClockedBytes(port), (std::vector<uint8_t>{0xAC, 0x53, 0x55}));
}

TEST_F(ModeTest, FourByteEnableMatchesOnItsTenthAttempt)
{
    QueueSilentAttempts(9);
    test::QueueMiso(port, {0x00, 0x00, 0x00, 0x69});
    EXPECT_TRUE(EnableProgramming4(link, 0, EnableJudgement::AnswerCompared));
    EXPECT_EQ(ResetPulses(), 10);
    const std::vector<uint8_t> bytes = test::ClockedBytes(port);
    ASSERT_EQ(bytes.size(), 40u);
    for (size_t i = 0; i < bytes.size(); i += 4)
        EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + i, bytes.begin() + i + 4),
                  (std::vector<uint8_t>{0xAC, 0x53, 0x55, 0x55}));
    EXPECT_EQ(BitsValue(link.SendBits), 0x69);
}

TEST_F(ModeTest, FourByteEnableGivesUpAfterTenSilentAttempts)
{
    QueueSilentAttempts(12);
    EXPECT_FALSE(EnableProgramming4(link, 0, EnableJudgement::AnswerCompared));
    EXPECT_EQ(ResetPulses(), 10);
    EXPECT_EQ(test::ClockedBytes(port).size(), 40u);
    EXPECT_EQ(BitsValue(link.SendBits), 0x69);
    EXPECT_TRUE(panel.messages.empty());
}

TEST_F(ModeTest, IgnoredAnswerTakesOneAttempt)
{
    QueueSilentAttempts(10);
    EXPECT_TRUE(EnableProgramming4(link, 0, EnableJudgement::AnswerIgnored));
    EXPECT_EQ(ResetPulses(), 1);
    EXPECT_EQ(test::ClockedBytes(port).size(), 4u);
}

TEST_F(ModeTest, EnableOnAnAbsentTargetShowsOneMessage)
{
    port.sense = false;
    EXPECT_FALSE(EnableProgramming4(link, 0, EnableJudgement::AnswerCompared));
    EXPECT_EQ(panel.messages, (std::vector<std::string>{"Device have not in program mode"}));
    EXPECT_EQ(ResetPulses(), 1);
    EXPECT_FALSE(EnableProgramming4(link, 0, EnableJudgement::AnswerIgnored));
    EnableProgramming3(link, 0);
    EXPECT_EQ(panel.messages.size(), 1u);
    EXPECT_TRUE(test::ClockedBytes(port).empty());
}

TEST_F(ModeTest, OperationModeSetsLinesStatusAndControls)
{
    SetOperationMode(link, false, true);
    EXPECT_EQ(port.Register(0x378) & 0x98, 0x88); // reset low, run lines high
    EXPECT_EQ(link.ProgramMode, 0);
    EXPECT_EQ(panel.statuses.back(), "RUN MODE.");
    for (int c = 0; c <= int(ChipControl::FuseWrite); ++c)
        EXPECT_FALSE(panel.Enabled(ChipControl(c))) << c;

    panel.events.clear();
    SetOperationMode(link, true, false);
    EXPECT_EQ(port.Register(0x378) & 0x98, 0x10);
    EXPECT_EQ(link.ProgramMode, -1);
    // Status, then messages processed, then the nine controls in order; "WR"
    // stays disabled for a chip without the fuse.
    std::vector<std::string> expected = {"status:PROGRAM MODE.", "process"};
    for (int c = 0; c < int(ChipControl::FuseWrite); ++c)
        expected.push_back("enable:" + std::to_string(c));
    EXPECT_EQ(panel.events, expected);
    EXPECT_FALSE(panel.Enabled(ChipControl::FuseWrite));
    EXPECT_EQ(panel.modeChecks, "program"); // the menu marks are the callers'

    SetOperationMode(link, true, true);
    EXPECT_TRUE(panel.Enabled(ChipControl::FuseWrite));
}

TEST_F(ModeTest, ToggleTwiceReturnsToProgramModeAsBefore)
{
    SetOperationMode(link, true, true);
    const uint8_t lines = port.Register(0x378);
    panel.events.clear();
    panel.processed = 0;

    ToggleOperationMode(link, true);
    EXPECT_EQ(link.ProgramMode, 0);
    EXPECT_EQ(panel.modeChecks, "run");
    EXPECT_EQ(panel.statuses.back(), "RUN MODE.");
    EXPECT_FALSE(panel.Enabled(ChipControl::Auto));
    EXPECT_FALSE(panel.Enabled(ChipControl::FuseWrite));

    ToggleOperationMode(link, true);
    EXPECT_EQ(link.ProgramMode, -1);
    EXPECT_EQ(panel.modeChecks, "program");
    EXPECT_EQ(panel.statuses.back(), "PROGRAM MODE.");
    EXPECT_EQ(port.Register(0x378), lines);
    for (int c = 0; c <= int(ChipControl::FuseWrite); ++c)
        EXPECT_TRUE(panel.Enabled(ChipControl(c))) << c;
    EXPECT_EQ(panel.processed, 0); // the toggle processes no messages
}

TEST_F(ModeTest, ToggleDecidesByTheModeFlag)
{
    link.ProgramMode = 0; // run mode left by a command; the menu marks may say otherwise
    ToggleOperationMode(link, false);
    EXPECT_EQ(link.ProgramMode, -1);
    EXPECT_EQ(panel.statuses.back(), "PROGRAM MODE.");
}

} // namespace
} // namespace qvx
