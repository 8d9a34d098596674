// The ppdev backend with its system calls replaced: which device each LPT
// maps to, which ioctls each bit function makes, the driver check and what
// it says when the port cannot be used.
#include "FakePpdev.h"
#include "Link.h"
#include "WireDecode.h"

#include <algorithm>
#include <functional>
#include <sstream>

namespace qvx {
namespace {

using test::FakeParport;
using FakeSystem = test::FakePpdevSystem;

class PpdevTest : public ::testing::Test {
protected:
    PpdevTest()
    {
        auto fake = std::make_unique<FakeSystem>();
        sys = fake.get();
        // parport0 is an add-in card at 0x278, parport1 the motherboard port.
        sys->ports["parport0"].baseAddr = "632\t1656\n";
        sys->ports["parport1"].baseAddr = "888\t1912\n";
        port = std::make_unique<PpdevPort>(std::move(fake));
    }
    FakeSystem* sys;
    std::unique_ptr<PpdevPort> port;
};

TEST_F(PpdevTest, MapsEachLptToTheParportWithItsBaseAddress)
{
    EXPECT_EQ(port->DeviceFor(0x378), "/dev/parport1");
    EXPECT_EQ(port->DeviceFor(0x278), "/dev/parport0");
    EXPECT_EQ(port->DeviceFor(0x3BC), std::nullopt);
}

TEST_F(PpdevTest, DataBitsAreWrittenFromTheShadowOnTheRightDevice)
{
    sys->ports["parport1"].data = 0x0F;
    port->SetPortBit(0x378, 4);
    port->ClrPortBit(0x378, 0);
    EXPECT_EQ(sys->ports["parport1"].data, 0x1E);
    EXPECT_EQ(sys->ports["parport0"].data, 0x00);
    // Claimed for this program alone, the register read once; then one
    // write per line change and no read-back.
    EXPECT_EQ(sys->log, (std::vector<std::string>{"open /dev/parport1", "excl", "claim", "datadir 0", "rdata",
                                                  "wdata 31", "wdata 30"}));

    port->SetPortBit(0x278, 7);
    EXPECT_EQ(sys->ports["parport0"].data, 0x80);
    EXPECT_TRUE(port->GetPortBit(0x378, 4)); // the data register reads back
}

TEST_F(PpdevTest, StatusIsReadAndNeverWritten)
{
    sys->ports["parport1"].status = 0x50; // MISO and sense high
    EXPECT_TRUE(port->GetPortBit(0x379, 6));
    EXPECT_TRUE(port->GetPortBit(0x379, 4));
    EXPECT_FALSE(port->GetPortBit(0x379, 5));
    const size_t before = sys->log.size();
    port->SetPortBit(0x379, 6);
    port->ClrPortBit(0x379, 6);
    EXPECT_EQ(sys->log.size(), before);
    EXPECT_EQ(sys->log.back(), "rstatus");
}

TEST_F(PpdevTest, OtherAddressesTouchNothing)
{
    port->SetPortBit(0x3BC, 1);
    EXPECT_FALSE(port->GetPortBit(0x37A, 1));
    EXPECT_TRUE(sys->log.empty());
}

TEST_F(PpdevTest, DriverInstalledWhenAPortCanBeClaimed)
{
    EXPECT_TRUE(port->IsDriverInstalled());
    std::vector<std::string> log;
    sys->logAfterDestruction = &log;
    port.reset(); // releases and closes what it claimed
    EXPECT_EQ(std::count(log.begin(), log.end(), "release"), 2);
    EXPECT_EQ(std::count(log.begin(), log.end(), "close"), 2);
}

TEST_F(PpdevTest, AReleaseThatFailsAtTheEndIsReported)
{
    ASSERT_TRUE(port->IsDriverInstalled());
    sys->ports["parport1"].releaseErrno = ENODEV;
    std::vector<std::string> log;
    sys->logAfterDestruction = &log;
    ::testing::internal::CaptureStderr();
    port.reset();
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "QVX-ISP: LPT1: cannot release the port: No such device\n");
    EXPECT_EQ(std::count(log.begin(), log.end(), "close"), 2) << "closed all the same";
}

TEST_F(PpdevTest, NoDriverWhenNothingOpensOrClaims)
{
    sys->ports["parport0"].openErrno = EACCES;
    sys->ports["parport1"].claimErrno = EBUSY;
    EXPECT_FALSE(port->IsDriverInstalled());
    EXPECT_NE(port->LastError().find("/dev/parport"), std::string::npos) << port->LastError();
    // A port that failed is not tried again on every bit.
    const size_t before = sys->log.size();
    port->SetPortBit(0x378, 4);
    EXPECT_FALSE(port->GetPortBit(0x279, 4));
    EXPECT_EQ(sys->log.size(), before);
}

TEST_F(PpdevTest, NoDriverWithoutParportDevices)
{
    sys->ports.clear();
    EXPECT_FALSE(port->IsDriverInstalled());
    EXPECT_NE(port->LastError().find("0x378"), std::string::npos) << port->LastError();
}

TEST_F(PpdevTest, DataRegisterReadsComeFromTheShadow)
{
    sys->ports["parport1"].data = 0x81; // as the port was left before
    EXPECT_TRUE(port->GetPortBit(0x378, 7));
    EXPECT_FALSE(port->GetPortBit(0x378, 4));
    port->SetPortBit(0x378, 4);
    EXPECT_TRUE(port->GetPortBit(0x378, 4));
    EXPECT_TRUE(port->GetPortBit(0x378, 0));
    EXPECT_EQ(std::count(sys->log.begin(), sys->log.end(), "rdata"), 1) << "read once, when claimed";
    EXPECT_EQ(sys->ports["parport1"].data, 0x91);
}

// The real bit transfer on the ppdev backend: what one byte costs in
// system calls, and that the wire sees the byte.
TEST_F(PpdevTest, AClockedBitCostsFourSystemCalls)
{
    LinkState link;
    link.Port = port.get();
    ASSERT_TRUE(port->IsDriverInstalled());
    FakeParport& lpt1 = sys->ports["parport1"];
    // Program-mode sense, then MISO 1 0 1 0 0 1 0 1 (0xA5) with the sense still high.
    lpt1.statusReads.push_back(0x10);
    for (int i = 7; i >= 0; --i)
        lpt1.statusReads.push_back(static_cast<unsigned char>(0x10 | ((0xA5 >> i) & 1) << 6));
    const long before = sys->ioctls;
    const size_t logged = sys->log.size();

    TransferByte(link, 'A', 'C');

    EXPECT_EQ(sys->ioctls - before, 1 + 8 * 4) << "one sense read, then four calls per bit";
    const std::vector<std::string> calls(sys->log.begin() + long(logged), sys->log.end());
    ASSERT_EQ(calls.size(), 33u);
    EXPECT_EQ(calls[0], "rstatus");
    uint8_t clocked = 0;
    for (int i = 0; i < 8; ++i) {
        const auto* bit = &calls[size_t(1 + 4 * i)];
        // MOSI, clock up, sample, clock down: the status write before the
        // sample costs nothing.
        EXPECT_EQ(bit[0].rfind("wdata ", 0), 0u) << i;
        EXPECT_EQ(bit[1].rfind("wdata ", 0), 0u) << i;
        EXPECT_EQ(bit[2], "rstatus") << i;
        EXPECT_EQ(bit[3].rfind("wdata ", 0), 0u) << i;
        const int up = std::stoi(bit[1].substr(6)), down = std::stoi(bit[3].substr(6));
        EXPECT_TRUE(up & 0x40) << "clock high";
        EXPECT_FALSE(down & 0x40) << "clock low";
        clocked = static_cast<uint8_t>(clocked << 1 | (up >> 5 & 1));
    }
    EXPECT_EQ(clocked, 0xAC);
    EXPECT_EQ(BitsValue(link.ReceivedBits), 0xA5);
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "rdata"), 0) << "never a read-back";
}

