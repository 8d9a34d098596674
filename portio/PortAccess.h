// The port-access library: the only path from the program to the programmer
// hardware. Four bit-level functions on I/O port registers given by address.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace qvx {

class PortAccess {
public:
    virtual ~PortAccess() = default;

    // That bit of the register becomes 1; the other seven keep their values.
    virtual void SetPortBit(uint16_t port, uint8_t bit) = 0;
    // That bit becomes 0; the others keep their values.
    virtual void ClrPortBit(uint16_t port, uint8_t bit) = 0;
    // True when that bit reads 1.
    virtual bool GetPortBit(uint16_t port, uint8_t bit) = 0;
    // True when port access works.
    virtual bool IsDriverInstalled() = 0;
    // When it does not: why, and what the user can do about it, one line
    // each. Empty when there is nothing to add.
    virtual std::string DriverDiagnosis() { return {}; }

    // For a signal handler while the program dies: in the data register
    // `port`, sets the bits of `set` and clears those of `clear` in one write,
    // with async-signal-safe calls only (no allocation, no lock, no stream),
    // from what the backend has prepared while the port was in use (its
    // descriptor and its copy of the register). A backend that cannot do
    // that does nothing, as this default.
    virtual void SignalSafeWrite(uint16_t /*port*/, uint8_t /*set*/, uint8_t /*clear*/) noexcept {}

    // --- Time on the wire ---------------------------------------------------
    // The clock the target lives by, monotonic, in nanoseconds from an
    // arbitrary start: the steady clock for real hardware; a simulated cable
    // with virtual time answers with its chip's own clock. Serial clock
    // floors and the deadlines of write cycles are measured on it.
    virtual std::chrono::nanoseconds Now();
    // Returns once Now() has reached `deadline` (at once when it has). The
    // steady clock is busy-waited for the last stretch and slept through
    // for longer waits; a virtual clock is simply moved on.
    virtual void WaitUntil(std::chrono::nanoseconds deadline);
};

// Parallel-port register addresses.
inline constexpr uint16_t kLpt1Data = 0x378;
inline constexpr uint16_t kLpt2Data = 0x278;

// Opens the backend named by a QVX_PORT value: empty or "ppdev" for the real
// parallel port, "sim:DEVICE[,option...]" for the simulated cable and chip.
// Returns null and fills `error` for a value it does not accept.
std::unique_ptr<PortAccess> OpenPortAccess(std::string_view selection, std::string& error);

// Reads QVX_PORT once and opens that backend.
std::unique_ptr<PortAccess> OpenPortAccessFromEnvironment(std::string& error);

} // namespace qvx
