#include "InstructionCable.h"

#include <algorithm>
#include <iostream>
#include <vector>

namespace qvx {

namespace {

constexpr uint8_t kRunLines = 1u << 3 | 1u << 7;

const char* const kOtherCables = "The parallel-port cable, an FT232R USB cable or GPIO lines can program it.";

std::string Khz(int64_t phaseNs)
{
    return phaseNs > 0 ? std::to_string(500'000'000 / phaseNs / 1000) + " kHz" : "any speed";
}

} // namespace

void InstructionCable::Fail(const std::string& what)
{
    if (!failure_.empty())
        return;
    failure_ = what;
    std::cerr << "QVX-ISP: " << failure_ << "; the cable is no longer used" << std::endl;
}

void InstructionCable::WriteDataBit(uint16_t port, uint8_t bit, bool value)
{
    if (!IsLptData(port) || bit > 7)
        return;
    data_ = value ? uint8_t(data_ | 1u << bit) : uint8_t(data_ & ~(1u << bit));
    if ((data_ >> cableline::Rst) & 1)
        return;
    reset_ = true;
    // Run mode: the target is let go now, not at the next command.
    if ((data_ & kRunLines) && programming_ && failure_.empty() && Ready()) {
        programming_ = false;
        LeaveProgramming();
    }
}

bool InstructionCable::GetPortBit(uint16_t port, uint8_t bit)
{
    if (IsLptData(port))
        return (data_ >> (bit & 7)) & 1;
    if (!IsLptStatus(port))
        return false;
    return bit == cableline::Sense ? ((data_ >> cableline::Rst) & 1) && Ready() : true;
}

std::string InstructionCable::TargetRefusal(const TargetNeeds& needs)
{
    target_ = needs;
    const std::string head = "The " + needs.chip + " cannot be programmed through the " + CableName() + ": ";
    if (needs.instructionBytes != 4)
        return head + "it takes three-byte instructions, and the " + CableName() +
               " sends every instruction as four bytes. " + kOtherCables;
    if (needs.spiMode != 0)
        return head + "it shifts its answers out in SPI mode 1 (after the rising SCK edge), and the " +
               CableName() + " clocks SPI mode 0, so every byte read would come back a bit late. " + kOtherCables;
    const int64_t phase = std::max(needs.minHighNs, needs.minLowNs);
    if (phase > SlowestSckPhaseNs())
        return head + "at the crystal set for the target (" + std::to_string(needs.crystalHz) +
               " Hz) the chip takes SCK up to " + Khz(phase) + ", and the " + CableName() + " " + SckText() +
               ". Set the target's crystal (Target crystal... in the window, --crystal on the command line) if "
               "the board has a faster one; otherwise " +
               std::string(kOtherCables).replace(0, 1, "t");
    return {};
}

ExchangeResult InstructionCable::ExchangeInstructions(uint16_t dataPort, const SerialClock& clock,
                                                      std::span<const uint8_t> out, std::span<uint8_t> in,
                                                      std::span<const ExchangePause> pauses)
{
    (void)dataPort; // the cable answers on either LPT address
    const ExchangeResult refused{true, true};
    if (!failure_.empty() || !Ready() || out.size() % 4 != 0 || in.size() < out.size())
        return refused;
    std::fill(in.begin(), in.end(), uint8_t(0));
    size_t at = 0;
    const bool rst = (data_ >> cableline::Rst) & 1;
    if (out.size() >= 4 && out[0] == 0xAC && out[1] == 0x53) {
        // The programming enable: the firmware's own reset and enable, after
        // which the chip's answer to this one is what the program judges.
        if (!rst)
            return refused;
        if (programming_ && !LeaveProgramming())
            return refused;
        programming_ = false;
        if (!EnterProgramming(clock, out.first(4), in.first(4)))
            return refused;
        programming_ = true;
        reset_ = false;
        at = 4;
    } else if (!programming_ || reset_ || !rst) {
        return refused; // not in programming mode
    }
    if (at == out.size())
        return {true, false};
    std::vector<ExchangePause> rest;
    for (const ExchangePause& p : pauses)
        if (p.before >= at)
            rest.push_back({p.before - at, p.ns});
    if (!Transmit(out.subspan(at), in.subspan(at, out.size() - at), rest))
        return refused;
    return {true, false};
}

} // namespace qvx
