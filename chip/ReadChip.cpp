// Reading the chip's code memory into the buffer: a byte counts only when
// two reads in a row agree.
#include "Instructions.h"

#include <algorithm>
#include <vector>

namespace qvx {

static OpResult ReadCode(ChipSession& s, int32_t last)
{
    const SetLimits& limits = LimitsOf(s.Chip.Set);
    LinkState& link = s.Link;
    CodeBuffer& b = s.Buffer;
    OpResult result = OpResult::Completed;

    ResetAddress(b);
    const int32_t end = std::min(last, kBufferSize - 1);
    // Each block's first pair of reads goes in one exchange where the port
    // takes several (a block of one byte where it clocks bit by bit).
    const int batch = std::max(1, ReadsPerExchange(s) / 2);
    std::vector<uint8_t> pairs;
    if (!OpenProgramming(s)) {
        result = OpResult::Refused;
    } else {
        for (int32_t from = 0; from <= end && result == OpResult::Completed; from += batch) {
            const int count = std::min<int32_t>(batch, end - from + 1);
            if (limits.ReadReenable == 1)
                ReenableProgramming(s);
            if (!ReadCodeBlock(s, from, count, 2, pairs)) {
                result = OpResult::Refused;
                break;
            }
            for (int k = 0; k < count; ++k) {
                const int32_t i = from + k;
                bool agreed = pairs[2 * k] == pairs[2 * k + 1];
                SetBits(link.ReceivedBits, pairs[2 * k + 1]);
                for (int attempt = 2; attempt <= limits.ReadAttempts && !agreed; ++attempt) {
                    if (attempt == limits.ReadReenable)
                        ReenableProgramming(s);
                    SendReadCode(s);
                    int32_t first[8];
                    std::copy(std::begin(link.ReceivedBits), std::end(link.ReceivedBits), first);
                    SendReadCode(s);
                    agreed = std::equal(std::begin(first), std::end(first), std::begin(link.ReceivedBits));
                    if (link.Refused)
                        break;
                }
                if (link.Refused) {
                    result = OpResult::Refused;
                    break;
                }
                if (!agreed) {
                    s.Panel().ShowMessage("Read chip error!!!.");
                    result = OpResult::Failed;
                    break;
                }
                const int32_t* r = link.ReceivedBits;
                BitsToHexDigit(r[0], r[1], r[2], r[3], b.CodeHigh[i]);
                BitsToHexDigit(r[4], r[5], r[6], r[7], b.CodeLow[i]);
                NextAddress(b);
                ShowProgress(s.Panel(), i, last);
            }
        }
    }
    s.Panel().ShowBuffer(); // in every case, also after an error
    return result;
}

OpResult ReadCode3(ChipSession& s, int32_t last) { return ReadCode(s, last); }

OpResult ReadCode4(ChipSession& s, int32_t last) { return ReadCode(s, last); }

} // namespace qvx
