// The Data Memory window on the simulated AT89S8252 and AT89S8253: Load, Program, Verify, Read, Save As, AUTO-PROGRAM.
#include "CommandFixture.h"
#include "DataMemory.h"

namespace qvx::test {
namespace {

class DataMemoryTest : public CommandTest, public ::testing::WithParamInterface<const char*> {
protected:
    // The Data Memory window, data.hex loaded: a table at the start, three bytes at the very end.
    TfrmDataMemory& OpenData(const std::string& more = "")
    {
        OpenOn(std::string(GetParam()) + ",timing=instant" + more);
        Choose(GetParam());
        window->WindowHooks().OpenDataFile = [this] { return std::optional<QString>(QString::fromStdString(Dir() + "/data.hex")); };
        window->WindowHooks().SaveDataFile = [this] { return std::optional<QString>(QString::fromStdString(Dir() + "/back.bin")); };
        window->DataMemory1->trigger();
        WriteFile("data.hex", HexText({{0x0000, {0x10, 0x32, 0x54, 0x76, 0x98}}, {0x07FD, {0xA1, 0xB2, 0xC3}}}));
        window->frmDataMemory->btnDataLoad->click();
        return *window->frmDataMemory;
    }
    std::string ChipData() const { return {sim->Chip().Data().begin(), sim->Chip().Data().end()}; }
    static std::string Image() { return std::string("\x10\x32\x54\x76\x98") + std::string(0x7F8, '\xFF') + "\xA1\xB2\xC3"; }
};

TEST_P(DataMemoryTest, LoadProgramVerifyReadAndSaveThroughTheWindow)
{
    TfrmDataMemory& d = OpenData();
    EXPECT_EQ(d.grdData->Model().CellText(14, 128), QStringLiteral("A1")); // 07FD
    d.btnDataProgram->click();
    EXPECT_EQ(statuses.back(), "Data Memory program finished.");
    EXPECT_TRUE(ChipData() == Image());
    EXPECT_EQ(sim->Chip().CodeByte(0x0000), 0xFF); // the code untouched
    d.btnDataVerify->click();
    EXPECT_EQ(statuses.back(), "Data Memory verify complete.");
    // A byte the chip holds otherwise: Verify names it, Read shows the chip's.
    std::vector<uint8_t> changed(sim->Chip().Data());
    changed[0x0003] = 0x00;
    sim->Chip().PresetData(changed);
    d.btnDataVerify->click();
    EXPECT_EQ(statuses.back(), "Data Memory verify not match");
    d.btnDataRead->click();
    EXPECT_EQ(d.grdData->Model().CellText(4, 1), QStringLiteral("00"));
    d.btnDataSave->click();
    std::ifstream saved(Dir() + "/back.bin", std::ios::binary);
    EXPECT_TRUE(std::string(std::istreambuf_iterator<char>(saved), {}) == ChipData());
    EXPECT_TRUE(messages.isEmpty()) << messages.join('|').toStdString();

    // Another part: no data memory, the menu item and the chip buttons off.
    Choose("AT89S52");
    EXPECT_FALSE(window->DataMemory1->isEnabled() || d.btnDataProgram->isEnabled() || d.btnDataRead->isEnabled() ||
                 d.btnDataVerify->isEnabled());
}

TEST_P(DataMemoryTest, AutoProgramWritesTheDataFileAfterTheCode)
{
    OpenData();
    LoadHex(HexText(Program(FindDevice(DeviceCodeByName(GetParam()))->LastAddress)));
    window->AutoRUNafterprogram1->trigger(); // stays in program mode for the next click
    size_t from = statuses.size();
    window->btnAuto->click();
    EXPECT_EQ(StatusesSince(from),
              (std::vector<std::string>{"PROGRAM MODE.", "Erase Chip...", "Programming...", "Program finished.",
                                        "Verify code ...", "Verify complete.", "Programming Data Memory...",
                                        "Data Memory program finished.", "Verify Data Memory ...",
                                        "Data Memory verify complete.", "Auto Programming finished."}));
    EXPECT_TRUE(ChipData() == Image());
    EXPECT_EQ(sim->Chip().CodeByte(0x0001), 0x05);

    // A data file that no longer loads stops AUTO-PROGRAM before the erase.
    WriteFile("data.hex", ":0100000011EE\n:01000\n");
    from = statuses.size();
    window->btnAuto->click();
    EXPECT_EQ(StatusesSince(from), (std::vector<std::string>{"PROGRAM MODE.", "Auto programming fail"}));
    EXPECT_TRUE(ChipData() == Image());
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].contains(QStringLiteral("Line 2:"))) << messages[0].toStdString();
}

// A byte that never reads back after its write cycle fails the command with its address.
TEST_P(DataMemoryTest, AByteThatNeverReadsBackFailsWithItsAddress)
{
    OpenData(",fault=busy").btnDataProgram->click();
    EXPECT_EQ(statuses.back(), "Data Memory programming failed");
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].startsWith(QStringLiteral("The data memory byte at 0000 did not read back")))
        << messages[0].toStdString();
}

INSTANTIATE_TEST_SUITE_P(BothParts, DataMemoryTest, ::testing::Values("AT89S8252", "AT89S8253"));

} // namespace
} // namespace qvx::test
