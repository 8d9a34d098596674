// Device, port, mode and option selection in the window.
#include "CommandFixture.h"

#include "PictureBox.h"

#include <QTest>

namespace qvx::test {
namespace {

class SelectionTest : public CommandTest {};

TEST_F(SelectionTest, DeviceMenuAndBoxStayInStep)
{
    OpenOn("AT89S8252,timing=instant");
    TfrmMain& w = *window;
    int boxRuns = 0;
    QObject::connect(w.cmbDevice, &QComboBox::editTextChanged, [&] { ++boxRuns; });

    w.AT89S40511->trigger();
    EXPECT_EQ(w.Chosen().DeviceCode, 6);
    EXPECT_EQ(w.cmbDevice->currentIndex(), 6);
    EXPECT_EQ(boxRuns, 0); // the box's handler did not run
    for (int n = 0; n < 7; ++n)
        EXPECT_EQ(w.DeviceMenuItem(n)->isChecked(), n == 6);
    EXPECT_TRUE(w.btnFuse_Write->isEnabled());
    EXPECT_TRUE(w.chk_x2Clock->isEnabled());

    // Picking from the box checks the matching menu item.
    w.cmbDevice->setCurrentIndex(1);
    EXPECT_EQ(w.Chosen().DeviceCode, 1);
    for (int n = 0; n < 7; ++n)
        EXPECT_EQ(w.DeviceMenuItem(n)->isChecked(), n == 1);
    EXPECT_FALSE(w.btnFuse_Write->isEnabled());
}

TEST_F(SelectionTest, FuseControlsFollowTheDevice)
{
    OpenOn("AT89S8252,timing=instant");
    TfrmMain& w = *window;
    w.AT89S40511->trigger();
    w.chk_x2Clock->setChecked(true);
    w.AT89S521->trigger();
    EXPECT_FALSE(w.chk_x2Clock->isEnabled());
    EXPECT_TRUE(w.chk_x2Clock->isChecked()); // the mark stays
    w.AT89S40511->trigger();
    EXPECT_TRUE(w.chk_x2Clock->isEnabled());
    EXPECT_TRUE(w.chk_x2Clock->isChecked());
}

TEST_F(SelectionTest, RunModeDisablesChipControlsUntilProgramMode)
{
    OpenOn("AT89S8252,timing=instant");
    TfrmMain& w = *window;
    w.RUNMode1->trigger();
    EXPECT_TRUE(RunLines());
    EXPECT_TRUE(ChipControlsDisabled());
    EXPECT_FALSE(w.ProgramMode1->isChecked());
    EXPECT_TRUE(w.RUNMode1->isChecked());
    EXPECT_EQ(w.edtStatus->text(), QStringLiteral("RUN MODE."));
    // Still usable in run mode: lock boxes, the mode button, Load Code.
    EXPECT_TRUE(w.chkLock1->isEnabled() && w.btnMode->isEnabled() && w.Load1->isEnabled());
    w.btnReadChip->click(); // disabled: nothing happens
    EXPECT_EQ(sim->Chip().Counters().instructions, 0u);

    // A fuse device chosen in run mode enables WR all the same; the next
    // switch to run mode disables it again but leaves x2 Clock enabled.
    w.AT89S20511->trigger();
    EXPECT_TRUE(w.btnFuse_Write->isEnabled());
    w.ProgramMode1->trigger();
    EXPECT_TRUE(ProgramLines());
    EXPECT_TRUE(ChipControlsEnabled());
    EXPECT_TRUE(w.btnFuse_Write->isEnabled());
    w.RUNMode1->trigger();
    EXPECT_FALSE(w.btnFuse_Write->isEnabled());
    EXPECT_TRUE(w.chk_x2Clock->isEnabled());
}

TEST_F(SelectionTest, OperationModeButtonGoesByTheModeFlag)
{
    OpenOn("AT89S8252,timing=instant");
    TfrmMain& w = *window;
    LoadHex(HexText({{0, {0x01}}}));
    w.btnAuto->click(); // ends in run mode, menu marks untouched
    ASSERT_EQ(w.Link().ProgramMode, 0);
    EXPECT_TRUE(w.ProgramMode1->isChecked());
    w.btnMode->click();
    EXPECT_EQ(w.Link().ProgramMode, -1);
    EXPECT_TRUE(ProgramLines());
    EXPECT_TRUE(w.ProgramMode1->isChecked());
    EXPECT_FALSE(w.RUNMode1->isChecked());
    w.btnMode->click();
    EXPECT_TRUE(RunLines());
    EXPECT_TRUE(w.RUNMode1->isChecked());
    EXPECT_TRUE(ChipControlsDisabled());
}

TEST_F(SelectionTest, Lpt2DrivesTheOtherPortAndTakesTheExitLines)
{
    OpenOn("AT89S8252,timing=instant,lpt2");
    TfrmMain& w = *window;
    const uint8_t lpt1 = sim->Register(0x378);
    w.btnBlank->click(); // on LPT1 nothing is attached: no answer
    EXPECT_EQ(w.edtStatus->text(), QStringLiteral("Device have not in program mode"));

    w.LPT21->trigger();
    EXPECT_TRUE(w.LPT21->isChecked());
    EXPECT_FALSE(w.LPT11->isChecked());
    EXPECT_EQ(w.Link().DataPort, 0x278);
    EXPECT_EQ(w.Link().StatusPort, 0x279);
    sim->Chip().PresetCode(0x0100, 0x00);
    w.btnBlank->click();
    EXPECT_EQ(w.edtStatus->text(), QStringLiteral("Not blank chip!!!"));
    EXPECT_GT(sim->Chip().Counters().codeReads, 0u);

    w.Exit2->trigger();
    EXPECT_EQ(sim->Register(0x278) & 0x98, 0x88); // run-mode lines on LPT2
    EXPECT_EQ(sim->Register(0x378), lpt1);        // LPT1 as it was left
}

TEST_F(SelectionTest, OptionsFlipTheirOwnMarks)
{
    OpenOn("AT89S8252,timing=instant");
    TfrmMain& w = *window;
    w.AutoReloadFile1->trigger();
    EXPECT_FALSE(w.AutoReloadFile1->isChecked());
    EXPECT_TRUE(w.AutoRUNafterprogram1->isChecked());
    w.AutoReloadFile1->trigger();
    EXPECT_TRUE(w.AutoReloadFile1->isChecked());
    w.AutoRUNafterprogram1->trigger();
    EXPECT_FALSE(w.AutoRUNafterprogram1->isChecked());
}

TEST_F(SelectionTest, PictureDoubleClickNarrowsAndWidensTheWindow)
{
    OpenOn("AT89S8252,timing=instant");
    TfrmMain& w = *window;
    w.show();
    const int height = w.height();
    const int frame = w.frameGeometry().width() - w.width() > 0 ? w.frameGeometry().width() - w.width() : 6;
    QTest::mouseDClick(w.Image1, Qt::LeftButton);
    EXPECT_EQ(w.width() + frame, 294);
    EXPECT_EQ(w.height(), height);
    EXPECT_LT(w.width(), w.StringGrid1->x() + 8); // the grid is cut off
    QTest::mouseDClick(w.Image1, Qt::LeftButton);
    EXPECT_EQ(w.width() + frame, 663);
    EXPECT_GE(w.width(), w.StringGrid1->geometry().right());
}

} // namespace
} // namespace qvx::test
