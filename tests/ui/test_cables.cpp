// The window on the FT232R USB cable and on GPIO lines, through their real
// backends with a virtual FT232R and a virtual GPIO chip behind the library
// seams: the first-run message names what is wrong and its remedy, an
// AUTO-PROGRAM click programs the simulated chip, a lost cable ends the
// command with its own message, and closing the window lets the target run.
#include "FtdiPort.h"
#include "GpioPort.h"
#include "SimPort.h"
#include "VirtualFt232r.h"
#include "VirtualGpioChip.h"
#include "WindowFixture.h"

#include <QAction>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

namespace qvx::test {
namespace {

const QString kFirstRun = QStringLiteral("First Time setup for driver installation\rTry to RUN program again");

GpioSettings PiWiring()
{
    GpioSettings s;
    s.chip = "gpiochip0";
    s.rst = 25, s.mosi = 10, s.sck = 11, s.miso = 9;
    return s;
}

class CableWindowTest : public WindowTest {
protected:
    CableWindowTest()
    {
        WriteFile("CONFIG.QVX", "[0000]\n[0000]\n"); // no waits after writes, fastest clock
    }
    // Shows the window on `port` and waits until the activation check has
    // closed it.
    TfrmMain& StartAndWaitForTheClose(PortAccess& on)
    {
        TfrmMain& w = Open(on);
        w.show();
        EXPECT_TRUE(QTest::qWaitFor([&] { return !w.isVisible(); }, 5000));
        return w;
    }
    // The AT89S52 chosen and blink.hex loaded, Lock Bit 1 ticked.
    TfrmMain& OpenReady(PortAccess& on)
    {
        TfrmMain& w = Open(on);
        w.DeviceMenuItem(DeviceCodeByName("AT89S52"))->trigger();
        chosen.push_back(QString::fromStdString(Example("blink.hex")));
        w.btnLoadFile->click();
        w.chkLock1->setChecked(true);
        return w;
    }
    // The code buffer as the chip's memory should hold it.
    std::vector<uint8_t> Expected(size_t size) const
    {
        std::vector<uint8_t> image(size);
        for (size_t a = 0; a < size; ++a)
            image[a] = uint8_t(std::stoi(Byte(int32_t(a)), nullptr, 16));
        return image;
    }
    std::unique_ptr<VirtualFt232r> Ft232r(VirtualFt232rOptions options = {})
    {
        return std::make_unique<VirtualFt232r>(*sim::FindDevice("AT89S52"), sim::ChipOptions{}, options);
    }
    std::unique_ptr<SimPort> Cable(const std::string& options = "AT89S52,timing=instant")
    {
        std::string error;
        std::unique_ptr<SimPort> cable = MakeSimPort(options, error);
        EXPECT_NE(cable, nullptr) << error;
        return cable;
    }
};

TEST_F(CableWindowTest, FirstRunWithoutTheUsbCableSaysSoAndHowToFixIt)
{
    VirtualFt232rOptions absent;
    absent.present = false;
    FtdiPort missing(FtdiSettings{}, Ft232r(absent));
    StartAndWaitForTheClose(missing);
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].startsWith(kFirstRun + QStringLiteral("\n\nNo FT232R USB cable (USB ID 0403:6001) is "
                                                                  "connected.\nPlug the cable in; lsusb")))
        << messages[0].toStdString();

    messages.clear();
    VirtualFt232rOptions denied;
    denied.denied = true;
    FtdiPort locked(FtdiSettings{}, Ft232r(denied));
    StartAndWaitForTheClose(locked);
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].startsWith(kFirstRun + QStringLiteral("\n\nThe FT232R USB cable cannot be opened: "
                                                                  "permission denied")))
        << messages[0].toStdString();
    EXPECT_TRUE(messages[0].contains(QStringLiteral("/etc/udev/rules.d/60-qvx-ft232r.rules")));
    EXPECT_TRUE(messages[0].contains(QStringLiteral("usermod -aG plugdev")));
}

