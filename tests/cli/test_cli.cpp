// qvx-isp-cli run as its own process against the simulated cable and chip:
// exit statuses, the log on standard error, files read and written, and the
// chip as its state file keeps it afterwards.
#include "BufferBytes.h"
#include "ChildProcess.h"
#include "HexFile.h"
#include "HexText.h"
#include "SimPort.h"
#include "StoppedImage.h"
#include "TempDir.h"
#include "Version.h"
#include "VirtualArduinoIsp.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include <unistd.h>

namespace qvx::test {
namespace {

namespace fs = std::filesystem;

const std::string kSenseLowDiagnosis =
    "The program-mode sense line read low: no cable is connected, or the target board has no power. Check that "
    "the cable is plugged in at both ends and that the target is powered.";

// Runs the program in `dir` with `args`. QVX_PORT is taken away unless
// `qvxPort` names one; the user's configuration folder is `dir`/config,
// never the real one. With `terminal`, standard error is a terminal.
Ran RunCli(const std::vector<std::string>& args, const fs::path& dir,
           const std::optional<std::string>& qvxPort = std::nullopt, bool terminal = false)
{
    return RunChild({QVX_CLI, args, dir, qvxPort, terminal, {}});
}

std::string ReadFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// One run: its arguments, its exit status, what standard error holds ('!': does
// not), a file's content after it, more environment and standard input.
struct Step {
    std::vector<std::string> args;
    int status = 0;
    std::vector<std::string> says = {};
    std::string file = {}, content = {};
    std::vector<std::string> env = {};
    std::optional<std::string> input = std::nullopt;
};

class CliTest : public ::testing::Test {
protected:
    CliTest()
    {
        Write("CONFIG.QVX", "[0000]\n[0000]\n"); // no waits: the simulated chip is instant
    }

    std::string Write(const std::string& name, const std::string& bytes) const
    {
        std::ofstream((dir / name).string(), std::ios::binary) << bytes;
        return (dir / name).string();
    }
    std::string Path(const std::string& name) const { return (dir / name).string(); }
    // The simulated chip kept in "chip.bin" beside the test's files.
    std::string Sim(const std::string& device, const std::string& more = "") const
    {
        return "sim:" + device + ",timing=instant,state=" + Path("chip.bin") + more;
    }
    Ran Run(const std::vector<std::string>& args) const { return RunCli(args, dir); }
    // With `input` on standard input.
    Ran Run(const std::vector<std::string>& args, const std::string& input) const
    {
        return RunChild({QVX_CLI, args, dir, std::nullopt, false, {}, input});
    }
    // The chip as the state file holds it after a run.
    std::unique_ptr<SimPort> Chip(const std::string& device) const
    {
        std::string error;
        std::unique_ptr<SimPort> port = MakeSimPort(device + ",state=" + Path("chip.bin"), error);
        EXPECT_NE(port, nullptr) << error;
        return port;
    }

    // Runs and checks each step; gives the last run back.
    Ran Runs(const std::vector<Step>& steps) const
    {
        Ran ran;
        for (const Step& s : steps) {
            ran = RunChild({QVX_CLI, s.args, dir, std::nullopt, false, s.env, s.input});
            EXPECT_EQ(ran.status, s.status) << s.args.back() << "\n" << ran.err;
            for (const std::string& say : s.says)
                EXPECT_EQ(ran.err.find(say.substr(say[0] == '!')) == std::string::npos, say[0] == '!') << say << "\n" << ran.err;
            EXPECT_TRUE(s.file.empty() || ReadFile(Path(s.file)) == s.content) << s.file << "\n" << ran.err;
        }
        return ran;
    }

    void ExpectSignalWithTheReaderGone(int signo, bool terminal);

