// Real stop signals sent to this process while the window runs, with the
// program's handlers and the notifier installed as main installs them: idle,
// in the middle of a command, and while a modal box, the file dialog or the
// about window holds a nested event loop.
#include "ABOUT_QVX.h"
#include "CommandFixture.h"
#include "ExitSignalNotifier.h"
#include "StoppedImage.h"

#include <QAction>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QMessageBox>
#include <QTimer>

#include <csignal>
#include <fstream>
#include <iterator>

namespace qvx::test {
namespace {

// The simulated cable, which sends this process a signal once it has been
// accessed `at` times (0: never).
class SignalAfter : public PortAccess {
public:
    explicit SignalAfter(SimPort& sim) : sim_(sim) {}
    void SetPortBit(uint16_t port, uint8_t bit) override
    {
        Count();
        sim_.SetPortBit(port, bit);
    }
    void ClrPortBit(uint16_t port, uint8_t bit) override
    {
        Count();
        sim_.ClrPortBit(port, bit);
    }
    bool GetPortBit(uint16_t port, uint8_t bit) override { return sim_.GetPortBit(port, bit); }
    bool IsDriverInstalled() override { return true; }
    std::chrono::nanoseconds Now() override { return sim_.Now(); }
    void WaitUntil(std::chrono::nanoseconds deadline) override { sim_.WaitUntil(deadline); }
    void SignalSafeWrite(uint16_t port, uint8_t set, uint8_t clear) noexcept override
    {
        sim_.SignalSafeWrite(port, set, clear);
    }