TEST_F(PpdevTest, EveryFailedStepOfTheClaimIsAnError)
{
    const struct {
        const char* name;
        int FakeParport::*step;
        int err;
        const char* says;
    } cases[] = {
        {"exclusive", &FakeParport::exclErrno, EBUSY, "cannot get /dev/parport1 for this program alone: Device or resource busy"},
        {"claim", &FakeParport::claimErrno, ENXIO, "cannot claim /dev/parport1: No such device or address"},
        {"direction", &FakeParport::dataDirErrno, EINVAL,
         "cannot set the data lines of /dev/parport1 to output: Invalid argument"},
        {"shadow", &FakeParport::readDataErrno, EIO, "cannot read the data register of /dev/parport1: Input/output error"},
    };
    for (const auto& c : cases) {
        auto fake = std::make_unique<FakeSystem>();
        FakeSystem& s = *fake;
        s.ports["parport1"].baseAddr = "888\n";
        s.ports["parport1"].*c.step = c.err;
        PpdevPort p(std::move(fake));
        EXPECT_FALSE(p.IsDriverInstalled()) << c.name;
        EXPECT_NE(p.LastError().find(c.says), std::string::npos) << c.name << ": " << p.LastError();
        EXPECT_EQ(s.log.back(), "close") << c.name;
        EXPECT_FALSE(s.ports["parport1"].claimed) << c.name << ": released";
        // Nothing reaches the port afterwards, and the inputs read 0.
        const long calls = s.ioctls;
        p.SetPortBit(0x378, 4);
        EXPECT_FALSE(p.GetPortBit(0x379, 4));
        EXPECT_EQ(s.ioctls, calls) << c.name;
    }
}

