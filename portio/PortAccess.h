// The port-access library: the only path from the program to the programmer
// hardware. Four bit-level functions on I/O port registers given by address.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace qvx {

// The serial clock floor a backend that takes whole instructions keeps: the
// shortest SCK high and low phase the target accepts, in nanoseconds.
struct SerialClock {
    int64_t minHighNs = 0;
    int64_t minLowNs = 0;
    // SCK is low until then at least (the port's clock): the first rising
    // edge of the exchange comes no earlier.
    std::chrono::nanoseconds lowUntil{0};
};

// A pause inside an exchange: before the byte at index `before` is clocked,
// SCK stays low for at least `ns` after the byte before it ended (a write
// cycle running out, say, before the instruction that polls it).
struct ExchangePause {
    size_t before = 0;
    int64_t ns = 0;
};

// What a chip asks of a cable whose firmware clocks the instructions: the
// command layer asks the port before a command touches the chip.
struct TargetNeeds {
    std::string chip;              // "AT89S52"
    size_t instructionBytes = 4;   // 3 or 4
    int spiMode = 0;               // 0: MOSI and MISO taken at the rising SCK edge; 1: at the falling one
    int64_t minHighNs = 0, minLowNs = 0; // the shortest SCK phases at the board's crystal
    uint32_t crystalHz = 0;
};

// How a backend took an exchange of whole instructions.
struct ExchangeResult {
    // False: the backend clocks bit by bit, and the link does it through
    // SetPortBit, ClrPortBit and GetPortBit.
    bool taken = false;
    // The program-mode sense read 0 in a sample of the exchange: the target
    // refused it.
    bool senseLow = false;
};

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
    // A failure of the port itself while it was in use (a system call that
    // failed, the cable lost): what, which device, and the system's reason.
    // Empty while the port works. A port that has failed refuses every
    // transfer from then on.
    virtual std::string Failure() const { return {}; }

    // --- Whole instructions -------------------------------------------------
    // Exchanges serial programming instructions, one or several back to back
    // (3 or 4 bytes each): `out` goes to the target most significant bit
    // first, MOSI set before each rising SCK edge and MISO sampled at the end
    // of each high phase, SCK low between bits and after the last one; the
    // bytes the target answered meanwhile come back in `in` (as long as
    // `out`), with SCK held low where `pauses` (in the order of their bytes)
    // say. The program-mode sense is read from the same samples. The data
    // and status registers are those of the selected port.
    // The default takes nothing: the link then clocks each bit through the
    // four functions above, with a sense read before each byte, exactly as a
    // parallel port needs it. A backend that answers only in round trips (a
    // USB cable) takes the whole exchange at once.
    virtual ExchangeResult ExchangeInstructions(uint16_t dataPort, const SerialClock& clock,
                                                std::span<const uint8_t> out, std::span<uint8_t> in,
                                                std::span<const ExchangePause> pauses)
    {
        (void)dataPort, (void)clock, (void)out, (void)in, (void)pauses;
        return {};
    }
    // How many instructions of `length` bytes, each followed by a pause of
    // `pauseNs`, whose answers the program needs this backend would take in
    // one exchange; 1 for a port where each sample is a register read anyway.
    virtual int InstructionsPerExchange(const SerialClock& clock, size_t length, int64_t pauseNs = 0) const
    {
        (void)clock, (void)length, (void)pauseNs;
        return 1;
    }

    // Empty when this cable can program such a chip (and is now set up for
    // it); otherwise why not and which cables can, for a message. Cables
    // clocked by the program itself take every chip.
    virtual std::string TargetRefusal(const TargetNeeds& needs)
    {
        (void)needs;
        return {};
    }
    // The longest instruction an exchange may hold, in bytes: a cable whose
    // firmware sends fixed four-byte instructions takes no page instructions.
    virtual size_t LongestInstruction() const { return SIZE_MAX; }

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

// Where a cable that is no parallel port takes the programmer's lines: the
// bits of the parallel-port cable's data and status registers.
namespace cableline {
inline constexpr uint8_t Rst = 4, Mosi = 5, Sck = 6; // data register, outputs
inline constexpr uint8_t Sense = 4, Miso = 6;        // status register, inputs
} // namespace cableline

// Whether an address is the data or the status register of LPT1 or LPT2:
// a cable that is no parallel port answers on either.
inline bool IsLptData(uint16_t port) { return port == kLpt1Data || port == kLpt2Data; }
inline bool IsLptStatus(uint16_t port) { return port == kLpt1Data + 1 || port == kLpt2Data + 1; }

// The steady clock in nanoseconds, and a wait on it: slept through while
// more than a scheduler tick is left, busy-waited for the rest.
std::chrono::nanoseconds SteadyNow();
void WaitOnSteadyClock(std::chrono::nanoseconds deadline);

// Opens the backend named by a QVX_PORT value: empty or "ppdev" for the real
// parallel port, "ftdi[:...]" for an FT232R cable, "gpio:..." for GPIO
// lines, "arduino:PATH[,baud=N]" for an Arduino as ISP, "usbasp[:...]" for
// a USBasp, "sim:DEVICE[,option...]" for the simulated cable and chip.
// Returns null and fills `error` for a value it does not accept. The error
// names the setting as "QVX_PORT=VALUE: ..."; `named` names it otherwise
// (an option, the settings file), and an empty `named` leaves the name to
// the caller.
std::unique_ptr<PortAccess> OpenPortAccess(std::string_view selection, std::string& error,
                                           std::optional<std::string_view> named = std::nullopt);

} // namespace qvx