    uint64_t at = 0;
    int signo = SIGTERM;

private:
    void Count()
    {
        if (at != 0 && sim_.Accesses() >= at) {
            at = 0;
            ::raise(signo);
        }
    }
    SimPort& sim_;
};

class ExitSignalTest : public CommandTest {
protected:
    // The window on the simulated chip, followed by the notifier as main
    // has it follow the real window.
    void Start(const std::string& options)
    {
        OpenOn(options);
        notifier.Follow(*window);
        window->show();
    }
    void StartOnTheSwitch(const std::string& options)
    {
        std::string error;
        sim = MakeSimPort(options, error);
        ASSERT_NE(sim, nullptr) << error;
        kill = std::make_unique<SignalAfter>(*sim);
        Open(*kill);
        window->WindowHooks().Status = [this](const QString& text) { statuses.push_back(text.toStdString()); };
        notifier.Follow(*window);
        window->show();
    }
    // Lets the event loop run until the window has closed: false after five
    // seconds.
    bool Closes()
    {
        QElapsedTimer clock;
        clock.start();
        while (window->isVisible() && clock.elapsed() < 5000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        return !window->isVisible();
    }
    bool Stated(const std::string& text) const
    {
        return std::find(statuses.begin(), statuses.end(), text) != statuses.end();
    }

    bool AutoProgramUntil(int signo);
    void ExpectStoppedMidProgram(int signo);

    ExitSignals exitSignals;
    ExitSignalNotifier notifier{exitSignals};
    std::unique_ptr<SignalAfter> kill;
    std::vector<uint8_t> code; // what AutoProgramUntil programs
};

std::string SignalName(const ::testing::TestParamInfo<int>& info)
{
    return info.param == SIGINT ? "SIGINT" : info.param == SIGTERM ? "SIGTERM" : "SIGHUP";
}

class IdleSignal : public ExitSignalTest, public ::testing::WithParamInterface<int> {};

TEST_P(IdleSignal, EndsTheWindowAsExitDoes)
{
    Start("AT89S52,timing=instant");
    EXPECT_TRUE(ProgramLines());
    ::testing::internal::CaptureStderr();
    ::raise(GetParam());
    // A message wanted now is logged, not shown: nobody is there to close it.
    window->Message(QStringLiteral("Anyone there?"));
    EXPECT_TRUE(Closes());
    const std::string log = ::testing::internal::GetCapturedStderr();
    EXPECT_TRUE(messages.isEmpty());
    EXPECT_TRUE(RunLines());
    EXPECT_EQ(statuses.back(), "RUN MODE.");
    EXPECT_EQ(window->Link().ProgramMode, 0);
    EXPECT_NE(log.find("message: Anyone there?"), std::string::npos) << log;
    EXPECT_NE(log.find(EndingOnSignal(GetParam())), std::string::npos) << log;
    EXPECT_EQ(exitSignals.ExitStatus(0), 128 + GetParam());
}

INSTANTIATE_TEST_SUITE_P(Signals, IdleSignal, ::testing::Values(SIGINT, SIGTERM, SIGHUP), SignalName);

// AUTO-PROGRAM of 2 KB, lock level 2, with `signo` sent some way into the
// programming; true when the window closed.
bool ExitSignalTest::AutoProgramUntil(int signo)
{
    Choose("AT89S52");
    code.resize(0x800);
    for (size_t i = 0; i < code.size(); ++i)
        code[i] = uint8_t(i * 7 + 1);
    LoadHex(HexText({{0, code}}));
    SetLockLevel(2);
    kill->signo = signo;
    window->WindowHooks().Status = [this](const QString& text) {
        statuses.push_back(text.toStdString());
        if (text == QStringLiteral("Programming..."))
            kill->at = sim->Accesses() + 40000; // some way into the programming
    };
    window->btnAuto->click();
    return Closes();
}

// After AutoProgramUntil: the command stopped, nothing reported done that
// was not, the target left running; the chip holds the bytes written before
// the stop and nothing after them, no lock bit.
void ExitSignalTest::ExpectStoppedMidProgram(int signo)
{
    EXPECT_TRUE(Stated(kCommandStopped));
    EXPECT_TRUE(Stated("Auto programming fail"));
    EXPECT_FALSE(Stated("Program finished."));
    EXPECT_FALSE(Stated("Auto Programming finished."));
    EXPECT_EQ(statuses.back(), "RUN MODE.");
    EXPECT_TRUE(RunLines());
    EXPECT_TRUE(messages.isEmpty()) << messages.join(QLatin1Char('|')).toStdString();
    EXPECT_GT(ExpectProgrammedUpToAStop(sim->Chip().Code(), code), 0u);
    EXPECT_FALSE(sim->Chip().LockBit(1));
    EXPECT_EQ(exitSignals.ExitStatus(0), 128 + signo);
}

TEST_F(ExitSignalTest, DuringAutoProgramTheCommandStopsAtItsNextByteAndTheWindowEnds)
{
    StartOnTheSwitch("AT89S52,timing=instant");
    EXPECT_TRUE(AutoProgramUntil(SIGTERM));
    ExpectStoppedMidProgram(SIGTERM);
}

class MidCommandSignal : public ExitSignalTest, public ::testing::WithParamInterface<int> {};

TEST_P(MidCommandSignal, TheChipIsSavedAndTheCableShowsTheRunModeLines)
{
    // As the program ends after its window has closed: the window, then the
    // port, which saves the chip.
    const std::string state = Dir() + "/chip.bin", lines = Dir() + "/lines.txt";
    StartOnTheSwitch("AT89S52,timing=instant,state=" + state + ",lines=" + lines);
    EXPECT_TRUE(AutoProgramUntil(GetParam()));
    ExpectStoppedMidProgram(GetParam());
    const std::vector<uint8_t> held = sim->Chip().Code();
    window.reset();
    kill.reset();
    sim.reset();

    std::ifstream saved(state, std::ios::binary);
    const std::vector<uint8_t> image{std::istreambuf_iterator<char>(saved), {}};
    EXPECT_EQ(image, held);
    std::ifstream cable(lines);
    std::string shown;
    std::getline(cable, shown);
    EXPECT_EQ(shown, "RST=0 D3=1 D7=1");
    std::ifstream sidecar(state + ".txt");
    const std::string bits{std::istreambuf_iterator<char>(sidecar), {}};
    EXPECT_EQ(bits.find("LB1"), std::string::npos) << bits;
}

INSTANTIATE_TEST_SUITE_P(Signals, MidCommandSignal, ::testing::Values(SIGINT, SIGTERM, SIGHUP), SignalName);

// What holds a nested event loop when the signal comes.
enum class Nested { MessageBox, FileDialog, AboutWindow };

class NestedLoopSignal : public ExitSignalTest, public ::testing::WithParamInterface<Nested> {};

TEST_P(NestedLoopSignal, ClosesItAndEndsTheWindow)
{
    Start("AT89S8253,timing=instant");
    TfrmAboutQvx about(window.get());
    window->SetAboutWindow(&about);
    // The real modal message box and file dialog.
    window->WindowHooks().Message = [this](const QString& text) {
        messages << text;
        QMessageBox box(QMessageBox::NoIcon, QStringLiteral("QVX-ISP"), text, QMessageBox::Ok, window.get());
        box.exec();
    };
    if (GetParam() == Nested::FileDialog)
        window->WindowHooks().OpenFile = [this]() -> std::optional<QString> {
            if (window->OpenDialog1->exec() != QDialog::Accepted)
                return std::nullopt;
            return window->OpenDialog1->selectedFiles().value(0);
        };
    QTimer signal;
    signal.setSingleShot(true);
    QObject::connect(&signal, &QTimer::timeout, [] { ::raise(SIGTERM); });
    signal.start(100);
    // Should it not work, the test ends instead of waiting forever.
    bool rescued = false;
    QTimer rescue;
    rescue.setSingleShot(true);
    QObject::connect(&rescue, &QTimer::timeout, [&] {
        rescued = true;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* dialog = qobject_cast<QDialog*>(w); dialog && dialog->isVisible())
                dialog->reject();
    });
    rescue.start(8000);

