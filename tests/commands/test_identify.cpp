// The signature read before every chip command, the question a front end is
// asked about a chip of another device, and the lock bits and fuses in
// words, on the simulated chip.
#include "CommandLayer.h"

namespace qvx {
namespace {

class IdentifyTest : public CommandLayerTest {
protected:
    // A fresh front end that answers `answer`, and the chip on the simulated cable.
    void Open(const std::string& chip, WrongChipChoice answer = WrongChipChoice::Cancel)
    {
        view = RecordingView{};
        view.answer = answer;
        CommandLayerTest::Open(chip + ",timing=instant");
    }
};

// PROGRAM with one byte to write: whether the chip got it tells whether the
// command went on.
TEST_F(IdentifyTest, TheSignatureDecidesBeforeAnythingIsWritten)
{
    const struct {
        const char *onCable, *selected;
        bool lockMode3; // the chip's LB1 and LB2 programmed before
        WrongChipChoice answer;
        Outcome outcome;
        const char *logged, *deviceAfter;
        bool asked;
    } cases[] = {
        {"AT89S52", "AT89S52", false, WrongChipChoice::Cancel, Outcome::Succeeded, "Signature 1E 52 06: AT89S52", "AT89S52", false},
        {"AT89S52", "AT89S51", false, WrongChipChoice::Cancel, Outcome::ChipFailed, "not the AT89S51 selected", "AT89S51", true},
        {"AT89S52", "AT89S51", false, WrongChipChoice::SelectFound, Outcome::Succeeded, "Selected the AT89S52", "AT89S52", true},
        {"AT89S52", "AT89S51", false, WrongChipChoice::GoOn, Outcome::Succeeded, "Going on as the AT89S51", "AT89S51", true},
        {"AT89S8253", "AT89S2051", false, WrongChipChoice::Cancel, Outcome::ChipFailed, "Signature 1E 73: AT89S8253", "AT89S2051", true},
        {"AT89S4051", "AT89S2051", false, WrongChipChoice::Cancel, Outcome::Succeeded, "signature is unverified", "AT89S2051", false},
        {"AT89S52", "AT89S52", true, WrongChipChoice::Cancel, Outcome::ChipFailed, "Signature FF FF FF: not readable", "AT89S52", false},
        {"AT89S52", "AT89S52", true, WrongChipChoice::Cancel, Outcome::ChipFailed, "LB1 and LB2 programmed (mode 3): a locked chip takes no writes. Erase it first", "AT89S52", false},
        {"AT89S8252", "AT89S8252", false, WrongChipChoice::Cancel, Outcome::Succeeded, "has no serial signature", "AT89S8252", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.onCable) + " with " + c.selected + " selected");
        Open(c.onCable, c.answer);
        Chip().PresetLockBits(c.lockMode3, c.lockMode3, false);
        selection.DeviceCode = DeviceCodeByName(c.selected);
        Put(0x10, 0x5A);
        // A chip in lock mode 3 refuses the write: the signature only warned.
        EXPECT_EQ(commands.Program(), c.outcome);
        EXPECT_TRUE(view.Logged(c.logged)) << view.LogTexts().back();
        EXPECT_EQ(selection.SelectedDevice()->Name, c.deviceAfter);
        EXPECT_EQ(view.questions.size(), c.asked ? 1u : 0u);
        EXPECT_EQ(Chip().CodeByte(0x10) == 0x5A, c.outcome == Outcome::Succeeded);
        if (c.answer == WrongChipChoice::SelectFound) {
            EXPECT_EQ(view.selected, view.foundAsked);
            EXPECT_NE(view.questions.front().find("Select the AT89S52 and go on, or cancel?"), std::string::npos);
        }
        if (c.asked && c.answer == WrongChipChoice::Cancel) {
            EXPECT_EQ(view.statuses.back(), kWrongChip);
        }
    }
}

// What --info prints: the lock bits and fuses as the chip holds them; what
// READ CHIP says of a chip whose lock bits hide its code.
TEST_F(IdentifyTest, LockBitsAndFusesInWords)
{
    const struct {
        const char* chip;
        bool lb1, lb2, lb3, x2;
        std::vector<std::string> lines;
    } cases[] = {
        {"AT89S52", true, false, false, false, {"Signature 1E 52 06: AT89S52", "Lock bits: LB1 programmed (mode 2)"}},
        {"AT89S51", true, true, true, false, {"Signature FF FF FF: not readable", "Lock bits: LB1, LB2 and LB3 programmed (mode 4)"}},
        {"AT89S8253", false, false, false, true,
         {"Signature 1E 73: AT89S8253", "Lock bits: none programmed (mode 1)", "x2 clock: on",
          "User fuses F4-F1: 1 1 0 1 (0 = programmed)"}},
        {"AT89S8252", true, false, false, false, {"Lock bits: the AT89S8252 cannot read them back"}},
        {"AT89S4051", false, true, false, false, {"Lock bits: LB2 programmed", "rest on ISP firmware, not a datasheet"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.chip);
        Open(c.chip);
        Chip().PresetLockBits(c.lb1, c.lb2, c.lb3);
        if (Chip().Model().userFuse)
            Chip().PresetX2Clock(c.x2);
        EXPECT_EQ(commands.ChipInfo(), Outcome::Succeeded);
        for (const std::string& line : c.lines)
            EXPECT_TRUE(view.Logged(line)) << line;
    }
    // READ CHIP on a chip whose lock bits keep its code from being read.
    Open("AT89S52");
    Chip().PresetLockBits(true, true, false);
    EXPECT_EQ(commands.ReadChip(), Outcome::Succeeded);
    EXPECT_TRUE(view.Logged("The chip's lock bits read LB1 and LB2 programmed (mode 3): they keep its code from being "
                            "read, so the image read is not the chip's code."));
}

} // namespace
} // namespace qvx
