// The FT232R USB cable, without the hardware: the real commands through the
// real backend, with a virtual FT232R in synchronous bit-bang mode behind the
// libftdi seam and the simulated chip on its pins, in virtual time.
#include "CommandBench.h"
#include "FtdiPort.h"
#include "PortSelect.h"
#include "VirtualFt232r.h"

#include <gtest/gtest.h>

namespace qvx {
namespace {

using test::RecordingView;

class FtdiCableTest : public ::testing::Test, public test::CommandBench {
protected:
    void Open(const std::string& device, VirtualFt232rOptions cable = {}, FtdiSettings settings = {},
              uint32_t chipXtal = kDefaultCrystalHz)
    {
        chipOptions.xtalHz = chipXtal;
        cable.wiring = settings.pins;
        auto system = std::make_unique<VirtualFt232r>(*sim::FindDevice(device), chipOptions, cable);
        ft = system.get();
        port = std::make_unique<FtdiPort>(settings, std::move(system));
        link.Port = port.get();
        ClearBuffer(*buffer);
        selection.DeviceCode = DeviceCodeByName(device);
        selection.HexFileName = "in the buffer";
        commands.PowerUp(kLpt1Data);
    }
    // Random bytes (about one in 256 of them FF, which is not written) in
    // the first `size` bytes of the buffer.
    std::vector<uint8_t> Fill(size_t size, uint32_t seed = 7) { return CommandBench::Fill(size, seed, Chip().Code().size()); }
    sim::Chip& Chip() { return ft->Chip(); }
    // The trace lines that begin with one of `prefixes`.
    std::vector<std::string> Lines(std::initializer_list<const char*> prefixes)
    {
        std::vector<std::string> lines;
        for (const std::string& line : Chip().TraceLines())
            for (const char* prefix : prefixes)
                if (line.rfind(prefix, 0) == 0)
                    lines.push_back(line);
        return lines;
    }

