// Programming the buffer into the chip: each byte written is read back until
// it matches, with a bounded number of polls and of complete rewrites. FF
// bytes are not written at all.
#include "Instructions.h"

#include <algorithm>
#include <vector>

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

// Polls the byte at `i` up to the poll limit; true when it read back as
// written: at the first poll, or, once a poll has not (or `missed`, a poll
// before these did not), at two polls in a row. Among many polls of a byte
// that does not take, one can come through a noisy MISO line with just the
// wrong bits flipped.
static bool PollWritten(ChipSession& s, int32_t i, int pollLimit, bool missed = false)
{
    const char high = s.Buffer.CodeHigh[i], low = s.Buffer.CodeLow[i];
    bool confirm = missed; // a poll missed: the next match needs a second one
    for (int poll = 1; poll <= pollLimit && !s.Link.Refused; ++poll) {
        SendReadCodeAt(s, i);
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

// Writes the byte at `i` (the counter's address), waits, and polls it up to
// the poll limit. True when the polls read it back as written.
static bool WriteAndPoll(ChipSession& s, int32_t i, int pollLimit, PollTiming& t)
{
    const char high = s.Buffer.CodeHigh[i], low = s.Buffer.CodeLow[i];
    PortAccess& port = *s.Link.Port;
    const std::chrono::nanoseconds start = port.Now();
    Instruction write(s.Link);
    AddWriteCode(s, write, i, high, low);
    write.Send();
    const std::chrono::nanoseconds written = port.Now();
    CalibratedWait(s.Link, 1000);
    if (t.cycle.count() > 0 && !s.Link.Refused) {
        if (!t.measured || written - start < t.shortestWrite)
            t.shortestWrite = written - start;
        t.measured = true;
        port.WaitUntil(written + t.cycle - t.shortestWrite * t.answerByte / t.length);
    }
    return PollWritten(s, i, pollLimit);
}

// The polls and rewrites of one byte until it reads back as written; false
// when it never does (or the command was refused). `written`: the byte is
// written already, `missed`: and a poll of it did not read it back.
static bool Program(ChipSession& s, int32_t i, int pollLimit, PollTiming& timing, bool written, bool missed = false)
{
    bool programmed = written ? PollWritten(s, i, pollLimit, missed) : WriteAndPoll(s, i, pollLimit, timing);
    for (int rewrite = 1; rewrite <= 8 && !programmed && !s.Link.Refused; ++rewrite) {
        ReenableProgramming(s);
        programmed = WriteAndPoll(s, i, pollLimit, timing);
    }
    return programmed;
}

static bool Blank(const CodeBuffer& b, int32_t i) { return b.CodeHigh[i] == 'F' && b.CodeLow[i] == 'F'; }

// Programming over a port whose every exchange is a round trip (a USB
// cable), for a chip whose write cycle is specified: the poll that confirms
// a byte goes in one exchange with the write of the next byte, timed so
// that it reaches the chip once the write cycle is over, a round trip after
// the write at the earliest. A poll that still finds the chip busy gives
// that byte, and the one written with the poll (which the busy chip may
// have ignored), the ordinary polls and rewrites.
static OpResult ProgramPipelined(ChipSession& s, int32_t last, int pollLimit, PollTiming& timing)
{
    CodeBuffer& b = s.Buffer;
    PortAccess& port = *s.Link.Port;
    const int32_t end = std::min(last, kBufferSize - 1);
    const size_t length = InstructionLength(s.Chip);
    int32_t pending = -1; // written, not yet confirmed
    std::chrono::nanoseconds pendingWritten{};
    int32_t timedOut = -1;
    std::vector<uint8_t> in;
    for (int32_t i = 0; i <= end && timedOut < 0; ++i) {
        if (!Blank(b, i)) {
            Instruction ins(s.Link);
            if (pending >= 0) {
                port.WaitUntil(pendingWritten + timing.cycle - port.ExchangeGap());
                AddReadCode(s, ins, pending);
            }
            AddWriteCode(s, ins, i, b.CodeHigh[i], b.CodeLow[i]);
            in.assign(ins.Bytes().size(), 0);
            if (!ExchangeInstructions(s.Link, ins.Bytes(), in))
                return OpResult::Refused;
            const std::chrono::nanoseconds written = port.Now();
            if (pending >= 0) {
                SetBits(s.Link.ReceivedBits, in[length - 1]);
                LoadExpected(s.Link, b.CodeHigh[pending], b.CodeLow[pending]);
                if (!BitsMatch(s.Link)) {
                    if (!Program(s, pending, pollLimit, timing, true, true))
                        timedOut = pending;
                    else if (!Program(s, i, pollLimit, timing, true))
                        timedOut = i;
                    if (s.Link.Refused)
                        return OpResult::Refused;
                    pending = -1;
                    NextAddress(b);
                    ShowProgress(s.Panel(), i, last);
                    continue;
                }
            }
            pending = i;
            pendingWritten = written;
        }
        NextAddress(b);
        ShowProgress(s.Panel(), i, last);
    }
    if (timedOut < 0 && pending >= 0) {
        port.WaitUntil(pendingWritten + timing.cycle - port.ExchangeGap());
        if (!Program(s, pending, pollLimit, timing, true))
            timedOut = pending;
    }
    if (s.Link.Refused)
        return OpResult::Refused;
    if (timedOut >= 0) {
        s.Panel().ShowMessage("Programming Time-Out");
        return OpResult::Failed;
    }
    return OpResult::Completed;
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
    if (timing.cycle.count() > 0 && ReadsPerExchange(s) > 1)
        return ProgramPipelined(s, last, pollLimit, timing);
    for (int32_t i = 0; i <= std::min(last, kBufferSize - 1); ++i) {
        bool timedOut = false;
        if (!Blank(b, i)) {
            const bool programmed = Program(s, i, pollLimit, timing, false);
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
