// Verify against the buffer and blank check: both stop at the first byte
// that fails, and judge each byte alike.
#include "SettledReads.h"

#include <algorithm>

namespace qvx {

// Compares 0 to last with the buffer (`blank`: with FF), each byte read
// until it settles (SettledReads.h): on a clean line a right byte costs one
// read and a wrong one three; once the line has flipped bits, neither passes
// nor fails on a lucky read. Whole pages at a time where the chip has page
// reads.
static CheckResult Check(ChipSession& s, int32_t last, bool blank)
{
    const SetLimits& limits = LimitsOf(s.Chip.Set);
    CodeBuffer& b = s.Buffer;
    ResetAddress(b);
    if (!OpenProgramming(s))
        return {false, OpResult::Refused};
    const int32_t end = std::min(last, kBufferSize - 1);
    if (end < 0)
        return {true, OpResult::Completed};
    SettleJob job;
    job.end = end;
    job.maxReads = limits.VerifyAttempts;
    job.reenableAt = limits.VerifyReenable;
    job.progressLast = last;
    job.expected = [&](int32_t address) { return blank ? uint8_t(0xFF) : ExpectedByte(b, address); };
    const SettleOutcome read = ReadUntilSettled(s, job);
    if (read.result == OpResult::Refused)
        return {false, OpResult::Refused};
    const int32_t passed = read.stop < 0 ? end + 1 : read.stop;
    for (int32_t i = 0; i < passed; ++i)
        NextAddress(b);
    if (read.stop < 0)
        return {true, OpResult::Completed};
    if (read.result == OpResult::Failed)
        s.Panel().ShowMessage(NoisyLineMessage(read));
    return {false, read.result, read.stop, job.expected(read.stop), read.tallies[size_t(read.stop)].Majority()};
}

CheckResult VerifyCode3(ChipSession& s, int32_t last) { return Check(s, last, false); }

CheckResult VerifyCode4(ChipSession& s, int32_t last) { return Check(s, last, false); }

CheckResult BlankCheck3(ChipSession& s, int32_t last) { return Check(s, last, true); }

CheckResult BlankCheck4(ChipSession& s, int32_t last) { return Check(s, last, true); }

} // namespace qvx
