// Verify against the buffer and blank check: both stop at the first byte
// that fails, and judge each byte alike.
#include "Instructions.h"

#include <algorithm>
#include <vector>

namespace qvx {

// Walks 0 to last comparing each byte with the expected one, trying up to
// `attempts` reads per byte (re-entering programming before attempt
// `reenable`). `blank` expects FF instead of the buffer.
//
// A byte passes when its first read shows the expected value; once a read
// has shown another, it passes only when two reads in a row show the
// expected value. It fails when three reads in a row show the same other
// value, or when the attempts run out first. So a right byte costs one read,
// and a noisy MISO line can neither make a byte the chip does not hold look
// right through one lucky read out of many, nor fail a right byte by
// flipping the same bit in two reads.
static CheckResult Compare(ChipSession& s, int32_t last, int attempts, int reenable, bool blank)
{
    CodeBuffer& b = s.Buffer;
    LinkState& link = s.Link;
    ResetAddress(b);
    if (!OpenProgramming(s))
        return {false, OpResult::Refused};
    const int32_t end = std::min(last, kBufferSize - 1);
    const int batch = ReadsPerExchange(s);
    std::vector<uint8_t> first;
    for (int32_t from = 0; from <= end; from += batch) {
        // The first read of each byte of the block in one exchange (a block
        // of one byte where the port clocks bit by bit); the reads after a
        // miss go one at a time.
        const int count = std::min<int32_t>(batch, end - from + 1);
        if (!ReadCodeBlock(s, from, count, 1, first))
            return {false, OpResult::Refused};
        for (int k = 0; k < count; ++k) {
            const int32_t i = from + k;
            LoadExpected(link, blank ? 'F' : b.CodeHigh[i], blank ? 'F' : b.CodeLow[i]);
            const uint8_t expected = BitsValue(link.SendBits);
            int matches = 0, repeats = 0; // the expected value, another value: in a row
            uint8_t other = 0;
            bool missed = false, passed = false, failed = false;
            for (int attempt = 1; attempt <= attempts && !passed && !failed; ++attempt) {
                if (attempt == 1) {
                    SetBits(link.ReceivedBits, first[k]);
                } else {
                    if (attempt == reenable) {
                        ReenableProgramming(s);
                        matches = repeats = 0;
                    }
                    SendReadCode(s);
                    if (link.Refused)
                        return {false, OpResult::Refused};
                }
                const uint8_t read = BitsValue(link.ReceivedBits);
                if (read == expected) {
                    repeats = 0;
                    passed = ++matches == (missed ? 2 : 1);
                } else {
                    missed = true;
                    matches = 0;
                    repeats = repeats > 0 && read == other ? repeats + 1 : 1;
                    other = read;
                    failed = repeats == 3;
                }
            }
            if (!passed)
                return {false, OpResult::Completed, i, expected, BitsValue(link.ReceivedBits)};
            NextAddress(b);
            ShowProgress(s.Panel(), i, last);
        }
    }
    return {true, OpResult::Completed};
}

// The verify's limits for both checks.
static CheckResult Check(ChipSession& s, int32_t last, bool blank)
{
    const SetLimits& limits = LimitsOf(s.Chip.Set);
    return Compare(s, last, limits.VerifyAttempts, limits.VerifyReenable, blank);
}

CheckResult VerifyCode3(ChipSession& s, int32_t last) { return Check(s, last, false); }

CheckResult VerifyCode4(ChipSession& s, int32_t last) { return Check(s, last, false); }

CheckResult BlankCheck3(ChipSession& s, int32_t last) { return Check(s, last, true); }

CheckResult BlankCheck4(ChipSession& s, int32_t last) { return Check(s, last, true); }

} // namespace qvx