    switch (GetParam()) {
    case Nested::MessageBox: LoadHex(":0300030002FFBF39\n", "bad.hex"); break; // its message box is open
    case Nested::FileDialog: window->btnLoadFile->click(); break;
    case Nested::AboutWindow: window->About1->trigger(); break;
    }
    EXPECT_TRUE(Closes());
    EXPECT_FALSE(rescued) << "the nested event loop held the program up";
    EXPECT_FALSE(about.isVisible());
    EXPECT_FALSE(window->OpenDialog1->isVisible());
    EXPECT_TRUE(RunLines());
    EXPECT_EQ(statuses.back(), "RUN MODE.");
    if (GetParam() == Nested::MessageBox) {
        EXPECT_EQ(messages.size(), 1);
        EXPECT_TRUE(Stated("Load file failed."));
    }
}

INSTANTIATE_TEST_SUITE_P(Windows, NestedLoopSignal,
                         ::testing::Values(Nested::MessageBox, Nested::FileDialog, Nested::AboutWindow),
                         [](const ::testing::TestParamInfo<Nested>& info) {
                             return std::string(info.param == Nested::MessageBox   ? "MessageBox"
                                                : info.param == Nested::FileDialog ? "FileDialog"
                                                                                   : "AboutWindow");
                         });

TEST_F(ExitSignalTest, ASignalWhileTheWindowIsCreatedEndsItOnceItRuns)
{
    ::raise(SIGHUP);
    Start("AT89S51,timing=instant");
    EXPECT_TRUE(window->Link().StopRequested);
    EXPECT_TRUE(Closes());
    EXPECT_TRUE(RunLines());
    // Nothing reached the chip.
    EXPECT_EQ(sim->Chip().Counters().instructions, 0u);
    EXPECT_EQ(exitSignals.ExitStatus(0), 128 + SIGHUP);
}

} // namespace
} // namespace qvx::test
