// The first activation on the real parallel-port backend, its system calls
// replaced: when no port can be used, the first-run message says why and
// what to do, and the program closes.
#include "FakePpdev.h"
#include "WindowFixture.h"

#include <QLineEdit>
#include <QTest>

namespace qvx::test {
namespace {

const QString kFirstRun = QStringLiteral("First Time setup for driver installation\rTry to RUN program again");

struct Situation {
    const char* name;
    std::function<void(FakePpdevSystem&)> arrange;
    QString below; // what follows the first-run text and a blank line
};

class PortDiagnosisTest : public WindowTest, public ::testing::WithParamInterface<Situation> {
protected:
    // Opens the window on a ppdev backend over `fake`, shows it, and waits
    // until the activation check has closed it.
    TfrmMain& StartAndWaitForTheClose(std::unique_ptr<FakePpdevSystem> fake)
    {
        ppdev = std::make_unique<PpdevPort>(std::move(fake));
        TfrmMain& w = Open(*ppdev);
        w.show();
        EXPECT_TRUE(QTest::qWaitFor([&] { return !w.isVisible(); }, 5000));
        return w;
    }
    std::unique_ptr<PpdevPort> ppdev;
};

TEST_P(PortDiagnosisTest, SaysWhyAndWhatToDo)
{
    auto fake = std::make_unique<FakePpdevSystem>();
    GetParam().arrange(*fake);
    TfrmMain& w = StartAndWaitForTheClose(std::move(fake));
    ASSERT_EQ(messages.size(), 1);
    EXPECT_EQ(messages[0], kFirstRun + QStringLiteral("\n\n") + GetParam().below + FirstRunAdvice());
    EXPECT_TRUE(messages[0].startsWith(kFirstRun + QLatin1Char('\n'))) << "the first lines stay as they were";
    EXPECT_EQ(w.edtStatus->text(), QStringLiteral("RUN MODE."));
}

INSTANTIATE_TEST_SUITE_P(
    Ppdev, PortDiagnosisTest,
    ::testing::Values(
        Situation{"NoParallelPort", [](FakePpdevSystem&) {},
                  QStringLiteral("No parallel port at 0x378 (LPT1) or 0x278 (LPT2). The kernel lists no parallel "
                                 "port at all (no /dev/parport*).\n"
                                 "Load the parallel port drivers: sudo modprobe parport_pc ppdev")},
        Situation{"OnlyAnAddInCard",
                  [](FakePpdevSystem& s) { s.ports["parport0"].baseAddr = "49152\t49160\n"; },
                  QStringLiteral("No parallel port at 0x378 (LPT1) or 0x278 (LPT2). Ports found: parport0 at "
                                 "0xC000.\n"
                                 "Load the parallel port drivers: sudo modprobe parport_pc ppdev")},
        Situation{"NotInTheGroupLp",
                  [](FakePpdevSystem& s) {
                      s.ports["parport0"].baseAddr = "888\t1912\n";
                      s.ports["parport0"].openErrno = EACCES;
                  },
                  QStringLiteral("LPT1 (0x378): cannot open /dev/parport0: Permission denied.\n"
                                 "Join the group lp, which owns /dev/parport*: sudo usermod -aG lp $USER, then log "
                                 "out and in again.")},
        Situation{"HeldByThePrinterDriver",
                  [](FakePpdevSystem& s) {
                      s.ports["parport0"].baseAddr = "888\t1912\n";
                      s.ports["parport0"].claimErrno = EBUSY;
                  },
                  QStringLiteral("LPT1 (0x378): cannot claim /dev/parport0: Device or resource busy. The printer "
                                 "driver lp or another program holds the port.\n"
                                 "Unload the printer driver (sudo rmmod lp) or end the other program.")}),
    [](const ::testing::TestParamInfo<Situation>& info) { return std::string(info.param.name); });

TEST_F(PortDiagnosisTest, AUsablePortStartsQuietlyAndCarriesTheLines)
{
    auto fake = std::make_unique<FakePpdevSystem>();
    FakePpdevSystem& sys = *fake;
    sys.ports["parport0"].baseAddr = "888\t1912\n";
    sys.ports["parport0"].data = 0xFF; // as the port was left
    ppdev = std::make_unique<PpdevPort>(std::move(fake));
    TfrmMain& w = Open(*ppdev);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    QCoreApplication::processEvents();
    EXPECT_TRUE(messages.isEmpty()) << messages.join('|').toStdString();
    EXPECT_TRUE(w.isVisible());
    // Program mode on the register: RST set, run-mode lines 3 and 7 cleared.
    EXPECT_EQ(sys.ports["parport0"].data, 0x77);
    w.close();
    EXPECT_EQ(sys.ports["parport0"].data & 0x98, 0x88) << "run mode at exit";
}

} // namespace
} // namespace qvx::test
