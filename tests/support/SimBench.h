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
    // The three-byte or the four-byte form of an operation, as the device
    // takes it, on a fresh session.
    template <class Operation, class... Args>
    auto Either(Operation threeByte, Operation fourByte, Args... args)
    {
        ChipSession s = Session();
        return ThreeByte() ? threeByte(s, args...) : fourByte(s, args...);
    }
    OpResult Erase() { return Either(EraseChip3, EraseChip4); }
    OpResult Program() { return Either(ProgramCode3, ProgramCode4, Last()); }
    CheckResult Verify() { return Either(VerifyCode3, VerifyCode4, Last()); }
    CheckResult Blank() { return Either(BlankCheck3, BlankCheck4, Last()); }
    OpResult Read() { return Either(ReadCode3, ReadCode4, Last()); }
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
