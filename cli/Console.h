// The command-line program's view of the command layer: the operation log
// on standard error and, when that is a terminal, a progress bar with the
// percentage and the time since the operation's status text.
//
// How much it shows: everything at verbosity 0 and above (a status text
// that only repeats the message before it is left out); at -1 (-q) the
// messages, the details of failures and the checksums, without the status
// texts and the bar; at -2 (-qq) the messages alone.
#pragma once

#include "CommandView.h"

#include <chrono>
#include <cstdio>

namespace qvx::cli {

class ConsoleView : public CommandView {
public:
    // `out` is standard error; `terminal` whether it is a terminal.
    ConsoleView(std::FILE* out, bool terminal, int verbosity = 0);

    // Status texts and messages are log lines: nothing more to show.
    void ShowStatus(const std::string&) override {}
    void ShowMessage(const std::string&) override {}
    void WriteLog(const std::string& line) override;
    void WriteLogLine(LogKind kind, const std::string& line) override;
    void SetProgress(int32_t position) override;
    // A chip of another device than the one selected: refused, unless
    // --force asked to go on.
    WrongChipChoice AskWrongChip(const std::string&, const Device*) override
    {
        return force_ ? WrongChipChoice::GoOn : WrongChipChoice::Cancel;
    }
    void SetForce(bool force) { force_ = force; }

private:
    std::FILE* out_;
    bool terminal_;
    int verbosity_;
    bool force_ = false;
    bool barShown_ = false;
    int32_t shownPosition_ = -1;
    long shownSeconds_ = -1;
    std::chrono::steady_clock::time_point started_;
};

} // namespace qvx::cli
