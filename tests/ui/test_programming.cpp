// The window as the front panel of the chip operations, on the simulated
// cable and chip: what is loaded through the window is what reaches the chip.
#include "ChipOps.h"
#include "WindowFixture.h"

#include <QLineEdit>
#include <QProgressBar>

namespace qvx::test {
namespace {

class ProgrammingTest : public WindowTest {
protected:
    ProgrammingTest()
    {
        WriteFile("CONFIG.QVX", "[0000]\n[0000]\n"); // no waits after writes, fastest clock
        std::string error;
        sim = OpenPortAccess("sim:AT89S8252,timing=instant", error);
        EXPECT_NE(sim, nullptr) << error;
    }
    std::unique_ptr<PortAccess> sim;
};

TEST_F(ProgrammingTest, ProgramReloadsTheFileThroughTheWindowAndVerifies)
{
    ASSERT_NE(sim, nullptr);
    TfrmMain& w = Open(*sim);
    chosen.push_back(QString::fromStdString(Example("blink.hex")));
    w.Load1Click();
    ASSERT_EQ(Cell(0), QStringLiteral("02"));

    ChipSession s{w.Link(), w.Buffer(), *FindDevice(3)};
    EXPECT_EQ(EraseChip3(s), OpResult::Completed);
    EXPECT_TRUE(BlankCheck3(s, 0xFF).Passed);

    // "Auto Reload File" is checked: programming takes the file, not what
    // the buffer holds now.
    ClearBuffer(w.Buffer());
    w.ShowBuffer();
    EXPECT_EQ(ProgramCode3(s, 0xFF), OpResult::Completed);
    EXPECT_EQ(Cell(0), QStringLiteral("02")); // the reload redrew the grid
    EXPECT_EQ(w.ProgressBar1->value(), 100);
    EXPECT_TRUE(VerifyCode3(s, 0xFF).Passed);
    EXPECT_TRUE(messages.isEmpty()) << messages.join('|').toStdString();

    // Read back into a cleared buffer: the chip holds the file.
    const std::vector<std::string> loaded = [&] {
        std::vector<std::string> bytes;
        for (int32_t a = 0; a <= 0xFF; ++a)
            bytes.push_back(Byte(a));
        return bytes;
    }();
    ClearBuffer(w.Buffer());
    EXPECT_EQ(ReadCode3(s, 0xFF), OpResult::Completed);
    for (int32_t a = 0; a <= 0xFF; ++a)
        ASSERT_EQ(Cell(a).toStdString(), loaded[a]) << a;
}

TEST_F(ProgrammingTest, ProgramWithoutAFileSendsNothing)
{
    ASSERT_NE(sim, nullptr);
    TfrmMain& w = Open(*sim);
    ChipSession s{w.Link(), w.Buffer(), *FindDevice(3)};
    EXPECT_EQ(ProgramCode3(s, 0xFF), OpResult::ReloadFailed);
    EXPECT_EQ(messages, QStringList{"The file name does not indentify!!"});
}

} // namespace
} // namespace qvx::test