TEST_F(PpdevTest, ARegisterThatFailsWhileDrivingIsReportedAndThePortGivenUp)
{
    ASSERT_TRUE(port->IsDriverInstalled());
    sys->ports["parport1"].writeDataErrno = EIO;
    ::testing::internal::CaptureStderr();
    port->SetPortBit(0x378, 4);
    const std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find("LPT1: cannot write the data register: Input/output error"), std::string::npos) << said;
    EXPECT_NE(port->LastError().find("cannot write the data register"), std::string::npos);
    EXPECT_EQ(std::vector<std::string>(sys->log.end() - 2, sys->log.end()),
              (std::vector<std::string>{"release", "close"}));
    // The sense reads 0 from now on, so every transfer is refused.
    const long calls = sys->ioctls;
    EXPECT_FALSE(port->GetPortBit(0x379, 4));
    EXPECT_EQ(sys->ioctls, calls);
    // LPT2 goes on working.
    sys->ports["parport0"].status = 0x10;
    EXPECT_TRUE(port->GetPortBit(0x279, 4));

    // A status read that fails likewise.
    sys->ports["parport0"].readStatusErrno = EIO;
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(port->GetPortBit(0x279, 4));
    EXPECT_NE(::testing::internal::GetCapturedStderr().find("LPT2: cannot read the status register"),
              std::string::npos);
}

// What the program says when no port can be used.
struct Diagnosis {
    const char* name;
    std::function<void(FakeSystem&)> arrange;
    std::vector<std::string> lines; // the whole text, line by line
};

class PpdevDiagnosisTest : public ::testing::TestWithParam<Diagnosis> {};

TEST_P(PpdevDiagnosisTest, NamesTheReasonAndTheRemedy)
{
    auto fake = std::make_unique<FakeSystem>();
    GetParam().arrange(*fake);
    PpdevPort p(std::move(fake));
    EXPECT_FALSE(p.IsDriverInstalled());
    std::vector<std::string> lines;
    std::istringstream text(p.DriverDiagnosis());
    for (std::string line; std::getline(text, line);)
        lines.push_back(line);
    EXPECT_EQ(lines, GetParam().lines);
}

INSTANTIATE_TEST_SUITE_P(
    Ports, PpdevDiagnosisTest,
    ::testing::Values(
        Diagnosis{"NoPortAtAll", [](FakeSystem&) {},
                  {"No parallel port at 0x378 (LPT1) or 0x278 (LPT2). The kernel lists no parallel port at all "
                   "(no /dev/parport*).",
                   "Load the parallel port drivers: sudo modprobe parport_pc ppdev"}},
        Diagnosis{"OnlyACardElsewhere",
                  [](FakeSystem& s) {
                      s.ports["parport0"].baseAddr = "956\t-1\n";
                      s.ports["parport1"].baseAddr = "53248\n";
                  },
                  {"No parallel port at 0x378 (LPT1) or 0x278 (LPT2). Ports found: parport0 at 0x3BC, parport1 at "
                   "0xD000.",
                   "Load the parallel port drivers: sudo modprobe parport_pc ppdev"}},
        Diagnosis{"PpdevNotLoaded",
                  [](FakeSystem& s) {
                      s.ports["parport0"].baseAddr = "888\n";
                      s.ports["parport0"].deviceNode = false;
                  },
                  {"LPT1 (0x378): cannot open /dev/parport0: No such file or directory. The ppdev driver is not "
                   "loaded.",
                   "Load the parallel port drivers: sudo modprobe parport_pc ppdev"}},
        Diagnosis{"PermissionDenied",
                  [](FakeSystem& s) {
                      s.ports["parport0"].baseAddr = "888\n";
                      s.ports["parport0"].openErrno = EACCES;
                  },
                  {"LPT1 (0x378): cannot open /dev/parport0: Permission denied.",
                   "Join the group lp, which owns /dev/parport*: sudo usermod -aG lp $USER, then log out and in "
                   "again."}},
        Diagnosis{"HeldByThePrinterDriver",
                  [](FakeSystem& s) {
                      s.ports["parport0"].baseAddr = "888\n";
                      s.ports["parport1"].baseAddr = "632\n";
                      s.ports["parport0"].claimErrno = ENXIO;
                      s.ports["parport1"].exclErrno = EBUSY;
                  },
                  {"LPT1 (0x378): cannot claim /dev/parport0: No such device or address. The printer driver lp or "
                   "another program holds the port.",
                   "LPT2 (0x278): cannot get /dev/parport1 for this program alone: Device or resource busy. The "
                   "printer driver lp or another program holds the port.",
                   "Unload the printer driver (sudo rmmod lp) or end the other program."}}),
    [](const ::testing::TestParamInfo<Diagnosis>& info) { return std::string(info.param.name); });