    sim::ChipOptions chipOptions; // the chip on the cable: faults, noise
    VirtualFt232r* ft = nullptr;
    std::unique_ptr<FtdiPort> port;
};

TEST_F(FtdiCableTest, AutoProgramVerifyAndReadGoThroughTheCableInFewTransfers)
{
    Open("AT89S51");
    const std::vector<uint8_t> image = Fill(4096);
    SetLockBox(selection.Locks, 1, true);

    EXPECT_EQ(commands.AutoProgram(), Outcome::Succeeded);
    Chip().Settle();
    EXPECT_EQ(Chip().Code(), image);
    EXPECT_TRUE(Chip().LockBit(1));
    EXPECT_FALSE(Chip().LockBit(2));
    EXPECT_TRUE(view.messages.empty()) << view.messages.front();
    ASSERT_GE(view.statuses.size(), 2u);
    EXPECT_EQ(view.statuses[view.statuses.size() - 2], "Auto Programming finished.");
    EXPECT_EQ(view.statuses.back(), "RUN MODE.");

    // Never faster than the chip takes, never more than the chip's buffers
    // hold, and many instructions to a transfer.
    EXPECT_EQ(Chip().Counters().misSampled, 0u);
    EXPECT_EQ(ft->Overruns(), 0u);
    EXPECT_LE(ft->LargestWrite(), kFtdiMaxTransfer);
    EXPECT_LT(ft->Transfers() * 3, Chip().Counters().instructions * 2);

    SetOperationMode(link, true, false);
    EXPECT_EQ(commands.Verify(), Outcome::Succeeded);
    EXPECT_EQ(view.statuses.back(), "Verify complete.");

    // The chip read back into an empty buffer, with its lock bit.
    ClearBuffer(*buffer);
    EXPECT_EQ(commands.ReadChip(), Outcome::Succeeded);
    for (size_t a = 0; a < image.size(); ++a)
        ASSERT_EQ(Byte(int32_t(a)), image[a]) << "at " << a;
    EXPECT_TRUE(selection.Locks.Box(1));
}

TEST_F(FtdiCableTest, ProgrammingStreamsEachWriteItsCycleAndItsPoll)
{
    Open("AT89S52");
    const std::vector<uint8_t> image = Fill(8192);
    Chip().RecordTrace(true);
    EXPECT_EQ(commands.Program(), Outcome::Succeeded);
    // Each write, then (its cycle spent in idle bytes) the poll that reads
    // it back: never a poll of a busy chip, never a write it ignored.
    const std::vector<std::string> lines = Lines({"40 ", "20 "});
    std::vector<std::string> expected;
    char line[64];
    for (size_t a = 0; a < image.size(); ++a) {
        if (image[a] == 0xFF)
            continue;
        std::snprintf(line, sizeof line, "40 %02X %02X %02X -> 00 00 00 00", unsigned(a >> 8), unsigned(a & 0xFF), image[a]);
        expected.push_back(line);
        std::snprintf(line, sizeof line, "20 %02X %02X 00 -> 00 00 00 %02X", unsigned(a >> 8), unsigned(a & 0xFF), image[a]);
        expected.push_back(line);
    }
    EXPECT_EQ(lines, expected);
    EXPECT_EQ(Chip().Counters().ignoredBusy, 0u);
    // Over three seconds of writes and cycles in a few streams, each well
    // under the cable's bound.
    EXPECT_LE(ft->Streams(), 20u);
    EXPECT_LE(ft->Transfers(), 30u);
    EXPECT_EQ(ft->Overruns(), 0u);
}

TEST_F(FtdiCableTest, TheAT89S8253WritesPagesThroughTheCable)
{
    Open("AT89S8253");
    const std::vector<uint8_t> image = Fill(12288);
    EXPECT_EQ(commands.Program(), Outcome::Succeeded);
    EXPECT_EQ(commands.Verify(), Outcome::Succeeded);
    Chip().Settle();
    EXPECT_EQ(Chip().Code(), image);
    EXPECT_EQ(Chip().Counters().pageWrites, 192u);
    EXPECT_EQ(Chip().Counters().codeWrites, 0u);
    EXPECT_LE(ft->Streams(), 40u);
}

TEST_F(FtdiCableTest, AByteThatDoesNotConfirmIsWrittenAgainThenFailsAtItsAddress)
{
    chipOptions.weakCell = 0x0100;
    Open("AT89S52");
    const std::vector<uint8_t> image = Fill(0x200);
    Chip().RecordTrace(true);
    EXPECT_EQ(commands.Program(), Outcome::ChipFailed);
    EXPECT_EQ(view.messages, std::vector<std::string>{"Programming Time-Out"});
    char failed[64];
    std::snprintf(failed, sizeof failed, "Programming failed at 0100: expected %02X, read FF", image[0x100]);
    const std::vector<std::string> log = view.LogTexts();
    EXPECT_NE(std::find(log.begin(), log.end(), failed), log.end());
    char write[32];
    std::snprintf(write, sizeof write, "40 01 00 %02X", image[0x100]);
    EXPECT_EQ(Lines({write}).size(), 1u + 9u); // in the stream, then the first write and eight rewrites
    Chip().Settle();
    for (size_t a = 0; a < 0x100; ++a)
        ASSERT_EQ(Chip().CodeByte(uint32_t(a)), image[a]) << a;
}

TEST_F(FtdiCableTest, ReadChipBringsTheCodeBackByteForByte)
{
    Open("AT89S52");
    const std::vector<uint8_t> image = test::RandomBytes(Chip().Code().size(), 3);
    Chip().PresetCode(image);

    EXPECT_EQ(commands.ReadChip(), Outcome::Succeeded);
    for (size_t a = 0; a < image.size(); ++a)
        ASSERT_EQ(Byte(int32_t(a)), image[a]) << "at " << a;
    EXPECT_EQ(view.statuses.back(), "Read Chip finished");
    EXPECT_EQ(Chip().Counters().misSampled, 0u);
    EXPECT_EQ(ft->Overruns(), 0u);
}

TEST_F(FtdiCableTest, ThreeByteChipWithSlowClockAndPolledWrites)
{
    // The AT89S8252 wants 24 crystal periods per SCK phase (three bytes at
    // 1 MB/s with 11.0592 MHz) and has no specified write cycle.
    Open("AT89S8252");
    const std::vector<uint8_t> image = Fill(600);
    EXPECT_EQ(commands.Erase(), Outcome::Succeeded);
    EXPECT_EQ(commands.Program(), Outcome::Succeeded);
    EXPECT_EQ(commands.Verify(), Outcome::Succeeded);
    Chip().Settle();
    EXPECT_EQ(Chip().Code(), image);
    EXPECT_EQ(Chip().Counters().misSampled, 0u);
    EXPECT_TRUE(view.messages.empty());
}

TEST_F(FtdiCableTest, ClockFloorComesFromTheSelectedCrystal)
{
    // A 3 MHz board: eight periods are 2.7 us, three bytes of the cable.
    Open("AT89S52", {}, {}, 3'000'000);
    Fill(16);
    link.CrystalHz = 3'000'000;
    EXPECT_EQ(commands.Program(), Outcome::Succeeded);
    EXPECT_EQ(Chip().Counters().misSampled, 0u);

    // Told of a 33 MHz crystal the cable clocks one byte a phase: the chip
    // mis-samples and never answers the programming enable.
    link.CrystalHz = 33'000'000;
    EXPECT_EQ(commands.Erase(), Outcome::ChipFailed);
    EXPECT_GT(Chip().Counters().misSampled, 0u);
    EXPECT_EQ(view.statuses.back(), kNotInProgramMode);
}

TEST_F(FtdiCableTest, SenseSamplesRefuseAnUnpoweredTarget)
{
    VirtualFt232rOptions cable;
    cable.senseWired = true;
    cable.targetPowered = false;
    FtdiSettings settings;
    settings.pins.sense = 3; // CTS#
    Open("AT89S8253", cable, settings);
    Fill(8);

    EXPECT_EQ(commands.Program(), Outcome::ChipFailed);
    EXPECT_EQ(view.messages, std::vector<std::string>{kNotInProgramMode});
    EXPECT_EQ(view.statuses, (std::vector<std::string>{"Programming...", kNotInProgramMode}));
    EXPECT_EQ(Chip().Counters().instructions, 0u);
    EXPECT_TRUE(port->Failure().empty());
}

TEST_F(FtdiCableTest, WithoutASenseLineTheCableReadsRstAsSense)
{
    Open("AT89S8253");
    SetOperationMode(link, true, true);
    EXPECT_TRUE(port->GetPortBit(0x379, 4));
    SetOperationMode(link, false, true);
    EXPECT_FALSE(port->GetPortBit(0x379, 4));
    // MISO floats high on the chip's pull-up while it runs.
    EXPECT_TRUE(port->GetPortBit(0x379, 6));
}

TEST_F(FtdiCableTest, LostCableEndsTheCommandWithItsOwnMessage)
{
    VirtualFt232rOptions cable;
    cable.loseAfterBytes = 40'000; // somewhere in the programming
    Open("AT89S52", cable);
    Fill(2048);

    EXPECT_EQ(commands.AutoProgram(), Outcome::ChipFailed);
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_NE(view.messages[0].find("FT232R QVX00001"), std::string::npos) << view.messages[0];
    EXPECT_NE(view.messages[0].find("unplugged or lost"), std::string::npos) << view.messages[0];
    EXPECT_EQ(view.statuses, (std::vector<std::string>{"PROGRAM MODE.", "Erase Chip...", "Programming...",
                                                        kPortFailed, "Auto programming fail"}));
    EXPECT_EQ(port->Failure(), view.messages[0]);
    EXPECT_LT(Chip().Counters().codeWrites, 2048u);

    // The next command is refused at once with the same words.
    view.messages.clear();
    EXPECT_EQ(commands.Erase(), Outcome::ChipFailed);
    EXPECT_EQ(view.messages, std::vector<std::string>{port->Failure()});
    EXPECT_EQ(view.statuses.back(), kPortFailed);
}

TEST_F(FtdiCableTest, MissingCableAndDeniedPermissionAreToldApart)
{
    VirtualFt232rOptions absent;
    absent.present = false;
    Open("AT89S52", absent);
    EXPECT_FALSE(port->IsDriverInstalled());
    EXPECT_EQ(port->DriverDiagnosis().rfind("No FT232R USB cable (USB ID 0403:6001) is connected", 0), 0u)
        << port->DriverDiagnosis();
    EXPECT_EQ(commands.Erase(), Outcome::ChipFailed);
    EXPECT_EQ(view.statuses.back(), kNotInProgramMode);

    VirtualFt232rOptions denied;
    denied.denied = true;
    Open("AT89S52", denied);
    const std::string diagnosis = port->DriverDiagnosis();
    EXPECT_NE(diagnosis.find("permission denied (/dev/bus/usb/001/004: Permission denied)"), std::string::npos)
        << diagnosis;
    EXPECT_NE(diagnosis.find("60-qvx-ft232r.rules"), std::string::npos);

    VirtualFt232rOptions busy;
    busy.busy = true;
    Open("AT89S52", busy);
    EXPECT_EQ(port->DriverDiagnosis().rfind("The FT232R USB cable is in use by another program", 0), 0u);
    EXPECT_NE(port->DriverDiagnosis().find("End the other program"), std::string::npos);

    FtdiSettings other;
    other.serial = "NOTTHIS";
    Open("AT89S52", {}, other);
    EXPECT_EQ(port->DriverDiagnosis().rfind("No FT232R USB cable with serial number NOTTHIS", 0), 0u);
}

TEST_F(FtdiCableTest, AnotherPinMapDrivesOtherPins)
{
    FtdiSettings settings;
    std::string error;
    ASSERT_TRUE(ParseFtdiOptions("pins=d7/d6/d5/d4", settings, error)) << error;
    Open("AT89S4051", {}, settings);
    const std::vector<uint8_t> image = Fill(64);
    EXPECT_EQ(commands.Program(), Outcome::Succeeded);
    Chip().Settle();
    EXPECT_EQ(Chip().Code(), image);
    // Run mode at the end: RST (D4) low, the outputs D4 to D6 only.
    commands.LeaveRunning();
    port->GetPortBit(0x379, 6); // sends the queued line changes
    EXPECT_EQ(ft->Pins() & 0x30, 0); // RST and SCK low
    EXPECT_EQ(ft->Pins() & 0x0F, 0); // no output there
}

TEST(FtdiOptions, FormsAndTheirMistakes)
{
    PortSelection chosen;
    std::string error;
    ASSERT_TRUE(ParsePortSelection("ftdi", chosen, error)) << error;
    EXPECT_EQ(chosen.kind, PortSelection::Kind::Ftdi);
    EXPECT_EQ(chosen.ftdi.pins.mosi, 0);
    EXPECT_EQ(chosen.ftdi.pins.rst, 4);
    EXPECT_EQ(chosen.ftdi.pins.sense, -1);
    EXPECT_EQ(chosen.ftdi.rate, kFtdiDefaultRate);

    ASSERT_TRUE(ParsePortSelection("ftdi:serial=A50285BI,pins=rxd/txd/dtr/rts/cts,rate=250000", chosen, error));
    EXPECT_EQ(chosen.ftdi.serial, "A50285BI");
    EXPECT_EQ(chosen.ftdi.pins.mosi, 1);
    EXPECT_EQ(chosen.ftdi.pins.miso, 0);
    EXPECT_EQ(chosen.ftdi.pins.sck, 4);
    EXPECT_EQ(chosen.ftdi.pins.rst, 2);
    EXPECT_EQ(chosen.ftdi.pins.sense, 3);
    EXPECT_EQ(chosen.ftdi.rate, 250000u);
    ASSERT_TRUE(ParsePortSelection("ftdi:pins=D7/D6/Rts/DTR", chosen, error)) << error;
    EXPECT_EQ(chosen.ftdi.pins.mosi, 7);
    EXPECT_EQ(chosen.ftdi.pins.sck, 2);

    const struct {
        const char* value;
        const char* says;
    } wrong[] = {
        {"ftdi:pins=txd/rxd", "name four or five pins"},
        {"ftdi:pins=txd/txd/rts/dtr", "pin txd is named twice"},
        {"ftdi:pins=txd/rxd/rts/dtr/cts/ri", "name four or five pins"},
        {"ftdi:pins=txd/rxd/rts/xyz", "\"xyz\" is no FT232R pin"},
        {"ftdi:rate=3000000", "from 1000 to 1000000"},
        {"ftdi:speed=1", "unknown option \"speed=1\""},
        {"ftdi:serial", "option \"serial\": give it a value"},
        {"ftdi:serial=", "option \"serial=\": give it a value"},
        {"ftdi:serial=A5 0285", "a serial number is 1 to 64 printable characters"},
        {"ftdi:pins=txd/rxd/rts/dtr,", "empty option"},
        {"ftdi:rate=1e6", "from 1000 to 1000000"},
        {"ftdix", "Unknown QVX_PORT value"},
    };
    for (const auto& w : wrong) {
        EXPECT_FALSE(ParsePortSelection(w.value, chosen, error)) << w.value;
        EXPECT_NE(error.find(w.says), std::string::npos) << w.value << ": " << error;
    }
}

} // namespace
} // namespace qvx
