#include "Mode.h"

#include <algorithm>

namespace qvx {

static int32_t ResetDelay(int32_t factor)
{
    return static_cast<int32_t>(static_cast<uint32_t>(factor) * 10000u);
}

void ResetPulse(LinkState& link, int32_t factor)
{
    PortAccess& port = *link.Port;
    const int32_t delay = ResetDelay(factor);
    for (uint8_t bit : {pin::RunLine7, pin::RunLine3, pin::Rst, pin::Sck, pin::Mosi})
        port.ClrPortBit(link.DataPort, bit);
    SpinDelay(delay);
    port.SetPortBit(link.DataPort, pin::Rst);
    SpinDelay(delay);
    // A reset low pulse as short as two port calls.
    port.ClrPortBit(link.DataPort, pin::Rst);
    port.SetPortBit(link.DataPort, pin::Rst);
    // SCK, low since the start, stays low for the chip's first low phase.
    const int64_t firstLow = std::max(link.SckMinLowNs, link.SckFirstLowNs);
    if (firstLow > 0)
        link.SckLowUntil = port.Now() + std::chrono::nanoseconds(firstLow);
}

void SendEnableInstruction(LinkState& link, bool fourByte)
{
    Instruction enable(link);
    enable.Digits('A', 'C').Digits('5', '3').Digits('5', '5');
    if (fourByte)
        enable.Digits('5', '5');
    std::vector<uint8_t> answer;
    if (!enable.Exchange(answer))
        return; // nothing reached the chip: nothing was seen either
    LinkState::EnablesSeen& seen = link.Enables;
    ++seen.Count;
    for (uint8_t byte : answer) {
        seen.High = seen.High || byte != 0x00;
        seen.Low = seen.Low || byte != 0xFF;
    }
    seen.Sent = enable.Bytes();
    seen.Answer = std::move(answer);
}

bool MisoOutOfReset(LinkState& link)
{
    PortAccess& port = *link.Port;
    port.ClrPortBit(link.DataPort, pin::Sck);
    port.ClrPortBit(link.DataPort, pin::Rst);
    const bool miso = port.GetPortBit(link.StatusPort, pin::Miso);
    port.SetPortBit(link.DataPort, pin::Rst);
    return miso;
}

void EnableProgramming3(LinkState& link, int32_t factor)
{
    ResetPulse(link, factor);
    SendEnableInstruction(link, false);
}

bool EnableProgramming4(LinkState& link, int32_t factor, EnableJudgement judgement)
{
    int32_t* s = link.SendBits;
    for (int attempt = 1; attempt <= 10; ++attempt) {
        ResetPulse(link, factor);
        SpinDelay(ResetDelay(factor));
        SendEnableInstruction(link, true);
        s[0] = 0, s[1] = 1, s[2] = 1, s[3] = 0, s[4] = 1, s[5] = 0, s[6] = 0, s[7] = 1; // 0x69
        if (link.Refused)
            return false; // nothing reached the chip; further attempts send nothing either
        if (BitsMatch(link))
            return true;
        if (judgement == EnableJudgement::AnswerIgnored)
            return true;
    }
    return false;
}

void SetProgramModeLines(LinkState& link)
{
    link.Port->SetPortBit(link.DataPort, pin::Rst);
    link.Port->ClrPortBit(link.DataPort, pin::RunLine7);
    link.Port->ClrPortBit(link.DataPort, pin::RunLine3);
}

void SetRunModeLines(LinkState& link)
{
    link.Port->ClrPortBit(link.DataPort, pin::Rst);
    link.Port->SetPortBit(link.DataPort, pin::RunLine7);
    link.Port->SetPortBit(link.DataPort, pin::RunLine3);
}

void SetRunModeLinesFromSignal(LinkState& link) noexcept
{
    if (PortAccess* port = link.Port) {
        constexpr auto runLines = static_cast<uint8_t>(1u << pin::RunLine3 | 1u << pin::RunLine7);
        constexpr auto reset = static_cast<uint8_t>(1u << pin::Rst);
        port->SignalSafeWrite(link.DataPort, runLines, reset);
    }
}

void SetOperationMode(LinkState& link, bool program, bool fuseDevice)
{
    if (program) {
        SetProgramModeLines(link);
        link.Panel->SetStatus("PROGRAM MODE.");
        link.Panel->ProcessMessages();
        link.ProgramMode = -1;
        EnableChipControls(link, fuseDevice);
    } else {
        SetRunModeLines(link);
        link.Panel->SetStatus("RUN MODE.");
        link.Panel->ProcessMessages();
        link.ProgramMode = 0;
        DisableChipControls(link);
    }
}

void ToggleOperationMode(LinkState& link, bool fuseDevice)
{
    if (link.ProgramMode != 0) {
        SetRunModeLines(link);
        link.Panel->SetModeChecks(false);
        link.Panel->SetStatus("RUN MODE.");
        link.ProgramMode = 0;
        DisableChipControls(link);
    } else {
        SetProgramModeLines(link);
        link.Panel->SetModeChecks(true);
        link.Panel->SetStatus("PROGRAM MODE.");
        link.ProgramMode = -1;
        EnableChipControls(link, fuseDevice);
    }
}

static constexpr ChipControl kChipControls[] = {
    ChipControl::LoadFile, ChipControl::Erase,   ChipControl::Blank,
    ChipControl::Program,  ChipControl::Verify,  ChipControl::Auto,
    ChipControl::LockKey,  ChipControl::ReadChipMenu, ChipControl::ReadChip,
};

void EnableChipControls(LinkState& link, bool fuseDevice)
{
    for (ChipControl control : kChipControls)
        link.Panel->SetControlEnabled(control, true);
    if (fuseDevice)
        link.Panel->SetControlEnabled(ChipControl::FuseWrite, true);
}

void DisableChipControls(LinkState& link)
{
    for (ChipControl control : kChipControls)
        link.Panel->SetControlEnabled(control, false);
    link.Panel->SetControlEnabled(ChipControl::FuseWrite, false);
}

} // namespace qvx
