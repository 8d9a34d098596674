// The command layer without a window, against the simulated chip: the
// status texts and log lines a front end receives, how commands end, the
// stop request, one command at a time, and code files in and out.
#include "CommandLayer.h"
#include "ImageFile.h"
#include "OperationLog.h"

namespace qvx {
namespace {

namespace fs = std::filesystem;

TEST_F(CommandLayerTest, FailedChecksNameTheAddressTheExpectedAndTheReadByteInTheLog)
{
    Open("AT89S8252,timing=instant");
    Put(0x1A2E, 0x11);
    Put(0x1A2F, 0x5C);
    Chip().PresetCode(0x1A2E, 0x11); // 1A2F still erased

    EXPECT_EQ(commands.Verify(), Outcome::ChipFailed);
    EXPECT_EQ(view.statuses, (std::vector<std::string>{"Verify Code...", "PROGRAM MODE.", "Verify not match"}));
    // The AT89S8252 has no signature to check: said once.
    EXPECT_EQ(view.LogTexts(),
              (std::vector<std::string>{
                  "Verify Code...",
                  "The AT89S8252 has no serial signature: the chip on the cable cannot be checked against it",
                  "PROGRAM MODE.", "Verify failed at 1A2F: expected 5C, read FF", "Verify not match"}));
    EXPECT_TRUE(view.messages.empty());

    view.log.clear();
    EXPECT_EQ(commands.BlankCheck(), Outcome::ChipFailed);
    EXPECT_EQ(view.LogTexts().at(2), "Blank check failed at 1A2E: expected FF, read 11");
    EXPECT_EQ(view.statuses.back(), "Not blank chip!!!");

    // Checks that pass say nothing more.
    Chip().PresetCode(0x1A2F, 0x5C);
    view.log.clear();
    EXPECT_EQ(commands.Verify(), Outcome::Succeeded);
    EXPECT_EQ(view.LogTexts(), (std::vector<std::string>{"Verify Code...", "PROGRAM MODE.", "Verify complete."}));
}

TEST_F(CommandLayerTest, AutoProgramNamesTheByteItsVerifyFoundWrong)
{
    Open("AT89S52,timing=instant");
    for (int32_t a = 0; a < 0x40; ++a)
        Put(a, uint8_t(0x80 + a));
    selection.HexFileName = "in the buffer";
    // The chip loses a byte between programming and verify.
    view.onStatus = [&](const std::string& text) {
        if (text == "Verify code ...")
            Chip().PresetCode(0x0021, 0x00);
    };
    EXPECT_EQ(commands.AutoProgram(), Outcome::ChipFailed);
    const std::vector<std::string> log = view.LogTexts();
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(std::vector<std::string>(log.end() - 3, log.end()),
              (std::vector<std::string>{"Verify failed at 0021: expected A1, read 00", "Verify not match",
                                        "Auto programming fail"}));
}

TEST_F(CommandLayerTest, LockWriteThatNeverReadsBackFailsItsCommand)
{
    // A chip stuck in a write cycle since the first byte ignores the lock
    // writes after it: the AT89S51's step-by-step lock write sees it.
    Open("AT89S51,timing=instant,fault=busy");
    Put(0x0010, 0x42);
    EXPECT_EQ(commands.Program(), Outcome::ChipFailed);
    EXPECT_EQ(view.statuses, (std::vector<std::string>{"Programming...", "Programming Time-Out"}));

    SetLockBox(selection.Locks, 1, true);
    view.statuses.clear();
    EXPECT_EQ(commands.WriteLockBits(), Outcome::ChipFailed);
    EXPECT_EQ(view.messages.back(), "Timeout Lb1=0 Lb2=1");
    EXPECT_EQ(view.statuses, std::vector<std::string>{"Lock bit write failed"});
    EXPECT_FALSE(Chip().LockBit(1));
}

// On a noisy line the lock write is reported done exactly when the chip's
// lock bit is programmed: a bit that never programs does not pass on reads
// the noise happened to flip, and one that does is still confirmed.
TEST_F(CommandLayerTest, NoisyReadsConfirmALockBitOnlyWhenItProgrammed)
{
    int confirmed = 0;
    for (const char* device : {"AT89S52", "AT89S8253", "AT89S2051"})
        for (const std::string fault : {",fault=nolock", ""})
            for (int seed = 1; seed <= 8; ++seed) {
                const std::string options =
                    device + std::string(",timing=instant,noise=0.02,seed=") + std::to_string(seed) + fault;
                SCOPED_TRACE(options);
                Open(options);
                SetLockBox(selection.Locks, 1, true);
                const bool wrote = commands.WriteLockBits() == Outcome::Succeeded;
                EXPECT_EQ(wrote, Chip().LockBit(1));
                confirmed += wrote;
            }
    EXPECT_GE(confirmed, 20) << "of the 24 chips whose lock bit programs";
}

TEST_F(CommandLayerTest, StopRequestEndsTheCommandAtTheNextByteWithoutARefusal)
{
    Open("AT89S8252,timing=instant");
    for (int32_t a = 0; a <= 0x1FFF; ++a)
        Put(a, uint8_t(a));
    view.onProgress = [&](int32_t position) {
        if (position >= 50)
            link.StopRequested = 1;
    };
    EXPECT_EQ(commands.Program(), Outcome::ChipFailed);
    EXPECT_EQ(view.statuses, (std::vector<std::string>{"Programming...", kCommandStopped}));
    EXPECT_TRUE(view.messages.empty());
    EXPECT_EQ(Chip().CodeByte(0x0001), 0x01);
    EXPECT_EQ(Chip().CodeByte(0x0FFE), 0xFE); // half way
    EXPECT_EQ(Chip().CodeByte(0x1FFF), 0xFF); // never reached
    EXPECT_FALSE(commands.Busy());

    // Every later command ends the same way, before the chip.
    const uint64_t instructions = Chip().Counters().instructions;
    view.statuses.clear();
    EXPECT_EQ(commands.Erase(), Outcome::ChipFailed);
    EXPECT_EQ(view.statuses, (std::vector<std::string>{"Erase Chip...", kCommandStopped}));
    EXPECT_EQ(Chip().Counters().instructions, instructions);
    EXPECT_EQ(Chip().CodeByte(0x0001), 0x01);
}

TEST_F(CommandLayerTest, CommandStartedWhileAnotherRunsDoesNothing)
{
    Open("AT89S8252,timing=instant");
    Put(0x0000, 0x12);
    std::vector<Outcome> nested;
    view.onStatus = [&](const std::string& text) {
        if (text != "Programming...")
            return;
        nested.push_back(commands.Erase());
        nested.push_back(commands.LoadCode(Named("/nonexistent.hex")));
        nested.push_back(commands.SaveCode(Named((dir / "x.hex").string())));
        nested.push_back(commands.AutoProgram());
    };
    EXPECT_EQ(commands.Program(), Outcome::Succeeded);
    EXPECT_EQ(nested, std::vector<Outcome>(4, Outcome::NotRun));
    EXPECT_EQ(view.statuses, (std::vector<std::string>{"Programming...", "Program finished."}));
    EXPECT_EQ(Chip().Counters().erases, 0u);
    EXPECT_FALSE(fs::exists(dir / "x.hex"));
    EXPECT_EQ(Chip().CodeByte(0x0000), 0x12);
}

TEST_F(CommandLayerTest, BinaryFilesLoadReloadAndSave)
{
    Open("AT89S2051,timing=instant");
    std::string image(0x0800, '\xFF');
    image[0] = '\x02', image[1] = '\x00', image[0x07FF] = '\x77';
    const std::string bin = File("app.bin", image);

    int32_t end = 0;
    EXPECT_EQ(commands.LoadCode(Named(bin), &end), Outcome::Succeeded);
    EXPECT_EQ(end, 0x0800);
    EXPECT_EQ(view.statuses.back(), "Load file complete.");
    EXPECT_EQ(selection.HexFileName, bin);

    // The reload of programming reads the binary file again.
    ClearBuffer(*buffer);
    selection.AutoReload = true;
    EXPECT_EQ(commands.AutoProgram(), Outcome::Succeeded);
    EXPECT_EQ(Chip().CodeByte(0x07FF), 0x77);
    EXPECT_EQ(Chip().CodeByte(0x0000), 0x02);

    // Saved for the device's size, in the format of the name.
    EXPECT_EQ(commands.SaveCode(Named((dir / "back.BIN").string())), Outcome::Succeeded);
    EXPECT_EQ(view.statuses.back(), "Save file complete.");
    std::ifstream in(dir / "back.BIN", std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), image);

