// Verify against the buffer and blank check: both stop at the first byte
// that fails.
#include "Instructions.h"

#include <algorithm>
#include <vector>

namespace qvx {

// Walks 0 to last comparing each byte read with the expected one, trying up
// to `attempts` reads per byte (re-entering programming before attempt
// `reenable`). `blank` expects FF instead of the buffer.
static CheckResult Compare(ChipSession& s, int32_t last, int attempts, int reenable, bool blank)
{
    CodeBuffer& b = s.Buffer;
    ResetAddress(b);
    if (!OpenProgramming(s))
        return {false, OpResult::Refused};
    const int32_t end = std::min(last, kBufferSize - 1);
    const int batch = ReadsPerExchange(s);
    std::vector<uint8_t> first;
    for (int32_t from = 0; from <= end; from += batch) {
        // The first read of each byte of the block in one exchange (a block
        // of one byte where the port clocks bit by bit).
        const int count = std::min<int32_t>(batch, end - from + 1);
        if (!ReadCodeBlock(s, from, count, 1, first))
            return {false, OpResult::Refused};
        for (int k = 0; k < count; ++k) {
            const int32_t i = from + k;
            SetBits(s.Link.ReceivedBits, first[k]);
            LoadExpected(s.Link, blank ? 'F' : b.CodeHigh[i], blank ? 'F' : b.CodeLow[i]);
            bool passed = BitsMatch(s.Link);
            for (int attempt = 2; attempt <= attempts && !passed; ++attempt) {
                if (attempt == reenable)
                    ReenableProgramming(s);
                SendReadCode(s);
                if (s.Link.Refused)
                    return {false, OpResult::Refused};
                LoadExpected(s.Link, blank ? 'F' : b.CodeHigh[i], blank ? 'F' : b.CodeLow[i]);
                passed = BitsMatch(s.Link);
            }
            if (!passed)
                return {false, OpResult::Completed, i, BitsValue(s.Link.SendBits), BitsValue(s.Link.ReceivedBits)};
            NextAddress(b);
            ShowProgress(s.Panel(), i, last);
        }
    }
    return {true, OpResult::Completed};
}

static CheckResult Verify(ChipSession& s, int32_t last)
{
    const SetLimits& limits = LimitsOf(s.Chip.Set);
    return Compare(s, last, limits.VerifyAttempts, limits.VerifyReenable, false);
}

CheckResult VerifyCode3(ChipSession& s, int32_t last) { return Verify(s, last); }

CheckResult VerifyCode4(ChipSession& s, int32_t last) { return Verify(s, last); }

CheckResult BlankCheck3(ChipSession& s, int32_t last) { return Compare(s, last, 1, 0, true); }

CheckResult BlankCheck4(ChipSession& s, int32_t last) { return Compare(s, last, 1, 0, true); }

} // namespace qvx
