// The Arduino as ISP and the USBasp, without the hardware: the real commands
// through the real backends, an ArduinoISP sketch on a pseudo-terminal and a
// USBasp behind the libusb seam, each with the simulated chip on its pins.
#include "ArduinoPort.h"
#include "CommandBench.h"
#include "PortSelect.h"
#include "VirtualUsbasp.h"

#include <gtest/gtest.h>

namespace qvx {
namespace {

using Fault = VirtualArduinoOptions::Fault;

enum class Kind { Arduino, Usbasp };

class HobbyCableTest : public ::testing::TestWithParam<Kind>, public test::CommandBench {
protected:
    void Open(const std::string& device, VirtualArduinoOptions arduino = {}, VirtualUsbaspOptions usb = {})
    {
        const sim::Device& d = *sim::FindDevice(device);
        if (GetParam() == Kind::Arduino) {
            board = std::make_unique<VirtualArduinoIsp>(d, sim::ChipOptions{}, arduino);
            port = std::make_unique<ArduinoPort>(ArduinoSettings{board->Path()});
            chip = &board->Chip();
        } else {
            auto system = std::make_unique<VirtualUsbasp>(d, sim::ChipOptions{}, usb);
            usbasp = system.get();
            port = std::make_unique<UsbaspPort>(UsbaspSettings{}, std::move(system));
            chip = &usbasp->Chip();
        }
        link.Port = port.get();
        selection.DeviceCode = DeviceCodeByName(device);
        selection.HexFileName = "in the buffer";
        commands.PowerUp(kLpt1Data);
    }