    // A binary larger than the chip loads, and fails the load command.
    EXPECT_EQ(commands.LoadCode(Named(File("big.bin", std::string(0x0900, '\x01')))), Outcome::FileFailed);
    EXPECT_EQ(view.statuses.back(), "Code over MCU memory [2047]");
    EXPECT_EQ(view.beeps, 1);
    EXPECT_EQ(BufferByte(*buffer, 0x08FF), 0x01);
}

TEST_F(CommandLayerTest, SaveThatIsCancelledOrHasNoDeviceWritesNothing)
{
    Open("AT89S8252,timing=instant");
    EXPECT_EQ(commands.SaveCode([] { return std::optional<std::string>(); }), Outcome::NotRun);
    EXPECT_TRUE(view.statuses.empty());

    // Without a device there is no size to save.
    selection.DeviceCode = -1;
    EXPECT_EQ(commands.SaveCode(Named((dir / "x.hex").string())), Outcome::NotRun);
    EXPECT_EQ(view.statuses, std::vector<std::string>{"No device selected"});
    EXPECT_FALSE(fs::exists(dir / "x.hex"));
}

TEST(OperationLog, LinesCarryTheTimeOfDayAndNoLineBreaks)
{
    EXPECT_EQ(LogLine("12:34:56", "", "Erase Chip..."), "12:34:56 Erase Chip...");
    EXPECT_EQ(LogLine("12:34:56", "message: ", "a\r\nb\rc\nd"), "12:34:56 message: a / b / c / d");
}

} // namespace
} // namespace qvx