TEST_F(PpdevTest, NothingToSayWhenAPortWorks)
{
    sys->ports["parport0"].openErrno = EACCES; // LPT2 cannot be used, LPT1 can
    EXPECT_EQ(port->DriverDiagnosis(), "");
    EXPECT_TRUE(port->IsDriverInstalled());
}

TEST_F(PpdevTest, TheChosenPortSaysWhyItCannotBeUsedAndWhatToDo)
{
    sys->ports["parport0"].openErrno = EACCES;
    EXPECT_EQ(port->Unusable(0x378), "");
    EXPECT_EQ(port->Unusable(0x278), "cannot open /dev/parport0: Permission denied\n"
                                     "Join the group lp, which owns /dev/parport*: sudo usermod -aG lp $USER, then "
                                     "log out and in again.");

    // A machine with one port, made to fail as `arrange` says.
    auto unusable = [](uint16_t base, const std::function<void(FakeParport&)>& arrange) {
        auto fake = std::make_unique<FakeSystem>();
        fake->ports["parport0"].baseAddr = std::to_string(base) + "\n";
        arrange(fake->ports["parport0"]);
        return PpdevPort(std::move(fake)).Unusable(base);
    };
    EXPECT_EQ(unusable(0x378, [](FakeParport& p) { p.claimErrno = EBUSY; }),
              "cannot claim /dev/parport0: Device or resource busy. The printer driver lp or another program holds "
              "the port.\nUnload the printer driver (sudo rmmod lp) or end the other program.");
    EXPECT_EQ(unusable(0x278, [](FakeParport& p) { p.dataDirErrno = EIO; }),
              "cannot set the data lines of /dev/parport0 to output: Input/output error");

    EXPECT_EQ(PpdevPort(std::make_unique<FakeSystem>()).Unusable(0x278),
              "no parallel port at address 0x278. The kernel lists no parallel port at all (no /dev/parport*).\n"
              "Load the parallel port drivers: sudo modprobe parport_pc ppdev");
}

TEST_F(PpdevTest, TheSignalSafeWriteIsOneDataWriteFromTheCopyOfTheRegister)
{
    sys->ports["parport1"].data = 0x0F;
    port->SetPortBit(0x378, 4); // 0x1F
    const size_t before = sys->log.size();
    port->SignalSafeWrite(0x378, 0x88, 0x10);
    EXPECT_EQ(std::vector<std::string>(sys->log.begin() + long(before), sys->log.end()),
              std::vector<std::string>{"wdata 143"});
    EXPECT_EQ(sys->ports["parport1"].data, 0x8F);

    // A port not in use is not opened for it, nor is any other address.
    port->SignalSafeWrite(0x278, 0x88, 0x10);
    port->SignalSafeWrite(0x379, 0x88, 0x10);
    EXPECT_EQ(sys->log.size(), before + 1);
}

TEST(PortSelection, AcceptsPpdevAndNamesTheFormsForAnythingElse)
{
    std::string error;
    EXPECT_NE(dynamic_cast<PpdevPort*>(OpenPortAccess("ppdev", error).get()), nullptr);
    EXPECT_NE(dynamic_cast<PpdevPort*>(OpenPortAccess("", error).get()), nullptr);
    EXPECT_EQ(OpenPortAccess("lpt1", error), nullptr);
    EXPECT_NE(error.find("\"lpt1\""), std::string::npos) << error;
    EXPECT_NE(error.find("ppdev"), std::string::npos) << error;
    EXPECT_NE(error.find("sim:DEVICE"), std::string::npos) << error;
}

} // namespace
} // namespace qvx
