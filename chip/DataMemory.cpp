// The data EEPROM of the AT89S8252 and AT89S8253: read into the data buffer,
// programmed from it and verified against it. Reads and verifies settle
// each byte as the code's do (SettledReads.h), one instruction a byte (the
// page instructions read code only). Programming needs no erase: an EEPROM
// byte erases itself as it is written, so only the bytes the chip holds
// otherwise are written, each confirmed by data polling until it reads back,
// for at most a few of its write cycles on the port's clock, and rewritten
// as a code byte is when it does not.
#include "SettledReads.h"

#include <cstdio>

namespace qvx {

namespace {

// A write is polled for at most this many of its longest write cycles,
// this often; a byte that has not read back by then is written again.
constexpr int64_t kDataCyclesToWait = 4;
constexpr int64_t kDataPollNs = 100'000;
constexpr int kDataRewrites = 8;

int32_t DataEnd(const ChipSession& s) { return s.Chip.Data.Size - 1; }

// Every byte of the data memory read until it settles.
SettleOutcome ReadAll(ChipSession& s, int32_t progressLast, std::function<uint8_t(int32_t)> expected = {})
{
    const SetLimits& limits = LimitsOf(s.Chip.Set);
    SettleJob job;
    job.end = DataEnd(s);
    job.pages = false;
    job.progressLast = progressLast;
    if (expected) {
        job.maxReads = limits.VerifyAttempts;
        job.reenableAt = limits.VerifyReenable;
        job.expected = std::move(expected);
    } else {
        job.firstReads = 2;
        job.maxReads = 2 * limits.ReadAttempts;
        job.reenableAt = 2 * limits.ReadReenable - 1; // the first read of that attempt
    }
    return ReadUntilSettled(s, job);
}

OpResult ReadData(ChipSession& s)
{
    if (!OpenProgramming(s))
        return OpResult::Refused;
    const SettleOutcome read = ReadAll(s, DataEnd(s));
    // The bytes that settled, up to the first that did not.
    const int32_t settled = read.stop < 0 ? DataEnd(s) + 1 : read.stop;
    for (int32_t a = 0; a < settled; ++a) {
        const uint8_t value = read.tallies[size_t(a)].Majority();
        s.Buffer.CodeHigh[a] = HexDigitChar(value >> 4);
        s.Buffer.CodeLow[a] = HexDigitChar(value & 15);
    }
    if (read.result == OpResult::Failed)
        s.Panel().ShowMessage("Data memory read error.\n" + NoisyLineMessage(read));
    return read.result;
}

// Polls the byte at `address` until it reads `value`: at the first poll, or
// once a poll has not, at two polls in a row (one read through a noisy line
// may just happen to match). False at the deadline.
bool PollData(ChipSession& s, int32_t address, uint8_t value)
{
    bool confirm = false;
    return PollUntil(s, kDataCyclesToWait * s.Chip.Data.WriteNs, kDataPollNs, [&] {
        SendReadByteAt(s, address);
        const bool match = BitsValue(s.Link.ReceivedBits) == value;
        if (match && !confirm)
            return true;
        confirm = !match;
        return false;
    });
}

// Writes `value` at `address` until a poll reads it back, rewriting it after
// a programming enable as a code byte is. False when it never does, or the
// command was refused.
bool WriteData(ChipSession& s, int32_t address, uint8_t value)
{
    for (int write = 0; write <= kDataRewrites && !s.Link.Refused; ++write) {
        if (write > 0)
            ReenableProgramming(s);
        Instruction ins(s.Link);
        AddWriteData(s, ins, address, value);
        if (ins.Send() && PollData(s, address, value))
            return true;
    }
    return false;
}

OpResult ProgramData(ChipSession& s)
{
    if (!OpenProgramming(s))
        return OpResult::Refused;
    const int32_t end = DataEnd(s);
    const SettleOutcome held = ReadAll(s, -1);
    if (held.result == OpResult::Refused)
        return OpResult::Refused;
    if (held.result == OpResult::Failed) {
        s.Panel().ShowMessage("Data memory read error.\n" + NoisyLineMessage(held));
        return OpResult::Failed;
    }
    for (int32_t a = 0; a <= end; ++a) {
        const uint8_t value = ExpectedByte(s.Buffer, a);
        if (held.tallies[size_t(a)].Majority() != value && !WriteData(s, a, value)) {
            if (s.Link.Refused)
                return OpResult::Refused;
            char line[80];
            std::snprintf(line, sizeof line, "Data memory programming failed at %04X: expected %02X, read %02X",
                          unsigned(a), unsigned(value), unsigned(BitsValue(s.Link.ReceivedBits)));
            s.Panel().Log(line);
            char text[320];
            std::snprintf(text, sizeof text,
                          "The data memory byte at %04X did not read back as written after its write cycle, nor "
                          "after %d rewrites.\nCheck the target's supply and the cable, then program the data "
                          "memory again.",
                          unsigned(a), kDataRewrites);
            s.Panel().ShowMessage(text);
            return OpResult::Failed;
        }
        ShowProgress(s.Panel(), a, end);
    }
    return OpResult::Completed;
}

CheckResult VerifyData(ChipSession& s)
{
    if (!OpenProgramming(s))
        return {false, OpResult::Refused};
    const auto expected = [&s](int32_t a) { return ExpectedByte(s.Buffer, a); };
    const SettleOutcome read = ReadAll(s, DataEnd(s), expected);
    if (read.result == OpResult::Refused)
        return {false, OpResult::Refused};
    if (read.stop < 0)
        return {true, OpResult::Completed};
    if (read.result == OpResult::Failed)
        s.Panel().ShowMessage(NoisyLineMessage(read));
    return {false, read.result, read.stop, expected(read.stop), read.tallies[size_t(read.stop)].Majority()};
}

} // namespace

OpResult ReadData3(ChipSession& s) { return ReadData(s); }

OpResult ReadData4(ChipSession& s) { return ReadData(s); }

OpResult ProgramData3(ChipSession& s) { return ProgramData(s); }

OpResult ProgramData4(ChipSession& s) { return ProgramData(s); }

CheckResult VerifyData3(ChipSession& s) { return VerifyData(s); }

CheckResult VerifyData4(ChipSession& s) { return VerifyData(s); }

} // namespace qvx
