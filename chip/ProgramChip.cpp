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

// When the datasheet specifies the byte write cycle, no poll is sent while it
// surely runs: the first one is timed so that its answer byte comes as the
// cycle ends. How long a poll takes to reach its answer is learnt from the
// write instructions, which are as long as a read: the shortest one so far
// (a write slowed by the system does not move the poll early).
struct PollTiming {
    std::chrono::nanoseconds cycle{0};        // the specified write cycle, or 0
    std::chrono::nanoseconds shortestWrite{}; // shortest write instruction so far
    bool measured = false;
    int answerByte = 0, length = 0; // the read's answer byte (0-based) and its length
};

static PollTiming PollTimingFor(const ChipSession& s)
{
    PollTiming t;
    t.cycle = std::chrono::nanoseconds(s.Chip.WriteCycleNs(s.Link.CrystalHz));
    const bool three = s.Chip.Set == InstructionSet::ThreeByte;
    t.answerByte = three ? 2 : 3;
    t.length = three ? 3 : 4;
    return t;
}

// Writes the byte at the counter's address, waits, and polls it up to the
// poll limit. True when the first poll reads it back as written, or, once a
// poll has not, when two polls in a row do: among many polls of a byte that
// does not take, one can come through a noisy MISO line with just the
// wrong bits flipped.
static bool WriteAndPoll(ChipSession& s, int32_t i, int pollLimit, PollTiming& t)
{
    const char high = s.Buffer.CodeHigh[i], low = s.Buffer.CodeLow[i];
    PortAccess& port = *s.Link.Port;
    const std::chrono::nanoseconds start = port.Now();
    SendWriteCode(s, high, low);
    const std::chrono::nanoseconds written = port.Now();
    CalibratedWait(s.Link, 1000);
    if (t.cycle.count() > 0 && !s.Link.Refused) {
        if (!t.measured || written - start < t.shortestWrite)
            t.shortestWrite = written - start;
        t.measured = true;
        port.WaitUntil(written + t.cycle - t.shortestWrite * t.answerByte / t.length);
    }
    bool confirm = false; // a poll missed: the next match needs a second one
    for (int poll = 1; poll <= pollLimit && !s.Link.Refused; ++poll) {
        SendReadCode(s);
        LoadExpected(s.Link, high, low);
        const bool match = BitsMatch(s.Link);
        if (match && !confirm)
            return !s.Link.Refused;
        if (match) {
            confirm = false; // read it again at once
            continue;
        }
        confirm = true;
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
    PollTiming timing = PollTimingFor(s);
    CodeBuffer& b = s.Buffer;

    ResetAddress(b);
    if (!OpenProgramming(s))
        return OpResult::Refused;
    for (int32_t i = 0; i <= std::min(last, kBufferSize - 1); ++i) {
        bool timedOut = false;
        if (!(b.CodeHigh[i] == 'F' && b.CodeLow[i] == 'F')) {
            bool programmed = WriteAndPoll(s, i, pollLimit, timing);
            for (int rewrite = 1; rewrite <= 8 && !programmed && !s.Link.Refused; ++rewrite) {
                ReenableProgramming(s);
                programmed = WriteAndPoll(s, i, pollLimit, timing);
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
