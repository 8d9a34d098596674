// Reading code bytes until each has settled, so that a noisy MISO line
// cannot make the program take a wrong byte for the chip's.
//
// The reads of a byte are tallied bit by bit. A bit has settled when it has
// been read one way more often than the other by a margin; how large a
// margin must be follows the rate of flipped bits the line has shown (the
// reads of a byte that disagree with the rest): a bit flipped with chance p
// runs against its true value by m reads with chance (p / (1 - p))^m, so m
// is chosen to keep the chance that a wrong byte settles below one in a
// billion for the whole range read. On a line that has flipped nothing a
// chip read takes two agreeing reads, and a check one read that shows the
// expected byte, as they always did.
//
// Every byte is read first (whole pages at once where the chip has page
// reads), the flip rate judged from all of them, and only the bytes not yet
// settled are read again, pass after pass, until all have settled or one has
// used up its reads: then the line is too noisy, and the operation says so.
#pragma once

#include "Instructions.h"

#include <functional>
#include <string>
#include <vector>

namespace qvx {

// The reads of one byte, bit by bit.
struct Tally {
    uint16_t reads = 0;
    uint16_t ones[8] = {}; // index 0: bit 7
    uint16_t spent = 0;    // reads given up on (before a programming enable)

    void Add(uint8_t value);
    // Forgets the reads so far (they count on towards the byte's limit).
    void Restart();
    // Each bit as most reads showed it.
    uint8_t Majority() const;
    // How many more reads showed bit `b` (0 = bit 7) as in `value` than the
    // other way.
    int Margin(int b, uint8_t value) const;
    // Reads of a bit against the others: the flips this byte has shown.
    int Flips() const;
};

// The margins a byte's bits need.
struct Margins {
    int read; // a chip read takes a byte when every bit is this far settled
    int pass; // a check passes a byte when every bit is this far toward the expected one
    int fail; // ... and fails it when one bit is this far against
};

// An upper estimate of the chance that a bit read is flipped, from `flips`
// among `bits` read; 0 when nothing was flipped.
double FlipRate(uint64_t flips, uint64_t bits);
// The margins at that rate for a range of `bytes` bytes: a wrong byte taken
// by a read, or passed by a check, with a chance below one in a billion; a
// right byte failed by a check with a chance below one in a million.
Margins MarginsFor(double rate, int32_t bytes);

struct SettleJob {
    int32_t first = 0, end = -1; // the addresses
    int firstReads = 1;          // reads of every byte before any is judged
    int maxReads = 40;           // reads of one byte at most
    int reenableAt = 20;         // before a byte's read this far, programming is entered again
    int32_t progressLast = -1;   // ShowProgress(address, progressLast) as the first reads go; -1: none
    bool pages = true;           // page reads where the chip has them
    // A check's expected bytes; a chip read when empty.
    std::function<uint8_t(int32_t address)> expected;
};

struct SettleOutcome {
    OpResult result = OpResult::Completed; // or Refused, or Failed: the line too noisy
    // The first byte that differs from the expected one (Completed), or
    // that did not settle (Failed, Refused); -1 when every byte settled as
    // it should.
    int32_t stop = -1;
    std::vector<Tally> tallies; // from `first` on
    uint64_t flips = 0, bits = 0;
};

SettleOutcome ReadUntilSettled(ChipSession& s, const SettleJob& job);

// What to tell the user when the line was too noisy to settle a byte.
std::string NoisyLineMessage(const SettleOutcome& outcome);

} // namespace qvx
