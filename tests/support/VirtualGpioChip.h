// A virtual GPIO chip whose lines are wired to the simulated cable and chip
// (SimPort), behind the same seam as libgpiod, for tests and benchmarks: a
// line set is one register write on the simulated cable and a line read one
// register read, each costing what a port access costs there (the `iodelay`
// on the steady clock, or virtual time), so a run over GPIO lines at 1 us an
// access takes what it takes over the parallel port.
#pragma once

#include "GpioPort.h"
#include "SimPort.h"

#include <set>

namespace qvx {

struct VirtualGpioOptions {
    std::string name = "gpiochip0";
    std::string label = "pinctrl-bcm2835"; // the chip of a Raspberry Pi's header
    unsigned lines = 54;           // line numbers 0 to lines - 1
    bool denied = false;           // the chip's device file is not ours
    std::set<unsigned> busy;       // lines another driver holds
    int64_t failAfterAccesses = -1; // every access after this many fails (the chip is gone)
};

class VirtualGpioChip : public GpioSystem {
public:
    // `wiring`: which line the cable's RST, MOSI, SCK, MISO and sense are on.
    VirtualGpioChip(SimPort& cable, GpioSettings wiring, VirtualGpioOptions options = {});

    int OpenChip(const std::string& chip, std::string& name) override;
    int RequestOutput(unsigned line, bool value) override;
    int RequestInput(unsigned line) override;
    int Set(unsigned line, bool value) override;
    int Get(unsigned line, bool& value) override;
    void Release() override;
    std::chrono::nanoseconds Now() override { return cable_.Now(); }
    void SleepUntil(std::chrono::nanoseconds deadline) override { cable_.WaitUntil(deadline); }

    bool Requested(unsigned line) const { return outputs_.count(line) || inputs_.count(line); }
    bool IsOpen() const { return open_; }

private:
    bool Failing();
    // The data or status bit of the simulated cable a line is wired to.
    int DataBit(unsigned line) const;
    int StatusBit(unsigned line) const;

    SimPort& cable_;
    GpioSettings wiring_;
    VirtualGpioOptions options_;
    bool open_ = false;
    std::set<unsigned> outputs_, inputs_;
    uint64_t accesses_ = 0;
};

// The chip handed to a port that does not own it, so that a test can look
// at its lines once the port is gone.
std::unique_ptr<GpioSystem> Lend(VirtualGpioChip& chip);

} // namespace qvx
