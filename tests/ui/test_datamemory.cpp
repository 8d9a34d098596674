// The Data Memory window on the simulated AT89S8252 and AT89S8253: what is
// loaded there reaches the chip's data EEPROM, comes back by Read and Save
// As, is checked by Verify, and goes in after the code with AUTO-PROGRAM.
#include "CommandFixture.h"
#include "DataMemory.h"

namespace qvx::test {
namespace {

class DataMemoryTest : public CommandTest, public ::testing::WithParamInterface<const char*> {
protected:
    // Opens the window on the part of the test, chosen, its Data Memory
    // window shown, its dialogs answering with files of this folder.
    TfrmDataMemory& OpenData(const std::string& more = "")
    {
        OpenOn(std::string(GetParam()) + ",timing=instant" + more);
        Choose(GetParam());
        window->WindowHooks().OpenDataFile = [this] { return std::optional<QString>(QString::fromStdString(Dir() + "/data.hex")); };
        window->WindowHooks().SaveDataFile = [this] { return std::optional<QString>(QString::fromStdString(Dir() + "/back.bin")); };
        EXPECT_TRUE(window->DataMemory1->isEnabled());
        window->DataMemory1->trigger();
        EXPECT_TRUE(window->frmDataMemory->isVisible());
        return *window->frmDataMemory;
    }
    std::string ChipData() const
    {
        const std::vector<uint8_t>& data = sim->Chip().Data();
        return {data.begin(), data.end()};
    }
    // A table at the start and three bytes at the very end.
    std::map<int32_t, std::vector<uint8_t>> data{{0x0000, {0x10, 0x32, 0x54, 0x76, 0x98}}, {0x07FD, {0xA1, 0xB2, 0xC3}}};
    std::string Image() const
    {
        std::string image(0x800, '\xFF');
        for (const auto& [address, bytes] : data)
            for (size_t i = 0; i < bytes.size(); ++i)
                image[size_t(address) + i] = char(bytes[i]);
        return image;
    }
};

TEST_P(DataMemoryTest, LoadProgramVerifyReadAndSaveThroughTheWindow)
{
    TfrmDataMemory& d = OpenData();
    WriteFile("data.hex", HexText(data));
    d.btnDataLoad->click();
    EXPECT_EQ(d.edtDataFileName->text().toStdString(), Dir() + "/data.hex");
    EXPECT_EQ(d.grdData->Model().CellText(14, 128), QStringLiteral("A1")); // 07FD
    EXPECT_EQ(d.grdData->Model().rowCount(), 128); // 2 KB

    size_t from = statuses.size();
    d.btnDataProgram->click();
    EXPECT_EQ(StatusesSince(from), (std::vector<std::string>{"Programming Data Memory...", "Data Memory program finished."}));
    EXPECT_TRUE(ChipData() == Image());
    EXPECT_EQ(d.edtDataStatus->text(), QStringLiteral("Data Memory program finished."));
    const std::vector<uint8_t>& code = sim->Chip().Code();
    EXPECT_TRUE(std::all_of(code.begin(), code.end(), [](uint8_t b) { return b == 0xFF; })); // the code untouched

    d.btnDataVerify->click();
    EXPECT_EQ(statuses.back(), "Data Memory verify complete.");
    // A byte the chip holds otherwise: Verify names it, Read shows the chip's.
    std::vector<uint8_t> changed(sim->Chip().Data());
    changed[0x0003] = 0x00;
    sim->Chip().PresetData(changed);
    d.btnDataVerify->click();
    EXPECT_EQ(statuses.back(), "Data Memory verify not match");
    d.btnDataRead->click();
    EXPECT_EQ(statuses.back(), "Read Data Memory finished");
    EXPECT_EQ(d.grdData->Model().CellText(4, 1), QStringLiteral("00"));
    d.btnDataSave->click();
    EXPECT_EQ(statuses.back(), "Save data file complete.");
    std::ifstream saved(Dir() + "/back.bin", std::ios::binary);
    EXPECT_TRUE(std::string(std::istreambuf_iterator<char>(saved), {}) == ChipData());
    EXPECT_TRUE(messages.isEmpty()) << messages.join('|').toStdString();

    // Another part: no data memory, the menu item and the chip buttons off.
    Choose("AT89S52");
    EXPECT_FALSE(window->DataMemory1->isEnabled());
    EXPECT_FALSE(d.btnDataProgram->isEnabled() || d.btnDataRead->isEnabled() || d.btnDataVerify->isEnabled());
    EXPECT_TRUE(d.btnDataLoad->isEnabled());
}

TEST_P(DataMemoryTest, AutoProgramWritesTheDataFileAfterTheCode)
{
    TfrmDataMemory& d = OpenData();
    const int32_t last = FindDevice(DeviceCodeByName(GetParam()))->LastAddress;
    LoadHex(HexText(Program(last)));
    window->AutoRUNafterprogram1->trigger(); // stays in program mode for the next click
    // Without a data file: the chip erase leaves the data memory erased.
    sim->Chip().PresetData(std::vector<uint8_t>(0x800, 0x5A));
    size_t from = statuses.size();
    window->btnAuto->click();
    EXPECT_EQ(statuses.back(), "Auto Programming finished.");
    EXPECT_TRUE(ChipData() == std::string(0x800, '\xFF'));

    WriteFile("data.hex", HexText(data));
    d.btnDataLoad->click();
    from = statuses.size();
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
    EXPECT_EQ(sim->Chip().CodeByte(0x0001), 0x05);
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].contains(QStringLiteral("Line 2:"))) << messages[0].toStdString();
}

// A byte that never reads back after its write cycle fails the command with
// its address, never "finished".
TEST_P(DataMemoryTest, AByteThatNeverReadsBackFailsWithItsAddress)
{
    TfrmDataMemory& d = OpenData(",fault=busy");
    WriteFile("data.hex", HexText(data));
    d.btnDataLoad->click();
    d.btnDataProgram->click();
    EXPECT_EQ(statuses.back(), "Data Memory programming failed");
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].startsWith(QStringLiteral("The data memory byte at 0000 did not read back")))
        << messages[0].toStdString();
}

INSTANTIATE_TEST_SUITE_P(BothParts, DataMemoryTest, ::testing::Values("AT89S8252", "AT89S8253"));

} // namespace
} // namespace qvx::test
