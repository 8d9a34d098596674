// Start-up and shut-down of the main window, against a recording port.
#include "ABOUT_QVX.h"
#include "WindowFixture.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>

namespace qvx::test {
namespace {

using Op = RecordingPort::Op;
using Call = RecordingPort::Call;

const std::vector<Call> kProgramModeLines = {
    {Op::Set, 0x378, 4, false}, {Op::Clr, 0x378, 7, false}, {Op::Clr, 0x378, 3, false}};

std::vector<Call> RunModeLines(uint16_t port)
{
    return {{Op::Clr, port, 4, false}, {Op::Set, port, 7, false}, {Op::Set, port, 3, false}};
}

int DriverChecks(const RecordingPort& port)
{
    return int(std::count_if(port.calls.begin(), port.calls.end(),
                             [](const Call& c) { return c.op == Op::Driver; }));
}

// The nine chip controls and "WR".
std::vector<bool> ChipControlsEnabled(const TfrmMain& w)
{
    return {w.btnLoadFile->isEnabled(), w.btnErase->isEnabled(),   w.btnBlank->isEnabled(),
            w.btnProgram->isEnabled(),  w.btnVerify->isEnabled(),  w.btnAuto->isEnabled(),
            w.SpeedButton1->isEnabled(), w.ReadChip1->isEnabled(), w.btnReadChip->isEnabled(),
            w.btnFuse_Write->isEnabled()};
}

class StartupTest : public WindowTest {};

TEST_F(StartupTest, CreationLeavesTheDesignedStartingState)
{
    TfrmMain& w = Open();
    EXPECT_TRUE(messages.isEmpty()) << messages.join('|').toStdString();

    // The port: LPT1, program-mode lines and nothing else; no driver check
    // before the window is shown.
    EXPECT_EQ(port.calls, kProgramModeLines);
    EXPECT_EQ(w.Link().DataPort, 0x378);
    EXPECT_EQ(w.Link().StatusPort, 0x379);
    EXPECT_EQ(w.Link().ProgramMode, -1);
    EXPECT_EQ(port.Register(0x378), 0x10);

    // The configuration: factor 1000, clock delay 5; the calibration counted
    // the 4999 clock reads that repeat the second after the first change.
    EXPECT_EQ(w.Link().TimingFactor, 1000);
    EXPECT_EQ(w.Link().ClockDelay, 5);
    EXPECT_EQ(w.Link().WaitUnits, 4999);

    // Buffer and grid.
    EXPECT_TRUE(BufferCleared());
    EXPECT_TRUE(GridCleared());
    const CodeBuffer& b = w.Buffer();
    EXPECT_EQ(std::string({b.AddrDigit1, b.AddrDigit2, b.AddrDigit3, b.AddrDigit4}), "0000");

    // Selection.
    EXPECT_EQ(w.Chosen().DeviceCode, 3);
    EXPECT_EQ(w.Chosen().Locks.LockLevel, 0);
    EXPECT_TRUE(w.Chosen().HexFileName.empty());

    // Controls.
    EXPECT_EQ(w.edtStatus->text(), QStringLiteral("PROGRAM MODE."));
    EXPECT_TRUE(w.edtFileName->text().isEmpty());
    EXPECT_EQ(ChipControlsEnabled(w),
              (std::vector<bool>{true, true, true, true, true, true, true, true, true, false}));
    EXPECT_FALSE(w.chk_x2Clock->isEnabled());
    EXPECT_FALSE(w.chk_x2Clock->isChecked());
    for (int n = 1; n <= 3; ++n) {
        EXPECT_FALSE(w.LockCheckBox(n)->isChecked());
        EXPECT_TRUE(w.LockCheckBox(n)->isEnabled());
    }
    EXPECT_TRUE(w.cmbDevice->isEnabled());
    EXPECT_TRUE(w.btnMode->isEnabled());
    EXPECT_TRUE(w.Load1->isEnabled());
    EXPECT_EQ(w.ProgressBar1->value(), 0);
}

TEST_F(StartupTest, MissingConfigurationIsReportedAndStartUpGoesOn)
{
    std::filesystem::remove(Dir() + "/CONFIG.QVX");
    TfrmMain& w = Open();
    ASSERT_EQ(messages.size(), 1);
    // Every place looked at, in the order of the search.
    EXPECT_EQ(messages[0].toStdString(), "Cannot find the configuration file CONFIG.QVX. Looked for:\n" + Dir() +
                                             "/CONFIG.QVX\n" + Dir() + "/config/qvx-isp/CONFIG.QVX\n" + Dir() +
                                             "/share/CONFIG.QVX");
    EXPECT_EQ(w.Link().TimingFactor, 0);
    EXPECT_EQ(w.Link().ClockDelay, 0);
    EXPECT_EQ(w.Link().WaitUnits, 0);
    // The rest of the creation still ran.
    EXPECT_EQ(port.calls, kProgramModeLines);
    EXPECT_TRUE(GridCleared());
    EXPECT_EQ(w.Chosen().DeviceCode, 3);
    EXPECT_FALSE(w.btnFuse_Write->isEnabled());
}

// The working directory's CONFIG.QVX first, then the user's, then the
// installed copy: the values show which one was read.
TEST_F(StartupTest, ConfigurationIsReadFromTheFirstPlaceThatHasIt)
{
    std::filesystem::remove(Dir() + "/CONFIG.QVX");
    WriteFile("share/CONFIG.QVX", "installed\n[0018]\n[3000]\n");
    EXPECT_EQ(Open().Link().TimingFactor, 24);
    EXPECT_EQ(window->Link().ClockDelay, 0x3000);

    WriteFile("config/qvx-isp/CONFIG.QVX", "the user's\n[01F4]\n[0002]\n");
    EXPECT_EQ(Open().Link().TimingFactor, 500);
    EXPECT_EQ(window->Link().ClockDelay, 2);

    WriteFile("CONFIG.QVX", "the working directory's\n[03E8]\n[0005]\n");
    EXPECT_EQ(Open().Link().TimingFactor, 1000);
    EXPECT_EQ(window->Link().ClockDelay, 5);
    EXPECT_TRUE(messages.isEmpty()) << messages.join('|').toStdString();

    // The calibration used the factor of the file read.
    EXPECT_EQ(window->Link().WaitUnits, 4999);
}

// A file that is there but cannot be read is reported with its path; the
// search does not go on to the next place.
TEST_F(StartupTest, UnreadableConfigurationIsReportedNotSkipped)
{
    std::filesystem::remove(Dir() + "/CONFIG.QVX");
    std::filesystem::create_directories(Dir() + "/config/qvx-isp/CONFIG.QVX");
    WriteFile("share/CONFIG.QVX", "[03E8][0005]");
    TfrmMain& w = Open();
    ASSERT_EQ(messages.size(), 1);
    EXPECT_EQ(messages[0].toStdString(),
              "Cannot read the configuration file " + Dir() + "/config/qvx-isp/CONFIG.QVX: Is a directory");
    EXPECT_EQ(w.Link().TimingFactor, 0);
    EXPECT_EQ(w.Link().ClockDelay, 0);
}

TEST_F(StartupTest, WithTheDriverTheFirstActivationDoesNothingMore)
{
    TfrmMain& w = Open();
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    QCoreApplication::processEvents();
    EXPECT_EQ(DriverChecks(port), 1);
    EXPECT_TRUE(messages.isEmpty());
    EXPECT_TRUE(w.isVisible());
    EXPECT_EQ(w.edtStatus->text(), QStringLiteral("PROGRAM MODE."));
}

TEST_F(StartupTest, WithoutTheDriverTheProgramSaysSoOnceAndCloses)
{
    port.driverInstalled = false;
    TfrmMain& w = Open();
    w.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !w.isVisible(); }, 5000));
    ASSERT_EQ(messages.size(), 1);
    EXPECT_EQ(messages[0],
              QStringLiteral("First Time setup for driver installation\rTry to RUN program again") + FirstRunAdvice());
    EXPECT_EQ(DriverChecks(port), 1);
    // The close left the target running: run-mode lines on LPT1.
    const std::vector<Call> tail(port.calls.end() - 3, port.calls.end());
    EXPECT_EQ(tail, RunModeLines(0x378));
    EXPECT_EQ(port.Register(0x378) & 0x98, 0x88);
    EXPECT_EQ(w.edtStatus->text(), QStringLiteral("RUN MODE."));
}

