// Chip erase, lock bits and the user fuse. Each write is confirmed before
// the operation reports it done: an erase by the chip answering again with
// its memory blank, a lock or fuse write by reading it back where the chip
// can read it, else by waiting out its longest write cycle. The calibrated
// waits stay as extra margin.
#include "Mode.h"
#include "SettledReads.h"

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <string>

namespace qvx {

namespace {

constexpr int64_t kUs = 1000;
constexpr int64_t kMs = 1000 * kUs;

// The slowest chip erase of the family is the AT89S51/52's 500 ms; one that
// has not ended after four times that never will.
constexpr int64_t kEraseDeadlineNs = 4 * 500 * kMs;
constexpr int64_t kErasePollNs = 500 * kUs;
// A lock or fuse write is read back until it shows, for at most four times
// its longest write cycle.
constexpr int64_t kStatusPollNs = 100 * kUs;
int64_t StatusDeadlineNs(const Device& chip) { return 4 * chip.Timing.StatusWriteNs; }

const char kEraseIncomplete[] = "Chip erase did not complete";
const char kLockIncomplete[] = "Lock bit write did not complete";
const char kFuseIncomplete[] = "Fuse write did not complete";

OpResult Finished(const ChipSession& s) { return s.Link.Refused ? OpResult::Refused : OpResult::Completed; }

// The end of an operation whose write did not complete in time.
OpResult Incomplete(ChipSession& s, const char* what)
{
    if (s.Link.Refused)
        return OpResult::Refused;
    s.Panel().ShowMessage(what);
    return OpResult::Failed;
}

// While it erases, the chip ignores every instruction and reads return 00.
// It has finished when it answers again: the four-byte enable echoes 0x69 on
// the parts whose answer counts, and address 0 reads FF.
bool EraseOver(ChipSession& s)
{
    if (s.Chip.Set == InstructionSet::FourByte && s.Chip.Enable == EnableJudgement::AnswerCompared) {
        SendEnableInstruction(s.Link, true);
        if (BitsValue(s.Link.ReceivedBits) != 0x69)
            return false;
    }
    SendReadCodeAt(s, 0);
    return BitsValue(s.Link.ReceivedBits) == 0xFF;
}

OpResult AwaitErase(ChipSession& s)
{
    if (PollUntil(s, kEraseDeadlineNs, kErasePollNs, [&] { return EraseOver(s); }))
        return OpResult::Completed;
    return Incomplete(s, kEraseIncomplete);
}

// Reads a status byte (lock bits, fuse) until its bits have settled by the
// margin the flip rate `rate` needs for one byte, at most 20 times; once
// when the line has shown no noise. True with the byte in ReceivedBits.
bool SettleStatus(ChipSession& s, void (*send)(LinkState&), double rate)
{
    send(s.Link);
    if (rate <= 0 || s.Link.Refused)
        return !s.Link.Refused;
    const int margin = MarginsFor(rate, 1).read;
    Tally tally;
    tally.Add(BitsValue(s.Link.ReceivedBits));
    for (int read = 2; read <= 20 && !s.Link.Refused; ++read) {
        send(s.Link);
        tally.Add(BitsValue(s.Link.ReceivedBits));
        bool settled = true;
        for (int b = 0; b < 8; ++b)
            settled = settled && std::abs(2 * tally.ones[b] - tally.reads) >= margin;
        if (settled) {
            SetBits(s.Link.ReceivedBits, tally.Majority());
            return true;
        }
    }
    return false;
}

// A status byte as a chip read takes it, at the flip rate the line has shown
// in this command; false when it does not settle (and the log says so).
bool ReadStatusSettled(ChipSession& s, void (*send)(LinkState&), const char* what)
{
    if (SettleStatus(s, send, s.FlipRate))
        return true;
    if (!s.Link.Refused)
        s.Panel().Log(std::string("The ") + what + " did not read the same often enough to be taken on this noisy "
                      "line; their boxes are left as they were");
    return false;
}

// The poll that confirms a lock or fuse write, judged as a code byte's is.
// The first read passes when it shows what was written on a line that has
// shown no noise, unless a try before it was not confirmed. After a miss,
// two reads in a row must show it, and on a noisy line the byte must then
// settle by the margin the line's flip rate needs. A read that showed it followed by one that did not is a flipped bit
// (a written bit reads so until an erase), and raises that rate: a lock bit
// that never programs does not pass on reads the noise happened to flip.
bool PollStatus(ChipSession& s, int64_t forNs, void (*send)(LinkState&), const std::function<bool(uint8_t)>& shows)
{
    int streak = 0;
    uint64_t reads = 0, flips = 0;
    const bool landed = PollUntil(s, forNs, kStatusPollNs, [&] {
        send(s.Link);
        ++reads;
        if (!shows(BitsValue(s.Link.ReceivedBits))) {
            flips += streak > 0 ? 1 : 0;
            streak = 0;
            return false;
        }
        ++streak;
        if (streak == 1 && (reads > 1 || s.FlipRate > 0 || s.StatusUnconfirmed))
            return false;
        const double rate = std::max(s.FlipRate, FlipRate(flips, reads * 8));
        if (rate <= 0 || (SettleStatus(s, send, rate) && shows(BitsValue(s.Link.ReceivedBits))))
            return true;
        ++flips; // the reads that showed it were not the chip's byte
        streak = 0;
        return false;
    });
    // What the line showed holds for the rest of the command: a lock step
    // tried again must not pass on one lucky read either.
    s.FlipRate = std::max(s.FlipRate, FlipRate(flips, reads * 8));
    s.StatusUnconfirmed = s.StatusUnconfirmed || !landed;
    return landed;
}

} // namespace

OpResult EraseChip3(ChipSession& s)
{
    if (!OpenProgramming(s))
        return OpResult::Refused;
    Instruction(s.Link).Digits('A', 'C').Digits('0', '4').Digits('0', '0').Send();
    if (s.Link.Refused)
        return OpResult::Refused;
    return AwaitErase(s);
}

OpResult EraseChip4(ChipSession& s)
{
    if (!OpenProgramming(s))
        return OpResult::Refused;
    Instruction(s.Link).Digits('A', 'C').Digits('8', '0').Digits('0', '0').Digits('0', '0').Send();
    if (s.Link.Refused)
        return OpResult::Refused;
    return AwaitErase(s);
}

// 0 when lock bit `bit` (1 to 3) is to be programmed at this level.
static int32_t LockBitValue(int32_t level, int32_t bit)
{
    return level >= bit && level <= 3 ? 0 : 1;
}

OpResult WriteLockBits3(ChipSession& s, int32_t level)
{
    if (!OpenProgramming(s))
        return OpResult::Refused;
    // Bits 7, 6, 5 stand for lock bits 1, 2, 3: 0x7F, 0x3F, 0x1F.
    Instruction(s.Link)
        .Digits('A', 'C')
        .Bits(LockBitValue(level, 1), LockBitValue(level, 2), LockBitValue(level, 3), 1, 1, 1, 1, 1)
        .Digits('F', 'F')
        .Send();
    // The three-byte set cannot read its lock bits: wait the write out.
    if (!s.Link.Refused)
        WaitOnPort(s.Link, s.Chip.Timing.StatusWriteNs);
    return Finished(s);
}

OpResult WriteLockBits4(ChipSession& s, int32_t level)
{
    if (!OpenProgramming(s))
        return OpResult::Refused;
    // 1,1,1,0,0 then bits 2, 1, 0 for lock bits 3, 2, 1: 0xE6, 0xE4, 0xE0.
    Instruction(s.Link)
        .Digits('A', 'C')
        .Bits(1, 1, 1, 0, 0, LockBitValue(level, 3), LockBitValue(level, 2), LockBitValue(level, 1))
        .Digits('F', 'F')
        .Digits('F', 'F')
        .Send();
    if (s.Link.Refused)
        return OpResult::Refused;
    // Bits 0, 1, 2 for lock bits 1, 2, 3 read 0 once programmed.
    int programmed = 0;
    for (int32_t bit = 1; bit <= 3; ++bit)
        programmed |= LockBitValue(level, bit) == 0 ? 1 << (bit - 1) : 0;
    if (programmed == 0) { // nothing to read back
        WaitOnPort(s.Link, s.Chip.Timing.StatusWriteNs);
        return Finished(s);
    }
    const bool landed = PollStatus(s, StatusDeadlineNs(s.Chip), SendReadLockBits,
                                   [&](uint8_t lock) { return (lock & programmed) == 0; });
    return landed ? OpResult::Completed : Incomplete(s, kLockIncomplete);
}

static bool ReadLockByte(ChipSession& s, int n, bool judged, int64_t settleNs = 0);

bool WriteLockStep(ChipSession& s, int32_t b1, int32_t b2)
{
    // Mode byte 0xE0 to 0xE3.
    Instruction(s.Link).Digits('A', 'C').Bits(1, 1, 1, 0, 0, 0, b1, b2).Digits('0', '0').Digits('0', '0').Send();
    CalibratedWait(s.Link, 1000);
    // The write cycle is waited out before reset pulses for the next enable:
    // a reset during it could cut it short, and the next step's write would
    // be ignored while it runs. Mode 1 programs no bit, so there is nothing
    // to read back after it.
    if (!s.Link.Refused)
        WaitOnPort(s.Link, s.Chip.Timing.StatusWriteNs);
    const int confirm = b1 * 2 + b2; // the lock bit this step programs
    if (confirm == 0)
        return true;
    ReenableProgramming(s);
    return ReadLockByte(s, confirm, false, StatusDeadlineNs(s.Chip));
}

OpResult WriteLockBitsStepwise(ChipSession& s, int32_t level)
{
    static const int32_t steps[][2] = {{0, 0}, {0, 1}, {1, 0}, {1, 1}};
    // Level 1 takes the first two mode steps, each level above one more.
    const int count = level >= 1 && level <= 3 ? level + 1 : 0;
    for (int step = 0; step < count; ++step) {
        const int32_t b1 = steps[step][0], b2 = steps[step][1];
        bool done = false;
        for (int attempt = 1; attempt <= 11 && !done; ++attempt) {
            done = EnterProgramming(s) && WriteLockStep(s, b1, b2);
            if (s.Link.Refused)
                return OpResult::Refused;
        }
        if (!done) {
            s.Panel().ShowMessage("Timeout Lb1=" + std::to_string(b1) + " Lb2=" + std::to_string(b2));
            return OpResult::Failed;
        }
    }
    return OpResult::Completed;
}

OpResult WriteFuses(ChipSession& s)
{
    if (!OpenProgramming(s))
        return OpResult::Refused;
    SendReadFuses(s.Link); // the answer is not used
    const int32_t fuseBit = s.Panel().X2Clock() ? 0 : 1;
    if (!OpenProgramming(s))
        return OpResult::Refused;
    // 0x18 with x2 clock, else 0x1A.
    Instruction(s.Link).Digits('A', 'C').Bits(0, 0, 0, 1, 1, 0, fuseBit, 0).Digits('5', '5').Digits('F', 'F').Send();
    // The chip ignores instructions until the fuse's write cycle is over;
    // the lock write that follows a fuse write would otherwise be lost.
    CalibratedWait(s.Link, 1000);
    if (s.Link.Refused)
        return OpResult::Refused;
    // Read back until the fuses show what was written: 1, 0, x2 bit, 0.
    const uint8_t written = static_cast<uint8_t>(0x08 | fuseBit << 1);
    const bool landed = PollStatus(s, StatusDeadlineNs(s.Chip), SendReadFuses,
                                   [&](uint8_t fuses) { return (fuses & 0x0F) == written; });
    return landed ? OpResult::Completed : Incomplete(s, kFuseIncomplete);
}


// Reads the lock byte of the AT89S51/52 into the lock boxes: bits 2, 3, 4
// for lock bits 1, 2, 3, a 1 when programmed. True when box n is then ticked.
// `judged`: an enable without answer refuses the command (an operation's
// opening enable) or is merely one failed read (a lock step's confirmation).
// `settleNs`: a lock bit just written may take that long to show; the byte is
// read again until bit n does.
static bool ReadLockByte(ChipSession& s, int n, bool judged, int64_t settleNs)
{
    if (judged) {
        if (!OpenProgramming(s))
            return false;
    } else {
        ReenableProgramming(s);
    }
    bool confirmed = true;
    if (settleNs > 0)
        confirmed = PollStatus(s, settleNs, SendReadLockBits,
                               [&](uint8_t lock) { return ((lock >> (n + 1)) & 1) != 0; });
    else if (!ReadStatusSettled(s, SendReadLockBits, "lock bits"))
        return false;
    if (s.Link.Refused)
        return false;
    s.LockBitsRead = BitsValue(s.Link.ReceivedBits) >> 2 & 7;
    for (int box = 1; box <= 3; ++box)
        s.Panel().SetLockBox(box, s.Link.ReceivedBits[7 - (box + 1)] == 1);
    return confirmed && s.Panel().LockBox(n);
}

bool ReadLockBits(ChipSession& s, int n) { return ReadLockByte(s, n, true); }

OpResult ReadLockBitsActiveLow(ChipSession& s)
{
    if (!OpenProgramming(s))
        return OpResult::Refused;
    if (!ReadStatusSettled(s, SendReadLockBits, "lock bits"))
        return s.Link.Refused ? OpResult::Refused : OpResult::Failed;
    // Bits 0, 1, 2 for lock bits 1, 2, 3; a 0 when programmed.
    s.LockBitsRead = ~BitsValue(s.Link.ReceivedBits) & 7;
    for (int n = 1; n <= 3; ++n)
        s.Panel().SetLockBox(n, s.Link.ReceivedBits[7 - (n - 1)] == 0);
    return OpResult::Completed;
}

OpResult ReadFuses(ChipSession& s)
{
    if (!OpenProgramming(s))
        return OpResult::Refused;
    if (!ReadStatusSettled(s, SendReadFuses, "fuse bits"))
        return s.Link.Refused ? OpResult::Refused : OpResult::Failed;
    s.Panel().SetX2Clock(s.Link.ReceivedBits[6] == 0); // bit 1 low: x2 clock on
    return OpResult::Completed;
}

} // namespace qvx
