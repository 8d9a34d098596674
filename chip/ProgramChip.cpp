// Programming the buffer into the chip: each byte written is read back until
// it matches, with a bounded number of polls and of complete rewrites. FF
// bytes are not written at all.
#include "SettledReads.h"

#include <algorithm>
#include <cstdio>
#include <string>
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

// A byte that never read back as written: the message, and the address
// with what was expected and read there in the log.
static OpResult TimedOut(ChipSession& s, int32_t address)
{
    char line[64];
    std::snprintf(line, sizeof line, "Programming failed at %04X: expected %02X, read %02X", unsigned(address),
                  unsigned(ExpectedByte(s.Buffer, address)), unsigned(BitsValue(s.Link.ReceivedBits)));
    s.Panel().Log(line);
    s.Panel().ShowMessage("Programming Time-Out");
    return OpResult::Failed;
}

// The bytes from `from` on, one at a time, each polled until it reads back.
static OpResult ProgramBytes(ChipSession& s, int32_t from, int32_t last, int pollLimit, PollTiming& timing)
{
    CodeBuffer& b = s.Buffer;
    for (int32_t i = from; i <= std::min(last, kBufferSize - 1); ++i) {
        bool timedOut = false;
        if (!Blank(b, i)) {
            const bool programmed = Program(s, i, pollLimit, timing, false);
            if (s.Link.Refused)
                return OpResult::Refused;
            timedOut = !programmed;
        }
        NextAddress(b);
        ShowProgress(s.Panel(), i, last);
        if (timedOut)
            return TimedOut(s, i);
    }
    return OpResult::Completed;
}

