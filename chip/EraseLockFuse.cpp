// Chip erase, lock bits and the user fuse.
#include "Instructions.h"

#include <string>

namespace qvx {

static OpResult Finished(const ChipSession& s) { return s.Link.Refused ? OpResult::Refused : OpResult::Completed; }

OpResult EraseChip3(ChipSession& s)
{
    if (!OpenProgramming(s))
        return OpResult::Refused;
    TransferByte(s.Link, 'A', 'C');
    TransferByte(s.Link, '0', '4');
    TransferByte(s.Link, '0', '0');
    return Finished(s);
}

OpResult EraseChip4(ChipSession& s)
{
    if (!OpenProgramming(s))
        return OpResult::Refused;
    TransferByte(s.Link, 'A', 'C');
    TransferByte(s.Link, '8', '0');
    TransferByte(s.Link, '0', '0');
    TransferByte(s.Link, '0', '0');
    return Finished(s);
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
    TransferByte(s.Link, 'A', 'C');
    TransferBits(s.Link, LockBitValue(level, 1), LockBitValue(level, 2), LockBitValue(level, 3), 1, 1, 1, 1, 1);
    TransferByte(s.Link, 'F', 'F');
    return Finished(s);
}

OpResult WriteLockBits4(ChipSession& s, int32_t level)
{
    if (!OpenProgramming(s))
        return OpResult::Refused;
    // 1,1,1,0,0 then bits 2, 1, 0 for lock bits 3, 2, 1: 0xE6, 0xE4, 0xE0.
    TransferByte(s.Link, 'A', 'C');
    TransferBits(s.Link, 1, 1, 1, 0, 0, LockBitValue(level, 3), LockBitValue(level, 2), LockBitValue(level, 1));
    TransferByte(s.Link, 'F', 'F');
    TransferByte(s.Link, 'F', 'F');
    return Finished(s);
}

static bool ReadLockByte(ChipSession& s, int n, bool judged);

bool WriteLockStep(ChipSession& s, int32_t b1, int32_t b2)
{
    TransferByte(s.Link, 'A', 'C');
    TransferBits(s.Link, 1, 1, 1, 0, 0, 0, b1, b2); // mode byte 0xE0 to 0xE3
    TransferByte(s.Link, '0', '0');
    TransferByte(s.Link, '0', '0');
    CalibratedWait(s.Link, 1000);
    const int confirm = b1 * 2 + b2; // the lock bit this step programs
    if (confirm == 0)
        return true;
    ReenableProgramming(s);
    return ReadLockByte(s, confirm, false);
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
            done = EnableProgramming4(s.Link, 100, s.Chip.Enable) && WriteLockStep(s, b1, b2);
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
    TransferByte(s.Link, 'A', 'C');
    TransferBits(s.Link, 0, 0, 0, 1, 1, 0, fuseBit, 0); // 0x18 with x2 clock, else 0x1A
    TransferByte(s.Link, '5', '5');
    TransferByte(s.Link, 'F', 'F');
    // The chip ignores instructions until the fuse's write cycle is over;
    // the lock write that follows a fuse write would otherwise be lost.
    CalibratedWait(s.Link, 1000);
    return Finished(s);
}

// Reads the lock byte of the AT89S51/52 into the lock boxes: bits 2, 3, 4
// for lock bits 1, 2, 3, a 1 when programmed. True when box n is then ticked.
// `judged`: an enable without answer refuses the command (an operation's
// opening enable) or is merely one failed read (a lock step's confirmation).
static bool ReadLockByte(ChipSession& s, int n, bool judged)
{
    if (judged) {
        if (!OpenProgramming(s))
            return false;
    } else {
        ReenableProgramming(s);
    }
    SendReadLockBits(s.Link);
    if (s.Link.Refused)
        return false;
    for (int box = 1; box <= 3; ++box)
        s.Panel().SetLockBox(box, s.Link.ReceivedBits[7 - (box + 1)] == 1);
    return s.Panel().LockBox(n);
}

bool ReadLockBits(ChipSession& s, int n) { return ReadLockByte(s, n, true); }

OpResult ReadLockBitsActiveLow(ChipSession& s)
{
    if (!OpenProgramming(s))
        return OpResult::Refused;
    SendReadLockBits(s.Link);
    if (s.Link.Refused)
        return OpResult::Refused;
    // Bits 0, 1, 2 for lock bits 1, 2, 3; a 0 when programmed.
    for (int n = 1; n <= 3; ++n)
        s.Panel().SetLockBox(n, s.Link.ReceivedBits[7 - (n - 1)] == 0);
    return OpResult::Completed;
}

OpResult ReadFuses(ChipSession& s)
{
    if (!OpenProgramming(s))
        return OpResult::Refused;
    SendReadFuses(s.Link);
    if (s.Link.Refused)
        return OpResult::Refused;
    s.Panel().SetX2Clock(s.Link.ReceivedBits[6] == 0); // bit 1 low: x2 clock on
    return OpResult::Completed;
}

} // namespace qvx