TEST_F(StartupTest, CloseBoxLeavesTheRunModeLines)
{
    TfrmMain& w = Open();
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    port.calls.clear();
    EXPECT_TRUE(w.close());
    EXPECT_EQ(port.calls, RunModeLines(0x378));
    EXPECT_EQ(port.Register(0x378), 0x88); // bit 4 clear, bits 7 and 3 set
    EXPECT_EQ(w.Link().ProgramMode, 0);
    EXPECT_EQ(w.edtStatus->text(), QStringLiteral("RUN MODE."));
    EXPECT_EQ(ChipControlsEnabled(w), std::vector<bool>(10, false));
    EXPECT_FALSE(w.isVisible());
}

TEST_F(StartupTest, ExitWritesTheRunModeLinesThenClosesWhichWritesThemAgain)
{
    TfrmMain& w = Open();
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    port.calls.clear();
    w.Exit2->trigger();
    std::vector<Call> twice = RunModeLines(0x378);
    const std::vector<Call> again = RunModeLines(0x378);
    twice.insert(twice.end(), again.begin(), again.end());
    EXPECT_EQ(port.calls, twice);
    EXPECT_FALSE(w.isVisible());
    EXPECT_EQ(w.edtStatus->text(), QStringLiteral("RUN MODE."));
}

