// The chip operations on a simulated cable and chip: one session with a
// panel that records what it is shown, each operation the one of the
// device's instruction set, and the chip's trace of instructions.
#pragma once

#include "BufferBytes.h"
#include "ChipOps.h"
#include "Instructions.h"
#include "RecordingPanel.h"
#include "SimPort.h"

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace qvx::test {

class SimBench {
public:
    // `waitUnits` as the link has them: 0 is one short spin per wait, -1 no
    // calibrated wait at all (the chip is waited out on its own clock).
    explicit SimBench(const std::string& options, int32_t waitUnits = 0)
    {
        std::string error;
        port = MakeSimPort(options, error);
        if (!port)
            throw std::runtime_error(options + ": " + error);
        device = FindDevice(DeviceCodeByName(chip().Name()));
        link.Port = port.get();
        link.Panel = &panel;
        link.WaitUnits = waitUnits;
        ClearBuffer(*buffer);
        chip().RecordTrace(true);
    }
    sim::Chip& chip() { return port->Chip(); }
    ChipSession Session() { return {link, *buffer, *device}; }
    bool ThreeByte() const { return device->Set == InstructionSet::ThreeByte; }
    int32_t Last() const { return device->LastAddress; }

    OpResult Erase()
    {
        ChipSession s = Session();
        return ThreeByte() ? EraseChip3(s) : EraseChip4(s);
    }
    OpResult Program()
    {
        ChipSession s = Session();
        return ThreeByte() ? ProgramCode3(s, Last()) : ProgramCode4(s, Last());
    }
    CheckResult Verify()
    {
        ChipSession s = Session();
        return ThreeByte() ? VerifyCode3(s, Last()) : VerifyCode4(s, Last());
    }
    CheckResult Blank()
    {
        ChipSession s = Session();
        return ThreeByte() ? BlankCheck3(s, Last()) : BlankCheck4(s, Last());
    }
    OpResult Read()
    {
        ChipSession s = Session();
        return ThreeByte() ? ReadCode3(s, Last()) : ReadCode4(s, Last());
    }
    OpResult Lock(int32_t level)
    {
        ChipSession s = Session();
        switch (device->LockWrite) {
        case LockWriteKind::ThreeByte: return WriteLockBits3(s, level);
        case LockWriteKind::Stepwise: return WriteLockBitsStepwise(s, level);
        case LockWriteKind::FourByte: return WriteLockBits4(s, level);
        }
        return OpResult::Failed;
    }
    // An empty buffer with `image` in it: byte a at address a.
    void Load(const std::vector<uint8_t>& image)
    {
        ClearBuffer(*buffer);
        LoadImage(*buffer, image);
    }
    void Put(int32_t address, uint8_t byte) { PutByte(*buffer, address, byte); }
    int32_t BufferByte(int32_t a) const { return ByteAt(*buffer, a); }

    const std::vector<std::string>& Trace() { return chip().TraceLines(); }
    // How often the trace holds `line` whole.
    size_t TraceCount(const std::string& line) { return size_t(std::count(Trace().begin(), Trace().end(), line)); }
    // The lines of the trace from `from` on that begin with `prefix`.
    std::vector<std::string> Lines(const std::string& prefix, size_t from = 0)
    {
        std::vector<std::string> lines;
        for (size_t i = from; i < Trace().size(); ++i)
            if (Trace()[i].rfind(prefix, 0) == 0)
                lines.push_back(Trace()[i]);
        return lines;
    }

    std::unique_ptr<SimPort> port;
    const Device* device = nullptr;
    RecordingPanel panel;
    LinkState link;
    std::unique_ptr<CodeBuffer> buffer = std::make_unique<CodeBuffer>();
};

} // namespace qvx::test
