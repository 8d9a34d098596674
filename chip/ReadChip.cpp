// Reading the chip's code memory into the buffer: a byte counts only once
// its reads have settled (SettledReads.h), two agreeing reads on a clean
// line; whole pages at a time where the chip has page reads.
#include "SettledReads.h"

#include <algorithm>

namespace qvx {

static OpResult ReadCode(ChipSession& s, int32_t last)
{
    const SetLimits& limits = LimitsOf(s.Chip.Set);
    CodeBuffer& b = s.Buffer;
    OpResult result = OpResult::Completed;

    ResetAddress(b);
    const int32_t end = std::min(last, kBufferSize - 1);
    if (!OpenProgramming(s)) {
        result = OpResult::Refused;
    } else if (end >= 0) {
        SettleJob job;
        job.end = end;
        job.firstReads = 2;
        job.maxReads = 2 * limits.ReadAttempts;
        job.reenableAt = 2 * limits.ReadReenable - 1; // the first read of that attempt
        job.progressLast = last;
        const SettleOutcome read = ReadUntilSettled(s, job);
        result = read.result;
        // The bytes that settled, up to the first that did not (the read
        // refused or stopped on the way, or the line too noisy).
        const int32_t settled = read.stop < 0 ? end + 1 : read.stop;
        for (int32_t i = 0; i < settled; ++i) {
            const uint8_t value = read.tallies[size_t(i)].Majority();
            b.CodeHigh[i] = HexDigitChar(value >> 4);
            b.CodeLow[i] = HexDigitChar(value & 15);
            NextAddress(b);
        }
        if (result == OpResult::Failed)
            s.Panel().ShowMessage("Read chip error!!!.\n" + NoisyLineMessage(read));
    }
    s.Panel().ShowBuffer(); // in every case, also after an error
    return result;
}

OpResult ReadCode3(ChipSession& s, int32_t last) { return ReadCode(s, last); }

OpResult ReadCode4(ChipSession& s, int32_t last) { return ReadCode(s, last); }

} // namespace qvx