TEST_F(StartupTest, ExitDrivesTheSelectedPort)
{
    TfrmMain& w = Open();
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    w.Link().DataPort = 0x278; // LPT2 chosen
    w.Link().StatusPort = 0x279;
    port.calls.clear();
    w.Exit2->trigger();
    for (const Call& c : port.calls)
        EXPECT_EQ(c.port, 0x278);
    EXPECT_EQ(port.Register(0x278), 0x88);
    EXPECT_EQ(port.Register(0x378), 0x10); // LPT1 keeps the program-mode lines of the start
}

// Counts the activations of a window.
struct ActivationCounter : QObject {
    int count = 0;
    bool eventFilter(QObject*, QEvent* event) override
    {
        count += event->type() == QEvent::WindowActivate;
        return false;
    }
};

TEST_F(StartupTest, ClosingTheAboutWindowRunsNoSecondDriverCheck)
{
    TfrmMain& w = Open();
    TfrmAboutQvx about(&w);
    w.SetAboutWindow(&about);
    ActivationCounter activations;
    w.installEventFilter(&activations);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    bool aboutActive = false;
    QTimer::singleShot(0, &about, [&] {
        aboutActive = QTest::qWaitForWindowActive(&about, 2000);
        about.btnOk->click();
    });
    w.About1->trigger();
    EXPECT_TRUE(aboutActive);
    // The focus comes back to the main window: a new activation, no new check.
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w, 2000));
    QCoreApplication::processEvents();
    EXPECT_GE(activations.count, 2);
    EXPECT_EQ(DriverChecks(port), 1);
    EXPECT_TRUE(messages.isEmpty());
    w.removeEventFilter(&activations);
}

TEST(ApplicationTitle, HasOneBlankWhereTheCaptionHasTwo)
{
    const QString before = QCoreApplication::applicationName();
    SetApplicationTitle();
    EXPECT_EQ(QCoreApplication::applicationName(), QStringLiteral("QVX-ISP V2.2"));
    EXPECT_STREQ(kMainCaption, "QVX-ISP  V2.2");
    QCoreApplication::setApplicationName(before);
}

} // namespace
} // namespace qvx::test
