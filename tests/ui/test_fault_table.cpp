// The fault table of the README, one test a row, in the row's order: each
// fault tried through the window (on the simulated chip, in this process) or
// through qvx-isp-cli and qvx-isp run as processes of their own, with what
// the user is shown, what the chip holds afterwards, and that no step is
// reported as done that was not.
#include "ChildProcess.h"
#include "CommandFixture.h"
#include "StoppedImage.h"

#include <QAction>

#include <chrono>
#include <csignal>
#include <fstream>
#include <iterator>
#include <thread>

#include <sys/stat.h>

namespace qvx::test {
namespace {

namespace fs = std::filesystem;

// Texts that say a step was done.
const char* const kSuccessTexts[] = {"Erase finished.",  "Program finished.",          "Verify complete.",
                                     "Blank chip [OK]",  "Auto Programming finished.", "Read Chip finished"};

std::string ReadBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// `size` bytes of code that are never FF.
std::vector<uint8_t> Code(size_t size)
{
    std::vector<uint8_t> code(size);
    for (size_t i = 0; i < size; ++i)
        code[i] = uint8_t((i * 7 + 1) % 255);
    return code;
}

class FaultTable : public CommandTest {
protected:
    // The window on the simulated chip, the device chosen, `code` loaded
    // from "app.hex".
    void Prepare(const std::string& device, const std::string& options, const std::vector<uint8_t>& code)
    {
        OpenOn(device + ",timing=instant" + options);
        Choose(device);
        LoadHex(HexText({{0, code}}), "app.hex");
        from = statuses.size();
    }
    std::vector<std::string> Since() const { return StatusesSince(from); }
    // Shown since `from`.
    bool Stated(const std::string& text) const
    {
        const std::vector<std::string> since = Since();
        return std::find(since.begin(), since.end(), text) != since.end();
    }
    // No status since `from` says a step was done.
    void ExpectNoSuccessSince() const
    {
        for (const std::string& text : Since())
            for (const char* success : kSuccessTexts)
                EXPECT_NE(text, success);
    }
    // The chip's code from 0 on is `code` for `done` bytes, then erased.
    void ExpectChip(const std::vector<uint8_t>& code, size_t done) const
    {
        const std::vector<uint8_t>& chip = sim->Chip().Code();
        for (size_t a = 0; a < chip.size(); ++a)
            ASSERT_EQ(chip[a], a < done ? code[a] : 0xFF) << a;
    }