// Programming in units (whole pages where the chip has page writes, else
// bytes on a port whose round trips are costly, for a chip whose write
// cycle is specified) that stream: each unit's write, SCK held low for its
// write cycle, and the poll of the last byte written, timed so that its
// answer comes as the cycle ends; as many units to an exchange as the port
// takes. The polls are checked once the exchange is back. A unit whose
// poll did not read back as written, or that followed one (the chip, still
// busy, may have ignored it), is waited for and otherwise written again the
// ordinary way, byte by byte with its polls and rewrites (flash writes only
// clear bits: a byte written twice is as written once); a byte that never
// takes fails the command at its address.
//
// On a chip whose page header is unsure, the first page of a command goes
// alone and is read back byte by byte; when it does not match, the command
// goes on byte by byte from that page, and `fallback` says from where.
static OpResult ProgramUnits(ChipSession& s, int32_t last, int pollLimit, PollTiming& timing, bool pages,
                             int32_t& fallback)
{
    CodeBuffer& b = s.Buffer;
    LinkState& link = s.Link;
    const int32_t end = std::min(last, kBufferSize - 1);
    const int32_t size = pages ? s.Chip.Page.WriteBytes : 1;
    const int64_t cycle = pages ? s.Chip.Page.WriteNs : timing.cycle.count();
    const size_t pollLength = InstructionLength(s.Chip);
    // The poll reaches its answer byte no sooner than its first bytes take
    // at the serial clock floor.
    const int64_t lead = int64_t(pollLength - 1) * 8 * (link.SckMinHighNs + link.SckMinLowNs);
    const int64_t pause = std::max<int64_t>(0, cycle - lead);
    const size_t perExchange = size_t(InstructionsPerExchange(
        link, (pages ? PageWriteLength(s.Chip) : pollLength) + pollLength, pause));
    const auto lastOf = [&](int32_t base) { return std::min(base + size - 1, end); };
    const auto polled = [&](int32_t base, uint8_t answer) { return answer == ExpectedByte(b, lastOf(base)); };

    std::vector<int32_t> units;
    for (int32_t base = 0; base <= end; base += size) {
        bool blank = true;
        for (int32_t a = base; a <= lastOf(base) && blank; ++a)
            blank = Blank(b, a);
        if (!blank)
            units.push_back(base);
    }
    int32_t stepped = 0; // the counter and progress bar have passed the addresses below
    const auto stepTo = [&](int32_t address) {
        for (; stepped <= address; ++stepped) {
            NextAddress(b);
            ShowProgress(s.Panel(), stepped, last);
        }
    };
    // A unit that did not confirm in the stream: waited for (a page's cycle
    // may run long), then programmed byte by byte. -1 when it took, else
    // the address that never did.
    const auto settle = [&](int32_t base) -> int32_t {
        if (pages && PollUntil(s, 4 * cycle, 100'000, [&] {
                SendReadCodeAt(s, lastOf(base));
                return polled(base, BitsValue(link.ReceivedBits));
            }))
            return -1;
        for (int32_t a = base; a <= lastOf(base) && !link.Refused; ++a)
            if (!Blank(b, a) && !Program(s, a, pollLimit, timing, false))
                return a;
        return -1;
    };

    std::vector<uint8_t> in;
    for (size_t at = 0; at < units.size();) {
        const bool trial = pages && s.Chip.Page.HeaderUnsure && s.Pages == PageForm::Unchecked;
        const size_t count = trial ? 1 : std::min(perExchange, units.size() - at);
        Instruction ins(link);
        std::vector<size_t> answers;
        for (size_t k = at; k < at + count; ++k) {
            if (pages)
                AddWritePage(s, ins, units[k]);
            else
                AddWriteCode(s, ins, units[k], b.CodeHigh[units[k]], b.CodeLow[units[k]]);
            ins.Pause(pause);
            AddReadCode(s, ins, lastOf(units[k]));
            answers.push_back(ins.Bytes().size() - 1);
        }
        if (!ins.Exchange(in))
            return OpResult::Refused;
        if (trial) {
            const int32_t base = units[at];
            bool works = polled(base, in[answers[0]]) || PollUntil(s, 4 * cycle, 100'000, [&] {
                             SendReadCodeAt(s, lastOf(base));
                             return polled(base, BitsValue(link.ReceivedBits));
                         });
            if (works) {
                SettleJob check;
                check.first = base;
                check.end = lastOf(base);
                check.pages = false;
                check.maxReads = LimitsOf(s.Chip.Set).VerifyAttempts;
                check.reenableAt = LimitsOf(s.Chip.Set).VerifyReenable;
                check.expected = [&](int32_t a) { return ExpectedByte(b, a); };
                const SettleOutcome read = ReadUntilSettled(s, check);
                if (read.result == OpResult::Refused)
                    return OpResult::Refused;
                works = read.result == OpResult::Completed && read.stop < 0;
            }
            if (link.Refused)
                return OpResult::Refused;
            s.Pages = works ? PageForm::Works : PageForm::Refused;
            if (!works) {
                char line[128];
                std::snprintf(line, sizeof line, "The %s did not take the page written at %04X; programming byte by byte",
                              std::string(s.Chip.Name).c_str(), unsigned(base));
                s.Panel().Log(line);
                ReenableProgramming(s); // the chip may have taken the page's bytes for instructions
                stepTo(base - 1);
                fallback = base;
                return OpResult::Completed;
            }
            stepTo(lastOf(base));
            ++at;
            continue;
        }
        bool chain = true; // every unit so far in this exchange confirmed
        for (size_t k = at; k < at + count; ++k) {
            chain = chain && polled(units[k], in[answers[k - at]]);
            const int32_t failed = chain ? -1 : settle(units[k]);
            if (link.Refused)
                return OpResult::Refused;
            if (failed >= 0) {
                stepTo(failed);
                return TimedOut(s, failed);
            }
            stepTo(lastOf(units[k]));
        }
        at += count;
    }
    stepTo(end);
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

    ResetAddress(s.Buffer);
    if (!OpenProgramming(s))
        return OpResult::Refused;
    int32_t from = 0;
    if (s.Chip.Page.WriteBytes > 0 && s.Pages != PageForm::Refused && PortTakes(s, PageWriteLength(s.Chip))) {
        from = -1;
        const OpResult paged = ProgramUnits(s, last, pollLimit, timing, true, from);
        if (from < 0)
            return paged;
    }
    if (timing.cycle.count() > 0 && ReadsPerExchange(s) > 1 && from == 0) {
        int32_t unused = -1;
        return ProgramUnits(s, last, pollLimit, timing, false, unused);
    }
    return ProgramBytes(s, from, last, pollLimit, timing);
}

OpResult ProgramCode3(ChipSession& s, int32_t last) { return ProgramCode(s, last); }

OpResult ProgramCode4(ChipSession& s, int32_t last) { return ProgramCode(s, last); }

} // namespace qvx
