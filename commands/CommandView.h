// What a front end of the command layer shows the user: the main window with
// its widgets, the command-line program on standard error. The command layer
// calls these; what a front end has no place for, it leaves at the default,
// which shows nothing.
#pragma once

#include "FrontPanel.h"
#include "LockRules.h"

#include <cstdint>
#include <string>

namespace qvx {

// What a line of the operation log is.
enum class LogKind {
    Status,   // a status text
    Repeated, // a status text that repeats the message just before it
    Message,  // a message the user has to acknowledge
    Detail,   // a line for the log alone: where a check failed, what was read
    Result,   // what an operation found out: the checksums of an image
};

// What to do with a chip whose signature is not the selected device's.
enum class WrongChipChoice {
    Cancel,      // stop before anything is erased or written
    GoOn,        // go on as the selected device (the command line's --force)
    SelectFound, // select the chip found, as if chosen from the Device menu, and go on
};

struct Device;

class CommandView {
public:
    virtual ~CommandView() = default;

    // A status text; it replaces the one before.
    virtual void ShowStatus(const std::string& text) = 0;
    // A message the user has to acknowledge (a modal box with OK).
    virtual void ShowMessage(const std::string& text) = 0;
    // One line of the operation log, without its line end. By default it
    // goes to standard error.
    virtual void WriteLog(const std::string& line);
    // The same with what kind of line it is, for a front end that shows
    // some kinds only; by default every line goes to WriteLog.
    virtual void WriteLogLine(LogKind, const std::string& line) { WriteLog(line); }

    // Lets pending input and painting be handled once.
    virtual void ProcessMessages() {}
    virtual void SetControlEnabled(ChipControl, bool) {}
    // The check marks of the "Program Mode" and "RUN Mode" items.
    virtual void SetModeChecks(bool) {}
    // The progress of a chip loop, 0 to 100.
    virtual void SetProgress(int32_t) {}
    // The lock boxes after their rules ran.
    virtual void ShowLockBoxes(const LockBoxes&) {}
    // The "x2 Clock" box as a chip read found it.
    virtual void ShowX2Clock(bool) {}
    // The code buffer has changed.
    virtual void ShowBuffer() {}
    // The name of the file chosen for loading.
    virtual void ShowFileName(const std::string&) {}
    // The data buffer has changed.
    virtual void ShowDataBuffer() {}
    // The name of the data file chosen for loading.
    virtual void ShowDataFileName(const std::string&) {}
    // The system's default beep.
    virtual void Beep() {}
    // A command has ended.
    virtual void CommandEnded() {}
    // The chip on the cable is not the selected device: `question` names
    // both; `found` is the device whose signature it holds (null for a
    // signature no device has). By default: cancel.
    virtual WrongChipChoice AskWrongChip(const std::string& /*question*/, const Device* /*found*/)
    {
        return WrongChipChoice::Cancel;
    }
    // The command layer selected `device` (the chip found): show it as if
    // chosen from the Device menu.
    virtual void DeviceSelected(const Device&) {}
};

} // namespace qvx