    std::string Path(const std::string& name) const { return (fs::path(Dir()) / name).string(); }
    std::string SimSpec(const std::string& device, const std::string& more = "") const
    {
        return "sim:" + device + ",timing=instant,state=" + Path("chip.bin") + ",lines=" + Path("lines.txt") + more;
    }
    ChildSetup Cli(const std::vector<std::string>& args) const { return {QVX_CLI, args, Dir(), std::nullopt, false, {}}; }
    ChildSetup Gui(const std::string& qvxPort) const
    {
        // Leak reports at the end of a process killed on purpose say nothing
        // about the program: the window's own suites check its memory.
        return {QVX_GUI, {}, Dir(), qvxPort, false, {"QT_QPA_PLATFORM=offscreen", "ASAN_OPTIONS=detect_leaks=0"}};
    }
    std::string Lines() const { return ReadBytes(Path("lines.txt")); }
    // Waits until the simulated cable's lines file shows `text`.
    bool LinesShow(const std::string& text) const
    {
        for (int i = 0; i < 600 && Lines() != text; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        return Lines() == text;
    }

    // AUTO-PROGRAM on a target that refuses the programming enable: one
    // message, and the chip as it was.
    void ExpectAutoRefused(const std::string& device, const std::string& options)
    {
        messages.clear();
        Prepare(device, options, Code(0x100));
        sim->Chip().PresetCode(0x10, 0x42);
        window->btnAuto->click();
        EXPECT_EQ(Since(), (std::vector<std::string>{"PROGRAM MODE.", "Erase Chip...",
                                                     "Device have not in program mode", "Auto programming fail"}));
        EXPECT_EQ(messages, QStringList{QStringLiteral("Device have not in program mode")});
        EXPECT_EQ(sim->Chip().CodeByte(0x10), 0x42);
    }
    // The end of an AUTO-PROGRAM whose programming timed out.
    void ExpectAutoTimedOut()
    {
        EXPECT_EQ(Since(), (std::vector<std::string>{"PROGRAM MODE.", "Erase Chip...", "Programming...",
                                                     "Programming Time-Out", "Auto programming fail"}));
        EXPECT_EQ(messages, QStringList{QStringLiteral("Programming Time-Out")});
    }

    size_t from = 0;
};

TEST_F(FaultTable, NoCable)
{
    ExpectAutoRefused("AT89S52", ",fault=nocable");
    EXPECT_EQ(sim->Chip().Counters().instructions, 0u);

    // The command line: exit status 1, the state file as it was.
    WriteFile("chip.bin", std::string(0x2000, '\x42'));
    const Ran ran = RunChild(Cli({"--device", "AT89S52", "--port", SimSpec("AT89S52", ",fault=nocable"), "--auto",
                                  "app.hex"}));
    EXPECT_EQ(ran.status, 1) << ran.err;
    EXPECT_TRUE(ran.Logged("message: Device have not in program mode")) << ran.err;
    EXPECT_TRUE(ran.Logged("Auto programming fail"));
    EXPECT_FALSE(ran.Logged("Auto Programming finished."));
    EXPECT_EQ(ReadBytes(Path("chip.bin")), std::string(0x2000, '\x42'));
    EXPECT_EQ(Lines(), "RST=0 D3=1 D7=1\n");
}

TEST_F(FaultTable, CableButNoChip)
{
    // A four-byte part answers its enable with 0x69: without a chip nothing
    // answers, as without a cable.
    ExpectAutoRefused("AT89S52", ",fault=nochip");

    // The AT89S8252 does not answer its enable; the first byte written never
    // reads back.
    messages.clear();
    Prepare("AT89S8252", ",fault=nochip", Code(0x100));
    window->btnAuto->click();
    ExpectAutoTimedOut();
    ExpectNoSuccessSince();
    // VERIFY on its own does not pass either.
    from = statuses.size();
    window->btnVerify->click();
    EXPECT_EQ(statuses.back(), "Verify not match");
}

TEST_F(FaultTable, ChipThatNeverAnswersTheProgrammingEnable)
{
    ExpectAutoRefused("AT89S51", ",fault=noenable");

    // The three-byte parts cannot tell from the enable; their erase is
    // never seen to end.
    messages.clear();
    Prepare("AT89S8252", ",timing=virtual,fault=noenable", Code(0x100));
    sim->Chip().PresetCode(0x10, 0x42);
    window->btnAuto->click();
    EXPECT_EQ(Since(), (std::vector<std::string>{"PROGRAM MODE.", "Erase Chip...", "Erase failed",
                                                 "Auto programming fail"}));
    EXPECT_EQ(messages, QStringList{QStringLiteral("Chip erase did not complete")});
    EXPECT_EQ(sim->Chip().CodeByte(0x10), 0x42);
    EXPECT_EQ(sim->Chip().Counters().erases, 0u);
}

TEST_F(FaultTable, NoisyMisoLine)
{
    // Now and then a flipped bit: reads are repeated until they agree, so
    // the run succeeds and the chip holds the program.
    const std::vector<uint8_t> code = Code(0x400);
    for (int seed : {1, 2, 3}) {
        SCOPED_TRACE(seed);
        messages.clear();
        Prepare("AT89S52", ",noise=0.002,seed=" + std::to_string(seed), code);
        window->btnAuto->click();
        EXPECT_EQ(statuses.back(), "RUN MODE.");
        EXPECT_TRUE(Stated("Auto Programming finished."));
        EXPECT_TRUE(messages.isEmpty()) << messages.join('|').toStdString();
        ExpectChip(code, code.size());
        EXPECT_GT(sim->Chip().Counters().flippedMiso, 0u);
    }
    // A noisier line and a byte that never takes its 7F (it stays FF, one
    // bit off): among the many reads of it one says 7F now and then, which
    // must not pass for the byte.
    std::vector<uint8_t> oneBitOff = code;
    oneBitOff[0x40] = 0x7F;
    for (int seed : {1, 2, 3, 4, 5}) {
        SCOPED_TRACE(seed);
        Prepare("AT89S52", ",noise=0.05,weak=0x40,seed=" + std::to_string(seed), oneBitOff);
        window->btnAuto->click();
        EXPECT_EQ(statuses.back(), "Auto programming fail");
        EXPECT_FALSE(Stated("Verify complete."));
        EXPECT_FALSE(Stated("Auto Programming finished."));
        EXPECT_EQ(sim->Chip().CodeByte(0x40), 0xFF);
    }
    // A line too noisy to read through: READ CHIP and VERIFY CODE say so
    // and what to check, and take nothing for read or verified.
    messages.clear();
    Prepare("AT89S8253", ",noise=0.4", code);
    sim->Chip().PresetCode(code);
    window->btnVerify->click();
    window->btnReadChip->click();
    EXPECT_EQ(Since(), (std::vector<std::string>{"Verify Code...", "PROGRAM MODE.", "Line too noisy", "Read Chip...",
                                                 "PROGRAM MODE.", "Line too noisy"}));
    ASSERT_EQ(messages.size(), 2);
    EXPECT_TRUE(messages[0].startsWith(QStringLiteral("The line from the chip (MISO) is too noisy")));
    EXPECT_TRUE(messages[1].startsWith(QStringLiteral("Read chip error!!!.\nThe line from the chip (MISO) is too noisy")));
    EXPECT_TRUE(messages[1].contains(QStringLiteral("Check that the cable is short and firmly plugged in")));
}

TEST_F(FaultTable, CellThatNeverPrograms)
{
    const std::vector<uint8_t> code = Code(0x200);
    Prepare("AT89S8252", ",weak=0x0100", code);
    SetLockLevel(2);
    window->btnAuto->click();
    ExpectAutoTimedOut();
    ExpectChip(code, 0x100);
    EXPECT_FALSE(sim->Chip().LockBit(1));
}

TEST_F(FaultTable, WriteCycleThatNeverEnds)
{
    Prepare("AT89S52", ",fault=busy", Code(0x200));
    SetLockLevel(1);
    window->btnAuto->click();
    ExpectAutoTimedOut();
    ExpectChip({}, 0);
    EXPECT_FALSE(sim->Chip().LockBit(1));
}

TEST_F(FaultTable, EraseThatNeverEnds)
{
    Prepare("AT89S52", ",timing=virtual,fault=busyerase", Code(0x100));
    sim->Chip().PresetCode(0x10, 0x42);
    window->btnErase->click();
    EXPECT_EQ(Since(), (std::vector<std::string>{"Erase Chip...", "PROGRAM MODE.", "Erase failed"}));
    EXPECT_EQ(messages, QStringList{QStringLiteral("Chip erase did not complete")});
    window->btnAuto->click();
    EXPECT_EQ(statuses.back(), "Auto programming fail");
    EXPECT_EQ(messages.size(), 2);
    ExpectNoSuccessSince();
    // The chip never got to clear its memory.
    EXPECT_EQ(sim->Chip().CodeByte(0x10), 0x42);
    EXPECT_EQ(sim->Chip().Counters().codeWrites, 0u);
}

TEST_F(FaultTable, HexFileVanishesBetweenLoadFileAndAutoProgram)
{
    const std::vector<uint8_t> code = Code(0x100);
    Prepare("AT89S52", "", code);
    sim->Chip().PresetCode(0x10, 0x42);
    fs::remove(Path("app.hex"));
    window->btnAuto->click();
    EXPECT_EQ(Since(), (std::vector<std::string>{"PROGRAM MODE.", "Auto programming fail"}));
    EXPECT_EQ(messages, QStringList{QString::fromStdString("Cannot open the file " + Path("app.hex") +
                                                           "\nNo such file or directory")});
    EXPECT_EQ(sim->Chip().CodeByte(0x10), 0x42) << "not erased";
    EXPECT_EQ(sim->Chip().Counters().erases, 0u);

    // Without Auto Reload File the buffer as loaded is programmed.
    LoadHex(HexText({{0, code}}), "app.hex");
    fs::remove(Path("app.hex"));
    window->AutoReloadFile1->trigger();
    ASSERT_FALSE(window->Chosen().AutoReload);
    window->btnAuto->click();
    EXPECT_EQ(statuses.back(), "RUN MODE.");
    EXPECT_TRUE(Stated("Auto Programming finished."));
    ExpectChip(code, code.size());
}

TEST_F(FaultTable, HexFileMadeUnreadable)
{
    // A folder or a named pipe in the file's place stops even root from
    // reading it; the pipe is not waited on.
    Prepare("AT89S52", "", Code(0x100));
    sim->Chip().PresetCode(0x10, 0x42);
    fs::remove(Path("app.hex"));
    fs::create_directory(Path("app.hex"));
    window->btnAuto->click();
    EXPECT_EQ(Since(), (std::vector<std::string>{"PROGRAM MODE.", "Auto programming fail"}));
    EXPECT_EQ(messages.value(0).toStdString(), "Cannot open the file " + Path("app.hex") + "\nIs a directory");

    fs::remove(Path("app.hex"));
    ASSERT_EQ(::mkfifo(Path("app.hex").c_str(), 0600), 0);
    from = statuses.size();
    window->btnAuto->click();
    EXPECT_EQ(Since(), (std::vector<std::string>{"PROGRAM MODE.", "Auto programming fail"}));
    EXPECT_EQ(messages.value(1).toStdString(),
              "Cannot open the file " + Path("app.hex") + "\nnot a regular file (a pipe or a device)");
    EXPECT_EQ(sim->Chip().CodeByte(0x10), 0x42);
    EXPECT_EQ(sim->Chip().Counters().erases, 0u);

    // LOAD FILE on it says the same.
    chosen.push_back(QString::fromStdString(Path("app.hex")));
    window->btnLoadFile->click();
    EXPECT_EQ(statuses.back(), "Load file failed.");
    EXPECT_EQ(messages.size(), 3);

    // A file whose read permission was taken away, for a user other than
    // root, whom permissions do not stop.
    if (::geteuid() != 0) {
        fs::remove(Path("app.hex"));
        WriteFile("app.hex", HexText({{0, Code(0x100)}}));
        fs::permissions(Path("app.hex"), fs::perms::none);
        from = statuses.size();
        window->btnAuto->click();
        EXPECT_EQ(Since(), (std::vector<std::string>{"PROGRAM MODE.", "Auto programming fail"}));
        EXPECT_EQ(messages.value(3).toStdString(), "Cannot open the file " + Path("app.hex") + "\nPermission denied");
        EXPECT_EQ(sim->Chip().CodeByte(0x10), 0x42);
    }
}

TEST_F(FaultTable, ConfigQvxMissingEmptyOrGarbage)
{
    // Missing: the message names every place looked at, the values are 0.
    fs::remove(Path("CONFIG.QVX"));
    OpenOn("AT89S52,timing=instant");
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].startsWith(QStringLiteral("Cannot find the configuration file CONFIG.QVX. Looked for:\n") +
                                       QString::fromStdString(Path("CONFIG.QVX"))))
        << messages[0].toStdString();
    EXPECT_EQ(window->Link().TimingFactor, 0);
    EXPECT_EQ(window->Link().ClockDelay, 0);

