// The chip's state file between runs and the wire-trace file.
#include "SimTest.h"

#include "StateFile.h"

namespace qvx::test {
namespace {

TEST(SimState, MemoryLockBitsAndFuseSurviveTheNextRun)
{
    TempDir dir;
    const std::string image = dir / "s8253.bin";
    {
        Session s("AT89S8253,timing=instant,state=" + image);
        ASSERT_EQ(s.wire.Enable4(), 0x69);
        s.wire.Write4(0x0000, 0x02);
        s.wire.Write4(0x2FFF, 0x80);
        s.wire.Send({0xAC, 0x18, 0x55, 0xFF}); // x2 clock on
        s.wire.Send({0xAC, 0xE4, 0xFF, 0xFF}); // LB1 and LB2
    } // the program ends: the chip is saved

    const std::string bytes = ReadAll(image);
    ASSERT_EQ(bytes.size(), 12288u) << "a raw image exactly the device's size";
    EXPECT_EQ(uint8_t(bytes[0]), 0x02);
    EXPECT_EQ(uint8_t(bytes[1]), 0xFF);
    EXPECT_EQ(uint8_t(bytes[0x2FFF]), 0x80);
    const std::string text = ReadAll(image + ".txt");
    EXPECT_NE(text.find("device=AT89S8253\n"), std::string::npos) << text;
    EXPECT_NE(text.find("lockbits=LB1 LB2\n"), std::string::npos) << text;
    EXPECT_NE(text.find("fuse=8\n"), std::string::npos) << text;

    Session again("AT89S8253,timing=instant,state=" + image);
    EXPECT_EQ(again.chip().CodeByte(0x0000), 0x02);
    EXPECT_EQ(again.chip().CodeByte(0x2FFF), 0x80);
    EXPECT_TRUE(again.chip().LockBit(1));
    EXPECT_TRUE(again.chip().LockBit(2));
    EXPECT_FALSE(again.chip().LockBit(3));
    EXPECT_TRUE(again.chip().X2Clock());
    ASSERT_EQ(again.wire.Enable4(), 0x69);
    EXPECT_EQ(again.wire.ReadLocks4(), 0xFC);
    EXPECT_EQ(again.wire.Read4(0x0000), 0xFF) << "LB2 still hides the code";
}

TEST(SimState, AMissingFileGivesAFreshChipAndTheDataMemoryIsKept)
{
    TempDir dir;
    const std::string image = dir / "s8252.bin";
    {
        Session s("AT89S8252,timing=instant,state=" + image);
        EXPECT_EQ(s.chip().Code(), std::vector<uint8_t>(8192, 0xFF));
        EXPECT_FALSE(s.chip().LockBit(1));
        s.wire.Enable3();
        s.wire.Send({0x06, 0x10, 0x42}); // data memory 0x010
        s.wire.Write3(0x1FFF, 0x42);
    }
    EXPECT_EQ(ReadAll(image).size(), 8192u);
    EXPECT_EQ(ReadAll(image + ".txt").find("fuse="), std::string::npos) << "no user fuse on this part";

    Session again("AT89S8252,timing=instant,state=" + image);
    EXPECT_EQ(again.chip().Data()[0x010], 0x42);
    EXPECT_EQ(again.chip().CodeByte(0x1FFF), 0x42);
}

TEST(SimState, AFileThatDoesNotFitIsRefusedAndLeftAlone)
{
    TempDir dir;
    const std::string image = dir / "chip.bin";
    std::string error;

    WriteAll(image, std::string(4096, '\x11'));
    EXPECT_EQ(MakeSimPort("AT89S52,timing=instant,state=" + image, error), nullptr);
    EXPECT_NE(error.find("holds 4096 bytes"), std::string::npos) << error;
    EXPECT_NE(error.find("exactly 8192 bytes"), std::string::npos) << error;
    EXPECT_EQ(ReadAll(image), std::string(4096, '\x11')) << "not saved over";

    WriteAll(image, std::string(4096, '\x11'));
    WriteAll(image + ".txt", "device=AT89S4051\nlockbits=none\n");
    EXPECT_EQ(MakeSimPort("AT89S51,timing=instant,state=" + image, error), nullptr);
    EXPECT_NE(error.find("saved from AT89S4051"), std::string::npos) << error;

    const struct {
        const char* text;
        const char* message;
    } broken[] = {{"lockbits=LB4\n", "line 1"},
                  {"# comment\n\nlockbits LB1\n", "line 3: expected key=value"},
                  {"fuse=G\n", "one hex digit"},
                  {"colour=blue\n", "unknown key \"colour\""},
                  {"lockbits=\n", "lockbits needs"}};
    for (const auto& b : broken) {
        WriteAll(image + ".txt", b.text);
        EXPECT_EQ(MakeSimPort("AT89S4051,timing=instant,state=" + image, error), nullptr) << b.text;
        EXPECT_NE(error.find(b.message), std::string::npos) << error;
        EXPECT_EQ(ReadAll(image + ".txt"), b.text);
    }

    WriteAll(image + ".txt", "# kept by hand\ndevice=at89s4051\nlockbits=LB1 LB3\nfuse=0D\n");
    auto port = MakeSimPort("AT89S4051,timing=instant,state=" + image, error);
    ASSERT_NE(port, nullptr) << error;
    EXPECT_TRUE(port->Chip().LockBit(1));
    EXPECT_FALSE(port->Chip().LockBit(2));
    EXPECT_TRUE(port->Chip().LockBit(3));
    EXPECT_EQ(port->Chip().UserFuse(), 0x0D);
    EXPECT_EQ(port->Chip().CodeByte(0x0FFF), 0x11);
}

TEST(SimState, SavingToAnUnwritablePlaceReportsIt)
{
    TempDir dir;
    sim::Chip chip(*sim::FindDevice("AT89S2051"));
    std::string error;
    EXPECT_FALSE(sim::SaveState(chip, dir / "no-such-folder/chip.bin", error));
    EXPECT_NE(error.find("no-such-folder"), std::string::npos) << error;
    EXPECT_TRUE(sim::SaveState(chip, dir / "chip.bin", error)) << error;
    EXPECT_EQ(ReadAll(dir / "chip.bin"), std::string(2048, '\xFF'));
}

TEST(SimTrace, FileHasOneLinePerInstructionResetAndCut)
{
    TempDir dir;
    const std::string path = dir / "wire.txt";
    {
        auto port = OpenSim("AT89S52,timing=instant,trace=" + path);
        port->Chip().PresetCode(0x1000, 0xA5);
        Wire wire(*port);
        wire.Rst(true);
        wire.Enable4();
        wire.Read4(0x1000);
        wire.Write4(0x1001, 0x3C);
        wire.Send({0xAC, 0x80});
        wire.ResetPulse();
        wire.Bits(0xFF, 7);
        wire.Rst(false);
    }
    EXPECT_EQ(ReadAll(path), "AC 53 55 55 -> 00 00 00 69\n"
                             "20 10 00 00 -> 00 00 00 A5\n"
                             "40 10 01 3C -> 00 00 00 00\n"
                             "AC 80 -> 00 00 (cut)\n"
                             "RESET\n"
                             "(cut)\n"
                             "RESET\n");

    std::string error;
    EXPECT_EQ(MakeSimPort("AT89S52,trace=" + (dir / "missing/wire.txt"), error), nullptr);
    EXPECT_NE(error.find("cannot write the trace file"), std::string::npos) << error;
}

TEST(SimTrace, InMemoryLinesMatchTheFileAndThreeByteAnswers)
{
    TempDir dir;
    const std::string path = dir / "wire.txt";
    auto port = OpenSim("AT89S53,timing=instant,trace=" + path);
    port->Chip().PresetCode(0x2001, 0x7E);
    port->Chip().RecordTrace(true);
    Wire wire(*port);
    wire.ResetPulse();
    wire.Enable3();
    wire.Read3(0x2001);
    wire.Rst(false);
    const std::vector<std::string> expected{"AC 53 55 -> 00 00 00", "05 01 00 -> 00 00 7E", "RESET"};
    EXPECT_EQ(port->Chip().TraceLines(), expected);
    EXPECT_EQ(ReadAll(path), "AC 53 55 -> 00 00 00\n05 01 00 -> 00 00 7E\nRESET\n") << "written as it happens";
    port->Chip().ClearTrace();
    port->Chip().RecordTrace(false);
    wire.ResetPulse();
    wire.Enable3();
    EXPECT_TRUE(port->Chip().TraceLines().empty());
}

} // namespace
} // namespace qvx::test
