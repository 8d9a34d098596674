// A port backend for tests: logs every call in order, keeps the registers
// that were written, and answers status reads from a script. Its clock is
// virtual: it stands still except for the waits, so timing shows in the log
// without any real time passing.
#pragma once

#include "PortAccess.h"

#include <deque>
#include <functional>
#include <map>
#include <vector>

namespace qvx {

class RecordingPort : public PortAccess {
public:
    enum class Op { Set, Clr, Get, Driver };
    struct Call {
        Op op;
        uint16_t port;
        uint8_t bit;
        bool result; // the value returned by Get/Driver; false otherwise
        std::chrono::nanoseconds at{}; // the virtual clock when the call was made
        // Calls compare by what they did, not by when.
        bool operator==(const Call& other) const
        {
            return op == other.op && port == other.port && bit == other.bit && result == other.result;
        }
    };

    void SetPortBit(uint16_t port, uint8_t bit) override;
    void ClrPortBit(uint16_t port, uint8_t bit) override;
    bool GetPortBit(uint16_t port, uint8_t bit) override;
    bool IsDriverInstalled() override;
    std::chrono::nanoseconds Now() override { return clock; }
    void WaitUntil(std::chrono::nanoseconds deadline) override;

    // Register value as last written (0 for a register never written).
    uint8_t Register(uint16_t port) const;

    std::vector<Call> calls;
    std::chrono::nanoseconds clock{0};
    // Every wait that moved the clock, in nanoseconds.
    std::vector<int64_t> waits;

    // Status reads: when `script` is set it answers every GetPortBit.
    // Otherwise bit 4 (program-mode sense) reads `sense`, bit 6 (MISO) pops
    // `miso` or reads `misoIdle` when the queue is empty, and any other bit
    // reads the register as written.
    std::function<bool(uint16_t port, uint8_t bit)> script;
    bool sense = true;
    std::deque<bool> miso;
    bool misoIdle = false;
    bool driverInstalled = true;

private:
    std::map<uint16_t, uint8_t> registers_;
};

} // namespace qvx