    // Empty, or garbage: no message box, a line in the log for each value
    // that is missing or not four upper-case hex digits.
    messages.clear();
    WriteFile("CONFIG.QVX", "");
    ::testing::internal::CaptureStderr();
    OpenOn("AT89S52,timing=instant");
    std::string log = ::testing::internal::GetCapturedStderr();
    EXPECT_TRUE(messages.isEmpty());
    EXPECT_NE(log.find(Path("CONFIG.QVX") + ": value 1 (the timing factor) is missing: it is 0"), std::string::npos)
        << log;
    EXPECT_NE(log.find(": value 2 (the serial clock delay) is missing: it is 0"), std::string::npos) << log;

    WriteFile("CONFIG.QVX", "timing [zz!!]\nclock [0005]\n");
    ::testing::internal::CaptureStderr();
    OpenOn("AT89S52,timing=instant");
    log = ::testing::internal::GetCapturedStderr();
    EXPECT_TRUE(messages.isEmpty());
    EXPECT_EQ(window->Link().TimingFactor, -4369);
    EXPECT_EQ(window->Link().ClockDelay, 5);
    EXPECT_NE(log.find(": value 1 (the timing factor) \"zz!!\" is not four upper-case hex digits: it counts as -4369"),
              std::string::npos)
        << log;
    EXPECT_EQ(log.find("value 2"), std::string::npos) << log;
    // The program runs with what it read: the run says how it went.
    Choose("AT89S52");
    const std::vector<uint8_t> code = Code(0x100);
    LoadHex(HexText({{0, code}}), "app.hex");
    window->btnAuto->click();
    EXPECT_TRUE(Stated("Auto Programming finished."));
    ExpectChip(code, code.size());

