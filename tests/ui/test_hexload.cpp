// Loading and reloading HEX files through the main window.
#include "HexText.h"
#include "WindowFixture.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTest>

namespace qvx::test {
namespace {

class HexLoadTest : public WindowTest {
protected:
    // A file whose data covers 0000 up to and including `last`.
    std::string FileEndingAt(int32_t last, const std::string& name = "end.hex")
    {
        std::string text;
        for (int32_t a = 0; a <= last; a += 16)
            text += HexRecord(0, uint16_t(a), std::vector<uint8_t>(size_t(std::min<int32_t>(16, last - a + 1)), 0x5A)) + "\n";
        return WriteFile(name, text + ":00000001FF\n");
    }
    void Choose(const std::string& path) { chosen.push_back(QString::fromStdString(path)); }
    void Dirty()
    {
        for (int32_t a = 0; a < kBufferSize; a += 7)
            window->Buffer().CodeHigh[a] = '3';
    }
};

TEST_F(HexLoadTest, LoadCodeFillsBufferGridAndFileName)
{
    TfrmMain& w = Open();
    const std::string path = Example("blink.hex");
    Choose(path);
    w.Load1->trigger();
    EXPECT_EQ(w.edtStatus->text(), QStringLiteral("Load file complete."));
    EXPECT_EQ(w.edtFileName->text().toStdString(), path);
    EXPECT_EQ(w.Chosen().HexFileName, path);
    EXPECT_EQ(Byte(0), "02");
    EXPECT_EQ(Cell(0), QStringLiteral("02"));
    EXPECT_EQ(Cell(0xA4), QStringLiteral("FF")); // past the program's end
    EXPECT_EQ(beeps, 0);
    EXPECT_TRUE(messages.isEmpty());
    for (int32_t a = 0; a < 0xA4; ++a)
        ASSERT_EQ(Cell(a).toStdString(), Byte(a));
}

TEST_F(HexLoadTest, LoadFileButtonDoesWhatTheMenuItemDoes)
{
    TfrmMain& w = Open();
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    Choose(Example("uart_echo.hex"));
    QTest::mouseClick(w.btnLoadFile, Qt::LeftButton);
    EXPECT_EQ(w.edtStatus->text(), QStringLiteral("Load file complete."));
    EXPECT_EQ(Cell(0), QStringLiteral("02"));
    EXPECT_EQ(w.edtFileName->text().toStdString(), Example("uart_echo.hex"));
}

TEST_F(HexLoadTest, CodeOverTheChipsMemoryIsReportedWithABeep)
{
    TfrmMain& w = Open(); // AT89S8252: 8 KB
    Choose(Example("selftest_12k.hex"));
    w.Load1Click();
    EXPECT_EQ(w.edtStatus->text(), QStringLiteral("Code over MCU memory [8191]"));
    EXPECT_EQ(beeps, 1);
    EXPECT_EQ(Byte(0x2000), Cell(0x2000).toStdString()); // the load stands
    EXPECT_NE(Byte(0x2000), "FF");

    Choose(Example("selftest_8k.hex"));
    w.Load1Click();
    EXPECT_EQ(w.edtStatus->text(), QStringLiteral("Load file complete."));
    EXPECT_EQ(beeps, 1);

    w.Chosen().DeviceCode = 5; // AT89S2051: 2 KB
    Choose(Example("selftest_4k.hex"));
    w.Load1Click();
    EXPECT_EQ(w.edtStatus->text(), QStringLiteral("Code over MCU memory [2047]"));
    EXPECT_EQ(beeps, 2);
}

TEST_F(HexLoadTest, DataEndingAtTheLastAddressFitsOneMoreByteDoesNot)
{
    TfrmMain& w = Open();
    w.Chosen().DeviceCode = 1; // AT89S52
    Choose(FileEndingAt(0x1FFF));
    w.Load1Click();
    EXPECT_EQ(w.edtStatus->text(), QStringLiteral("Load file complete."));
    EXPECT_EQ(beeps, 0);

    Choose(FileEndingAt(0x2000, "over.hex"));
    w.Load1Click();
    EXPECT_EQ(w.edtStatus->text(), QStringLiteral("Code over MCU memory [8191]"));
    EXPECT_EQ(beeps, 1);
}

// A cancelled dialog changes nothing: buffer, grid, file name, status.
TEST_F(HexLoadTest, CancellingTheDialogChangesNothing)
{
    TfrmMain& w = Open();
    const std::string path = Example("blink.hex");
    Choose(path);
    w.Load1Click();
    ASSERT_EQ(Cell(0), QStringLiteral("02"));
    w.SetStatus("PROGRAM MODE.");

    // No answer queued: the dialog is cancelled.
    EXPECT_EQ(w.LoadHexFile(), 0);
    w.Load1Click();
    EXPECT_EQ(w.edtStatus->text(), QStringLiteral("PROGRAM MODE."));
    EXPECT_EQ(Byte(0), "02");
    EXPECT_EQ(Cell(0), QStringLiteral("02"));
    EXPECT_EQ(w.edtFileName->text().toStdString(), path);
    EXPECT_EQ(w.Chosen().HexFileName, path);
    EXPECT_EQ(beeps, 0);
    EXPECT_TRUE(messages.isEmpty());

    // A reload reads that path again.
    EXPECT_EQ(w.ReloadHexFile(), 0xA4);
    EXPECT_EQ(Cell(0), QStringLiteral("02"));
}

TEST_F(HexLoadTest, InvalidFileIsRefusedWithItsLineAndLoadsNothing)
{
    TfrmMain& w = Open();
    Choose(Example("blink.hex"));
    w.Load1Click();
    const std::string bad = WriteFile("bad.hex", ":03000000020006F5\n:03005F0002000399\n:0300030002FFBF39\n");
    Choose(bad);
    w.Load1Click();
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].contains(QString::fromStdString(bad))) << messages[0].toStdString();
    EXPECT_TRUE(messages[0].contains(QStringLiteral("Line 3: the checksum is 39"))) << messages[0].toStdString();
    EXPECT_EQ(w.edtStatus->text(), QStringLiteral("Load file failed."));
    EXPECT_TRUE(BufferCleared());
    EXPECT_TRUE(GridCleared());
    EXPECT_EQ(w.edtFileName->text().toStdString(), bad);
    EXPECT_EQ(w.Chosen().HexFileName, bad);
    EXPECT_EQ(beeps, 0);
}