    std::unique_ptr<VirtualArduinoIsp> board;
    VirtualUsbasp* usbasp = nullptr;
    std::unique_ptr<PortAccess> port;
    sim::Chip* chip = nullptr;
};

TEST_P(HobbyCableTest, AutoProgramVerifyAndReadAWholeAT89S52)
{
    Open("AT89S52");
    const std::vector<uint8_t> image = Fill(8192, 7, 8192);
    SetLockBox(selection.Locks, 1, true);
    EXPECT_EQ(commands.AutoProgram(), Outcome::Succeeded);
    EXPECT_TRUE(view.messages.empty()) << view.messages.front();
    EXPECT_EQ(view.statuses.back(), "RUN MODE.");
    chip->Settle();
    EXPECT_EQ(chip->Code(), image);
    EXPECT_TRUE(chip->LockBit(1));
    EXPECT_FALSE(chip->ProgrammingEnabled()) << "run mode lets the target go";

    SetOperationMode(link, true, false);
    EXPECT_EQ(commands.Verify(), Outcome::Succeeded);
    ClearBuffer(*buffer);
    EXPECT_EQ(commands.ReadChip(), Outcome::Succeeded);
    for (size_t a = 0; a < image.size(); ++a)
        ASSERT_EQ(Byte(int32_t(a)), image[a]) << "at " << a;
    EXPECT_EQ(chip->Counters().misSampled, 0u);
    EXPECT_EQ(chip->Counters().pageReads, 0u) << "four-byte instructions only";
    if (board) {
        EXPECT_EQ(board->Overruns(), 0u);
        EXPECT_EQ(static_cast<ArduinoPort&>(*port).SketchVersion(), "1.18");
    } else {
        // One TRANSMIT per instruction besides the firmware's own enables,
        // at 375 kHz for the 11.0592 MHz crystal.
        EXPECT_EQ(static_cast<UsbaspPort&>(*port).SckCode(), 10);
        EXPECT_EQ(usbasp->Transmits() + usbasp->FirmwareEnables(), chip->Counters().instructions);
    }
}

TEST_P(HobbyCableTest, ChipsTheCableCannotClockAreRefusedAtOnce)
{
    for (const char* device : {"AT89S53", "AT89S8253"}) {
        view.messages.clear();
        Open(device);
        EXPECT_EQ(commands.Erase(), Outcome::NotRun) << device;
        ASSERT_EQ(view.messages.size(), 1u);
        const std::string& m = view.messages[0];
        EXPECT_EQ(m.rfind("The " + std::string(device) + " cannot be programmed through the ", 0), 0u) << m;
        EXPECT_NE(m.find(device == std::string("AT89S53") ? "three-byte instructions" : "SPI mode 1"),
                  std::string::npos) << m;
        EXPECT_NE(m.find("an FT232R USB cable or GPIO lines can program it"), std::string::npos);
        EXPECT_EQ(view.statuses.back(), kNotForThisCable);
        EXPECT_EQ(chip->Counters().instructions, 0u);
    }
}

TEST_P(HobbyCableTest, ACableThatFailsMidCommandEndsItWithItsOwnMessage)
{
    const struct {
        Fault fault;
        VirtualUsbaspOptions usb;
        const char* says;
    } cases[] = {
        {Fault::Lose, {.loseAfter = 900}, "unplugged or lost"},
        {Fault::Stall, {.shortAfter = 900}, GetParam() == Kind::Arduino ? "the line stalled" : "answered 2 of 4"},
        {Fault::Garble, {}, "answered 15h (not in sync) where 14h belongs"},
    };
    for (const auto& c : cases) {
        if (GetParam() == Kind::Usbasp && c.fault == Fault::Garble)
            continue;
        view = {};
        Open("AT89S52", {.fault = c.fault, .faultAfter = 300}, c.usb);
        Fill(2048, 7, 8192);
        EXPECT_EQ(commands.AutoProgram(), Outcome::ChipFailed);
        ASSERT_EQ(view.messages.size(), 1u);
        EXPECT_NE(view.messages[0].find(c.says), std::string::npos) << view.messages[0];
        EXPECT_EQ(view.statuses[view.statuses.size() - 2], kPortFailed);
        EXPECT_EQ(commands.Erase(), Outcome::ChipFailed) << "refused with the same words";
        EXPECT_EQ(view.messages.back(), port->Failure());
    }
}

INSTANTIATE_TEST_SUITE_P(Cables, HobbyCableTest, ::testing::Values(Kind::Arduino, Kind::Usbasp),
                         [](const auto& info) { return info.param == Kind::Arduino ? "Arduino" : "Usbasp"; });

TEST(HobbyCables, WhyTheCableCannotBeUsedIsToldWithItsRemedy)
{
    const sim::Device& s52 = *sim::FindDevice("AT89S52");
    const auto told = [](PortAccess&& port) { return port.IsDriverInstalled() ? "usable" : port.DriverDiagnosis(); };
    const auto arduino = [&](VirtualArduinoOptions o) {
        VirtualArduinoIsp board(s52, {}, o);
        return told(ArduinoPort(ArduinoSettings{board.Path()}));
    };
    const auto usbasp = [&](VirtualUsbaspOptions o) {
        return told(UsbaspPort({}, std::make_unique<VirtualUsbasp>(s52, sim::ChipOptions{}, o)));
    };
    VirtualArduinoIsp held(s52, {});
    ArduinoPort first(ArduinoSettings{held.Path()});
    ASSERT_TRUE(first.IsDriverInstalled());
    const struct {
        std::string diagnosis, says;
    } cases[] = {
        {arduino({.resetOnOpen = true, .bootNs = 800'000'000}), "usable"},
        {arduino({.fault = Fault::Silent}), "does not answer: no reply to the sync (30h 20h) within 2.5 s at 19200"},
        {arduino({.fault = Fault::Noise}), "answers, but not as the ArduinoISP sketch does (B0 to the sync"},
        {ArduinoPort({"/dev/ttyQVXnone"}).DriverDiagnosis(), "No serial port /dev/ttyQVXnone"},
        {ArduinoPort({held.Path()}).DriverDiagnosis(), "is in use by another program"},
        {usbasp({.present = false}), "No USBasp (USB ID 16C0:05DC, \"www.fischl.de\" \"USBasp\") is connected"},
        {usbasp({.denied = true}), "permission denied (/dev/bus/usb/001/005"},
        {usbasp({.release = 0x0104}), "firmware is version 1.04 (device release 0104), which cannot program AT89S"},
    };
    for (const auto& c : cases)
        EXPECT_NE(c.diagnosis.find(c.says), std::string::npos) << c.diagnosis;
    EXPECT_NE(cases[2].diagnosis.find("sketch is loaded"), std::string::npos);
    EXPECT_NE(cases[6].diagnosis.find("usermod -aG plugdev"), std::string::npos);
    EXPECT_NE(cases[7].diagnosis.find("1.11 or later"), std::string::npos);
}

TEST(HobbyCables, FormsAndTheirMistakes)
{
    PortSelection chosen;
    std::string error;
    ASSERT_TRUE(ParsePortSelection("arduino:/dev/ttyUSB0,baud=115200", chosen, error)) << error;
    EXPECT_EQ(chosen.kind, PortSelection::Kind::Arduino);
    EXPECT_EQ(chosen.arduino.path, "/dev/ttyUSB0");
    EXPECT_EQ(chosen.arduino.baud, 115200u);
    ASSERT_TRUE(ParsePortSelection("usbasp:serial=QVX1", chosen, error)) << error;
    EXPECT_EQ(chosen.usbasp.serial, "QVX1");
    const struct {
        const char* value;
        const char* says;
    } wrong[] = {
        {"arduino:", "name the Arduino's serial port first"},
        {"arduino:/dev/ttyACM0,baud=19201", "the baud rate is one a serial port takes"},
        {"arduino:/dev/ttyACM0,speed=1", "unknown option \"speed=1\""},
        {"usbasp:serial=", "a serial number is 1 to 64"},
        {"usbasp:sck=8", "unknown option \"sck=8\""},
    };
    for (const auto& w : wrong) {
        EXPECT_FALSE(ParsePortSelection(w.value, chosen, error)) << w.value;
        EXPECT_NE(error.find(w.says), std::string::npos) << w.value << ": " << error;
    }
}

} // namespace
} // namespace qvx
