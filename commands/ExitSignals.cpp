#include "ExitSignals.h"
#include "Mode.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace qvx {

namespace {

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr int kCrashSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};

// What the handlers read. Set before a handler is installed, cleared after
// it is removed; the link pointer changes while they are installed.
ExitSignals* gCurrent = nullptr;
std::atomic<LinkState*> gLink{nullptr};
volatile std::sig_atomic_t gReceived = 0;
int gPipeWrite = -1;
struct sigaction gPrevious[NSIG];
bool gInstalled[NSIG];

// A stack for the crash handlers, so that a stack overflow still reaches
// them.
alignas(16) char gAltStack[64 * 1024];
bool gOwnAltStack = false;

static_assert(std::atomic<LinkState*>::is_always_lock_free, "the handlers read the link pointer");

// The run-mode lines on the watched link's port, async-signal-safe.
void ReleaseTarget()
{
    if (LinkState* link = gLink.load())
        SetRunModeLinesFromSignal(*link);
}

// The signal's action as it was before, and the signal sent again: a fault
// recurs by itself when the faulting instruction runs again, anything sent
// (kill, raise, abort) is raised again and delivered once the handler has
// returned.
void PassOn(int signo, const siginfo_t* info)
{
    struct sigaction previous = gPrevious[signo];
    if (previous.sa_handler == SIG_IGN)
        previous.sa_handler = SIG_DFL; // dying was the point
    ::sigaction(signo, &previous, nullptr);
    if (!info || info->si_code <= 0 || signo == SIGABRT)
        ::raise(signo);
}

void OnStop(int signo)
{
    const int savedErrno = errno;
    if (gReceived != 0) {
        // A second one: the user wants out now.
        ReleaseTarget();
        struct sigaction fallback {};
        fallback.sa_handler = SIG_DFL;
        ::sigaction(signo, &fallback, nullptr);
        ::raise(signo);
        errno = savedErrno;
        return;
    }
    gReceived = signo;
    if (LinkState* link = gLink.load())
        link->StopRequested = 1;
    const char byte = static_cast<char>(signo);
    [[maybe_unused]] const ssize_t written = ::write(gPipeWrite, &byte, 1);
    errno = savedErrno;
}

void OnCrash(int signo, siginfo_t* info, void*)
{
    const int savedErrno = errno;
    ReleaseTarget();
    PassOn(signo, info);
    errno = savedErrno;
}

} // namespace

ExitSignals::ExitSignals()
{
    if (gCurrent) {
        // Signal handlers belong to the whole process: a second set would
        // fight the first over them.
        std::abort();
    }
    if (::pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0)
        pipe_[0] = pipe_[1] = -1; // stop signals still stop; nothing wakes an event loop
    gPipeWrite = pipe_[1];
    gReceived = 0;
    gCurrent = this;

    stack_t current {};
    if (::sigaltstack(nullptr, &current) == 0 && (current.ss_flags & SS_DISABLE)) {
        stack_t own {};
        own.ss_sp = gAltStack;
        own.ss_size = sizeof gAltStack;
        gOwnAltStack = ::sigaltstack(&own, nullptr) == 0;
    }

    struct sigaction stop {};
    stop.sa_handler = OnStop;
    stop.sa_flags = SA_RESTART;
    sigemptyset(&stop.sa_mask);
    for (int signo : kStopSignals)
        sigaddset(&stop.sa_mask, signo);
    for (int signo : kStopSignals) {
        struct sigaction previous {};
        ::sigaction(signo, nullptr, &previous);
        if (previous.sa_handler == SIG_IGN)
            continue; // started under nohup or the like: leave it so
        gPrevious[signo] = previous;
        gInstalled[signo] = ::sigaction(signo, &stop, nullptr) == 0;
    }

    // A log written to a pipe whose reader has gone (`qvx-isp-cli ... | tee
    // log` and Ctrl-C, which ends tee as well) must not kill the program
    // before it has released the target: the write fails instead.
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    gInstalled[SIGPIPE] = ::sigaction(SIGPIPE, &ignore, &gPrevious[SIGPIPE]) == 0;

    struct sigaction crash {};
    crash.sa_sigaction = OnCrash;
    crash.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&crash.sa_mask);
    for (int signo : kCrashSignals)
        gInstalled[signo] = ::sigaction(signo, &crash, &gPrevious[signo]) == 0;
}

ExitSignals::~ExitSignals()
{
    for (int signo = 1; signo < NSIG; ++signo) {
        if (gInstalled[signo])
            ::sigaction(signo, &gPrevious[signo], nullptr);
        gInstalled[signo] = false;
    }
    if (gOwnAltStack) {
        stack_t off {};
        off.ss_flags = SS_DISABLE;
        ::sigaltstack(&off, nullptr);
        gOwnAltStack = false;
    }
    gLink = nullptr;
    gPipeWrite = -1;
    gCurrent = nullptr;
    for (int fd : pipe_)
        if (fd >= 0)
            ::close(fd);
}

ExitSignals* ExitSignals::Current() { return gCurrent; }

void ExitSignals::Drain()
{
    char bytes[64];
    for (;;) {
        const ssize_t n = pipe_[0] >= 0 ? ::read(pipe_[0], bytes, sizeof bytes) : 0;
        if (n <= 0 && !(n < 0 && errno == EINTR))
            return;
    }
}

int ExitSignals::Received() const { return gReceived; }

int ExitSignals::ExitStatus(int status) const { return gReceived ? 128 + gReceived : status; }

std::string EndingOnSignal(int signo)
{
    switch (signo) {
    case SIGINT: return "Ending on SIGINT";
    case SIGTERM: return "Ending on SIGTERM";
    case SIGHUP: return "Ending on SIGHUP";
    default: return "Ending on signal " + std::to_string(signo);
    }
}

WatchedLink::WatchedLink(LinkState& link) : link_(link)
{
    if (!gCurrent)
        return;
    gLink = &link;
    if (gReceived)
        link.StopRequested = 1;
}

WatchedLink::~WatchedLink()
{
    LinkState* expected = &link_;
    gLink.compare_exchange_strong(expected, nullptr);
}

} // namespace qvx
