// The serial instructions of the two instruction sets as the operations send
// them, and the per-set limits of their retry loops.
#pragma once

#include "ChipOps.h"

#include <functional>
#include <vector>

namespace qvx {

struct SetLimits {
    int PollLimit;      // polls after each byte write
    int ReadAttempts;   // pairs of reads per byte in a chip read
    int ReadReenable;   // the attempt before which a read enters programming again
    int VerifyAttempts; // reads per byte in a verify
    int VerifyReenable;
};

const SetLimits& LimitsOf(InstructionSet set);

// Sets the link's serial clock floor for the session's chip at the link's
// crystal.
void ApplyClockFloor(LinkState& link, const Device& chip);

// The programming enable of the session's instruction set, with factor 100,
// under the chip's clock floor. True when the target took it: the transfer
// was not refused and a chip whose answer counts echoed 0x69.
bool EnterProgramming(ChipSession& s);
// The opening enable of an operation: false (and the command marked refused,
// with its one message) when EnterProgramming was not answered.
bool OpenProgramming(ChipSession& s);
// A later enable inside an operation, whose answer is not looked at.
void ReenableProgramming(ChipSession& s);

// Bytes of one instruction of the chip's set: 3 or 4.
size_t InstructionLength(const Device& chip);

// True when the port takes instructions of `length` bytes (a cable whose
// firmware sends four bytes at a time takes no page instructions).
bool PortTakes(const ChipSession& s, size_t length);

// What the chip asks of the cable at the link's crystal.
TargetNeeds NeedsOf(const LinkState& link, const Device& chip);

// Appends the read or write of the code byte at `address` to `ins`, in the
// encoding of the session's instruction set.
void AddReadCode(const ChipSession& s, Instruction& ins, int32_t address);
void AddWriteCode(const ChipSession& s, Instruction& ins, int32_t address, char high, char low);

// The read and write of the data-memory byte at `address`: three-byte set
// 0 0 A10 A9 A8 1 0 1 (read) or 1 1 0 (write), A7..A0, data; four-byte set
// A0h (read) or C0h (write), 0 0 0 0 0 A10 A9 A8, A7..A0, data.
void AddReadData(const ChipSession& s, Instruction& ins, int32_t address);
void AddWriteData(const ChipSession& s, Instruction& ins, int32_t address, uint8_t value);
// The read of the byte at `address` in the session's memory array.
void AddReadByte(const ChipSession& s, Instruction& ins, int32_t address);
// Read byte at a fixed address of the session's memory array, the answer
// in ReceivedBits.
void SendReadByteAt(ChipSession& s, int32_t address);

// How many byte reads the port takes in one exchange.
int ReadsPerExchange(const ChipSession& s);

// Page instructions (see PageFacts): the read of the page at `base`, its
// header followed by a filler byte for each byte of the page, and the write
// of the buffer's bytes of that page.
size_t PageReadLength(const Device& chip);
size_t PageWriteLength(const Device& chip);
void AddReadPage(const ChipSession& s, Instruction& ins, int32_t base);
void AddWritePage(const ChipSession& s, Instruction& ins, int32_t base);

// The byte the buffer holds at `address` as a verify expects it: a digit
// text that is no digit counts as 0, the filler's bits that the expected
// byte's cells keep.
uint8_t ExpectedByte(const CodeBuffer& b, int32_t address);

// Read code byte at a fixed address; the address counter is not touched.
void SendReadCodeAt(ChipSession& s, int32_t address);

// How often a poll lets the window handle its events, on the port's clock.
inline constexpr int64_t kPollEventsNs = 40'000'000;

// Tries `done` until it returns true or `forNs` have passed on the port's
// clock, waiting `intervalNs` between tries. True when done; false at the
// deadline or when the command was refused meanwhile.
bool PollUntil(ChipSession& s, int64_t forNs, int64_t intervalNs, const std::function<bool()>& done);

// Waits `ns` on the port's clock.
void WaitOnPort(LinkState& link, int64_t ns);

// Loads SendBits with the expected byte given as two digit texts.
void LoadExpected(LinkState& link, char high, char low);

// The four-byte status instructions; the answer is in ReceivedBits.
void SendReadLockBits(LinkState& link); // 0x24 0x55 0x55 0xFF
void SendReadFuses(LinkState& link);    // 0x21 0x55 0x55 0xFF

} // namespace qvx
