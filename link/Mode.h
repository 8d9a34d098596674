// Target reset, serial programming enable, and the program/run mode of the
// target with the controls that follow it.
#pragma once

#include "Link.h"

namespace qvx {

// How a four-byte programming enable is judged.
enum class EnableJudgement {
    AnswerCompared, // up to ten attempts until the chip echoes 0x69
    AnswerIgnored,  // one attempt, whatever the answer
};

// Run-mode lines low, reset high then pulsed low for two port calls.
// D = factor * 10000 (32-bit) spin steps before and after raising reset.
// SCK then stays low at least for the link's first low phase.
void ResetPulse(LinkState& link, int32_t factor);

// The Programming Enable instruction alone: 0xAC 0x53 0x55, and a fourth
// 0x55 on the four-byte set (whose answer then is in ReceivedBits). What
// came back is kept in the link's Enables.
void SendEnableInstruction(LinkState& link, bool fourByte);

// MISO read once with the target out of reset (RST and SCK low), RST raised
// again afterwards. The chip's programming logic drives nothing then: a
// line that reads 0 is held low by something else.
bool MisoOutOfReset(LinkState& link);

// Three-byte instruction set: reset pulse, then 0xAC 0x53 0x55. Nothing is
// read back.
void EnableProgramming3(LinkState& link, int32_t factor);

// Four-byte instruction set: reset pulse, a further delay, then 0xAC 0x53
// 0x55 0x55. True when the fourth byte came back as 0x69, or at once for a
// chip whose answer is ignored. False when the command has been refused.
// Leaves SendBits holding 0x69.
bool EnableProgramming4(LinkState& link, int32_t factor, EnableJudgement judgement);

// The port lines of each mode: program mode holds reset high with the
// run-mode lines low, run mode the opposite.
void SetProgramModeLines(LinkState& link);
void SetRunModeLines(LinkState& link);
// The run-mode lines in one async-signal-safe write of the port
// (PortAccess::SignalSafeWrite), for a signal handler while the program
// dies; nothing when the link has no port.
void SetRunModeLinesFromSignal(LinkState& link) noexcept;

// Enters program mode (true) or run mode (false), shows "PROGRAM MODE." or
// "RUN MODE.", processes pending messages and enables or disables the chip
// controls. `fuseDevice` tells whether the selected chip has the user fuse.
void SetOperationMode(LinkState& link, bool program, bool fuseDevice);

// Enters the mode other than the current one and sets the mode menu checks.
// Processes no messages.
void ToggleOperationMode(LinkState& link, bool fuseDevice);

// Enables the nine chip controls in order, then "WR" only for a fuse device.
void EnableChipControls(LinkState& link, bool fuseDevice);
// Disables the nine chip controls and "WR".
void DisableChipControls(LinkState& link);

} // namespace qvx
