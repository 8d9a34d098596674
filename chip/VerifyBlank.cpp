// Verify against the buffer and blank check: both stop at the first byte
// that fails.
#include "Instructions.h"

#include <algorithm>

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
    for (int32_t i = 0; i <= std::min(last, kBufferSize - 1); ++i) {
        bool passed = false;
        for (int attempt = 1; attempt <= attempts && !passed; ++attempt) {
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
