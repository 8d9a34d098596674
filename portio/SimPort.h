// The simulated cable with a simulated AT89S chip on it, behind the same
// four functions as the real parallel port.
//
// Both parallel ports exist: LPT1 (data 0x378, status 0x379, control 0x37A)
// and LPT2 (0x278 ...). The cable sits on one of them; the other has nothing
// attached. The data and control registers keep the value last written;
// writing the status register changes nothing. On the cable's port:
//   data bit 4 -> RST, bit 5 -> MOSI, bit 6 -> SCK, bits 3 and 7 run-mode lines;
//   status bit 6 <- MISO, status bit 4 <- program-mode sense (1 only while the
//   cable is attached, the target powered and RST high).
// Status inputs with nothing driving them read 1; an address where no port
// is decoded reads all ones, as the ISA bus does.
//
// Port accesses cost what they cost through the ppdev backend, which keeps a
// shadow of each data register: a bit set or cleared on a data or control
// register is one register write, a status bit read is one register read;
// a data or control bit read is answered from the shadow, and a write to the
// status register, which the hardware cannot store, is never sent. Only the
// accesses that reach a register take time (`iodelay`, or the virtual
// time per access).
#pragma once

#include "PortAccess.h"
#include "Chip.h"
#include "StateFile.h"

#include <fstream>
#include <memory>
#include <string>
#include <string_view>

namespace qvx {

struct SimCableOptions {
    bool lpt2 = false;          // the cable on LPT2 instead of LPT1
    bool cableAttached = true;  // fault=nocable: sense 0, nothing reaches the chip
    bool chipPresent = true;    // fault=nochip: sense follows RST, MISO floats high
    bool misoLow = false;       // fault=misolow: MISO shorted to ground, reads 0 whatever drives it
    int64_t ioDelayNs = -1;     // cost of each port access; -1 none (virtual timing: 1000)
    std::string statePath;      // code image kept between runs; empty for none
    std::string tracePath;      // wire trace file; empty for none
    std::string linesPath;      // where RST and the run-mode lines are shown; empty for none
};

class SimPort : public PortAccess {
public:
    SimPort(const sim::Device& device, SimCableOptions cable, sim::ChipOptions chip);
    // Saves the chip to its state files when the options named them.
    ~SimPort() override;

    void SetPortBit(uint16_t port, uint8_t bit) override;
    void ClrPortBit(uint16_t port, uint8_t bit) override;
    bool GetPortBit(uint16_t port, uint8_t bit) override;
    bool IsDriverInstalled() override { return true; }
    // The register changes and the lines file is written; the chip is not
    // told (the program is dying).
    void SignalSafeWrite(uint16_t port, uint8_t set, uint8_t clear) noexcept override;

    // The chip's own clock with virtual or instant timing, which a wait
    // simply moves on; the steady clock with realistic timing.
    std::chrono::nanoseconds Now() override;
    void WaitUntil(std::chrono::nanoseconds deadline) override;

    sim::Chip& Chip() { return chip_; }
    const sim::Chip& Chip() const { return chip_; }
    const SimCableOptions& Cable() const { return cable_; }

    // Data register of the port the cable is on (0x378 or 0x278).
    uint16_t CableDataPort() const { return cable_.lpt2 ? kLpt2Data : kLpt1Data; }
    // A register as the program would read it now.
    uint8_t Register(uint16_t port) const;
    // Number of SetPortBit, ClrPortBit and GetPortBit calls so far.
    uint64_t Accesses() const { return accesses_; }
    // Of those, the ones that reach a register on real hardware (see above):
    // the ones that cost time.
    uint64_t ChargedAccesses() const { return charged_; }

    // Loads the chip from the state files (when named); see sim/StateFile.h.
    bool LoadState(std::string& error);
    // Writes the chip to the state files now (the destructor does it too),
    // once LoadState has succeeded.
    bool SaveState(std::string& error);
    // Starts writing the wire trace to `path` (replacing the file).
    bool OpenTrace(const std::string& path, std::string& error);
    // Starts showing the cable's RST and run-mode lines in the file `path`,
    // as a meter on the cable would: one line "RST=1 D3=0 D7=0", rewritten
    // in place whenever one of them changes.
    bool OpenLines(const std::string& path, std::string& error);

private:
    // Counts a call; `reachesRegister` ones also take the time of an access.
    void Access(bool reachesRegister);
    void WriteRegister(uint16_t port, uint8_t value);
    void DrivePins();
    // The lines file for the cable's data register as it is now.
    void ShowLines() noexcept;
    uint8_t Status(int lpt) const;

    SimCableOptions cable_;
    sim::Chip chip_;
    uint8_t data_[2] = {0, 0};
    uint8_t control_[2] = {0, 0};
    uint64_t accesses_ = 0;
    uint64_t charged_ = 0;
    int64_t tickNs_ = 0; // virtual time per access
    bool stateLoaded_ = false;
    std::unique_ptr<sim::StateLock> stateLock_; // held from loading the state files to the last save
    std::ofstream trace_;
    int linesFd_ = -1;
};

// What the text after "sim:" asks for.
struct SimSettings {
    const sim::Device* device = nullptr;
    SimCableOptions cable;
    sim::ChipOptions chip;
};

// Reads the text after "sim:" without opening or creating anything. Returns
// false and fills `error` (naming the accepted forms) for a device or option
// it does not accept.
bool ParseSimOptions(std::string_view options, SimSettings& settings, std::string& error);

// Builds the cable and chip from the text after "sim:", e.g.
// "AT89S52,timing=instant,trace=/tmp/t.txt". Returns null and fills `error`
// (naming the accepted forms) for a device or option it does not accept, or
// when a state or trace file cannot be used.
std::unique_ptr<SimPort> MakeSimPort(std::string_view options, std::string& error);

// The same object as MakeSimPort, as the port selection wants it.
std::unique_ptr<PortAccess> OpenSimPort(std::string_view options, std::string& error);

} // namespace qvx