    TempDir scratch;
    fs::path dir = scratch.path();
};

// A program for a chip of `size` bytes: code at the start, a table in the
// middle, bytes at the very end.
std::map<int32_t, std::vector<uint8_t>> Program(int32_t size)
{
    std::vector<uint8_t> start(100), table(40);
    for (size_t i = 0; i < start.size(); ++i)
        start[i] = uint8_t(0x02 + i * 5);
    for (size_t i = 0; i < table.size(); ++i)
        table[i] = uint8_t(0xC3 ^ i);
    return {{0x0000, start}, {size / 2, table}, {size - 2, {0x12, 0x34}}};
}

std::string Image(const std::map<int32_t, std::vector<uint8_t>>& program, int32_t size)
{
    std::string image(size_t(size), '\xFF');
    for (const auto& [address, bytes] : program)
        for (size_t i = 0; i < bytes.size(); ++i)
            image[size_t(address) + i] = char(bytes[i]);
    return image;
}

// What `pattern` finds in each line of `text` that holds it.
std::vector<std::string> Matches(const std::string& text, const std::string& pattern)
{
    std::vector<std::string> found;
    std::istringstream in(text);
    std::smatch m;
    for (std::string line; std::getline(in, line);)
        if (std::regex_search(line, m, std::regex(pattern)))
            found.push_back(m.str());
    return found;
}

TEST_F(CliTest, AutoThenReadGivesTheProgrammedImageBack)
{
    const auto program = Program(0x2000);
    Write("app.hex", HexText(program));
    const Ran ran = Run({"--device", "at89s52", "--port", Sim("AT89S52", ",trace=" + Path("wire.txt")), "--auto",
                         "app.hex", "--read", "back.hex", "--read", Path("back.bin")});
    ASSERT_EQ(ran.status, 0) << ran.err;
    EXPECT_EQ(ran.out, "");
    const std::string image = Image(program, 0x2000);
    // The file loaded and each chip read give the same checksums.
    const std::string checksum = ChecksumText("AT89S52", image);
    // Each command reads the signature first.
    const std::string signature = "Signature 1E 52 06: AT89S52";
    EXPECT_EQ(ran.Log(), (std::vector<std::string>{
                             "Load file complete.", checksum, "PROGRAM MODE.", "Erase Chip...", signature, "Programming...",
                             "Program finished.", "Verify code ...", "Verify complete.", "Auto Programming finished.",
                             "RUN MODE.", "Read Chip...", signature, "PROGRAM MODE.", "Read Chip finished", checksum,
                             "Save file complete.", "Read Chip...", signature, "PROGRAM MODE.", "Read Chip finished", checksum,
                             "Save file complete.", "RUN MODE."}));
    EXPECT_EQ(ReadFile(Path("chip.bin")), image);
    EXPECT_EQ(ReadFile(Path("back.bin")), image);
    auto back = std::make_unique<CodeBuffer>();
    const HexResult hex = LoadHexFromFile(Path("back.hex"), *back);
    ASSERT_TRUE(hex.Ok()) << hex.Error;
    EXPECT_EQ(hex.EndAddress, 0x2000);
    for (int32_t a = 0; a < 0x2000; ++a)
        ASSERT_EQ(ByteAt(*back, a), uint8_t(image[size_t(a)])) << a;
    // The target is left running: RST went low last.
    const std::string wire = ReadFile(Path("wire.txt"));
    EXPECT_EQ(wire.substr(wire.size() - 6), "RESET\n");
}

TEST_F(CliTest, TheAT89S8253ByPagesAndALineTooNoisyToRead)
{
    // One page write per page that holds code; a line too noisy to read through leaves no file.
    Write("app.hex", HexText(Program(0x3000)));
    Runs({{{"-p", "AT89S8253", "--port", Sim("AT89S8253", ",trace=" + Path("wire.txt")), "--auto", "app.hex", "--read",
            "back.bin"}, 0, {}, "back.bin", Image(Program(0x3000), 0x3000)},
          {{"-p", "AT89S8253", "--port", Sim("AT89S8253", ",noise=0.4"), "--read", "noisy.bin"}, 1,
           {"!Read Chip finished", "message: Read chip error!!!. / The line from the chip (MISO) is too noisy"}}});
    EXPECT_FALSE(fs::exists(Path("noisy.bin")));
    EXPECT_EQ(Matches(ReadFile(Path("wire.txt")), "^50 .. ..(?= -> 00 00 00 \\+ 64 bytes in$)"),
              (std::vector<std::string>{"50 00 00", "50 00 40", "50 18 00", "50 2F C0"}));
}

TEST_F(CliTest, LockLevelAndNoRunApplyToTheWholeRun)
{
    Write("app.hex", HexText(Program(0x2000)));
    const Ran ran = Run({"--lock-level", "2", "--auto", "app.hex", "--no-run", "--device", "AT89S8252", "--port",
                         Sim("AT89S8252", ",lines=" + Path("lines.txt"))});
    ASSERT_EQ(ran.status, 0) << ran.err;
    const std::vector<std::string> log = ran.Log();
    ASSERT_GE(log.size(), 4u);
    // Program mode after AUTO, and still at the end of the run: the target
    // is held in reset as the program leaves it.
    EXPECT_EQ(std::vector<std::string>(log.end() - 4, log.end()),
              (std::vector<std::string>{"Verify complete.", "Lock bit level 2", "Auto Programming finished.",
                                        "PROGRAM MODE."}));
    EXPECT_EQ(ReadFile(Path("lines.txt")), "RST=1 D3=0 D7=0\n");
    auto chip = Chip("AT89S8252");
    EXPECT_TRUE(chip->Chip().LockBit(1));
    EXPECT_TRUE(chip->Chip().LockBit(2));
    EXPECT_FALSE(chip->Chip().LockBit(3));
}

// On a port that answers in 50 ns only the clock floor keeps SCK slow enough
// for the chip, and the floor is worked out from the crystal given.
TEST_F(CliTest, CrystalSetsTheSerialClockFloor)
{
    const std::string fastPort = "sim:AT89S52,timing=virtual,iodelay=50,xtal=12000000,state=" + Path("chip.bin");
    Ran ran = Run({"--device", "AT89S52", "--port", fastPort, "--crystal", "12000000", "--erase"});
    EXPECT_EQ(ran.status, 0) << ran.err;
    EXPECT_TRUE(ran.Logged("Erase finished."));

    // Told of a 40 MHz board, the program clocks three times faster than the
    // 12 MHz chip can follow: it never answers the programming enable.
    ran = Run({"--device", "AT89S52", "--port", fastPort, "--crystal", "40000000", "--erase"});
    EXPECT_EQ(ran.status, 1) << ran.err;
    EXPECT_TRUE(ran.Logged("message: Device have not in program mode"));
    EXPECT_FALSE(ran.Logged("Erase finished."));

    // Without --crystal the crystal the window remembered holds (the file
    // as the window wrote it); --crystal overrides it for one run.
    fs::create_directories(dir / "config" / "qvx-isp");
    Write("config/qvx-isp/qvx-isp.conf", "[General]\nTargetCrystalHz=40000000\n");
    EXPECT_EQ(Run({"--device", "AT89S52", "--port", fastPort, "--erase"}).status, 1);
    EXPECT_EQ(Run({"--device", "AT89S52", "--port", fastPort, "--crystal", "12000000", "--erase"}).status, 0);
    Write("config/qvx-isp/qvx-isp.conf", "[General]\nTargetCrystalHz=12000000\n");
    EXPECT_EQ(Run({"--device", "AT89S52", "--port", fastPort, "--erase"}).status, 0);

    // The crystal with its unit, or the serial clock itself (-B): a period
    // the 12 MHz chip follows, and a frequency it cannot.
    Write("config/qvx-isp/qvx-isp.conf", "[General]\nTargetCrystalHz=40000000\n");
    for (const auto& [option, value, status] : std::vector<std::tuple<const char*, const char*, int>>{
             {"--crystal", "12MHz", 0}, {"--crystal", "12000kHz", 0}, {"-B", "1.5", 0}, {"-B", "700kHz", 0},
             {"-B", "1MHz", 1}, {"--crystal", "40.0MHz", 1}}) {
        EXPECT_EQ(Run({"--device", "AT89S52", "--port", fastPort, option, value, "--erase"}).status, status)
            << option << " " << value;
    }
}

// The cable: --port, else QVX_PORT, else the one remembered in the settings
// file the window writes, else the parallel port.
TEST_F(CliTest, TheCableRememberedIsUsedUnlessOneIsGiven)
{
    fs::create_directories(dir / "config" / "qvx-isp");
    Write("config/qvx-isp/qvx-isp.conf", "# chosen in the window\n[General]\nPort=" + Sim("AT89S51") + "\n");
    Ran ran = Run({"--device", "AT89S51", "--erase"});
    EXPECT_EQ(ran.status, 0) << ran.err;
    EXPECT_TRUE(fs::exists(Path("chip.bin")));

    const std::string other = "sim:AT89S51,timing=instant,state=" + Path("other.bin");
    ran = RunCli({"--device", "AT89S51", "--erase"}, dir, other);
    EXPECT_EQ(ran.status, 0) << ran.err;
    EXPECT_TRUE(fs::exists(Path("other.bin")));
    fs::remove(Path("other.bin"));
    ran = RunCli({"--device", "AT89S51", "--port", other, "--erase"}, dir, "sim:AT89S51,fault=nocable");
    EXPECT_EQ(ran.status, 0) << ran.err;
    EXPECT_TRUE(fs::exists(Path("other.bin")));
}

// The cables whose firmware clocks the chip: an ArduinoISP sketch on a
// pseudo-terminal, and a USBasp in place of libusb-1.0 (its chip kept in
// chip.bin), each programming a whole AT89S52; the parts and the cables
// they cannot take end the run with what to do instead.
TEST_F(CliTest, TheArduinoAndTheUsbaspProgramAWholeAT89S52)
{
    std::mt19937 random(52);
    std::vector<uint8_t> bytes(0x2000);
    std::generate(bytes.begin(), bytes.end(), [&] { return uint8_t(random()); });
    Write("app.hex", HexText({{0, bytes}}));
    const std::string image(bytes.begin(), bytes.end()), usb = "Cannot open the port \"usbasp\" (--port): ";
    const char* asan = std::getenv("ASAN_OPTIONS");
    const auto usbasp = [&](const char* device, const std::string& fake, int status, const std::string& says) {
        return Step{{"--device", device, "--port", "usbasp", "--auto", "app.hex"}, status, {says}, status ? "" : "chip.bin",
                    image, {"LD_PRELOAD=" QVX_FAKE_LIBUSB, "QVX_TEST_USBASP=AT89S52," + Path("chip.bin") + fake,
                            "ASAN_OPTIONS=" + (asan ? asan + std::string(":") : "") + "verify_asan_link_order=0"}};
    };
    VirtualArduinoIsp board(*sim::FindDevice("AT89S52"), {}, {.resetOnOpen = true, .bootNs = 300'000'000}); // an Uno
    Runs({{{"--device", "AT89S52", "--port", "arduino:" + board.Path(), "--auto", "app.hex"}, 0, {"Verify complete.\n"}},
          usbasp("AT89S52", "", 0, "Verify complete.\n"),
          usbasp("AT89S53", "", 2, "The AT89S53 cannot be programmed through the USBasp: it takes three-byte instructions"),
          usbasp("AT89S52", ",absent", 3, usb + "No USBasp (USB ID 16C0:05DC"),
          usbasp("AT89S52", ",denied", 3, usb + "The USBasp cannot be opened: permission denied"),
          usbasp("AT89S52", ",release=0104", 3, usb + "The USBasp's firmware is version 1.04 (device release 0104), "
                                                      "which cannot program AT89S chips"),
          usbasp("AT89S52", ",lose=400", 3, "message: USBasp: TRANSMIT failed: No such device (it may have been "
                                            "disconnected); the USBasp was unplugged or lost"),
          {{"-p", "AT89S52", "--port", "arduino:" + Path("ttyNone"), "--erase"}, 3, {"No serial port " + Path("ttyNone")}},
          // Refused before the cable is opened: the port need not even exist.
          {{"-p", "AT89S53", "--port", "arduino:" + Path("ttyNone"), "--erase"}, 2,
           {"The AT89S53 cannot be programmed through the Arduino as ISP: it takes three-byte instructions"}}});
    board.Chip().Settle();
    EXPECT_EQ(board.Chip().Code(), bytes);
}

TEST_F(CliTest, VerifyOfADifferentFileExitsOneAndRunsNothingAfter)
{
    const std::string image = Image(Program(0x1000), 0x1000);
    Write("chip.bin", image); // the chip holds the program already
    auto other = Program(0x1000);
    other[0x0000][3] ^= 0x40;
    Write("other.hex", HexText(other));
    const Ran ran = Run({"--device", "AT89S51", "--port", Sim("AT89S51"), "--verify", "other.hex", "--erase"});
    EXPECT_EQ(ran.status, 1) << ran.err;
    char detail[64];
    std::snprintf(detail, sizeof detail, "Verify failed at 0003: expected %02X, read %02X", other[0][3],
                  uint8_t(image[3]));
    EXPECT_EQ(ran.Log(), (std::vector<std::string>{"Load file complete.", ChecksumText("AT89S51", Image(other, 0x1000)),
                                                   "Verify Code...", "Signature 1E 51 06: AT89S51",
                                                   "PROGRAM MODE.", detail, "Verify not match",
                                                   "RUN MODE."}));
    EXPECT_EQ(ReadFile(Path("chip.bin")), image); // no erase

    // The same file verifies: exit 0.
    Write("same.hex", HexText(Program(0x1000)));
    EXPECT_EQ(Run({"--device", "AT89S51", "--port", Sim("AT89S51"), "--verify", "same.hex"}).status, 0);
}

TEST_F(CliTest, UnknownDeviceExitsTwoBeforeTouchingThePort)
{
    const Ran ran = Run({"--device", "AT89C51", "--port", Sim("AT89S52", ",trace=" + Path("wire.txt")), "--erase"});
    EXPECT_EQ(ran.status, 2);
    EXPECT_NE(ran.err.find("qvx-isp-cli: unknown device \"AT89C51\"; the devices are AT89S51, AT89S52, AT89S53, "
                           "AT89S8252, AT89S8253, AT89S2051, AT89S4051"),
              std::string::npos)
        << ran.err;
    EXPECT_FALSE(fs::exists(Path("wire.txt")));
}

TEST_F(CliTest, MalformedHexExitsTwoWithItsLineAndLeavesTheChip)
{
    const std::string image = Image(Program(0x2000), 0x2000);
    Write("chip.bin", image);
    const std::string bad = Write("bad.hex", ":0300000002000AF1\n:0300030002FFBF39\n:00000001FF\n");
    const Ran ran = Run({"--device", "AT89S52", "--port", Sim("AT89S52"), "--auto", "bad.hex"});
    EXPECT_EQ(ran.status, 2);
    EXPECT_TRUE(ran.Logged("message: The file bad.hex is no valid Intel HEX file; nothing was loaded. / Line 2: "
                           "the checksum is 39, the record's bytes need 3A."))
        << ran.err;
    EXPECT_TRUE(ran.Logged("Load file failed."));
    EXPECT_FALSE(ran.Logged("Erase Chip..."));
    EXPECT_EQ(ReadFile(Path("chip.bin")), image);

    // A file that holds nothing to program is refused too.
    Write("empty.hex", ":00000001FF\n");
    const Ran empty = Run({"--device", "AT89S52", "--port", Sim("AT89S52"), "--program", "empty.hex"});
    EXPECT_EQ(empty.status, 2);
    EXPECT_TRUE(empty.Logged("message: The file empty.hex holds no code.")) << empty.err;
    // So is one larger than the chip, whatever is to be done with it.
    Write("large.hex", HexText(Program(0x3000)));
    for (const char* operation : {"--verify", "--program", "--auto", "-U"}) {
        const Ran large = Run({"--device", "AT89S52", "--port", Sim("AT89S52"), operation, "large.hex"});
        EXPECT_EQ(large.status, 2) << operation;
        EXPECT_TRUE(large.Logged("Code over MCU memory [8191]")) << large.err;
        EXPECT_FALSE(large.Logged("Verify Code...") || large.Logged("Erase Chip...") || large.Logged("Programming..."))
            << large.err;
    }
    EXPECT_EQ(ReadFile(Path("chip.bin")), image);
}

// The data EEPROM of both parts that have one: written (only the bytes that
// differ, the code left alone), verified, read back as HEX and binary, kept
// in the state file; erased by chip erase; a byte that never reads back, a
// difference and a file too large each end the run with the address.
TEST_F(CliTest, TheDataMemoryIsWrittenVerifiedAndReadOnBothParts)
{
    std::vector<uint8_t> first(40);
    for (size_t i = 0; i < first.size(); ++i)
        first[i] = uint8_t(0x5A + i * 3);
    const std::string image = Image({{0, first}, {0x07F0, {1, 2, 3}}}, 0x800);
    Write("data.hex", HexText({{0, first}, {0x07F0, {1, 2, 3}}}));
    first[5] = 0x00; // two bytes changed
    Write("data2.hex", HexText({{0, first}, {0x07F0, {1, 2, 0xEE}}}));
    Write("large.hex", HexText({{0x07FE, {1, 2, 3}}}));
    for (const auto& [device, size] : {std::pair{"AT89S8252", 0x2000}, std::pair{"AT89S8253", 0x3000}}) {
        SCOPED_TRACE(device);
        const auto on = [&, device = device](const std::string& more, std::vector<std::string> args) {
            args.insert(args.begin(), {"--device", device, "--port", Sim(device, more)});
            return args;
        };
        const std::string code = Image(Program(size), size);
        Write("chip.bin", code);
        fs::remove(Path("chip.bin.txt"));
        // Read through a noisy line too; only changed bytes written; failures name the address; erase clears it.
        Runs({{on("", {"--eeprom-write", "data.hex", "--eeprom-verify", "data.hex", "--eeprom-read", "back.bin", "-U",
                       "eeprom:r:back.hex:i", "-U", "eeprom:v:back.hex"}),
               0, {"Data Memory program finished.", "Data Memory verify complete.",
                   ChecksumText(std::string(device) + " data", image)}, "back.bin", image},
              {on(",noise=0.002,seed=7", {"--eeprom-read", "noisy.bin"}), 0, {}, "noisy.bin", image},
              {on(",trace=" + Path("wire.txt"), {"-U", "eeprom:w:data2.hex"}), 0, {}, "chip.bin", code},
              {on("", {"--eeprom-verify", "data.hex"}), 1, {"Data memory verify failed at 0005: expected 69, read 00"}},
              {on("", {"--eeprom-write", "large.hex"}), 2, {"message: The file large.hex is no valid Intel HEX file; "
               "nothing was loaded. / Line 1: data at address 07FE to 0800 lies beyond the 2 KB data memory (0000 to "
               "07FF)."}},
              {on(",fault=busy", {"--eeprom-write", "data.hex"}), 1,
               {"Data memory programming failed at 0005: expected 69, read 80", "!Data Memory program finished."}},
              {on("", {"--erase"}), 0}});
        EXPECT_EQ(Matches(ReadFile(Path("wire.txt")), "^(C0 ..|[0-3][6E]) .. ..(?= ->)"),
                  (size == 0x2000 ? std::vector<std::string>{"06 05 00", "3E F2 EE"}
                                  : std::vector<std::string>{"C0 00 05 00", "C0 07 F2 EE"}));
        EXPECT_EQ(Chip(device)->Chip().Data(), std::vector<uint8_t>(0x800, 0xFF));
    }
}

TEST_F(CliTest, NoCableEndsWithTheTargetsRefusal)
{
    const Ran ran = Run({"--device", "AT89S52", "--port", "sim:AT89S52,fault=nocable", "--erase", "--blank"});
    EXPECT_EQ(ran.status, 1);
    // The message once: its status text says nothing more.
    EXPECT_EQ(ran.Log(), (std::vector<std::string>{"Erase Chip...", "message: Device have not in program mode",
                                                   kSenseLowDiagnosis, "RUN MODE."}));
}

// The done-when of the signature check: a chip of another device is refused
// untouched, --force programs it all the same, --device auto programs the
// chip found.
TEST_F(CliTest, AWrongChipIsRefusedUntouchedUntilForcedOrDetected)
{
    Write("app.hex", HexText(Program(4096)));
    Write("large.hex", HexText(Program(8192)));
    const std::string forced = Image(Program(4096), 4096) + std::string(4096, '\xFF');
    Runs({{{"--device", "AT89S51", "--port", Sim("AT89S52"), "--auto", "app.hex"}, 1,
           {"message: Stopped before anything was erased or written: the chip on the cable is an AT89S52 (signature "
            "1E 52 06), not the AT89S51 selected. Choose the AT89S52 (Device menu; --device AT89S52 or --device "
            "auto), or go on as the AT89S51 with --force.", "Wrong chip: nothing written"},
           "chip.bin", std::string(8192, '\xFF')},
          {{"--device", "AT89S51", "--port", Sim("AT89S52"), "--force", "--auto", "app.hex"}, 0,
           {"Going on as the AT89S51, as asked"}, "chip.bin", forced},
          {{"-p", "auto", "--port", Sim("AT89S52"), "--auto", "large.hex"}, 0, {"Selected the AT89S52, the chip found"},
           "chip.bin", Image(Program(8192), 8192)},
          {{"--device", "AT89S51", "--port", Sim("AT89S52"), "-F", "--auto", "app.hex"}, 0, {}, "chip.bin", forced},
          // Nothing to tell an AT89S8252 from an AT89S53 by.
          {{"--device", "auto", "--port", "sim:AT89S8252,timing=instant", "--erase"}, 2,
           {"message: --device auto: an AT89S53 or AT89S8252 has no serial signature to tell which it is; give the "
            "device with --device (e.g. --device AT89S8252).", "!Erase Chip..."}}});
}

// --detect needs no device, and says what it found or what the lines showed.
TEST_F(CliTest, DetectNamesTheChipOrWhatTheLinesShowed)
{
    const std::string none = "No chip detected: ", enable = " through the whole programming enable";
    Runs({{{"--detect", "--port", "sim:AT89S8253,timing=instant"}, 0, {"Signature 1E 73: AT89S8253"}},
          {{"--detect", "--port", "sim:AT89S53,timing=instant"}, 0,
           {"Chip found: an AT89S53 or AT89S8252, which have no serial signature to tell them apart; choose the device"}},
          {{"--detect", "--port", "sim:AT89S52,fault=nocable"}, 1, {none + "The program-mode sense line read low"}},
          {{"--detect", "--port", "sim:AT89S52,fault=nochip"}, 1, {none + "MISO stayed high" + enable}},
          {{"--detect", "--port", "sim:AT89S52,fault=misolow"}, 1, {none + "MISO stayed low" + enable}},
          {{"--detect", "--port", "sim:AT89S52,timing=virtual,xtal=1000000"}, 1,
           {none + "The chip answered the programming enable only with the serial clock slowed down"}}});
}

TEST_F(CliTest, PortThatCannotBeOpenedExitsThree)
{
    Ran ran = Run({"--device", "AT89S52", "--port", "sim:AT89S99", "--erase"});
    EXPECT_EQ(ran.status, 3);
    // The message names the option that chose the port.
    EXPECT_NE(ran.err.find("message: Cannot open the port \"sim:AT89S99\" (--port): unknown device"),
              std::string::npos)
        << ran.err;
    ran = Run({"-p", "s52", "-c", "sim", "-P", "AT89S99", "-e"});
    EXPECT_EQ(ran.status, 3);
    EXPECT_NE(ran.err.find("Cannot open the port \"sim:AT89S99\" (-c sim -P AT89S99)"), std::string::npos) << ran.err;

    // QVX_PORT serves when --port is not given.
    ran = RunCli({"--device", "AT89S52", "--erase"}, dir, "parallel");
    EXPECT_EQ(ran.status, 3);
    EXPECT_NE(ran.err.find("Cannot open the port \"parallel\" (QVX_PORT): unknown cable \"parallel\""),
              std::string::npos)
        << ran.err;
    ran = RunCli({"--device", "AT89S52", "--blank"}, dir, Sim("AT89S52"));
    EXPECT_EQ(ran.status, 0) << ran.err;

    // ppdev, on a machine without a parallel port at LPT2's address.
    bool lpt2 = false;
    if (fs::exists("/proc/sys/dev/parport"))
        for (const auto& entry : fs::directory_iterator("/proc/sys/dev/parport"))
            lpt2 = lpt2 || ReadFile(entry.path() / "base-addr").rfind("632", 0) == 0;
    if (!lpt2) {
        ran = Run({"--device", "AT89S52", "--port", "ppdev", "--lpt", "2", "--erase"});
        EXPECT_EQ(ran.status, 3);
        EXPECT_NE(ran.err.find("Cannot open the parallel port LPT2: no parallel port at address 0x278"),
                  std::string::npos)
            << ran.err;
        // What to do about it follows, as in the window's first-run message.
        if (!fs::exists("/proc/sys/dev/parport")) {
            EXPECT_NE(ran.err.find("no parallel port at address 0x278. The kernel lists no parallel port at all (no "
                                   "/dev/parport*). / Load the parallel port drivers: sudo modprobe parport_pc ppdev"),
                      std::string::npos)
                << ran.err;
        }
    }
}

TEST_F(CliTest, CommandLineMistakesExitTwoWithWhatIsWrong)
{
    const std::string sim = Sim("AT89S2051");
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{}, "--device is required"},
        {{"--device", "AT89S52"}, "no operation given"},
        {{"--device", "AT89S52", "--erase", "--frobnicate"}, "unknown option \"--frobnicate\""},
        {{"--device", "AT89S52", "erase"}, "unexpected argument \"erase\""},
        {{"--device", "AT89S52", "--lock-level", "4", "--erase"}, "--lock-level takes 0, 1, 2 or 3, not \"4\""},
        {{"--device", "AT89S52", "--lpt=3", "--erase"}, "--lpt takes 1 or 2, not \"3\""},
        {{"--device", "AT89S52", "--read"}, "--read needs a file name"},
        {{"--device", "AT89S52", "--read", "--erase"}, "--read needs a file name"},
        {{"--device", "AT89S52", "--device", "AT89S51", "--erase"}, "--device is given twice"},
        {{"--device", "AT89S52", "--erase=now"}, "--erase takes no value"},
        {{"--device", "AT89S52", "--write-fuse"}, "--write-fuse: the AT89S52 has no user fuse"},
        {{"--device", "AT89S8252", "--x2", "--erase"}, "--x2: the AT89S8252 has no x2 Clock fuse"},
        {{"--device", "AT89S52", "--crystal", "11.0592", "--erase"},
         "--crystal takes the target's crystal in hertz (11059200) or with its unit (11.0592MHz, 3579.545kHz), 1 to "
         "40 MHz; not \"11.0592\""},
        {{"--device", "AT89S52", "--write-lock"},
         "--write-lock writes the lock bits of --lock-level: add --lock-level 1, 2 or 3"},
        // The short options of the field.
        {{"-p", "89s52", "-U", "eeprom:w:data.hex"},
         "-U eeprom:w:data.hex: the AT89S52 has no data memory (EEPROM); the AT89S8252 and AT89S8253 have one"},
        {{"--device", "AT89S51", "--eeprom-read", "d.hex"},
         "--eeprom-read: the AT89S51 has no data memory (EEPROM); the AT89S8252 and AT89S8253 have one"},
        {{"--device", "AT89S8253", "--eeprom-verify"}, "--eeprom-verify needs a file name"},
        {{"--device", "AT89S8253", "--eeprom-write", "d.hex", "-U", "flash:w:c.hex"},
         "-U flash:w:c.hex after --eeprom-write: its chip erase erases the data memory too; give --eeprom-write "
         "after it"},
        {{"-p", "89s52", "-U", "flash:w:app.srec:s"},
         "-U flash:w:app.srec:s: the format \"s\" cannot be read or written; i (Intel HEX), r (raw binary) or a "
         "(by the file's name)"},
        {{"-p", "89s52", "-U", "lfuse:w:0xE2:m"},
         "-U lfuse:w:0xE2:m: unknown memory \"lfuse\"; the memory is flash (the code) or eeprom (the data memory of "
         "the AT89S8252 and AT89S8253) (lock bits: --lock-level N --write-lock; the x2 fuse: --x2 --write-fuse)"},
        {{"-p", "89s52", "-e", "-c", "usbasp"}, "-c usbasp: unknown cable; ppdev, ftdi, gpio or sim (-c ? lists them)"},
        {{"-p", "89s52", "-e", "-P", "usb"}, "-P usb: say which cable with -c (ppdev, ftdi, gpio or sim)"},
        {{"-p", "89s52", "-e", "-c", "gpio"}, "-c gpio needs -P CHIP,rst=N,mosi=N,sck=N,miso=N (the GPIO chip and lines)"},
        {{"--device", "AT89S52", "-B", "10", "--crystal", "12MHz", "-e"},
         "--crystal and -B set the same; give one of them"},
        {{"-p", "89s52", "-B", "0.1", "-e"}, "-B 0.1: the AT89S52 takes a serial clock of at most 2500 kHz (a 40 MHz crystal)"},
        {{"-p", "89s52", "-c", "sim", "-e"}, "--port and -c both choose the cable; give one of them"},
        {{"-p", "89s52", "-U"}, "-U needs a value"},
    };
    for (const auto& [args, problem] : cases) {
        // The port first, unless the case is about choosing one.
        std::vector<std::string> withPort = args;
        if (problem.rfind("-c ", 0) != 0 && problem.rfind("-P ", 0) != 0)
            withPort.insert(withPort.begin(), {"--port", sim});
        const Ran ran = Run(withPort);
        SCOPED_TRACE(problem);
        EXPECT_EQ(ran.status, 2);
        EXPECT_EQ(ran.err, "qvx-isp-cli: " + problem + "\nTry 'qvx-isp-cli --help' for more.\n");
        EXPECT_EQ(ran.out, "");
    }
    EXPECT_FALSE(fs::exists(Path("chip.bin"))); // the chip was never opened

