// The serial instructions of the two instruction sets as the operations send
// them, and the per-set limits of their retry loops.
#pragma once

#include "ChipOps.h"

namespace qvx {

struct SetLimits {
    int PollLimit;      // polls after each byte write
    int ReadAttempts;   // pairs of reads per byte in a chip read
    int ReadReenable;   // the attempt before which a read enters programming again
    int VerifyAttempts; // reads per byte in a verify
    int VerifyReenable;
};

const SetLimits& LimitsOf(InstructionSet set);

// The programming enable of the session's instruction set, with factor 100.
// The opening enable of an operation: false (and the command marked refused,
// with its one message) when the target refused the transfer or a chip whose
// answer counts never echoed 0x69.
bool OpenProgramming(ChipSession& s);
// A later enable inside an operation, whose answer is not looked at.
void ReenableProgramming(ChipSession& s);

// Read and write code byte at the address counter's value.
void SendReadCode(ChipSession& s);
void SendWriteCode(ChipSession& s, char high, char low);

// Loads SendBits with the expected byte given as two digit texts.
void LoadExpected(LinkState& link, char high, char low);

// The four-byte status instructions; the answer is in ReceivedBits.
void SendReadLockBits(LinkState& link); // 0x24 0x55 0x55 0xFF
void SendReadFuses(LinkState& link);    // 0x21 0x55 0x55 0xFF

} // namespace qvx
