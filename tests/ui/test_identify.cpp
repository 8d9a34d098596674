// "Detect Chip" and the question about a chip of another device, in the window on the simulated chip.
#include "CommandFixture.h"

#include <QMenu>

namespace qvx::test {
namespace {

using IdentifyWindowTest = CommandTest;

TEST_F(IdentifyWindowTest, DetectChipSelectsTheChipFound)
{
    TfrmMain& w = OpenOn("AT89S8253,timing=instant");
    EXPECT_EQ(w.Device1->actions().back(), w.DetectChip1);
    Choose("AT89S51");
    messages.clear();
    w.DetectChip1->trigger();
    EXPECT_TRUE(w.DeviceMenuItem(DeviceCodeByName("AT89S8253"))->isChecked());
    EXPECT_EQ(statuses.back(), "Chip found: AT89S8253");
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages.front().startsWith(QStringLiteral("Signature 1E 73: AT89S8253\nLock bits: none programmed")))
        << messages.front().toStdString();
}

// Cancel leaves the chip as it was; "Select the AT89S52" selects it and the command runs for it.
TEST_F(IdentifyWindowTest, AnotherDevicesChipIsAskedAbout)
{
    TfrmMain& w = OpenOn("AT89S52,timing=instant");
    sim->Chip().PresetCode(0x1F00, 0x42);
    Choose("AT89S51");
    w.btnErase->click();
    EXPECT_EQ(wrongChipQuestions,
              QStringList{QStringLiteral("The chip on the cable is an AT89S52 (signature 1E 52 06), not the AT89S51 "
                                         "selected. Nothing has been erased or written.\nSelect the AT89S52 and go "
                                         "on, or cancel?")});
    EXPECT_EQ(sim->Chip().CodeByte(0x1F00), 0x42);
    wrongChipAnswer = WrongChipChoice::SelectFound;
    w.btnErase->click();
    EXPECT_TRUE(w.DeviceMenuItem(DeviceCodeByName("AT89S52"))->isChecked());
    EXPECT_EQ(statuses.back(), "Erase finished.");
    EXPECT_EQ(sim->Chip().CodeByte(0x1F00), 0xFF);
}

} // namespace
} // namespace qvx::test
