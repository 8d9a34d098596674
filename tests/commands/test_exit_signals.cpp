// Real signals sent to this process with the programs' handlers installed:
// a stop signal stops the watched command at its next byte and is reported
// through the pipe; a second one, or a crash, drops RST through the port's
// one async-signal-safe write and the process dies by the signal (tried in a
// child process).
#include "CommandLayer.h"
#include "ExitSignals.h"
#include "FakePpdev.h"
#include "Mode.h"

#include <cstdlib>
#include <iterator>

#include <poll.h>
#include <sys/mman.h>
#include <sys/wait.h>

namespace qvx {
namespace {

bool Readable(int fd)
{
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, 0) == 1 && (p.revents & POLLIN);
}

std::string ReadText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

using ExitSignalsTest = CommandLayerTest;

TEST_F(ExitSignalsTest, AStopSignalStopsTheWatchedCommandAtItsNextByte)
{
    Open("AT89S8252,timing=instant");
    for (int32_t a = 0; a <= 0x1FFF; ++a)
        Put(a, uint8_t(a));
    ExitSignals exitSignals;
    WatchedLink watched(link);
    EXPECT_EQ(exitSignals.Received(), 0);
    EXPECT_EQ(exitSignals.ExitStatus(1), 1);
    EXPECT_FALSE(Readable(exitSignals.Descriptor()));

    view.onProgress = [&](int32_t position) {
        if (position == 50)
            ::raise(SIGTERM);
    };
    EXPECT_EQ(commands.Program(), Outcome::ChipFailed);
    EXPECT_EQ(view.statuses, (std::vector<std::string>{"Programming...", kCommandStopped}));
    EXPECT_EQ(Chip().CodeByte(0x0FFE), 0xFE);
    EXPECT_EQ(Chip().CodeByte(0x1FFF), 0xFF);
    EXPECT_EQ(exitSignals.Received(), SIGTERM);
    EXPECT_EQ(exitSignals.ExitStatus(0), 128 + SIGTERM);
    EXPECT_EQ(EndingOnSignal(SIGTERM), "Ending on SIGTERM");
    EXPECT_TRUE(Readable(exitSignals.Descriptor())) << "the event loop is woken";
    exitSignals.Drain();
    EXPECT_FALSE(Readable(exitSignals.Descriptor()));
}

TEST_F(ExitSignalsTest, ASignalBeforeTheLinkIsWatchedStopsItsFirstCommand)
{
    Open("AT89S52,timing=instant");
    ExitSignals exitSignals;
    ::raise(SIGHUP); // while the window is still being created
    EXPECT_FALSE(link.StopRequested);
    {
        WatchedLink watched(link);
        EXPECT_TRUE(link.StopRequested);
    }
    EXPECT_EQ(commands.Erase(), Outcome::ChipFailed);
    EXPECT_EQ(view.statuses.back(), kCommandStopped);
    EXPECT_EQ(Chip().Counters().instructions, 0u);
    EXPECT_EQ(exitSignals.ExitStatus(0), 128 + SIGHUP);
}

TEST(ExitSignals, AStopSignalIgnoredAtStartStaysIgnored)
{
    struct sigaction ignore {}, before {};
    ignore.sa_handler = SIG_IGN;
    ASSERT_EQ(::sigaction(SIGHUP, &ignore, &before), 0);
    {
        ExitSignals exitSignals;
        ::raise(SIGHUP); // nohup: the terminal's hangup is none of the program's business
        EXPECT_EQ(exitSignals.Received(), 0);
        EXPECT_EQ(exitSignals.ExitStatus(0), 0);
    }
    ::sigaction(SIGHUP, &before, nullptr);
}

volatile std::sig_atomic_t gOwnHandlerRan = 0;

TEST(ExitSignals, TheHandlersFoundAreThereAgainAfterwards)
{
    struct sigaction own {}, before {};
    own.sa_handler = [](int) { gOwnHandlerRan = 1; };
    ASSERT_EQ(::sigaction(SIGTERM, &own, &before), 0);
    struct sigaction segvBefore {};
    ::sigaction(SIGSEGV, nullptr, &segvBefore);
    {
        ExitSignals exitSignals;
        EXPECT_EQ(ExitSignals::Current(), &exitSignals);
        struct sigaction now {};
        ::sigaction(SIGSEGV, nullptr, &now);
        EXPECT_NE(now.sa_sigaction, segvBefore.sa_sigaction);
    }
    EXPECT_EQ(ExitSignals::Current(), nullptr);
    struct sigaction segvAfter {};
    ::sigaction(SIGSEGV, nullptr, &segvAfter);
    EXPECT_EQ(segvAfter.sa_sigaction, segvBefore.sa_sigaction);
    ::raise(SIGTERM);
    EXPECT_EQ(gOwnHandlerRan, 1);
    ::sigaction(SIGTERM, &before, nullptr);
}

// Runs `body` in a child process and returns how it ended: the signal that
// killed it, or 1000 + its exit status.
template <class Body>
int InChild(Body body)
{
    const pid_t child = ::fork();
    if (child == 0) {
        // Without the sanitizers' own fault handlers, as the program runs
        // for a user; ours must then find the default action before them.
        for (int signo : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGTERM})
            ::signal(signo, SIG_DFL);
        body();
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFSIGNALED(status) ? WTERMSIG(status) : 1000 + WEXITSTATUS(status);
}

TEST_F(ExitSignalsTest, ASecondStopSignalEndsAtOnceWithTheRunModeLines)
{
    const std::string lines = (std::filesystem::temp_directory_path() /
                               ("qvx-lines-" + std::to_string(::getpid()) + ".txt"))
                                  .string();
    const int ended = InChild([&] {
        Open("AT89S52,timing=instant,lines=" + lines);
        ExitSignals exitSignals;
        WatchedLink watched(link);
        SetProgramModeLines(link);
        ::raise(SIGINT); // the first: noted, the command would stop
        if (!link.StopRequested)
            ::_exit(3);
        ::raise(SIGINT); // the second: out now
        ::_exit(4);
    });
    EXPECT_EQ(ended, SIGINT);
    EXPECT_EQ(ReadText(lines), "RST=0 D3=1 D7=1\n");
    std::filesystem::remove(lines);
}

// The ppdev system calls in memory, with each data register write also sent
// down a pipe, so that the parent sees what a dying child wrote.
class TappedPpdev : public test::FakePpdevSystem {
public:
    explicit TappedPpdev(int tap) : tap_(tap) {}
    int Ioctl(int fd, unsigned long request, void* arg) override
    {
        if (request == PPWDATA)
            [[maybe_unused]] const ssize_t n = ::write(tap_, arg, 1);
        return FakePpdevSystem::Ioctl(fd, request, arg);
    }

private:
    int tap_;
};

struct Crash {
    const char* name;
    int signo;
    void (*cause)();
};

class CrashTest : public ::testing::TestWithParam<Crash> {};

TEST_P(CrashTest, DropsRstThroughOneWriteAndDiesByTheSignal)
{
    int tap[2];
    ASSERT_EQ(::pipe(tap), 0);
    const int ended = InChild([&] {
        ::close(tap[0]);
        auto system = std::make_unique<TappedPpdev>(tap[1]);
        system->ports["parport0"].baseAddr = "888\n";
        system->ports["parport0"].data = 0x20;
        PpdevPort port(std::move(system));
        LinkState link;
        link.Port = &port;
        ExitSignals exitSignals;
        WatchedLink watched(link);
        SetProgramModeLines(link); // RST high, run-mode lines low: 0x30
        GetParam().cause();
        ::_exit(5);
    });
    ::close(tap[1]);
    std::string written;
    char byte;
    while (::read(tap[0], &byte, 1) == 1)
        written += byte;
    ::close(tap[0]);
    EXPECT_EQ(ended, GetParam().signo);
    // The program-mode lines, then the run-mode lines from the copy of the
    // register in one write.
    ASSERT_GE(written.size(), 2u);
    EXPECT_EQ(uint8_t(written[written.size() - 2]), 0x30);
    EXPECT_EQ(uint8_t(written.back()), 0xA8);
}

INSTANTIATE_TEST_SUITE_P(
    ExitSignals, CrashTest,
    ::testing::Values(Crash{"SegmentationFault", SIGSEGV,
                            [] {
                                // A store to a page that allows none.
                                void* page = ::mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
                                *static_cast<volatile int*>(page) = 1;
                            }},
                      Crash{"Abort", SIGABRT, [] { std::abort(); }},
                      Crash{"BusError", SIGBUS, [] { ::raise(SIGBUS); }},
                      Crash{"ArithmeticError", SIGFPE, [] { ::raise(SIGFPE); }},
                      Crash{"IllegalInstruction", SIGILL, [] { ::raise(SIGILL); }}),
    [](const ::testing::TestParamInfo<Crash>& info) { return std::string(info.param.name); });

} // namespace
} // namespace qvx
