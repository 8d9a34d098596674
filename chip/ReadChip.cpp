// Reading the chip's code memory into the buffer: a byte counts only when
// two reads in a row agree, or three once the line has shown itself noisy.
#include "Instructions.h"

#include <algorithm>
#include <vector>

namespace qvx {

// Each byte is read until the last reads agree, up to two reads for each of
// the limits' attempts, re-entering programming where the attempt before
// which it does would begin. Two reads in a row that agree give the byte;
// once two reads of any byte have disagreed, the line flips bits, and two
// reads can agree on the same flipped bit: from then on three in a row must.
static OpResult ReadCode(ChipSession& s, int32_t last)
{
    const SetLimits& limits = LimitsOf(s.Chip.Set);
    LinkState& link = s.Link;
    CodeBuffer& b = s.Buffer;
    OpResult result = OpResult::Completed;
    bool noisy = false;

    ResetAddress(b);
    const int32_t end = std::min(last, kBufferSize - 1);
    // Each block's first pair of reads goes in one exchange where the port
    // takes several (a block of one byte where it clocks bit by bit); the
    // reads after a disagreement go one at a time.
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
                bool agreed = false;
                int32_t previous[8];
                int inRow = 0; // reads in a row that show `previous`
                const auto judge = [&] {
                    if (inRow > 0 && std::equal(std::begin(previous), std::end(previous), std::begin(link.ReceivedBits))) {
                        ++inRow;
                    } else {
                        noisy = noisy || inRow > 0;
                        std::copy(std::begin(link.ReceivedBits), std::end(link.ReceivedBits), previous);
                        inRow = 1;
                    }
                    agreed = inRow == (noisy ? 3 : 2);
                };
                SetBits(link.ReceivedBits, pairs[2 * k]);
                judge();
                SetBits(link.ReceivedBits, pairs[2 * k + 1]);
                judge();
                for (int read = 3; read <= 2 * limits.ReadAttempts && !agreed; ++read) {
                    if (read == 2 * limits.ReadReenable - 1) {
                        ReenableProgramming(s);
                        inRow = 0;
                    }
                    SendReadCode(s);
                    if (link.Refused)
                        break;
                    judge();
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