    // The command line logs the same and goes on.
    WriteFile("CONFIG.QVX", "[0000] and nothing more\n");
    const Ran ran = RunChild(Cli({"--device", "AT89S52", "--port", SimSpec("AT89S52"), "--blank"}));
    EXPECT_EQ(ran.status, 0) << ran.err;
    EXPECT_TRUE(ran.Logged(Path("CONFIG.QVX") +
                           ": value 2 (the serial clock delay) is missing: it is 0"))
        << ran.err;

    // The window program's message box at start does not keep it from
    // ending on a signal.
    fs::remove(Path("CONFIG.QVX"));
    Child gui(Gui(SimSpec("AT89S52")));
    ASSERT_TRUE(gui.WaitFor("message: Cannot find the configuration file CONFIG.QVX")) << gui.Output().err;
    gui.Signal(SIGTERM);
    EXPECT_EQ(gui.Finish().status, 128 + SIGTERM) << gui.Output().err;
    EXPECT_EQ(Lines(), "RST=0 D3=1 D7=1\n");
}

TEST_F(FaultTable, StateFileTruncatedOversizedOrHeldByAnotherCopy)
{
    const std::vector<uint8_t> code = Code(0x2000 - 1);
    WriteFile("app.hex", HexText({{0, code}}));
    const std::vector<std::pair<std::string, std::string>> misfits = {
        {std::string(100, '\x11'), "chip.bin holds 100 bytes; the code memory of an AT89S52 is exactly 8192 bytes"},
        {std::string(0x4000, '\x11'), "chip.bin holds 16384 bytes; the code memory of an AT89S52 is exactly 8192 bytes"},
    };
    for (const auto& [bytes, says] : misfits) {
        WriteFile("chip.bin", bytes);
        const Ran ran = RunChild(Cli({"--device", "AT89S52", "--port", SimSpec("AT89S52"), "--auto", "app.hex"}));
        EXPECT_EQ(ran.status, 3) << ran.err;
        EXPECT_NE(ran.err.find("message: Cannot open the port \"" + SimSpec("AT89S52") + "\" (--port): state file: " +
                               Path(says)),
                  std::string::npos)
            << ran.err;
        EXPECT_EQ(ReadBytes(Path("chip.bin")), bytes) << "left as it is";
    }

    // Held by another copy: the second is refused, the first goes on and
    // saves its work.
    fs::remove(Path("chip.bin"));
    Child first(Cli({"--device", "AT89S52", "--port", SimSpec("AT89S52", ",iodelay=5000"), "--auto", "app.hex"}));
    ASSERT_TRUE(first.WaitFor("Programming...")) << first.Output().err;
    const std::string inUse = Path("chip.bin") + " is in use by another QVX-ISP (process ";
    const Ran second = RunChild(Cli({"--device", "AT89S52", "--port", SimSpec("AT89S52"), "--erase"}));
    EXPECT_EQ(second.status, 3);
    EXPECT_NE(second.err.find(inUse), std::string::npos) << second.err;
    // The window program says it in its message box and on standard error.
    Child gui(Gui(SimSpec("AT89S52")));
    EXPECT_TRUE(gui.WaitFor(inUse)) << gui.Output().err;
    gui.Signal(SIGTERM); // the box is modal: nobody is there to close it
    EXPECT_EQ(gui.Finish().status, 128 + SIGTERM) << gui.Output().err;

    first.Signal(SIGTERM);
    EXPECT_EQ(first.Finish().status, 128 + SIGTERM) << first.Output().err;
    const std::string saved = ReadBytes(Path("chip.bin"));
    ASSERT_EQ(saved.size(), 0x2000u);
    EXPECT_EQ(uint8_t(saved[0]), code[0]) << "the first copy's work is saved";
}

TEST_F(FaultTable, SigtermMidProgram)
{
    const std::vector<uint8_t> code = Code(0x2000);
    WriteFile("app.hex", HexText({{0, code}}));
    WriteFile("chip.bin", std::string(0x2000, '\x00'));
    Child cli(Cli({"--device", "AT89S52", "--port", SimSpec("AT89S52", ",iodelay=5000"), "--lock-level", "1",
                   "--auto", "app.hex"}));
    ASSERT_TRUE(cli.WaitFor("Programming...")) << cli.Output().err;
    EXPECT_TRUE(LinesShow("RST=1 D3=0 D7=0\n"));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    cli.Signal(SIGTERM);
    const Ran& ran = cli.Finish();
    EXPECT_EQ(ran.status, 128 + SIGTERM) << ran.err;
    const std::vector<std::string> log = ran.Log();
    ASSERT_GE(log.size(), 4u) << ran.err;
    EXPECT_EQ(std::vector<std::string>(log.end() - 4, log.end()),
              (std::vector<std::string>{kCommandStopped, "Auto programming fail", "Ending on SIGTERM", "RUN MODE."}));
    EXPECT_FALSE(ran.Logged("Program finished."));
    EXPECT_EQ(Lines(), "RST=0 D3=1 D7=1\n");
    // Saved: erased, then programmed from 0 up to where it stopped.
    const std::string saved = ReadBytes(Path("chip.bin"));
    ASSERT_EQ(saved.size(), 0x2000u);
    ExpectProgrammedUpToAStop(saved, code);
    EXPECT_EQ(ReadBytes(Path("chip.bin.txt")).find("LB1"), std::string::npos) << "no lock bit written";

    // The window program, idle: ends as E&xit does and saves its chip.
    fs::remove(Path("chip.bin"));
    fs::remove(Path("chip.bin.txt"));
    Child gui(Gui(SimSpec("AT89S52")));
    ASSERT_TRUE(LinesShow("RST=1 D3=0 D7=0\n")) << gui.Output().err;
    gui.Signal(SIGTERM);
    EXPECT_EQ(gui.Finish().status, 128 + SIGTERM) << gui.Output().err;
    EXPECT_TRUE(gui.Output().Logged("Ending on SIGTERM")) << gui.Output().err;
    EXPECT_TRUE(gui.Output().Logged("RUN MODE.")) << gui.Output().err;
    EXPECT_EQ(Lines(), "RST=0 D3=1 D7=1\n");
    EXPECT_EQ(ReadBytes(Path("chip.bin")), std::string(0x2000, '\xFF'));
}

TEST_F(FaultTable, CrashMidProgram)
{
    const std::vector<uint8_t> code = Code(0x2000);
    WriteFile("app.hex", HexText({{0, code}}));
    WriteFile("chip.bin", std::string(0x2000, '\x00'));
    ChildSetup setup = Cli({"--device", "AT89S52", "--port", SimSpec("AT89S52", ",iodelay=5000"), "--auto", "app.hex"});
    setup.env.push_back(PlainFaultSignals());
    Child cli(setup);
    ASSERT_TRUE(cli.WaitFor("Programming...")) << cli.Output().err;
    EXPECT_TRUE(LinesShow("RST=1 D3=0 D7=0\n"));
    cli.Signal(SIGSEGV);
    EXPECT_EQ(cli.Finish().status, 128 + SIGSEGV) << cli.Output().err;
    EXPECT_EQ(Lines(), "RST=0 D3=1 D7=1\n");
    EXPECT_EQ(ReadBytes(Path("chip.bin")), std::string(0x2000, '\x00')) << "the state as last saved";
    // The lock died with the process: the next start is not refused.
    const Ran next = RunChild(Cli({"--device", "AT89S52", "--port", SimSpec("AT89S52"), "--blank"}));
    EXPECT_EQ(next.status, 1) << next.err;
    EXPECT_TRUE(next.Logged("Blank check failed at 0000: expected FF, read 00")) << next.err;
}

} // namespace
} // namespace qvx::test