TEST_F(HexLoadTest, FileThatCannotBeOpenedIsReportedWithThePathAndTheReason)
{
    TfrmMain& w = Open();
    const std::string good = Example("blink.hex");
    Choose(good);
    w.Load1Click();
    const std::string gone = Dir() + "/gone.hex";
    Choose(gone);
    w.Load1Click();
    ASSERT_EQ(messages.size(), 1);
    EXPECT_EQ(messages[0].toStdString(), "Cannot open the file " + gone + "\nNo such file or directory");
    EXPECT_EQ(w.edtStatus->text(), QStringLiteral("Load file failed."));
    EXPECT_TRUE(BufferCleared());
    EXPECT_TRUE(GridCleared());
    EXPECT_EQ(w.edtFileName->text().toStdString(), good); // the field still names the file last read
    EXPECT_EQ(w.Chosen().HexFileName, gone);
}

TEST_F(HexLoadTest, ReloadWithoutAFileNameSaysSoAndClearsTheBuffer)
{
    TfrmMain& w = Open();
    Dirty();
    w.ShowBuffer();
    EXPECT_EQ(w.ReloadHexFile(), std::nullopt);
    EXPECT_EQ(messages, QStringList{"The file name does not indentify!!"});
    EXPECT_TRUE(BufferCleared());
    EXPECT_TRUE(GridCleared());
    EXPECT_EQ(w.edtStatus->text(), QStringLiteral("PROGRAM MODE."));
}

TEST_F(HexLoadTest, ReloadReadsTheRememberedFileAgain)
{
    TfrmMain& w = Open();
    const std::string path = WriteFile("code.hex", ":03001000AABBCCBC\n:00000001FF\n");
    Choose(path);
    w.Load1Click();
    ASSERT_EQ(Cell(0x10), QStringLiteral("AA"));
    w.SetStatus("Programming...");
    w.edtFileName->setText(QStringLiteral("typed by the user"));

    WriteFile("code.hex", ":02002000123498\n:00000001FF\n");
    Dirty();
    EXPECT_EQ(w.ReloadHexFile(), 0x22);
    EXPECT_EQ(Cell(0x10), QStringLiteral("FF")); // nothing of the first load survives
    EXPECT_EQ(Cell(0x20), QStringLiteral("12"));
    EXPECT_EQ(Cell(0x21), QStringLiteral("34"));
    EXPECT_EQ(Byte(0x7), "FF");
    // No dialog, and the fields are left alone.
    EXPECT_TRUE(chosen.empty());
    EXPECT_EQ(w.edtStatus->text(), QStringLiteral("Programming..."));
    EXPECT_EQ(w.edtFileName->text(), QStringLiteral("typed by the user"));
    EXPECT_EQ(beeps, 0);
}

TEST_F(HexLoadTest, ReloadOfAFileThatWentBadReportsAndLoadsNothing)
{
    TfrmMain& w = Open();
    const std::string path = WriteFile("code.hex", ":03001000AABBCCBC\n:00000001FF\n");
    Choose(path);
    w.Load1Click();

    WriteFile("code.hex", "\n:0300100AABBCCBC\n");
    EXPECT_EQ(w.ReloadHexFile(), std::nullopt);
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].contains(QStringLiteral("Line 2: "))) << messages[0].toStdString();
    EXPECT_TRUE(GridCleared());

    std::filesystem::remove(path);
    messages.clear();
    EXPECT_EQ(w.ReloadHexFile(), std::nullopt);
    ASSERT_EQ(messages.size(), 1);
    EXPECT_EQ(messages[0].toStdString(), "Cannot open the file " + path + "\nNo such file or directory");
    EXPECT_TRUE(BufferCleared());
    EXPECT_EQ(w.edtStatus->text(), QStringLiteral("Load file complete."));
}

TEST_F(HexLoadTest, EmptyFileLoadsAsNothing)
{
    TfrmMain& w = Open();
    Choose(WriteFile("empty.hex", ""));
    EXPECT_EQ(w.LoadHexFile(), 0);
    EXPECT_EQ(w.ReloadHexFile(), 0);
    EXPECT_TRUE(messages.isEmpty());
}

} // namespace
} // namespace qvx::test
