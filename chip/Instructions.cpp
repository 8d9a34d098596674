#include "Instructions.h"

#include "Mode.h"

#include <algorithm>

namespace qvx {

const SetLimits& LimitsOf(InstructionSet set)
{
    static constexpr SetLimits three{300, 20, 10, 20, 10};
    static constexpr SetLimits four{100, 50, 25, 40, 20};
    return set == InstructionSet::ThreeByte ? three : four;
}

void ApplyClockFloor(LinkState& link, const Device& chip)
{
    link.SckMinHighNs = CrystalClocksNs(chip.Timing.SckHighClocks, link.CrystalHz);
    link.SckMinLowNs = CrystalClocksNs(chip.Timing.SckLowClocks, link.CrystalHz);
    link.SckFirstLowNs = CrystalClocksNs(chip.Timing.ResetSckLowClocks, link.CrystalHz);
}

bool EnterProgramming(ChipSession& s)
{
    ApplyClockFloor(s.Link, s.Chip);
    if (s.Chip.Set == InstructionSet::ThreeByte) {
        EnableProgramming3(s.Link, 100);
        return !s.Link.Refused;
    }
    return EnableProgramming4(s.Link, 100, s.Chip.Enable);
}

bool OpenProgramming(ChipSession& s)
{
    if (!EnterProgramming(s))
        RefuseCommand(s.Link); // shows the message unless a transfer already did
    return !s.Link.Refused;
}

void ReenableProgramming(ChipSession& s) { EnterProgramming(s); }

// Address bits A13 to A8 from the counter's two high digits.
struct HighAddress {
    int32_t a15 = 0, a14 = 0, a13 = 0, a12 = 0, a11 = 0, a10 = 0, a9 = 0, a8 = 0;
};

// The four address digits, most significant first.
struct AddressDigits {
    char d1, d2, d3, d4;
};


static HighAddress HighAddressOf(const AddressDigits& d)
{
    HighAddress a;
    HexDigitToBits(d.d1, a.a15, a.a14, a.a13, a.a12);
    HexDigitToBits(d.d2, a.a11, a.a10, a.a9, a.a8);
    return a;
}

// Appends the instruction's leading bytes up to and including the low
// address byte, in the encoding of the chip's instruction set. `read`
// chooses read (01 / 0x20) or write (10 / 0x40).
static void AddAddressed(const ChipSession& s, Instruction& ins, bool read, const AddressDigits& d)
{
    const HighAddress a = HighAddressOf(d);
    if (s.Chip.Set == InstructionSet::ThreeByte) {
        // A12 A11 A10 A9 A8 A13, then 0 1 to read or 1 0 to write.
        ins.Bits(a.a12, a.a11, a.a10, a.a9, a.a8, a.a13, read ? 0 : 1, read ? 1 : 0);
    } else {
        if (read)
            ins.Bits(0, 0, 1, 0, 0, 0, 0, 0); // 0x20
        else
            ins.Digits('4', '0');
        ins.Bits(0, 0, a.a13, a.a12, a.a11, a.a10, a.a9, a.a8);
    }
    ins.Digits(d.d3, d.d4);
}

static AddressDigits DigitsOf(int32_t address)
{
    return {HexDigitChar(address >> 12 & 15), HexDigitChar(address >> 8 & 15), HexDigitChar(address >> 4 & 15),
            HexDigitChar(address & 15)};
}

void AddReadCode(const ChipSession& s, Instruction& ins, int32_t address)
{
    AddAddressed(s, ins, true, DigitsOf(address));
    ins.Digits('0', '0'); // the data byte comes back meanwhile
}

void AddWriteCode(const ChipSession& s, Instruction& ins, int32_t address, char high, char low)
{
    AddAddressed(s, ins, false, DigitsOf(address));
    ins.Digits(high, low);
}

// The opcode and address of a data-memory instruction: AT89S8252
// 00 A10 A9 A8 1 0 1 (read) or 1 1 0 (write) and the low address; AT89S8253
// A0h (read) or C0h (write), the high and the low address.
static void AddDataAddress(const ChipSession& s, Instruction& ins, int32_t address, bool read)
{
    const int32_t a10 = address >> 10 & 1, a9 = address >> 9 & 1, a8 = address >> 8 & 1;
    if (s.Chip.Set == InstructionSet::ThreeByte) {
        ins.Bits(0, 0, a10, a9, a8, 1, read ? 0 : 1, read ? 1 : 0);
    } else {
        ins.Byte(read ? 0xA0 : 0xC0);
        ins.Bits(0, 0, 0, 0, 0, a10, a9, a8);
    }
    ins.Byte(uint8_t(address & 0xFF));
}

void AddReadData(const ChipSession& s, Instruction& ins, int32_t address)
{
    AddDataAddress(s, ins, address, true);
    ins.Digits('0', '0'); // the data byte comes back meanwhile
}

void AddWriteData(const ChipSession& s, Instruction& ins, int32_t address, uint8_t value)
{
    AddDataAddress(s, ins, address, false);
    ins.Byte(value);
}

void AddReadByte(const ChipSession& s, Instruction& ins, int32_t address)
{
    if (s.Array == MemoryArray::Data)
        AddReadData(s, ins, address);
    else
        AddReadCode(s, ins, address);
}

void SendReadByteAt(ChipSession& s, int32_t address)
{
    Instruction ins(s.Link);
    AddReadByte(s, ins, address);
    ins.Send();
}

size_t InstructionLength(const Device& chip) { return chip.Set == InstructionSet::ThreeByte ? 3 : 4; }

bool PortTakes(const ChipSession& s, size_t length) { return length <= s.Link.Port->LongestInstruction(); }

TargetNeeds NeedsOf(const LinkState& link, const Device& chip)
{
    return {std::string(chip.Name), InstructionLength(chip), chip.SpiMode,
            CrystalClocksNs(chip.Timing.SckHighClocks, link.CrystalHz),
            CrystalClocksNs(chip.Timing.SckLowClocks, link.CrystalHz), link.CrystalHz};
}

void SendReadCodeAt(ChipSession& s, int32_t address)
{
    Instruction ins(s.Link);
    AddReadCode(s, ins, address);
    ins.Send();
}

size_t PageReadLength(const Device& chip) { return size_t(chip.Page.HeaderBytes + chip.Page.ReadBytes); }

size_t PageWriteLength(const Device& chip) { return size_t(chip.Page.HeaderBytes + chip.Page.WriteBytes); }

// 30h (read) or 50h (write), AH as 0 0 A13 .. A8, and in the three-byte form
// A7 A6 0 0 0 0 0 0.
static void AddPageHeader(const ChipSession& s, Instruction& ins, bool read, int32_t base)
{
    const HighAddress a = HighAddressOf(DigitsOf(base));
    if (read)
        ins.Bits(0, 0, 1, 1, 0, 0, 0, 0);
    else
        ins.Digits('5', '0');
    ins.Bits(0, 0, a.a13, a.a12, a.a11, a.a10, a.a9, a.a8);
    if (s.Chip.Page.HeaderBytes == 3)
        ins.Bits(base >> 7 & 1, base >> 6 & 1, 0, 0, 0, 0, 0, 0);
}

void AddReadPage(const ChipSession& s, Instruction& ins, int32_t base)
{
    AddPageHeader(s, ins, true, base);
    for (int32_t i = 0; i < s.Chip.Page.ReadBytes; ++i)
        ins.Digits('0', '0'); // the page's bytes come back meanwhile
}

void AddWritePage(const ChipSession& s, Instruction& ins, int32_t base)
{
    AddPageHeader(s, ins, false, base);
    for (int32_t a = base; a < base + s.Chip.Page.WriteBytes; ++a)
        ins.Digits(s.Buffer.CodeHigh[a], s.Buffer.CodeLow[a]);
}

uint8_t ExpectedByte(const CodeBuffer& b, int32_t address)
{
    const auto digit = [](char c) { return c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : 0; };
    return uint8_t(digit(b.CodeHigh[address]) << 4 | digit(b.CodeLow[address]));
}

int ReadsPerExchange(const ChipSession& s) { return InstructionsPerExchange(s.Link, InstructionLength(s.Chip)); }

bool PollUntil(ChipSession& s, int64_t forNs, int64_t intervalNs, const std::function<bool()>& done)
{
    PortAccess& port = *s.Link.Port;
    const std::chrono::nanoseconds deadline = port.Now() + std::chrono::nanoseconds(forNs);
    std::chrono::nanoseconds handled = port.Now();
    for (;;) {
        if (done())
            return !s.Link.Refused;
        if (s.Link.Refused)
            return false;
        const std::chrono::nanoseconds now = port.Now();
        if (now >= deadline)
            return false;
        // A chip erase takes up to two seconds: the window keeps painting
        // and its progress bar moving, without paying for it on every poll.
        if (now - handled >= std::chrono::nanoseconds(kPollEventsNs) && s.Link.Panel) {
            s.Link.Panel->ProcessMessages();
            handled = now;
        }
        port.WaitUntil(std::min(deadline, now + std::chrono::nanoseconds(intervalNs)));
    }
}

void WaitOnPort(LinkState& link, int64_t ns)
{
    link.Port->WaitUntil(link.Port->Now() + std::chrono::nanoseconds(ns));
}

void LoadExpected(LinkState& link, char high, char low)
{
    int32_t* e = link.SendBits;
    HexDigitToBits(high, e[0], e[1], e[2], e[3]);
    HexDigitToBits(low, e[4], e[5], e[6], e[7]);
}

static void SendStatusRead(LinkState& link, char low)
{
    Instruction(link).Digits('2', low).Digits('5', '5').Digits('5', '5').Digits('F', 'F').Send();
}

void SendReadLockBits(LinkState& link) { SendStatusRead(link, '4'); }

void SendReadFuses(LinkState& link) { SendStatusRead(link, '1'); }

} // namespace qvx
