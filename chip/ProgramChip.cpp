// Programming the buffer into the chip: each byte written is read back until
// it matches, with a bounded number of polls and of complete rewrites. FF
// bytes are not written at all.
#include "Instructions.h"

#include <algorithm>

namespace qvx {

void ShowProgress(FrontPanel& panel, int32_t done, int32_t last)
{
    panel.SetProgress(last > 0 ? done * 100 / last : 100);
}

// Writes the byte at the counter's address, waits, and polls it up to the
// poll limit. True when a poll read it back as written.
static bool WriteAndPoll(ChipSession& s, int32_t i, int pollLimit)
{
    const char high = s.Buffer.CodeHigh[i], low = s.Buffer.CodeLow[i];
    SendWriteCode(s, high, low);
    CalibratedWait(s.Link, 1000);
    for (int poll = 1; poll <= pollLimit && !s.Link.Refused; ++poll) {
        SendReadCode(s);
        LoadExpected(s.Link, high, low);
        if (BitsMatch(s.Link))
            return !s.Link.Refused;
        CalibratedWait(s.Link, 1000);
    }
    return false;
}

static OpResult ProgramCode(ChipSession& s, int32_t last)
{
    if (s.Panel().AutoReload()) {
        const std::optional<int32_t> end = s.Panel().ReloadHexFile();
        if (!end)
            return OpResult::ReloadFailed;
        if (*end == 0)
            return OpResult::NothingLoaded;
    }
    const int pollLimit = LimitsOf(s.Chip.Set).PollLimit;
    CodeBuffer& b = s.Buffer;

    ResetAddress(b);
    if (!OpenProgramming(s))
        return OpResult::Refused;
    for (int32_t i = 0; i <= std::min(last, kBufferSize - 1); ++i) {
        bool timedOut = false;
        if (!(b.CodeHigh[i] == 'F' && b.CodeLow[i] == 'F')) {
            bool programmed = WriteAndPoll(s, i, pollLimit);
            for (int rewrite = 1; rewrite <= 8 && !programmed && !s.Link.Refused; ++rewrite) {
                ReenableProgramming(s);
                programmed = WriteAndPoll(s, i, pollLimit);
            }
            if (s.Link.Refused)
                return OpResult::Refused;
            timedOut = !programmed;
        }
        NextAddress(b);
        ShowProgress(s.Panel(), i, last);
        if (timedOut) {
            s.Panel().ShowMessage("Programming Time-Out");
            return OpResult::Failed;
        }
    }
    return OpResult::Completed;
}

OpResult ProgramCode3(ChipSession& s, int32_t last) { return ProgramCode(s, last); }

OpResult ProgramCode4(ChipSession& s, int32_t last) { return ProgramCode(s, last); }

} // namespace qvx