TEST_F(CableWindowTest, FirstRunWithoutTheGpioChipSaysSoAndHowToFixIt)
{
    std::unique_ptr<SimPort> cable = Cable();
    GpioSettings elsewhere = PiWiring();
    elsewhere.chip = "gpiochip4";
    GpioPort missing(elsewhere, std::make_unique<VirtualGpioChip>(*cable, elsewhere));
    StartAndWaitForTheClose(missing);
    ASSERT_EQ(messages.size(), 1);
    EXPECT_EQ(messages[0], kFirstRun + QStringLiteral("\n\nCannot open the GPIO chip gpiochip4: No such file or "
                                                      "directory.\nName a chip that exists: gpiodetect lists them "
                                                      "(package gpiod).") +
                               FirstRunAdvice());

    messages.clear();
    VirtualGpioOptions denied;
    denied.denied = true;
    GpioPort locked(PiWiring(), std::make_unique<VirtualGpioChip>(*cable, PiWiring(), denied));
    StartAndWaitForTheClose(locked);
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].startsWith(kFirstRun + QStringLiteral("\n\nCannot open the GPIO chip gpiochip0: "
                                                                  "Permission denied.\n")))
        << messages[0].toStdString();
    EXPECT_TRUE(messages[0].contains(QStringLiteral("sudo usermod -aG gpio $USER")));
}

TEST_F(CableWindowTest, AutoProgramThroughTheUsbCableThenTheCableIsLost)
{
    auto system = Ft232r();
    VirtualFt232r& ft = *system;
    FtdiPort usb(FtdiSettings{}, std::move(system));
    TfrmMain& w = OpenReady(usb);
    w.btnAuto->click();
    ft.Chip().Settle();
    EXPECT_EQ(ft.Chip().Code(), Expected(ft.Chip().Code().size()));
    EXPECT_TRUE(ft.Chip().LockBit(1));
    EXPECT_TRUE(messages.isEmpty()) << messages.join('|').toStdString();
    EXPECT_EQ(w.edtStatus->text(), QStringLiteral("RUN MODE."));
    EXPECT_GT(ft.Transfers(), 0u);

    // The same click on a cable that is pulled out halfway.
    window.reset();
    VirtualFt232rOptions unplugged;
    unplugged.loseAfterBytes = 20'000;
    auto lostSystem = Ft232r(unplugged);
    VirtualFt232r& lostFt = *lostSystem;
    FtdiPort lost(FtdiSettings{}, std::move(lostSystem));
    TfrmMain& again = OpenReady(lost);
    again.btnAuto->click();
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].startsWith(QStringLiteral("FT232R QVX00001: "))) << messages[0].toStdString();
    EXPECT_TRUE(messages[0].contains(QStringLiteral("unplugged or lost")));
    EXPECT_EQ(again.edtStatus->text(), QStringLiteral("Auto programming fail"));
    EXPECT_FALSE(lostFt.Chip().LockBit(1));
}

TEST_F(CableWindowTest, AutoProgramThroughGpioLinesAndCloseLetsTheTargetRun)
{
    std::unique_ptr<SimPort> cable = Cable();
    VirtualGpioChip lines(*cable, PiWiring());
    auto gpio = std::make_unique<GpioPort>(PiWiring(), Lend(lines));
    TfrmMain& w = OpenReady(*gpio);
    w.btnAuto->click();
    cable->Chip().Settle();
    EXPECT_EQ(cable->Chip().Code(), Expected(cable->Chip().Code().size()));
    EXPECT_TRUE(cable->Chip().LockBit(1));
    EXPECT_TRUE(messages.isEmpty()) << messages.join('|').toStdString();

    // Program mode from the Option menu holds the target in reset; closing
    // the window lets it run, and the lines are given back with the port.
    w.ProgramMode1->trigger();
    EXPECT_TRUE(cable->Register(kLpt1Data) & 0x10);
    w.close();
    EXPECT_FALSE(cable->Register(kLpt1Data) & 0x10) << "RST low at exit";
    window.reset();
    EXPECT_TRUE(lines.Requested(25));
    gpio.reset(); // as the program ends
    EXPECT_FALSE(lines.Requested(25));
    EXPECT_FALSE(lines.IsOpen());
}

} // namespace
} // namespace qvx::test
