// The chip operations: erase, lock bits and fuse, read, program, verify and
// blank check. Each exists in one variant per instruction set (suffix 3 for
// the three-byte set, 4 for the four-byte set, chosen by the command
// handlers from the device catalogue) and begins with its own programming
// enable. None of them uses Qt: what they need from the window they reach
// through the front panel of the link.
#pragma once

#include "Catalogue.h"
#include "CodeBuffer.h"
#include "Link.h"

namespace qvx {

// What a command has found out about the chip's page instructions, whose
// header the datasheet gives in two forms (see PageFacts): nothing yet, that
// they work (a page written or read that way matched byte reads), or that
// they do not (the command goes on byte by byte).
enum class PageForm { Unchecked, Works, Refused };

// The memory array an operation reads and writes.
enum class MemoryArray {
    Code, // the flash code memory
    Data, // the data EEPROM (Device::Data)
};

// What one chip operation works on: the link (with its front panel), the
// buffer of its memory array (the code buffer, or the data buffer for the
// data memory) and the selected device; and what the command learns on the
// way.
struct ChipSession {
    LinkState& Link;
    CodeBuffer& Buffer;
    const Device& Chip;
    MemoryArray Array = MemoryArray::Code;
    PageForm Pages = PageForm::Unchecked;
    // The rate of flipped bits this command's reads have shown (SettledReads.h).
    double FlipRate = 0;
    // A lock or fuse write of this command was not confirmed: a try again
    // is not taken on its first read.
    bool StatusUnconfirmed = false;
    // The lock bits the last lock read of this session found (bit n - 1 set:
    // LBn programmed); -1 before one.
    int32_t LockBitsRead = -1;

    FrontPanel& Panel() const { return *Link.Panel; }
};

// How an operation ended.
enum class OpResult {
    Completed,     // ran to its end
    Refused,       // the target was not in program mode or did not answer the
                   // programming enable; "Device have not in program mode"
                   // has been shown once and nothing more was sent
    Failed,        // the chip misbehaved: a read that never settled (the line
                   // too noisy), a byte that never programmed, a lock step
                   // that never read back; the operation's own message has
                   // been shown
    NothingLoaded, // programming: the reload found no data; nothing was sent
    ReloadFailed,  // programming: the reload could not run; nothing was sent
};

// The outcome of a verify or blank check: whether every byte passed, and how
// the run ended. A completed check that failed also says where: the first
// address whose byte did not match, the byte expected there and the byte the
// chip's reads showed; a check the line was too noisy for (Failed, its
// message shown) names the byte that did not settle.
struct CheckResult {
    bool Passed;
    OpResult Result;
    int32_t FailedAddress = -1; // -1 unless a byte failed
    uint8_t Expected = 0xFF;
    uint8_t Read = 0xFF;
};

// Erase, lock bits and fuse.
OpResult EraseChip3(ChipSession& s);
OpResult EraseChip4(ChipSession& s);
OpResult WriteLockBits3(ChipSession& s, int32_t level);
OpResult WriteLockBits4(ChipSession& s, int32_t level);
OpResult WriteLockBitsStepwise(ChipSession& s, int32_t level);
// One lock-mode step of the AT89S51/52 after the caller's enable: writes the
// mode byte 1,1,1,0,0,0,B1,B2, waits, and reads the lock bit it programmed
// back. True when confirmed (step (0,0) has nothing to read back).
bool WriteLockStep(ChipSession& s, int32_t b1, int32_t b2);
OpResult WriteFuses(ChipSession& s);

// Read chip into the buffer, and the lock bits and fuse into the check boxes.
OpResult ReadCode3(ChipSession& s, int32_t last);
OpResult ReadCode4(ChipSession& s, int32_t last);
// Lock byte into the lock boxes, a programmed lock bit reading 1 (AT89S51/52).
// True when box n is ticked after the read.
bool ReadLockBits(ChipSession& s, int n);
// Lock byte into the lock boxes, a programmed lock bit reading 0.
OpResult ReadLockBitsActiveLow(ChipSession& s);
// User fuse into the "x2 Clock" box.
OpResult ReadFuses(ChipSession& s);

// Program the buffer into the chip.
OpResult ProgramCode3(ChipSession& s, int32_t last);
OpResult ProgramCode4(ChipSession& s, int32_t last);
// Progress bar position done * 100 div last.
void ShowProgress(FrontPanel& panel, int32_t done, int32_t last);

// Verify against the buffer, and blank check.
CheckResult VerifyCode3(ChipSession& s, int32_t last);
CheckResult VerifyCode4(ChipSession& s, int32_t last);
CheckResult BlankCheck3(ChipSession& s, int32_t last);
CheckResult BlankCheck4(ChipSession& s, int32_t last);

// The data memory (a session whose Array is Data, on the data buffer): read
// into the buffer; programmed from it, a byte written only where the chip
// holds another one (no erase: each byte erases itself), each confirmed by
// data polling; verified against it. The whole memory, 0 to Data.Size - 1.
OpResult ReadData3(ChipSession& s);
OpResult ReadData4(ChipSession& s);
OpResult ProgramData3(ChipSession& s);
OpResult ProgramData4(ChipSession& s);
CheckResult VerifyData3(ChipSession& s);
CheckResult VerifyData4(ChipSession& s);

} // namespace qvx
