// The cable on Linux GPIO lines (a Raspberry Pi's header, say), through
// libgpiod 1.6: RST, MOSI and SCK are output lines, MISO and the optional
// program-mode sense input lines of one /dev/gpiochipN, requested by number.
//
// To the program the lines look like the parallel-port cable on either LPT
// address: data bit 4 RST, bit 5 MOSI, bit 6 SCK; status bit 6 MISO, status
// bit 4 the sense (RST's own level when there is no sense line). Each bit
// set or cleared on one of those is one line set, each MISO or sense read
// one line read; the run-mode lines (data bits 3 and 7) have no GPIO line.
// At exit RST is set low (the target runs) and every line is released.
#pragma once

#include "PortAccess.h"

#include <vector>

namespace qvx {

struct GpioSettings {
    std::string chip; // "gpiochip0", "0", "/dev/gpiochip0" or a label ("pinctrl-bcm2835")
    int rst = -1, mosi = -1, sck = -1, miso = -1;
    int sense = -1; // none
};

// What libgpiod does for the backend, behind a seam so tests can put a
// virtual GPIO chip there. Calls return 0 or an errno value.
class GpioSystem {
public:
    virtual ~GpioSystem() = default;
    virtual int OpenChip(const std::string& chip, std::string& name) = 0;
    virtual int RequestOutput(unsigned line, bool value) = 0;
    virtual int RequestInput(unsigned line) = 0;
    virtual int Set(unsigned line, bool value) = 0;
    virtual int Get(unsigned line, bool& value) = 0;
    // Releases every line and closes the chip.
    virtual void Release() = 0;
    // The clock the lines are timed on, and a wait on it.
    virtual std::chrono::nanoseconds Now() { return SteadyNow(); }
    virtual void SleepUntil(std::chrono::nanoseconds deadline) { WaitOnSteadyClock(deadline); }
};

std::unique_ptr<GpioSystem> MakeLibGpiodSystem();

// The highest line number the gpio option takes.
inline constexpr unsigned kGpioMaxLine = 1023;

// How the gpio option names the chip: /dev/gpiochipN, N, gpiochipN, or its
// label (letters, digits, "_", "-", "." and ":"); anything else is no chip,
// so no other device file is ever opened as one.
enum class GpioChipName { Invalid, Path, Number, Name, Label };
GpioChipName ClassifyGpioChip(std::string_view chip);

// Reads the text after "gpio:". False with `error` for a form it does not
// accept.
bool ParseGpioOptions(std::string_view options, GpioSettings& settings, std::string& error);

class GpioPort : public PortAccess {
public:
    GpioPort(GpioSettings settings, std::unique_ptr<GpioSystem> system);
    ~GpioPort() override;

    void SetPortBit(uint16_t port, uint8_t bit) override;
    void ClrPortBit(uint16_t port, uint8_t bit) override;
    bool GetPortBit(uint16_t port, uint8_t bit) override;
    bool IsDriverInstalled() override;
    std::string DriverDiagnosis() override;
    std::string Failure() const override { return failure_; }
    void SignalSafeWrite(uint16_t port, uint8_t set, uint8_t clear) noexcept override;

    std::chrono::nanoseconds Now() override { return sys_->Now(); }
    void WaitUntil(std::chrono::nanoseconds deadline) override { sys_->SleepUntil(deadline); }

private:
    bool Ready();
    void WriteDataBit(uint16_t port, uint8_t bit, bool value);
    void Broken(const std::string& what, int err);
    int LineOf(uint8_t dataBit) const;

    GpioSettings settings_;
    std::unique_ptr<GpioSystem> sys_;
    enum class State { Closed, Open, Unusable } state_ = State::Closed;
    int openError_ = 0;
    std::string name_, error_, failure_;
    uint8_t data_ = 0; // the data register as the program wrote it
};

} // namespace qvx
