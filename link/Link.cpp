#include "Link.h"

#include <algorithm>
#include <ctime>
#include <limits>

namespace qvx {

void SpinDelay(int32_t count)
{
    if (count < 0)
        return;
    for (int64_t step = int64_t(count) + 1; step > 0; --step) {
        // An empty statement the optimiser must keep: one real step per turn.
        asm volatile("" ::: "memory");
    }
}

void HexDigitToBits(char text, int32_t& weight8, int32_t& weight4, int32_t& weight2, int32_t& weight1)
{
    int value;
    if (text >= '0' && text <= '9')
        value = text - '0';
    else if (text >= 'A' && text <= 'F')
        value = text - 'A' + 10;
    else
        return; // not a digit: the cells keep their values
    weight8 = (value >> 3) & 1;
    weight4 = (value >> 2) & 1;
    weight2 = (value >> 1) & 1;
    weight1 = value & 1;
}

// The floor's moments are taken after the port call that made the edge has
// returned, and the waits end before the next edge's call begins: wherever
// within its call an edge reaches the wire, each phase is at least as long
// as the floor.
int32_t ClockBit(LinkState& link)
{
    PortAccess& port = *link.Port;
    const bool floor = link.SckMinHighNs > 0 || link.SckMinLowNs > 0;
    port.SetPortBit(link.StatusPort, pin::Miso);
    if (floor)
        port.WaitUntil(link.SckLowUntil);
    port.SetPortBit(link.DataPort, pin::Sck); // clock rises
    const std::chrono::nanoseconds rose = floor ? port.Now() : std::chrono::nanoseconds{};
    SpinDelay(link.ClockDelay);
    const int32_t sample = port.GetPortBit(link.StatusPort, pin::Miso) ? 1 : 0;
    if (floor)
        port.WaitUntil(rose + std::chrono::nanoseconds(link.SckMinHighNs));
    port.ClrPortBit(link.DataPort, pin::Sck); // clock falls
    if (floor)
        link.SckLowUntil = port.Now() + std::chrono::nanoseconds(link.SckMinLowNs);
    SpinDelay(link.ClockDelay);
    return sample;
}

// True when the target may be clocked: the command has not been refused or
// asked to stop, and the program-mode sense reads 1. The first refusal of a
// command shows its message; later transfers of that command send nothing
// and show nothing. A stop ends the command the same way, silently.
static bool SenseReady(LinkState& link)
{
    if (link.Refused)
        return false;
    if (link.StopRequested) {
        link.Refused = true;
        return false;
    }
    if (link.Port->GetPortBit(link.StatusPort, pin::Sense))
        return true;
    link.SenseLow = true;
    RefuseCommand(link);
    return false;
}

static void ShiftOut(LinkState& link, const int32_t (&bits)[8])
{
    for (int i = 0; i < 8; ++i) {
        if (bits[i] == 1)
            link.Port->SetPortBit(link.DataPort, pin::Mosi);
        else
            link.Port->ClrPortBit(link.DataPort, pin::Mosi);
        link.ReceivedBits[i] = ClockBit(link);
    }
}

void SetBits(int32_t (&bits)[8], uint8_t value)
{
    for (int i = 0; i < 8; ++i)
        bits[i] = (value >> (7 - i)) & 1;
}

// Where the program-mode sense is checked: here, for every transfer. On a
// port clocked bit by bit it is read before each byte (SenseReady), so a
// refused byte is never sent. A backend that takes whole instructions reads
// it in the samples of the exchange itself, every byte clocked; a 0 in any
// of them is the same refusal, found once the exchange is over, and the
// answers of a refused exchange are not taken.
bool ExchangeInstructions(LinkState& link, std::span<const uint8_t> out, std::span<uint8_t> in,
                          std::span<const ExchangePause> pauses)
{
    if (link.Refused)
        return false;
    if (link.StopRequested) {
        link.Refused = true;
        return false;
    }
    PortAccess& port = *link.Port;
    const SerialClock clock{link.SckMinHighNs, link.SckMinLowNs, link.SckLowUntil};
    const bool floor = clock.minHighNs > 0 || clock.minLowNs > 0;
    const ExchangeResult result = port.ExchangeInstructions(link.DataPort, clock, out, in, pauses);
    if (!result.taken) {
        for (size_t i = 0, p = 0; i < out.size(); ++i) {
            for (; p < pauses.size() && pauses[p].before <= i; ++p)
                if (pauses[p].before == i)
                    port.WaitUntil(port.Now() + std::chrono::nanoseconds(pauses[p].ns));
            if (!SenseReady(link))
                return false;
            int32_t bits[8];
            SetBits(bits, out[i]);
            ShiftOut(link, bits);
            in[i] = BitsValue(link.ReceivedBits);
        }
        return true;
    }
    if (floor)
        link.SckLowUntil = port.Now() + std::chrono::nanoseconds(clock.minLowNs);
    if (result.senseLow) {
        link.SenseLow = true;
        RefuseCommand(link);
        return false;
    }
    if (!in.empty())
        SetBits(link.ReceivedBits, in.back());
    return true;
}

int InstructionsPerExchange(const LinkState& link, size_t length, int64_t pauseNs)
{
    return std::max(1, link.Port->InstructionsPerExchange({link.SckMinHighNs, link.SckMinLowNs}, length, pauseNs));
}

Instruction& Instruction::Digits(char high, char low)
{
    int32_t* s = link_.SendBits;
    HexDigitToBits(high, s[0], s[1], s[2], s[3]);
    HexDigitToBits(low, s[4], s[5], s[6], s[7]);
    bytes_.push_back(BitsValue(link_.SendBits));
    return *this;
}

Instruction& Instruction::Bits(int32_t b7, int32_t b6, int32_t b5, int32_t b4, int32_t b3, int32_t b2,
                               int32_t b1, int32_t b0)
{
    const int32_t bits[8] = {b7, b6, b5, b4, b3, b2, b1, b0};
    bytes_.push_back(BitsValue(bits));
    return *this;
}

Instruction& Instruction::Byte(uint8_t value)
{
    bytes_.push_back(value);
    return *this;
}

Instruction& Instruction::Pause(int64_t ns)
{
    if (ns > 0)
        pauses_.push_back({bytes_.size(), ns});
    return *this;
}

bool Instruction::Send()
{
    std::vector<uint8_t> answers;
    return Exchange(answers);
}

bool Instruction::Exchange(std::vector<uint8_t>& in)
{
    in.assign(bytes_.size(), 0);
    return ExchangeInstructions(link_, bytes_, in, pauses_);
}

void TransferByte(LinkState& link, char high, char low)
{
    int32_t* s = link.SendBits;
    HexDigitToBits(high, s[0], s[1], s[2], s[3]);
    HexDigitToBits(low, s[4], s[5], s[6], s[7]);
    if (!SenseReady(link))
        return;
    ShiftOut(link, link.SendBits);
}

void TransferBits(LinkState& link, int32_t b7, int32_t b6, int32_t b5, int32_t b4, int32_t b3,
                  int32_t b2, int32_t b1, int32_t b0)
{
    if (!SenseReady(link))
        return;
    const int32_t bits[8] = {b7, b6, b5, b4, b3, b2, b1, b0};
    ShiftOut(link, bits);
}

bool BitsMatch(const LinkState& link)
{
    for (int i = 0; i < 8; ++i)
        if (link.SendBits[i] != link.ReceivedBits[i])
            return false;
    return true;
}

uint8_t BitsValue(const int32_t (&bits)[8])
{
    unsigned value = 0;
    for (int i = 0; i < 8; ++i)
        value = (value << 1) | (bits[i] == 1 ? 1u : 0u);
    return static_cast<uint8_t>(value);
}

void BeginCommand(LinkState& link)
{
    link.Refused = false;
    link.SenseLow = false;
    link.Enables = {};
}

void RefuseCommand(LinkState& link)
{
    if (link.Refused)
        return;
    link.Refused = true;
    if (link.Panel) {
        const std::string failure = link.Port ? link.Port->Failure() : std::string();
        link.Panel->ShowMessage(failure.empty() ? kNotInProgramMode : failure);
    }
}

std::string LocalTimeText()
{
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[16];
    std::strftime(text, sizeof text, "%H:%M:%S", &local);
    return text;
}

void CalibrateWait(LinkState& link, const TimeSource& now)
{
    const std::string first = now();
    std::string reference = now();
    while (reference == first) // wait for a new second to begin
        reference = now();
    int64_t count = 0;
    while (now() == reference)
        ++count;
    link.WaitUnits = WaitUnitsFor(count, link.TimingFactor);
}

int32_t WaitUnitsFor(int64_t count, int32_t timingFactor)
{
    // With the count held to 31 bits the product stays far inside 64 bits.
    constexpr int64_t kMaxCount = int64_t(1) << 31;
    const int64_t units = std::clamp(count, -kMaxCount, kMaxCount) * timingFactor / 1000;
    return static_cast<int32_t>(std::clamp<int64_t>(units, std::numeric_limits<int32_t>::min(),
                                                    std::numeric_limits<int32_t>::max()));
}

int64_t CrystalClocksNs(uint32_t clocks, uint32_t hz)
{
    if (hz == 0)
        return 0;
    return (int64_t(clocks) * 1'000'000'000 + hz - 1) / hz;
}

void CalibratedWait(const LinkState& link, int32_t unit)
{
    if (link.WaitUnits < 0)
        return;
    for (int64_t n = int64_t(link.WaitUnits) + 1; n > 0; --n)
        SpinDelay(unit);
}

} // namespace qvx
