// Code files in the window: "&Save Code As..." in HEX and binary, binary
// files through LOAD FILE, and what a read chip gives back once saved.
// Also the window's other modal places while a command runs.
#include "ABOUT_QVX.h"
#include "CommandFixture.h"

#include <QFileDialog>
#include <QTimer>

#include <fstream>
#include <iterator>

namespace qvx::test {
namespace {

class FilesTest : public CommandTest {
protected:
    // The save dialog answers `path` (relative to the test's folder), or
    // cancels when empty.
    void SaveAs(const std::string& path)
    {
        window->WindowHooks().SaveFile = [this, path]() -> std::optional<QString> {
            if (path.empty())
                return std::nullopt;
            return QString::fromStdString(path[0] == '/' ? path : Dir() + "/" + path);
        };
        window->SaveCodeAs1->trigger();
    }
    std::string Read(const std::string& name) const
    {
        std::ifstream in(Dir() + "/" + name, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    static std::vector<uint8_t> Image(size_t size)
    {
        std::vector<uint8_t> image(size, 0xFF);
        for (size_t a = 0; a < size; ++a)
            if (a % 100 < 60)
                image[a] = uint8_t(a * 13 + (a >> 8));
        return image;
    }
};

TEST_F(FilesTest, ReadChipSavedAsHexLoadsBackAndVerifies)
{
    OpenOn("AT89S52,timing=instant");
    Choose("AT89S52");
    const std::vector<uint8_t> image = Image(0x2000);
    sim->Chip().PresetCode(image);
    LoadHex(HexText({{0x0000, {0x01, 0x02, 0x03}}}), "other.hex"); // something else in the buffer first

    window->btnReadChip->click();
    ASSERT_EQ(statuses.back(), "Read Chip finished");
    size_t from = statuses.size();
    SaveAs("chip.hex");
    EXPECT_EQ(StatusesSince(from), std::vector<std::string>{"Save file complete."});
    EXPECT_TRUE(messages.isEmpty()) << messages.join('|').toStdString();
    const std::string hex = Read("chip.hex");
    EXPECT_EQ(std::count(hex.begin(), hex.end(), '\n'), 0x2000 / 16 + 1);

    LoadHex(HexText({{0x0000, {0x01, 0x02, 0x03}}}), "other.hex");
    chosen.push_back(QString::fromStdString(Dir() + "/chip.hex"));
    window->Load1->trigger();
    EXPECT_EQ(statuses.back(), "Load file complete.");
    EXPECT_EQ(Cell(0x0000).toStdString(), Byte(0x0000));
    from = statuses.size();
    window->btnVerify->click();
    EXPECT_EQ(StatusesSince(from), (std::vector<std::string>{"Verify Code...", "PROGRAM MODE.", "Verify complete."}));

    // The same as a binary image: the device's size, byte for byte.
    SaveAs("chip.bin");
    EXPECT_EQ(Read("chip.bin"), std::string(image.begin(), image.end()));
    chosen.push_back(QString::fromStdString(Dir() + "/chip.bin"));
    window->btnLoadFile->click();
    EXPECT_EQ(statuses.back(), "Load file complete.");
    window->btnVerify->click();
    EXPECT_EQ(statuses.back(), "Verify complete.");
}

TEST_F(FilesTest, SaveIntoAFolderThatCannotBeWrittenSaysWhy)
{
    OpenOn("AT89S8252,timing=instant");
    WriteFile("plain", "a file, not a folder");
    const size_t from = statuses.size();
    SaveAs("plain/code.hex");
    EXPECT_EQ(messages, QStringList{QString::fromStdString("Cannot write the file " + Dir() +
                                                           "/plain/code.hex\nNot a directory")});
    EXPECT_EQ(StatusesSince(from), std::vector<std::string>{"Save file failed."});
    EXPECT_EQ(window->edtStatus->text(), QStringLiteral("Save file failed."));
    EXPECT_EQ(Read("plain"), "a file, not a folder");

    // A missing folder, and a cancelled dialog that writes nothing.
    SaveAs("no/such/folder/code.bin");
    EXPECT_TRUE(messages.back().endsWith(QStringLiteral("\nNo such file or directory")));
    const size_t after = statuses.size();
    SaveAs("");
    EXPECT_EQ(statuses.size(), after);
}

TEST_F(FilesTest, SaveDialogGivesATypedNameTheChosenFormatsExtension)
{
    OpenOn("AT89S8252,timing=instant");
    QFileDialog& dialog = *window->SaveDialog1;
    EXPECT_EQ(dialog.defaultSuffix(), QStringLiteral("hex"));
    emit dialog.filterSelected(QStringLiteral("Binary File (*.bin)"));
    EXPECT_EQ(dialog.defaultSuffix(), QStringLiteral("bin"));
    emit dialog.filterSelected(QStringLiteral("Hex File Format (*.hex)"));
    EXPECT_EQ(dialog.defaultSuffix(), QStringLiteral("hex"));
}

TEST_F(FilesTest, BinaryFilesLoadAtZeroAndMoreThan64KBIsRefused)
{
    OpenOn("AT89S8252,timing=instant");
    LoadHex(std::string("\x02\x00\x30\xC2\x90", 5), "app.bin");
    EXPECT_EQ(statuses.back(), "Load file complete.");
    EXPECT_EQ(Cell(0x0000), QStringLiteral("02"));
    EXPECT_EQ(Cell(0x0003), QStringLiteral("C2"));
    EXPECT_EQ(Cell(0x0005), QStringLiteral("FF"));
    EXPECT_EQ(window->edtFileName->text().toStdString(), Dir() + "/app.bin");

    // PROGRAM reloads the binary file, as it does a HEX file.
    window->btnProgram->click();
    EXPECT_EQ(sim->Chip().CodeByte(0x0004), 0x90);

    // Larger than the chip: loaded, with the size message and the beep.
    LoadHex(std::string(0x2001, '\x11'), "large.bin");
    EXPECT_EQ(statuses.back(), "Code over MCU memory [8191]");
    EXPECT_EQ(beeps, 1);

    // Larger than the code memory: refused, nothing loaded.
    LoadHex(std::string(65537, '\x11'), "huge.bin");
    ASSERT_EQ(messages.size(), 1);
    EXPECT_EQ(messages[0].toStdString(), "The file " + Dir() +
                                             "/huge.bin does not fit the 64 KB code memory; nothing was loaded.\n"
                                             "it holds 65537 bytes, the code memory 65536.");
    EXPECT_EQ(statuses.back(), "Load file failed.");
    EXPECT_TRUE(BufferCleared());
    EXPECT_TRUE(GridCleared());
}

TEST_F(FilesTest, FailedVerifyNamesTheByteInTheLogOnly)
{
    OpenOn("AT89S8252,timing=instant");
    LoadHex(HexText({{0x0100, {0xAA, 0xBB}}}));
    window->btnProgram->click();
    sim->Chip().PresetCode(0x0101, 0x0B); // flash can only lose bits
    ::testing::internal::CaptureStderr();
    const size_t from = statuses.size();
    window->btnVerify->click();
    const std::string log = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(StatusesSince(from), (std::vector<std::string>{"Verify Code...", "PROGRAM MODE.", "Verify not match"}));
    EXPECT_NE(log.find(" PROGRAM MODE.\n"), std::string::npos) << log;
    const size_t detail = log.find(" Verify failed at 0101: expected BB, read 0B\n");
    ASSERT_NE(detail, std::string::npos) << log;
    EXPECT_LT(detail, log.find(" Verify not match\n"));
}

// The about window and the picture's double click would open a nested
// event loop or change the window in the middle of programming.
TEST_F(FilesTest, AboutAndPictureWaitWhileACommandRuns)
{
    OpenOn("AT89S8252,timing=instant");
    TfrmAboutQvx about(window.get());
    window->SetAboutWindow(&about);
    window->show();
    LoadHex(HexText(Program(0x1FFF)));
    int aboutShown = 0;
    auto closeAboutIfShown = [&] {
        QTimer::singleShot(0, &about, [&] {
            if (about.isVisible()) {
                ++aboutShown;
                about.close();
            }
        });
    };
    const int width = window->width();
    window->WindowHooks().Status = [&](const QString& text) {
        statuses.push_back(text.toStdString());
        if (text == QStringLiteral("Programming...")) {
            closeAboutIfShown();
            window->About1->trigger();
            window->Image1DblClick();
        }
    };
    window->btnAuto->click();
    EXPECT_EQ(aboutShown, 0);
    EXPECT_EQ(window->width(), width);
    EXPECT_EQ(statuses.back(), "RUN MODE.");
    EXPECT_EQ(sim->Chip().CodeByte(0x1FFE), 0x12);

    // Afterwards both work again.
    window->WindowHooks().Status = nullptr;
    closeAboutIfShown();
    window->About1->trigger();
    EXPECT_EQ(aboutShown, 1);
    window->Image1DblClick();
    EXPECT_LT(window->width(), width);
    window->SetAboutWindow(nullptr);
}

// A file larger than the chip loads with its warning; neither PROGRAM nor AUTO-PROGRAM then touches the chip.
TEST_F(FilesTest, CodePastTheChipsEndIsNeverProgrammed)
{
    OpenOn("AT89S52,timing=instant");
    Choose("AT89S52");
    LoadHex(HexText({{0x0000, {0x02, 0x00, 0x30}}, {0x2FFE, {0x12, 0x34}}}), "big.hex");
    EXPECT_EQ(statuses.back(), "Code over MCU memory [8191]");
    window->btnAuto->click(); // the file reloaded
    window->AutoReloadFile1->trigger();
    window->btnProgram->click(); // the buffer as loaded
    const QString says = QString::fromStdString("The file " + Dir() +
                                                "/big.hex holds code up to address 2FFF, but the AT89S52 has 8192 "
                                                "bytes of code memory (0000 to 1FFF).\nNothing was programmed: "
                                                "choose a larger device, or code that fits.");
    EXPECT_EQ(messages, (QStringList{says, says}));
    EXPECT_EQ(window->edtStatus->text(), QStringLiteral("Not programmed: code over MCU memory [8191]"));
    EXPECT_EQ(sim->Chip().Counters().instructions, 0u);
}

} // namespace
} // namespace qvx::test
