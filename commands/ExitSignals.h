// The signals that end the programs, handled so that the target is never
// left stopped in reset.
//
// SIGINT, SIGTERM and SIGHUP (Ctrl-C, a kill, a closed terminal or a logout)
// end the program the way its normal exit does. The handler does only what
// is safe inside a signal handler: it sets the watched link's stop request,
// so the running command ends at its next byte, notes the signal, and writes
// one byte to a pipe. The front end watches that pipe from its event loop
// (the window) or looks at the stop request between operations (the command
// line), sets the run-mode lines, saves what it has to save and returns from
// main with 128 + the signal's number, as a shell reports a death by signal.
// A second stop signal while the first is being honoured ends the program at
// once, after the emergency write below. A stop signal that was ignored when
// the program started (nohup) stays ignored. SIGPIPE is ignored: a log line
// written to a pipe whose reader has gone fails instead of ending the program
// with the target in reset.
//
// SIGSEGV, SIGBUS, SIGFPE, SIGILL and SIGABRT: nothing can be trusted any
// more, so the handler only drops RST with the port's one async-signal-safe
// write (PortAccess::SignalSafeWrite), then the signal takes the course it
// would have taken without this handler and the program dies by it.
#pragma once

#include "Link.h"

#include <string>

namespace qvx {

class ExitSignals {
public:
    // Installs the handlers. One instance at a time, for the whole program.
    ExitSignals();
    // Puts back what the signals did before.
    ~ExitSignals();
    ExitSignals(const ExitSignals&) = delete;
    ExitSignals& operator=(const ExitSignals&) = delete;

    // The instance whose handlers are installed, or null.
    static ExitSignals* Current();

    // A descriptor that becomes readable when a stop signal has come.
    int Descriptor() const { return pipe_[0]; }
    // Empties the pipe after it became readable.
    void Drain();
    // The first stop signal that came, 0 while none has.
    int Received() const;
    // `status`, or 128 + the stop signal's number when one came.
    int ExitStatus(int status) const;

private:
    int pipe_[2] = {-1, -1};
};

// "Ending on SIGTERM": the operation log's line for a stop signal.
std::string EndingOnSignal(int signo);

// Makes a link the one that stop signals stop and a crash releases, for as
// long as this object lives (while an ExitSignals is installed; otherwise it
// does nothing). A stop signal that came before is passed on at once.
class WatchedLink {
public:
    explicit WatchedLink(LinkState& link);
    ~WatchedLink();
    WatchedLink(const WatchedLink&) = delete;
    WatchedLink& operator=(const WatchedLink&) = delete;

private:
    LinkState& link_;
};

} // namespace qvx