    const Ran help = Run({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("Usage: qvx-isp-cli --device NAME [--port SPEC] [settings...] OPERATION...\n", 0), 0u)
        << help.out;
    EXPECT_NE(help.out.find("Exit status: 0"), std::string::npos);
    EXPECT_EQ(help.err, "");
    const Ran version = Run({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, std::string("qvx-isp-cli ") + kVersion + "\n");
}

TEST_F(CliTest, ReadIntoAFolderThatCannotBeWrittenExitsTwo)
{
    // A path under a regular file fails for every user, root included.
    Write("plain", "a file, not a folder");
    const Ran ran = Run({"--device", "AT89S52", "--port", Sim("AT89S52"), "--read", "plain/out.hex", "--erase"});
    EXPECT_EQ(ran.status, 2);
    EXPECT_TRUE(ran.Logged("message: Cannot write the file plain/out.hex / Not a directory")) << ran.err;
    EXPECT_TRUE(ran.Logged("Save file failed."));
    EXPECT_FALSE(ran.Logged("Erase Chip..."));
    EXPECT_EQ(ReadFile(Path("plain")), "a file, not a folder");
}

TEST_F(CliTest, ProgressBarOnlyWhenStandardErrorIsATerminal)
{
    const Ran terminal = RunCli({"--device", "AT89S2051", "--port", Sim("AT89S2051"), "--blank"}, dir, {}, true);
    EXPECT_EQ(terminal.status, 0) << terminal.err;
    EXPECT_NE(terminal.err.find("\r  ["), std::string::npos) << terminal.err;
    // The bar ends with the time taken, whatever the machine's speed.
    EXPECT_TRUE(std::regex_search(terminal.err, std::regex(R"(\[#{30}\] 100%  \d+:\d\d)"))) << terminal.err;
    EXPECT_NE(terminal.err.find("Blank chip [OK]"), std::string::npos);

    const Ran piped = Run({"--device", "AT89S2051", "--port", Sim("AT89S2051"), "--blank"});
    EXPECT_EQ(piped.status, 0);
    EXPECT_EQ(piped.err.find('%'), std::string::npos) << piped.err;
    EXPECT_EQ(piped.err.find('\r'), std::string::npos);
}

TEST_F(CliTest, ConfigurationFromTheWorkingDirectoryOrTheOneNamed)
{
    Ran ran = Run({"--device", "AT89S52", "--port", Sim("AT89S52"), "--config", "missing.qvx", "--blank"});
    EXPECT_EQ(ran.status, 2);
    EXPECT_NE(ran.err.find("message: Cannot read the configuration file " + Path("missing.qvx") +
                           ": No such file or directory"),
              std::string::npos)
        << ran.err;
    EXPECT_FALSE(ran.Logged("Blank Check..."));

    fs::create_directory(dir / "etc");
    fs::rename(dir / "CONFIG.QVX", dir / "etc" / "timing.qvx");
    ran = Run({"--device", "AT89S52", "--port", Sim("AT89S52"), "--config", "etc/timing.qvx", "--blank"});
    EXPECT_EQ(ran.status, 0) << ran.err;
    EXPECT_EQ(ran.Log().front(), "Blank Check...");

    // Without one anywhere the run goes on with the fastest timing, as the
    // window does, after naming every place looked at.
    ran = Run({"--device", "AT89S52", "--port", Sim("AT89S52"), "--blank"});
    EXPECT_EQ(ran.status, 0) << ran.err;
    const std::string said = ran.Log().front();
    EXPECT_EQ(said.rfind("message: Cannot find the configuration file CONFIG.QVX. Looked for: " + Path("CONFIG.QVX") +
                         " / ",
                         0),
              0u)
        << said;
    EXPECT_NE(said.find((dir / "config" / "qvx-isp" / "CONFIG.QVX").string()), std::string::npos) << said;

    // The user's folder serves when the working directory has none.
    fs::create_directories(dir / "config" / "qvx-isp");
    fs::rename(dir / "etc" / "timing.qvx", dir / "config" / "qvx-isp" / "CONFIG.QVX");
    ran = Run({"--device", "AT89S52", "--port", Sim("AT89S52"), "--blank"});
    EXPECT_EQ(ran.status, 0) << ran.err;
    EXPECT_EQ(ran.Log().front(), "Blank Check...");
}

// The CLI's AUTO-PROGRAM of a full AT89S52, its standard error read as a
// pipe or a terminal, until the reader goes away and `signo` comes in the
// middle of the programming. The run ends as it ends normally: exit status
// 128 + signo, the run-mode lines on the cable, the chip saved, erased and
// programmed up to where it stopped.
void CliTest::ExpectSignalWithTheReaderGone(int signo, bool terminal)
{
    std::vector<uint8_t> code(0x2000);
    for (size_t i = 0; i < code.size(); ++i)
        code[i] = uint8_t(i * 5 + 3);
    Write("app.hex", HexText({{0, code}}));
    const std::string lines = Path("lines.txt");
    Child cli({QVX_CLI,
               {"--device", "AT89S52", "--port", Sim("AT89S52", ",iodelay=5000,lines=" + lines), "--auto",
                "app.hex"},
               dir,
               std::nullopt,
               terminal,
               {}});
    ASSERT_TRUE(cli.WaitFor("Programming...")) << cli.Output().err;
    cli.CloseStandardError();
    cli.Signal(signo);
    EXPECT_EQ(cli.Finish().status, 128 + signo);
    EXPECT_EQ(ReadFile(lines), "RST=0 D3=1 D7=1\n");
    const std::string saved = ReadFile(Path("chip.bin"));
    ASSERT_EQ(saved.size(), 0x2000u) << "the chip was saved";
    ExpectProgrammedUpToAStop(saved, code);
}

TEST_F(CliTest, CtrlCOnAPipelineEndsTheRunCleanlyThoughTheLogReaderIsGone)
{
    // qvx-isp-cli ... 2>&1 | tee log, then Ctrl-C: tee ends at once, and the
    // run's next log line goes to a pipe nobody reads.
    ExpectSignalWithTheReaderGone(SIGINT, false);
}

TEST_F(CliTest, AClosedTerminalEndsTheRunCleanly)
{
    // The terminal the progress bar is drawn on goes (its window closed, the
    // ssh connection lost): SIGHUP, and every later write there fails.
    ExpectSignalWithTheReaderGone(SIGHUP, true);
}

TEST_F(CliTest, ASignalAfterAnOperationRunsNothingMore)
{
    // The signal comes as ERASE has ended, before or just as BLANK starts:
    // no operation after it is reported done, none after BLANK starts.
    Write("app.hex", HexText(Program(0x2000)));
    Write("chip.bin", std::string(0x2000, '\x42'));
    Child cli({QVX_CLI,
               {"--device", "AT89S52", "--port", Sim("AT89S52", ",iodelay=5000,lines=" + Path("lines.txt")),
                "--erase", "--blank", "--auto", "app.hex", "--read", "back.hex"},
               dir,
               std::nullopt,
               false,
               {}});
    ASSERT_TRUE(cli.WaitFor("Erase finished.")) << cli.Output().err;
    cli.Signal(SIGTERM);
    const Ran& ran = cli.Finish();
    EXPECT_EQ(ran.status, 128 + SIGTERM) << ran.err;
    const std::vector<std::string> log = ran.Log();
    const auto erased = std::find(log.begin(), log.end(), "Erase finished.");
    ASSERT_NE(erased, log.end()) << ran.err;
    for (auto line = erased + 1; line != log.end(); ++line)
        for (const char* done : {"Blank chip [OK]", "Programming...", "Auto Programming finished.", "Read Chip..."})
            EXPECT_NE(*line, done) << ran.err;
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(std::vector<std::string>(log.end() - 2, log.end()),
              (std::vector<std::string>{"Ending on SIGTERM", "RUN MODE."}));
    EXPECT_FALSE(fs::exists(Path("back.hex")));
    EXPECT_EQ(ReadFile(Path("lines.txt")), "RST=0 D3=1 D7=1\n");
    EXPECT_EQ(ReadFile(Path("chip.bin")), std::string(0x2000, '\xFF')) << "erased, and saved";
}

TEST_F(CliTest, SecondPortAndTheUserFuse)
{
    Write("app.hex", HexText(Program(0x0800)));
    Ran ran = Run({"--device", "at89s2051", "--port", Sim("AT89S2051", ",lpt2"), "--lpt", "2", "--x2", "--auto",
                   "app.hex"});
    ASSERT_EQ(ran.status, 0) << ran.err;
    EXPECT_TRUE(Chip("AT89S2051")->Chip().X2Clock());

    // -U writes the code alone: the fuse stays as it is without --x2.
    ran = Run({"-p", "s2051", "--port", Sim("AT89S2051", ",lpt2"), "--lpt", "2", "-U", "flash:w:app.hex"});
    ASSERT_EQ(ran.status, 0) << ran.err;
    EXPECT_TRUE(Chip("AT89S2051")->Chip().X2Clock());

    // Without --x2 the fuse write turns it off.
    ran = Run({"--device", "AT89S2051", "--port", Sim("AT89S2051", ",lpt2"), "--lpt", "2", "--write-fuse"});
    ASSERT_EQ(ran.status, 0) << ran.err;
    EXPECT_FALSE(Chip("AT89S2051")->Chip().X2Clock());

    // The cable on LPT2 does not answer on LPT1.
    ran = Run({"--device", "AT89S2051", "--port", Sim("AT89S2051", ",lpt2"), "--erase"});
    EXPECT_EQ(ran.status, 1);
    EXPECT_TRUE(ran.Logged("message: Device have not in program mode"));
    EXPECT_EQ(ReadFile(Path("chip.bin")), Image(Program(0x0800), 0x0800));
}

// The short options hobbyists know from the field's other programmers, as a
// makefile written for one of them gives them.
TEST_F(CliTest, TheFieldsShortOptionsProgramVerifyAndRead)
{
    // Then with the chip kept in its state file, verified and read back as a raw image whatever its name.
    fs::copy_file(QVX_SOURCE_DIR "/examples/blink.hex", Path("blink.hex"));
    const std::string state = "timing=instant,state=" + Path("chip.bin");
    const Ran ran = Runs({{{"-p", "89s52", "-c", "sim", "-U", "flash:w:blink.hex:i"}, 0, {"Verify complete."}},
                          {{"-pAT89S52", "-c", "sim", "-P", state, "-e", "-U", "flash:w:blink.hex:i", "-U",
                            "flash:v:blink.hex", "-U", "flash:r:back.img:r", "-F", "-v"},
                           0, {"Port sim:AT89S52," + state + " (-c sim -P " + state + ")", "Verify complete."}}});
    EXPECT_EQ(ReadFile(Path("back.img")), ReadFile(Path("chip.bin")));
    const std::vector<std::string> log = ran.Log();
    EXPECT_EQ(std::count(log.begin(), log.end(), "Erase Chip..."), 1) << "-U flash:w erases already";
    // -D and -V leave out the erase and the verify; -e still erases.
    Runs({{{"-p", "89s52", "-c", "sim", "-P", state, "-D", "-V", "-U", "flash:w:blink.hex"},
           0, {"!Erase Chip...", "!Verify code ...", "Not erased first", "Auto Programming finished."}},
          {{"-p", "89s52", "-c", "sim", "-P", state, "-e", "-D", "-U", "flash:w:blink.hex"},
           0, {"Erase Chip...", "Verify complete."}}});
    EXPECT_NE(Runs({{{"-p", "?"}}}).out.find("  AT89S2051  89S2051, S2051    2 KB code memory (0000-07FF)\n"), std::string::npos);
}

// "-" is standard input for the files read and standard output for those
// written; a link is written through, and so is a descriptor's own name.
TEST_F(CliTest, StandardStreamsLinksAndDescriptorsAsFiles)
{
    const std::string image = Image(Program(0x1000), 0x1000);
    const std::string out = Runs({{{"-p", "s51", "--port", Sim("AT89S51"), "-U", "flash:w:-:i", "-U", "flash:v:-",
                                    "--read", "-", "-U", "flash:r:-:r"}, 0, {}, "chip.bin", image, {}, HexText(Program(0x1000))}}).out;
    const std::string hex = out.substr(0, out.size() - std::min(out.size(), image.size()));
    EXPECT_EQ(out, hex + image);
    EXPECT_EQ(hex.rfind(":1000000002070C11161B20252A2F34393E43484D", 0), 0u) << hex.substr(0, 80);
    // Through a link the file it names is replaced and the link stays; one to standard output writes there.
    fs::create_directory(dir / "kept");
    Write("kept/chip.hex", "old");
    fs::create_symlink("kept/chip.hex", dir / "chip-link.hex");
    fs::create_symlink("/proc/self/fd/1", dir / "out");
    EXPECT_EQ(Runs({// A raw image needs :r.
                    {{"-p", "s51", "--port", Sim("AT89S51"), "-U", "flash:v:-:r"}, 0, {}, {}, {}, {}, image},
                    {{"-p", "s51", "--port", Sim("AT89S51"), "--read", "chip-link.hex", "--read", "out"}, 0, {},
                     "kept/chip.hex", hex}}).out, hex);
    EXPECT_TRUE(fs::is_symlink(dir / "chip-link.hex") && fs::is_symlink(dir / "out"));
}

TEST_F(CliTest, NoRunHoldsTheTargetInResetAlsoWhenStopped)
{
    Child cli({QVX_CLI, {"-p", "s52", "--port", Sim("AT89S52", ",iodelay=5000,lines=" + Path("lines.txt")),
                         "--no-run", "--erase", "--blank", "--blank"}, dir});
    ASSERT_TRUE(cli.WaitFor("Erase finished.")) << cli.Output().err;
    cli.Signal(SIGTERM);
    const Ran& ran = cli.Finish();
    EXPECT_EQ(ran.status, 128 + SIGTERM) << ran.err;
    EXPECT_EQ(ran.Log().back(), "PROGRAM MODE.");
    EXPECT_EQ(ReadFile(Path("lines.txt")), "RST=1 D3=0 D7=0\n");
}

TEST_F(CliTest, VerbosityChoosesWhatStandardErrorShows)
{
    Write("app.hex", HexText({{0x0010, {0x42}}}));
    const std::string sum = ChecksumText("AT89S51", Image({{0x0010, {0x42}}}, 0x1000)),
                      refused = "message: Device have not in program mode";
    // A failure's detail: shown from -q on.
    for (const auto& [verbosity, port, log] : std::vector<std::tuple<const char*, const char*, std::vector<std::string>>>{
             {"-q", "", {sum, "Verify failed at 0010: expected 42, read FF"}}, {"-qq", "", {}},
             {"-qq", ",fault=nocable", {refused}}, {"-vqq", ",fault=nocable", {sum, refused, kSenseLowDiagnosis}}}) {
        const Ran ran = Run({"-p", "s51", verbosity, "--port", Sim("AT89S51", port), "-U", "flash:v:app.hex"});
        EXPECT_EQ(ran.status, 1) << verbosity << port;
        EXPECT_EQ(ran.Log(), log) << verbosity << port;
    }
    Runs({{{"-p", "s51", "-v", "--port", Sim("AT89S51"), "-U", "flash:v:app.hex"}, 1,
           {"Crystal 11059200 Hz (the default)", "Verify not match"}}});
}

} // namespace
} // namespace qvx::test
